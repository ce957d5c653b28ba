/*
 * horizontal.cpp - the four families of horizontal routines, each one body
 * over sample type and channels per pixel. The channels of a pixel share
 * positions and weights; each keeps its own previous and current sample.
 * Counters start afresh on every line: nothing is kept between lines.
 *
 * Positions are whole numbers in a unit in which a source pixel is DstPixels
 * long and an output pixel SrcPixels long; with both counts below 65536
 * (checked at set-up) no counter or product leaves 32 bits.
 */
#include "horizontal.h"

#include "sample_ops.h"

#include <cstring>

namespace {

template <typename Sample, unsigned Channels>
inline void CopyPixel(uint8_t *dstLine, uint32_t dstPixel, const uint8_t *srcLine, uint32_t srcPixel)
{
    constexpr uint32_t kPixelBytes = Channels * sizeof(Sample);
    std::memcpy(dstLine + dstPixel * kPixelBytes, srcLine + srcPixel * kPixelBytes, kPixelBytes);
}

/* The pixel before pixel 0, continued per channel from pixels 1 and 0. A
 * one-pixel line has no pixel 1; the pixel itself stands in for it, so the
 * extrapolated pixel equals it and nothing past the line is read. */
template <typename Sample, unsigned Channels>
inline void ExtrapolateFirstPixel(const uint8_t *srcLine, uint32_t srcPixels, uint32_t *prev)
{
    const uint32_t limit = ExtrapolationLimit<Sample>();
    const uint32_t partner = srcPixels > 1 ? Channels : 0;
    for (unsigned c = 0; c < Channels; ++c)
        prev[c] = ExtrapolateSample(LoadSample<Sample>(srcLine, c),
                                    LoadSample<Sample>(srcLine, partner + c), limit);
}

} // namespace

/* Output pixel k sits at source position (k + 1) x Ds / Dd - 1 and blends the
 * source pixels on either side; acc is its distance past the previous source
 * pixel. Positions before pixel 0 blend against the extrapolated pixel. The
 * last output pixel is the last source pixel. */
template <typename Sample, unsigned Channels>
void WidenUniform(uint8_t *dstLine, const uint8_t *srcLine)
{
    const uint32_t ds = LinePipeline.SrcPixels;
    const uint32_t dd = LinePipeline.DstPixels;
    uint32_t prev[Channels];
    uint32_t cur[Channels];
    ExtrapolateFirstPixel<Sample, Channels>(srcLine, ds, prev);
    for (unsigned c = 0; c < Channels; ++c)
        cur[c] = LoadSample<Sample>(srcLine, c);

    uint32_t s = 0;
    uint32_t acc = ds;
    for (uint32_t k = 0; k + 1 < dd; ++k) {
        if (acc > dd) {
            acc -= dd;
            if (s + 1 < ds)
                ++s;
            for (unsigned c = 0; c < Channels; ++c) {
                prev[c] = cur[c];
                cur[c] = LoadSample<Sample>(srcLine, s * Channels + c);
            }
        }
        for (unsigned c = 0; c < Channels; ++c)
            StoreSample<Sample>(dstLine, k * Channels + c,
                                acc == dd ? cur[c] : InterpolateSample(prev[c], cur[c], acc, dd));
        acc += ds;
    }
    if (dd > 0)
        CopyPixel<Sample, Channels>(dstLine, dd - 1, srcLine, ds - 1);
}

/* The same positions as widening. x is the position of the next output
 * pixel, y that of the current source pixel; an output pixel is made at the
 * first source pixel at or beyond it, blended with the one before. Since
 * Ds > Dd, at most one output pixel falls on a source pixel, none on pixel 0,
 * and the last falls exactly on the last source pixel. */
template <typename Sample, unsigned Channels>
void NarrowUniform(uint8_t *dstLine, const uint8_t *srcLine)
{
    const uint32_t ds = LinePipeline.SrcPixels;
    const uint32_t dd = LinePipeline.DstPixels;
    uint32_t x = ds;
    uint32_t y = dd;
    uint32_t k = 0;
    for (uint32_t i = 0; i < ds; ++i, y += dd) {
        if (x > y)
            continue;
        const uint32_t w = dd - (y - x); /* 1..dd: distance past pixel i - 1 */
        if (w == dd) {
            CopyPixel<Sample, Channels>(dstLine, k, srcLine, i);
        } else {
            for (unsigned c = 0; c < Channels; ++c)
                StoreSample<Sample>(dstLine, k * Channels + c,
                                    InterpolateSample(LoadSample<Sample>(srcLine, (i - 1) * Channels + c),
                                                      LoadSample<Sample>(srcLine, i * Channels + c), w, dd));
        }
        ++k;
        x += ds;
    }
}

/* Every source pixel is kept, preceded by n pixels blended between it and
 * the one before; the Dd - Ds extra pixels are spread evenly, n being the
 * whole part of a running share of them. The j-th inserted pixel is
 * ((n + 1 - j) x prev + j x cur) / (n + 1), built by adding cur - prev. The
 * spread keeps its remainder instead of dividing per pixel: equal to taking
 * (extra + rem) / Ds and its remainder each time. */
template <typename Sample, unsigned Channels>
void WidenInsert(uint8_t *dstLine, const uint8_t *srcLine)
{
    const uint32_t ds = LinePipeline.SrcPixels;
    const uint32_t dd = LinePipeline.DstPixels;
    const uint32_t extra = dd - ds;
    const uint32_t whole = extra / ds;
    const uint32_t part = extra % ds;
    uint32_t prev[Channels];
    uint32_t cur[Channels];
    uint32_t acc[Channels];
    ExtrapolateFirstPixel<Sample, Channels>(srcLine, ds, prev);

    uint32_t rem = 0;
    uint32_t k = 0;
    for (uint32_t i = 0; i < ds; ++i) {
        uint32_t n = whole;
        rem += part;
        if (rem >= ds) {
            rem -= ds;
            ++n;
        }
        for (unsigned c = 0; c < Channels; ++c) {
            cur[c] = LoadSample<Sample>(srcLine, i * Channels + c);
            acc[c] = n * prev[c] + cur[c];
        }
        for (uint32_t j = 0; j < n; ++j, ++k) {
            for (unsigned c = 0; c < Channels; ++c) {
                StoreSample<Sample>(dstLine, k * Channels + c, acc[c] / (n + 1));
                acc[c] += cur[c] - prev[c]; /* modulo 2^32 when cur < prev */
            }
        }
        CopyPixel<Sample, Channels>(dstLine, k++, srcLine, i);
        for (unsigned c = 0; c < Channels; ++c)
            prev[c] = cur[c];
    }
}

/* Whole pixels are copied or dropped: pixel i is kept when a multiple of Ds
 * lies in (i x Dd, (i + 1) x Dd], so output pixel k is source pixel
 * ceil((k + 1) x Ds / Dd) - 1 and the last source pixel is always kept. */
template <typename Sample, unsigned Channels>
void NarrowDrop(uint8_t *dstLine, const uint8_t *srcLine)
{
    const uint32_t ds = LinePipeline.SrcPixels;
    const uint32_t dd = LinePipeline.DstPixels;
    uint32_t acc = dd;
    uint32_t k = 0;
    for (uint32_t i = 0; i < ds; ++i) {
        if (acc >= ds)
            acc -= ds;
        if (acc < dd)
            CopyPixel<Sample, Channels>(dstLine, k++, srcLine, i);
        acc += dd;
    }
}

SCANDRV_SCALER_LAYOUTS(, WidenUniform)
SCANDRV_SCALER_LAYOUTS(, NarrowUniform)
SCANDRV_SCALER_LAYOUTS(, WidenInsert)
SCANDRV_SCALER_LAYOUTS(, NarrowDrop)
