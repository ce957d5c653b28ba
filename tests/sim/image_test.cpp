/*
 * image_test.cpp - the image stream against pixels predicted from the chart
 * (ideal sensor, no noise), and how READ lengths cut and end it.
 */
#include "sim_host.h"

namespace {

/* Chart position of pixel i of a window at x (base pixels) and resolution r. */
int64_t ChartPos(int32_t x, uint32_t base, uint32_t i, uint32_t r) { return int64_t(x) * 12000 / base + int64_t(i) * 12000 / r; }

WindowRequest Window(uint16_t dpi, int32_t x, int32_t y, uint32_t width, uint32_t length, uint8_t composition = kColor,
                     uint8_t depth = 8)
{
    WindowRequest w;
    w.Resolution = dpi, w.X = x, w.Y = y, w.Width = width, w.Length = length, w.Composition = composition, w.Depth = depth;
    return w;
}

/* The grey ramp, 0.5 in to 8 in, at 100 dpi: 750 pixels by 6 lines. */
WindowRequest Ramp(uint8_t composition, uint8_t depth) { return Window(100, 300, 1050, 4500, 36, composition, depth); }
uint8_t RampValue(uint32_t i) { return ChartColor(6000 + i * 120, 21000).G; }
bool Bit(const std::vector<uint8_t> &bits, uint32_t lineBytes, uint32_t i, uint32_t j)
{
    return bits[j * lineBytes + i / 8] & (0x80 >> (i % 8));
}

} // namespace

TEST(Image, PixelsAreTheChartsAtTheirPositions)
{
    struct Case {
        const char *Model;
        uint8_t Lens;
        uint32_t Base;
        WindowRequest W;
    };
    const Case cases[] = {
        {"flatbed600", 0, 600, Window(50, 0, 0, 5100, 7000)},          /* the whole glass */
        {"flatbed600", 0, 600, Window(250, 1800, 3600, 600, 120)},     /* the position field */
        {"duallens168", 1, 1200, Window(1200, 1200, 5100, 1200, 2, kGrey)}, /* line groups, 1/25 in */
    };
    for (Case c : cases) {
        SCOPED_TRACE(testing::Message() << c.Model << " at " << c.W.Resolution << " dpi");
        SimHost host = IdealHost(c.Model);
        c.W.Lens = c.Lens;
        std::vector<uint8_t> image = host.Scan(c.W);
        uint32_t width = c.W.Width * c.W.Resolution / c.Base, lines = c.W.Length * c.W.Resolution / c.Base;
        uint32_t channels = c.W.Composition == kColor ? 3 : 1;
        ASSERT_EQ(image.size(), size_t{width} * lines * channels);
        size_t mismatches = 0;
        for (uint32_t j = 0; j < lines; ++j)
            for (uint32_t i = 0; i < width; ++i) {
                SimRgb e = ChartColor(ChartPos(c.W.X, c.Base, i, c.W.Resolution), ChartPos(c.W.Y, c.Base, j, c.W.Resolution));
                const uint8_t *p = &image[(size_t{j} * width + i) * channels];
                mismatches += channels == 3 ? !(SimRgb{p[0], p[1], p[2]} == e) : p[0] != e.G;
            }
        EXPECT_EQ(mismatches, 0u);
    }
}

TEST(Image, DepthsAboveEightKeepTheHighBits)
{
    /* Grey reading the green row is in the table above; 8 against 16 bits in whole scans (tests/e2e). */
    SimHost host = IdealHost();
    WindowRequest w = Window(100, 900, 600, 60, 6, kGrey, 16); /* inside the green patch */
    EXPECT_EQ(Sample16(host.Scan(w), 5), 65535u);
    w.Depth = 12;
    EXPECT_EQ(Sample16(host.Scan(w), 5), 4095u);
}

TEST(Image, ReadLengthsCutTheStreamAnywhereAndAReadOfNothingRestartsIt)
{
    SimHost host;
    host.Configure("noise", "off"); /* streaks make every byte count */
    ASSERT_EQ(host.SetWindow(Window(250, 0, 0, 1200, 600)), BUSLNK_GOOD);
    uint32_t total = host.Geometry()[1] * host.Geometry()[2];
    std::vector<uint8_t> start = host.ReadImage(1000);
    ASSERT_EQ(host.EndImage(), BUSLNK_GOOD); /* mid-image */
    std::vector<uint8_t> whole = host.ReadImage(total), pieces;
    EXPECT_TRUE(std::equal(start.begin(), start.end(), whole.begin()));
    ASSERT_EQ(host.EndImage(), BUSLNK_GOOD); /* at its end */
    const uint32_t sizes[] = {1, 7, 1499, 1500, 1501, 65536, 3};
    for (int k = 0; pieces.size() < total; ++k) {
        uint32_t n = std::min<uint32_t>(sizes[k % 7], total - static_cast<uint32_t>(pieces.size()));
        uint32_t status = 0;
        std::vector<uint8_t> part = host.ReadImage(n, &status);
        ASSERT_EQ(status, BUSLNK_GOOD);
        pieces.insert(pieces.end(), part.begin(), part.end());
    }
    EXPECT_EQ(pieces, whole);
}

TEST(Image, ReadingPastTheEndReportsEndOfDataWithTheDeliveredCount)
{
    SimHost host = IdealHost();
    ASSERT_EQ(host.SetWindow(Window(100, 0, 0, 600, 60)), BUSLNK_GOOD); /* 3000 bytes */
    uint32_t status = 0;
    host.ReadImage(1000, &status);
    ASSERT_EQ(status, BUSLNK_GOOD);
    std::vector<uint8_t> rest = host.ReadImage(5000, &status);
    ASSERT_EQ(status, BUSLNK_CHECK_CONDITION);
    Sense s = host.RequestSense();
    EXPECT_EQ(s[0], 0xF0);
    EXPECT_EQ(s[12], 0x00);
    EXPECT_EQ(s[13], 0x05);
    EXPECT_EQ(GetBig32(s.data() + 8), 2000u) << "bytes delivered by this READ";
    EXPECT_EQ(GetBig32(s.data() + 3), 3000u) << "bytes it fell short";
    EXPECT_NE(rest[1999], 0xEE) << "delivered bytes were written";
    EXPECT_EQ(rest[2000], 0xEE) << "nothing is written past the end";
    host.ReadImage(10, &status);
    EXPECT_EQ(status, BUSLNK_CHECK_CONDITION);
    EXPECT_EQ(GetBig32(host.RequestSense().data() + 8), 0u);
}

/* --- Colour-tagged segments ---------------------------------------------- */

namespace {

struct Segment {
    char Tag;
    uint32_t RawLine; /* the raw line of the stream it arrived in */
    std::vector<uint8_t> Data;
};

std::vector<Segment> ScanSegments(SimHost &host, const WindowRequest &w)
{
    std::vector<uint8_t> stream = host.Scan(w);
    uint32_t lineBytes = host.Geometry()[1], size = lineBytes / 3;
    std::vector<Segment> segments;
    for (size_t at = 0; at + size <= stream.size(); at += size)
        segments.push_back({static_cast<char>(stream[at]), static_cast<uint32_t>(at / lineBytes),
                            std::vector<uint8_t>(stream.begin() + at + 2, stream.begin() + at + size)});
    return segments;
}

int Row(char tag) { return tag == 'R' ? 0 : tag == 'G' ? 1 : tag == 'B' ? 2 : -1; }

/* Device X counts from the far edge: document x 3.5 in down to 7.5 in, y from 6 in. */
WindowRequest PositionField(uint16_t dpi) { return Window(dpi, 150, 1800, 1200, 300); }

} // namespace

TEST(Segments, GreenArrivesTheGapAfterRedBlueTwiceTheGapAndTheNthOfEachMakeTheNthLine)
{
    /* The gap in lines at the resolution: 4 x resolution / 300, rounded down; 100 dpi in whole scans (tests/e2e). */
    for (auto [dpi, gap] : {std::pair<uint16_t, uint32_t>{300, 4}, {500, 6}}) {
        SCOPED_TRACE(testing::Message() << dpi << " dpi");
        SimHost host = IdealHost("tagged300");
        std::vector<Segment> segments = ScanSegments(host, PositionField(dpi));
        uint32_t lines = host.Geometry()[2];
        ASSERT_EQ(segments.size(), 3 * lines);
        std::vector<const Segment *> byColour[3];
        for (const Segment &s : segments) {
            ASSERT_GE(Row(s.Tag), 0) << "tag " << int(s.Tag);
            byColour[Row(s.Tag)].push_back(&s);
        }
        for (int row = 0; row < 3; ++row)
            ASSERT_EQ(byColour[row].size(), lines);
        for (uint32_t n = 2 * gap; n + 2 * gap < lines; ++n) {
            EXPECT_EQ(byColour[1][n]->RawLine - byColour[0][n]->RawLine, gap) << "line " << n;
            EXPECT_EQ(byColour[2][n]->RawLine - byColour[0][n]->RawLine, 2 * gap) << "line " << n;
        }
        EXPECT_EQ(segments.front().Tag, 'R') << "red runs ahead";
        EXPECT_EQ(segments.back().Tag, 'B') << "blue catches up";
        if (dpi != 300)
            continue;
        /* Device pixel i lies at document x = 8.5 in - (X + i + 1) / 300 in: lines come mirrored. */
        for (uint32_t n = 0; n < lines; ++n)
            for (uint32_t i = 0; i < 1200; i += 7) {
                SimRgb e = ChartColor(102000 - (150 + i + 1) * 40, (1800 + n) * 40);
                ASSERT_EQ((SimRgb{byColour[0][n]->Data[i], byColour[1][n]->Data[i], byColour[2][n]->Data[i]}), e)
                    << n << "," << i;
            }
    }
}

TEST(Segments, SegmentsArrivingTogetherComeInTheConfiguredOrder)
{
    SimHost host = IdealHost("tagged300");
    host.Configure("segment_order", "bgr");
    std::vector<Segment> segments = ScanSegments(host, PositionField(300));
    /* From the ninth line time on all three rows deliver: blue, green, red. */
    for (size_t k = 12; k < 42; k += 3)
        EXPECT_EQ(std::string({segments[k].Tag, segments[k + 1].Tag, segments[k + 2].Tag}), "BGR") << k;
}

/* --- Gamma tables and bilevel output ------------------------------------- */

TEST(Gamma, ColourTablesArriveInSixPiecesOneTablePerChannel)
{
    SimHost host = IdealHost();
    std::vector<uint8_t> tables(3 * 131072);
    for (uint32_t i = 0; i < 65536; ++i) { /* red inverted, green halved, blue constant */
        PutLittle16(&tables[2 * i], 65535 - i);
        PutLittle16(&tables[131072 + 2 * i], i / 2);
        PutLittle16(&tables[262144 + 2 * i], 12345);
    }
    for (uint32_t k = 1; k <= 6; ++k) /* 64 KiB pieces numbered from 1 */
        ASSERT_EQ(host.SendGamma(static_cast<uint8_t>(0x60 | 0x01 | (k << 1)),
                                 {tables.begin() + (k - 1) * 65536, tables.begin() + k * 65536}),
                  BUSLNK_GOOD);
    std::vector<uint8_t> image = host.Scan(Ramp(kColor, 16));
    for (uint32_t i = 0; i < 750; ++i) {
        uint32_t v = RampValue(i) * 257u;
        ASSERT_EQ(Sample16(image, 3 * i + 0), 65535 - v) << i;
        ASSERT_EQ(Sample16(image, 3 * i + 1), v / 2) << i;
        ASSERT_EQ(Sample16(image, 3 * i + 2), 12345u) << i;
    }
}

TEST(Gamma, OneByteEntriesScaleToSixteenBits)
{
    SimHost host = IdealHost();
    std::vector<uint8_t> table(65536);
    for (uint32_t i = 0; i < 65536; ++i)
        table[i] = static_cast<uint8_t>(255 - (i >> 8));
    ASSERT_EQ(host.SendGamma(0x20, table), BUSLNK_GOOD);
    EXPECT_EQ(host.Device.Gamma[1][0], 65535);
    EXPECT_EQ(host.Device.Gamma[1][65535], 0);
}

TEST(Bilevel, ThresholdFromTheWindow)
{
    SimHost host = IdealHost();
    for (uint8_t threshold : {50, 255}) { /* 128 as whole scans use it: tests/e2e */
        WindowRequest w = Ramp(kBilevel, 1);
        w.Threshold = threshold;
        std::vector<uint8_t> bits = host.Scan(w);
        ASSERT_EQ(bits.size(), 6u * 94); /* 750 pixels: 94 bytes a line */
        for (uint32_t j = 0; j < 6; ++j)
            for (uint32_t i = 0; i < 750; ++i)
                ASSERT_EQ(Bit(bits, 94, i, j), RampValue(i) < threshold) << int(threshold) << " " << i;
        EXPECT_EQ(bits[93] & 0x03, 0) << "the two padding bits stay 0";
    }
}

TEST(Bilevel, HalftoneWithTheSentPatternOrTheScannersOwn)
{
    SimHost host = IdealHost();
    std::vector<uint8_t> bits = host.Scan(Ramp(kDithered, 1));
    uint32_t black = 0; /* mid-grey (ramp value 128 at x = 4.25 in) comes out half black */
    for (uint32_t j = 0; j < 4; ++j)
        for (uint32_t i = 372; i < 380; ++i)
            black += Bit(bits, 94, i, j);
    EXPECT_EQ(black, 16u);

    ASSERT_EQ(host.SendHalftone({2, 44, 212, 156, 100}), BUSLNK_GOOD);
    bits = host.Scan(Ramp(kDithered, 1));
    const uint8_t pattern[2][2] = {{44, 212}, {156, 100}};
    for (uint32_t j = 0; j < 6; ++j)
        for (uint32_t i = 0; i < 750; ++i)
            ASSERT_EQ(Bit(bits, 94, i, j), RampValue(i) < pattern[j % 2][i % 2]) << i << "," << j;
}
