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
