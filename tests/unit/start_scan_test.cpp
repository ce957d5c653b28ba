/* vScannerStartScan: the request checks, the resolution bands, the binary
 * decision, the lamp page and the order of the sequence. */
#include "driver_fixture.h"
#include "scan/calibration.h"
#include "scan/prepare_scan.h"
#include "scan/scan_state.h"
#include "scsi/commands.h"

#include <string>

namespace {

using StartScan = ScanTest;

/* The lamp page the start sends, as the scanner received it. */
std::vector<uint8_t> SentLampPage()
{
    std::vector<uint8_t> page;
    for (const RecordedCommand &c : fake::Commands())
        if (c.Opcode() == 0x2A && c.Cdb[2] == 0x81 && c.Length == 9)
            page = c.DataOut;
    return page;
}

TEST(ScanResolution, BandsAndRounding)
{
    const struct { uint32_t requested, window; } cases[] = {
        {14, 15}, {15, 20}, {90, 90}, {91, 250}, {250, 250}, {251, 500}, {1000, 1000}, {1001, 1010}};
    for (const auto &c : cases)
        EXPECT_EQ(ScanResolutionFor(c.requested, c.requested), c.window) << c.requested << " dpi";
}

TEST_F(StartScan, GreySequenceWithCalibrationSkipped)
{
    block.wResolution = 300;
    ASSERT_EQ(Start(), 1u);
    /* Stop any image; pages; window, page again; calibration skipped;
     * lamps; gamma in two pieces; geometry. */
    EXPECT_EQ(fake::Trace(fake::CommandsWithoutSense()),
              (std::vector<std::string>{"28:00", "28:82", "28:81", "24", "28:82", "28:81", "2A:81", "2A:03", "2A:03",
                                        "28:80"}));
    EXPECT_EQ(ScanState.ScanActive, 1u);
    EXPECT_EQ(uint16_t{block.wWidth}, 300);
    EXPECT_EQ(uint16_t{block.wLength}, 60);
}

TEST_F(StartScan, LampPageCarriesTheTimerOnlyWhenCalibrationIsSkippedEarly)
{
    /* The first alternative source skips calibration without reading the
     * lamp page again, so the timer of the last vSetLampStatus goes out;
     * otherwise the page goes out as the calibration read it. */
    LampTimerMinutes = 20;
    LampTimerFlag = 1;
    scanner.Lamp[1] = 0x13;
    scanner.Lamp[4] = 0x05;
    ASSERT_EQ(Start(), 1u);
    std::vector<uint8_t> page = SentLampPage();
    ASSERT_EQ(page.size(), 9u);
    EXPECT_EQ(fake::Hex({page[1], page[4]}), "13 05");

    Forget();
    block.wScanSource = SD_SOURCE_ALT1;
    scanner.Lamp[5] = 0x02;
    scanner.Lamp[6] = 0x01;
    CalibrationMarker = 0;
    ASSERT_EQ(Start(), 1u);
    page = SentLampPage();
    ASSERT_EQ(page.size(), 9u);
    /* Byte 4 is the timer with its flag, and the lamp-on time request cleared. */
    EXPECT_EQ(fake::Hex({page[0], page[1], page[4]}), "05 03 94");
}

TEST_F(StartScan, LampByteAndPageVariantFollowTheSource)
{
    const struct { uint16_t source, flags, bits; uint8_t modelFlag, lamp, variant; } cases[] = {
        {1, 0x20, 8, 0, 0x05, 0}, {1, 0x00, 8, 0, 0x0D, 0}, {1, 0xA0, 8, 1, 0x0D, 0}, {1, 0xA0, 1, 1, 0x05, 0},
        {1, 0xA0, 8, 0, 0x05, 0}, {6, 0x00, 8, 0, 0x8E, 2}, {0x0102, 0x20, 8, 0, 0x05, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << &c - cases);
        Forget();
        scanner.Page[29] = c.modelFlag;
        block.wScanSource = c.source;
        block.wFlags = c.flags;
        block.wBitsPerPixel = c.bits;
        ASSERT_EQ(Start(), 1u);
        EXPECT_EQ(SentLampPage().at(0), c.lamp);
        EXPECT_EQ(fake::Commands()[1].Cdb[5], c.variant);
    }
}

TEST_F(StartScan, BinaryDecisionAndTheOpticalResolution)
{
    block.wBitsPerPixel = 1;
    const struct { uint16_t resolution, halftone; uint8_t page13, page17; uint32_t lineArt, software; } cases[] = {
        {500, 1, 0x0B, 0x80, 1, 0},
        {600, 1, 0x0B, 0x80, 1, 1},  /* scanned at 1000: the scanner's bits would be too many */
        {1300, 1, 0x0B, 0x80, 1, 1}, /* above the page's bilevel maximum of 1200 */
        {500, SD_HALFTONE_BUILTIN, 0x0B, 0x00, 0, 1}, /* halftoning needs page byte 17 bit 7 as well */
        {500, 1, 0x0A, 0x80, 1, 1},  /* no threshold in the scanner */
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << &c - cases);
        block.wResolution = c.resolution;
        block.wHalftoneMode = c.halftone;
        scanner.Page[13] = c.page13;
        scanner.Page[17] = c.page17;
        ASSERT_EQ(Start(), 1u);
        EXPECT_EQ(ScanState.IsBinary, 1u);
        EXPECT_EQ(ScanState.IsLineArt, c.lineArt);
        EXPECT_EQ(ScanState.SoftwareBinarize, c.software);
    }
    EXPECT_EQ(uint16_t{block.wWidth}, (500 + 7) / 8);

    /* Grey above the optical resolution is scanned at it. */
    block.wBitsPerPixel = 8;
    block.wResolution = 1200;
    ASSERT_EQ(Start(), 1u);
    EXPECT_EQ(ScanState.ExceedsMaxResolution, 1u);
    EXPECT_EQ(ScanState.ScanResolutionX, 1000u);
}

TEST_F(StartScan, RequestsThatCannotBeScannedAreRefused)
{
    /* Type, depth and swapped edges before any command; an area beginning
     * beyond the glass once the page is read. High half 0xFFFF: the export's. */
    const struct { uint16_t type, bits, left, right, top, bottom; size_t commands; } cases[] = {
        {3, 8, 0, 999, 0, 999, 0},       {1, 4, 0, 999, 0, 999, 0},        {1, 17, 0, 999, 0, 999, 0},
        {14, 1, 0, 999, 0, 999, 0},      {1, 8, 500, 499, 0, 999, 0},      {1, 8, 0, 999, 600, 599, 0},
        {1, 8, 8500, 9000, 0, 999, 2},   {1, 8, 0, 999, 11666, 12000, 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << &c - cases);
        Forget();
        block.wImageType = c.type;
        block.wBitsPerPixel = c.bits;
        block.wLeft = c.left;
        block.wRight = c.right;
        block.wTop = c.top;
        block.wBottom = c.bottom;
        EXPECT_EQ(Start(), 0xFFFFFD3Eu);
        EXPECT_EQ(fake::CommandsWithoutSense().size(), c.commands);
    }
}

/* Refusals the page decides: nothing else of it is taken. */
TEST_F(StartScan, PagesThatCannotServeTheRequest)
{
    const uint16_t grey = block.wImageType;
    scanner.Page[13] &= ~0x08;
    block.wImageType = SD_IMAGE_COLOR;
    EXPECT_EQ(Start(), 0xFFFFFECCu);
    EXPECT_EQ(fake::Trace(fake::CommandsWithoutSense()), (std::vector<std::string>{"28:00", "28:82"}));
    EXPECT_EQ(ScanState.BaseResolution, 0u);

    block.wImageType = grey;
    scanner.SetBig16(11, 0);
    EXPECT_EQ(Start(), 0x0000FD3Eu);
    EXPECT_EQ(ScanState.ScanActive, 0u);
}

} // namespace
