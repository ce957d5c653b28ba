/*
 * halftone_avx2.cpp - DitherLine and ThresholdLine 32 pixels at a time.
 * SelectBinarizer has turned every cell into a grey bound (see halftone.h),
 * so a pixel's bit is one unsigned byte compare, grey <= bound, done as
 * min(grey, bound) == grey. The compare results are reversed within each
 * group of 8 so that a movemask puts the first pixel of every byte in its
 * top bit; the 32 bits are then the line's next 4 packed bytes.
 */
#include "halftone_vector.h"

#include <immintrin.h>

#include <cstring>

namespace {

/* Pixels 8k..8k+7 of each byte group, last first. */
inline uint32_t PackedBits(__m256i grey, __m256i bound)
{
    const __m256i lastFirst = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8,
                                               7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
    const __m256i one = _mm256_cmpeq_epi8(_mm256_min_epu8(grey, bound), grey);
    return static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_shuffle_epi8(one, lastFirst)));
}

/* One line against one row of bounds of the given side; the column of
 * each group of 32 pixels moves on by 32 mod side. The last pixels (fewer
 * than 32) are copied out so no grey byte past the line is read, and only
 * the line's own bytes are written, a partial byte's low bits 0. */
inline void PackBounded(uint8_t *destination, const uint8_t *grey, uint32_t count, const uint8_t *bounds,
                        const uint32_t *keep, uint32_t side)
{
    const uint32_t step = 32 % side;
    uint32_t column = 0;
    uint32_t x = 0;
    for (; x + 32 <= count; x += 32) {
        const __m256i g = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(grey + x));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(bounds + column));
        const uint32_t bits = PackedBits(g, b) & keep[column];
        std::memcpy(destination + x / 8, &bits, 4);
        column += step;
        if (column >= side)
            column -= side;
    }
    const uint32_t left = count - x;
    if (left == 0)
        return;
    alignas(32) uint8_t tail[32] = {};
    std::memcpy(tail, grey + x, left);
    const __m256i g = _mm256_load_si256(reinterpret_cast<const __m256i *>(tail));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(bounds + column));
    uint32_t bits = PackedBits(g, b) & keep[column];
    uint8_t packed[4];
    std::memcpy(packed, &bits, 4);
    if (left & 7)
        packed[left / 8] &= static_cast<uint8_t>(0xFF00u >> (left & 7));
    std::memcpy(destination + x / 8, packed, (left + 7) / 8);
}

} // namespace

void DitherLineAvx2(uint8_t *destination, const uint8_t *grey, uint32_t count)
{
    const uint32_t side = HalftoneState.PatternSide;
    const uint32_t row = HalftoneState.PatternRow;
    PackBounded(destination, grey, count, HalftoneState.GreyBound[row], HalftoneState.BoundKeep[row], side);
    /* Each line starts at column 0 of the next row. */
    if (++HalftoneState.PatternRow == side)
        HalftoneState.PatternRow = 0;
}

void ThresholdLineAvx2(uint8_t *destination, const uint8_t *grey, uint32_t count)
{
    PackBounded(destination, grey, count, HalftoneState.GreyBound[0], HalftoneState.BoundKeep[0], 1);
}
