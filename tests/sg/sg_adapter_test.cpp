/*
 * The SCSI generic adapter against a scripted kernel: finding and opening
 * the scanner (sysfs, attach values, what a refused open says), the
 * sg_io_hdr built for each command, the status words the kernel's answers
 * become, the sense kept for REQUEST SENSE, retries, a device that
 * disappears, listing and lookup for front ends, and the entry points'
 * environment (device node, trace).
 */
#include "fake_sg.h"
#include "sg_execute.h"
#include "sg_list.h"

#include <functional>
#include <numeric>
#include <sstream>

using fakesg::Fake;
using fakesg::FixedSense;
using fakesg::Reply;

namespace {

bool Contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

TEST(Hctl, ParsesFourDecimalNumbers)
{
    SgAddress address;
    ASSERT_TRUE(ParseHctl("12:3:15:4294967295", address));
    EXPECT_EQ(address, (SgAddress{12, 3, 15, 4294967295u}));
    for (const char *bad : {"", "0:0:5", "0:0:5:0:0", "0::5:0", "0:0:-1:0", "0:0:5:4294967296", " 0:0:5:0"})
        EXPECT_FALSE(ParseHctl(bad, address)) << bad;
}

/* --- Finding and opening the scanner ------------------------------------ */

using Attach = SgTest;

TEST_F(Attach, OpensTheNodeAtHostChannelAndTargetAndClosesThePreviousOne)
{
    AddDevice("sg0", "0:0:0:0", 0);
    AddDevice("sg1", "2:0:5:0", 6);
    AddDevice("sg3", "1:0:4:0", 6);
    AddDevice("sg4", "1:1:4:0", 6);
    ASSERT_EQ(AttachTo(2, 5), BUSLNK_GOOD) << Adapter.LastError;
    ASSERT_EQ(Fake().Opened, std::vector<std::string>{"/fakedev/sg1"});
    int flags = Fake().OpenFlags[0], first = Adapter.Fd;
    EXPECT_EQ(flags & O_ACCMODE, O_RDWR);
    EXPECT_TRUE(flags & O_EXCL);
    EXPECT_TRUE(flags & O_NONBLOCK) << "an exclusive open must not wait for another program";
    EXPECT_FALSE(Fake().FdFlags[Adapter.Fd] & O_NONBLOCK) << "cleared once open";
    EXPECT_EQ(Adapter.Address, (SgAddress{2, 0, 5, 0}));

    ASSERT_EQ(AttachTo(1, 0x0104), BUSLNK_GOOD) << "the channel is the high byte of the second value";
    EXPECT_EQ(Adapter.Node, "/fakedev/sg4");
    EXPECT_EQ(Fake().Closed, std::vector<int>{first});
    int second = Adapter.Fd;
    ASSERT_EQ(AttachTo(1, 4), BUSLNK_GOOD);
    EXPECT_EQ(Adapter.Node, "/fakedev/sg3");
    EXPECT_EQ(Fake().OpenFds.size(), 1u);
    EXPECT_EQ(AttachTo(9, 9), BUSLNK_FAILURE);
    EXPECT_EQ(Fake().Closed, (std::vector<int>{first, second, Fake().NextFd - 1})) << "a failed attach leaves nothing open";
    EXPECT_EQ(Adapter.Fd, -1);

    Fake().Nodes["/fakedev/scanner"].Address = SgAddress{7, 0, 3, 0};
    EXPECT_EQ(AttachTo(2, 5, "/fakedev/scanner"), BUSLNK_GOOD) << "a named node wins over the attach values";
    EXPECT_EQ(Adapter.Address.Host, 7u);
    EXPECT_EQ(Fake().Opened.back(), "/fakedev/scanner");
}

TEST_F(Attach, RefusalsSayWhatStandsInTheWayAndLeaveTheAdapterDetached)
{
    /* Setup acts on the named node, else on sg1; a descriptor left open fails TearDown. */
    struct Case {
        const char *What, *Hctl;
        int Type;
        uint16_t Param1, Param2;
        const char *Named;
        std::function<void(fakesg::Node &)> Setup;
        std::vector<const char *> Says;
        const char *NeverSays = nullptr;
    };
    auto none = [](fakesg::Node &) {};
    const Case cases[] = {
        {"only LUN 0 is addressed", "3:0:2:1", 6, 3, 2, "", none, {"no SCSI device at sg:3,2"}},
        {"a disk", "2:0:5:0", 0, 2, 5, "", none, {"is a disk (peripheral type 0), not a scanner", "ACME FLATBED 600"}},
        {"the open node is a disk", "2:0:5:0", 6, 2, 5, "", [](auto &n) { n.Type = 0; }, {"not a scanner"}},
        {"named node not sg", "2:0:5:0", 6, 0, 0, "/fakedev/null", [](auto &n) { n.IdErrno = ENOTTY; },
         {"/fakedev/null is not a SCSI generic device"}},
        {"no permission, group named", "2:0:5:0", 6, 2, 5, "",
         [](auto &n) { n.OpenErrno = EACCES, n.Gid = 42, Fake().Groups[42] = "scanner"; },
         {"cannot open /fakedev/sg1: permission denied", "group 'scanner'", "crw-rw----", "usermod -aG scanner"}},
        {"owner-only node", "2:0:5:0", 6, 2, 5, "", [](auto &n) { n.OpenErrno = EPERM, n.Mode = 0600, Fake().Groups[0] = "root"; },
         {"crw-------", "udev rule"}, "usermod"},
        {"group without a name", "2:0:5:0", 6, 2, 5, "", [](auto &n) { n.OpenErrno = EACCES, n.Gid = 1234; }, {"group '1234'"}},
        {"busy", "2:0:5:0", 6, 2, 5, "", [](auto &n) { n.OpenErrno = EBUSY; }, {"in use by another program"}},
        {"node gone", "2:0:5:0", 6, 2, 5, "", [](auto &) { Fake().Nodes.erase("/fakedev/sg1"); },
         {"cannot open /fakedev/sg1: no such device node"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.What);
        TearDown();
        SetUp();
        fakesg::Node &sg1 = AddDevice("sg1", c.Hctl, c.Type);
        c.Setup(*c.Named ? Fake().Nodes[c.Named] : sg1);
        EXPECT_EQ(AttachTo(c.Param1, c.Param2, c.Named), BUSLNK_FAILURE);
        EXPECT_EQ(Adapter.Fd, -1);
        for (const char *part : c.Says)
            EXPECT_TRUE(Contains(Adapter.LastError, part)) << part << " in: " << Adapter.LastError;
        if (c.NeverSays != nullptr) {
            EXPECT_FALSE(Contains(Adapter.LastError, c.NeverSays)) << Adapter.LastError;
        }
    }
}

/* --- Running commands ---------------------------------------------------- */

Reply Status(uint8_t scsi, uint16_t host = 0, uint16_t driver = 0)
{
    return {.Status = scsi, .HostStatus = host, .DriverStatus = driver};
}
Reply Good(std::vector<uint8_t> data = {}) { return {.Data = std::move(data)}; }
Reply Check(std::vector<uint8_t> sense)
{
    return {.Status = kScsiCheckCondition, .DriverStatus = kDriverSense, .Sense = std::move(sense)};
}
Reply Failed(int code) { return {.Errno = code}; }

class Execute : public SgTest {
protected:
    void SetUp() override
    {
        SgTest::SetUp();
        AddDevice("sg1", "2:0:5:0", 6);
        ASSERT_EQ(AttachTo(2, 5), BUSLNK_GOOD);
    }
    /* Runs a CDB: a read of `in` bytes into Data, or a send of `out` bytes of Data. */
    uint32_t Run(std::vector<uint8_t> cdb, uint32_t in = 0, uint32_t out = 0, uint16_t timeout = 30)
    {
        Data.resize(std::max<size_t>({in, out, 4}));
        CommandRecord command = {timeout, static_cast<uint16_t>(cdb.size()), cdb.data()};
        TransferRecord dataIn = {in, Data.data()}, dataOut = {out, Data.data()};
        return ExecuteSg(Adapter, &command, &dataIn, &dataOut);
    }
    uint32_t TestUnitReady() { return Run({0, 0, 0, 0, 0, 0}, 0, 0, 10); }
    uint32_t RequestSense() { return Run({0x03, 0, 0, 0, 14, 0}, 14, 0, 1); }
    std::vector<uint8_t> Data;
};

const std::vector<uint8_t> kReadParameters = {0x28, 0, 0x82, 0, 0, 0, 0, 0, 0x28, 0};

TEST_F(Execute, RequestsCarryTheCdbTheDataPhaseAndTheTimeoutInMilliseconds)
{
    struct Case {
        std::vector<uint8_t> Cdb;
        uint32_t In, Out;
        uint16_t Seconds;
        int Direction;
        unsigned Milliseconds;
    };
    const Case cases[] = {
        {kReadParameters, 40, 0, 30, SG_DXFER_FROM_DEV, 30000},
        {{0x24, 0, 0, 0, 0, 0, 0, 0, 0x45, 0}, 0, 69, 30, SG_DXFER_TO_DEV, 30000},
        /* The image READ of length 0 that starts and stops a scan: no data phase. */
        {{0x28, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0, 0, 30, SG_DXFER_NONE, 30000},
        {{0, 0, 0, 0, 0, 0}, 0, 0, 0, SG_DXFER_NONE, 1000},
        {{0, 0, 0, 0, 0, 0}, 0, 0, 65535, SG_DXFER_NONE, 65535000u},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "cdb " << int(c.Cdb[0]) << ", " << c.Seconds << " s");
        std::vector<uint8_t> pattern(std::max(c.In, c.Out));
        std::iota(pattern.begin(), pattern.end(), uint8_t(0xA0));
        Fake().Replies.push_back(Good(c.In ? pattern : std::vector<uint8_t>{}));
        Data = c.Out ? pattern : std::vector<uint8_t>(pattern.size(), 0);
        ASSERT_EQ(Run(c.Cdb, c.In, c.Out, c.Seconds), BUSLNK_GOOD);
        const fakesg::Request &r = Fake().Requests.back();
        EXPECT_EQ(r.Cdb, c.Cdb);
        EXPECT_EQ(r.Header.dxfer_direction, c.Direction);
        EXPECT_EQ(r.Header.dxfer_len, c.In + c.Out);
        EXPECT_EQ(r.Header.timeout, c.Milliseconds);
        EXPECT_EQ(r.DataOut, c.Out ? pattern : std::vector<uint8_t>{});
        EXPECT_EQ(std::vector<uint8_t>(Data.begin(), Data.begin() + c.In), c.In ? pattern : std::vector<uint8_t>{});
    }
}

TEST_F(Execute, RecordsThatCannotBeSentFailWithoutReachingTheDevice)
{
    uint8_t buffer[8] = {}, cdb[17] = {0x12};
    CommandRecord noCdb = {1, 6, nullptr}, tooShort = {1, 5, cdb}, tooLong = {1, 17, cdb}, inquiry = {1, 6, cdb};
    TransferRecord none = {0, nullptr}, data = {8, buffer}, noBuffer = {8, nullptr};
    const std::tuple<CommandRecord *, TransferRecord *, TransferRecord *> records[] = {
        {nullptr, &none, &none},        {&noCdb, &none, &none},     {&tooShort, &none, &none},   {&tooLong, &none, &none},
        {&inquiry, &noBuffer, &none}, {&inquiry, &none, &noBuffer}, {&inquiry, &data, &data}};
    for (auto [command, in, out] : records)
        EXPECT_EQ(ExecuteSg(Adapter, command, in, out), BUSLNK_FAILURE);
    EXPECT_TRUE(Contains(Adapter.LastError, "both directions")) << Adapter.LastError;
    EXPECT_TRUE(Fake().Requests.empty());
    EXPECT_GE(Adapter.Fd, 0) << "a bad record must not detach the scanner";
    SgAdapter detached;
    EXPECT_EQ(ExecuteSg(detached, &inquiry, &none, &none), BUSLNK_FAILURE);
    EXPECT_EQ(detached.LastError, "no scanner is attached");
}

TEST_F(Execute, KernelAnswersBecomeStatusWords)
{
    struct Case {
        uint8_t Scsi;
        uint16_t Host, Driver;
        uint32_t Status;
    };
    const Case cases[] = {
        {0x00, 0, 0, BUSLNK_GOOD},
        {0x02, 0, 0, BUSLNK_CHECK_CONDITION},
        {0x08, 0, 0, BUSLNK_BUSY},
        {0x28, 0, 0, BUSLNK_BUSY},            /* task set full: try again later */
        {0x18, 0, 0, BUSLNK_FAILURE},         /* reserved by another host */
        {0x03, 0, 0, BUSLNK_CHECK_CONDITION}, /* a reserved low bit does not hide the code */
        {0x88, 0, 0, BUSLNK_BUSY},            /* nor do vendor bits */
        /* Host and driver errors are failures whatever the status byte says. */
        {0x00, kHostTimeOut, 0, BUSLNK_FAILURE},
        {0x02, 0x07, 0, BUSLNK_FAILURE},      /* internal error */
        {0x08, 0x05, 0, BUSLNK_FAILURE},      /* aborted: no busy loop */
        {0x00, 0, 0x04, BUSLNK_FAILURE},      /* driver error */
        {0x00, 0, 0x24, BUSLNK_FAILURE},      /* with a suggestion in the high nibble */
        {0x02, 0, kDriverSense, BUSLNK_CHECK_CONDITION}, /* sense present is not an error */
        {0x00, 0, kDriverSense, BUSLNK_GOOD},
        {0x00, 0, 0x10, BUSLNK_GOOD},         /* a suggestion alone */
    };
    for (const Case &c : cases) {
        Fake().Replies.push_back(Status(c.Scsi, c.Host, c.Driver));
        EXPECT_EQ(TestUnitReady(), c.Status) << "scsi " << int(c.Scsi) << " host " << c.Host << " driver " << c.Driver;
    }
    EXPECT_EQ(Fake().Requests.size(), std::size(cases)) << "busy is the driver's to retry";
}

TEST_F(Execute, FailuresSayWhyAndKeepTheScanner)
{
    const std::pair<Reply, const char *> cases[] = {
        {Status(0, kHostTimeOut), "command 0x28 on /fakedev/sg1 timed out after 30 s"},
        {Status(0, kHostNoConnect), "no connection"},
        {Status(0, 0, 0x04), "the kernel's SCSI layer failed"},
        {Status(kScsiReservationConflict), "reserved by another host"},
        {Failed(ENOMEM), "4194304 bytes"},
    };
    for (const auto &[reply, message] : cases) {
        Fake().Replies.push_back(reply);
        EXPECT_EQ(Run({0x28, 0, 0, 0, 0, 0, 0x40, 0x00, 0x00, 0}, 4 << 20), BUSLNK_FAILURE) << message;
        EXPECT_TRUE(Contains(Adapter.LastError, message)) << Adapter.LastError;
        Fake().Replies.push_back(Good());
        EXPECT_EQ(TestUnitReady(), BUSLNK_GOOD) << message;
    }
}

/* --- Sense kept for REQUEST SENSE ---------------------------------------- */

TEST_F(Execute, CheckConditionKeepsTheSenseForTheNextRequestSenseOnly)
{
    /* The image ends early: 00/05 with the byte count delivered. */
    std::vector<uint8_t> sense = FixedSense(0x00, 0x00, 0x05, 1234);
    Reply ended = Check(sense);
    ended.Resid = 4096 - 1234;
    Fake().Replies.push_back(ended);
    EXPECT_EQ(Run({0x28, 0, 0, 0, 0, 0, 0, 0x10, 0x00, 0}, 4096), BUSLNK_CHECK_CONDITION);
    EXPECT_EQ(RequestSense(), BUSLNK_GOOD);
    EXPECT_EQ(std::vector<uint8_t>(Data.begin(), Data.begin() + 14), std::vector<uint8_t>(sense.begin(), sense.begin() + 14));
    EXPECT_EQ(Fake().Requests.size(), 1u) << "the device has forgotten it: the adapter answers";

    Fake().Replies.push_back(Good(FixedSense(0, 0, 0)));
    EXPECT_EQ(RequestSense(), BUSLNK_GOOD);
    ASSERT_EQ(Fake().Requests.size(), 2u) << "spent: the next REQUEST SENSE goes to the device";
    EXPECT_EQ(Fake().Requests[1].Cdb[0], kRequestSenseOpcode);
    EXPECT_EQ(Fake().Requests[1].Header.timeout, 1000u);

    std::vector<uint8_t> bare = {0x70, 0, 0x05, 0, 0, 0, 0, 0}; /* no additional bytes */
    Fake().Replies.push_back(Check(bare));
    EXPECT_EQ(TestUnitReady(), BUSLNK_CHECK_CONDITION);
    Data.assign(14, 0xAA);
    EXPECT_EQ(RequestSense(), BUSLNK_GOOD);
    bare.resize(14, 0);
    EXPECT_EQ(Data, bare) << "short kept sense is followed by zeros";
}

TEST_F(Execute, RequestSenseGoesToTheDeviceWhenNothingIsKept)
{
    enum Between { Nothing, AnotherCommand, Reattach };
    const std::pair<Reply, Between> cases[] = {
        {Status(kScsiCheckCondition), Nothing}, /* no autosense */
        {Check(FixedSense(0x05, 0x24, 0x00)), AnotherCommand},
        {Check(FixedSense(0x05, 0x26, 0x00)), Reattach},
    };
    for (const auto &[first, between] : cases) {
        SCOPED_TRACE(between);
        Fake().Replies.push_back(first);
        EXPECT_EQ(TestUnitReady(), BUSLNK_CHECK_CONDITION);
        if (between == AnotherCommand) {
            Fake().Replies.push_back(Good());
            EXPECT_EQ(TestUnitReady(), BUSLNK_GOOD);
        } else if (between == Reattach) {
            ASSERT_EQ(AttachTo(2, 5), BUSLNK_GOOD);
        }
        Fake().Replies.push_back(Good(FixedSense(0x02, 0x3A, 0x00)));
        EXPECT_EQ(RequestSense(), BUSLNK_GOOD);
        EXPECT_EQ(Fake().Requests.back().Cdb[0], kRequestSenseOpcode);
        EXPECT_EQ(Data[12], 0x3A) << "the device's answer, not a stale one";
    }
}

/* --- Retries and a device that goes away --------------------------------- */

TEST_F(Execute, UnitAttentionAndHostRetryStatusesAreSentAgainAFewTimes)
{
    /* After a reset the device refuses the first command with 29/00. */
    const std::pair<Reply, uint32_t> cases[] = {
        {Check(FixedSense(0x06, 0x29, 0x00)), BUSLNK_CHECK_CONDITION},
        {Status(0, kHostBusBusy), BUSLNK_FAILURE},
    };
    for (const auto &[retried, last] : cases) {
        Fake().Requests.clear();
        Fake().Replies.push_back(retried);
        Fake().Replies.push_back(Good(std::vector<uint8_t>(40, 0x5A)));
        EXPECT_EQ(Run(kReadParameters, 40), BUSLNK_GOOD);
        ASSERT_EQ(Fake().Requests.size(), 2u);
        EXPECT_EQ(Fake().Requests[1].Cdb, kReadParameters);
        EXPECT_EQ(Data[39], 0x5A);

        Fake().Requests.clear();
        for (int i = 0; i < kCommandAttempts; ++i)
            Fake().Replies.push_back(retried);
        EXPECT_EQ(Run(kReadParameters, 40), last) << "one that never clears ends";
        EXPECT_EQ(Fake().Requests.size(), static_cast<size_t>(kCommandAttempts));
        if (last == BUSLNK_CHECK_CONDITION) {
            EXPECT_EQ(Adapter.KeptSenseLength, 18u) << "its sense is kept";
        }
    }
}

TEST_F(Execute, DeviceThatDisappearsMidScanIsClosedAndStaysFailed)
{
    for (int code : {ENODEV, ENXIO}) {
        Fake().Requests.clear();
        Fake().Closed.clear();
        int fd = Adapter.Fd;
        Fake().Replies.push_back(Failed(code));
        EXPECT_EQ(Run({0x28, 0, 0, 0, 0, 0, 0, 0x10, 0x00, 0}, 4096), BUSLNK_FAILURE);
        EXPECT_EQ(Adapter.Fd, -1);
        EXPECT_EQ(Fake().Closed, std::vector<int>{fd});
        EXPECT_TRUE(Contains(Adapter.LastError, "/fakedev/sg1 is gone")) << Adapter.LastError;
        /* The abort and the next initialization fail cleanly, without SG_IO. */
        EXPECT_EQ(Run({0x28, 0, 0, 0, 0, 0, 0, 0, 0, 0}), BUSLNK_FAILURE);
        EXPECT_EQ(RequestSense(), BUSLNK_FAILURE);
        EXPECT_EQ(Fake().Requests.size(), 1u);
        EXPECT_TRUE(Contains(Adapter.LastError, "is gone")) << "the reason stays";
        ASSERT_EQ(AttachTo(2, 5), BUSLNK_GOOD);
    }
}

TEST(SenseKey, ReadsFixedAndDescriptorFormats)
{
    const uint8_t fixed[] = {0x70, 0, 0x26, 0}, descriptor[] = {0x72, 0x06, 0x29, 0};
    EXPECT_EQ(SenseKey(fixed, sizeof fixed), 6) << "ILI and EOM bits are not the key";
    EXPECT_EQ(SenseKey(descriptor, sizeof descriptor), 6);
    EXPECT_EQ(SenseKey(fixed, 2), -1);
}

/* --- Listing, lookup and the entry points -------------------------------- */

void Collect(const SgDeviceInfo *device, void *context) { static_cast<std::vector<SgDeviceInfo> *>(context)->push_back(*device); }

class Listing : public SgTest {
protected:
    void SetUp() override
    {
        SgTest::SetUp();
        AddDevice("sg0", "0:0:0:0", 0, "ATA", "DISK");
        AddDevice("sg1", "2:0:5:0", 6, "ACME", "FLATBED 600", "1.23");
        AddDevice("sg3", "1:1:4:0", 6, "ACME", "FLATBED 1200", "2.10");
        AddDevice("sg10", "3:0:6:1", 6, "OTHER", "MULTI LUN", "0.9"); /* after sg3: in order of the number */
        Fake().Groups[42] = "scanner";
        for (const char *node : {"/fakedev/sg1", "/fakedev/sg3", "/fakedev/sg10"})
            Fake().Nodes[node].Gid = 42;
    }
    void TearDown() override
    {
        AttachRecord nowhere = {7, 0xFF, 0xFFFF, 1}; /* leaves the process-wide adapter detached */
        unsetenv("SCANDRV_SG_DEVICE");
        unsetenv("SCANDRV_SG_TRACE");
        BusLinkAttach(&nowhere);
        SgTest::TearDown();
    }
    /* Attaches through the entry point to 2,5, then runs a CDB reading `in` bytes. */
    uint32_t AttachAndRun(std::vector<uint8_t> cdb, uint32_t in, uint32_t *attach = nullptr)
    {
        AttachRecord record = {7, 5, 2, 1};
        uint32_t status = BusLinkAttach(&record);
        if (attach != nullptr)
            *attach = status;
        Data.assign(in, 0);
        CommandRecord command = {30, static_cast<uint16_t>(cdb.size()), cdb.data()};
        TransferRecord dataIn = {in, Data.data()}, dataOut = {0, nullptr};
        return BusLinkExecute(&command, &dataIn, &dataOut);
    }
    std::vector<uint8_t> Data;
};

TEST_F(Listing, ListsEveryScannerWithItsAttachValues)
{
    std::vector<SgDeviceInfo> found;
    ASSERT_EQ(SgListDevices(Collect, &found), 3) << SgLastError();
    ASSERT_EQ(found.size(), 3u);
    EXPECT_STREQ(SgLastError(), "");
    EXPECT_STREQ(found[0].Node, "/fakedev/sg1");
    EXPECT_EQ(std::string(found[0].Vendor) + "|" + found[0].Model + "|" + found[0].Revision, "ACME|FLATBED 600|1.23")
        << "the kernel's padding is trimmed";
    EXPECT_STREQ(found[0].Note, "");
    EXPECT_STREQ(found[1].Node, "/fakedev/sg3");
    EXPECT_EQ(found[1].AttachParam1, 1);
    EXPECT_EQ(found[1].AttachParam2, 0x0104);
    EXPECT_STREQ(found[2].Node, "/fakedev/sg10");
    EXPECT_TRUE(Contains(found[2].Note, "SCANDRV_SG_DEVICE=/fakedev/sg10")) << "LUN 1 cannot be attached by values";

    Fake().Nodes["/fakedev/sg1"].AccessErrno = EACCES;
    Fake().Nodes.erase("/fakedev/sg3");
    found.clear();
    ASSERT_EQ(SgListDevices(Collect, &found), 3);
    EXPECT_TRUE(Contains(found[0].Note, "permission denied")) << found[0].Note;
    EXPECT_TRUE(Contains(found[0].Note, "group 'scanner'")) << found[0].Note;
    EXPECT_TRUE(Contains(found[1].Note, "/fakedev/sg3 cannot be found")) << found[1].Note;
    EXPECT_TRUE(Fake().Opened.empty()) << "listing opens no device";
}

TEST_F(Listing, NoScannersAndNoSgDriverAreTold)
{
    fs::remove_all(Root / "class/scsi_generic");
    EXPECT_EQ(SgListDevices(Collect, nullptr), -1);
    EXPECT_TRUE(Contains(SgLastError(), "modprobe sg")) << SgLastError();
    fs::create_directories(Root / "class/scsi_generic");
    std::vector<SgDeviceInfo> found;
    EXPECT_EQ(SgListDevices(Collect, &found), 0);
    EXPECT_TRUE(found.empty());
    EXPECT_STREQ(SgLastError(), "");
}

TEST_F(Listing, LookupFindsScannersByAddressOrNode)
{
    Fake().Nodes["/fakedev/scanner"].Minor = 3; /* any name of the node: the device number decides */
    const struct {
        const char *Name, *Node;
        uint16_t Param1, Param2;
    } found[] = {{"sg:2,5", "/fakedev/sg1", 2, 5}, {"sg:1,1,4", "/fakedev/sg3", 1, 0x0104},
                 {"/fakedev/scanner", "/fakedev/sg3", 1, 0x0104}};
    for (const auto &c : found) {
        SgDeviceInfo info{};
        ASSERT_EQ(SgLookupDevice(c.Name, &info), 0) << c.Name << ": " << SgLastError();
        EXPECT_STREQ(info.Node, c.Node) << c.Name;
        EXPECT_EQ(info.AttachParam1, c.Param1) << c.Name;
        EXPECT_EQ(info.AttachParam2, c.Param2) << c.Name;
    }
    Fake().Nodes["/fakedev/file"].CharDevice = false;
    Fake().Nodes["/fakedev/tty"].Major = 4;
    const std::pair<const char *, const char *> refused[] = {
        {"sg:0,0", "is a disk (peripheral type 0), not a scanner"}, {"sg:9,9", "no SCSI device at sg:9,9"},
        {"sg:2", "is not of the form sg:HOST,TARGET"}, {"sg:1,2,3,4", "is not of the form"},
        {"/fakedev/sg0", "not a scanner"}, {"/fakedev/missing", "cannot find /fakedev/missing"},
        {"scanner", "unknown device 'scanner'"}, {"/fakedev/file", "not a device node"},
        {"/fakedev/tty", "not a SCSI generic device"},
    };
    SgDeviceInfo info{};
    for (const auto &[name, message] : refused) {
        EXPECT_EQ(SgLookupDevice(name, &info), -1) << name;
        EXPECT_TRUE(Contains(SgLastError(), message)) << name << ": " << SgLastError();
    }
    EXPECT_EQ(SgLookupDevice(nullptr, &info), -1);
    EXPECT_EQ(SgLookupDevice("sg:2,5", nullptr), -1);
}

TEST_F(Listing, EntryPointsAttachAndRunCommandsOrSayWhyNot)
{
    Fake().Replies.push_back(Good({6, 0, 2}));
    uint32_t attach = 0;
    EXPECT_EQ(AttachAndRun({0x12, 0, 0, 0, 37, 0}, 37, &attach), BUSLNK_GOOD);
    EXPECT_EQ(attach, BUSLNK_GOOD) << SgLastError();
    EXPECT_EQ(Data[0], 6);
    ASSERT_EQ(Fake().Requests.size(), 1u);

    Fake().Nodes["/fakedev/sg1"].OpenErrno = EACCES;
    EXPECT_EQ(AttachAndRun({0x12, 0, 0, 0, 37, 0}, 37, &attach), BUSLNK_FAILURE);
    EXPECT_EQ(attach, BUSLNK_FAILURE);
    EXPECT_TRUE(Contains(SgLastError(), "/fakedev/sg1")) << "the attach's reason stays: " << SgLastError();
    EXPECT_TRUE(Contains(SgLastError(), "scanner")) << SgLastError();

    setenv("SCANDRV_SG_DEVICE", "/fakedev/sg3", 1);
    Fake().Opened.clear();
    Fake().Replies.push_back(Good());
    EXPECT_EQ(AttachAndRun({0, 0, 0, 0, 0, 0}, 0, &attach), BUSLNK_GOOD);
    EXPECT_EQ(attach, BUSLNK_GOOD) << SgLastError();
    EXPECT_EQ(Fake().Opened, std::vector<std::string>{"/fakedev/sg3"}) << "the variable overrides the attach values";
}

TEST_F(Listing, TraceShowsAttachCommandsStatusesAndSense)
{
    setenv("SCANDRV_SG_TRACE", (Root / "trace.txt").c_str(), 1);
    Fake().Replies.push_back(Check(FixedSense(0, 0x00, 0x05, 100)));
    EXPECT_EQ(AttachAndRun({0x28, 0, 0, 0, 0, 0, 0, 0x10, 0, 0}, 4096), BUSLNK_CHECK_CONDITION);
    uint8_t senseCdb[6] = {0x03, 0, 0, 0, 14, 0}, sense[14];
    CommandRecord requestSense = {1, 6, senseCdb};
    TransferRecord in = {14, sense}, out = {0, nullptr};
    EXPECT_EQ(BusLinkExecute(&requestSense, &in, &out), BUSLNK_GOOD);
    std::stringstream text;
    text << std::ifstream(Root / "trace.txt").rdbuf();
    for (const char *line : {"attach kind=7 param1=2 param2=5 version=1", "attached /fakedev/sg1 (2:0:5:0)",
                             "cdb 28 00 00 00 00 00 00 10 00 00 in=4096 out=0 timeout=30000 ms", "CHECK CONDITION (1)",
                             "asc/ascq 00/05", "answered from the kept sense", "in 14 bytes: f0 00 00 00 00 00 64"})
        EXPECT_TRUE(Contains(text.str(), line)) << line << " in:\n" << text.str();

    setenv("SCANDRV_SG_TRACE", "/nonexistent-directory/trace.txt", 1);
    AttachRecord record = {7, 5, 2, 1};
    EXPECT_EQ(BusLinkAttach(&record), BUSLNK_GOOD) << "an unwritable trace does not stop the attach";
    EXPECT_TRUE(Contains(SgLastError(), "cannot write the trace file")) << SgLastError();
}

} // namespace
