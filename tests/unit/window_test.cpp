/*
 * The scan window: area conversion and clamping, mirroring for a far-edge
 * origin, composition and depth, and the per-channel settings.
 */
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
        EXPECT_EQ(uint32_t{block.dwResult}, 1u);
        EXPECT_EQ(fake::Commands().size(), 1u);
        return fake::Commands().back().DataOut;
    }
    static uint32_t Be32(const std::vector<uint8_t> &w, int at)
    {
        return (uint32_t(w[at]) << 24) | (uint32_t(w[at + 1]) << 16) | (uint32_t(w[at + 2]) << 8) | w[at + 3];
    }
    ScanAttributeBlock block;
};

TEST_F(Window, HeaderAndResolutions)
{
    std::vector<uint8_t> w = Sent();
    ASSERT_EQ(w.size(), 69u);
    EXPECT_EQ(fake::Hex({w.begin(), w.begin() + 14}), "00 00 00 00 00 00 00 3D 00 00 00 FA 00 FA");
    EXPECT_EQ(w[31], 128);
    EXPECT_EQ(w[36], 128);
    EXPECT_EQ(w[37], 0);
    EXPECT_EQ(fake::Hex({w.begin() + 40, w.begin() + 48}), "00 00 00 00 00 00 00 00");
}

TEST_F(Window, AreaConvertsToBasePixelsWithInclusiveEdges)
{
    block.wLeft = 1000;
    block.wTop = 500;
    block.wRight = 1999;
    block.wBottom = 1498;
    std::vector<uint8_t> w = Sent();
    EXPECT_EQ(Be32(w, 14), 600u);
    EXPECT_EQ(Be32(w, 18), 300u);
    EXPECT_EQ(Be32(w, 22), 600u);
    EXPECT_EQ(Be32(w, 26), 599u);
}

TEST_F(Window, AreaBeyondTheGlassIsCutBeforeAndAfterConversion)
{
    block.wLeft = 8000;
    block.wRight = 9999;
    block.wBottom = 60000;
    std::vector<uint8_t> w = Sent();
    EXPECT_EQ(Be32(w, 22), 300u) << "500 mils left of the edge";
    EXPECT_EQ(Be32(w, 26), 6999u) << "11666 mils, converted";
    ScanState.MaxWidthPixels = 200;
    w = Sent();
    EXPECT_EQ(Be32(w, 22), 200u) << "limited to the glass in pixels";
}

TEST_F(Window, FarEdgeOriginMirrorsTheLeftEdge)
{
    ScanState.ReverseX = 1;
    block.wLeft = 1000;
    block.wRight = 1999;
    std::vector<uint8_t> w = Sent();
    EXPECT_EQ(Be32(w, 14), (8500u - 1999 - 1) * 600 / 1000);
    EXPECT_EQ(Be32(w, 22), 600u) << "the width does not change";
    block.wRight = 8499;
    EXPECT_EQ(Be32(Sent(), 14), 0u);
    block.wRight = 9000;
    EXPECT_EQ(Be32(Sent(), 14), 0u);
}

TEST_F(Window, CompositionAndDepthFollowTheScanKind)
{
    const struct {
        uint32_t color, binary, lineArt, software, bits;
        uint8_t composition, depth;
    } cases[] = {
        {0, 0, 0, 0, 8, 2, 8},  {0, 0, 0, 0, 16, 2, 16}, {1, 0, 0, 0, 8, 5, 8},
        {1, 0, 0, 0, 12, 5, 12}, {0, 1, 1, 0, 1, 0, 1},  {0, 1, 0, 0, 1, 1, 1},
        {0, 1, 0, 1, 1, 2, 8},  {0, 1, 1, 1, 1, 2, 8},
    };
    for (const auto &c : cases) {
        ScanState.IsColor = c.color;
        ScanState.IsBinary = c.binary;
        ScanState.IsLineArt = c.lineArt;
        ScanState.SoftwareBinarize = c.software;
        ScanState.BitsPerPixel = c.bits;
        std::vector<uint8_t> w = Sent();
        EXPECT_EQ(w[33], c.composition) << "case " << &c - cases;
        EXPECT_EQ(w[34], c.depth) << "case " << &c - cases;
    }
}

TEST_F(Window, OneChannelScanTakesItsChannelsSettings)
{
    block.wImageType = 4;
    block.lBrightness[1] = 127;
    block.lContrast[1] = 128; /* only the low 8 bits of value + 128 go out */
    block.lAdjust[1] = -5;
    std::vector<uint8_t> w = Sent();
    EXPECT_EQ(w[30], 255);
    EXPECT_EQ(w[32], 0);
    EXPECT_EQ(w[35], 0xFE);
    EXPECT_EQ(fake::Hex({w.begin() + 48, w.begin() + 51}), "00 80 FF");
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(fake::Hex({w.begin() + 51 + 6 * k, w.begin() + 57 + 6 * k}), "80 80 00 00 80 FF");
}

TEST_F(Window, ToneLevelsNeedTheirFlags)
{
    uint16_t tones[9] = {0x110, 0x120, 0x130, 0x140, 0x150, 0x160, 0x1F0, 0x1E0, 0x1D0};
    block.lpToneLevels = tones;
    std::vector<uint8_t> w = Sent();
    EXPECT_EQ(fake::Hex({w.begin() + 48, w.begin() + 51}), "00 80 FF");
    block.wFlags = SD_FLAG_SHADOW | SD_FLAG_HIGHLIGHT;
    w = Sent();
    EXPECT_EQ(fake::Hex({w.begin() + 48, w.begin() + 51}), "10 80 F0") << "midtone is the rounded mean";
    block.wFlags = SD_FLAG_SHADOW | SD_FLAG_MIDTONE | SD_FLAG_HIGHLIGHT;
    block.wImageType = 8;
    w = Sent();
    EXPECT_EQ(fake::Hex({w.begin() + 48, w.begin() + 51}), "30 60 D0");
}

TEST_F(Window, ColourScanCarriesEachChannelInItsGroup)
{
    ScanState.IsColor = 1;
    block.wImageType = 14;
    uint16_t tones[9] = {1, 2, 3, 100, 101, 102, 200, 201, 202};
    block.lpToneLevels = tones;
    block.wFlags = SD_FLAG_SHADOW | SD_FLAG_MIDTONE | SD_FLAG_HIGHLIGHT;
    block.lBrightness[0] = -128;
    block.lBrightness[2] = 10;
    block.lContrast[1] = 5;
    block.lAdjust[0] = 100;
    std::vector<uint8_t> w = Sent();
    EXPECT_EQ(w[30], 128);
    EXPECT_EQ(w[32], 128);
    EXPECT_EQ(w[35], 0);
    EXPECT_EQ(fake::Hex({w.begin() + 48, w.begin() + 51}), "00 80 FF");
    EXPECT_EQ(fake::Hex({w.begin() + 51, w.begin() + 57}), "00 80 00 01 64 C8");
    EXPECT_EQ(fake::Hex({w.begin() + 57, w.begin() + 63}), "80 85 00 02 65 C9");
    EXPECT_EQ(fake::Hex({w.begin() + 63, w.begin() + 69}), "8A 80 00 03 66 CA");
}

TEST_F(Window, LensAndSource)
{
    SelectedLens = 1;
    ScanState.SourceBit1 = 2;
    std::vector<uint8_t> w = Sent();
    EXPECT_EQ(w[38], 1);
    EXPECT_EQ(w[39], 0x11);
    ScanState.SourceBit2 = 4;
    EXPECT_EQ(Sent()[39], 0x12);
    ScanState.SourceBit1 = ScanState.SourceBit2 = 0;
    EXPECT_EQ(Sent()[39], 0x10);
}

} // namespace
