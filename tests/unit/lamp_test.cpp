/*
 * vGetLampStatus and vSetLampStatus: the lamp-on clock, the timer, the
 * caller's lamp bits and what a later failure leaves; vPaperReady, which
 * polls the same page.
 */
#include "device_control_fixture.h"

using namespace control_test;

namespace {

using LampTest = DeviceControlTest;

/* One vGetLampStatus at the given tick on a block of 0xA5 bytes. */
LampBlock GetAt(uint32_t now, std::vector<FakeReply> replies)
{
    DriverTest::Now = now;
    Script(replies);
    LampBlock block = Poisoned<LampBlock>();
    vGetLampStatus(&block);
    return block;
}

/* Readings in turn: the clock's state carries from row to row. */
TEST_F(LampTest, LampOnClockCountsSecondsWithinAMinute)
{
    const struct { uint32_t Now; uint8_t Lamps, Minutes; uint32_t OnTime; } rows[] = {
        {10000, 1, 5, 5 * 64},
        {75000, 1, 5, 5 * 64 + (65 & 63)}, /* the scanner is late: only 6 bits of seconds */
        {76000, 1, 6, 6 * 64},             /* the minute changed: the clock restarts */
        {0xFFFFF000u, 2, 9, 9 * 64},
        {0x00000800u, 2, 9, 9 * 64 + 6}, /* the tick count wrapped: 0x1800 ms */
        {9000, 0, 9, 0},                 /* lamps off: 0, and the clock restarts */
        {12000, 2, 9, 9 * 64 + 3},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.Now);
        LampBlock block = GetAt(row.Now, {Reply(StatusPage(row.Lamps, 0x10, row.Minutes))});
        EXPECT_EQ(Value(block.wLampState), 0x4000 | row.Lamps);
        EXPECT_EQ(Value(block.dwLampOnTime), row.OnTime);
        EXPECT_EQ(Value(block.dwLampTimer), 0xA5A5A5A5u);
    }
    /* A scanner that reports is read once, into the copy the scan sends. */
    EXPECT_EQ(SentCdbs(), std::vector<std::string>{kLampReadCdb});
    EXPECT_EQ(fake::Hex({LampStatus.Bytes, LampStatus.Bytes + 9}), fake::Hex(StatusPage(2, 0x10, 9)));
}

TEST_F(LampTest, AsksTheScannerToReportTheLampOnTime)
{
    std::vector<uint8_t> first = {0x01, 0x04, 0x47, 0x00, 0x8A, 0x05, 0x01, 0x00, 0x00}; /* timer flag */
    std::vector<uint8_t> second = first;
    second[1] = 0x14;
    second[4] = 0x07;
    LampBlock block = GetAt(0, {Reply(first), Reply({}), Reply(second)});
    EXPECT_EQ(Value(block.dwResult), 1u);
    ASSERT_EQ(SentCdbs(), (std::vector<std::string>{kLampReadCdb, kLampSendCdb, kLampReadCdb}));
    EXPECT_EQ(fake::Hex(fake::Commands()[1].DataOut), "01 14 47 00 8A 05 01 00 00");
    EXPECT_EQ(Value(block.wLampState), 0xC001);
    EXPECT_EQ(Value(block.dwLampOnTime), 7u * 64); /* minutes of the second reading */
    EXPECT_EQ(Value(block.dwLampTimer), 0xA5A5A5A5u);

    /* A scanner that cannot report gives the timer in seconds instead. */
    std::vector<uint8_t> status = StatusPage(0x02, 0x00, 0x8F);
    block = GetAt(0, {Reply(status), Reply({}), Reply(status)});
    EXPECT_EQ(Value(block.wLampState), 0x8002);
    EXPECT_EQ(Value(block.dwLampTimer), 900u);
    EXPECT_EQ(Value(block.dwLampOnTime), 0xA5A5A5A5u);
}

/* A failure after the first read leaves the time fields alone; a failed
 * send leaves the shared copy changed. */
TEST_F(LampTest, LaterFailuresLeaveTheTimeFieldsAlone)
{
    LampBlock refused = GetAt(0, {Reply(StatusPage(0x03, 0x00, 0x05)), fake::CheckCondition(0x1A, 0x00)});
    EXPECT_EQ(Value(refused.wLampState), 0x0003);
    EXPECT_EQ(LampStatus.Bytes[1], 0x10);
    LampBlock lost = GetAt(0, {Reply(StatusPage(0x01, 0x00, 0x05)), Reply({}), Reply({}, BUSLNK_ADAPTER_FAILURE)});
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
    /* As the last reader left it, with bit 4 of byte 1 to be cleared. */
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
    const struct { uint16_t State; uint32_t Seconds; uint8_t Byte4, Minutes, Flag; } rows[] = {
        {3, 29, 0, 0, 0},         {3, 30, 1, 1, 0},           {3, 30000, 127, 127, 0},
        {3, 0xFFFFFFE2u, 127, 127, 0}, /* would wrap to 0 */
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

using PaperReady = DeviceControlTest;

/* A poll reply: byte 2 carries the document bit, byte 7 the event. */
std::vector<uint8_t> SensorPage(bool document, uint8_t event = 0)
{
    return {0x21, 0x10, static_cast<uint8_t>(document ? 0x45 : 0x05), 0x00, 0x0C, 0x04, 0x01, event, 0x00};
}

int32_t Poll(const std::vector<uint8_t> &page)
{
    fake::Queue(BUSLNK_GOOD, page);
    return vPaperReady();
}

TEST_F(PaperReady, AnswersTwoHundredWhileAScanRuns)
{
    ScanState.ScanActive = 1;
    EXPECT_EQ(vPaperReady(), 200);
    EXPECT_TRUE(fake::Commands().empty());
}

TEST_F(PaperReady, PollsTheStatusPageAndCountsOneToNinetyNineAndAnEmptySensorKeepsTheCount)
{
    std::vector<int32_t> answers, expected;
    for (int k = 0; k < 101; ++k) {
        answers.push_back(Poll(SensorPage(true)));
        expected.push_back(k % 99 + 1);
    }
    EXPECT_EQ(answers, expected);
    /* The poll builds its own command, outside the executor. */
    const RecordedCommand &poll = fake::Commands()[0];
    EXPECT_EQ(fake::Hex(poll.Cdb), kLampReadCdb);
    EXPECT_EQ(poll.Direction, 1);
    EXPECT_EQ(poll.Timeout, 60);
    EXPECT_EQ(Poll(SensorPage(false)), 0);
    EXPECT_EQ(Poll(SensorPage(true)), 3);
}

TEST_F(PaperReady, PendingEventIsReportedAndSentBackCleared)
{
    std::memcpy(LampStatus.Bytes, "\x01\x02\x03\x04\x05\x06\x07\x08\x09", 9);
    std::vector<uint8_t> page = SensorPage(false, 3);
    EXPECT_EQ(Poll(page), 0x600);
    ASSERT_EQ(SentCdbs(), (std::vector<std::string>{kLampReadCdb, kLampSendCdb}));
    std::vector<uint8_t> sentBack = page;
    sentBack[7] = 0;
    EXPECT_EQ(fake::Hex(fake::Commands()[1].DataOut), fake::Hex(sentBack));
    /* The poll has its own buffer; the shared copy is not touched. */
    EXPECT_EQ(fake::Hex({LampStatus.Bytes, LampStatus.Bytes + 9}), "01 02 03 04 05 06 07 08 09");

    fake::Reset();
    EXPECT_EQ(Poll(sentBack), 0);
    EXPECT_EQ(fake::Commands().size(), 1u); /* nothing to send back */
    EXPECT_EQ(Poll(SensorPage(true, 0xFF)), 1 | (0xFF << 9)) << "event and counter together";
}

} // namespace
