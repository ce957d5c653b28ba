/*
 * An application's mistakes: blocks and caller memory left null, calls in
 * the wrong order. Each must end in a result code with the scan either
 * going on or cleanly ended, and nothing left allocated. (A buffer taken
 * away mid-scan, and requests for no lines or more than are left, are read
 * in the image tests.)
 */
#include "driver_fixture.h"
#include "platform/platform.h"
#include "scan/scan_state.h"
#include "scsi/commands.h"

#include <algorithm>

namespace {

class Misuse : public ScanTest {
protected:
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
    /* A refused image call: nothing written to the buffer, nothing sent. */
    void ExpectRefusedRead()
    {
        Forget();
        std::vector<uint8_t> buffer;
        EXPECT_EQ(uint32_t{Read(2, &buffer).dwResult}, uint32_t(SD_ERR_NOT_SCANNING));
        EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 0xA5), static_cast<long>(buffer.size()));
        EXPECT_TRUE(fake::Commands().empty());
    }
    static std::vector<uint8_t> GammaSent()
    {
        std::vector<uint8_t> data;
        for (const RecordedCommand &c : fake::Commands())
            if (c.Opcode() == 0x2A && c.Cdb[2] == 0x03)
                data.insert(data.end(), c.DataOut.begin(), c.DataOut.end());
        return data;
    }
};

/* Null blocks are ignored; initializing, the lamp and the lens calls go
 * to the scanner. None of them disturbs a scan that is running. */
TEST_F(Misuse, OtherCallsDuringAScanLeaveItRunning)
{
    block.wResolution = 600; /* buffered */
    ASSERT_EQ(Start(), 1u);
    ASSERT_EQ(uint32_t{Read(4).dwReturnLines}, 4u);
    Forget();
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
    EXPECT_EQ(LiveAllocations(), live);

    InitBlock init = {};
    vInitializeScanner(&init);
    EXPECT_EQ(uint32_t{init.dwResult}, 1u);
    LampBlock lampBlock = {};
    vGetLampStatus(&lampBlock);
    lampBlock.dwLampTimer = 60;
    vSetLampStatus(&lampBlock);
    EXPECT_EQ(uint32_t{lampBlock.dwResult}, 1u);
    LensBlock lensBlock = {};
    vScannerMutiLens(&lensBlock);
    EXPECT_TRUE(ReadToTheEnd(9));
    EXPECT_EQ(LiveAllocations(), 0);
}

TEST_F(Misuse, GammaAndToneFlagsWithoutTheirDataSendTheDefaults)
{
    ASSERT_EQ(Start(), 1u);
    const std::vector<uint8_t> identity = GammaSent();
    Forget();
    block.wFlags |= SD_FLAG_GAMMA | SD_FLAG_SHADOW | SD_FLAG_MIDTONE | SD_FLAG_HIGHLIGHT;
    block.lpGammaTable = nullptr;
    block.lpToneLevels = nullptr;
    ASSERT_EQ(Start(), 1u);
    EXPECT_EQ(identity.size(), 131072u);
    EXPECT_TRUE(GammaSent() == identity);
    ASSERT_GE(scanner.Window.size(), 51u);
    EXPECT_EQ(fake::Hex({scanner.Window.begin() + 48, scanner.Window.begin() + 51}), "00 80 FF");
}

/* Before any start, after an abort at any point and after a second abort
 * the image call is refused; the scanner is stopped with a READ of 0. */
TEST_F(Misuse, AbortAtAnyPointAndTwiceReleasesEverything)
{
    ExpectRefusedRead();
    ParamBlock abort = {};
    vScannerAbortScan(&abort);
    EXPECT_EQ(uint32_t{abort.dwResult}, 1u) << "no scan: harmless";
    block.wResolution = 900; /* buffered and rescaled: buffers to release */
    for (uint32_t calls : {0u, 1u, 5u}) {
        ASSERT_EQ(Start(), 1u);
        for (uint32_t i = 0; i < calls; ++i)
            Read(2);
        vScannerAbortScan(&abort);
        EXPECT_EQ(uint32_t{abort.dwResult}, 1u);
        EXPECT_EQ(fake::Hex(fake::Commands().back().Cdb), "28 00 00 00 00 00 00 00 00 00");
        vScannerAbortScan(&abort);
        EXPECT_EQ(uint32_t{abort.dwResult}, 1u);
        EXPECT_EQ(LiveAllocations(), 0) << "after " << calls << " calls";
        ExpectRefusedRead();
    }
}

} // namespace
