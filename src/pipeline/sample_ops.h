/*
 * sample_ops.h - the per-sample arithmetic the vertical and horizontal
 * routines share (blend and extrapolate), and loading and storing a sample
 * of either width at any byte address of a line.
 *
 * Lines sit in the caller's buffer at whatever alignment it has, so samples
 * are moved with memcpy, which compiles to plain loads and stores.
 */
#ifndef SCANDRV_SAMPLE_OPS_H
#define SCANDRV_SAMPLE_OPS_H

#include "line_pipeline.h"

#include <cstdint>
#include <cstring>

/* p blended toward c by w/n, truncated toward p; w = n gives c. The products
 * stay below 2^32 for 16-bit samples and n below 65536. */
inline uint32_t InterpolateSample(uint32_t p, uint32_t c, uint32_t w, uint32_t n)
{
    return c > p ? p + (c - p) * w / n : p - (p - c) * w / n;
}

/*
 * Division by a divisor fixed for the scan (pixel or line counts, blend
 * weights), as a multiply and a shift. With l = ceil(log2 d), k = 16 + 2l and
 * m = ceil(2^k / d), floor(x m / 2^k) = floor(x / d) for every x up to
 * 65535 d: writing m d = 2^k + e with 0 <= e < d <= 2^l, x m / 2^k is
 * x / d + x e / (d 2^k), and x e < 2^16 d 2^l <= 2^k makes the excess below
 * 1 / d, too little to reach the next whole number. The product stays below
 * 2^64 for d up to 65536 (k <= 48): x m <= 65535 d (2^k / d + 1) < 2^(16 + k).
 * Every quotient the routines take has such a numerator: a sample difference
 * (at most 65535) times a weight below the divisor, or a weighted sum of
 * samples whose weights add up to the divisor.
 */
struct ExactDivider {
    uint64_t Multiplier;
    uint32_t Shift;
};

inline ExactDivider MakeDivider(uint32_t d)
{
    uint32_t l = 0;
    while ((uint64_t{1} << l) < d)
        ++l;
    const uint32_t k = 16 + 2 * l;
    return {((uint64_t{1} << k) + d - 1) / d, k};
}

inline uint32_t Divide(uint32_t x, const ExactDivider &divider)
{
    return static_cast<uint32_t>((x * divider.Multiplier) >> divider.Shift);
}

/* InterpolateSample(p, c, w, n) with n given by its divider; w < n. */
inline uint32_t InterpolateDivided(uint32_t p, uint32_t c, uint32_t w, const ExactDivider &n)
{
    /* One quotient, then a choice of sign: no branch on the data. */
    const bool up = c > p;
    const uint32_t q = Divide((up ? c - p : p - c) * w, n);
    return up ? p + q : p - q;
}

/*
 * A blend weight w/n fixed for a line (vertical) or a scan (horizontal) as a
 * multiplier m for samples below 2^bits: floor(d x m / 2^shift) is
 * floor(d x w / n) for every sample difference d. WeightShift gives
 * shift = bits + ceil(log2 n) (at most 24 for bytes, 32 for words) and
 * WeightMultiplier m = ceil(w x 2^shift / n) < 2^shift for w < n. Defined in
 * vertical.cpp, with the proof, for plain and vector code alike.
 */
uint32_t WeightShift(uint32_t n, uint32_t bits);
uint32_t WeightMultiplier(uint32_t w, uint32_t n, uint32_t shift);

/* The step from b to a continued one step beyond a (2a - b), held within
 * 0..max. A result that wraps below 0 comes out as 0. */
inline uint32_t ExtrapolateSample(uint32_t a, uint32_t b, uint32_t max)
{
    uint32_t e = 2 * a - b;
    if (a < b)
        return e <= max ? e : 0;
    return e > max ? max : e;
}

inline uint32_t Extrapolate8(uint32_t a, uint32_t b)
{
    return ExtrapolateSample(a, b, 255);
}

inline uint32_t Extrapolate16(uint32_t a, uint32_t b)
{
    return ExtrapolateSample(a, b, LinePipeline.SampleMax);
}

/* The clamp of the extrapolation for a sample type: 255 for bytes, the
 * scan's SampleMax for words. */
template <typename Sample> inline uint32_t ExtrapolationLimit()
{
    if constexpr (sizeof(Sample) == 1)
        return 255;
    else
        return LinePipeline.SampleMax;
}

template <typename Sample> inline uint32_t LoadSample(const uint8_t *line, uint32_t index)
{
    Sample value;
    std::memcpy(&value, line + index * sizeof(Sample), sizeof(Sample));
    return value;
}

template <typename Sample> inline void StoreSample(uint8_t *line, uint32_t index, uint32_t value)
{
    Sample sample = static_cast<Sample>(value);
    std::memcpy(line + index * sizeof(Sample), &sample, sizeof(Sample));
}

#endif
