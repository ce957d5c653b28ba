/*
 * paper_test.cpp - vPaperReady: the answer during a scan, the direct poll
 * without busy wait or sense, the document counter and its wrap, and the
 * pending event with the page sent back.
 */
#include "device_control_fixture.h"

using namespace control_test;

namespace {

class PaperReadyTest : public DeviceControlTest {
protected:
    /* A poll reply: byte 2 carries the document bit, byte 7 the event. */
    static std::vector<uint8_t> SensorPage(bool document, uint8_t event = 0)
    {
        std::vector<uint8_t> page = {0x21, 0x10, 0x05, 0x00, 0x0C, 0x04, 0x01, event, 0x00};
        if (document)
            page[2] |= 0x40;
        return page;
    }

    static int32_t Poll(const std::vector<uint8_t> &page)
    {
        fake::Queue(BUSLNK_GOOD, page);
        return vPaperReady();
    }
};

TEST_F(PaperReadyTest, AnswersTwoHundredWhileAScanRuns)
{
    ScanState.ScanActive = 1;
    EXPECT_EQ(vPaperReady(), 200);
    EXPECT_TRUE(fake::Commands().empty());
}

TEST_F(PaperReadyTest, PollsTheStatusPageDirectly)
{
    EXPECT_EQ(Poll(SensorPage(false)), 0);
    ASSERT_EQ(fake::Commands().size(), 1u);
    const RecordedCommand &poll = fake::Commands()[0];
    EXPECT_EQ(fake::Hex(poll.Cdb), kLampReadCdb);
    EXPECT_EQ(poll.Direction, 1);
    EXPECT_EQ(poll.Length, 9u);
    EXPECT_EQ(poll.Timeout, 60);
}

TEST_F(PaperReadyTest, CounterRunsOneToNinetyNineAndStartsAgain)
{
    std::vector<int32_t> answers;
    for (int k = 0; k < 101; ++k)
        answers.push_back(Poll(SensorPage(true)));

    std::vector<int32_t> expected;
    for (int k = 1; k <= 99; ++k)
        expected.push_back(k);
    expected.push_back(1);
    expected.push_back(2);
    EXPECT_EQ(answers, expected);
}

TEST_F(PaperReadyTest, EmptySensorAnswersZeroAndKeepsTheCounter)
{
    EXPECT_EQ(Poll(SensorPage(true)), 1);
    EXPECT_EQ(Poll(SensorPage(true)), 2);
    EXPECT_EQ(Poll(SensorPage(false)), 0);
    EXPECT_EQ(Poll(SensorPage(true)), 3);
}

TEST_F(PaperReadyTest, BusyAnswersZeroWithoutWaiting)
{
    for (uint32_t status : {0x00000003u, 0x00010003u}) { /* only the low 16 bits count */
        SCOPED_TRACE(status);
        fake::Reset();
        fake::Queue(status, SensorPage(true, 3));
        EXPECT_EQ(vPaperReady(), 0);
        EXPECT_EQ(fake::Commands().size(), 1u); /* no retry */
    }
    EXPECT_EQ(SensorCount, 0u);
}

TEST_F(PaperReadyTest, OtherFailuresAnswerMinusOneWithoutSense)
{
    for (uint32_t status : {1u, 2u, 24u, 7u}) {
        SCOPED_TRACE(status);
        fake::Reset();
        FakeReply reply = fake::CheckCondition(0x3A, 0x00);
        reply.Status = status;
        reply.Data = SensorPage(true, 3);
        fake::Queue(reply);
        EXPECT_EQ(vPaperReady(), -1);
        EXPECT_EQ(fake::Commands().size(), 1u); /* no REQUEST SENSE */
    }
    EXPECT_EQ(SensorCount, 0u);
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
}

TEST_F(PaperReadyTest, EventAndCounterTogether)
{
    EXPECT_EQ(Poll(SensorPage(true, 0xFF)), 1 | (0xFF << 9));
}

TEST_F(PaperReadyTest, FailedSendBackStillReportsTheEvent)
{
    fake::Queue(BUSLNK_GOOD, SensorPage(true, 2));
    fake::Queue(BUSLNK_FAILURE);
    EXPECT_EQ(vPaperReady(), 1 | (2 << 9));
}

} // namespace
