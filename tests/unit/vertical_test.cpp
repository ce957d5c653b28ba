/* ProcessChunk with both methods: worked scans at the edges of the room and
 * of the scan, and random scans fed in chunks against the reference. */
#include "pipeline/line_pipeline.h"
#include "pipeline_reference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

typedef ref::Line L;

struct Result { int32_t Code; uint32_t Consumed, Produced; L Out; };

/* Source and destination are exactly as long as offered, so a sanitizer
 * build catches any line read or written past them. */
Result Call(const std::vector<L> &lines, uint32_t room)
{
    const bool wide = LinePipeline.BitsPerSample > 8;
    std::vector<uint8_t> src, dst(room * LinePipeline.DstLineBytes);
    for (const L &line : lines) {
        std::vector<uint8_t> bytes = ref::ToBytes(line, wide);
        bytes.resize(LinePipeline.SrcLineBytes);
        src.insert(src.end(), bytes.begin(), bytes.end());
    }
    Result r = {};
    r.Code = ProcessChunk({dst.data(), room}, {src.data(), static_cast<uint32_t>(lines.size())}, r.Consumed,
                          r.Produced);
    r.Out = ref::FromBytes(dst.data(), dst.size() / (wide ? 2 : 1), wide);
    return r;
}

class VerticalTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        ReleaseLineBuffers();
        EXPECT_EQ(LiveAllocations(), 0);
    }
};

/* One call on one-pixel grey lines: what it writes, returns and consumes. */
TEST_F(VerticalTest, WorkedGreyScans)
{
    const L ramp = {10, 40, 70, 100};
    const struct {
        bool Uniform;
        uint32_t S, R;
        uint16_t Bits, Room;
        L Src, Out;
        int32_t Code;
        uint32_t Consumed;
    } cases[] = {
        {true, 4, 6, 8, 6, ramp, {6, 20, 40, 60, 80, 100}, 0, 3}, /* the last line is not counted */
        {true, 4, 6, 8, 2, ramp, {6, 20}, -1, 1},
        {true, 4, 3, 8, 3, ramp, {20, 60, 100}, 0, 4},
        {false, 4, 6, 8, 6, ramp, {10, 25, 40, 70, 85, 100}, 0, 4},
        {true, 3, 6, 12, 1, {3000, 2000, 1000}, {3500}, -1, 0}, /* extrapolated 4000 */
        /* A single offered line is its own neighbour for the extrapolation. */
        {true, 4, 6, 8, 1, {10}, {10}, 0, 1},
        {false, 2, 5, 8, 1, {10}, {10}, -1, 0},
        /* No room: nothing is done. */
        {false, 4, 6, 8, 0, ramp, {}, -1, 0},
        /* More room and lines than the scan has: no line beyond its last. */
        {true, 2, 4, 8, 9, {10, 40, 70}, {5, 10, 25, 40}, 0, 1},
        {false, 4, 3, 8, 9, {10, 40, 70, 100, 130}, {40, 70, 100}, 0, 4},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(&c - cases);
        const uint32_t bytes = c.Bits > 8 ? 2 : 1;
        ASSERT_EQ(InitLinePipeline({c.Uniform, 0, c.Bits, 1, c.S, bytes, 1, c.R, bytes}), 1);
        std::vector<L> src;
        for (uint32_t v : c.Src)
            src.push_back({v});
        Result r = Call(src, c.Room);
        r.Out.resize(r.Produced);
        EXPECT_EQ(r.Out, c.Out);
        EXPECT_EQ(r.Code, c.Code);
        EXPECT_EQ(r.Consumed, c.Consumed);
    }
}

/* Plan 0: a line and room for one at a time; 1: random runs and rooms (0
 * too); 2: all at once. A grey enlargement needs two lines for its first. */
std::vector<L> Feed(const std::vector<L> &src, int plan, std::mt19937 &rng)
{
    const LinePipelineRecord &p = LinePipeline;
    const bool twoFirst = !p.Color && p.DstLines > p.SrcLines && p.SrcLines > 1;
    const uint32_t samples = p.DstPixels * (p.Color ? 3 : 1);
    std::vector<L> out;
    uint32_t srcPos = 0;
    for (int calls = 0; out.size() < p.DstLines; ++calls) {
        if (calls > 10000 || srcPos >= src.size()) {
            ADD_FAILURE() << "stalled at source line " << srcPos << ", output line " << out.size();
            break;
        }
        uint32_t offer = plan == 0 ? 1 : plan == 1 ? 1 + rng() % 4 : p.SrcLines;
        uint32_t room = plan == 0 ? 1 : plan == 1 ? rng() % 4 : p.DstLines;
        offer = std::min<uint32_t>(std::max<uint32_t>(offer, twoFirst && out.empty() ? 2 : 1), src.size() - srcPos);
        room = std::min<uint32_t>(room, p.DstLines - out.size());
        Result r = Call({src.begin() + srcPos, src.begin() + srcPos + offer}, room);
        EXPECT_LE(r.Consumed, offer);
        EXPECT_LE(r.Produced, room);
        for (uint32_t k = 0; k < r.Produced; ++k)
            out.emplace_back(r.Out.begin() + k * samples, r.Out.begin() + (k + 1) * samples);
        srcPos += r.Consumed;
    }
    return out;
}

TEST_F(VerticalTest, AnyChunkingGivesTheReferenceImage)
{
    for (uint32_t seed = 0; seed < 300; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        const bool uniform = rng() % 2, color = rng() % 2, wide = rng() % 2;
        const uint32_t s = 1 + rng() % 12, r = rng() % 4 ? 1 + rng() % 14 : s;
        const uint32_t ds = 1 + rng() % 9, dd = rng() % 4 ? 1 + rng() % 14 : ds;
        const uint16_t bits = wide ? 9 + rng() % 8 : 8;
        const uint32_t max = wide ? (1u << bits) - 1 : 255, channels = color ? 3 : 1;
        const uint32_t pixelBytes = channels * (wide ? 2 : 1);
        /* Source lines may carry padding behind their pixels. */
        const uint32_t padding = rng() % 3;
        const PipelineParams params = {uniform, color, bits, ds, s, ds * pixelBytes + padding, dd, r, dd * pixelBytes};
        std::vector<L> src(s, L(ds * channels));
        for (L &line : src)
            for (uint32_t &v : line)
                v = rng() % (max + 1);
        const std::vector<L> expect = ref::Scan(src, channels, dd, r, uniform, max);

        for (int plan = 0; plan < 3; ++plan) {
            ASSERT_EQ(InitLinePipeline(params), 1);
            FailAllocationAfter(0, true); /* any allocation while lines flow fails and is counted */
            const std::vector<L> got = Feed(src, plan, rng);
            EXPECT_EQ(StopFailingAllocations(), 0) << "plan " << plan;
            EXPECT_EQ(got, expect) << "plan " << plan;
            ASSERT_EQ(got.size(), r);
            EXPECT_EQ(got.back(), ref::ScaleLine(src.back(), channels, dd, uniform, max)) << "plan " << plan;
        }
        ReleaseLineBuffers();
    }
}

} // namespace
