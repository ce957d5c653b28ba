/*
 * defaults_test.cpp - vDefaultAttribute: the defaults of the worked page,
 * the sizes at other base resolutions, the page variant each source reads
 * and the image type the page's colour bit gives. Its failures are in the
 * failure loops.
 */
#include "device_control_fixture.h"

using namespace control_test;

namespace {

using DefaultsTest = DeviceControlTest;

ScanAttributeBlock Defaults(const std::vector<uint8_t> &page, uint16_t scanSource = SD_SOURCE_FLATBED)
{
    fake::Reset();
    fake::Queue(BUSLNK_GOOD, page);
    ScanAttributeBlock block = Poisoned<ScanAttributeBlock>();
    block.wScanSource = scanSource;
    vDefaultAttribute(&block);
    return block;
}

TEST_F(DefaultsTest, FillsEveryFieldFromTheWorkedPage)
{
    std::vector<uint8_t> page = ParameterPage(5100, 7000, 600);
    page[0] = 0x80;
    ScanAttributeBlock block = Defaults(page);

    EXPECT_EQ(Value(block.dwResult), 1u);
    EXPECT_EQ(SentCdbs(), std::vector<std::string>{ParameterReadCdb(0, 0)});
    EXPECT_EQ(Value(block.wWidth), 8500);
    EXPECT_EQ(Value(block.wLength), 11666); /* 7000000 / 600, truncated */
    EXPECT_EQ(Value(block.wRight), 8499);
    EXPECT_EQ(Value(block.wBottom), 11665);
    EXPECT_EQ(Value(block.wResolution), 600);
    EXPECT_EQ(Value(block.wLeft), 0);
    EXPECT_EQ(Value(block.wTop), 0);
    for (int channel = 0; channel < 3; ++channel) {
        EXPECT_EQ(Value(block.lContrast[channel]), 0);
        EXPECT_EQ(Value(block.lBrightness[channel]), 0);
        EXPECT_EQ(Value(block.lAdjust[channel]), 0);
    }
    EXPECT_EQ(Value(block.wImageType), 14);
    EXPECT_EQ(Value(block.wScanSource), 1);
    EXPECT_EQ(Value(block.wBitsPerPixel), 8);
    EXPECT_EQ(Value(block.wHalftoneMode), 1);
    EXPECT_EQ(Value(block.wHalftonePattern), 5);
    EXPECT_EQ(Value(block.wPatternSize), 0);
    EXPECT_EQ(Value(block.lpPattern), nullptr);
    EXPECT_EQ(Value(block.wReserved1), 0);
    EXPECT_EQ(Value(block.dwReserved2), 0u);
    EXPECT_EQ(Value(block.wReserved3), 8);
    EXPECT_EQ(Value(block.wReserved4), 1);
    EXPECT_EQ(Value(block.wReserved5), 2);
    EXPECT_EQ(Value(block.wFlags), 0x0020);
    EXPECT_EQ(Value(block.lpToneLevels), nullptr);
    EXPECT_EQ(Value(block.wGammaScale), 0);
    EXPECT_EQ(Value(block.lpGammaTable), nullptr);
    /* The header fields around dwResult are the caller's. */
    EXPECT_EQ(Value(block.wReserved), 0xA5A5);
    EXPECT_EQ(Value(block.dwReserved), 0xA5A5A5A5u);
}

TEST_F(DefaultsTest, SizesFollowTheBaseResolution)
{
    const struct {
        uint16_t Width, Length, Base, WidthMils, LengthMils;
    } rows[] = {
        {10200, 14000, 1200, 8500, 11666},
        {2550, 3508, 300, 8500, 11693},
        {65535, 65535, 1000, 65535, 65535}, /* the largest page there is */
        {100, 100, 3, 33333, 33333},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.Base);
        ScanAttributeBlock block = Defaults(ParameterPage(row.Width, row.Length, row.Base));
        EXPECT_EQ(Value(block.dwResult), 1u);
        EXPECT_EQ(Value(block.wWidth), row.WidthMils);
        EXPECT_EQ(Value(block.wLength), row.LengthMils);
        EXPECT_EQ(Value(block.wRight), static_cast<uint16_t>(row.WidthMils - 1));
        EXPECT_EQ(Value(block.wBottom), static_cast<uint16_t>(row.LengthMils - 1));
        EXPECT_EQ(Value(block.wResolution), row.Base);
    }
}

/* The source chooses the page and comes back as flatbed; page byte 0 bit 7
 * alone gives colour. */
TEST_F(DefaultsTest, SourceChoosesThePageAndTheColourBitTheImageType)
{
    const struct {
        uint16_t Source;
        uint8_t Variant, PageByte0;
        uint16_t ImageType;
    } rows[] = {{0, 0, 0x80, 14}, {1, 0, 0xFF, 14}, {2, 1, 0x7F, 1}, {3, 1, 0x00, 1},
                {4, 2, 0x80, 14}, {6, 2, 0x00, 1},  {7, 2, 0x80, 14}, {8, 0, 0x00, 1}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.Source);
        std::vector<uint8_t> page = ParameterPage();
        page[0] = row.PageByte0;
        ScanAttributeBlock block = Defaults(page, row.Source);
        EXPECT_EQ(Value(block.dwResult), 1u);
        EXPECT_EQ(SentCdbs(), std::vector<std::string>{ParameterReadCdb(0, row.Variant)});
        EXPECT_EQ(Value(block.wScanSource), 1);
        EXPECT_EQ(Value(block.wImageType), row.ImageType);
    }
}

} // namespace
