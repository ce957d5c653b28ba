/*
 * segments_test.cpp - colour-tagged segments: each line's three colours as
 * separate segments behind a 2-byte tag, the green and blue rows' lag of
 * the colour line gap, the order of segments that arrive together, and the
 * n-th segments of each colour making the n-th line.
 */
#include "sim_host.h"

#include <gtest/gtest.h>

namespace {

struct Segment {
    char Tag;
    uint32_t RawLine; /* the raw line of the stream it arrived in */
    std::vector<uint8_t> Data;
};

std::vector<Segment> ScanSegments(SimHost &host, const WindowRequest &w)
{
    std::vector<uint8_t> stream = host.Scan(w);
    std::array<uint32_t, 3> g = host.Geometry();
    uint32_t size = g[1] / 3;
    std::vector<Segment> segments;
    for (size_t at = 0; at + size <= stream.size(); at += size)
        segments.push_back({static_cast<char>(stream[at]), static_cast<uint32_t>(at / g[1]),
                            std::vector<uint8_t>(stream.begin() + at + 2, stream.begin() + at + size)});
    return segments;
}

SimHost TaggedHost()
{
    SimHost host;
    host.Configure("model", "tagged300");
    host.Configure("sensor", "ideal");
    host.Configure("noise", "off");
    return host;
}

WindowRequest PositionField(uint16_t resolution)
{
    WindowRequest w;
    w.Resolution = resolution;
    w.X = 150;   /* device X from the far edge: document x 3.5 in down to 7.5 in */
    w.Y = 1800;  /* 6 in */
    w.Width = 1200;
    w.Length = 300;
    return w;
}

} // namespace

TEST(Segments, GreenArrivesTheGapAfterRedAndBlueTwiceTheGap)
{
    struct Case {
        uint16_t Resolution;
        uint32_t Gap; /* lines at that resolution: 4 x resolution / 300 */
    };
    for (Case c : {Case{300, 4}, Case{150, 2}, Case{500, 6}, Case{100, 1}}) {
        SimHost host = TaggedHost();
        std::vector<Segment> segments = ScanSegments(host, PositionField(c.Resolution));
        uint32_t lines = host.Geometry()[2];
        ASSERT_EQ(segments.size(), 3 * lines);
        std::vector<uint32_t> arrival[3];
        for (const Segment &s : segments) {
            int row = s.Tag == 'R' ? 0 : s.Tag == 'G' ? 1 : s.Tag == 'B' ? 2 : -1;
            ASSERT_GE(row, 0) << "tag " << int(s.Tag);
            arrival[row].push_back(s.RawLine);
        }
        for (int row = 0; row < 3; ++row)
            ASSERT_EQ(arrival[row].size(), lines) << c.Resolution;
        /* While all three rows deliver, every raw line holds one segment
         * of each; at the start red runs ahead, at the end blue catches up. */
        for (uint32_t n = 2 * c.Gap; n + 2 * c.Gap < lines; ++n) {
            EXPECT_EQ(arrival[1][n] - arrival[0][n], c.Gap) << c.Resolution << " line " << n;
            EXPECT_EQ(arrival[2][n] - arrival[0][n], 2 * c.Gap) << c.Resolution << " line " << n;
        }
        /* The stream starts with red alone and ends with blue alone. */
        EXPECT_EQ(segments.front().Tag, 'R');
        EXPECT_EQ(segments.back().Tag, 'B');
    }
}

TEST(Segments, TheNthSegmentsOfEachColourMakeTheNthLine)
{
    SimHost host = TaggedHost();
    WindowRequest w = PositionField(300);
    std::vector<Segment> segments = ScanSegments(host, w);
    uint32_t lines = host.Geometry()[2];
    std::vector<const Segment *> byColour[3];
    for (const Segment &s : segments)
        byColour[s.Tag == 'R' ? 0 : s.Tag == 'G' ? 1 : 2].push_back(&s);
    /* Device pixel i lies at document x = 8.5 in - (X + i + 1) / 300 in. */
    for (uint32_t n = 0; n < lines; ++n)
        for (uint32_t i = 0; i < 1200; i += 7) {
            SimRgb expected = ChartColor(102000 - (150 + i + 1) * 40, (1800 + n) * 40);
            ASSERT_EQ(byColour[0][n]->Data[i], expected.R) << n << "," << i;
            ASSERT_EQ(byColour[1][n]->Data[i], expected.G) << n << "," << i;
            ASSERT_EQ(byColour[2][n]->Data[i], expected.B) << n << "," << i;
        }
}

TEST(Segments, SegmentsArrivingTogetherComeInTheConfiguredOrder)
{
    SimHost host = TaggedHost();
    host.Configure("segment_order", "bgr");
    std::vector<Segment> segments = ScanSegments(host, PositionField(300));
    /* From the ninth line time on all three rows deliver: blue, green, red. */
    size_t steady = 4 + 2 * 4;
    for (size_t k = steady; k + 3 <= steady + 30; k += 3) {
        EXPECT_EQ(segments[k].Tag, 'B') << k;
        EXPECT_EQ(segments[k + 1].Tag, 'G') << k;
        EXPECT_EQ(segments[k + 2].Tag, 'R') << k;
    }
    std::string error;
    EXPECT_EQ(SimConfigureDevice(host.Device, "segment_order", "RGG", error), -2);
}

TEST(Segments, WideSamplesAndGreyLines)
{
    SimHost host = TaggedHost();
    WindowRequest w = PositionField(300);
    w.Depth = 16;
    std::vector<Segment> wide = ScanSegments(host, w);
    w.Depth = 8;
    std::vector<Segment> narrow = ScanSegments(host, w);
    ASSERT_EQ(wide.size(), narrow.size());
    ASSERT_EQ(wide[0].Data.size(), 2400u);
    for (size_t k = 0; k < wide.size(); k += 37) {
        ASSERT_EQ(wide[k].Tag, narrow[k].Tag);
        for (uint32_t i = 0; i < 1200; i += 13)
            ASSERT_EQ(Sample16(wide[k].Data, i) >> 8, narrow[k].Data[i]);
    }
    /* Grey comes in whole lines without tags, and without a lag. */
    w.Composition = kGrey;
    std::vector<uint8_t> grey = host.Scan(w);
    ASSERT_EQ(grey.size(), 1200u * 300);
    EXPECT_EQ(grey[0], ChartColor(102000 - 151 * 40, 1800 * 40).G);
}
