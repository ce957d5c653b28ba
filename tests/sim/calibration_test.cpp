/*
 * calibration_test.cpp - raw passes and the correction words against the
 * sensor model; that calibration removes the streaks is proven by whole
 * scans through the driver (tests/e2e).
 */
#include "sim_host.h"

namespace {

WindowRequest CalibrationPass(int32_t y, uint8_t composition)
{
    return {.Y = y, .Width = 5100, .Length = 64, .Composition = composition, .Depth = 16, .SourceCode = 0x30};
}

} // namespace

TEST(Calibration, WhitePassReadsTheStripRawPixelInterleavedWithSmallNoise)
{
    SimHost host;
    const SimSensor &sensor = host.Device.Sensors[0];
    std::vector<uint8_t> noisy = host.Scan(CalibrationPass(-240, kColor));
    EXPECT_NE(host.Scan(CalibrationPass(-240, kColor)), noisy) << "noise differs from pass to pass";
    host.Configure("noise", "off");
    std::vector<uint8_t> white = host.Scan(CalibrationPass(-240, kColor));
    ASSERT_EQ(white.size(), 64u * 5100 * 3 * 2);
    for (size_t i = 0; i < 5100 * 3; ++i) { /* line 0, pixel interleaved */
        uint32_t clean = uint32_t(sensor.Dark[i % 3][i / 3]) + sensor.Span[i % 3][i / 3];
        ASSERT_EQ(Sample16(white, i), clean) << i;
        ASSERT_LE(std::abs(int32_t(Sample16(noisy, i)) - int32_t(clean)), int32_t(kNoiseAmplitude)) << i;
    }
}

TEST(Calibration, DarkPassNeedsTheLampControlDarkBit)
{
    SimHost host;
    host.Configure("noise", "off");
    const SimSensor &sensor = host.Device.Sensors[0];
    ASSERT_EQ(host.SendLampControl(0x05), BUSLNK_GOOD);
    std::vector<uint8_t> dark = host.Scan(CalibrationPass(-332, kGrey));
    for (uint32_t site = 0; site < 5100; site += 11)
        ASSERT_EQ(Sample16(dark, 5 * 5100 + site), sensor.Dark[1][site]) << site;
    /* Lit, the housing above the strip is dim but not dark; the lamp page ends the dark lighting. */
    for (bool page : {false, true}) {
        ASSERT_EQ(page ? host.SendLamp({0x05, 0, 0, 0, 15, 0, 0, 0, 0}) : host.SendLampControl(0x01), BUSLNK_GOOD);
        std::vector<uint8_t> housing = host.Scan(CalibrationPass(-332, kGrey));
        for (uint32_t site = 0; site < 5100; site += 11)
            ASSERT_GT(Sample16(housing, site), sensor.Dark[1][site] + 500u) << page << " " << site;
        ASSERT_EQ(host.SendLampControl(0x05), BUSLNK_GOOD);
    }
}

TEST(Calibration, CorrectionWordsSubtractTheOffsetAndScaleByTheGain)
{
    /* Bit 14 of the offset word adds 131070 to the gain word, else 65535. */
    const struct {
        uint16_t OffsetWord, GainWord;
        uint32_t Offset, Gain;
    } cases[] = {{0x4000, 4, 0, 131074}, {0, 32768, 0, 98303}, {0x4000 | 9000, 0, 9000, 131070}, {12000, 0, 12000, 65535}};
    for (const auto &c : cases) {
        SimHost host = IdealHost();
        std::vector<uint8_t> offsets(2 * 5100), gains(2 * 5100);
        for (uint32_t s = 0; s < 5100; ++s) {
            PutLittle16(&offsets[2 * s], c.OffsetWord);
            PutLittle16(&gains[2 * s], c.GainWord);
        }
        ASSERT_EQ(host.SendShading(0x23, offsets), BUSLNK_GOOD);
        ASSERT_EQ(host.SendShading(0x21, gains), BUSLNK_GOOD);
        /* The grey ramp. */
        std::vector<uint8_t> image =
            host.Scan({.Resolution = 100, .X = 300, .Y = 1050, .Width = 2700, .Length = 6, .Composition = kGrey, .Depth = 16});
        for (uint32_t i = 0; i < 450; ++i) {
            uint64_t v = ChartColor(6000 + i * 120, 21000).G * 257u;
            uint64_t expected = v > c.Offset ? std::min<uint64_t>((v - c.Offset) * c.Gain / 65535, 65535) : 0;
            ASSERT_EQ(Sample16(image, i), expected) << c.OffsetWord << "/" << c.GainWord << " at " << i;
        }
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
    std::vector<uint8_t> image = host.Scan({.Y = 3480, .Width = 5100, .Length = 6, .Depth = 16}); /* white paper */
    for (unsigned row = 0; row < 3; ++row)
        EXPECT_EQ(Sample16(image, 3 * 100 + row), 65535u - 1000 * (row + 1)) << row;
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
