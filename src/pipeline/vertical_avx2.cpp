/*
 * vertical_avx2.cpp - the uniform vertical blend with AVX2: one weight for
 * the whole line, so one multiplier (WeightMultiplier) serves every sample.
 * 32 bytes or 16 words a step; a line's last partial step is blended in a
 * zero-padded copy, so every sample takes the same arithmetic.
 */
#include "blend_avx2.h"
#include "sample_ops.h"
#include "vector_routines.h"

#include <cstring>

namespace {

struct LineWeight {
    __m256i Multiplier;
    __m128i Shift;
    __m128i ShiftUp;
};

LineWeight MakeLineWeight(uint32_t w, uint32_t n, uint32_t bits)
{
    const uint32_t shift = WeightShift(n, bits);
    return {_mm256_set1_epi32(static_cast<int>(WeightMultiplier(w, n, shift))),
            _mm_cvtsi32_si128(static_cast<int>(shift)), _mm_cvtsi32_si128(static_cast<int>(32 - shift))};
}

/* 32 byte samples: differences widened to four vectors of eight lanes, the
 * quotients packed back to bytes (the packs interleave the 128-bit halves,
 * the permutation restores the order). */
void Blend32Bytes(uint8_t *out, const uint8_t *prev, const uint8_t *cur, const LineWeight &lw)
{
    const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(prev));
    const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(cur));
    const __m256i hi = _mm256_max_epu8(p, c);
    const __m256i d = _mm256_sub_epi8(hi, _mm256_min_epu8(p, c));
    const __m128i dLow = _mm256_castsi256_si128(d);
    const __m128i dHigh = _mm256_extracti128_si256(d, 1);
    const __m256i q0 = ScaleByteDifference(_mm256_cvtepu8_epi32(dLow), lw.Multiplier, lw.Shift);
    const __m256i q1 = ScaleByteDifference(_mm256_cvtepu8_epi32(_mm_srli_si128(dLow, 8)), lw.Multiplier, lw.Shift);
    const __m256i q2 = ScaleByteDifference(_mm256_cvtepu8_epi32(dHigh), lw.Multiplier, lw.Shift);
    const __m256i q3 = ScaleByteDifference(_mm256_cvtepu8_epi32(_mm_srli_si128(dHigh, 8)), lw.Multiplier, lw.Shift);
    const __m256i q = _mm256_permutevar8x32_epi32(
        _mm256_packus_epi16(_mm256_packus_epi32(q0, q1), _mm256_packus_epi32(q2, q3)),
        _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
    const __m256i down = _mm256_cmpeq_epi8(hi, p); /* p >= c */
    const __m256i r = _mm256_blendv_epi8(_mm256_add_epi8(p, q), _mm256_sub_epi8(p, q), down);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(out), r);
}

/* 16 word samples, products in 64 bits. */
void Blend16Words(uint8_t *out, const uint8_t *prev, const uint8_t *cur, const LineWeight &lw)
{
    const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(prev));
    const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(cur));
    const __m256i hi = _mm256_max_epu16(p, c);
    const __m256i d = _mm256_sub_epi16(hi, _mm256_min_epu16(p, c));
    const __m256i q0 = ScaleWordDifference(_mm256_cvtepu16_epi32(_mm256_castsi256_si128(d)), lw.Multiplier,
                                           lw.Shift, lw.ShiftUp);
    const __m256i q1 = ScaleWordDifference(_mm256_cvtepu16_epi32(_mm256_extracti128_si256(d, 1)), lw.Multiplier,
                                           lw.Shift, lw.ShiftUp);
    const __m256i q = _mm256_permute4x64_epi64(_mm256_packus_epi32(q0, q1), 0xD8);
    const __m256i down = _mm256_cmpeq_epi16(hi, p);
    const __m256i r = _mm256_blendv_epi8(_mm256_add_epi16(p, q), _mm256_sub_epi16(p, q), down);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(out), r);
}

typedef void (*StepFn)(uint8_t *, const uint8_t *, const uint8_t *, const LineWeight &);

void BlendBytes(uint8_t *out, const uint8_t *prev, const uint8_t *cur, uint32_t bytes, const LineWeight &lw,
                StepFn step)
{
    uint32_t i = 0;
    for (; i + 32 <= bytes; i += 32)
        step(out + i, prev + i, cur + i, lw);
    if (i < bytes) {
        alignas(32) uint8_t p[32] = {};
        alignas(32) uint8_t c[32] = {};
        alignas(32) uint8_t o[32];
        std::memcpy(p, prev + i, bytes - i);
        std::memcpy(c, cur + i, bytes - i);
        step(o, p, c, lw);
        std::memcpy(out + i, o, bytes - i);
    }
}

} // namespace

void BlendLinesAvx2Byte(uint8_t *out, const uint8_t *prev, const uint8_t *cur, uint32_t count, uint32_t w,
                        uint32_t n)
{
    BlendBytes(out, prev, cur, count, MakeLineWeight(w, n, 8), Blend32Bytes);
}

void BlendLinesAvx2Word(uint8_t *out, const uint8_t *prev, const uint8_t *cur, uint32_t count, uint32_t w,
                        uint32_t n)
{
    BlendBytes(out, prev, cur, 2 * count, MakeLineWeight(w, n, 16), Blend16Words);
}
