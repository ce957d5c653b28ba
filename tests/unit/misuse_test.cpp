/* An application's mistakes: null blocks and memory, calls out of order.
 * The scan goes on or ends cleanly, and nothing is left allocated. */
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

/* Null blocks are ignored; initializing, the lamp and the lens calls go to
 * the scanner. None disturbs a running scan. */
TEST_F(Misuse, OtherCallsDuringAScanLeaveItRunning)
{
    block.wResolution = 600; /* buffered */
    ASSERT_EQ(Start(), 1u);
    ASSERT_EQ(uint32_t{Read(4).dwReturnLines}, 4u);
    Forget();
    const int live = LiveAllocations();
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

/* Before any start and after an abort at any point (twice too) the image
 * call is refused; the scanner is stopped with a READ of 0. */
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
