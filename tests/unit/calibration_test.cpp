/* Shading calibration: the per-pixel arithmetic, the passes against a
 * scripted scanner, and the rules that skip it. */
#include "driver_fixture.h"
#include "entry/settings.h"
#include "platform/platform.h"
#include "scan/calibration.h"
#include "scan/scan_state.h"
#include "scsi/commands.h"

#include <algorithm>
#include <array>

namespace {

/* One pixel whose 64 dark samples are all `dark` and 64 white ones all
 * `white`, as the calibration computes it. */
PixelCorrection Correct(uint16_t dark, uint16_t white, uint32_t factor = 256)
{
    uint16_t darks[64], whites[64];
    std::fill(std::begin(darks), std::end(darks), dark);
    std::fill(std::begin(whites), std::end(whites), white);
    PixelCorrection pixel = {0, factor, 64, darks, 0, 64, whites, 0, 0, 0};
    ComputePixelCorrection(&pixel);
    pixel.DarkSamples = pixel.WhiteSamples = nullptr;
    return pixel;
}

using PixelMath = DriverTest;

TEST_F(PixelMath, RobustMeanKeepsWhatLiesNearTheMedian)
{
    /* Median 1000: the band 950..1050 is exclusive. */
    uint16_t mixed[64];
    for (int i = 0; i < 64; ++i)
        mixed[i] = static_cast<uint16_t>(i < 30 ? 1000 : i < 60 ? 1010 : i == 60 ? 950 : i == 61 ? 1050 : 60000);
    EXPECT_EQ(RobustMean(64, mixed), (30 * 1000 + 30 * 1010) / 60u);
    EXPECT_TRUE(std::is_sorted(std::begin(mixed), std::end(mixed)));

    /* A median of 0 has an empty band: the mean without the extremes. */
    uint16_t dead[64] = {};
    uint32_t sum = 0;
    for (int i = 40; i < 64; ++i) {
        dead[i] = static_cast<uint16_t>(100 * i);
        sum += i < 63 ? 100 * i : 0;
    }
    EXPECT_EQ(RobustMean(64, dead), sum / 62);
}

/* The words for a dark and white level, a channel factor, and the range
 * applied in shading or in gamma. Gain -1 is not checked; Mask picks the
 * offset bits that are. */
TEST_F(PixelMath, WorkedPixels)
{
    const struct {
        uint16_t Dark, White;
        uint32_t Factor;
        bool InGamma;
        int32_t Gain;
        uint16_t Mask, Offset;
        const char *What;
    } rows[] = {
        {200, 40160, 256, false, 39294, 0xFFFF, 150, "worked pixel"},
        {3000, 2000, 256, false, 1, 0xFFFF, 1, "dead: unit gain over the dark floor"},
        {0, 63920, 256, true, 0, 0x4000, 0, "gain encoding around two"},
        {0, 31960, 256, true, 65535, 0x4000, 0, "gain encoding around two"},
        {0, 31959, 256, true, 4, 0x4000, 0x4000, "gain encoding around two"},
        {0, 65000, 256, true, 1, 0, 0, "capped at 63919, never a gain below one"},
        /* Range 20000: 512 halves it, 64 makes 80000 (capped). */
        {0, 20000, 512, false, (4188997200u / 10000 - 65535 + 1) & 0xFFFF, 0, 0, "factor 512"},
        {0, 20000, 64, false, 1, 0, 0, "factor 64"},
        {100, 101, 65535, false, -1, 0x4000, 0x4000, "huge factor never divides by zero"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << row.What << ", row " << &row - rows);
        Settings.bfApplyInGamma = row.InGamma;
        PixelCorrection pixel = Correct(row.Dark, row.White, row.Factor);
        if (row.Gain >= 0) {
            EXPECT_EQ(pixel.GainWord, row.Gain);
        }
        EXPECT_EQ(pixel.OffsetWord & row.Mask, row.Offset);
    }
    /* Factors scale the range only when it is applied in shading. */
    Settings.bfApplyInGamma = 1;
    EXPECT_EQ(Correct(0, 20000, 512).GainWord, Correct(0, 20000, 256).GainWord);
}

/* --- The sequence against a scripted scanner ------------------------- */

constexpr uint32_t kPixels = 12;

class Calibration : public DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        ScanState.BaseResolution = 600;
        ScanState.MaxWidthPixels = kPixels;
        ScanState.MaxLengthPixels = 7000;
        ScanState.MaxWidthMils = 20;
        ScanState.MaxLengthMils = 11666;
        ScanState.ScanResolutionX = ScanState.ScanResolutionY = 250;
        ScanState.BitsPerPixel = 8;
        std::fill(std::begin(DeviceParameters.Bytes), std::end(DeviceParameters.Bytes), 0);
        std::fill(DeviceParameters.Bytes + 19, DeviceParameters.Bytes + 22, 0xFF); /* white strip at -256 */
        block = {};
        block.wImageType = 1;
        block.wRight = 19;
        block.wBottom = 999;
        Fresh();
    }
    void Fresh()
    {
        fake::Reset();
        fake::SetResponder([this](const RecordedCommand &c) { return Answer(c); });
    }
    static uint16_t White(uint32_t p, uint32_t c) { return static_cast<uint16_t>(30000 + 997 * p + 3001 * c); }
    static uint16_t Dark(uint32_t p, uint32_t c) { return static_cast<uint16_t>(150 + 7 * p + c); }

    /* Lines are dark while the last lamp control byte has its dark bit. */
    FakeReply Answer(const RecordedCommand &c)
    {
        FakeReply reply;
        const uint32_t channels = composition == 5 ? 3 : 1, lineBytes = kPixels * 2 * channels;
        if (c.Opcode() == 0x24) {
            composition = c.DataOut[33];
        } else if (c.Opcode() == 0x2A && c.Cdb[2] == 0x81 && c.Length == 1) {
            lampControl = c.DataOut[0];
        } else if (c.Opcode() == 0x28 && c.Cdb[2] == 0x81) {
            reply.Data.assign(lampPage.begin(), lampPage.end());
        } else if (c.Opcode() == 0x28 && c.Cdb[2] == 0x80) {
            reply.Data = {0, 0, 0, kPixels, 0, 0, uint8_t(lineBytes >> 8), uint8_t(lineBytes), 0, 0, 0, 64, 0, 0, 0, 0};
        } else if (c.Opcode() == 0x28 && c.Cdb[2] == 0x00) {
            for (uint32_t line = 0; line < 64; ++line)
                for (uint32_t p = 0; p < kPixels; ++p)
                    for (uint32_t ch = 0; ch < channels; ++ch) {
                        uint16_t v = lampControl & 0x04 ? Dark(p, ch) : White(p, ch);
                        reply.Data.push_back(uint8_t(v));
                        reply.Data.push_back(uint8_t(v >> 8));
                    }
        }
        return reply;
    }

    /* The words a correct calibration sends, channel by channel. */
    static std::vector<uint8_t> ExpectedTable(uint32_t channels, bool offsets, std::array<uint32_t, 3> factors)
    {
        std::vector<uint8_t> table;
        for (uint32_t c = 0; c < channels; ++c)
            for (uint32_t p = 0; p < kPixels; ++p) {
                PixelCorrection pixel = Correct(Dark(p, c), White(p, c), factors[c]);
                uint16_t word = offsets ? pixel.OffsetWord : pixel.GainWord;
                table.push_back(uint8_t(word));
                table.push_back(uint8_t(word >> 8));
            }
        return table;
    }
    static std::vector<RecordedCommand> Sent(uint8_t opcode, uint8_t type = 0, uint32_t length = 0)
    {
        std::vector<RecordedCommand> sent;
        for (const RecordedCommand &c : fake::Commands())
            if (c.Opcode() == opcode && (opcode == 0x24 || c.Cdb[2] == type) && (length == 0 || c.Length == length))
                sent.push_back(c);
        return sent;
    }
    uint32_t Calibrate()
    {
        ResetCalibrationDefaults();
        return CalibrateIfNeeded(&block);
    }

    ScanAttributeBlock block;
    std::array<uint8_t, 9> lampPage = {0x01, 0, 0, 0, 0, 0, 0, 0, 0};
    uint8_t lampControl = 0;
    uint8_t composition = 0;
};

/* Offsets, then gains; colour channel factors from the settings, then the
 * page (green 0x0200 here), then unity. */
TEST_F(Calibration, TablesForGreyAndColour)
{
    Settings.Factor[0] = 300;
    DeviceParameters.Bytes[32] = 0x02;
    for (uint32_t colour : {0, 1}) {
        Fresh();
        ScanState.IsColor = colour;
        block.wImageType = colour ? 14 : 1;
        ASSERT_EQ(Calibrate(), 1u);
        const std::array<uint32_t, 3> factors = {300, 512, 256};
        std::vector<RecordedCommand> tables = Sent(0x2A, 0x01);
        ASSERT_EQ(tables.size(), 2u);
        EXPECT_EQ(fake::Hex({tables[0].Cdb[5], tables[1].Cdb[5]}), colour ? "63 61" : "23 21");
        EXPECT_EQ(tables[0].DataOut, ExpectedTable(colour ? 3 : 1, true, factors)) << colour;
        EXPECT_EQ(tables[1].DataOut, ExpectedTable(colour ? 3 : 1, false, factors)) << colour;
    }
}

TEST_F(Calibration, GreyFlatbedRunsBothPassesInOrder)
{
    ASSERT_EQ(Calibrate(), 1u);
    std::vector<std::string> expected = {
        "28:81",                                   /* lamp page */
        "24", "2A:81", "00", "28:80", "28:00",     /* white window, lamp, ready, geometry, lines */
        "28:81", "24", "2A:81", "00", "28:80", "28:00", /* dark pass */
        "2A:81", "00",                             /* lamp back */
        "2A:01", "2A:01",                          /* offset and gain tables */
        "28:81", "24"};                            /* lamp page, the scan's window */
    EXPECT_EQ(fake::Trace(), expected);
    EXPECT_EQ(Sent(0x24).back().DataOut[33], 2) << "the scan's own window comes back";
}

/* White pass, dark pass, after: the dark bit (4) and the alternative lamp
 * bit, swapped by the second alternative source. */
TEST_F(Calibration, LampBytesOfThePasses)
{
    const struct { uint8_t Page0; uint32_t SourceBit2; const char *Lamps; uint8_t Source; } rows[] = {
        {0x85, 0, "01 85 05", 0x30}, {0x01, 4, "81 05 85", 0x32}};
    for (const auto &row : rows) {
        Fresh();
        lampPage[0] = row.Page0;
        ScanState.SourceBit2 = row.SourceBit2;
        ASSERT_EQ(Calibrate(), 1u);
        std::vector<RecordedCommand> lamps = Sent(0x2A, 0x81, 1);
        ASSERT_EQ(lamps.size(), 3u);
        EXPECT_EQ(fake::Hex({lamps[0].DataOut[0], lamps[1].DataOut[0], lamps[2].DataOut[0]}), row.Lamps);
        EXPECT_EQ(Sent(0x24).at(0).DataOut[39], row.Source);
    }
}

TEST_F(Calibration, WhiteStripPositionIsNeverPositive)
{
    std::fill(DeviceParameters.Bytes + 19, DeviceParameters.Bytes + 22, 0);
    DeviceParameters.Bytes[22] = 0x10;
    ResetCalibrationDefaults();
    EXPECT_EQ(CalibrationState.WhiteOffsetY, 0);
}

TEST_F(Calibration, ValidCalibrationIsKeptUnlessTheSettingsInsist)
{
    lampPage[0] = 0x21;
    Settings.Factor[2] = 400;
    ASSERT_EQ(Calibrate(), 1u);
    EXPECT_EQ(fake::Trace(), std::vector<std::string>{"28:81"});
    EXPECT_EQ(CalibrationState.ChannelFactor[2], 400) << "factors are refreshed anyway";

    Fresh();
    Settings.Calibrate = 1;
    ASSERT_EQ(Calibrate(), 1u);
    EXPECT_EQ(Sent(0x2A, 0x01).size(), 2u);
}

TEST_F(Calibration, FirstAlternativeSourceCalibratesOncePerKind)
{
    ScanState.SourceBit1 = 2;
    ScanState.IsColor = 1;
    LampStatus.Bytes[5] = lampPage[5] = 0x02;
    LampStatus.Bytes[6] = lampPage[6] = 0x01;
    auto calibrated = [this] {
        Fresh();
        EXPECT_EQ(Calibrate(), 1u);
        return !fake::Commands().empty();
    };
    EXPECT_TRUE(calibrated());
    EXPECT_FALSE(calibrated()) << "same kind again: skipped";
    ScanState.IsColor = 0;
    EXPECT_TRUE(calibrated()) << "a grey scan in between calibrates";
    EXPECT_EQ(Sent(0x2A, 0x01).at(0).Cdb[5], 0x63) << "in three channels, whatever the scan";
    ScanState.IsColor = 1;
    EXPECT_TRUE(calibrated()) << "and so does the colour scan after it";
    LampStatus.Bytes[6] = 0x02;
    EXPECT_TRUE(calibrated()) << "device state other than 1: no skip";
}

/* A line shorter than its 16-bit pixels, or dark lines longer than the
 * white ones (the buffer holds white lines), is refused before any line of
 * that pass is read. */
TEST_F(Calibration, InconsistentLineLengthsAreRefused)
{
    for (int pass : {0, 1}) {
        fake::Reset();
        int geometries = 0;
        fake::SetResponder([&](const RecordedCommand &c) {
            FakeReply reply = Answer(c);
            if (c.Opcode() == 0x28 && c.Cdb[2] == 0x80 && geometries++ == pass)
                reply.Data[pass ? 6 : 7] = pass ? reply.Data[6] + 1 : 4;
            return reply;
        });
        EXPECT_EQ(Calibrate(), static_cast<uint32_t>(static_cast<uint16_t>(SD_ERR_PARAMETER_VALUE))) << pass;
        EXPECT_EQ(fake::Trace().back(), "28:80") << pass;
        EXPECT_TRUE(Sent(0x2A, 0x01).empty()) << pass;
    }
}

} // namespace
