/*
 * The SCSI generic adapter against a scripted kernel (fake_sg.h): attach,
 * commands and their status words, kept sense, retries, listing, lookup
 * and the entry points' environment.
 */
#include "fake_sg.h"
#include "sg_execute.h"
#include "sg_list.h"

#include <functional>
#include <algorithm>
#include <sstream>

using fakesg::Fake;
using fakesg::FixedSense;
using fakesg::Reply;

namespace {

bool Contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

/* --- Finding and opening the scanner ------------------------------------ */

using Attach = SgTest;

TEST_F(Attach, OpensTheNodeAtHostChannelAndTargetAndClosesThePreviousOne)
{
    AddDevice("sg1", "2:0:5:0", 6);
    AddDevice("sg3", "1:0:4:0", 6);
    AddDevice("sg4", "1:1:4:0", 6);
    ASSERT_EQ(AttachTo(2, 5), BUSLNK_GOOD) << Adapter.LastError;
    ASSERT_EQ(Fake().Opened, std::vector<std::string>{"/fakedev/sg1"});
    EXPECT_EQ(Fake().OpenFlags[0] & (O_ACCMODE | O_EXCL | O_NONBLOCK), O_RDWR | O_EXCL | O_NONBLOCK)
        << "exclusive, and without waiting for another program";
    EXPECT_EQ(Adapter.Address, (SgAddress{2, 0, 5, 0}));
    int first = Adapter.Fd;
    ASSERT_EQ(AttachTo(1, 0x0104), BUSLNK_GOOD) << "the channel is the high byte of the second value";
    EXPECT_EQ(Adapter.Node, "/fakedev/sg4");
    EXPECT_EQ(Fake().Closed, std::vector<int>{first});
    int second = Adapter.Fd;
    EXPECT_EQ(AttachTo(9, 9), BUSLNK_FAILURE);
    EXPECT_EQ(Fake().Closed, (std::vector<int>{first, second})) << "a failed attach leaves nothing open";
    EXPECT_EQ(Adapter.Fd, -1);
}

TEST_F(Attach, RefusalsSayWhatStandsInTheWayAndLeaveTheAdapterDetached)
{
    /* Setup acts on the named node, else on sg1; a descriptor left open fails TearDown. */
    struct Case {
        const char *Hctl;
        int Type;
        const char *Named;
        std::function<void(fakesg::Node &)> Setup;
        std::vector<const char *> Says;
    };
    auto none = [](fakesg::Node &) {};
    const Case cases[] = {
        {"2:0:5:1", 6, "", none, {"no SCSI device at sg:2,5"}}, /* only LUN 0 is addressed */
        {"2:0:5:0", 0, "", none, {"not a scanner"}},
        {"2:0:5:0", 6, "/fakedev/disk", [](auto &n) { n.Type = 0; }, {"not a scanner"}}, /* named: no sysfs to ask */
        {"2:0:5:0", 6, "/fakedev/null", [](auto &n) { n.IdErrno = ENOTTY; }, {"not a SCSI generic device"}},
        {"2:0:5:0", 6, "", [](auto &n) { n.OpenErrno = EACCES, n.Gid = 42, Fake().Groups[42] = "scanner"; },
         {"usermod -aG scanner"}},
        {"2:0:5:0", 6, "", [](auto &n) { n.OpenErrno = EPERM, n.Mode = 0600, n.Gid = 1234; }, {"udev rule", "'1234'"}},
        {"2:0:5:0", 6, "", [](auto &n) { n.OpenErrno = EBUSY; }, {"in use by another program"}},
        {"2:0:5:0", 6, "", [](auto &) { Fake().Nodes.erase("/fakedev/sg1"); }, {"no such device node"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Says[0]);
        TearDown();
        SetUp();
        fakesg::Node &sg1 = AddDevice("sg1", c.Hctl, c.Type);
        c.Setup(*c.Named ? Fake().Nodes[c.Named] : sg1);
        EXPECT_EQ(AttachTo(2, 5, c.Named), BUSLNK_FAILURE);
        EXPECT_EQ(Adapter.Fd, -1);
        for (const char *part : c.Says)
            EXPECT_TRUE(Contains(Adapter.LastError, part)) << Adapter.LastError;
    }
}

/* --- Running commands ---------------------------------------------------- */

Reply Status(uint8_t scsi, uint16_t host = 0, uint16_t driver = 0) { return {.Status = scsi, .HostStatus = host, .DriverStatus = driver}; }
Reply Good(std::vector<uint8_t> data = {}) { return {.Data = std::move(data)}; }
Reply Check(std::vector<uint8_t> sense) { return {.Status = kScsiCheckCondition, .DriverStatus = kDriverSense, .Sense = sense}; }
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
        {{0x24, 0, 0, 0, 0, 0, 0, 0, 0x45, 0}, 0, 69, 65535, SG_DXFER_TO_DEV, 65535000u},
        /* The image READ of length 0 that starts and stops a scan: no data phase; no timeout is a second. */
        {{0x28, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0, 0, 0, SG_DXFER_NONE, 1000},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "cdb " << int(c.Cdb[0]));
        Fake().Replies.push_back(Good(std::vector<uint8_t>(c.In, 0xA5)));
        Data.assign(std::max(c.In, c.Out), 0x5A);
        ASSERT_EQ(Run(c.Cdb, c.In, c.Out, c.Seconds), BUSLNK_GOOD);
        const fakesg::Request &r = Fake().Requests.back();
        EXPECT_EQ(r.Cdb, c.Cdb);
        EXPECT_EQ(r.Header.dxfer_direction, c.Direction);
        EXPECT_EQ(r.Header.dxfer_len, c.In + c.Out);
        EXPECT_EQ(r.Header.timeout, c.Milliseconds);
        EXPECT_EQ(r.DataOut, std::vector<uint8_t>(c.Out, 0x5A));
        EXPECT_EQ(static_cast<uint32_t>(std::count(Data.begin(), Data.end(), 0xA5)), c.In) << "data in reaches the buffer";
    }
}

TEST_F(Execute, RecordsThatCannotBeSentFailWithoutReachingTheDevice)
{
    uint8_t buffer[8] = {}, cdb[17] = {0x12};
    CommandRecord noCdb = {1, 6, nullptr}, tooShort = {1, 5, cdb}, tooLong = {1, 17, cdb}, inquiry = {1, 6, cdb};
    TransferRecord none = {0, nullptr}, data = {8, buffer}, noBuffer = {8, nullptr};
    const std::tuple<CommandRecord *, TransferRecord *, TransferRecord *> records[] = {
        {nullptr, &none, &none},  {&noCdb, &none, &none},       {&tooShort, &none, &none},
        {&tooLong, &none, &none}, {&inquiry, &none, &noBuffer}, {&inquiry, &data, &data}};
    for (auto [command, in, out] : records)
        EXPECT_EQ(ExecuteSg(Adapter, command, in, out), BUSLNK_FAILURE);
    EXPECT_TRUE(Fake().Requests.empty());
    EXPECT_GE(Adapter.Fd, 0) << "a bad record must not detach the scanner";
    SgAdapter detached;
    EXPECT_EQ(ExecuteSg(detached, &inquiry, &none, &none), BUSLNK_FAILURE);
}

TEST_F(Execute, KernelAnswersBecomeStatusWordsAndFailuresSayWhyAndKeepTheScanner)
{
    /* Each row runs on the scanner the rows before it left attached. */
    const std::tuple<Reply, uint32_t, const char *> cases[] = {
        {Status(0x00), BUSLNK_GOOD, nullptr},
        {Status(0x02), BUSLNK_CHECK_CONDITION, nullptr},
        {Status(0x08), BUSLNK_BUSY, nullptr},
        {Status(0x28), BUSLNK_BUSY, nullptr},            /* task set full: try again later */
        {Status(0x83), BUSLNK_CHECK_CONDITION, nullptr}, /* reserved and vendor bits do not hide the code */
        {Status(0x18), BUSLNK_FAILURE, "reserved by another host"},
        /* Host and driver errors are failures whatever the status byte says: no busy loop. */
        {Status(0x08, kHostTimeOut), BUSLNK_FAILURE, "timed out after 30 s"},
        {Status(0x02, 0, 0x04), BUSLNK_FAILURE, "SCSI layer failed"},
        {Failed(ENOMEM), BUSLNK_FAILURE, "4194304 bytes"}, /* not image data: never sent in pieces */
        {Status(0x02, 0, kDriverSense), BUSLNK_CHECK_CONDITION, nullptr}, /* sense present is not an error */
        {Status(0x00, 0, 0x10), BUSLNK_GOOD, nullptr},                    /* nor is a suggestion alone */
    };
    for (const auto &[reply, status, says] : cases) {
        Fake().Replies.push_back(reply);
        EXPECT_EQ(Run({0x28, 0, 0x80, 0, 0, 0, 0x40, 0x00, 0x00, 0}, 4 << 20), status) << int(reply.Status);
        if (says != nullptr) {
            EXPECT_TRUE(Contains(Adapter.LastError, says)) << Adapter.LastError;
        }
    }
    EXPECT_EQ(Fake().Requests.size(), std::size(cases)) << "busy is the driver's to retry";
}

/* --- Sense kept for REQUEST SENSE ---------------------------------------- */

TEST_F(Execute, CheckConditionKeepsTheSenseForTheNextRequestSenseOnly)
{
    /* The image ends early: 00/05 with the byte count delivered. */
    std::vector<uint8_t> sense = FixedSense(0x00, 0x00, 0x05, 1234);
    Fake().Replies.push_back(Check(sense));
    EXPECT_EQ(Run({0x28, 0, 0, 0, 0, 0, 0, 0x10, 0x00, 0}, 4096), BUSLNK_CHECK_CONDITION);
    EXPECT_EQ(RequestSense(), BUSLNK_GOOD);
    EXPECT_EQ(std::vector<uint8_t>(Data.begin(), Data.begin() + 14), std::vector<uint8_t>(sense.begin(), sense.begin() + 14));
    std::vector<uint8_t> bare = {0x70, 0, 0x05, 0, 0, 0, 0, 0}; /* no additional bytes */
    Fake().Replies.push_back(Check(bare));
    EXPECT_EQ(TestUnitReady(), BUSLNK_CHECK_CONDITION);
    Data.assign(14, 0xAA);
    EXPECT_EQ(RequestSense(), BUSLNK_GOOD);
    bare.resize(14, 0);
    EXPECT_EQ(Data, bare) << "short kept sense is followed by zeros";
    EXPECT_EQ(Fake().Requests.size(), 2u) << "the device has forgotten the sense: the adapter answers";

    /* Spent (the last case left it so), never given, or ended by another command or a new attach. */
    enum Between { Spent, NoAutosense, AnotherCommand, Reattach };
    for (Between between : {Spent, NoAutosense, AnotherCommand, Reattach}) {
        SCOPED_TRACE(between);
        if (between != Spent) {
            Fake().Replies.push_back(between == NoAutosense ? Status(kScsiCheckCondition) : Check(FixedSense(5, 0x24, 0)));
            EXPECT_EQ(TestUnitReady(), BUSLNK_CHECK_CONDITION);
        }
        if (between == AnotherCommand) {
            Fake().Replies.push_back(Good());
            EXPECT_EQ(TestUnitReady(), BUSLNK_GOOD);
        } else if (between == Reattach) {
            ASSERT_EQ(AttachTo(2, 5), BUSLNK_GOOD);
        }
        Fake().Replies.push_back(Good(FixedSense(0x02, 0x3A, 0x00)));
        EXPECT_EQ(RequestSense(), BUSLNK_GOOD);
        EXPECT_EQ(Data[12], 0x3A) << "the device's answer, not a stale one";
    }
}

/* --- Image READs larger than the host adapter takes ---------------------- */

std::vector<uint8_t> ImageRead(uint32_t length)
{
    return {0x28, 0, 0, 0, 0, 0, uint8_t(length >> 16), uint8_t(length >> 8), uint8_t(length), 0};
}

uint32_t Big32(const uint8_t *p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

/* The image ends early: the residue in the information field, the bytes delivered in 8-11. */
Reply EndOfData(uint32_t residue, uint32_t delivered)
{
    std::vector<uint8_t> sense = FixedSense(0x00, 0x00, 0x05, residue);
    for (int i = 0; i < 4; ++i)
        sense[8 + i] = uint8_t(delivered >> (24 - 8 * i));
    return Check(sense);
}

TEST_F(Execute, ImageReadsTheKernelRefusesWholeGoInPiecesThatFillTheBufferInOrder)
{
    /* Refused whole and at half; 72 KiB pieces are taken. */
    Fake().Replies.push_back(Failed(ENOMEM));
    Fake().Replies.push_back(Failed(EINVAL));
    std::vector<uint8_t> expected;
    const std::vector<uint32_t> pieces = {73728, 73728, 73728, 73728, 5088};
    for (uint32_t length : pieces) {
        std::vector<uint8_t> bytes(length, uint8_t(Fake().Replies.size()));
        bytes[0] = 0xA0, bytes[length - 1] = 0xA1;
        expected.insert(expected.end(), bytes.begin(), bytes.end());
        Fake().Replies.push_back(Good(bytes));
    }
    ASSERT_EQ(Run(ImageRead(300000), 300000), BUSLNK_GOOD) << Adapter.LastError;
    EXPECT_TRUE(Data == expected);
    ASSERT_EQ(Fake().Requests.size(), 2 + pieces.size());
    EXPECT_EQ(Fake().Requests[1].Header.dxfer_len, 147456u);
    for (size_t i = 0; i < pieces.size(); ++i) {
        const fakesg::Request &r = Fake().Requests[2 + i];
        EXPECT_EQ(r.Cdb, ImageRead(pieces[i])) << "piece " << i;
        EXPECT_EQ(r.Header.dxfer_len, pieces[i]) << "piece " << i;
    }

    /* The size taken is kept: the next READ goes in pieces at once. The
     * scanner runs out in the second; its counts become the whole READ's. */
    Fake().Requests.clear();
    Fake().Replies.push_back(Good());
    Fake().Replies.push_back(EndOfData(72728, 1000));
    EXPECT_EQ(Run(ImageRead(200000), 200000), BUSLNK_CHECK_CONDITION);
    EXPECT_EQ(Fake().Requests.size(), 2u) << "nothing is asked for after the end";
    EXPECT_EQ(RequestSense(), BUSLNK_GOOD);
    EXPECT_EQ(Big32(&Data[8]), 73728u + 1000u) << "delivered, from the start of the READ";
    EXPECT_EQ(Big32(&Data[3]), 200000u - 74728u) << "residue of the whole READ";

    /* Busy before anything arrived is the driver's to wait out; after a piece it would lose the piece. */
    for (bool first : {true, false}) {
        if (!first)
            Fake().Replies.push_back(Good());
        Fake().Replies.push_back(Status(kScsiBusy));
        EXPECT_EQ(Run(ImageRead(100000), 100000), first ? BUSLNK_BUSY : BUSLNK_FAILURE);
    }
    EXPECT_TRUE(Contains(Adapter.LastError, "BUSY after 73728 of 100000 bytes")) << Adapter.LastError;
    ASSERT_EQ(AttachTo(2, 5), BUSLNK_GOOD);
    EXPECT_EQ(Adapter.PieceLimit, 0u) << "a new attach may be behind another host adapter";
}

/* --- Retries and a device that goes away --------------------------------- */

TEST_F(Execute, UnitAttentionAndHostRetryStatusesAreSentAgainAFewTimes)
{
    /* After a reset the device refuses the first command with 29/00; ILI set is not another key. */
    const std::pair<Reply, uint32_t> cases[] = {
        {Check(FixedSense(0x26, 0x29, 0x00)), BUSLNK_CHECK_CONDITION},
        {Status(0, kHostBusBusy), BUSLNK_FAILURE},
    };
    for (const auto &[retried, last] : cases) {
        Fake().Requests.clear();
        Fake().Replies.push_back(retried);
        Fake().Replies.push_back(Good(std::vector<uint8_t>(40, 0x5A)));
        EXPECT_EQ(Run(kReadParameters, 40), BUSLNK_GOOD);
        EXPECT_EQ(Fake().Requests.size(), 2u);
        EXPECT_EQ(Data[39], 0x5A);

        Fake().Requests.clear();
        for (int i = 0; i < kCommandAttempts; ++i)
            Fake().Replies.push_back(retried);
        EXPECT_EQ(Run(kReadParameters, 40), last) << "one that never clears ends";
        EXPECT_EQ(Fake().Requests.size(), static_cast<size_t>(kCommandAttempts));
        EXPECT_EQ(Adapter.KeptSenseLength, last == BUSLNK_CHECK_CONDITION ? 18u : 0u) << "the last sense is kept";
    }
}

TEST_F(Execute, DeviceThatDisappearsMidScanIsClosedAndStaysFailed)
{
    int fd = Adapter.Fd;
    Fake().Replies.push_back(Failed(ENODEV));
    EXPECT_EQ(Run({0x28, 0, 0, 0, 0, 0, 0, 0x10, 0x00, 0}, 4096), BUSLNK_FAILURE);
    EXPECT_EQ(Adapter.Fd, -1);
    EXPECT_EQ(Fake().Closed, std::vector<int>{fd});
    /* The abort and the next initialization fail cleanly, without SG_IO, and the reason stays. */
    EXPECT_EQ(Run({0x28, 0, 0, 0, 0, 0, 0, 0, 0, 0}), BUSLNK_FAILURE);
    EXPECT_EQ(RequestSense(), BUSLNK_FAILURE);
    EXPECT_EQ(Fake().Requests.size(), 1u);
    EXPECT_TRUE(Contains(Adapter.LastError, "/fakedev/sg1 is gone")) << Adapter.LastError;
}

/* --- Listing, lookup and the entry points -------------------------------- */

void Collect(const SgDeviceInfo *device, void *context) { static_cast<std::vector<SgDeviceInfo> *>(context)->push_back(*device); }

class Listing : public SgTest {
protected:
    void SetUp() override
    {
        SgTest::SetUp();
        AddDevice("sg0", "0:0:0:0", 0);
        AddDevice("sg1", "2:0:5:0", 6);
        AddDevice("sg3", "1:1:4:0", 6);
        AddDevice("sg10", "3:0:6:1", 6); /* after sg3: in order of the number */
    }
    void TearDown() override
    {
        AttachRecord nowhere = {7, 0xFF, 0xFFFF, 1}; /* leaves the process-wide adapter detached */
        unsetenv("SCANDRV_SG_DEVICE");
        unsetenv("SCANDRV_SG_TRACE");
        BusLinkAttach(&nowhere);
        SgTest::TearDown();
    }
    /* Through the entry points: an attach to 2,5, a CDB reading `in` bytes. */
    static uint32_t EntryAttach()
    {
        AttachRecord record = {7, 5, 2, 1};
        return BusLinkAttach(&record);
    }
    uint32_t EntryRun(std::vector<uint8_t> cdb, uint32_t in)
    {
        Data.assign(in, 0);
        CommandRecord command = {30, static_cast<uint16_t>(cdb.size()), cdb.data()};
        TransferRecord dataIn = {in, Data.data()}, dataOut = {0, nullptr};
        return BusLinkExecute(&command, &dataIn, &dataOut);
    }
    std::vector<uint8_t> Data;
};

TEST_F(Listing, ListsEveryScannerWithItsAttachValuesAndWhatStandsInTheWay)
{
    std::vector<SgDeviceInfo> found;
    ASSERT_EQ(SgListDevices(Collect, &found), 3) << SgLastError();
    ASSERT_EQ(found.size(), 3u);
    EXPECT_STREQ(found[0].Node, "/fakedev/sg1");
    EXPECT_EQ(std::string(found[0].Vendor) + "|" + found[0].Model + "|" + found[0].Revision, "ACME|FLATBED 600|1.23")
        << "the kernel's padding is trimmed";
    EXPECT_STREQ(found[0].Note, "");
    EXPECT_EQ(found[1].AttachParam2, 0x0104);
    EXPECT_STREQ(found[2].Node, "/fakedev/sg10");
    EXPECT_TRUE(Contains(found[2].Note, "SCANDRV_SG_DEVICE=/fakedev/sg10")) << "LUN 1 cannot be attached by values";

    Fake().Nodes["/fakedev/sg1"].AccessErrno = EACCES;
    Fake().Nodes.erase("/fakedev/sg3");
    found.clear();
    ASSERT_EQ(SgListDevices(Collect, &found), 3);
    EXPECT_TRUE(Contains(found[0].Note, "permission denied")) << found[0].Note;
    EXPECT_TRUE(Contains(found[1].Note, "cannot be found")) << found[1].Note;
    EXPECT_TRUE(Fake().Opened.empty()) << "listing opens no device";

    fs::remove_all(Root / "class/scsi_generic");
    EXPECT_EQ(SgListDevices(Collect, nullptr), -1);
    EXPECT_TRUE(Contains(SgLastError(), "modprobe sg")) << SgLastError();
}

TEST_F(Listing, LookupFindsScannersByAddressOrNode)
{
    Fake().Nodes["/fakedev/scanner"].Minor = 3; /* any name of the node: the device number decides */
    Fake().Nodes["/fakedev/file"].CharDevice = false;
    Fake().Nodes["/fakedev/tty"].Major = 4;
    const std::tuple<const char *, const char *, uint16_t> found[] = {
        {"sg:2,5", "/fakedev/sg1", 5}, {"sg:1,1,4", "/fakedev/sg3", 0x0104}, {"/fakedev/scanner", "/fakedev/sg3", 0x0104}};
    for (auto [name, node, param2] : found) {
        SgDeviceInfo info{};
        ASSERT_EQ(SgLookupDevice(name, &info), 0) << name << ": " << SgLastError();
        EXPECT_STREQ(info.Node, node) << name;
        EXPECT_EQ(info.AttachParam2, param2) << name;
    }
    const std::pair<const char *, const char *> refused[] = {
        {"sg:0,0", "not a scanner"},         {"sg:9,9", "no SCSI device"},        {"sg:4294967296,5", "not of the form"},
        {"/fakedev/missing", "cannot find"}, {"scanner", "unknown device"},       {"/fakedev/file", "not a device node"},
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
    EXPECT_EQ(EntryAttach(), BUSLNK_GOOD) << SgLastError();
    EXPECT_EQ(EntryRun({0x12, 0, 0, 0, 37, 0}, 37), BUSLNK_GOOD);
    EXPECT_EQ(Data[0], 6);

    Fake().Nodes["/fakedev/sg1"].OpenErrno = EACCES;
    EXPECT_EQ(EntryAttach(), BUSLNK_FAILURE);
    EXPECT_EQ(EntryRun({0x12, 0, 0, 0, 37, 0}, 37), BUSLNK_FAILURE);
    EXPECT_TRUE(Contains(SgLastError(), "permission denied")) << "the attach's reason stays: " << SgLastError();

    setenv("SCANDRV_SG_DEVICE", "/fakedev/sg3", 1);
    Fake().Opened.clear();
    EXPECT_EQ(EntryAttach(), BUSLNK_GOOD) << SgLastError();
    EXPECT_EQ(Fake().Opened, std::vector<std::string>{"/fakedev/sg3"}) << "the variable wins over the attach values";
}

TEST_F(Listing, TraceShowsAttachCommandsAndSenseAndNeverStopsTheAttach)
{
    setenv("SCANDRV_SG_TRACE", (Root / "trace.txt").c_str(), 1);
    Fake().Replies.push_back(Check(FixedSense(0, 0x00, 0x05, 100)));
    ASSERT_EQ(EntryAttach(), BUSLNK_GOOD);
    EXPECT_EQ(EntryRun({0x28, 0, 0, 0, 0, 0, 0, 0x10, 0, 0}, 4096), BUSLNK_CHECK_CONDITION);
    std::stringstream text;
    text << std::ifstream(Root / "trace.txt").rdbuf();
    for (const char *line : {"attached /fakedev/sg1", "cdb 28 00 00 00 00 00 00 10 00 00 in=4096", "asc/ascq 00/05"})
        EXPECT_TRUE(Contains(text.str(), line)) << line << " in:\n" << text.str();

    setenv("SCANDRV_SG_TRACE", "/nonexistent-directory/trace.txt", 1);
    EXPECT_EQ(EntryAttach(), BUSLNK_GOOD) << "an unwritable trace does not stop the attach";
    EXPECT_TRUE(Contains(SgLastError(), "cannot write the trace file")) << SgLastError();
}

} // namespace
