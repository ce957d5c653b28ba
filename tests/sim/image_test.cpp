/*
 * image_test.cpp - the image stream of whole-line models: every pixel
 * predicted from the chart (ideal sensor, no noise, identity tables), the
 * stream cut anywhere by READ lengths, the image restarted by a READ of
 * nothing, the end of data, the depths, the far-edge origin and the second
 * lens; and a full-glass scan against the clock.
 */
#include "sim_host.h"

#include "sim_bytes.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

/* Chart position of pixel i of a window at X (base pixels) and resolution r. */
int64_t PixelX(int32_t x, uint32_t base, uint32_t i, uint32_t r) { return int64_t(x) * 12000 / base + int64_t(i) * 12000 / r; }

SimHost IdealHost(const char *model = "flatbed600")
{
    SimHost host;
    host.Configure("model", model);
    host.Configure("sensor", "ideal");
    host.Configure("noise", "off");
    return host;
}

} // namespace

TEST(Image, ColourPixelsAreTheChartsAtTheirPositions)
{
    SimHost host = IdealHost();
    WindowRequest w;
    w.Resolution = 50;
    w.X = 0;
    w.Y = 0;
    w.Width = 5100;
    w.Length = 7000;
    std::vector<uint8_t> image = host.Scan(w);
    ASSERT_EQ(image.size(), 425u * 583 * 3);
    int mismatches = 0;
    for (uint32_t j = 0; j < 583; ++j)
        for (uint32_t i = 0; i < 425; ++i) {
            SimRgb expected = ChartColor(PixelX(0, 600, i, 50), PixelX(0, 600, j, 50));
            const uint8_t *p = &image[(j * 425 + i) * 3];
            if (p[0] != expected.R || p[1] != expected.G || p[2] != expected.B)
                ++mismatches;
        }
    EXPECT_EQ(mismatches, 0);
}

TEST(Image, WindowOffsetMovesTheSampledArea)
{
    SimHost host = IdealHost();
    WindowRequest w;
    w.Resolution = 250;
    w.X = 1800;   /* 3 in */
    w.Y = 3600;   /* 6 in: the position field */
    w.Width = 600;
    w.Length = 120;
    std::vector<uint8_t> image = host.Scan(w);
    for (uint32_t j = 0; j < 50; ++j)
        for (uint32_t i = 0; i < 250; ++i) {
            SimRgb expected = ChartColor(PixelX(1800, 600, i, 250), PixelX(3600, 600, j, 250));
            const uint8_t *p = &image[(j * 250 + i) * 3];
            ASSERT_EQ((SimRgb{p[0], p[1], p[2]}), expected) << i << "," << j;
        }
    /* Red rises along x, green along y in the position field. */
    EXPECT_LT(image[0], image[(249) * 3]);
    EXPECT_LT(image[1], image[(49 * 250) * 3 + 1]);
}

TEST(Image, GreyReadsTheGreenRowAndDepthsReduceFromSixteenBits)
{
    /* Colour patches at 0.5-1.5 in: red, green, blue ... */
    SimHost host = IdealHost();
    WindowRequest w;
    w.Resolution = 100;
    w.Y = 600;     /* 1 in */
    w.Length = 6;
    w.X = 300;     /* 0.5 in */
    w.Width = 2700;
    w.Composition = kGrey;
    std::vector<uint8_t> grey = host.Scan(w);
    EXPECT_EQ(grey[10], 0) << "red patch: no green";
    EXPECT_EQ(grey[85], 255) << "green patch";
    EXPECT_EQ(grey[160], 0) << "blue patch";

    w.Depth = 16;
    std::vector<uint8_t> wide = host.Scan(w);
    ASSERT_EQ(wide.size(), 2 * grey.size());
    EXPECT_EQ(Sample16(wide, 85), 65535u);
    w.Depth = 12;
    std::vector<uint8_t> twelve = host.Scan(w);
    EXPECT_EQ(Sample16(twelve, 85), 4095u);
    /* Grey ramp at 1.75-2.5 in: 16 and 8 bits agree in their high byte. */
    w.Y = 1200;
    w.Depth = 16;
    wide = host.Scan(w);
    w.Depth = 8;
    grey = host.Scan(w);
    for (size_t i = 0; i < grey.size(); ++i)
        ASSERT_EQ(Sample16(wide, i) >> 8, grey[i]) << i;
}

TEST(Image, ReadLengthsCutTheStreamAnywhere)
{
    SimHost host = IdealHost();
    host.Configure("noise", "on");
    host.Configure("sensor", "streaks");
    WindowRequest w;
    w.Resolution = 250;
    w.Width = 1200;
    w.Length = 600;
    ASSERT_EQ(host.SetWindow(w), BUSLNK_GOOD);
    std::array<uint32_t, 3> g = host.Geometry();
    uint32_t total = g[1] * g[2];
    std::vector<uint8_t> whole = host.ReadImage(total);
    /* The same window again, in chunks of odd sizes; noise differs per pass,
     * so compare a noiseless pair instead. */
    host.Configure("noise", "off");
    ASSERT_EQ(host.SetWindow(w), BUSLNK_GOOD);
    whole = host.ReadImage(total);
    ASSERT_EQ(host.SetWindow(w), BUSLNK_GOOD);
    std::vector<uint8_t> pieces;
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

TEST(Image, AReadOfNothingRestartsTheImage)
{
    SimHost host = IdealHost();
    WindowRequest w;
    w.Resolution = 100;
    w.X = 1800;
    w.Y = 3600; /* the position field: green rises from line to line */
    w.Width = 600;
    w.Length = 600;
    ASSERT_EQ(host.SetWindow(w), BUSLNK_GOOD);
    std::vector<uint8_t> first = host.ReadImage(3000);
    std::vector<uint8_t> more = host.ReadImage(3000);
    EXPECT_NE(first, more);
    ASSERT_EQ(host.EndImage(), BUSLNK_GOOD);
    EXPECT_EQ(host.ReadImage(3000), first);
}

TEST(Image, ReadingPastTheEndReportsEndOfDataWithTheDeliveredCount)
{
    SimHost host = IdealHost();
    WindowRequest w;
    w.Resolution = 100;
    w.Width = 600;
    w.Length = 60;
    ASSERT_EQ(host.SetWindow(w), BUSLNK_GOOD);
    uint32_t status = 0;
    std::vector<uint8_t> start = host.ReadImage(1000, &status);
    ASSERT_EQ(status, BUSLNK_GOOD);
    std::vector<uint8_t> rest = host.ReadImage(5000, &status); /* 3000 bytes in all */
    ASSERT_EQ(status, BUSLNK_CHECK_CONDITION);
    Sense s = host.RequestSense();
    EXPECT_EQ(s[12], 0x00);
    EXPECT_EQ(s[13], 0x05);
    EXPECT_EQ(GetBig32(s.data() + 8), 2000u) << "bytes delivered by this READ";
    EXPECT_EQ(GetBig32(s.data() + 3), 3000u) << "bytes it fell short";
    EXPECT_EQ(s[0], 0xF0);
    EXPECT_EQ(rest[1999] == 0xEE && rest[2000] == 0xEE, false) << "delivered bytes were written";
    EXPECT_EQ(rest[2000], 0xEE) << "nothing is written past the end";
    host.ReadImage(10, &status);
    EXPECT_EQ(status, BUSLNK_CHECK_CONDITION);
    EXPECT_EQ(GetBig32(host.RequestSense().data() + 8), 0u);
}

TEST(Image, FarEdgeOriginDeliversLinesMirrored)
{
    /* The red corner mark lies at 7.75-8.25 in, top; the black one at 0-0.25.
     * A scanner whose X runs from the far edge meets red first. */
    SimHost host = IdealHost("tagged300");
    WindowRequest w;
    w.Resolution = 100;
    w.Width = 2550;
    w.Length = 30;
    w.Composition = kGrey;
    std::vector<uint8_t> device = host.Scan(w);
    host.Configure("model", "flatbed600");
    host.Configure("sensor", "ideal");
    w.Width = 5100;
    w.Length = 60;
    std::vector<uint8_t> plain = host.Scan(w);
    ASSERT_EQ(device.size(), plain.size());
    ASSERT_EQ(device.size(), 850u * 10);
    for (uint32_t j = 0; j < 10; ++j)
        for (uint32_t i = 0; i < 850; ++i)
            ASSERT_EQ(device[j * 850 + i], plain[j * 850 + 849 - i]) << i << "," << j;
    EXPECT_EQ(plain[0], 0) << "black mark on the left of the document";
    EXPECT_EQ(device[849], 0) << "... at the end of the device's line";
    EXPECT_EQ(device[30], 0) << "the red mark near the far edge reads black in green";
    EXPECT_EQ(plain[30], 255);
}

TEST(Image, WindowXOfAFarEdgeScannerCountsFromTheFarEdge)
{
    SimHost host = IdealHost("tagged300");
    WindowRequest w;
    w.Resolution = 300;
    w.X = 0;
    w.Width = 75; /* the far quarter inch: 8.25-8.5 in, white */
    w.Length = 30;
    w.Composition = kColor;
    std::vector<uint8_t> stream = host.Scan(w);
    /* First segment of the first line is red: the red mark ends at 8.25 in,
     * the window starts at the far edge, so all white. */
    EXPECT_EQ(stream[0], 'R');
    for (uint32_t i = 0; i < 75; ++i)
        EXPECT_EQ(stream[2 + i], 255) << i;
    w.X = 75;     /* 8.0-8.25 in: red mark */
    stream = host.Scan(w);
    for (uint32_t i = 0; i < 75; ++i)
        EXPECT_EQ(stream[2 + i], 255) << "red row sees the red mark " << i;
}

TEST(Image, SecondLensSamplesAtItsOwnBaseResolution)
{
    SimHost host = IdealHost("duallens168");
    WindowRequest w;
    w.Lens = 1;
    w.Resolution = 1200;
    w.X = 1200;   /* 1 in at 1200 dpi */
    w.Y = 5100;   /* 4.25 in: vertical line groups */
    w.Width = 1200;
    w.Length = 2;
    w.Composition = kGrey;
    std::vector<uint8_t> line = host.Scan(w);
    /* Group 1 (x 1.5-2.5 in) has a period of 1/25 in: 48 pixels at 1200 dpi,
     * the first half black. */
    for (uint32_t i = 0; i < 1200; ++i) {
        SimRgb expected = ChartColor(PixelX(1200, 1200, i, 1200), 5100 * 10);
        ASSERT_EQ(line[i], expected.G) << i;
    }
    EXPECT_EQ(line[600], 0);
    EXPECT_EQ(line[600 + 24], 255);
}

TEST(Image, FullGlassColourScanAt600DpiTakesSeconds)
{
    SimHost host;
    WindowRequest w;
    w.Width = 5100;
    w.Length = 7000;
    ASSERT_EQ(host.SetWindow(w), BUSLNK_GOOD);
    std::array<uint32_t, 3> g = host.Geometry();
    ASSERT_EQ(g[1], 15300u);
    std::vector<uint8_t> chunk(2u << 20);
    uint32_t lines = static_cast<uint32_t>(chunk.size() / g[1]);
    auto start = std::chrono::steady_clock::now();
    uint64_t total = 0;
    for (uint32_t done = 0; done < g[2]; done += lines) {
        uint32_t n = std::min(lines, g[2] - done);
        ASSERT_EQ(host.ReadImage(chunk.data(), n * g[1]), BUSLNK_GOOD);
        total += n * g[1];
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(total, 15300ull * 7000);
    RecordProperty("seconds", std::to_string(seconds));
    std::printf("full-glass 600 dpi colour scan: %.2f s\n", seconds);
    EXPECT_LT(seconds, 30.0);
}
