/*
 * calibration_test.cpp - the sensor as calibration sees it: raw 16-bit
 * passes over the white strip and in the dark, low byte first and pixel
 * interleaved; the offset and gain words the scanner applies, including
 * the bit 14 extension of the gain; streaks before calibration and none
 * after; model 168's one-channel pieces.
 */
#include "sim_host.h"

#include "sim_bytes.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

WindowRequest CalibrationPass(int32_t y, uint32_t width, unsigned rows)
{
    WindowRequest w;
    w.Y = y;
    w.Width = width;
    w.Length = 64;
    w.Composition = rows == 3 ? kColor : kGrey;
    w.Depth = 16;
    w.SourceCode = 0x30;
    return w;
}

/* A strip of white paper between the line groups and the letter F. */
WindowRequest WhitePaper(uint8_t composition, uint8_t depth)
{
    WindowRequest w;
    w.Y = 3480; /* 5.8 in */
    w.Length = 60;
    w.Width = 5100;
    w.Composition = composition;
    w.Depth = depth;
    return w;
}

/* Largest relative difference of the samples from their mean. */
double Spread(const std::vector<uint32_t> &v)
{
    double mean = 0;
    for (uint32_t x : v)
        mean += x;
    mean /= v.size();
    auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    return std::max(mean - *lo, *hi - mean) / mean;
}

std::vector<uint32_t> Samples16(const std::vector<uint8_t> &bytes)
{
    std::vector<uint32_t> v(bytes.size() / 2);
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = Sample16(bytes, i);
    return v;
}

} // namespace

TEST(Calibration, WhitePassReadsTheStripRawAndPixelInterleaved)
{
    SimHost host;
    host.Configure("noise", "off");
    std::vector<uint8_t> white = host.Scan(CalibrationPass(-240, 5100, 3));
    ASSERT_EQ(white.size(), 64u * 5100 * 3 * 2);
    const SimSensor &sensor = host.Device.Sensors[0];
    for (uint32_t line : {0u, 63u})
        for (uint32_t site = 0; site < 5100; site += 17)
            for (unsigned row = 0; row < 3; ++row)
                ASSERT_EQ(Sample16(white, (line * 5100 + site) * 3 + row),
                          uint32_t(sensor.Dark[row][site]) + sensor.Span[row][site])
                    << line << "," << site << "," << row;
}

TEST(Calibration, DarkPassNeedsTheLampControlDarkBit)
{
    SimHost host;
    host.Configure("noise", "off");
    const SimSensor &sensor = host.Device.Sensors[0];
    ASSERT_EQ(host.SendLampControl(0x05), BUSLNK_GOOD);
    std::vector<uint8_t> dark = host.Scan(CalibrationPass(-332, 5100, 1));
    for (uint32_t site = 0; site < 5100; site += 11)
        ASSERT_EQ(Sample16(dark, 5 * 5100 + site), sensor.Dark[1][site]) << site;
    /* With the light on the housing above the strip is dim but not dark. */
    ASSERT_EQ(host.SendLampControl(0x01), BUSLNK_GOOD);
    std::vector<uint8_t> housing = host.Scan(CalibrationPass(-332, 5100, 1));
    for (uint32_t site = 0; site < 5100; site += 11)
        ASSERT_GT(Sample16(housing, site), sensor.Dark[1][site] + 500u) << site;
    /* The lamp page ends the calibration lighting. */
    ASSERT_EQ(host.SendLampControl(0x05), BUSLNK_GOOD);
    uint8_t page[9] = {0x05, 0, 0, 0, 15, 0, 0, 0, 0};
    ASSERT_EQ(host.SendLamp(page), BUSLNK_GOOD);
    housing = host.Scan(CalibrationPass(-332, 5100, 1));
    EXPECT_GT(Sample16(housing, 100), sensor.Dark[1][100] + 500u);
}

TEST(Calibration, NoiseIsSmallAndDiffersFromPassToPass)
{
    SimHost host;
    std::vector<uint8_t> a = host.Scan(CalibrationPass(-240, 5100, 1));
    std::vector<uint8_t> b = host.Scan(CalibrationPass(-240, 5100, 1));
    EXPECT_NE(a, b);
    const SimSensor &sensor = host.Device.Sensors[0];
    for (uint32_t site = 0; site < 5100; ++site) {
        int32_t clean = sensor.Dark[1][site] + sensor.Span[1][site];
        ASSERT_LE(std::abs(int32_t(Sample16(a, site)) - clean), int32_t(kNoiseAmplitude)) << site;
    }
}

TEST(Calibration, UncalibratedScansShowStreaksCalibratedOnesDoNot)
{
    SimHost host;
    std::vector<uint32_t> raw = Samples16(host.Scan(WhitePaper(kColor, 16)));
    EXPECT_GT(Spread(raw), 0.10) << "lamp fall-off, chip bands and dust";
    CalibrateLikeAHost(host, 3);
    std::vector<uint32_t> calibrated = Samples16(host.Scan(WhitePaper(kColor, 16)));
    EXPECT_LT(Spread(calibrated), 0.006);
    /* White paper lands where a host expects it: 80 + 63920. */
    for (size_t i = 0; i < calibrated.size(); i += 101)
        ASSERT_NEAR(double(calibrated[i]), double(CalibratedLevel(255)), 250.0) << i;
}

TEST(Calibration, CalibratedPatchesMatchTheChart)
{
    SimHost host;
    host.Configure("noise", "off");
    CalibrateLikeAHost(host, 3);
    WindowRequest w;
    w.Resolution = 100;
    w.X = 300;
    w.Y = 600; /* the colour patches */
    w.Width = 4500;
    w.Length = 60;
    w.Depth = 16;
    std::vector<uint8_t> image = host.Scan(w);
    for (uint32_t j = 0; j < 10; ++j)
        for (uint32_t i = 0; i < 750; ++i) {
            SimRgb c = ChartColor(6000 + i * 120, 12000 + j * 120);
            const uint8_t v[3] = {c.R, c.G, c.B};
            for (unsigned row = 0; row < 3; ++row)
                ASSERT_NEAR(double(Sample16(image, (j * 750 + i) * 3 + row)), double(CalibratedLevel(v[row])), 60.0)
                    << i << "," << j << "," << row;
        }
}

TEST(Calibration, GreyCalibrationCorrectsTheGreenRow)
{
    SimHost host;
    host.Configure("model", "gray300");
    host.Configure("noise", "off");
    WindowRequest paper = WhitePaper(kGrey, 16);
    paper.Width = 2550;
    paper.Y = 1740;
    EXPECT_GT(Spread(Samples16(host.Scan(paper))), 0.10);
    CalibrateLikeAHost(host, 1);
    EXPECT_LT(Spread(Samples16(host.Scan(paper))), 0.002);
}

TEST(Calibration, CorrectionWordsDecodeToTheGainTheHostMeant)
{
    struct Case {
        uint32_t Range;
        uint16_t GainWord;
        bool Flag;
    };
    /* G = 63920 x 65535 / R; gain word G - 65535, or with bit 14 of the
     * offset word the low 16 bits of G - 65535 + 1. */
    for (Case c : {Case{63919, 1, false}, Case{39960, 39294, false}, Case{31960, 65535, false},
                   Case{31959, 4, true}, Case{25000, 36489, true}}) {
        uint16_t offsetWord, gainWord;
        EncodeCorrection(1000, 1000 + c.Range, offsetWord, gainWord);
        EXPECT_EQ(gainWord, c.GainWord) << c.Range;
        EXPECT_EQ((offsetWord & 0x4000) != 0, c.Flag) << c.Range;
        uint32_t offset, gain;
        DecodeCorrection(offsetWord, gainWord, offset, gain);
        EXPECT_EQ(gain, 4188997200u / c.Range) << c.Range;
        EXPECT_EQ(offset, 1000 - c.Range * 80 / 63920) << c.Range;
    }
}

TEST(Calibration, ExtendedGainDoublesTheSignal)
{
    SimHost host;
    host.Configure("sensor", "ideal");
    host.Configure("noise", "off");
    std::vector<uint8_t> offsets(2 * 5100), gains(2 * 5100);
    for (uint32_t s = 0; s < 5100; ++s) {
        PutLittle16(&offsets[2 * s], 0x4000); /* offset 0, gain above 131070 */
        PutLittle16(&gains[2 * s], 4);        /* G = 131074 */
    }
    ASSERT_EQ(host.SendShading(0x23, offsets), BUSLNK_GOOD);
    ASSERT_EQ(host.SendShading(0x21, gains), BUSLNK_GOOD);
    WindowRequest w;
    w.Resolution = 100;
    w.Y = 1050;   /* grey ramp */
    w.X = 300;
    w.Width = 2700;
    w.Length = 6;
    w.Composition = kGrey;
    w.Depth = 16;
    std::vector<uint8_t> image = host.Scan(w);
    for (uint32_t i = 0; i < 450; ++i) {
        uint32_t v = ChartColor(6000 + i * 120, 21000).G;
        ASSERT_EQ(Sample16(image, i), std::min<uint64_t>(uint64_t(v) * 257 * 131074 / 65535, 65535)) << i;
    }
}

TEST(Calibration, Model168TakesOneChannelPerSend)
{
    SimHost host;
    host.Configure("model", "duallens168");
    host.Configure("sensor", "ideal");
    host.Configure("noise", "off");
    std::vector<uint8_t> piece(2 * 5100);
    const uint8_t qualifiers[3] = {0x03, 0x23, 0x43};
    const uint16_t offsets[3] = {1000, 2000, 3000};
    for (int k = 0; k < 3; ++k) {
        for (uint32_t s = 0; s < 5100; ++s)
            PutLittle16(&piece[2 * s], offsets[k]);
        ASSERT_EQ(host.SendShading(qualifiers[k], piece), BUSLNK_GOOD);
    }
    WindowRequest w = WhitePaper(kColor, 16);
    w.Length = 6;
    std::vector<uint8_t> image = host.Scan(w);
    for (unsigned row = 0; row < 3; ++row)
        EXPECT_EQ(Sample16(image, 3 * 100 + row), 65535u - offsets[row]) << row;
    /* Other models know only one channel (0x20) or all three (0x60). */
    SimHost other;
    EXPECT_EQ(other.SendShading(0x03, piece), BUSLNK_CHECK_CONDITION);
    EXPECT_EQ(other.RequestSense()[12], 0x24);
    EXPECT_EQ(other.SendShading(0x43, piece), BUSLNK_CHECK_CONDITION);
}

TEST(Calibration, HeldTablesShowInTheLampPage)
{
    SimHost host;
    uint8_t page[9];
    ASSERT_EQ(host.ReadLamp(page), BUSLNK_GOOD);
    EXPECT_EQ(page[0] & 0x20, 0);
    EXPECT_EQ(page[6] & 7, 0);
    std::vector<uint8_t> table(2 * 5100, 0);
    ASSERT_EQ(host.SendShading(0x23, table), BUSLNK_GOOD);
    ASSERT_EQ(host.ReadLamp(page), BUSLNK_GOOD);
    EXPECT_EQ(page[0] & 0x20, 0) << "offsets alone are not a calibration";
    ASSERT_EQ(host.SendShading(0x21, table), BUSLNK_GOOD);
    ASSERT_EQ(host.ReadLamp(page), BUSLNK_GOOD);
    EXPECT_EQ(page[0] & 0x20, 0x20);
    EXPECT_EQ(page[6] & 7, 1);
}

TEST(Calibration, ShadingTablesOfTheWrongSizeOrFormAreRefused)
{
    SimHost host;
    struct Case {
        const char *What;
        uint8_t Qualifier;
        size_t Length;
        uint8_t Asc;
    };
    const Case cases[] = {
        {"odd length", 0x21, 10201, 0x1A},
        {"three channels not a multiple of 6", 0x61, 5104, 0x1A},
        {"wider than the sensor", 0x21, 2 * 5101, 0x1A},
        {"one-byte words", 0x20, 2 * 5100, 0x24},
        {"reserved qualifier bit", 0x25, 2 * 5100, 0x24},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(host.SendShading(c.Qualifier, std::vector<uint8_t>(c.Length)), BUSLNK_CHECK_CONDITION) << c.What;
        EXPECT_EQ(host.RequestSense()[12], c.Asc) << c.What;
    }
}
