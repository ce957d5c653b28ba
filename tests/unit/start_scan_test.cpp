/*
 * vScannerStartScan: the request checks, the scan resolution bands, the
 * binary decision, the lamp page, the order of the whole sequence against a
 * scripted scanner, and failures at every command and allocation.
 */
#include "driver_fixture.h"
#include "entry/settings.h"
#include "fake_scanner.h"
#include "platform/platform.h"
#include "scan/calibration.h"
#include "scan/prepare_scan.h"
#include "scan/scan_state.h"
#include "scsi/commands.h"

#include <cstdio>
#include <string>

namespace {

class StartScan : public DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        Settings = {};
        ScanState = {};
        CalibrationMarker = -2;
        LampTimerMinutes = 15;
        LampTimerFlag = 0;
        scanner.Lamp[0] = 0x21; /* calibration still valid: no passes unless asked */
        scanner.Install();
        block = {};
        block.wImageType = 1;
        block.wScanSource = 1;
        block.wBitsPerPixel = 8;
        block.wHalftoneMode = 1;
        block.wResolution = 300;
        block.wRight = 999;
        block.wBottom = 499;
        block.wFlags = SD_FLAG_DEFAULT;
    }
    void TearDown() override
    {
        ParamBlock abort = {};
        vScannerAbortScan(&abort);
        Settings = {};
        ScanState = {};
        DriverTest::TearDown();
    }
    uint32_t Start()
    {
        block.dwResult = 0;
        vScannerStartScan(&block);
        return block.dwResult;
    }

    FakeScanner scanner;
    ScanAttributeBlock block;
};

TEST(ScanResolution, BandsAndRounding)
{
    const struct {
        uint32_t requested, window;
    } cases[] = {{0, 15},    {12, 15},   {14, 15},  {15, 20},   {50, 50},    {75, 80},
                 {90, 90},   {91, 250},  {100, 250}, {250, 250}, {251, 500}, {300, 500},
                 {500, 500}, {501, 1000}, {600, 1000}, {1000, 1000}, {1001, 1010}, {1200, 1200}};
    for (const auto &c : cases)
        EXPECT_EQ(ScanResolutionFor(c.requested, c.requested), c.window) << c.requested << " dpi";
}

TEST_F(StartScan, GreySequenceWithCalibrationSkipped)
{
    ASSERT_EQ(Start(), 1u);
    std::vector<std::string> expected = {
        "28:00",          /* end any image in progress */
        "28:82", "28:81", /* parameter page, lamp page */
        "24", "28:82",    /* window, page again */
        "28:81",          /* calibration: lamp page says it still holds */
        "2A:81",          /* lamps */
        "2A:03", "2A:03", /* gamma, one channel in two pieces */
        "28:80"};         /* geometry */
    EXPECT_EQ(fake::Trace(fake::CommandsWithoutSense()), expected);
    EXPECT_EQ(ScanState.ScanActive, 1u);
    EXPECT_EQ(ScanState.EndOfData, 0u);
    EXPECT_EQ(block.wWidth, 300);
    EXPECT_EQ(block.wLength, 150);
    EXPECT_EQ(ScanState.ScanResolutionX, 500u);
}

/* The lamp page the start sends, as the scanner received it. */
static std::vector<uint8_t> SentLampPage()
{
    std::vector<uint8_t> page;
    for (const RecordedCommand &c : fake::Commands())
        if (c.Opcode() == 0x2A && c.Cdb[2] == 0x81 && c.Length == 9)
            page = c.DataOut;
    return page;
}

TEST_F(StartScan, LampPageCarriesTheTimerWhenCalibrationIsSkippedEarly)
{
    /* The first alternative source skips calibration before reading the
     * lamp page again, so the timer prepared from the last vSetLampStatus
     * goes out. */
    LampTimerMinutes = 20;
    LampTimerFlag = 1;
    block.wScanSource = SD_SOURCE_ALT1;
    scanner.Lamp[1] = 0x13;
    scanner.Lamp[4] = 0x05;
    scanner.Lamp[5] = 0x02;
    scanner.Lamp[6] = 0x01;
    CalibrationMarker = 0;
    ASSERT_EQ(Start(), 1u);
    std::vector<uint8_t> page = SentLampPage();
    ASSERT_EQ(page.size(), 9u);
    EXPECT_EQ(page[0], 0x05);
    EXPECT_EQ(page[1], 0x03) << "byte 4 is the timer, not the lamp-on time";
    EXPECT_EQ(page[4], 0x80 | 20);
}

TEST_F(StartScan, LampPageGoesOutAsTheCalibrationLastReadIt)
{
    LampTimerMinutes = 20;
    scanner.Lamp[1] = 0x13;
    scanner.Lamp[4] = 0x05;
    ASSERT_EQ(Start(), 1u);
    std::vector<uint8_t> page = SentLampPage();
    ASSERT_EQ(page.size(), 9u);
    EXPECT_EQ(page[1], 0x13);
    EXPECT_EQ(page[4], 0x05);
}

TEST_F(StartScan, LampByteRules)
{
    const struct {
        uint16_t source, flags, bits;
        uint8_t modelFlag;
        uint8_t lamp;
    } cases[] = {
        {1, 0x20, 8, 0, 0x05}, {4, 0x20, 8, 0, 0x86}, {1, 0x00, 8, 0, 0x0D}, {1, 0xA0, 8, 1, 0x0D},
        {1, 0xA0, 1, 1, 0x05}, {1, 0xA0, 8, 0, 0x05}, {6, 0x00, 8, 0, 0x8E},
    };
    for (const auto &c : cases) {
        fake::Reset();
        scanner.Install();
        scanner.Page[29] = c.modelFlag;
        scanner.Page[13] |= 0x01;
        block.wScanSource = c.source;
        block.wFlags = c.flags;
        block.wBitsPerPixel = c.bits;
        ASSERT_EQ(Start(), 1u) << "case " << &c - cases;
        uint8_t sent = 0;
        for (const RecordedCommand &cmd : fake::Commands())
            if (cmd.Opcode() == 0x2A && cmd.Cdb[2] == 0x81 && cmd.Length == 9)
                sent = cmd.DataOut[0];
        EXPECT_EQ(sent, c.lamp) << "case " << &c - cases;
    }
}

TEST_F(StartScan, SourceBitsChooseThePageVariant)
{
    const struct {
        uint16_t source;
        uint8_t variant;
    } cases[] = {{1, 0}, {2, 1}, {4, 2}, {6, 2}, {0x0102, 1}};
    for (const auto &c : cases) {
        fake::Reset();
        scanner.Install();
        block.wScanSource = c.source;
        ASSERT_EQ(Start(), 1u);
        EXPECT_EQ(fake::Commands()[1].Cdb[5], c.variant) << "source " << c.source;
    }
    EXPECT_EQ(ScanState.SourceBit1, 2u);
    EXPECT_EQ(ScanState.SourceBit2, 0u);
}

TEST_F(StartScan, GreyAboveTheOpticalResolutionIsScannedAtIt)
{
    block.wResolution = 1200;
    ASSERT_EQ(Start(), 1u);
    EXPECT_EQ(ScanState.ExceedsMaxResolution, 1u);
    EXPECT_EQ(ScanState.ScanResolutionX, 1000u);
    EXPECT_EQ(ScanState.MaxResolutionX, 600u);
}

TEST_F(StartScan, BinaryDecision)
{
    block.wBitsPerPixel = 1;
    block.wResolution = 500;
    ASSERT_EQ(Start(), 1u);
    EXPECT_EQ(ScanState.IsBinary, 1u);
    EXPECT_EQ(ScanState.IsLineArt, 1u);
    EXPECT_EQ(ScanState.SoftwareBinarize, 0u);

    block.wResolution = 600; /* scanned at 1000: the scanner's bits would be too many */
    ASSERT_EQ(Start(), 1u);
    EXPECT_EQ(ScanState.SoftwareBinarize, 1u);
    EXPECT_EQ(block.wWidth, (600 + 7) / 8);

    block.wResolution = 1300; /* above the page's bilevel maximum of 1200 */
    ASSERT_EQ(Start(), 1u);
    EXPECT_EQ(ScanState.SoftwareBinarize, 1u);

    block.wResolution = 500;
    block.wHalftoneMode = SD_HALFTONE_BUILTIN;
    scanner.Page[17] = 0;
    ASSERT_EQ(Start(), 1u);
    EXPECT_EQ(ScanState.IsLineArt, 0u);
    EXPECT_EQ(ScanState.SoftwareBinarize, 1u) << "halftoning needs page byte 17 bit 7 as well";

    block.wHalftoneMode = 1;
    scanner.Page[13] &= ~0x01;
    ASSERT_EQ(Start(), 1u);
    EXPECT_EQ(ScanState.SoftwareBinarize, 1u);
}

TEST_F(StartScan, ColourOnAScannerWithoutColour)
{
    scanner.Page[13] &= ~0x08;
    block.wImageType = SD_IMAGE_COLOR;
    ScanState.ScanActive = 0;
    EXPECT_EQ(Start(), 0xFFFFFECCu);
    EXPECT_EQ(fake::Trace(fake::CommandsWithoutSense()), (std::vector<std::string>{"28:00", "28:82"}));
    EXPECT_EQ(ScanState.IsColor, 1u);
    EXPECT_EQ(ScanState.BaseResolution, 0u) << "nothing else of the page is taken";
}

TEST_F(StartScan, RequestsThatCannotBeScannedAreRefusedBeforeAnyCommand)
{
    const struct {
        uint16_t type, bits, left, right, top, bottom;
    } cases[] = {
        {3, 8, 0, 999, 0, 999},  {0, 8, 0, 999, 0, 999},   {15, 8, 0, 999, 0, 999},
        {1, 0, 0, 999, 0, 999},  {1, 4, 0, 999, 0, 999},   {1, 17, 0, 999, 0, 999},
        {14, 1, 0, 999, 0, 999}, {1, 8, 500, 499, 0, 999}, {1, 8, 0, 999, 600, 599},
    };
    for (const auto &c : cases) {
        fake::Reset();
        block.wImageType = c.type;
        block.wBitsPerPixel = c.bits;
        block.wLeft = c.left;
        block.wRight = c.right;
        block.wTop = c.top;
        block.wBottom = c.bottom;
        EXPECT_EQ(Start(), 0xFFFFFD3Eu) << "case " << &c - cases;
        EXPECT_TRUE(fake::Commands().empty()) << "case " << &c - cases;
    }
}

TEST_F(StartScan, AreaBeginningBeyondTheGlassIsRefused)
{
    block.wLeft = 8500;
    block.wRight = 9000;
    EXPECT_EQ(Start(), 0xFFFFFD3Eu);
    EXPECT_EQ(fake::Trace(fake::CommandsWithoutSense()), (std::vector<std::string>{"28:00", "28:82"}));
    block.wLeft = 0;
    block.wTop = 11666;
    block.wBottom = 12000;
    EXPECT_EQ(Start(), 0xFFFFFD3Eu);
}

TEST_F(StartScan, PageWithoutBaseResolutionIsRefused)
{
    scanner.SetBig16(11, 0);
    EXPECT_EQ(Start(), 0x0000FD3Eu);
    EXPECT_EQ(ScanState.ScanActive, 0u);
}

TEST_F(StartScan, EveryFailingCommandStopsTheStartWithItsCode)
{
    ScanState.ScanActive = 0;
    scanner.Lamp[0] = 0x01; /* calibrate, so every step runs */
    block.wImageType = SD_IMAGE_COLOR;
    ASSERT_EQ(Start(), 1u);
    size_t total = fake::Commands().size();
    ParamBlock abort = {};
    vScannerAbortScan(&abort);
    int live = LiveAllocations();
    for (size_t k = 1; k < total; ++k) {
        fake::Reset();
        size_t count = 0;
        std::string failed;
        scanner.Hook = [&](const RecordedCommand &, FakeReply &reply) {
            if (count++ == k) {
                reply.Status = BUSLNK_FAILURE;
                failed = fake::Trace(fake::CommandsWithoutSense()).back();
            }
        };
        scanner.Install();
        ScanState.ScanActive = 0;
        uint32_t result = Start();
        if (failed == "2A:81" && fake::Commands()[k].Length == 1) {
            EXPECT_EQ(result, 1u) << "k=" << k << ": a lamp control byte's answer is not examined";
        } else if (failed == "2A:01") {
            EXPECT_EQ(result, 1u) << "k=" << k << ": a failed shading table does not stop the start";
        } else {
            EXPECT_EQ(result, 0xFC14u) << "k=" << k << " (" << failed << ")";
            EXPECT_EQ(ScanState.ScanActive, 0u) << "k=" << k;
        }
        vScannerAbortScan(&abort);
        EXPECT_EQ(LiveAllocations(), live) << "k=" << k;
    }
    scanner.Hook = nullptr;
}

TEST_F(StartScan, EveryAllocationFailureEndsInNoMemoryWithNothingLeft)
{
    scanner.Lamp[0] = 0x01;
    block.wImageType = SD_IMAGE_COLOR;
    block.wResolution = 900; /* enlarged: the pipeline needs line buffers */
    int live = LiveAllocations();
    ParamBlock abort = {};
    for (int n = 0;; ++n) {
        fake::Reset();
        scanner.Install();
        ScanState.ScanActive = 0;
        FailAllocationAfter(n, false);
        uint32_t result = Start();
        int injected = StopFailingAllocations();
        if (injected == 0) {
            EXPECT_EQ(result, 1u);
            EXPECT_GE(n, 5) << "passes, scratch, gamma tables, line buffers";
            break;
        }
        EXPECT_EQ(static_cast<uint16_t>(result), 0xFC11u) << "n=" << n;
        EXPECT_EQ(ScanState.ScanActive, 0u) << "n=" << n;
        EXPECT_EQ(LiveAllocations(), live) << "n=" << n;
    }
    vScannerAbortScan(&abort);
    EXPECT_EQ(LiveAllocations(), live);
}

TEST_F(StartScan, NewStartEndsTheScanBeforeIt)
{
    block.wResolution = 900;
    ASSERT_EQ(Start(), 1u);
    int live = LiveAllocations();
    ASSERT_EQ(Start(), 1u);
    EXPECT_EQ(LiveAllocations(), live) << "the first scan's buffers were released";
}

} // namespace
