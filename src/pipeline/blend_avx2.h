/*
 * blend_avx2.h - the blend of eight samples at once in 32-bit lanes, shared
 * by the AVX2 files only. Everything here has internal linkage: a function
 * built with AVX2 must never be merged with a copy that plain code calls.
 *
 * A blended sample is p + q or p - q, q = floor(d x m / 2^shift) for the
 * difference d = |c - p| and a weight multiplier m (WeightMultiplier), so
 * q <= d and the sum or difference stays within p..c.
 */
#ifndef SCANDRV_BLEND_AVX2_H
#define SCANDRV_BLEND_AVX2_H

#include <immintrin.h>

#include <cstdint>

namespace {

/* q for byte differences (d < 2^8, m < 2^24): the product fits 32 bits. */
inline __m256i ScaleByteDifference(__m256i d, __m256i m, __m128i shift)
{
    return _mm256_srl_epi32(_mm256_mullo_epi32(d, m), shift);
}

/* q for word differences (d < 2^16, m < 2^32): 64-bit products of the even
 * and of the odd lanes. An even lane's product shifted down by shift leaves q
 * in its low half; an odd lane's product shifted up by 32 - shift (shift is
 * at most 32) leaves q in its high half, below it only fraction bits, which
 * the blend drops. */
inline __m256i ScaleWordDifference(__m256i d, __m256i m, __m128i shift, __m128i shiftUp)
{
    const __m256i even = _mm256_srl_epi64(_mm256_mul_epu32(d, m), shift);
    const __m256i odd =
        _mm256_sll_epi64(_mm256_mul_epu32(_mm256_srli_epi64(d, 32), _mm256_srli_epi64(m, 32)), shiftUp);
    return _mm256_blend_epi32(even, odd, 0xAA);
}

/* p + q where c > p, else p - q, in 32-bit lanes. */
inline __m256i TowardLanes(__m256i p, __m256i c, __m256i q)
{
    return _mm256_blendv_epi8(_mm256_add_epi32(p, q), _mm256_sub_epi32(p, q), _mm256_cmpgt_epi32(p, c));
}

/* The same for one sample in scalar code (line ends): q from a 64-bit
 * product, which covers both widths. */
inline uint32_t TowardScalar(uint32_t p, uint32_t c, uint32_t m, uint32_t shift)
{
    const uint32_t d = c > p ? c - p : p - c;
    const uint32_t q = static_cast<uint32_t>((uint64_t{d} * m) >> shift);
    return c > p ? p + q : p - q;
}

} // namespace

#endif
