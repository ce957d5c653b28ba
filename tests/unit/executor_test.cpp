/* The command executor: status words, the busy wait, the sense. */
#include "driver_fixture.h"
#include "scsi/commands.h"
#include "scsi/executor.h"

namespace {

using Executor = DriverTest;

TEST_F(Executor, OnlyTheLow16BitsOfTheStatusCount)
{
    fake::Queue(0x0001FFF0u);
    fake::Queue(0x00050000u);
    EXPECT_EQ(TestUnitReady(10), -16) << "an unknown status passes through";
    EXPECT_EQ(TestUnitReady(10), SD_OK);
}

TEST_F(Executor, WaitsOutABusyDeviceWithoutLimit)
{
    /* Busy (by the low 16 bits) for ten seconds: five 2000 ms sleeps, then
     * the final attempt's own result. */
    fake::Queue(0x00010003);
    for (int i = 0; i < 4; ++i)
        fake::Queue(BUSLNK_BUSY);
    fake::Queue(BUSLNK_FAILURE);
    EXPECT_EQ(TestUnitReady(10), SD_ERR_ADAPTER);
    EXPECT_EQ(Sleeps, std::vector<uint32_t>(5, 2000));
    ASSERT_EQ(fake::Commands().size(), 6u);
    for (const RecordedCommand &command : fake::Commands())
        EXPECT_EQ(command.Cdb, fake::Commands().front().Cdb);

    Sleeps.clear();
    for (int i = 0; i < 200; ++i)
        fake::Queue(BUSLNK_BUSY);
    EXPECT_EQ(TestUnitReady(10), SD_OK);
    EXPECT_EQ(Sleeps.size(), 200u);
}

TEST_F(Executor, AsksForSenseOnceAndKeepsItForTheImageReader)
{
    fake::Queue(fake::CheckCondition(0x00, 0x05, 0x00012345));
    EXPECT_EQ(TestUnitReady(10), SD_ERR_END_OF_DATA);
    ASSERT_EQ(fake::Commands().size(), 2u);
    const RecordedCommand &sense = fake::Commands()[1];
    EXPECT_EQ(fake::Hex(sense.Cdb), "03 00 00 00 0E 00");
    EXPECT_EQ(sense.Direction, 1);
    EXPECT_EQ(sense.Length, 14u);
    EXPECT_EQ(sense.Timeout, 1);
    uint8_t kept[kSenseLength];
    GetLastSense(kept);
    EXPECT_EQ(fake::Hex({kept + 8, kept + 14}), "00 01 23 45 00 05");
}

/* A pair must match in both bytes; unknown pairs are no error; for ASC 40h
 * the lowest qualifier bit names the component. */
TEST_F(Executor, SenseTranslation)
{
    const struct { uint8_t asc, ascq; ResultCode result; } cases[] = {
        {0x4A, 0x00, -600}, {0x4A, 0x01, 1},    {0x2C, 0x01, -708}, {0x00, 0x05, -305}, {0x00, 0x00, 1},
        {0x04, 0x00, 1},    {0x54, 0x00, -710}, {0x40, 0x03, -200}, {0x40, 0x30, -208}, {0x40, 0x20, -205},
        {0x40, 0x40, -3},   {0x40, 0x00, -3},
    };
    for (const auto &c : cases)
        EXPECT_EQ(TranslateSense(c.asc, c.ascq), c.result) << std::hex << int(c.asc) << "/" << int(c.ascq);
}

} // namespace
