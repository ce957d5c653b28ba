/*
 * mirror_avx2.cpp - the reversal routines of MirrorLines with AVX2, built
 * only where the compiler may use it and run only where the processor has
 * it (see platform/vector_support.h). Each stretch is turned around as the
 * plain code does it, from both ends: a block at the front and a block at
 * the back are loaded, each is reversed unit by unit in registers, and they
 * are stored crosswise. Blocks are whole units (32 or 64 bytes for 1- and
 * 2-byte units, 96 bytes = 32 or 16 colour pixels for 3- and 6-byte ones,
 * 16 and 48 bytes for what is left), loaded and stored unaligned, so any
 * start and stride will do. No load reaches outside its block.
 *
 * Once less than two blocks are left, one more pair of blocks, loaded
 * before either is stored, finishes any middle of one to two blocks: the
 * front block takes the reversed back block, the back block the reversed
 * front block, and where the two overlap both stores write the same bytes.
 * Smaller blocks finish smaller middles the same way; what is left below the
 * smallest block goes to the plain routine.
 */
#include "mirror_routines.h"

#include <immintrin.h>

#include <array>
#include <cstddef>

namespace {

/* --- 1- and 2-byte units ------------------------------------------------ */

/* In-lane pshufb controls: reverse the 16 bytes of a lane in units of
 * Unit bytes, keeping the byte order inside each unit. */
template <uint32_t Unit> constexpr std::array<uint8_t, 32> LaneReversal()
{
    std::array<uint8_t, 32> control = {};
    for (uint32_t j = 0; j < 32; ++j) {
        const uint32_t inLane = j % 16;
        control[j] = static_cast<uint8_t>(16 - Unit - inLane / Unit * Unit + inLane % Unit);
    }
    return control;
}

template <uint32_t Unit> struct LaneControl {
    alignas(32) static constexpr std::array<uint8_t, 32> Bytes = LaneReversal<Unit>();
};

/* Low nibble n -> its four bits reversed, moved up to the high nibble; high
 * nibble n -> its four bits reversed, in the low nibble. Looked up by
 * pshufb, the two give a byte with its eight bits reversed. */
alignas(32) constexpr uint8_t kLowNibbleUp[32] = {
    0x00, 0x80, 0x40, 0xC0, 0x20, 0xA0, 0x60, 0xE0, 0x10, 0x90, 0x50, 0xD0, 0x30, 0xB0, 0x70, 0xF0,
    0x00, 0x80, 0x40, 0xC0, 0x20, 0xA0, 0x60, 0xE0, 0x10, 0x90, 0x50, 0xD0, 0x30, 0xB0, 0x70, 0xF0};
alignas(32) constexpr uint8_t kHighNibbleDown[32] = {
    0x00, 0x08, 0x04, 0x0C, 0x02, 0x0A, 0x06, 0x0E, 0x01, 0x09, 0x05, 0x0D, 0x03, 0x0B, 0x07, 0x0F,
    0x00, 0x08, 0x04, 0x0C, 0x02, 0x0A, 0x06, 0x0E, 0x01, 0x09, 0x05, 0x0D, 0x03, 0x0B, 0x07, 0x0F};

inline __m256i ReverseBitsOfBytes(__m256i v)
{
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i low = _mm256_and_si256(v, nibble);
    const __m256i high = _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble);
    return _mm256_or_si256(
        _mm256_shuffle_epi8(_mm256_load_si256(reinterpret_cast<const __m256i *>(kLowNibbleUp)), low),
        _mm256_shuffle_epi8(_mm256_load_si256(reinterpret_cast<const __m256i *>(kHighNibbleDown)), high));
}

inline __m128i ReverseBitsOfBytes(__m128i v)
{
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const __m128i low = _mm_and_si128(v, nibble);
    const __m128i high = _mm_and_si128(_mm_srli_epi16(v, 4), nibble);
    return _mm_or_si128(_mm_shuffle_epi8(_mm_load_si128(reinterpret_cast<const __m128i *>(kLowNibbleUp)), low),
                        _mm_shuffle_epi8(_mm_load_si128(reinterpret_cast<const __m128i *>(kHighNibbleDown)), high));
}

/* 32 bytes reversed in units of Unit bytes: within each lane, then the two
 * lanes trade places. */
template <uint32_t Unit, bool PackedBits> inline __m256i Reverse32(__m256i v)
{
    const __m256i control = _mm256_load_si256(reinterpret_cast<const __m256i *>(LaneControl<Unit>::Bytes.data()));
    v = _mm256_shuffle_epi8(v, control);
    v = _mm256_permute2x128_si256(v, v, 0x01);
    return PackedBits ? ReverseBitsOfBytes(v) : v;
}

/* A block of Vectors * 32 bytes, held reversed. */
template <uint32_t Unit, bool PackedBits, uint32_t Vectors> struct WideBlock {
    static constexpr ptrdiff_t Bytes = 32 * Vectors;
    __m256i V[Vectors];

    static WideBlock Load(const uint8_t *p)
    {
        WideBlock b;
        for (uint32_t k = 0; k < Vectors; ++k)
            b.V[Vectors - 1 - k] =
                Reverse32<Unit, PackedBits>(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + 32 * k)));
        return b;
    }
    void Store(uint8_t *p) const
    {
        for (uint32_t k = 0; k < Vectors; ++k)
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(p + 32 * k), V[k]);
    }
};

/* A block of 16 bytes, held reversed. */
template <uint32_t Unit, bool PackedBits> struct NarrowBlock {
    static constexpr ptrdiff_t Bytes = 16;
    __m128i V;

    static NarrowBlock Load(const uint8_t *p)
    {
        const __m128i control = _mm_load_si128(reinterpret_cast<const __m128i *>(LaneControl<Unit>::Bytes.data()));
        const __m128i v = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)), control);
        return {PackedBits ? ReverseBitsOfBytes(v) : v};
    }
    void Store(uint8_t *p) const
    {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(p), V);
    }
};

/* --- 3- and 6-byte units ------------------------------------------------ */

/* A colour pixel is three samples of E bytes (E = Unit / 3). Reversing a
 * block of whole pixels sample by sample puts every pixel's samples in
 * reverse order too, so first the first and last sample of every pixel trade
 * places, then the block is reversed in samples. The trade takes, at each
 * byte, the byte 2E further on (first sample), the byte itself (middle
 * sample) or the byte 2E back (last sample): three loads, two blends. */
template <uint32_t Unit> constexpr std::array<uint8_t, 96> SampleRoles(uint32_t role)
{
    std::array<uint8_t, 96> mask = {};
    for (uint32_t j = 0; j < 96; ++j)
        mask[j] = j % Unit / (Unit / 3) == role ? 0xFF : 0x00;
    return mask;
}

template <uint32_t Unit> struct SampleMasks {
    alignas(32) static constexpr std::array<uint8_t, 96> First = SampleRoles<Unit>(0);
    alignas(32) static constexpr std::array<uint8_t, 96> Last = SampleRoles<Unit>(2);
};

/* 96 bytes of whole 3- or 6-byte units (32 or 16 pixels), held reversed. The
 * bytes 2E before the block and 2E after it are not read: those of the first
 * and last vector come from the vector itself, moved across its lanes. */
template <uint32_t Unit> struct PixelBlock {
    static constexpr ptrdiff_t Bytes = 96;
    static constexpr uint32_t Sample = Unit / 3, Shift = 2 * Sample;
    __m256i V[3];

    static __m256i Load32(const uint8_t *p)
    {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
    }
    static __m256i Mask(const std::array<uint8_t, 96> &mask, uint32_t k)
    {
        return _mm256_load_si256(reinterpret_cast<const __m256i *>(mask.data() + 32 * k));
    }
    static __m256i Trade(__m256i here, __m256i ahead, __m256i behind, uint32_t k)
    {
        const __m256i first = _mm256_blendv_epi8(here, ahead, Mask(SampleMasks<Unit>::First, k));
        return _mm256_blendv_epi8(first, behind, Mask(SampleMasks<Unit>::Last, k));
    }

    static PixelBlock Load(const uint8_t *p)
    {
        const __m256i v0 = Load32(p), v1 = Load32(p + 32), v2 = Load32(p + 64);
        /* v0 moved up by Shift bytes, v2 down by Shift bytes, zeros shifted in. */
        const __m256i behind0 = _mm256_alignr_epi8(v0, _mm256_permute2x128_si256(v0, v0, 0x08), 16 - Shift);
        const __m256i ahead2 = _mm256_alignr_epi8(_mm256_permute2x128_si256(v2, v2, 0x81), v2, Shift);
        PixelBlock b;
        b.V[2] = Reverse32<Sample, false>(Trade(v0, Load32(p + Shift), behind0, 0));
        b.V[1] = Reverse32<Sample, false>(Trade(v1, Load32(p + 32 + Shift), Load32(p + 32 - Shift), 1));
        b.V[0] = Reverse32<Sample, false>(Trade(v2, ahead2, Load32(p + 64 - Shift), 2));
        return b;
    }
    void Store(uint8_t *p) const
    {
        for (uint32_t k = 0; k < 3; ++k)
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(p + 32 * k), V[k]);
    }
};

/* A block of Bytes bytes (whole units) reversed unit by unit: output byte j
 * is input byte Source(j). Each 16-byte piece of the output draws on at most
 * 32 input bytes, so on two 16-byte loads, at FirstAt[k] and SecondAt[k]:
 * byte j of piece k comes from the first by control First[j], else from the
 * second by control Second[j] (a control with the top bit set gives 0). */
template <uint32_t Unit, uint32_t Bytes> struct PieceShuffle {
    static constexpr uint32_t Pieces = Bytes / 16;
    std::array<uint32_t, Pieces> FirstAt = {};
    std::array<uint32_t, Pieces> SecondAt = {};
    alignas(32) std::array<uint8_t, Bytes> First = {};
    alignas(32) std::array<uint8_t, Bytes> Second = {};
};

template <uint32_t Unit, uint32_t Bytes> constexpr PieceShuffle<Unit, Bytes> MakePieceShuffle()
{
    static_assert(Bytes % Unit == 0 && Bytes % 16 == 0, "blocks hold whole units and whole pieces");
    constexpr uint32_t Units = Bytes / Unit;
    auto source = [](uint32_t j) { return (Units - 1 - j / Unit) * Unit + j % Unit; };
    PieceShuffle<Unit, Bytes> s;
    for (uint32_t k = 0; k < s.Pieces; ++k) {
        uint32_t from = Bytes, to = 0;
        for (uint32_t j = 16 * k; j < 16 * k + 16; ++j) {
            from = source(j) < from ? source(j) : from;
            to = source(j) > to ? source(j) : to;
        }
        if (to - from >= 32)
            throw "a piece draws on more than two loads";
        s.FirstAt[k] = from;
        s.SecondAt[k] = to - 15;
        for (uint32_t j = 16 * k; j < 16 * k + 16; ++j) {
            const uint32_t i = source(j);
            const bool first = i - from < 16;
            s.First[j] = static_cast<uint8_t>(first ? i - from : 0x80);
            s.Second[j] = static_cast<uint8_t>(first ? 0x80 : i - s.SecondAt[k]);
        }
    }
    return s;
}

template <uint32_t Unit, uint32_t Bytes> struct PieceControl {
    static constexpr PieceShuffle<Unit, Bytes> Shuffle = MakePieceShuffle<Unit, Bytes>();
};

/* 48 bytes of whole 3- or 6-byte units, held reversed, in 16-byte pieces. */
template <uint32_t Unit> struct SmallPixelBlock {
    static constexpr ptrdiff_t Bytes = 48;
    __m128i V[3];

    static SmallPixelBlock Load(const uint8_t *p)
    {
        constexpr const PieceShuffle<Unit, 48> &s = PieceControl<Unit, 48>::Shuffle;
        SmallPixelBlock b;
        for (uint32_t k = 0; k < 3; ++k) {
            const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + s.FirstAt[k]));
            const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + s.SecondAt[k]));
            b.V[k] = _mm_or_si128(
                _mm_shuffle_epi8(first, _mm_load_si128(reinterpret_cast<const __m128i *>(&s.First[16 * k]))),
                _mm_shuffle_epi8(second, _mm_load_si128(reinterpret_cast<const __m128i *>(&s.Second[16 * k]))));
        }
        return b;
    }
    void Store(uint8_t *p) const
    {
        for (uint32_t k = 0; k < 3; ++k)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(p + 16 * k), V[k]);
    }
};

/* --- Stretches ----------------------------------------------------------- */

/* Swaps reversed blocks from both ends while at least two blocks are left. */
template <class Block> inline void SwapBlocks(uint8_t *&lo, uint8_t *&hi)
{
    while (hi - lo >= 2 * Block::Bytes) {
        const Block front = Block::Load(lo);
        const Block back = Block::Load(hi - Block::Bytes);
        back.Store(lo);
        front.Store(hi - Block::Bytes);
        lo += Block::Bytes;
        hi -= Block::Bytes;
    }
}

/* Finishes a middle of one to two blocks with an overlapping pair; false
 * (nothing done) for a smaller middle. */
template <class Block> inline bool FinishOverlapped(uint8_t *lo, uint8_t *hi)
{
    if (hi - lo < Block::Bytes)
        return false;
    const Block front = Block::Load(lo);
    const Block back = Block::Load(hi - Block::Bytes);
    back.Store(lo);
    front.Store(hi - Block::Bytes);
    return true;
}

/* One stretch: the largest block from both ends, then the overlapping
 * finish by the first block (largest first) the middle holds, else the
 * plain routine for a middle below every block. */
template <uint32_t Unit, void (*Plain)(uint8_t *, uint8_t *), class Large, class... Finishers>
void ReverseStretchesAvx2(uint8_t *start, uint32_t stride, uint32_t stretches, uint32_t count)
{
    for (uint32_t j = 0; j < stretches; ++j) {
        uint8_t *lo = start + static_cast<size_t>(j) * stride;
        uint8_t *hi = lo + static_cast<size_t>(count) * Unit;
        SwapBlocks<Large>(lo, hi);
        if (!(FinishOverlapped<Large>(lo, hi) || ... || FinishOverlapped<Finishers>(lo, hi)))
            Plain(lo, hi);
    }
}

template <uint32_t Unit, bool PackedBits, void (*Plain)(uint8_t *, uint8_t *)>
constexpr ReverseRoutine SmallUnits = ReverseStretchesAvx2<Unit, Plain, WideBlock<Unit, PackedBits, 2>,
                                                           WideBlock<Unit, PackedBits, 1>, NarrowBlock<Unit, PackedBits>>;

template <uint32_t Unit, void (*Plain)(uint8_t *, uint8_t *)>
constexpr ReverseRoutine PixelUnits = ReverseStretchesAvx2<Unit, Plain, PixelBlock<Unit>, SmallPixelBlock<Unit>>;

} // namespace

const MirrorRoutineSet Avx2MirrorRoutines = {
    SmallUnits<1, true, ReversePackedBytesPlain>, SmallUnits<1, false, ReverseUnits1Plain>,
    SmallUnits<2, false, ReverseUnits2Plain>,     PixelUnits<3, ReverseUnits3Plain>,
    PixelUnits<6, ReverseUnits6Plain>,
};
