/* The scan window: the area, composition and depth, the channel settings. */
#include "driver_fixture.h"
#include "scan/scan_state.h"
#include "scan/window.h"
#include "scsi/commands.h"

namespace {

class Window : public DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        ScanState.BaseResolution = 600;
        ScanState.MaxWidthPixels = 5100;
        ScanState.MaxLengthPixels = 7000;
        ScanState.MaxWidthMils = 8500;
        ScanState.MaxLengthMils = 11666;
        ScanState.ScanResolutionX = ScanState.ScanResolutionY = 250;
        ScanState.BitsPerPixel = 8;
        block = {};
        block.wImageType = 1;
        block.wRight = 999;
        block.wBottom = 999;
    }
    /* Sends the window and returns the 69 bytes that went out. */
    std::vector<uint8_t> Sent()
    {
        fake::Reset();
        EXPECT_TRUE(SendScanWindow(&block));
        EXPECT_EQ(fake::Commands().size(), 1u);
        return fake::Commands().back().DataOut;
    }
    static std::string Hex(const std::vector<uint8_t> &w, int from, int to)
    {
        return fake::Hex({w.begin() + from, w.begin() + to});
    }
    static uint32_t Be32(const std::vector<uint8_t> &w, int at)
    {
        return (uint32_t(w[at]) << 24) | (uint32_t(w[at + 1]) << 16) | (uint32_t(w[at + 2]) << 8) | w[at + 3];
    }
    ScanAttributeBlock block;
};

/* Inclusive edges in 1/1000 inch to base pixels, cut to the glass in mils
 * before and in pixels after; the left edge mirrored for a far-edge origin. */
TEST_F(Window, AreaConversionClampingAndMirroring)
{
    const struct {
        uint16_t Left, Top, Right, Bottom;
        uint32_t Reverse, GlassPixels;
        std::vector<uint32_t> Area; /* X, Y, width, length */
    } rows[] = {
        {1000, 500, 1999, 1498, 0, 5100, {600, 300, 600, 599}},
        {8000, 0, 9999, 60000, 0, 5100, {4800, 0, 300, 6999}},
        {8000, 0, 9999, 999, 0, 200, {4800, 0, 200, 600}},
        {1000, 0, 1999, 999, 1, 5100, {(8500 - 1999 - 1) * 600 / 1000, 0, 600, 600}},
        {1000, 0, 8499, 999, 1, 5100, {0, 0, 4500, 600}},
        {1000, 0, 9000, 999, 1, 5100, {0, 0, 4500, 600}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << "row " << &row - rows);
        block.wLeft = row.Left, block.wTop = row.Top, block.wRight = row.Right, block.wBottom = row.Bottom;
        ScanState.ReverseX = row.Reverse;
        ScanState.MaxWidthPixels = row.GlassPixels;
        std::vector<uint8_t> w = Sent();
        EXPECT_EQ((std::vector<uint32_t>{Be32(w, 14), Be32(w, 18), Be32(w, 22), Be32(w, 26)}), row.Area);
    }
}

TEST_F(Window, CompositionAndDepthFollowTheScanKind)
{
    const struct {
        uint32_t color, binary, lineArt, software, bits;
        const char *bytes; /* composition, depth */
    } cases[] = {
        {0, 0, 0, 0, 8, "02 08"}, {1, 0, 0, 0, 12, "05 0C"}, {0, 1, 1, 0, 1, "00 01"},
        {0, 1, 0, 0, 1, "01 01"}, {0, 1, 1, 1, 1, "02 08"},
    };
    for (const auto &c : cases) {
        ScanState.IsColor = c.color;
        ScanState.IsBinary = c.binary;
        ScanState.IsLineArt = c.lineArt;
        ScanState.SoftwareBinarize = c.software;
        ScanState.BitsPerPixel = c.bits;
        EXPECT_EQ(Hex(Sent(), 33, 35), c.bytes) << "case " << &c - cases;
    }
}

/* Brightness (30), contrast (32), adjust (35), the master tone levels and
 * the three channel groups. */
TEST_F(Window, ChannelSettingsAndToneLevels)
{
    block.wImageType = 4; /* green alone: its channel's settings */
    block.lBrightness[1] = 127;
    block.lContrast[1] = 128; /* only the low 8 bits of value + 128 go out */
    block.lAdjust[1] = -5;
    uint16_t tones[9] = {0x110, 0x120, 0x130, 0x140, 0x150, 0x160, 0x1F0, 0x1E0, 0x1D0};
    block.lpToneLevels = tones;
    std::vector<uint8_t> w = Sent();
    EXPECT_EQ(fake::Hex({w[30], w[32], w[35]}), "FF 00 FE");
    EXPECT_EQ(Hex(w, 48, 69), "00 80 FF 80 80 00 00 80 FF 80 80 00 00 80 FF 80 80 00 00 80 FF")
        << "tone levels need their flags";
    block.wFlags = SD_FLAG_SHADOW | SD_FLAG_HIGHLIGHT;
    EXPECT_EQ(Hex(Sent(), 48, 51), "20 80 E0") << "midtone is the rounded mean";
    block.wFlags = SD_FLAG_SHADOW | SD_FLAG_MIDTONE | SD_FLAG_HIGHLIGHT;
    block.wImageType = 8;
    EXPECT_EQ(Hex(Sent(), 48, 51), "30 60 D0");

    ScanState.IsColor = 1;
    block.wImageType = 14;
    uint16_t colour[9] = {1, 2, 3, 100, 101, 102, 200, 201, 202};
    block.lpToneLevels = colour;
    block.lBrightness[0] = -128;
    block.lBrightness[1] = 0;
    block.lBrightness[2] = 10;
    block.lContrast[1] = 5;
    block.lAdjust[0] = 100;
    w = Sent();
    EXPECT_EQ(fake::Hex({w[30], w[32], w[35]}), "80 80 00");
    EXPECT_EQ(Hex(w, 48, 69), "00 80 FF 00 80 00 01 64 C8 80 85 00 02 65 C9 8A 80 00 03 66 CA");
}

/* The header, resolutions, threshold 128, lens and source code. */
TEST_F(Window, FixedBytesResolutionsLensAndSource)
{
    std::vector<uint8_t> w = Sent();
    ASSERT_EQ(w.size(), 69u);
    EXPECT_EQ(Hex(w, 0, 14), "00 00 00 00 00 00 00 3D 00 00 00 FA 00 FA");
    EXPECT_EQ(fake::Hex({w[31], w[36], w[37], w[38], w[39]}), "80 80 00 00 10");
    EXPECT_EQ(Hex(w, 40, 48), "00 00 00 00 00 00 00 00");
    SelectedLens = 1;
    ScanState.SourceBit2 = 4;
    w = Sent();
    EXPECT_EQ(fake::Hex({w[38], w[39]}), "01 12");
    ScanState.SourceBit2 = 0;
    ScanState.SourceBit1 = 2;
    EXPECT_EQ(Sent()[39], 0x11);
}

} // namespace
