/* Whole uniform scans through the vector routines against the plain ones,
 * byte for byte: pixel and line counts up and down, every layout and depth,
 * random samples with many at 0 and at the largest value. */
#include "pipeline/line_pipeline.h"
#include "pipeline/vector_routines.h"
#include "platform/vector_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

struct Geometry {
    uint32_t SrcPixels, DstPixels, SrcLines, DstLines;
};

std::vector<Geometry> Geometries()
{
    const uint32_t pixels[][2] = {{1, 16},   {2, 17},    {15, 16},     {17, 16},     {31, 33},     {33, 31},
                                  {97, 293}, {293, 97}, {5100, 7650}, {5100, 2550}, {5100, 1683}, {7, 4099}};
    const uint32_t lines[][2] = {{3, 5}, {5, 3}, {4, 4}, {2, 7}, {7, 2}};
    std::vector<Geometry> all;
    for (const auto &p : pixels)
        for (const auto &l : lines)
            all.push_back({p[0], p[1], l[0], l[1]});
    /* The largest pixel counts, one line pair each way. */
    all.push_back({65535, 65534, 2, 3});
    all.push_back({65534, 65535, 3, 2});
    return all;
}

struct Layout {
    bool Color;
    uint16_t Bits;
};

const Layout kLayouts[] = {{false, 8}, {true, 8}, {false, 12}, {true, 12}, {false, 16}, {true, 16}};

/* Reports the routines picked, so the test knows the vector ones ran. */
std::vector<uint8_t> RunScan(const PipelineParams &p, const std::vector<uint8_t> &source, LineScalerFn &scaler,
                             LineBlendFn &blend)
{
    std::vector<uint8_t> out(size_t{p.DstLines} * p.DstLineBytes);
    EXPECT_EQ(InitLinePipeline(p), 1);
    scaler = LinePipeline.LineScaler;
    blend = LinePipeline.LineBlend;
    uint32_t srcDone = 0, dstDone = 0;
    while (dstDone < p.DstLines && srcDone < p.SrcLines) {
        uint32_t consumed = 0, produced = 0;
        ProcessChunk({out.data() + size_t{dstDone} * p.DstLineBytes, p.DstLines - dstDone},
                     {const_cast<uint8_t *>(source.data()) + size_t{srcDone} * p.SrcLineBytes, p.SrcLines - srcDone},
                     consumed, produced);
        if (consumed + produced == 0)
            break;
        srcDone += consumed;
        dstDone += produced;
    }
    EXPECT_EQ(dstDone, p.DstLines);
    ReleaseLineBuffers();
    return out;
}

class VectorPipeline : public ::testing::TestWithParam<Geometry> {
protected:
    void SetUp() override
    {
        if (!VectorRoutinesUsable())
            GTEST_SKIP() << "no vector routines on this host";
    }
    void TearDown() override { UsePlainRoutinesOnly(false); }
};

TEST_P(VectorPipeline, ScansEqualThePlainRoutines)
{
    const Geometry g = GetParam();
    for (const Layout &layout : kLayouts) {
        SCOPED_TRACE(std::string(layout.Color ? "colour " : "grey ") + std::to_string(layout.Bits) + " bits");
        const bool wide = layout.Bits > 8;
        const uint32_t pixelBytes = (layout.Color ? 3 : 1) * (wide ? 2 : 1);
        const PipelineParams p = {1,           layout.Color, layout.Bits, g.SrcPixels,           g.SrcLines,
                                  g.SrcPixels * pixelBytes,  g.DstPixels, g.DstLines, g.DstPixels * pixelBytes};
        const uint32_t max = wide ? (1u << layout.Bits) - 1 : 255;
        std::mt19937 rng(g.SrcPixels * 131 + g.DstPixels * 7 + g.SrcLines + layout.Bits);
        std::vector<uint8_t> source(size_t{g.SrcLines} * p.SrcLineBytes);
        for (size_t i = 0; i < source.size() / (wide ? 2 : 1); ++i) {
            const uint32_t pick = rng() % 8;
            const uint32_t v = pick == 0 ? 0 : pick == 1 ? max : rng() % (max + 1);
            if (wide) {
                const uint16_t word = static_cast<uint16_t>(v);
                std::memcpy(&source[2 * i], &word, 2);
            } else {
                source[i] = static_cast<uint8_t>(v);
            }
        }

        LineScalerFn plainScaler, vectorScaler;
        LineBlendFn plainBlend, vectorBlend;
        UsePlainRoutinesOnly(true);
        const std::vector<uint8_t> plain = RunScan(p, source, plainScaler, plainBlend);
        UsePlainRoutinesOnly(false);
        const std::vector<uint8_t> vector = RunScan(p, source, vectorScaler, vectorBlend);

        EXPECT_NE(vectorBlend, plainBlend);
        if (g.DstPixels >= kAcrossVectorMinPixels) {
            EXPECT_NE(vectorScaler, plainScaler);
        }
        ASSERT_EQ(vector.size(), plain.size());
        size_t first = 0;
        while (first < plain.size() && vector[first] == plain[first])
            ++first;
        EXPECT_EQ(first, plain.size()) << "first difference at byte " << first << " of line "
                                       << first / p.DstLineBytes;
    }
}

INSTANTIATE_TEST_SUITE_P(Geometries, VectorPipeline, ::testing::ValuesIn(Geometries()),
                         [](const ::testing::TestParamInfo<Geometry> &param) {
                             const Geometry &g = param.param;
                             return std::to_string(g.SrcPixels) + "to" + std::to_string(g.DstPixels) + "_" +
                                    std::to_string(g.SrcLines) + "to" + std::to_string(g.DstLines);
                         });

} // namespace
