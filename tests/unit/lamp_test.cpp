/*
 * lamp_test.cpp - vGetLampStatus and vSetLampStatus: lamp state and timer
 * bits, asking the scanner for its lamp-on time, the lamp-on clock across
 * minute changes and a wrapping tick count, the timer rounding, the caller's
 * lamp bits, and what a failure leaves (its codes are in the failure loops).
 */
#include "device_control_fixture.h"

using namespace control_test;

namespace {

using LampTest = DeviceControlTest;

FakeReply Page(std::vector<uint8_t> data, uint32_t status = BUSLNK_GOOD)
{
    return FakeReply{status, std::move(data), {}, BUSLNK_GOOD};
}

/* One vGetLampStatus at the given tick on a block of 0xA5 bytes, the
 * scanner answering with the queued replies. */
LampBlock GetAt(uint32_t now, std::vector<FakeReply> replies)
{
    DriverTest::Now = now;
    fake::Reset();
    for (const FakeReply &reply : replies)
        fake::Queue(reply);
    LampBlock block = Poisoned<LampBlock>();
    vGetLampStatus(&block);
    return block;
}

/* Readings in turn: the clock's state carries from row to row. */
TEST_F(LampTest, LampOnClockCountsSecondsWithinAMinute)
{
    const struct {
        uint32_t Now;
        uint8_t Lamps, Minutes;
        uint32_t OnTime;
    } rows[] = {
        {10000, 1, 5, 5 * 64},           /* the first reading starts a new minute */
        {22500, 1, 5, 5 * 64 + 12},      /* 12.5 s later */
        {75000, 1, 5, 5 * 64 + (65 & 63)}, /* the scanner is late: only 6 bits of seconds */
        {76000, 1, 6, 6 * 64},           /* the minute changed: the clock restarts */
        {0xFFFFF000u, 2, 9, 9 * 64},
        {0x00000800u, 2, 9, 9 * 64 + 6}, /* the tick count wrapped: 0x1800 ms */
        {5000, 1, 2, 2 * 64},
        {9000, 0, 2, 0},                 /* lamps off: 0, and the clock restarts */
        {12000, 2, 2, 2 * 64 + 3},       /* same minute: counted from the reading with the lamps off */
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.Now);
        LampBlock block = GetAt(row.Now, {Page(StatusPage(row.Lamps, 0x10, row.Minutes))});
        EXPECT_EQ(Value(block.wLampState), 0x4000 | row.Lamps);
        EXPECT_EQ(Value(block.dwLampOnTime), row.OnTime);
        EXPECT_EQ(Value(block.dwLampTimer), 0xA5A5A5A5u); /* not reported alongside */
    }
    /* A scanner that reports is read once; the read lands in the shared copy,
     * for vSetLampStatus and the scan. */
    EXPECT_EQ(SentCdbs(), std::vector<std::string>{kLampReadCdb});
    EXPECT_EQ(fake::Hex({LampStatus.Bytes, LampStatus.Bytes + 9}), fake::Hex(StatusPage(2, 0x10, 2)));
}

TEST_F(LampTest, AsksTheScannerToReportTheLampOnTime)
{
    std::vector<uint8_t> first = {0x01, 0x04, 0x47, 0x00, 0x8A, 0x05, 0x01, 0x00, 0x00}; /* timer flag */
    std::vector<uint8_t> second = first;
    second[1] = 0x14;
    second[4] = 0x07;
    LampBlock block = GetAt(0, {Page(first), Page({}), Page(second)});
    EXPECT_EQ(Value(block.dwResult), 1u);
    ASSERT_EQ(SentCdbs(), (std::vector<std::string>{kLampReadCdb, kLampSendCdb, kLampReadCdb}));
    EXPECT_EQ(fake::Hex(fake::Commands()[1].DataOut), "01 14 47 00 8A 05 01 00 00") << "byte 1 bit 4 set";
    EXPECT_EQ(Value(block.wLampState), 0xC001);
    EXPECT_EQ(Value(block.dwLampOnTime), 7u * 64); /* minutes of the second reading */
    EXPECT_EQ(Value(block.dwLampTimer), 0xA5A5A5A5u);

    /* A scanner that cannot report gives the timer in seconds instead. */
    std::vector<uint8_t> status = StatusPage(0x02, 0x00, 0x8F); /* flag + 15 minutes */
    block = GetAt(0, {Page(status), Page({}), Page(status)});
    EXPECT_EQ(Value(block.wLampState), 0x8002);
    EXPECT_EQ(Value(block.dwLampTimer), 900u);
    EXPECT_EQ(Value(block.dwLampOnTime), 0xA5A5A5A5u);
}

/* A failure after the first read leaves the time fields alone; a failed
 * send leaves the shared copy changed. */
TEST_F(LampTest, LaterFailuresLeaveTheTimeFieldsAlone)
{
    LampBlock refused = GetAt(0, {Page(StatusPage(0x03, 0x00, 0x05)), fake::CheckCondition(0x1A, 0x00)});
    EXPECT_EQ(Value(refused.wLampState), 0x0003);
    EXPECT_EQ(LampStatus.Bytes[1], 0x10);
    LampBlock lost = GetAt(0, {Page(StatusPage(0x01, 0x00, 0x05)), Page({}), Page({}, BUSLNK_ADAPTER_FAILURE)});
    for (const LampBlock &b : {refused, lost}) {
        EXPECT_NE(Value(b.dwResult), 1u);
        EXPECT_EQ(Value(b.dwLampTimer), 0xA5A5A5A5u);
        EXPECT_EQ(Value(b.dwLampOnTime), 0xA5A5A5A5u);
    }
}

/* One vSetLampStatus; returns the page it sent (empty if none). */
std::vector<uint8_t> Set(uint16_t lampState, uint32_t timer, uint32_t *result = nullptr)
{
    LampBlock block = {};
    block.wLampState = lampState;
    block.dwLampTimer = timer;
    vSetLampStatus(&block);
    if (result)
        *result = block.dwResult;
    return fake::Commands().empty() ? std::vector<uint8_t>{} : fake::Commands().back().DataOut;
}

TEST_F(LampTest, SetSendsTheSharedCopyWithoutReadingItFirst)
{
    /* As the last reader left it: extra bits in bytes 0 and 1 (bit 4 of byte
     * 1 is cleared), and bytes the lamp functions do not own. */
    std::memcpy(LampStatus.Bytes, "\x28\x15\x47\x33\x85\x05\x01\x02\x09", 9);
    uint32_t result = 0;
    EXPECT_EQ(fake::Hex(Set(SD_LAMP_1, 600, &result)), "29 05 47 33 0A 05 01 02 09");
    EXPECT_EQ(result, 1u);
    EXPECT_EQ(SentCdbs(), std::vector<std::string>{kLampSendCdb});

    /* The caller's two lamp bits are sent as given, not both lamps on. */
    for (uint16_t lamps : {0, 1, 2, 3}) {
        LampStatus.Bytes[0] = static_cast<uint8_t>(lamps == 3 ? 0x20 : 0x23);
        EXPECT_EQ(Set(lamps, 0).at(0), 0x20 | lamps);
    }
}

TEST_F(LampTest, TimerIsRoundedToMinutesUpTo127WithItsFlagInBit7)
{
    const struct {
        uint16_t State;
        uint32_t Seconds;
        uint8_t Byte4, Minutes, Flag;
    } rows[] = {
        {3, 29, 0, 0, 0},        {3, 30, 1, 1, 0},        {3, 90, 2, 2, 0},
        {3, 7649, 127, 127, 0},  {3, 30000, 127, 127, 0}, {3, 0xFFFFFFE2u, 127, 127, 0}, /* would wrap to 0 */
        {0x8003, 120, 0x82, 2, 1},
        {3, 120, 0x02, 2, 0}, /* a flag left in the copy is not sent again */
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.Seconds);
        EXPECT_EQ(Set(row.State, row.Seconds).at(4), row.Byte4);
        EXPECT_EQ(LampTimerMinutes, row.Minutes);
        EXPECT_EQ(LampTimerFlag, row.Flag);
    }
    /* Kept although the scanner refuses it. */
    fake::Queue(fake::CheckCondition(0x26, 0x02));
    uint32_t result = 0;
    Set(1, 300, &result);
    EXPECT_EQ(result, 0x0000FD3Eu);
    EXPECT_EQ(LampTimerMinutes, 5);
}

} // namespace
