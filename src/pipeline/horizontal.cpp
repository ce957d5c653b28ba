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

    const ExactDivider byDd = MakeDivider(dd);
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
                                acc == dd ? cur[c] : InterpolateDivided(prev[c], cur[c], acc, byDd));
        acc += ds;
    }
    if (dd > 0)
        CopyPixel<Sample, Channels>(dstLine, dd - 1, srcLine, ds - 1);
}

/* Steps through the source pixels that the output pixels of a narrowing
 * fall on. Output pixel k sits at position x = (k + 1) x Ds, in the unit in
 * which a source pixel is Dd long; source pixel i ends at (i + 1) x Dd. The
 * first source pixel at or beyond x is i = (x - 1) / Dd, and x lies
 * (x - 1) % Dd + 1 past the end of pixel i - 1. Quotient and remainder are
 * carried from one output pixel to the next instead of divided afresh. */
struct NarrowStep {
    uint32_t Pixel;     /* i: the source pixel output pixel k falls on */
    uint32_t Remainder; /* (x - 1) % Dd */
    uint32_t Whole;     /* Ds / Dd */
    uint32_t Part;      /* Ds % Dd */
    uint32_t Dd;

    NarrowStep(uint32_t ds, uint32_t dd)
        : Pixel((ds - 1) / dd), Remainder((ds - 1) % dd), Whole(ds / dd), Part(ds % dd), Dd(dd)
    {
    }
    void Next()
    {
        Pixel += Whole;
        Remainder += Part;
        if (Remainder >= Dd) {
            Remainder -= Dd;
            ++Pixel;
        }
    }
};

/* The same positions as widening. Output pixel k blends source pixels i - 1
 * and i at w = x - i x Dd (1..Dd), where i is the first source pixel at or
 * beyond its position; w = Dd is pixel i itself. Since Ds > Dd, no output
 * pixel falls on pixel 0 (so pixel i - 1 exists), and the last falls exactly
 * on the last source pixel. Only the source pixels that output pixels fall
 * on, and the ones before them, are read. */
template <typename Sample, unsigned Channels>
void NarrowUniform(uint8_t *dstLine, const uint8_t *srcLine)
{
    const uint32_t ds = LinePipeline.SrcPixels;
    const uint32_t dd = LinePipeline.DstPixels;
    if (dd == 0)
        return;
    const ExactDivider byDd = MakeDivider(dd);
    NarrowStep step(ds, dd);
    for (uint32_t k = 0; k < dd; ++k, step.Next()) {
        const uint32_t i = step.Pixel;
        const uint32_t w = step.Remainder + 1;
        if (w == dd) {
            CopyPixel<Sample, Channels>(dstLine, k, srcLine, i);
        } else {
            for (unsigned c = 0; c < Channels; ++c)
                StoreSample<Sample>(dstLine, k * Channels + c,
                                    InterpolateDivided(LoadSample<Sample>(srcLine, (i - 1) * Channels + c),
                                                       LoadSample<Sample>(srcLine, i * Channels + c), w, byDd));
        }
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

    /* n is whole or whole + 1: one divider for each. */
    const ExactDivider byWhole = MakeDivider(whole + 1);
    const ExactDivider byMore = MakeDivider(whole + 2);
    uint32_t rem = 0;
    uint32_t k = 0;
    for (uint32_t i = 0; i < ds; ++i) {
        uint32_t n = whole;
        const ExactDivider *divider = &byWhole;
        rem += part;
        if (rem >= ds) {
            rem -= ds;
            ++n;
            divider = &byMore;
        }
        for (unsigned c = 0; c < Channels; ++c) {
            cur[c] = LoadSample<Sample>(srcLine, i * Channels + c);
            acc[c] = n * prev[c] + cur[c];
        }
        for (uint32_t j = 0; j < n; ++j, ++k) {
            for (unsigned c = 0; c < Channels; ++c) {
                StoreSample<Sample>(dstLine, k * Channels + c, Divide(acc[c], *divider));
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
 * ceil((k + 1) x Ds / Dd) - 1 = ((k + 1) x Ds - 1) / Dd, the pixel the
 * narrowing step lands on, and the last source pixel is always kept. */
template <typename Sample, unsigned Channels>
void NarrowDrop(uint8_t *dstLine, const uint8_t *srcLine)
{
    const uint32_t ds = LinePipeline.SrcPixels;
    const uint32_t dd = LinePipeline.DstPixels;
    if (dd == 0)
        return;
    NarrowStep step(ds, dd);
    for (uint32_t k = 0; k < dd; ++k, step.Next())
        CopyPixel<Sample, Channels>(dstLine, k, srcLine, step.Pixel);
}

/* A weight w kept as w x 2^shift = Whole x Dd + Part (Part < Dd) while w
 * moves by a fixed step or down by Dd, so its multiplier
 * ceil(w x 2^shift / Dd) = Whole + (Part > 0), the same as WeightMultiplier,
 * costs no division per output pixel. */
struct ScaledWeight {
    uint64_t Whole, StepWhole;
    uint32_t Part, StepPart, Dd, Shift;

    ScaledWeight(uint32_t w, uint32_t step, uint32_t dd, uint32_t shift)
        : Whole((uint64_t{w} << shift) / dd), StepWhole((uint64_t{step} << shift) / dd),
          Part(static_cast<uint32_t>((uint64_t{w} << shift) % dd)),
          StepPart(static_cast<uint32_t>((uint64_t{step} << shift) % dd)), Dd(dd), Shift(shift)
    {
    }
    void Step()
    {
        Whole += StepWhole;
        Part += StepPart;
        if (Part >= Dd) {
            Part -= Dd;
            ++Whole;
        }
    }
    void DropDd() { Whole -= uint64_t{1} << Shift; }
    uint32_t Multiplier() const { return static_cast<uint32_t>(Whole + (Part > 0)); }
};

/* Walks the positions of WidenUniform or NarrowUniform once and writes, per
 * output pixel, the source pair it blends and its weight as a multiplier
 * (UniformAcrossTable). A blend at full weight, or between a pixel and
 * itself, is the pixel itself: multiplier 0 at that pixel's offset. */
void BuildUniformAcross(UniformAcrossTable &table, uint32_t *offsets, uint32_t *multipliers, uint32_t readBytes)
{
    const uint32_t ds = LinePipeline.SrcPixels;
    const uint32_t dd = LinePipeline.DstPixels;
    const uint32_t pixelBytes = (LinePipeline.Color ? 3 : 1) * (LinePipeline.BitsPerSample > 8 ? 2 : 1);
    const uint32_t shift = WeightShift(dd, LinePipeline.BitsPerSample > 8 ? 16 : 8);
    auto set = [&](uint32_t k, uint32_t prev, uint32_t cur, bool full, const ScaledWeight &w) {
        const bool itself = full || prev == cur;
        offsets[k] = (itself ? cur : prev) * pixelBytes;
        multipliers[k] = itself ? 0 : w.Multiplier();
    };
    uint32_t head = 0;
    if (ds < dd) {
        /* Until the first step the previous pixel is the extrapolated one:
         * those output pixels form the head, their offsets unused. */
        uint32_t s = 0;
        uint32_t prev = 0;
        uint32_t acc = ds;
        ScaledWeight weight(ds, ds, dd, shift);
        bool stepped = false;
        for (uint32_t k = 0; k + 1 < dd; ++k) {
            if (acc > dd) {
                acc -= dd;
                weight.DropDd();
                prev = s;
                if (s + 1 < ds)
                    ++s;
                stepped = true;
            }
            if (stepped) {
                set(k, prev, s, acc == dd, weight);
            } else {
                head = k + 1;
                offsets[k] = 0;
                multipliers[k] = acc == dd ? 0 : weight.Multiplier();
            }
            acc += ds;
            weight.Step();
        }
        set(dd - 1, ds - 1, ds - 1, true, weight);
    } else if (dd > 0) {
        NarrowStep step(ds, dd);
        ScaledWeight weight(step.Remainder + 1, step.Part, dd, shift);
        for (uint32_t k = 0; k < dd; ++k) {
            set(k, step.Pixel - (step.Pixel > 0), step.Pixel, step.Remainder + 1 == dd, weight);
            const bool wraps = step.Remainder + step.Part >= dd;
            step.Next();
            weight.Step();
            if (wraps)
                weight.DropDd();
        }
    }
    uint32_t inLine = head;
    while (inLine < dd && offsets[inLine] + readBytes <= ds * pixelBytes)
        ++inLine;
    table = {offsets, multipliers, nullptr, head, inLine, shift};
}

/* Lane l of the j-th vector of eight pixels' samples is sample 8j + l: for
 * colour pixel (8j + l) / 3 and channel (8j + l) % 3, listed here. */
bool BuildAcrossWindows(UniformAcrossTable &table, AcrossWindow *windows)
{
    static const uint8_t kColorPixel[24] = {0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5, 5, 5, 6, 6, 6, 7, 7, 7};
    static const uint8_t kColorChannel[24] = {0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2};
    const uint32_t channels = LinePipeline.Color ? 3 : 1;
    const uint32_t sampleBytes = LinePipeline.BitsPerSample > 8 ? 2 : 1;
    const uint32_t pixelBytes = channels * sampleBytes;
    const uint32_t lineBytes = LinePipeline.SrcPixels * pixelBytes;
    const uint32_t dd = LinePipeline.DstPixels;
    uint32_t k = table.Head;
    AcrossWindow *w = windows;
    for (; k + 8 <= dd; k += 8) {
        AcrossWindow block[3];
        for (uint32_t j = 0; j < channels; ++j) {
            for (uint32_t half = 0; half < 2; ++half) {
                uint32_t at[4], base = 0xFFFFFFFFu, end = 0;
                for (uint32_t l = 0; l < 4; ++l) {
                    const uint32_t sample = 8 * j + 4 * half + l;
                    const uint32_t pixel = k + (channels == 1 ? sample : kColorPixel[sample]);
                    at[l] = table.Offsets[pixel] + (channels == 1 ? 0 : kColorChannel[sample]) * sampleBytes;
                    const uint32_t reach = at[l] + (table.Multipliers[pixel] ? pixelBytes : 0) + sampleBytes;
                    base = at[l] < base ? at[l] : base;
                    end = reach > end ? reach : end;
                }
                if (base + 16 > lineBytes) {
                    table.InLine = k; /* the rest is made sample by sample */
                    table.Windows = windows;
                    return true;
                }
                if (end - base > 16)
                    return false;
                block[j].Base[half] = base;
                for (uint32_t l = 0; l < 4; ++l)
                    block[j].Rel[4 * half + l] = static_cast<uint8_t>(at[l] - base);
            }
        }
        for (uint32_t j = 0; j < channels; ++j)
            *w++ = block[j];
    }
    table.InLine = k;
    table.Windows = windows;
    return true;
}

SCANDRV_SCALER_LAYOUTS(, WidenUniform)
SCANDRV_SCALER_LAYOUTS(, NarrowUniform)
SCANDRV_SCALER_LAYOUTS(, WidenInsert)
SCANDRV_SCALER_LAYOUTS(, NarrowDrop)
