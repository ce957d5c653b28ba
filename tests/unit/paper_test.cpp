/*
 * paper_test.cpp - vPaperReady: the answer during a scan, the direct poll,
 * the document counter and its wrap, and the pending event with the page
 * sent back. Its failures are in the failure loops.
 */
#include "device_control_fixture.h"

#include <tuple>

using namespace control_test;

namespace {

using PaperReadyTest = DeviceControlTest;

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

TEST_F(PaperReadyTest, AnswersTwoHundredWhileAScanRuns)
{
    ScanState.ScanActive = 1;
    EXPECT_EQ(vPaperReady(), 200);
    EXPECT_TRUE(fake::Commands().empty());
}

TEST_F(PaperReadyTest, PollsTheStatusPageAndCountsOneToNinetyNineAndAnEmptySensorKeepsTheCount)
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
    EXPECT_EQ(std::tie(poll.Direction, poll.Length, poll.Timeout), std::make_tuple(1, 9u, uint16_t{60}));
    EXPECT_EQ(Poll(SensorPage(false)), 0);
    EXPECT_EQ(Poll(SensorPage(true)), 3);
}

TEST_F(PaperReadyTest, PendingEventIsReportedAndSentBackCleared)
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
