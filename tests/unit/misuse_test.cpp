/*
 * An application's mistakes: blocks and caller memory left null, calls in
 * the wrong order, requests for nothing or for more than is left, a buffer
 * taken away in the middle of a scan. Each must end in a result code with
 * the scan either going on or cleanly ended, and nothing left allocated.
 */
#include "driver_fixture.h"
#include "entry/settings.h"
#include "fake_scanner.h"
#include "platform/platform.h"
#include "scan/calibration.h"
#include "scan/scan_state.h"
#include "scsi/commands.h"

namespace {

class Misuse : public DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        Reload();
        scanner.Lamp[0] = 0x21;
        scanner.Install();
        block = {};
        block.wImageType = 1;
        block.wScanSource = 1;
        block.wBitsPerPixel = 8;
        block.wHalftoneMode = 1;
        block.wResolution = 250;
        block.wRight = 999;
        block.wBottom = 199; /* 250 x 50 */
        block.wFlags = SD_FLAG_DEFAULT;
    }
    void TearDown() override
    {
        ParamBlock abort = {};
        vScannerAbortScan(&abort);
        Reload();
        DriverTest::TearDown();
    }
    static void Reload()
    {
        Settings = {};
        ScanState = {};
        CalibrationMarker = -2;
        ModelCode = 0;
        LensCount = 1;
        SelectedLens = 0;
    }
    int16_t Start()
    {
        vScannerStartScan(&block);
        return static_cast<int16_t>(block.dwResult);
    }
    uint32_t LineBytes() const
    {
        if (block.wBitsPerPixel == 1)
            return block.wWidth;
        return uint32_t{block.wWidth} * (block.wImageType == SD_IMAGE_COLOR ? 3 : 1);
    }
    /* One call into a buffer exactly as large as asked, filled with 0xA5. */
    ImageDataBlock Read(uint32_t lines, std::vector<uint8_t> *kept = nullptr)
    {
        std::vector<uint8_t> buffer(size_t{lines} * LineBytes(), 0xA5);
        ImageDataBlock read = {};
        read.lpImageBuffer = buffer.empty() ? reinterpret_cast<uint8_t *>(&read) : buffer.data();
        read.dwRequestLines = lines;
        vScannerGetImage(&read);
        if (kept)
            *kept = buffer;
        return read;
    }
    /* Reads until the driver says nothing remains; false if it never does. */
    bool ReadToTheEnd(uint32_t perCall)
    {
        for (int call = 0; call < 1000; ++call) {
            ImageDataBlock read = Read(perCall);
            if (read.dwResult != 1)
                return false;
            if (read.dwRemainLines == 0)
                return ScanState.ScanActive == 0;
        }
        return false;
    }
    size_t Sent(uint8_t opcode, uint8_t type) const
    {
        size_t count = 0;
        for (const RecordedCommand &c : fake::CommandsWithoutSense())
            count += c.Opcode() == opcode && c.Cdb.size() > 2 && c.Cdb[2] == type;
        return count;
    }

    FakeScanner scanner;
    ScanAttributeBlock block;
};

TEST_F(Misuse, NullBlocksAreIgnoredEvenWhileAScanRuns)
{
    ASSERT_EQ(Start(), SD_OK);
    ASSERT_EQ(uint32_t{Read(10).dwReturnLines}, 10u);
    fake::Reset();
    scanner.Install();
    const int live = LiveAllocations();
    const uint16_t lens = SelectedLens;
    const uint8_t timer = LampTimerMinutes;
    const std::vector<uint8_t> lamp(LampStatus.Bytes, LampStatus.Bytes + sizeof LampStatus.Bytes);
    vInitializeScanner(nullptr);
    vScannerCapability(nullptr);
    vDefaultAttribute(nullptr);
    vScannerStartScan(nullptr);
    vScannerGetImage(nullptr);
    vScannerAbortScan(nullptr);
    vScannerMutiLens(nullptr);
    vGetLampStatus(nullptr);
    vSetLampStatus(nullptr);
    EXPECT_TRUE(fake::Commands().empty()) << "sent " << fake::Hex(fake::Commands()[0].Cdb);
    EXPECT_EQ(fake::AttachCalls(), 0);
    EXPECT_EQ(SelectedLens, lens);
    EXPECT_EQ(LampTimerMinutes, timer);
    EXPECT_EQ(fake::Hex(lamp), fake::Hex({LampStatus.Bytes, LampStatus.Bytes + sizeof LampStatus.Bytes}));
    EXPECT_EQ(ScanState.ScanActive, 1u) << "the scan goes on";
    EXPECT_EQ(LiveAllocations(), live);
    EXPECT_TRUE(ReadToTheEnd(40));
}

TEST_F(Misuse, GammaFlagWithoutATableSendsTheIdentity)
{
    ASSERT_EQ(Start(), SD_OK);
    std::vector<uint8_t> identity;
    for (const RecordedCommand &c : fake::Commands())
        if (c.Opcode() == 0x2A && c.Cdb[2] == 0x03)
            identity.insert(identity.end(), c.DataOut.begin(), c.DataOut.end());
    fake::Reset();
    scanner.Install();
    block.wFlags |= SD_FLAG_GAMMA;
    block.lpGammaTable = nullptr;
    ASSERT_EQ(Start(), SD_OK);
    std::vector<uint8_t> sent;
    for (const RecordedCommand &c : fake::Commands())
        if (c.Opcode() == 0x2A && c.Cdb[2] == 0x03)
            sent.insert(sent.end(), c.DataOut.begin(), c.DataOut.end());
    EXPECT_EQ(sent.size(), 131072u);
    EXPECT_TRUE(sent == identity);
}

TEST_F(Misuse, ToneFlagsWithoutLevelsSendTheDefaultLevels)
{
    block.wFlags |= SD_FLAG_SHADOW | SD_FLAG_MIDTONE | SD_FLAG_HIGHLIGHT;
    block.lpToneLevels = nullptr;
    ASSERT_EQ(Start(), SD_OK);
    ASSERT_GE(scanner.Window.size(), 51u);
    EXPECT_EQ(scanner.Window[48], 0);
    EXPECT_EQ(scanner.Window[49], 128);
    EXPECT_EQ(scanner.Window[50], 255);
}

TEST_F(Misuse, CallersPatternMissingOrTooLargeIsRefused)
{
    uint8_t pattern[17 * 17] = {};
    block.wBitsPerPixel = 1;
    block.wHalftoneMode = SD_HALFTONE_CALLER;
    struct Case {
        uint8_t *Pattern;
        uint16_t Side;
        bool ScannerHalftones;
    };
    /* 16 is the most the driver dithers with, 11 the most a scanner takes. */
    for (Case c : {Case{nullptr, 4, true}, Case{nullptr, 4, false}, Case{pattern, 0, true},
                   Case{pattern, 12, true}, Case{pattern, 17, false}}) {
        fake::Reset();
        scanner.Page[13] = c.ScannerHalftones ? 0x0B : 0x08;
        scanner.Install();
        block.lpPattern = c.Pattern;
        block.wPatternSize = c.Side;
        EXPECT_EQ(Start(), SD_ERR_PARAMETER_VALUE) << c.Side << (c.Pattern ? "" : " null");
        EXPECT_EQ(Sent(0x2A, 0x02), 0u) << "no pattern is sent";
        EXPECT_EQ(ScanState.ScanActive, 0u);
    }
    for (Case c : {Case{pattern, 11, true}, Case{pattern, 16, false}}) {
        fake::Reset();
        scanner.Page[13] = c.ScannerHalftones ? 0x0B : 0x08;
        scanner.Install();
        block.lpPattern = c.Pattern;
        block.wPatternSize = c.Side;
        EXPECT_EQ(Start(), SD_OK) << c.Side;
        EXPECT_TRUE(ReadToTheEnd(50)) << c.Side;
    }
}

TEST_F(Misuse, ImageBeforeAnyStartAfterTheEndAndAfterAnAbort)
{
    std::vector<uint8_t> buffer;
    ImageDataBlock read = Read(5, &buffer);
    EXPECT_EQ(uint32_t{read.dwResult}, 0xFFFFFC15u) << "before any start";
    EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 0xA5), static_cast<long>(buffer.size()));

    ASSERT_EQ(Start(), SD_OK);
    ASSERT_TRUE(ReadToTheEnd(50));
    EXPECT_EQ(uint32_t{Read(5).dwResult}, 0xFFFFFC15u) << "after the last line";

    ASSERT_EQ(Start(), SD_OK);
    Read(5);
    ParamBlock abort = {};
    vScannerAbortScan(&abort);
    EXPECT_EQ(uint32_t{abort.dwResult}, 1u);
    fake::Reset();
    scanner.Install();
    read = Read(5, &buffer);
    EXPECT_EQ(uint32_t{read.dwResult}, 0xFFFFFC15u) << "after an abort";
    EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 0xA5), static_cast<long>(buffer.size()));
    EXPECT_TRUE(fake::Commands().empty()) << "a refused call sends nothing";
}

TEST_F(Misuse, AbortTwiceAndAbortWithoutAScan)
{
    ParamBlock abort = {};
    vScannerAbortScan(&abort);
    EXPECT_EQ(uint32_t{abort.dwResult}, 1u) << "no scan: harmless";
    block.wResolution = 600; /* buffered and rescaled: buffers to release */
    ASSERT_EQ(Start(), SD_OK);
    Read(3);
    vScannerAbortScan(&abort);
    vScannerAbortScan(&abort);
    EXPECT_EQ(uint32_t{abort.dwResult}, 1u);
    EXPECT_EQ(LiveAllocations(), 0);
    EXPECT_EQ(ScanState.ScanActive, 0u);
}

TEST_F(Misuse, StartBeforeInitializeStillScans)
{
    /* Nothing checks that the scanner was initialized; the model code is
     * the load value until it is. */
    ASSERT_EQ(Start(), SD_OK);
    EXPECT_TRUE(ReadToTheEnd(7));
    EXPECT_EQ(LiveAllocations(), 0);
}

TEST_F(Misuse, InitializeAndLampCallsDuringAScanLeaveItRunning)
{
    block.wResolution = 600;
    ASSERT_EQ(Start(), SD_OK);
    Read(4);
    InitBlock init = {};
    vInitializeScanner(&init);
    EXPECT_EQ(uint32_t{init.dwResult}, 1u);
    LampBlock lamp = {};
    vGetLampStatus(&lamp);
    lamp.dwLampTimer = 60;
    vSetLampStatus(&lamp);
    EXPECT_EQ(uint32_t{lamp.dwResult}, 1u);
    LensBlock lens = {};
    vScannerMutiLens(&lens);
    EXPECT_EQ(vPaperReady(), 200);
    EXPECT_EQ(ScanState.ScanActive, 1u);
    EXPECT_TRUE(ReadToTheEnd(9));
    EXPECT_EQ(LiveAllocations(), 0);
}

TEST_F(Misuse, BufferTakenAwayInTheMiddleOfABufferedScan)
{
    /* Without a buffer the call is refused and the transfer is set up
     * afresh at the next call; the lines it held are dropped, so the image
     * comes out short, but it ends and leaves nothing behind. */
    for (uint16_t type : {uint16_t{1}, uint16_t{SD_IMAGE_COLOR}}) {
        fake::Reset();
        scanner.Install();
        block.wImageType = type;
        block.wResolution = 100;
        ASSERT_EQ(Start(), SD_OK);
        ASSERT_EQ(uint32_t{Read(3).dwResult}, 1u);
        ImageDataBlock read = {};
        read.dwRequestLines = 3;
        vScannerGetImage(&read);
        EXPECT_EQ(uint32_t{read.dwResult}, 0xFFFFFC15u);
        EXPECT_TRUE(ReadToTheEnd(4)) << "type " << type;
        EXPECT_EQ(LiveAllocations(), 0) << "type " << type;
    }
}

TEST_F(Misuse, NoLinesAskedForFirstInABufferedScan)
{
    block.wResolution = 600;
    ASSERT_EQ(Start(), SD_OK);
    std::vector<uint8_t> buffer;
    ImageDataBlock read = Read(0, &buffer);
    EXPECT_EQ(uint32_t{read.dwResult}, 1u);
    EXPECT_EQ(uint32_t{read.dwReturnLines}, 0u);
    EXPECT_EQ(uint32_t{read.dwRemainLines}, uint32_t{block.wLength});
    EXPECT_EQ(Sent(0x28, 0x00), 1u) << "only the start's READ of 0";
    EXPECT_TRUE(ReadToTheEnd(1000)) << "more lines than are left";
}

} // namespace
