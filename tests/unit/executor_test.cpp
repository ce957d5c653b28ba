/*
 * The command executor: adapter status mapping, the busy wait, and the
 * translation of sense data into result codes.
 */
#include "driver_fixture.h"
#include "scsi/commands.h"
#include "scsi/executor.h"

namespace {

class Executor : public DriverTest {
protected:
    /* Runs TEST UNIT READY, the simplest command, through the executor. */
    ResultCode Run() { return TestUnitReady(10); }
};

TEST_F(Executor, MapsAdapterStatuses)
{
    const struct {
        uint32_t status;
        ResultCode result;
    } cases[] = {
        {BUSLNK_GOOD, SD_OK},
        {BUSLNK_FAILURE, SD_ERR_ADAPTER},
        {BUSLNK_ADAPTER_FAILURE, SD_ERR_ADAPTER_FAILURE},
        {7, 7},                       /* unknown statuses pass through */
        {0x0001FFF0, -16},            /* only the low 16 bits count */
        {0x00050000, SD_OK},
    };
    for (const auto &c : cases) {
        fake::Reset();
        fake::Queue(c.status);
        EXPECT_EQ(Run(), c.result) << "status " << c.status;
        EXPECT_EQ(fake::Commands().size(), 1u) << "status " << c.status;
    }
}

TEST_F(Executor, WaitsOutABusyDeviceWithoutLimit)
{
    /* Busy for ten seconds: five 2000 ms sleeps, then the final attempt's
     * own result. */
    for (int i = 0; i < 5; ++i)
        fake::Queue(BUSLNK_BUSY);
    fake::Queue(BUSLNK_FAILURE);
    EXPECT_EQ(Run(), SD_ERR_ADAPTER);
    EXPECT_EQ(Sleeps, std::vector<uint32_t>(5, 2000));
    ASSERT_EQ(fake::Commands().size(), 6u);
    for (const RecordedCommand &command : fake::Commands())
        EXPECT_EQ(command.Cdb, fake::Commands().front().Cdb);

    Sleeps.clear();
    fake::Reset();
    for (int i = 0; i < 200; ++i)
        fake::Queue(BUSLNK_BUSY);
    EXPECT_EQ(Run(), SD_OK);
    EXPECT_EQ(Sleeps.size(), 200u);
}

TEST_F(Executor, BusyStatusIsRecognisedByItsLow16Bits)
{
    fake::Queue(0x00010003);
    fake::Queue(BUSLNK_GOOD);
    EXPECT_EQ(Run(), SD_OK);
    EXPECT_EQ(Sleeps.size(), 1u);
}

TEST_F(Executor, TranslatesEverySenseInTheTable)
{
    const struct {
        uint8_t asc, ascq;
        ResultCode result;
    } table[] = {
        {0x4A, 0x00, -600}, {0x2C, 0x00, -601}, {0x4B, 0x00, -602}, {0x00, 0x05, -305},
        {0x3D, 0x00, -1},   {0x2C, 0x02, -700}, {0x20, 0x00, -100}, {0x24, 0x00, -100},
        {0x26, 0x00, -701}, {0x49, 0x00, -702}, {0x60, 0x00, -204}, {0x25, 0x00, -703},
        {0x53, 0x00, -206}, {0x3A, 0x00, -704}, {0x1A, 0x00, -705}, {0x26, 0x02, -706},
        {0x03, 0x00, -707}, {0x2C, 0x01, -708}, {0x80, 0x00, -709}, {0x54, 0x00, -710},
        /* no error: 00/00 and pairs the table does not list */
        {0x00, 0x00, 1},    {0x04, 0x00, 1},    {0x4A, 0x01, 1},    {0x26, 0x01, 1},
    };
    for (const auto &row : table) {
        fake::Reset();
        fake::Queue(fake::CheckCondition(row.asc, row.ascq));
        EXPECT_EQ(Run(), row.result) << std::hex << int(row.asc) << "/" << int(row.ascq);
        ASSERT_EQ(fake::Commands().size(), 2u);
        const RecordedCommand &sense = fake::Commands()[1];
        EXPECT_EQ(fake::Hex(sense.Cdb), "03 00 00 00 0E 00");
        EXPECT_EQ(sense.Direction, 1);
        EXPECT_EQ(sense.Length, 14u);
        EXPECT_EQ(sense.Timeout, 1);
    }
}

TEST_F(Executor, ComponentFailureNamesTheFirstQualifierBit)
{
    const struct {
        uint8_t ascq;
        ResultCode result;
    } cases[] = {{0x01, -200}, {0x03, -200}, {0x02, -201}, {0x04, -202}, {0x08, -203},
                 {0x10, -208}, {0x30, -208}, {0x20, -205}, {0x40, -3},   {0x00, -3}};
    for (const auto &c : cases) {
        EXPECT_EQ(TranslateSense(0x40, c.ascq), c.result) << "ASCQ " << int(c.ascq);
    }
}

TEST_F(Executor, FailingRequestSenseGivesCommandRejected)
{
    FakeReply reply = fake::CheckCondition(0x60, 0x00);
    reply.SenseStatus = BUSLNK_FAILURE;
    fake::Queue(reply);
    EXPECT_EQ(Run(), SD_ERR_COMMAND_REJECTED);
}

TEST_F(Executor, RequestSenseAnsweringCheckConditionDoesNotRecurse)
{
    FakeReply reply = fake::CheckCondition(0x60, 0x00);
    reply.SenseStatus = BUSLNK_CHECK_CONDITION;
    fake::Queue(reply);
    EXPECT_EQ(Run(), SD_ERR_COMMAND_REJECTED);
    EXPECT_EQ(fake::Commands().size(), 2u) << "one REQUEST SENSE, not a chain of them";
}

TEST_F(Executor, KeepsTheLastSenseForTheImageReader)
{
    fake::Queue(fake::CheckCondition(0x00, 0x05, 0x00012345));
    EXPECT_EQ(Run(), SD_ERR_END_OF_DATA);
    uint8_t sense[kSenseLength];
    GetLastSense(sense);
    EXPECT_EQ(sense[8], 0x00);
    EXPECT_EQ(sense[9], 0x01);
    EXPECT_EQ(sense[10], 0x23);
    EXPECT_EQ(sense[11], 0x45);
    EXPECT_EQ(sense[12], 0x00);
    EXPECT_EQ(sense[13], 0x05);
}

TEST_F(Executor, TransferRecordsFollowTheDirection)
{
    uint8_t page[kDeviceParameterPageLength];
    fake::Queue(BUSLNK_GOOD, std::vector<uint8_t>(40, 0xAB));
    EXPECT_EQ(ReadDeviceParameters(kVariantFlatbed, page), SD_OK);
    EXPECT_EQ(page[39], 0xAB);
    uint8_t lamp[kLampStatusPageLength] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    EXPECT_EQ(TransferLampStatus(kDataOut, lamp), SD_OK);
    EXPECT_EQ(TestUnitReady(10), SD_OK);
    ASSERT_EQ(fake::Commands().size(), 3u);
    EXPECT_EQ(fake::Commands()[0].Direction, 1);
    EXPECT_EQ(fake::Commands()[0].Length, 40u);
    EXPECT_EQ(fake::Commands()[1].Direction, 2);
    EXPECT_EQ(fake::Hex(fake::Commands()[1].DataOut), "01 02 03 04 05 06 07 08 09");
    EXPECT_EQ(fake::Commands()[2].Direction, 0);
    EXPECT_EQ(fake::Commands()[2].Length, 0u);
}

} // namespace
