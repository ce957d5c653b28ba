/*
 * calibration_test.cpp - the sensor as calibration sees it: raw 16-bit
 * passes over the white strip and in the dark, low byte first and pixel
 * interleaved; the offset and gain words the scanner applies, including
 * the bit 14 extension of the gain; streaks before calibration and none
 * after; model 168's one-channel pieces; the held tables in the lamp page.
 */
#include "sim_host.h"

namespace {

WindowRequest CalibrationPass(int32_t y, unsigned rows)
{
    WindowRequest w;
    w.Y = y, w.Width = 5100, w.Length = 64, w.Composition = rows == 3 ? kColor : kGrey, w.Depth = 16, w.SourceCode = 0x30;
    return w;
}

std::vector<uint32_t> Samples16(const std::vector<uint8_t> &bytes)
{
    std::vector<uint32_t> v(bytes.size() / 2);
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = Sample16(bytes, i);
    return v;
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

} // namespace

TEST(Calibration, WhitePassReadsTheStripRawPixelInterleavedWithSmallNoise)
{
    SimHost host;
    const SimSensor &sensor = host.Device.Sensors[0];
    std::vector<uint8_t> noisy = host.Scan(CalibrationPass(-240, 3));
    EXPECT_NE(host.Scan(CalibrationPass(-240, 3)), noisy) << "noise differs from pass to pass";
    host.Configure("noise", "off");
    std::vector<uint8_t> white = host.Scan(CalibrationPass(-240, 3));
    ASSERT_EQ(white.size(), 64u * 5100 * 3 * 2);
    for (uint32_t line : {0u, 63u})
        for (uint32_t site = 0; site < 5100; ++site)
            for (unsigned row = 0; row < 3; ++row) {
                size_t i = (line * 5100 + site) * 3 + row;
                uint32_t clean = uint32_t(sensor.Dark[row][site]) + sensor.Span[row][site];
                ASSERT_EQ(Sample16(white, i), clean) << line << "," << site << "," << row;
                ASSERT_LE(std::abs(int32_t(Sample16(noisy, i)) - int32_t(clean)), int32_t(kNoiseAmplitude)) << i;
            }
}

TEST(Calibration, DarkPassNeedsTheLampControlDarkBit)
{
    SimHost host;
    host.Configure("noise", "off");
    const SimSensor &sensor = host.Device.Sensors[0];
    ASSERT_EQ(host.SendLampControl(0x05), BUSLNK_GOOD);
    std::vector<uint8_t> dark = host.Scan(CalibrationPass(-332, 1));
    for (uint32_t site = 0; site < 5100; site += 11)
        ASSERT_EQ(Sample16(dark, 5 * 5100 + site), sensor.Dark[1][site]) << site;
    /* Lit, the housing above the strip is dim but not dark; the lamp page ends the dark lighting. */
    for (bool page : {false, true}) {
        ASSERT_EQ(page ? host.SendLamp({0x05, 0, 0, 0, 15, 0, 0, 0, 0}) : host.SendLampControl(0x01), BUSLNK_GOOD);
        std::vector<uint8_t> housing = host.Scan(CalibrationPass(-332, 1));
        for (uint32_t site = 0; site < 5100; site += 11)
            ASSERT_GT(Sample16(housing, site), sensor.Dark[1][site] + 500u) << page << " " << site;
        ASSERT_EQ(host.SendLampControl(0x05), BUSLNK_GOOD);
    }
}

TEST(Calibration, UncalibratedScansShowStreaksCalibratedOnesMatchTheChart)
{
    for (auto [model, rows] : {std::pair<const char *, unsigned>{"flatbed600", 3}, {"gray300", 1}}) {
        SCOPED_TRACE(model);
        SimHost host;
        host.Configure("model", model);
        host.Configure("noise", "off");
        WindowRequest paper; /* white paper between the line groups and the letter F: 5.8 in */
        paper.Y = rows == 3 ? 3480 : 1740, paper.Width = rows == 3 ? 5100 : 2550, paper.Length = 60;
        paper.Composition = rows == 3 ? kColor : kGrey, paper.Depth = 16;
        EXPECT_GT(Spread(Samples16(host.Scan(paper))), 0.10) << "lamp fall-off, chip bands and dust";
        CalibrateLikeAHost(host, rows);
        std::vector<uint32_t> calibrated = Samples16(host.Scan(paper));
        EXPECT_LT(Spread(calibrated), 0.003);
        for (size_t i = 0; i < calibrated.size(); i += 101)
            ASSERT_NEAR(double(calibrated[i]), double(CalibratedLevel(255)), 250.0) << i;
        if (rows == 1)
            continue;
        WindowRequest patches = paper; /* red, green, blue, cyan, magenta, yellow, black, grey */
        patches.Resolution = 100, patches.X = 300, patches.Y = 600, patches.Width = 4500;
        std::vector<uint8_t> image = host.Scan(patches);
        for (uint32_t j = 0; j < 10; ++j)
            for (uint32_t i = 0; i < 750; ++i) {
                SimRgb c = ChartColor(6000 + i * 120, 12000 + j * 120);
                const uint8_t v[3] = {c.R, c.G, c.B};
                for (unsigned row = 0; row < 3; ++row)
                    ASSERT_NEAR(double(Sample16(image, (j * 750 + i) * 3 + row)), double(CalibratedLevel(v[row])), 60.0)
                        << i << "," << j << "," << row;
            }
    }
}

TEST(Calibration, CorrectionWordsDecodeToTheGainTheHostMeant)
{
    /* G = 63920 x 65535 / R; gain word G - 65535, or with bit 14 of the
     * offset word the low 16 bits of G - 65535 + 1. */
    struct Case {
        uint32_t Range;
        uint16_t GainWord;
        bool Flag;
    };
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
    SimHost host = IdealHost();
    std::vector<uint8_t> offsets(2 * 5100), gains(2 * 5100);
    for (uint32_t s = 0; s < 5100; ++s) {
        PutLittle16(&offsets[2 * s], 0x4000); /* offset 0, gain above 131070 */
        PutLittle16(&gains[2 * s], 4);        /* G = 131074 */
    }
    ASSERT_EQ(host.SendShading(0x23, offsets), BUSLNK_GOOD);
    ASSERT_EQ(host.SendShading(0x21, gains), BUSLNK_GOOD);
    WindowRequest w; /* the grey ramp */
    w.Resolution = 100, w.X = 300, w.Y = 1050, w.Width = 2700, w.Length = 6, w.Composition = kGrey, w.Depth = 16;
    std::vector<uint8_t> image = host.Scan(w);
    for (uint32_t i = 0; i < 450; ++i) {
        uint64_t v = ChartColor(6000 + i * 120, 21000).G;
        ASSERT_EQ(Sample16(image, i), std::min<uint64_t>(v * 257 * 131074 / 65535, 65535)) << i;
    }
}

TEST(Calibration, Model168TakesOneChannelPerSend)
{
    SimHost host = IdealHost("duallens168");
    std::vector<uint8_t> piece(2 * 5100);
    const uint8_t qualifiers[3] = {0x03, 0x23, 0x43};
    for (uint32_t k = 0; k < 3; ++k) {
        for (uint32_t s = 0; s < 5100; ++s)
            PutLittle16(&piece[2 * s], 1000 * (k + 1));
        ASSERT_EQ(host.SendShading(qualifiers[k], piece), BUSLNK_GOOD);
    }
    WindowRequest w; /* white paper */
    w.Y = 3480, w.Width = 5100, w.Length = 6, w.Depth = 16;
    std::vector<uint8_t> image = host.Scan(w);
    for (unsigned row = 0; row < 3; ++row)
        EXPECT_EQ(Sample16(image, 3 * 100 + row), 65535u - 1000 * (row + 1)) << row;
    /* Other models know only one channel (0x20) or all three (0x60). */
    for (uint8_t qualifier : {0x03, 0x43}) {
        SimHost other;
        EXPECT_EQ(other.SendShading(qualifier, piece), BUSLNK_CHECK_CONDITION) << int(qualifier);
        EXPECT_EQ(other.RequestSense()[12], 0x24);
    }
}

TEST(Calibration, HeldTablesShowInTheLampPage)
{
    SimHost host;
    EXPECT_EQ(host.Lamp()[0] & 0x20, 0);
    EXPECT_EQ(host.Lamp()[6] & 7, 0);
    ASSERT_EQ(host.SendShading(0x23, std::vector<uint8_t>(2 * 5100)), BUSLNK_GOOD);
    EXPECT_EQ(host.Lamp()[0] & 0x20, 0) << "offsets alone are not a calibration";
    ASSERT_EQ(host.SendShading(0x21, std::vector<uint8_t>(2 * 5100)), BUSLNK_GOOD);
    EXPECT_EQ(host.Lamp()[0] & 0x20, 0x20);
    EXPECT_EQ(host.Lamp()[6] & 7, 1);
}

TEST(Calibration, ShadingTablesOfTheWrongSizeOrFormAreRefused)
{
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
    SimHost host;
    for (const Case &c : cases) {
        EXPECT_EQ(host.SendShading(c.Qualifier, std::vector<uint8_t>(c.Length)), BUSLNK_CHECK_CONDITION) << c.What;
        EXPECT_EQ(host.RequestSense()[12], c.Asc) << c.What;
    }
}
