/*
 * Running commands: the sg_io_hdr built for reads, sends and commands
 * without data, the status words the kernel's answers become, the sense kept
 * for REQUEST SENSE, retries, and a device that disappears mid-scan.
 */
#include "fake_sg.h"
#include "sg_device.h"
#include "sg_execute.h"

#include <cerrno>
#include <scsi/sg.h>
#include <vector>

using fakesg::Fake;
using fakesg::FixedSense;
using fakesg::Reply;

namespace {

/* A CDB with its record, as the driver keeps them. */
struct Command {
    std::vector<uint8_t> Cdb;
    CommandRecord Record;
    Command(std::vector<uint8_t> cdb, uint16_t timeout) : Cdb(std::move(cdb))
    {
        Record = {timeout, static_cast<uint16_t>(Cdb.size()), Cdb.data()};
    }
};

Command ReadDeviceParameters() { return Command({0x28, 0, 0x82, 0, 0, 0, 0, 0, 0x28, 0}, 30); }
Command SetWindow() { return Command({0x24, 0, 0, 0, 0, 0, 0, 0, 0x45, 0}, 30); }
Command TestUnitReady() { return Command({0, 0, 0, 0, 0, 0}, 10); }
Command RequestSense() { return Command({0x03, 0, 0, 0, 0x0E, 0}, 1); }

Reply Good(std::vector<uint8_t> data = {}) { Reply reply; reply.Data = std::move(data); return reply; }

Reply Check(std::vector<uint8_t> sense)
{
    Reply reply;
    reply.Status = kScsiCheckCondition;
    reply.DriverStatus = kDriverSense;
    reply.Sense = std::move(sense);
    return reply;
}

class Execute : public SgTest {
protected:
    void SetUp() override
    {
        SgTest::SetUp();
        AddDevice("sg1", "2:0:5:0", 6);
        Attach(2, 5);
    }

    uint32_t Read(Command &command, std::vector<uint8_t> &buffer)
    {
        TransferRecord in = {static_cast<uint32_t>(buffer.size()), buffer.data()};
        TransferRecord out = {0, nullptr};
        return ExecuteSg(Adapter, &command.Record, &in, &out);
    }
    uint32_t Send(Command &command, std::vector<uint8_t> &buffer)
    {
        TransferRecord in = {0, nullptr};
        TransferRecord out = {static_cast<uint32_t>(buffer.size()), buffer.data()};
        return ExecuteSg(Adapter, &command.Record, &in, &out);
    }
    uint32_t NoData(Command &command)
    {
        TransferRecord in = {0, nullptr};
        TransferRecord out = {0, nullptr};
        return ExecuteSg(Adapter, &command.Record, &in, &out);
    }
    /* The status word of one command answered with reply. */
    uint32_t StatusFor(const Reply &reply)
    {
        Fake().Replies.push_back(reply);
        Command command = TestUnitReady();
        return NoData(command);
    }
};

/* --- The request --------------------------------------------------------- */

TEST_F(Execute, ReadTakesDataFromTheDevice)
{
    std::vector<uint8_t> page(40, 0);
    std::vector<uint8_t> answer(40);
    for (size_t i = 0; i < answer.size(); ++i)
        answer[i] = static_cast<uint8_t>(i + 1);
    Fake().Replies.push_back(Good(answer));
    Command command = ReadDeviceParameters();

    EXPECT_EQ(Read(command, page), BUSLNK_GOOD);
    ASSERT_EQ(Fake().Requests.size(), 1u);
    const fakesg::Request &request = Fake().Requests[0];
    EXPECT_EQ(request.InterfaceId, 'S');
    EXPECT_EQ(request.Cdb, command.Cdb);
    EXPECT_EQ(request.Direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(request.Length, 40u);
    EXPECT_EQ(request.Timeout, 30000u);
    EXPECT_EQ(request.MaxSense, kSgSenseBytes);
    EXPECT_TRUE(request.SenseBufferGiven);
    EXPECT_EQ(page, answer);
}

TEST_F(Execute, SendGivesDataToTheDevice)
{
    std::vector<uint8_t> window(69);
    for (size_t i = 0; i < window.size(); ++i)
        window[i] = static_cast<uint8_t>(0xA0 ^ i);
    Fake().Replies.push_back(Good());
    Command command = SetWindow();

    EXPECT_EQ(Send(command, window), BUSLNK_GOOD);
    ASSERT_EQ(Fake().Requests.size(), 1u);
    const fakesg::Request &request = Fake().Requests[0];
    EXPECT_EQ(request.Cdb, command.Cdb);
    EXPECT_EQ(request.Direction, SG_DXFER_TO_DEV);
    EXPECT_EQ(request.Length, 69u);
    EXPECT_EQ(request.DataOut, window);
}

TEST_F(Execute, CommandWithoutDataHasNoDataPhase)
{
    /* The image READ of length 0 that starts and stops a scan carries no
     * data although its record names a buffer. */
    uint8_t unused[4];
    Command stop({0x28, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 30);
    TransferRecord in = {0, unused};
    TransferRecord out = {0, unused};
    Fake().Replies.push_back(Good());
    EXPECT_EQ(ExecuteSg(Adapter, &stop.Record, &in, &out), BUSLNK_GOOD);

    Fake().Replies.push_back(Good());
    Command ready = TestUnitReady();
    EXPECT_EQ(NoData(ready), BUSLNK_GOOD);

    ASSERT_EQ(Fake().Requests.size(), 2u);
    for (const fakesg::Request &request : Fake().Requests) {
        EXPECT_EQ(request.Direction, SG_DXFER_NONE);
        EXPECT_EQ(request.Length, 0u);
        EXPECT_FALSE(request.BufferGiven);
    }
    EXPECT_EQ(Fake().Requests[0].Cdb.size(), 10u);
    EXPECT_EQ(Fake().Requests[1].Cdb, ready.Cdb);
    EXPECT_EQ(Fake().Requests[1].Timeout, 10000u);
}

TEST_F(Execute, TimeoutIsGivenInMillisecondsAndNeverZero)
{
    const struct {
        uint16_t seconds;
        unsigned milliseconds;
    } cases[] = {{1, 1000}, {10, 10000}, {30, 30000}, {60, 60000}, {0, 1000}, {65535, 65535000u}};
    for (const auto &c : cases) {
        Fake().Requests.clear();
        Fake().Replies.push_back(Good());
        Command command = TestUnitReady();
        command.Record.wTimeout = c.seconds;
        EXPECT_EQ(NoData(command), BUSLNK_GOOD);
        ASSERT_EQ(Fake().Requests.size(), 1u);
        EXPECT_EQ(Fake().Requests[0].Timeout, c.milliseconds) << c.seconds << " s";
    }
}

TEST_F(Execute, RecordsThatCannotBeSentFailWithoutReachingTheDevice)
{
    uint8_t buffer[8] = {};
    uint8_t cdb[17] = {0x12};
    CommandRecord noCdb = {1, 6, nullptr};
    CommandRecord tooShort = {1, 5, cdb};
    CommandRecord tooLong = {1, 17, cdb};
    CommandRecord inquiry = {1, 6, cdb};
    TransferRecord none = {0, nullptr};
    TransferRecord data = {8, buffer};
    TransferRecord noBuffer = {8, nullptr};

    EXPECT_EQ(ExecuteSg(Adapter, nullptr, &none, &none), BUSLNK_FAILURE);
    EXPECT_EQ(ExecuteSg(Adapter, &noCdb, &none, &none), BUSLNK_FAILURE);
    EXPECT_EQ(ExecuteSg(Adapter, &tooShort, &none, &none), BUSLNK_FAILURE);
    EXPECT_EQ(ExecuteSg(Adapter, &tooLong, &none, &none), BUSLNK_FAILURE);
    EXPECT_EQ(ExecuteSg(Adapter, &inquiry, &data, &data), BUSLNK_FAILURE);
    EXPECT_NE(Adapter.LastError.find("both directions"), std::string::npos) << Adapter.LastError;
    EXPECT_EQ(ExecuteSg(Adapter, &inquiry, &noBuffer, &none), BUSLNK_FAILURE);
    EXPECT_EQ(ExecuteSg(Adapter, &inquiry, &none, &noBuffer), BUSLNK_FAILURE);
    EXPECT_TRUE(Fake().Requests.empty());
    EXPECT_GE(Adapter.Fd, 0) << "a bad record must not detach the scanner";
}

/* --- Status words -------------------------------------------------------- */

TEST_F(Execute, ScsiStatusBecomesTheStatusWord)
{
    const struct {
        uint8_t scsi;
        uint32_t status;
    } cases[] = {
        {0x00, BUSLNK_GOOD},
        {0x02, BUSLNK_CHECK_CONDITION},
        {0x08, BUSLNK_BUSY},
        {0x28, BUSLNK_BUSY},            /* task set full: try again later */
        {0x18, BUSLNK_FAILURE},         /* reserved by another host */
        {0x22, BUSLNK_CHECK_CONDITION}, /* command terminated */
        {0x04, BUSLNK_GOOD},            /* condition met */
        {0x03, BUSLNK_CHECK_CONDITION}, /* a reserved low bit does not hide the code */
        {0x88, BUSLNK_BUSY},            /* nor do vendor bits */
        {0x3E, BUSLNK_FAILURE},
    };
    for (const auto &c : cases) {
        Reply reply;
        reply.Status = c.scsi;
        EXPECT_EQ(StatusFor(reply), c.status) << "scsi status " << int(c.scsi);
    }
    EXPECT_EQ(Fake().Requests.size(), sizeof cases / sizeof cases[0]) << "busy is the driver's to retry";
}

TEST_F(Execute, HostAndDriverErrorsAreFailuresWhateverTheStatusByte)
{
    const struct {
        uint16_t host, driver;
        uint8_t scsi;
        uint32_t status;
    } cases[] = {
        {kHostTimeOut, 0, 0x00, BUSLNK_FAILURE},
        {kHostNoConnect, 0, 0x00, BUSLNK_FAILURE},
        {0x07, 0, 0x02, BUSLNK_FAILURE},             /* internal error */
        {0x05, 0, 0x08, BUSLNK_FAILURE},             /* aborted: no busy loop */
        {0, kDriverTimeout, 0x00, BUSLNK_FAILURE},
        {0, 0x04, 0x00, BUSLNK_FAILURE},             /* driver error */
        {0, 0x24, 0x00, BUSLNK_FAILURE},             /* with a suggestion in the high nibble */
        {0, kDriverSense, 0x02, BUSLNK_CHECK_CONDITION}, /* sense present is not an error */
        {0, kDriverSense, 0x00, BUSLNK_GOOD},
        {0, 0x10, 0x00, BUSLNK_GOOD},                /* a suggestion alone */
    };
    for (const auto &c : cases) {
        Reply reply;
        reply.HostStatus = c.host;
        reply.DriverStatus = c.driver;
        reply.Status = c.scsi;
        EXPECT_EQ(StatusFor(reply), c.status) << "host " << c.host << " driver " << c.driver;
    }
}

TEST_F(Execute, TimeoutFailsTheCommandButKeepsTheScanner)
{
    Reply timedOut;
    timedOut.HostStatus = kHostTimeOut;
    Fake().Replies.push_back(timedOut);
    std::vector<uint8_t> page(40);
    Command command = ReadDeviceParameters();
    EXPECT_EQ(Read(command, page), BUSLNK_FAILURE);
    EXPECT_NE(Adapter.LastError.find("timed out after 30 s"), std::string::npos) << Adapter.LastError;
    EXPECT_NE(Adapter.LastError.find("/fakedev/sg1"), std::string::npos) << Adapter.LastError;

    Fake().Replies.push_back(Good(std::vector<uint8_t>(40, 7)));
    EXPECT_EQ(Read(command, page), BUSLNK_GOOD);
    EXPECT_EQ(Fake().Requests.size(), 2u);
}

TEST_F(Execute, TransportErrorNamesTheHostStatus)
{
    Reply lost;
    lost.HostStatus = kHostNoConnect;
    EXPECT_EQ(StatusFor(lost), BUSLNK_FAILURE);
    EXPECT_NE(Adapter.LastError.find("no connection"), std::string::npos) << Adapter.LastError;

    Reply reserved;
    reserved.Status = kScsiReservationConflict;
    EXPECT_EQ(StatusFor(reserved), BUSLNK_FAILURE);
    EXPECT_NE(Adapter.LastError.find("reserved by another host"), std::string::npos) << Adapter.LastError;
}

TEST_F(Execute, ShortReadIsNotAnAdapterError)
{
    std::vector<uint8_t> lines(1000, 0xEE);
    Reply shortRead = Good(std::vector<uint8_t>(600, 0x11));
    shortRead.Resid = 400;
    Fake().Replies.push_back(shortRead);
    Command read({0x28, 0, 0, 0, 0, 0, 0, 0x03, 0xE8, 0}, 30);
    EXPECT_EQ(Read(read, lines), BUSLNK_GOOD);
    EXPECT_EQ(lines[599], 0x11);
    EXPECT_EQ(lines[600], 0xEE);
}

/* --- Sense kept for REQUEST SENSE ---------------------------------------- */

TEST_F(Execute, CheckConditionKeepsTheSenseForTheNextRequestSense)
{
    /* The image ends early: 00/05 with the byte count delivered. */
    std::vector<uint8_t> sense = FixedSense(0x00, 0x00, 0x05, 1234);
    std::vector<uint8_t> lines(4096);
    Reply ended = Check(sense);
    ended.Resid = 4096 - 1234;
    Fake().Replies.push_back(ended);
    Command read({0x28, 0, 0, 0, 0, 0, 0, 0x10, 0x00, 0}, 30);
    EXPECT_EQ(Read(read, lines), BUSLNK_CHECK_CONDITION);

    /* The device has forgotten it by now; the adapter answers. */
    std::vector<uint8_t> answer(14, 0xCC);
    Command requestSense = RequestSense();
    EXPECT_EQ(Read(requestSense, answer), BUSLNK_GOOD);
    EXPECT_EQ(answer, std::vector<uint8_t>(sense.begin(), sense.begin() + 14));
    EXPECT_EQ(Fake().Requests.size(), 1u) << "REQUEST SENSE was answered without the device";

    /* Spent: the next REQUEST SENSE goes to the device. */
    Fake().Replies.push_back(Good(FixedSense(0, 0, 0)));
    EXPECT_EQ(Read(requestSense, answer), BUSLNK_GOOD);
    ASSERT_EQ(Fake().Requests.size(), 2u);
    EXPECT_EQ(Fake().Requests[1].Cdb, requestSense.Cdb);
    EXPECT_EQ(Fake().Requests[1].Timeout, 1000u);
}

TEST_F(Execute, ShortKeptSenseIsFollowedByZeros)
{
    std::vector<uint8_t> sense = {0x70, 0, 0x05, 0, 0, 0, 0, 0}; /* no additional bytes */
    Fake().Replies.push_back(Check(sense));
    Command ready = TestUnitReady();
    EXPECT_EQ(NoData(ready), BUSLNK_CHECK_CONDITION);

    std::vector<uint8_t> answer(14, 0xAA);
    Command requestSense = RequestSense();
    EXPECT_EQ(Read(requestSense, answer), BUSLNK_GOOD);
    std::vector<uint8_t> expected = sense;
    expected.resize(14, 0);
    EXPECT_EQ(answer, expected);
}

TEST_F(Execute, AnyOtherCommandDiscardsTheKeptSense)
{
    Fake().Replies.push_back(Check(FixedSense(0x05, 0x24, 0x00)));
    Fake().Replies.push_back(Good());
    Fake().Replies.push_back(Good(FixedSense(0, 0, 0)));
    Command ready = TestUnitReady();
    EXPECT_EQ(NoData(ready), BUSLNK_CHECK_CONDITION);
    EXPECT_EQ(NoData(ready), BUSLNK_GOOD);

    std::vector<uint8_t> answer(14, 0xAA);
    Command requestSense = RequestSense();
    EXPECT_EQ(Read(requestSense, answer), BUSLNK_GOOD);
    ASSERT_EQ(Fake().Requests.size(), 3u);
    EXPECT_EQ(Fake().Requests[2].Cdb[0], kRequestSenseOpcode);
    EXPECT_EQ(answer[12], 0x00) << "the stale 24/00 must not come back";
}

TEST_F(Execute, CheckConditionWithoutAutosenseLeavesRequestSenseToTheDevice)
{
    Reply bare;
    bare.Status = kScsiCheckCondition;
    Fake().Replies.push_back(bare);
    Fake().Replies.push_back(Good(FixedSense(0x02, 0x3A, 0x00)));
    Command ready = TestUnitReady();
    EXPECT_EQ(NoData(ready), BUSLNK_CHECK_CONDITION);

    std::vector<uint8_t> answer(14);
    Command requestSense = RequestSense();
    EXPECT_EQ(Read(requestSense, answer), BUSLNK_GOOD);
    EXPECT_EQ(Fake().Requests.size(), 2u);
    EXPECT_EQ(answer[12], 0x3A);
}

TEST_F(Execute, ReattachForgetsTheKeptSense)
{
    Fake().Replies.push_back(Check(FixedSense(0x05, 0x26, 0x00)));
    Command ready = TestUnitReady();
    EXPECT_EQ(NoData(ready), BUSLNK_CHECK_CONDITION);
    Attach(2, 5);

    Fake().Replies.push_back(Good(FixedSense(0, 0, 0)));
    std::vector<uint8_t> answer(14);
    Command requestSense = RequestSense();
    EXPECT_EQ(Read(requestSense, answer), BUSLNK_GOOD);
    EXPECT_EQ(Fake().Requests.size(), 2u);
}

/* --- Retries ------------------------------------------------------------- */

TEST_F(Execute, UnitAttentionIsSentAgainAFewTimes)
{
    /* After a reset the device refuses the first command with 29/00. */
    Fake().Replies.push_back(Check(FixedSense(0x06, 0x29, 0x00)));
    Fake().Replies.push_back(Good(std::vector<uint8_t>(40, 0x5A)));
    std::vector<uint8_t> page(40);
    Command command = ReadDeviceParameters();
    EXPECT_EQ(Read(command, page), BUSLNK_GOOD);
    ASSERT_EQ(Fake().Requests.size(), 2u);
    EXPECT_EQ(Fake().Requests[1].Cdb, command.Cdb);
    EXPECT_EQ(page[39], 0x5A);

    /* One that never clears ends as a check condition, its sense kept. */
    Fake().Requests.clear();
    for (int i = 0; i < kCommandAttempts; ++i)
        Fake().Replies.push_back(Check(FixedSense(0x06, 0x29, 0x00)));
    EXPECT_EQ(Read(command, page), BUSLNK_CHECK_CONDITION);
    EXPECT_EQ(Fake().Requests.size(), static_cast<size_t>(kCommandAttempts));
    EXPECT_EQ(Adapter.KeptSenseLength, 18u);
}

TEST_F(Execute, HostRetryStatusesAreBounded)
{
    Reply busBusy;
    busBusy.HostStatus = kHostBusBusy;
    Fake().Replies.push_back(busBusy);
    Fake().Replies.push_back(Good());
    Command ready = TestUnitReady();
    EXPECT_EQ(NoData(ready), BUSLNK_GOOD);
    EXPECT_EQ(Fake().Requests.size(), 2u);

    Fake().Requests.clear();
    for (int i = 0; i < kCommandAttempts; ++i)
        Fake().Replies.push_back(busBusy);
    EXPECT_EQ(NoData(ready), BUSLNK_FAILURE);
    EXPECT_EQ(Fake().Requests.size(), static_cast<size_t>(kCommandAttempts));
}

/* --- The device goes away ------------------------------------------------ */

TEST_F(Execute, DeviceThatDisappearsMidScanIsClosedAndStaysFailed)
{
    for (int code : {ENODEV, ENXIO}) {
        Fake().Requests.clear();
        Fake().Closed.clear();
        std::vector<uint8_t> lines(4096);
        Command read({0x28, 0, 0, 0, 0, 0, 0, 0x10, 0x00, 0}, 30);
        Fake().Replies.push_back(Good(std::vector<uint8_t>(4096, 1)));
        EXPECT_EQ(Read(read, lines), BUSLNK_GOOD);
        int fd = Adapter.Fd;

        Reply gone;
        gone.Errno = code;
        Fake().Replies.push_back(gone);
        EXPECT_EQ(Read(read, lines), BUSLNK_FAILURE);
        EXPECT_EQ(Adapter.Fd, -1);
        EXPECT_EQ(Fake().Closed, std::vector<int>{fd});
        EXPECT_NE(Adapter.LastError.find("/fakedev/sg1 is gone"), std::string::npos) << Adapter.LastError;

        /* The abort and the next initialization fail cleanly, without SG_IO. */
        Command stop({0x28, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 30);
        EXPECT_EQ(NoData(stop), BUSLNK_FAILURE);
        std::vector<uint8_t> answer(14);
        Command requestSense = RequestSense();
        EXPECT_EQ(Read(requestSense, answer), BUSLNK_FAILURE);
        EXPECT_EQ(Fake().Requests.size(), 2u);
        EXPECT_NE(Adapter.LastError.find("is gone"), std::string::npos) << "the reason stays";

        Attach(2, 5);
    }
}

TEST_F(Execute, OtherIoctlErrorsFailTheCommandOnly)
{
    Reply refused;
    refused.Errno = ENOMEM;
    Fake().Replies.push_back(refused);
    std::vector<uint8_t> big(4 * 1024 * 1024);
    Command read({0x28, 0, 0, 0, 0, 0, 0x40, 0x00, 0x00, 0}, 30);
    EXPECT_EQ(Read(read, big), BUSLNK_FAILURE);
    EXPECT_GE(Adapter.Fd, 0);
    EXPECT_NE(Adapter.LastError.find("4194304 bytes"), std::string::npos) << Adapter.LastError;

    Fake().Replies.push_back(Good());
    Command ready = TestUnitReady();
    EXPECT_EQ(NoData(ready), BUSLNK_GOOD);
}

TEST_F(Execute, DetachedAdapterFailsEveryCommand)
{
    SgAdapter detached;
    Command ready = TestUnitReady();
    TransferRecord none = {0, nullptr};
    EXPECT_EQ(ExecuteSg(detached, &ready.Record, &none, &none), BUSLNK_FAILURE);
    EXPECT_EQ(detached.LastError, "no scanner is attached");
    EXPECT_TRUE(Fake().Requests.empty());
}

TEST(SenseKey, ReadsFixedAndDescriptorFormats)
{
    const uint8_t fixed[] = {0x70, 0, 0x26, 0};
    const uint8_t descriptor[] = {0x72, 0x06, 0x29, 0};
    EXPECT_EQ(SenseKey(fixed, sizeof fixed), 6);   /* ILI and EOM bits are not the key */
    EXPECT_EQ(SenseKey(descriptor, sizeof descriptor), 6);
    EXPECT_EQ(SenseKey(fixed, 2), -1);
    EXPECT_EQ(SenseKey(nullptr, 18), -1);
}

} // namespace
