/*
 * mirror.cpp - MirrorLines: per line (or per colour segment) the order of
 * units is reversed by swapping from both ends until they meet. A unit is a
 * byte of packed pixels, a sample, or a whole colour pixel, so the order
 * inside a unit is kept; packed bytes then have their bits reversed too.
 * The routines here are the plain ones; where the processor has AVX2 each
 * call picks the vector ones (mirror_avx2.cpp), which give the same bytes.
 */
#include "mirror.h"
#include "mirror_routines.h"

#include "platform/vector_support.h"

#include <array>
#include <cstddef>
#include <cstring>

namespace {

constexpr std::array<uint8_t, 256> MakeBitReversal()
{
    std::array<uint8_t, 256> table = {};
    for (unsigned v = 0; v < 256; ++v) {
        unsigned reversed = 0;
        for (unsigned bit = 0; bit < 8; ++bit)
            if (v & (1u << bit))
                reversed |= 0x80u >> bit;
        table[v] = static_cast<uint8_t>(reversed);
    }
    return table;
}

/* Reverses the units from lo up to hi (one past the last unit) by swapping
 * from both ends until they meet. */
template <uint32_t Unit> inline void SwapUnits(uint8_t *lo, uint8_t *hi)
{
    if (hi - lo < static_cast<ptrdiff_t>(2 * Unit))
        return;
    for (hi -= Unit; lo < hi; lo += Unit, hi -= Unit) {
        uint8_t held[Unit];
        std::memcpy(held, lo, Unit);
        std::memcpy(lo, hi, Unit);
        std::memcpy(hi, held, Unit);
    }
}

/* Reverses the first count units of each of stretches stretches, stride
 * bytes apart from start on. */
template <uint32_t Unit>
void ReverseStretches(uint8_t *start, uint32_t stride, uint32_t stretches, uint32_t count)
{
    if (count < 2)
        return;
    for (uint32_t j = 0; j < stretches; ++j) {
        uint8_t *lo = start + static_cast<size_t>(j) * stride;
        SwapUnits<Unit>(lo, lo + static_cast<size_t>(count) * Unit);
    }
}

/* Eight bytes read as one 64-bit word (in memory order either way), turned
 * around: byte-swapped. With PackedBits the bits of every byte are reversed
 * too. */
template <bool PackedBits> inline uint64_t FlipWord(uint64_t x)
{
    x = __builtin_bswap64(x);
    if (PackedBits) {
        x = ((x >> 1) & 0x5555555555555555ull) | ((x & 0x5555555555555555ull) << 1);
        x = ((x >> 2) & 0x3333333333333333ull) | ((x & 0x3333333333333333ull) << 2);
        x = ((x >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((x & 0x0F0F0F0F0F0F0F0Full) << 4);
    }
    return x;
}

/* SwapUnits for single bytes, eight at a time from both ends: the word at
 * the front and the word at the back are each turned around and trade
 * places. What is left in the middle (under 16 bytes) is swapped byte by
 * byte. The result is that of swapping byte by byte throughout; with
 * PackedBits every byte of the stretch, the middle one of an odd count
 * included, also has its bits reversed. (Two-byte units are left to
 * SwapUnits, whose plain loop the compiler vectorizes.) */
template <bool PackedBits> inline void SwapWordwise(uint8_t *lo, uint8_t *hi)
{
    constexpr uint32_t Unit = 1;
    while (hi - lo >= 16) {
        uint64_t front, back;
        std::memcpy(&front, lo, 8);
        std::memcpy(&back, hi - 8, 8);
        front = FlipWord<PackedBits>(front);
        back = FlipWord<PackedBits>(back);
        std::memcpy(lo, &back, 8);
        std::memcpy(hi - 8, &front, 8);
        lo += 8;
        hi -= 8;
    }
    for (; hi - lo >= static_cast<ptrdiff_t>(2 * Unit); lo += Unit, hi -= Unit) {
        uint8_t held[Unit];
        std::memcpy(held, lo, Unit);
        std::memcpy(lo, hi - Unit, Unit);
        std::memcpy(hi - Unit, held, Unit);
        if (PackedBits) {
            *lo = BitReversal[*lo];
            hi[-1] = BitReversal[hi[-1]];
        }
    }
    if (PackedBits && hi - lo == 1)
        *lo = BitReversal[*lo];
}

/* ReverseStretches for single bytes, by SwapWordwise. */
template <bool PackedBits>
void ReverseWordwise(uint8_t *start, uint32_t stride, uint32_t stretches, uint32_t count)
{
    for (uint32_t j = 0; j < stretches; ++j) {
        uint8_t *lo = start + static_cast<size_t>(j) * stride;
        SwapWordwise<PackedBits>(lo, lo + count);
    }
}

uint32_t Smaller(uint32_t a, uint32_t b)
{
    return a < b ? a : b;
}

} // namespace

/* Built at compile time; constant-initialized, so ready before any call. */
const std::array<uint8_t, 256> BitReversal = MakeBitReversal();

const MirrorRoutineSet PlainMirrorRoutines = {
    ReverseWordwise<true>, ReverseWordwise<false>, ReverseStretches<2>, ReverseStretches<3>, ReverseStretches<6>,
};

void ReversePackedBytesPlain(uint8_t *lo, uint8_t *hi)
{
    SwapWordwise<true>(lo, hi);
}

void ReverseUnits1Plain(uint8_t *lo, uint8_t *hi)
{
    SwapWordwise<false>(lo, hi);
}

void ReverseUnits2Plain(uint8_t *lo, uint8_t *hi)
{
    SwapUnits<2>(lo, hi);
}

void ReverseUnits3Plain(uint8_t *lo, uint8_t *hi)
{
    SwapUnits<3>(lo, hi);
}

void ReverseUnits6Plain(uint8_t *lo, uint8_t *hi)
{
    SwapUnits<6>(lo, hi);
}

void MirrorLines(int32_t selector, int32_t sampleBits, uint32_t pixels, uint32_t lineBytes,
                 uint32_t lines, uint8_t *first)
{
    /* One choice for the whole chunk: the AVX2 routines where they may run. */
#if defined(SCANDRV_HAVE_AVX2)
    const MirrorRoutineSet &routines = VectorRoutinesUsable() ? Avx2MirrorRoutines : PlainMirrorRoutines;
#else
    const MirrorRoutineSet &routines = PlainMirrorRoutines;
#endif
    const uint32_t sampleBytes = sampleBits > 8 ? 2 : 1;
    switch (selector) {
    case kMirrorBinary: {
        /* The pixels inside each byte change order as well. Padding bits of a
         * last partial byte thus end up in front of the first pixel. */
        const uint32_t bytes = Smaller(pixels / 8 + (pixels % 8 != 0), lineBytes);
        routines.PackedBits(first, lineBytes, lines, bytes);
        break;
    }
    case kMirrorSingle: {
        const uint32_t count = Smaller(pixels, lineBytes / sampleBytes);
        (sampleBytes == 2 ? routines.Units2 : routines.Units1)(first, lineBytes, lines, count);
        break;
    }
    case kMirrorTagged: {
        /* Segments follow each other floor(lineBytes / 3) apart across the
         * whole chunk; the tag in front of each stays where it is. */
        const uint32_t segment = lineBytes / 3;
        const uint32_t count = Smaller(pixels, segment >= 2 ? (segment - 2) / sampleBytes : 0);
        (sampleBytes == 2 ? routines.Units2 : routines.Units1)(first + 2, segment, lines * 3, count);
        break;
    }
    case kMirrorWholePixel: {
        const uint32_t count = Smaller(pixels, lineBytes / (3 * sampleBytes));
        (sampleBytes == 2 ? routines.Units6 : routines.Units3)(first, lineBytes, lines, count);
        break;
    }
    default:
        break;
    }
}
