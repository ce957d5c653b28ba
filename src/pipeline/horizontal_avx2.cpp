/*
 * horizontal_avx2.cpp - uniform widening and narrowing with AVX2, one body
 * for both directions, driven by the per-pixel tables the set-up made
 * (LinePipeline.Across): each output pixel is a source pair and a weight
 * multiplier, the same for every line of the scan.
 *
 * Eight samples a vector, in 32-bit lanes. Where the set-up found that every
 * four samples' pairs lie within 16 source bytes (always when widening, and
 * for moderate narrowing), the Window routines load those 16 bytes per half
 * vector and shuffle each sample and its partner in the next pixel into the
 * lanes. Elsewhere a gather loads, for each sample, the 4 bytes at its
 * offset, which hold the sample and, for grey and 8-bit colour, the same
 * sample of the next pixel too; 16-bit colour loads the next pixel's sample
 * with a second gather 6 bytes on. Colour takes eight pixels as three
 * vectors, spreading each pixel's offset and multiplier over its three
 * samples. The results are packed back to bytes or words and stored 32
 * bytes at a time. The pixels before the table's Head (blended
 * against the extrapolated pixel) and those from its InLine on (whose loads
 * would pass the line's end) are made one sample at a time.
 */
#include "blend_avx2.h"
#include "vector_routines.h"

#include <cstring>

namespace {

template <typename Sample> uint32_t Load(const uint8_t *at)
{
    Sample value;
    std::memcpy(&value, at, sizeof(Sample));
    return value;
}

template <typename Sample> void Store(uint8_t *at, uint32_t value)
{
    const Sample sample = static_cast<Sample>(value);
    std::memcpy(at, &sample, sizeof(Sample));
}

/* 2a - b held within 0..max; a result that wraps below 0 gives 0 (as
 * ExtrapolateSample). */
uint32_t Extrapolate(uint32_t a, uint32_t b, uint32_t max)
{
    const uint32_t e = 2 * a - b;
    if (a < b)
        return e <= max ? e : 0;
    return e > max ? max : e;
}

/* Output pixels 0 .. Head - 1: the extrapolated pixel blended toward pixel
 * 0; a multiplier of 0 is pixel 0 itself. */
template <typename Sample, unsigned Channels>
void HeadPixels(uint8_t *dstLine, const uint8_t *srcLine, const UniformAcrossTable &t)
{
    constexpr uint32_t kPixelBytes = Channels * sizeof(Sample);
    if (t.Head == 0)
        return;
    const uint32_t limit = sizeof(Sample) == 1 ? 255 : LinePipeline.SampleMax;
    const uint32_t partner = LinePipeline.SrcPixels > 1 ? kPixelBytes : 0;
    for (unsigned c = 0; c < Channels; ++c) {
        const uint32_t first = Load<Sample>(srcLine + c * sizeof(Sample));
        const uint32_t before = Extrapolate(first, Load<Sample>(srcLine + partner + c * sizeof(Sample)), limit);
        for (uint32_t k = 0; k < t.Head; ++k) {
            const uint32_t m = t.Multipliers[k];
            Store<Sample>(dstLine + k * kPixelBytes + c * sizeof(Sample),
                          m ? TowardScalar(before, first, m, t.Shift) : first);
        }
    }
}

/* Output pixels from..to - 1, one sample at a time; a multiplier of 0 reads
 * only the pixel at the offset. */
template <typename Sample, unsigned Channels>
void ScalarPixels(uint8_t *dstLine, const uint8_t *srcLine, const UniformAcrossTable &t, uint32_t from, uint32_t to)
{
    constexpr uint32_t kPixelBytes = Channels * sizeof(Sample);
    for (uint32_t k = from; k < to; ++k) {
        const uint8_t *pair = srcLine + t.Offsets[k];
        const uint32_t m = t.Multipliers[k];
        for (unsigned c = 0; c < Channels; ++c) {
            const uint32_t p = Load<Sample>(pair + c * sizeof(Sample));
            const uint32_t out =
                m ? TowardScalar(p, Load<Sample>(pair + kPixelBytes + c * sizeof(Sample)), m, t.Shift) : p;
            Store<Sample>(dstLine + k * kPixelBytes + c * sizeof(Sample), out);
        }
    }
}

/* Eight samples: their byte offsets and multipliers in the lanes. */
template <typename Sample, unsigned Channels>
__m256i BlendGathered(const uint8_t *srcLine, __m256i offsets, __m256i m, __m128i shift, __m128i shiftUp)
{
    const int *base = reinterpret_cast<const int *>(srcLine);
    const __m256i x = _mm256_i32gather_epi32(base, offsets, 1);
    __m256i p, c;
    if constexpr (sizeof(Sample) == 1) {
        p = _mm256_and_si256(x, _mm256_set1_epi32(0xFF));
        /* the next pixel's sample: byte 1 for grey, byte 3 for colour */
        c = Channels == 1 ? _mm256_and_si256(_mm256_srli_epi32(x, 8), _mm256_set1_epi32(0xFF))
                          : _mm256_srli_epi32(x, 24);
    } else {
        p = _mm256_and_si256(x, _mm256_set1_epi32(0xFFFF));
        c = Channels == 1
                ? _mm256_srli_epi32(x, 16)
                : _mm256_and_si256(_mm256_i32gather_epi32(base, _mm256_add_epi32(offsets, _mm256_set1_epi32(6)), 1),
                                   _mm256_set1_epi32(0xFFFF));
    }
    const __m256i d = _mm256_sub_epi32(_mm256_max_epi32(p, c), _mm256_min_epi32(p, c));
    const __m256i q =
        sizeof(Sample) == 1 ? ScaleByteDifference(d, m, shift) : ScaleWordDifference(d, m, shift, shiftUp);
    return TowardLanes(p, c, q);
}

/* Eight samples whose pairs lie in the window's two halves: the pair's
 * samples are shuffled out of the 16 bytes of each half into the low bytes
 * of the lanes (control bytes with the top bit set give zeros). */
template <typename Sample, unsigned Channels>
__m256i BlendWindowed(const uint8_t *srcLine, const AcrossWindow &w, __m256i m, __m128i shift, __m128i shiftUp)
{
    constexpr int kPixelBytes = Channels * sizeof(Sample);
    const __m256i window = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(srcLine + w.Base[0]))),
        _mm_loadu_si128(reinterpret_cast<const __m128i *>(srcLine + w.Base[1])), 1);
    const __m256i rel = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(w.Rel)));
    __m256i pick, pickNext;
    if constexpr (sizeof(Sample) == 1) {
        pick = _mm256_or_si256(rel, _mm256_set1_epi32(static_cast<int>(0x80808000u)));
        pickNext = _mm256_add_epi32(pick, _mm256_set1_epi32(kPixelBytes));
    } else {
        pick = _mm256_add_epi32(_mm256_or_si256(rel, _mm256_slli_epi32(rel, 8)),
                                _mm256_set1_epi32(static_cast<int>(0x80800100u)));
        pickNext = _mm256_add_epi32(pick, _mm256_set1_epi32(kPixelBytes * 0x101));
    }
    const __m256i p = _mm256_shuffle_epi8(window, pick);
    const __m256i c = _mm256_shuffle_epi8(window, pickNext);
    const __m256i d = _mm256_sub_epi32(_mm256_max_epi32(p, c), _mm256_min_epi32(p, c));
    const __m256i q =
        sizeof(Sample) == 1 ? ScaleByteDifference(d, m, shift) : ScaleWordDifference(d, m, shift, shiftUp);
    return TowardLanes(p, c, q);
}

template <typename Sample, unsigned Channels, bool Windowed>
void UniformAcross(uint8_t *dstLine, const uint8_t *srcLine)
{
    const UniformAcrossTable &t = LinePipeline.Across;
    const uint32_t dd = LinePipeline.DstPixels;
    HeadPixels<Sample, Channels>(dstLine, srcLine, t);

    /* A step makes 32 bytes per channel: 32 pixels of bytes, 16 of words,
     * that is kVectors vectors of eight samples. */
    constexpr uint32_t kStepPixels = 32 / sizeof(Sample);
    constexpr uint32_t kVectors = kStepPixels * Channels / 8;
    constexpr uint32_t kPixelBytes = Channels * sizeof(Sample);
    /* For colour: the pixel (0..7 of eight) and the channel's byte offset of
     * each lane of the three vectors that hold eight pixels. */
    const __m256i spread[3] = {_mm256_setr_epi32(0, 0, 0, 1, 1, 1, 2, 2), _mm256_setr_epi32(2, 3, 3, 3, 4, 4, 4, 5),
                               _mm256_setr_epi32(5, 5, 6, 6, 6, 7, 7, 7)};
    const __m256i channel[3] = {_mm256_setr_epi32(0, 1, 2, 0, 1, 2, 0, 1), _mm256_setr_epi32(2, 0, 1, 2, 0, 1, 2, 0),
                                _mm256_setr_epi32(1, 2, 0, 1, 2, 0, 1, 2)};
    const __m128i shift = _mm_cvtsi32_si128(static_cast<int>(t.Shift));
    const __m128i shiftUp = _mm_cvtsi32_si128(static_cast<int>(32 - t.Shift));
    const uint32_t end = t.Head + (t.InLine - t.Head) / kStepPixels * kStepPixels;
    for (uint32_t k = t.Head; k < end; k += kStepPixels) {
        __m256i r[kVectors];
        for (uint32_t g = 0; g < kStepPixels / 8; ++g) {
            const __m256i offsets = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(t.Offsets + k + 8 * g));
            const __m256i m = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(t.Multipliers + k + 8 * g));
            const AcrossWindow *w = Windowed ? t.Windows + ((k - t.Head) / 8 + g) * Channels : nullptr;
            if constexpr (Channels == 1) {
                r[g] = Windowed ? BlendWindowed<Sample, 1>(srcLine, *w, m, shift, shiftUp)
                                : BlendGathered<Sample, 1>(srcLine, offsets, m, shift, shiftUp);
            } else {
                for (uint32_t j = 0; j < 3; ++j) {
                    const __m256i mj = _mm256_permutevar8x32_epi32(m, spread[j]);
                    if constexpr (Windowed) {
                        r[3 * g + j] = BlendWindowed<Sample, 3>(srcLine, w[j], mj, shift, shiftUp);
                    } else {
                        const __m256i at =
                            _mm256_add_epi32(_mm256_permutevar8x32_epi32(offsets, spread[j]),
                                             sizeof(Sample) == 1 ? channel[j] : _mm256_slli_epi32(channel[j], 1));
                        r[3 * g + j] = BlendGathered<Sample, 3>(srcLine, at, mj, shift, shiftUp);
                    }
                }
            }
        }
        uint8_t *out = dstLine + k * kPixelBytes;
        for (uint32_t v = 0; v < Channels; ++v) {
            __m256i packed;
            if constexpr (sizeof(Sample) == 1)
                packed =
                    _mm256_permutevar8x32_epi32(_mm256_packus_epi16(_mm256_packus_epi32(r[4 * v], r[4 * v + 1]),
                                                                    _mm256_packus_epi32(r[4 * v + 2], r[4 * v + 3])),
                                                _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
            else
                packed = _mm256_permute4x64_epi64(_mm256_packus_epi32(r[2 * v], r[2 * v + 1]), 0xD8);
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + 32 * v), packed);
        }
    }
    ScalarPixels<Sample, Channels>(dstLine, srcLine, t, end, dd);
}

} // namespace

void UniformAcrossAvx2Rgb16(uint8_t *dstLine, const uint8_t *srcLine)
{
    UniformAcross<uint16_t, 3, false>(dstLine, srcLine);
}

void UniformAcrossAvx2Rgb8(uint8_t *dstLine, const uint8_t *srcLine)
{
    UniformAcross<uint8_t, 3, false>(dstLine, srcLine);
}

void UniformAcrossAvx2Gray16(uint8_t *dstLine, const uint8_t *srcLine)
{
    UniformAcross<uint16_t, 1, false>(dstLine, srcLine);
}

void UniformAcrossAvx2Gray8(uint8_t *dstLine, const uint8_t *srcLine)
{
    UniformAcross<uint8_t, 1, false>(dstLine, srcLine);
}

void UniformWindowAvx2Rgb16(uint8_t *dstLine, const uint8_t *srcLine)
{
    UniformAcross<uint16_t, 3, true>(dstLine, srcLine);
}

void UniformWindowAvx2Rgb8(uint8_t *dstLine, const uint8_t *srcLine)
{
    UniformAcross<uint8_t, 3, true>(dstLine, srcLine);
}

void UniformWindowAvx2Gray16(uint8_t *dstLine, const uint8_t *srcLine)
{
    UniformAcross<uint16_t, 1, true>(dstLine, srcLine);
}

void UniformWindowAvx2Gray8(uint8_t *dstLine, const uint8_t *srcLine)
{
    UniformAcross<uint8_t, 1, true>(dstLine, srcLine);
}
