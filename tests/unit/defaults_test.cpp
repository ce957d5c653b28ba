/*
 * defaults_test.cpp - vDefaultAttribute: the defaults of the worked page,
 * the page variant each source reads, and the failures (a page that cannot
 * be read, a page with base resolution 0) that leave the block alone.
 */
#include "device_control_fixture.h"

using namespace control_test;

namespace {

class DefaultsTest : public DeviceControlTest {
protected:
    static ScanAttributeBlock PoisonedBlock(uint16_t scanSource)
    {
        ScanAttributeBlock block;
        std::memset(&block, 0xA5, sizeof block);
        block.wScanSource = scanSource;
        return block;
    }
};

TEST_F(DefaultsTest, FillsEveryFieldFromTheWorkedPage)
{
    std::vector<uint8_t> page = ParameterPage(0x13EC, 0x1B58, 0x0258); /* 5100, 7000, 600 dpi */
    page[0] = 0x80;
    fake::Queue(BUSLNK_GOOD, page);

    ScanAttributeBlock block = PoisonedBlock(SD_SOURCE_FLATBED);
    vDefaultAttribute(&block);

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
    struct Row {
        uint16_t Width, Length, Base;
        uint16_t WidthMils, LengthMils;
    };
    const Row rows[] = {
        {10200, 14000, 1200, 8500, 11666},
        {2550, 3508, 300, 8500, 11693},
        {65535, 65535, 1000, 65535, 65535}, /* the largest page there is */
        {100, 100, 3, 33333, 33333},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.Base);
        fake::Reset();
        fake::Queue(BUSLNK_GOOD, ParameterPage(row.Width, row.Length, row.Base));
        ScanAttributeBlock block = PoisonedBlock(SD_SOURCE_FLATBED);
        vDefaultAttribute(&block);
        EXPECT_EQ(Value(block.dwResult), 1u);
        EXPECT_EQ(Value(block.wWidth), row.WidthMils);
        EXPECT_EQ(Value(block.wLength), row.LengthMils);
        EXPECT_EQ(Value(block.wRight), static_cast<uint16_t>(row.WidthMils - 1));
        EXPECT_EQ(Value(block.wBottom), static_cast<uint16_t>(row.LengthMils - 1));
        EXPECT_EQ(Value(block.wResolution), row.Base);
    }
}

TEST_F(DefaultsTest, ScanSourceChoosesThePageAndComesBackAsFlatbed)
{
    struct Row {
        uint16_t Source;
        uint8_t Variant;
    };
    const Row rows[] = {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}, {6, 2}, {7, 2}, {8, 0}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.Source);
        fake::Reset();
        fake::Queue(BUSLNK_GOOD, ParameterPage());
        ScanAttributeBlock block = PoisonedBlock(row.Source);
        vDefaultAttribute(&block);
        EXPECT_EQ(Value(block.dwResult), 1u);
        EXPECT_EQ(SentCdbs(), std::vector<std::string>{ParameterReadCdb(0, row.Variant)});
        EXPECT_EQ(Value(block.wScanSource), 1);
    }
}

TEST_F(DefaultsTest, ImageTypeFollowsTheColourDefaultBit)
{
    for (uint8_t byte0 : {0x80, 0xFF, 0x7F, 0x00}) {
        SCOPED_TRACE(static_cast<int>(byte0));
        fake::Reset();
        std::vector<uint8_t> page = ParameterPage();
        page[0] = byte0;
        fake::Queue(BUSLNK_GOOD, page);
        ScanAttributeBlock block = PoisonedBlock(SD_SOURCE_FLATBED);
        vDefaultAttribute(&block);
        EXPECT_EQ(Value(block.wImageType), (byte0 & 0x80) ? 14 : 1);
    }
}

TEST_F(DefaultsTest, FailedPageReadWritesOnlyTheResult)
{
    fake::Queue(fake::CheckCondition(0x40, 0x03)); /* -200 */
    ScanAttributeBlock before = PoisonedBlock(SD_SOURCE_ALT2);
    ScanAttributeBlock block = before;
    vDefaultAttribute(&block);

    EXPECT_EQ(Value(block.dwResult), 0x0000FF38u);
    ExpectOnlyResultWritten(before, block);
}

/* A page with base resolution 0 has no sizes in 1/1000 inch: the call is
 * refused with a command-layer code (high half 0) before any field is
 * written, instead of dividing by 0. */
TEST_F(DefaultsTest, PageWithBaseResolutionZeroIsRefused)
{
    fake::Queue(BUSLNK_GOOD, ParameterPage(5100, 7000, 0));
    ScanAttributeBlock before = PoisonedBlock(SD_SOURCE_FLATBED);
    ScanAttributeBlock block = before;
    vDefaultAttribute(&block);

    EXPECT_EQ(Value(block.dwResult), 0x0000FD3Eu); /* -706 */
    ExpectOnlyResultWritten(before, block);
    EXPECT_EQ(SentCdbs(), std::vector<std::string>{ParameterReadCdb(0, 0)});
}

} // namespace
