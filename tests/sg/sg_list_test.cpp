/*
 * Listing the scanners and finding the one a user named, through the
 * functions a front end calls, and the adapter entry points' use of the
 * environment (device node, trace).
 */
#include "fake_sg.h"
#include "sg_device.h"
#include "sg_list.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

using fakesg::Fake;

namespace {

bool Contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

void Collect(const SgDeviceInfo *device, void *context)
{
    static_cast<std::vector<SgDeviceInfo> *>(context)->push_back(*device);
}

class Listing : public SgTest {
protected:
    void SetUp() override
    {
        SgTest::SetUp();
        AddDevice("sg0", "0:0:0:0", 0, "ATA", "DISK");
        AddDevice("sg1", "2:0:5:0", 6, "ACME", "FLATBED 600", "1.23");
        AddDevice("sg3", "1:1:4:0", 6, "ACME", "FLATBED 1200", "2.10");
        AddDevice("sg4", "3:0:6:1", 6, "OTHER", "MULTI LUN", "0.9");
        Fake().Groups[42] = "scanner";
        for (const char *node : {"/fakedev/sg1", "/fakedev/sg3", "/fakedev/sg4"})
            Fake().Nodes[node].Gid = 42;
    }
    void TearDown() override
    {
        /* Leaves the process-wide adapter detached. */
        AttachRecord nowhere = {7, 0xFF, 0xFFFF, 1};
        unsetenv("SCANDRV_SG_DEVICE");
        unsetenv("SCANDRV_SG_TRACE");
        BusLinkAttach(&nowhere);
        SgTest::TearDown();
    }
};

TEST_F(Listing, ListsEveryScannerWithItsAttachValues)
{
    std::vector<SgDeviceInfo> found;
    ASSERT_EQ(SgListDevices(Collect, &found), 3) << SgLastError();
    ASSERT_EQ(found.size(), 3u);
    EXPECT_STREQ(SgLastError(), "");

    EXPECT_STREQ(found[0].Node, "/fakedev/sg1");
    EXPECT_STREQ(found[0].Vendor, "ACME");
    EXPECT_STREQ(found[0].Model, "FLATBED 600");
    EXPECT_STREQ(found[0].Revision, "1.23");
    EXPECT_EQ(found[0].Host, 2u);
    EXPECT_EQ(found[0].Target, 5u);
    EXPECT_EQ(found[0].AttachParam1, 2);
    EXPECT_EQ(found[0].AttachParam2, 5);
    EXPECT_STREQ(found[0].Note, "");

    EXPECT_STREQ(found[1].Node, "/fakedev/sg3");
    EXPECT_EQ(found[1].Channel, 1u);
    EXPECT_EQ(found[1].AttachParam1, 1);
    EXPECT_EQ(found[1].AttachParam2, 0x0104);

    /* LUN 1 cannot be attached by values: the note says how instead. */
    EXPECT_STREQ(found[2].Node, "/fakedev/sg4");
    EXPECT_EQ(found[2].Lun, 1u);
    EXPECT_TRUE(Contains(found[2].Note, "SCANDRV_SG_DEVICE=/fakedev/sg4")) << found[2].Note;
}

TEST_F(Listing, NotesWhatStandsInTheWay)
{
    Fake().Nodes["/fakedev/sg1"].AccessErrno = EACCES;
    Fake().Nodes.erase("/fakedev/sg3");
    std::vector<SgDeviceInfo> found;
    ASSERT_EQ(SgListDevices(Collect, &found), 3);
    EXPECT_TRUE(Contains(found[0].Note, "permission denied")) << found[0].Note;
    EXPECT_TRUE(Contains(found[0].Note, "group 'scanner'")) << found[0].Note;
    EXPECT_TRUE(Contains(found[1].Note, "/fakedev/sg3 cannot be found")) << found[1].Note;
    EXPECT_TRUE(Fake().Opened.empty()) << "listing opens no device";
}

TEST_F(Listing, NoScannersAndNoSgDriverAreTold)
{
    Tree.RemoveClass();
    EXPECT_EQ(SgListDevices(Collect, nullptr), -1);
    EXPECT_TRUE(Contains(SgLastError(), "modprobe sg")) << SgLastError();

    std::filesystem::create_directories(std::filesystem::path(Tree.Root()) / "class/scsi_generic");
    std::vector<SgDeviceInfo> found;
    EXPECT_EQ(SgListDevices(Collect, &found), 0);
    EXPECT_TRUE(found.empty());
    EXPECT_STREQ(SgLastError(), "");
}

/* --- Lookup ----------------------------------------------------------------- */

TEST_F(Listing, FindsAScannerByHostAndTarget)
{
    SgDeviceInfo info;
    ASSERT_EQ(SgLookupDevice("sg:2,5", &info), 0) << SgLastError();
    EXPECT_STREQ(info.Node, "/fakedev/sg1");
    EXPECT_EQ(info.AttachParam1, 2);
    EXPECT_EQ(info.AttachParam2, 5);

    ASSERT_EQ(SgLookupDevice("sg:1,1,4", &info), 0) << SgLastError();
    EXPECT_STREQ(info.Node, "/fakedev/sg3");
    EXPECT_EQ(info.AttachParam2, 0x0104);
}

TEST_F(Listing, FindsAScannerByItsNode)
{
    /* Any name of the node will do: the device number decides. */
    fakesg::Node &link = Fake().Nodes["/fakedev/scanner"];
    link.Minor = 3;
    SgDeviceInfo info;
    ASSERT_EQ(SgLookupDevice("/fakedev/scanner", &info), 0) << SgLastError();
    EXPECT_EQ(info.Host, 1u);
    EXPECT_EQ(info.AttachParam2, 0x0104);
    EXPECT_STREQ(info.Model, "FLATBED 1200");
}

TEST_F(Listing, RefusesNamesThatAreNotScanners)
{
    SgDeviceInfo info{};
    const struct {
        const char *name;
        const char *message;
    } cases[] = {
        {"sg:0,0", "is a disk (peripheral type 0), not a scanner"},
        {"sg:9,9", "no SCSI device at sg:9,9"},
        {"sg:2", "is not of the form sg:HOST,TARGET"},
        {"sg:2,x", "is not of the form"},
        {"sg:1,2,3,4", "is not of the form"},
        {"sg:", "is not of the form"},
        {"/fakedev/sg0", "not a scanner"},
        {"/fakedev/missing", "cannot find /fakedev/missing"},
        {"scanner", "unknown device 'scanner'"},
        {"", "unknown device"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(SgLookupDevice(c.name, &info), -1) << c.name;
        EXPECT_TRUE(Contains(SgLastError(), c.message)) << c.name << ": " << SgLastError();
    }
    Fake().Nodes["/fakedev/file"].CharDevice = false;
    EXPECT_EQ(SgLookupDevice("/fakedev/file", &info), -1);
    EXPECT_TRUE(Contains(SgLastError(), "not a device node")) << SgLastError();
    Fake().Nodes["/fakedev/tty"].Major = 4;
    EXPECT_EQ(SgLookupDevice("/fakedev/tty", &info), -1);
    EXPECT_TRUE(Contains(SgLastError(), "not a SCSI generic device")) << SgLastError();
    EXPECT_EQ(SgLookupDevice(nullptr, &info), -1);
    EXPECT_EQ(SgLookupDevice("sg:2,5", nullptr), -1);
}

/* --- The entry points ------------------------------------------------------- */

TEST_F(Listing, EntryPointsAttachAndRunCommands)
{
    AttachRecord record = {7, 5, 2, 1};
    ASSERT_EQ(BusLinkAttach(&record), BUSLNK_GOOD) << SgLastError();

    uint8_t cdb[6] = {0x12, 0, 0, 0, 37, 0};
    uint8_t inquiry[37] = {};
    CommandRecord command = {1, 6, cdb};
    TransferRecord in = {37, inquiry};
    TransferRecord out = {0, nullptr};
    fakesg::Reply reply;
    reply.Data.assign(37, 0);
    reply.Data[0] = 6;
    Fake().Replies.push_back(reply);
    EXPECT_EQ(BusLinkExecute(&command, &in, &out), BUSLNK_GOOD);
    EXPECT_EQ(inquiry[0], 6);
    ASSERT_EQ(Fake().Requests.size(), 1u);
    EXPECT_EQ(Fake().Requests[0].Timeout, 1000u);
}

TEST_F(Listing, AttachFailureIsExplainedBySgLastError)
{
    Fake().Nodes["/fakedev/sg1"].OpenErrno = EACCES;
    AttachRecord record = {7, 5, 2, 1};
    EXPECT_EQ(BusLinkAttach(&record), BUSLNK_FAILURE);
    std::string reason = SgLastError();
    EXPECT_TRUE(Contains(reason, "/fakedev/sg1")) << reason;
    EXPECT_TRUE(Contains(reason, "scanner")) << reason;

    /* The driver's INQUIRY then fails, and the reason stays. */
    uint8_t cdb[6] = {0x12, 0, 0, 0, 37, 0};
    uint8_t inquiry[37];
    CommandRecord command = {1, 6, cdb};
    TransferRecord in = {37, inquiry};
    TransferRecord out = {0, nullptr};
    EXPECT_EQ(BusLinkExecute(&command, &in, &out), BUSLNK_FAILURE);
    EXPECT_EQ(SgLastError(), reason);
}

TEST_F(Listing, DeviceVariableOverridesTheAttachValues)
{
    setenv("SCANDRV_SG_DEVICE", "/fakedev/sg3", 1);
    AttachRecord record = {7, 5, 2, 1};
    EXPECT_EQ(BusLinkAttach(&record), BUSLNK_GOOD) << SgLastError();
    EXPECT_EQ(Fake().Opened, std::vector<std::string>{"/fakedev/sg3"});
}

/* --- Trace ------------------------------------------------------------------ */

std::string ReadAll(const std::filesystem::path &path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST_F(Listing, TraceShowsAttachCommandsStatusesAndSense)
{
    std::filesystem::path trace = std::filesystem::path(Tree.Root()) / "trace.txt";
    setenv("SCANDRV_SG_TRACE", trace.c_str(), 1);
    AttachRecord record = {7, 5, 2, 1};
    ASSERT_EQ(BusLinkAttach(&record), BUSLNK_GOOD) << SgLastError();

    uint8_t cdb[10] = {0x28, 0, 0, 0, 0, 0, 0, 0x10, 0, 0};
    uint8_t lines[4096];
    CommandRecord read = {30, 10, cdb};
    TransferRecord in = {sizeof lines, lines};
    TransferRecord out = {0, nullptr};
    fakesg::Reply ended;
    ended.Status = 0x02;
    ended.DriverStatus = 0x08;
    ended.Sense = fakesg::FixedSense(0, 0x00, 0x05, 100);
    Fake().Replies.push_back(ended);
    EXPECT_EQ(BusLinkExecute(&read, &in, &out), BUSLNK_CHECK_CONDITION);
    uint8_t senseCdb[6] = {0x03, 0, 0, 0, 14, 0};
    uint8_t sense[14];
    CommandRecord requestSense = {1, 6, senseCdb};
    TransferRecord senseIn = {14, sense};
    EXPECT_EQ(BusLinkExecute(&requestSense, &senseIn, &out), BUSLNK_GOOD);

    std::string text = ReadAll(trace);
    EXPECT_TRUE(Contains(text, "attach kind=7 param1=2 param2=5 version=1")) << text;
    EXPECT_TRUE(Contains(text, "attached /fakedev/sg1 (2:0:5:0)")) << text;
    EXPECT_TRUE(Contains(text, "cdb 28 00 00 00 00 00 00 10 00 00 in=4096 out=0 timeout=30000 ms")) << text;
    EXPECT_TRUE(Contains(text, "CHECK CONDITION (1)")) << text;
    EXPECT_TRUE(Contains(text, "asc/ascq 00/05")) << text;
    EXPECT_TRUE(Contains(text, "answered from the kept sense")) << text;
    EXPECT_TRUE(Contains(text, "in 14 bytes: f0 00 00 00 00 00 64")) << text;
}

TEST_F(Listing, UnwritableTraceIsReportedButDoesNotStopTheAttach)
{
    setenv("SCANDRV_SG_TRACE", "/nonexistent-directory/trace.txt", 1);
    AttachRecord record = {7, 5, 2, 1};
    EXPECT_EQ(BusLinkAttach(&record), BUSLNK_GOOD);
    EXPECT_TRUE(Contains(SgLastError(), "cannot write the trace file")) << SgLastError();
}

} // namespace
