/*
 * lamp_test.cpp - vGetLampStatus and vSetLampStatus: lamp state and timer
 * bits, the request that the scanner report its lamp-on time, the lamp-on
 * clock across minute changes and a wrapping tick count, the timer rounding,
 * the caller's lamp bits, and the failures.
 */
#include "device_control_fixture.h"

using namespace control_test;

namespace {

class GetLampTest : public DeviceControlTest {
protected:
    static LampBlock PoisonedBlock()
    {
        LampBlock block;
        std::memset(&block, 0xA5, sizeof block);
        return block;
    }

    /* One vGetLampStatus at the given tick, on a scanner that reports the
     * lamp-on minutes; returns the block. */
    static LampBlock ReadAt(uint32_t now, uint8_t lamps, uint8_t minutes)
    {
        Now = now;
        fake::Queue(BUSLNK_GOOD, StatusPage(lamps, 0x10, minutes));
        LampBlock block = PoisonedBlock();
        vGetLampStatus(&block);
        return block;
    }
};

TEST_F(GetLampTest, ReportsLampsTimerFlagAndLampOnTime)
{
    std::vector<uint8_t> status = {0x03, 0x10, 0x00, 0x00, 0x85, 0x05, 0x00, 0x00, 0x00};
    fake::Queue(BUSLNK_GOOD, status);
    Now = 50000;
    LampBlock block = PoisonedBlock();
    vGetLampStatus(&block);

    EXPECT_EQ(Value(block.dwResult), 1u);
    EXPECT_EQ(Value(block.wLampState), 0xC003);
    EXPECT_EQ(Value(block.dwLampOnTime), 5u * 64);
    EXPECT_EQ(Value(block.dwLampTimer), 0xA5A5A5A5u); /* the timer is not reported alongside */
    EXPECT_EQ(SentCdbs(), std::vector<std::string>{kLampReadCdb});
    /* The read lands in the shared copy, for vSetLampStatus and the scan. */
    EXPECT_EQ(fake::Hex({LampStatus.Bytes, LampStatus.Bytes + 9}), fake::Hex(status));
}

TEST_F(GetLampTest, LampOnClockCountsSecondsWithinAMinute)
{
    struct Row {
        uint32_t Now;
        uint8_t Minutes;
        uint32_t OnTime;
    };
    const Row rows[] = {
        {10000, 5, 5 * 64},           /* the first reading starts a new minute */
        {22500, 5, 5 * 64 + 12},      /* 12.5 s later */
        {69999, 5, 5 * 64 + 59},
        {75000, 5, 5 * 64 + (65 & 63)}, /* the scanner is late: only 6 bits of seconds */
        {76000, 6, 6 * 64},           /* the minute changed: the clock restarts */
        {79500, 6, 6 * 64 + 3},
        {80000, 7, 7 * 64},
        {80000, 7, 7 * 64},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.Now);
        LampBlock block = ReadAt(row.Now, 0x01, row.Minutes);
        EXPECT_EQ(Value(block.dwResult), 1u);
        EXPECT_EQ(Value(block.wLampState), 0x4001);
        EXPECT_EQ(Value(block.dwLampOnTime), row.OnTime);
    }
}

TEST_F(GetLampTest, LampOnClockSurvivesTheTickCountWrapping)
{
    EXPECT_EQ(Value(ReadAt(0xFFFFF000u, 0x02, 9).dwLampOnTime), 9u * 64);
    EXPECT_EQ(Value(ReadAt(0x00000800u, 0x02, 9).dwLampOnTime), 9u * 64 + 6); /* 0x1800 ms */
}

TEST_F(GetLampTest, LampsOffReportZeroAndRestartTheClock)
{
    EXPECT_EQ(Value(ReadAt(5000, 0x01, 2).dwLampOnTime), 2u * 64);

    LampBlock off = ReadAt(9000, 0x00, 2);
    EXPECT_EQ(Value(off.wLampState), 0x4000);
    EXPECT_EQ(Value(off.dwLampOnTime), 0u);

    /* Same minute as before the lamps went off: seconds count from the
     * reading with the lamps off. */
    EXPECT_EQ(Value(ReadAt(12000, 0x02, 2).dwLampOnTime), 2u * 64 + 3);
}

TEST_F(GetLampTest, AsksTheScannerToReportTheLampOnTime)
{
    std::vector<uint8_t> first = {0x01, 0x04, 0x47, 0x00, 0x0A, 0x05, 0x01, 0x00, 0x00};
    std::vector<uint8_t> second = first;
    second[1] = 0x14;
    second[4] = 0x07;
    fake::Queue(BUSLNK_GOOD, first);
    fake::Queue(BUSLNK_GOOD);
    fake::Queue(BUSLNK_GOOD, second);
    LampBlock block = PoisonedBlock();
    vGetLampStatus(&block);

    EXPECT_EQ(Value(block.dwResult), 1u);
    ASSERT_EQ(SentCdbs(), (std::vector<std::string>{kLampReadCdb, kLampSendCdb, kLampReadCdb}));
    std::vector<uint8_t> sent = first;
    sent[1] = 0x14; /* byte 1 bit 4 set, the rest as read */
    EXPECT_EQ(fake::Hex(fake::Commands()[1].DataOut), fake::Hex(sent));
    EXPECT_EQ(Value(block.wLampState), 0x4001);
    EXPECT_EQ(Value(block.dwLampOnTime), 7u * 64); /* minutes of the second reading */
    EXPECT_EQ(Value(block.dwLampTimer), 0xA5A5A5A5u);
}

TEST_F(GetLampTest, ScannerThatCannotReportGivesTheTimerInSeconds)
{
    std::vector<uint8_t> status = StatusPage(0x02, 0x00, 0x8F); /* flag + 15 minutes */
    fake::Queue(BUSLNK_GOOD, status);
    fake::Queue(BUSLNK_GOOD);
    fake::Queue(BUSLNK_GOOD, status); /* bit 4 stays clear */
    LampBlock block = PoisonedBlock();
    vGetLampStatus(&block);

    EXPECT_EQ(Value(block.dwResult), 1u);
    EXPECT_EQ(Value(block.wLampState), 0x8002);
    EXPECT_EQ(Value(block.dwLampTimer), 900u);
    EXPECT_EQ(Value(block.dwLampOnTime), 0xA5A5A5A5u);
    EXPECT_EQ(fake::Commands().size(), 3u);
}

TEST_F(GetLampTest, FailedFirstReadWritesOnlyTheResult)
{
    fake::Queue(fake::CheckCondition(0x60, 0x00)); /* -204 */
    LampBlock before = PoisonedBlock();
    LampBlock block = before;
    vGetLampStatus(&block);

    EXPECT_EQ(Value(block.dwResult), 0x0000FF34u);
    ExpectOnlyResultWritten(before, block);
    EXPECT_EQ(SentCdbs(), std::vector<std::string>{kLampReadCdb});
}

TEST_F(GetLampTest, FailedSendStopsWithTheCopyAlreadyChanged)
{
    fake::Queue(BUSLNK_GOOD, StatusPage(0x03, 0x00, 0x05));
    fake::Queue(fake::CheckCondition(0x1A, 0x00)); /* -705 */
    LampBlock block = PoisonedBlock();
    vGetLampStatus(&block);

    EXPECT_EQ(Value(block.dwResult), 0x0000FD3Fu);
    EXPECT_EQ(Value(block.wLampState), 0x0003);
    EXPECT_EQ(Value(block.dwLampTimer), 0xA5A5A5A5u);
    EXPECT_EQ(Value(block.dwLampOnTime), 0xA5A5A5A5u);
    EXPECT_EQ(LampStatus.Bytes[1], 0x10);
    EXPECT_EQ(SentCdbs(), (std::vector<std::string>{kLampReadCdb, kLampSendCdb}));
}

TEST_F(GetLampTest, FailedSecondReadLeavesTimeFieldsAlone)
{
    fake::Queue(BUSLNK_GOOD, StatusPage(0x01, 0x00, 0x05));
    fake::Queue(BUSLNK_GOOD);
    fake::Queue(BUSLNK_ADAPTER_FAILURE);
    LampBlock block = PoisonedBlock();
    vGetLampStatus(&block);

    EXPECT_EQ(Value(block.dwResult), 0x0000FE0Bu);
    EXPECT_EQ(Value(block.wLampState), 0x0001);
    EXPECT_EQ(Value(block.dwLampTimer), 0xA5A5A5A5u);
    EXPECT_EQ(Value(block.dwLampOnTime), 0xA5A5A5A5u);
}

class SetLampTest : public DeviceControlTest {
protected:
    /* One vSetLampStatus; returns the page it sent (empty if none). */
    static std::vector<uint8_t> Set(uint16_t lampState, uint32_t timer, uint32_t *result = nullptr)
    {
        fake::Reset();
        LampBlock block = {};
        block.wLampState = lampState;
        block.dwLampTimer = timer;
        vSetLampStatus(&block);
        if (result)
            *result = block.dwResult;
        const std::vector<RecordedCommand> &commands = fake::Commands();
        return commands.empty() ? std::vector<uint8_t>{} : commands[0].DataOut;
    }
};

TEST_F(SetLampTest, SendsTheSharedCopyWithoutReadingItFirst)
{
    /* As the last reader left it: extra bits in bytes 0 and 1, and bytes the
     * lamp functions do not own. */
    std::memcpy(LampStatus.Bytes, "\x28\x15\x47\x33\x85\x05\x01\x02\x09", 9);
    uint32_t result = 0;
    std::vector<uint8_t> sent = Set(SD_LAMP_1, 600, &result);

    EXPECT_EQ(result, 1u);
    EXPECT_EQ(SentCdbs(), std::vector<std::string>{kLampSendCdb});
    EXPECT_EQ(fake::Hex(sent), "29 05 47 33 0A 05 01 02 09");
    EXPECT_EQ(LampTimerMinutes, 10);
    EXPECT_EQ(LampTimerFlag, 0);
}

/* The caller's two lamp bits are sent as given, not both lamps on. */
TEST_F(SetLampTest, CallersLampBitsPrevail)
{
    for (uint16_t lamps : {0, 1, 2, 3}) {
        SCOPED_TRACE(lamps);
        LampStatus.Bytes[0] = static_cast<uint8_t>(lamps == 3 ? 0x20 : 0x23);
        std::vector<uint8_t> sent = Set(lamps, 0);
        ASSERT_EQ(sent.size(), 9u);
        EXPECT_EQ(sent[0] & 0x03, lamps);
        EXPECT_EQ(sent[0] & 0xFC, 0x20);
    }
}

TEST_F(SetLampTest, TimerIsRoundedToMinutesUpTo127)
{
    struct Row {
        uint32_t Seconds;
        uint8_t Minutes;
    };
    const Row rows[] = {
        {0, 0},       {29, 0},        {30, 1},           {89, 1},     {90, 2},
        {7620, 127},  {7649, 127},    {30000, 127},
        {0xFFFFFFE2u, 127}, /* would wrap to 0 minutes in 32 bits */
        {0xFFFFFFFFu, 127},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.Seconds);
        std::vector<uint8_t> sent = Set(0x0003, row.Seconds);
        ASSERT_EQ(sent.size(), 9u);
        EXPECT_EQ(sent[4], row.Minutes);
        EXPECT_EQ(LampTimerMinutes, row.Minutes);
    }
}

TEST_F(SetLampTest, TimerFlagGoesIntoByte4Bit7)
{
    std::vector<uint8_t> sent = Set(0x8003, 120);
    EXPECT_EQ(sent[4], 0x82);
    EXPECT_EQ(LampTimerFlag, 1);

    /* A flag left in the copy by a read is not sent again. */
    sent = Set(0x0003, 120);
    EXPECT_EQ(sent[4], 0x02);
    EXPECT_EQ(LampTimerFlag, 0);
}

TEST_F(SetLampTest, ClearsTheLampOnTimeReportingBit)
{
    LampStatus.Bytes[1] = 0xFF;
    std::vector<uint8_t> sent = Set(0x0001, 60);
    EXPECT_EQ(sent[1], 0xEF);
}

TEST_F(SetLampTest, FailedSendIsReported)
{
    fake::Reset();
    fake::Queue(fake::CheckCondition(0x26, 0x02));
    LampBlock block = {};
    block.wLampState = 0x0001;
    block.dwLampTimer = 300;
    vSetLampStatus(&block);

    EXPECT_EQ(Value(block.dwResult), 0x0000FD3Eu);
    EXPECT_EQ(LampTimerMinutes, 5); /* kept although the scanner refused it */
}

} // namespace
