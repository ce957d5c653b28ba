/*
 * Finding and opening the scanner: sysfs entries, the attach values, the
 * checks on the node, what a refused open says, and re-attaching.
 */
#include "fake_sg.h"
#include "sg_device.h"

#include <cerrno>
#include <fcntl.h>

using fakesg::Fake;

namespace {

bool Contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

TEST(Hctl, ParsesFourDecimalNumbers)
{
    SgAddress address;
    ASSERT_TRUE(ParseHctl("2:0:5:0", address));
    EXPECT_EQ(address.Host, 2u);
    EXPECT_EQ(address.Channel, 0u);
    EXPECT_EQ(address.Target, 5u);
    EXPECT_EQ(address.Lun, 0u);
    ASSERT_TRUE(ParseHctl("12:3:15:4294967295", address));
    EXPECT_EQ(address.Host, 12u);
    EXPECT_EQ(address.Channel, 3u);
    EXPECT_EQ(address.Target, 15u);
    EXPECT_EQ(address.Lun, 4294967295u);

    for (const char *bad : {"", "0:0:5", "0:0:5:0:0", "0:0:x:0", "0::5:0", "0:0:-1:0", "0:0:5:4294967296",
                            " 0:0:5:0", "target0:0:5"})
        EXPECT_FALSE(ParseHctl(bad, address)) << bad;
}

/* --- sysfs ------------------------------------------------------------------ */

using Sysfs = SgTest;

TEST_F(Sysfs, ReadsEveryEntryInOrderOfTheSgNumber)
{
    AddDevice("sg10", "4:0:2:0", 6, "OTHER", "SCANNER X", "2.0");
    AddDevice("sg2", "0:0:1:0", 5, "DISCS", "CD ROM", "1.0");
    AddDevice("sg1", "0:0:0:0", 0, "ATA", "DISK", "0001");

    std::vector<SgNodeInfo> nodes;
    std::string error;
    ASSERT_TRUE(ReadSgClass(nodes, error)) << error;
    ASSERT_EQ(nodes.size(), 3u);
    EXPECT_EQ(nodes[0].Name, "sg1");
    EXPECT_EQ(nodes[1].Name, "sg2");
    EXPECT_EQ(nodes[2].Name, "sg10");

    const SgNodeInfo &scanner = nodes[2];
    EXPECT_EQ(scanner.Node, "/fakedev/sg10");
    ASSERT_TRUE(scanner.HaveAddress);
    EXPECT_EQ(scanner.Address.Host, 4u);
    EXPECT_EQ(scanner.Address.Target, 2u);
    EXPECT_EQ(scanner.Type, 6);
    EXPECT_EQ(scanner.Vendor, "OTHER") << "padding is trimmed";
    EXPECT_EQ(scanner.Model, "SCANNER X");
    EXPECT_EQ(scanner.Revision, "2.0");
    ASSERT_TRUE(scanner.HaveDevNumber);
    EXPECT_EQ(scanner.Major, 21u);
    EXPECT_EQ(scanner.Minor, 10u);
    EXPECT_EQ(nodes[1].Type, 5);
}

TEST_F(Sysfs, MissingClassSaysTheSgDriverIsNotLoaded)
{
    Tree.RemoveClass();
    std::vector<SgNodeInfo> nodes;
    std::string error;
    EXPECT_FALSE(ReadSgClass(nodes, error));
    EXPECT_TRUE(Contains(error, "modprobe sg")) << error;
}

/* --- Attach ----------------------------------------------------------------- */

class AttachTest : public SgTest {
protected:
    uint32_t AttachTo(uint16_t param1, uint16_t param2, const std::string &node = "")
    {
        AttachRecord record = {7, param2, param1, 1};
        return AttachSg(Adapter, &record, node);
    }
};

TEST_F(AttachTest, OpensTheNodeAtHostAndTarget)
{
    AddDevice("sg0", "0:0:0:0", 0);
    AddDevice("sg1", "2:0:5:0", 6);
    AddDevice("sg2", "5:0:2:0", 6);

    EXPECT_EQ(AttachTo(2, 5), BUSLNK_GOOD) << Adapter.LastError;
    ASSERT_EQ(Fake().Opened, std::vector<std::string>{"/fakedev/sg1"});
    int flags = Fake().OpenFlags[0];
    EXPECT_EQ(flags & O_ACCMODE, O_RDWR);
    EXPECT_TRUE(flags & O_EXCL);
    EXPECT_TRUE(flags & O_NONBLOCK) << "an exclusive open must not wait for another program";
    EXPECT_FALSE(Fake().FdFlags[Adapter.Fd] & O_NONBLOCK) << "cleared once open";
    EXPECT_EQ(Adapter.Node, "/fakedev/sg1");
    EXPECT_EQ(Adapter.Address.Host, 2u);
    EXPECT_EQ(Adapter.Address.Target, 5u);
    EXPECT_TRUE(Adapter.LastError.empty());
}

TEST_F(AttachTest, ChannelComesFromTheHighByteOfTheSecondValue)
{
    AddDevice("sg3", "1:0:4:0", 6);
    AddDevice("sg4", "1:1:4:0", 6);
    EXPECT_EQ(AttachTo(1, 0x0104), BUSLNK_GOOD) << Adapter.LastError;
    EXPECT_EQ(Adapter.Node, "/fakedev/sg4");
    EXPECT_EQ(AttachTo(1, 4), BUSLNK_GOOD) << Adapter.LastError;
    EXPECT_EQ(Adapter.Node, "/fakedev/sg3");
}

TEST_F(AttachTest, OnlyLunZeroIsAddressed)
{
    AddDevice("sg5", "3:0:2:1", 6);
    EXPECT_EQ(AttachTo(3, 2), BUSLNK_FAILURE);
    EXPECT_TRUE(Fake().Opened.empty());
}

TEST_F(AttachTest, AbsentDeviceLeavesTheAdapterDetached)
{
    AddDevice("sg1", "2:0:5:0", 6);
    EXPECT_EQ(AttachTo(3, 1), BUSLNK_FAILURE);
    EXPECT_EQ(Adapter.Fd, -1);
    EXPECT_TRUE(Fake().Opened.empty());
    EXPECT_TRUE(Contains(Adapter.LastError, "no SCSI device at sg:3,1")) << Adapter.LastError;
}

TEST_F(AttachTest, DeviceOfAnotherKindIsNotOpened)
{
    AddDevice("sg0", "0:0:0:0", 0, "ATA", "BIG DISK");
    EXPECT_EQ(AttachTo(0, 0), BUSLNK_FAILURE);
    EXPECT_TRUE(Fake().Opened.empty());
    EXPECT_TRUE(Contains(Adapter.LastError, "is a disk (peripheral type 0), not a scanner")) << Adapter.LastError;
    EXPECT_TRUE(Contains(Adapter.LastError, "ATA BIG DISK")) << Adapter.LastError;
}

TEST_F(AttachTest, TypeReportedByTheOpenNodeIsCheckedToo)
{
    /* sysfs said scanner, the node says disk (renumbered in between). */
    AddDevice("sg1", "2:0:5:0", 6).Type = 0;
    EXPECT_EQ(AttachTo(2, 5), BUSLNK_FAILURE);
    EXPECT_EQ(Adapter.Fd, -1);
    EXPECT_EQ(Fake().Closed.size(), 1u);
    EXPECT_TRUE(Contains(Adapter.LastError, "not a scanner")) << Adapter.LastError;
}

TEST_F(AttachTest, NamedNodeTakesPrecedenceOverTheAttachValues)
{
    AddDevice("sg1", "2:0:5:0", 6);
    fakesg::Node &named = Fake().Nodes["/fakedev/scanner"];
    named.Address.Host = 7;
    named.Address.Target = 3;
    EXPECT_EQ(AttachTo(2, 5, "/fakedev/scanner"), BUSLNK_GOOD) << Adapter.LastError;
    EXPECT_EQ(Adapter.Node, "/fakedev/scanner");
    EXPECT_EQ(Adapter.Address.Host, 7u);
    EXPECT_EQ(Fake().Opened, std::vector<std::string>{"/fakedev/scanner"});
}

TEST_F(AttachTest, NamedNodeThatIsNotSgIsClosedAgain)
{
    Fake().Nodes["/fakedev/null"].IdErrno = ENOTTY;
    EXPECT_EQ(AttachTo(0, 0, "/fakedev/null"), BUSLNK_FAILURE);
    EXPECT_EQ(Fake().Closed.size(), 1u);
    EXPECT_TRUE(Contains(Adapter.LastError, "/fakedev/null is not a SCSI generic device")) << Adapter.LastError;

    EXPECT_EQ(AttachTo(0, 0, "/fakedev/nothing"), BUSLNK_FAILURE);
    EXPECT_TRUE(Contains(Adapter.LastError, "no such device node")) << Adapter.LastError;
}

TEST_F(AttachTest, AttachingAgainClosesThePreviousNode)
{
    AddDevice("sg1", "2:0:5:0", 6);
    AddDevice("sg2", "2:0:6:0", 6);
    ASSERT_EQ(AttachTo(2, 5), BUSLNK_GOOD);
    int first = Adapter.Fd;
    ASSERT_EQ(AttachTo(2, 6), BUSLNK_GOOD);
    EXPECT_EQ(Fake().Closed, std::vector<int>{first});
    EXPECT_EQ(Fake().OpenFds.size(), 1u);

    /* A failed attach leaves nothing open either. */
    int second = Adapter.Fd;
    EXPECT_EQ(AttachTo(9, 9), BUSLNK_FAILURE);
    EXPECT_EQ(Fake().Closed, (std::vector<int>{first, second}));
    EXPECT_TRUE(Fake().OpenFds.empty());
}

/* --- Refused opens ---------------------------------------------------------- */

TEST_F(AttachTest, PermissionDeniedNamesTheNodeAndTheGroupToJoin)
{
    fakesg::Node &node = AddDevice("sg1", "2:0:5:0", 6);
    node.OpenErrno = EACCES;
    node.Gid = 42;
    node.Mode = 0660;
    Fake().Groups[42] = "scanner";
    EXPECT_EQ(AttachTo(2, 5), BUSLNK_FAILURE);
    EXPECT_EQ(Adapter.Fd, -1);
    const std::string &message = Adapter.LastError;
    EXPECT_TRUE(Contains(message, "cannot open /fakedev/sg1: permission denied")) << message;
    EXPECT_TRUE(Contains(message, "group 'scanner'")) << message;
    EXPECT_TRUE(Contains(message, "crw-rw----")) << message;
    EXPECT_TRUE(Contains(message, "usermod -aG scanner")) << message;
}

TEST_F(AttachTest, PermissionDeniedOnAnOwnerOnlyNodeAsksForARule)
{
    fakesg::Node &node = AddDevice("sg1", "2:0:5:0", 6);
    node.OpenErrno = EPERM;
    node.Mode = 0600;
    node.Gid = 0;
    Fake().Groups[0] = "root";
    EXPECT_EQ(AttachTo(2, 5), BUSLNK_FAILURE);
    EXPECT_TRUE(Contains(Adapter.LastError, "crw-------")) << Adapter.LastError;
    EXPECT_TRUE(Contains(Adapter.LastError, "udev rule")) << Adapter.LastError;
    EXPECT_FALSE(Contains(Adapter.LastError, "usermod")) << "joining root would not help";
}

TEST_F(AttachTest, GroupWithoutANameIsGivenByNumber)
{
    fakesg::Node &node = AddDevice("sg1", "2:0:5:0", 6);
    node.OpenErrno = EACCES;
    node.Gid = 1234;
    EXPECT_EQ(AttachTo(2, 5), BUSLNK_FAILURE);
    EXPECT_TRUE(Contains(Adapter.LastError, "group '1234'")) << Adapter.LastError;
}

TEST_F(AttachTest, OtherOpenFailuresSayWhatHappened)
{
    fakesg::Node &node = AddDevice("sg1", "2:0:5:0", 6);
    node.OpenErrno = EBUSY;
    EXPECT_EQ(AttachTo(2, 5), BUSLNK_FAILURE);
    EXPECT_TRUE(Contains(Adapter.LastError, "in use by another program")) << Adapter.LastError;

    node.OpenErrno = EIO;
    EXPECT_EQ(AttachTo(2, 5), BUSLNK_FAILURE);
    EXPECT_TRUE(Contains(Adapter.LastError, "Input/output error")) << Adapter.LastError;

    Fake().Nodes.erase("/fakedev/sg1");
    EXPECT_EQ(AttachTo(2, 5), BUSLNK_FAILURE);
    EXPECT_TRUE(Contains(Adapter.LastError, "cannot open /fakedev/sg1: no such device node")) << Adapter.LastError;
}

} // namespace
