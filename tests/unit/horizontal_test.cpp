/* The sample operations and the sixteen horizontal routines: worked values,
 * then every routine against the reference on random lines. */
#include "pipeline/horizontal.h"
#include "pipeline/sample_ops.h"
#include "pipeline_reference.h"

#include <gtest/gtest.h>

#include <random>

namespace {

struct Routine {
    LineScalerFn Fn;
    bool Uniform, Widen, Wide;
    uint32_t Channels;
};

const Routine kRoutines[] = {
    {WidenUniformRgb16, true, true, true, 3},    {WidenUniformRgb8, true, true, false, 3},
    {WidenUniformGray16, true, true, true, 1},   {WidenUniformGray8, true, true, false, 1},
    {NarrowUniformRgb16, true, false, true, 3},  {NarrowUniformRgb8, true, false, false, 3},
    {NarrowUniformGray16, true, false, true, 1}, {NarrowUniformGray8, true, false, false, 1},
    {WidenInsertRgb16, false, true, true, 3},    {WidenInsertRgb8, false, true, false, 3},
    {WidenInsertGray16, false, true, true, 1},   {WidenInsertGray8, false, true, false, 1},
    {NarrowDropRgb16, false, false, true, 3},    {NarrowDropRgb8, false, false, false, 3},
    {NarrowDropGray16, false, false, true, 1},   {NarrowDropGray8, false, false, false, 1},
};

/* Runs a routine on a line of samples; src and dst are exactly one line
 * long, so a sanitizer build catches any access past them. */
ref::Line Scale(LineScalerFn fn, const ref::Line &src, uint32_t channels, uint32_t dstPixels, bool wide,
              uint16_t sampleMax = 0xFFFF)
{
    LinePipeline.SrcPixels = static_cast<uint32_t>(src.size() / channels);
    LinePipeline.DstPixels = dstPixels;
    LinePipeline.SampleMax = sampleMax;
    std::vector<uint8_t> in = ref::ToBytes(src, wide);
    std::vector<uint8_t> out(dstPixels * channels * (wide ? 2 : 1));
    fn(out.data(), in.data());
    return ref::FromBytes(out.data(), dstPixels * channels, wide);
}

typedef ref::Line L;

TEST(SampleOps, WorkedValues)
{
    EXPECT_EQ(Extrapolate8(200, 100), 255u);
    EXPECT_EQ(Extrapolate8(100, 150), 50u);
    EXPECT_EQ(Extrapolate8(50, 150), 0u);
    LinePipeline.SampleMax = 4095;
    EXPECT_EQ(Extrapolate16(4000, 3000), 4095u);
    EXPECT_EQ(Extrapolate16(3000, 2000), 4000u);
    EXPECT_EQ(Extrapolate16(5000, 5500), 0u); /* above SampleMax while falling */
    EXPECT_EQ(InterpolateSample(10, 20, 1, 3), 13u);
    EXPECT_EQ(InterpolateSample(20, 10, 1, 3), 17u);
    EXPECT_EQ(InterpolateSample(65535, 0, 65534, 65535), 1u);
}

TEST(HorizontalScaling, WorkedLines)
{
    EXPECT_EQ(Scale(WidenUniformGray8, L{10, 30}, 1, 4, false), (L{5, 10, 20, 30}));
    EXPECT_EQ(Scale(NarrowUniformGray8, L{10, 20, 30}, 1, 2, false), (L{15, 30}));
    EXPECT_EQ(Scale(NarrowUniformGray8, L{10, 20, 30, 40}, 1, 2, false), (L{20, 40}));
    EXPECT_EQ(Scale(WidenInsertGray8, L{10, 40}, 1, 5, false), (L{5, 10, 20, 30, 40}));
    EXPECT_EQ(Scale(NarrowDropGray8, L{10, 20, 30, 40, 50}, 1, 2, false), (L{30, 50}));
    EXPECT_EQ(Scale(WidenUniformGray16, L{3000, 2000}, 1, 4, true, 4095), (L{3500, 3000, 2500, 2000}));
    /* A one-pixel line has no neighbour to extrapolate from: it is spread. */
    EXPECT_EQ(Scale(WidenUniformGray8, L{77}, 1, 3, false), (L{77, 77, 77}));
    EXPECT_EQ(Scale(WidenInsertRgb16, L{1, 2, 3}, 3, 2, true), (L{1, 2, 3, 1, 2, 3}));
}

TEST(HorizontalScaling, EveryRoutineMatchesReferenceOnRandomLines)
{
    for (uint32_t seed = 0; seed < 400; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        const Routine &r = kRoutines[seed % 16];
        const uint32_t a = 1 + rng() % 40, b = a + 1 + rng() % 60;
        const uint32_t ds = r.Widen ? a : b, dd = r.Widen ? b : (rng() % 4 ? a : rng() % 2);
        const uint16_t max = r.Wide ? static_cast<uint16_t>((1u << (9 + rng() % 8)) - 1) : 255;
        L src(ds * r.Channels);
        for (uint32_t &s : src)
            s = rng() % (max + 1u);
        const L got = Scale(r.Fn, src, r.Channels, dd, r.Wide, max);
        EXPECT_EQ(got, ref::ScaleLine(src, r.Channels, dd, r.Uniform, max));
        if (dd > 0) { /* the last output pixel is the last source pixel */
            EXPECT_TRUE(std::equal(got.end() - r.Channels, got.end(), src.end() - r.Channels));
        }
    }
}

} // namespace
