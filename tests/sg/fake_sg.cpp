/*
 * fake_sg.cpp - the scripted kernel and the temporary sysfs tree of the
 * adapter tests (see fake_sg.h).
 */
#include "fake_sg.h"

#include "sg_device.h"
#include "sg_os.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <scsi/sg.h>
#include <sys/sysmacros.h>

namespace fs = std::filesystem;

namespace fakesg {

State &Fake()
{
    static State state;
    return state;
}

namespace {

const Node *NodeAt(const char *path)
{
    auto found = Fake().Nodes.find(path);
    return found == Fake().Nodes.end() ? nullptr : &found->second;
}

int FakeOpen(const char *path, int flags)
{
    State &state = Fake();
    state.Opened.push_back(path);
    state.OpenFlags.push_back(flags);
    const Node *node = NodeAt(path);
    if (node == nullptr) {
        errno = ENOENT;
        return -1;
    }
    if (node->OpenErrno != 0) {
        errno = node->OpenErrno;
        return -1;
    }
    int fd = state.NextFd++;
    state.OpenFds[fd] = path;
    state.FdFlags[fd] = flags & ~(O_CREAT | O_EXCL | O_CLOEXEC);
    return fd;
}

int FakeClose(int fd)
{
    State &state = Fake();
    if (state.OpenFds.erase(fd) == 0) {
        ADD_FAILURE() << "close of descriptor " << fd << ", which is not open";
        errno = EBADF;
        return -1;
    }
    state.Closed.push_back(fd);
    return 0;
}

int FakeFcntl(int fd, int command, int arg)
{
    State &state = Fake();
    if (state.OpenFds.count(fd) == 0) {
        errno = EBADF;
        return -1;
    }
    if (command == F_GETFL)
        return state.FdFlags[fd];
    if (command == F_SETFL) {
        state.FdFlags[fd] = arg;
        return 0;
    }
    errno = EINVAL;
    return -1;
}

int AnswerSgIo(sg_io_hdr &request)
{
    State &state = Fake();
    Request seen;
    seen.InterfaceId = request.interface_id;
    seen.Direction = request.dxfer_direction;
    seen.Length = request.dxfer_len;
    seen.BufferGiven = request.dxferp != nullptr;
    seen.Timeout = request.timeout;
    seen.MaxSense = request.mx_sb_len;
    seen.SenseBufferGiven = request.sbp != nullptr;
    seen.Cdb.assign(request.cmdp, request.cmdp + request.cmd_len);
    if (request.dxfer_direction == SG_DXFER_TO_DEV && request.dxferp != nullptr) {
        const uint8_t *out = static_cast<const uint8_t *>(request.dxferp);
        seen.DataOut.assign(out, out + request.dxfer_len);
    }
    state.Requests.push_back(seen);

    if (state.Replies.empty()) {
        ADD_FAILURE() << "SG_IO with no reply scripted";
        errno = EIO;
        return -1;
    }
    Reply reply = state.Replies.front();
    state.Replies.pop_front();
    if (reply.Errno != 0) {
        errno = reply.Errno;
        return -1;
    }
    if (request.dxfer_direction == SG_DXFER_FROM_DEV && request.dxferp != nullptr) {
        size_t count = std::min<size_t>(reply.Data.size(), request.dxfer_len);
        if (count > 0)
            std::memcpy(request.dxferp, reply.Data.data(), count);
    }
    request.status = reply.Status;
    request.masked_status = static_cast<unsigned char>((reply.Status >> 1) & 0x7F);
    request.host_status = reply.HostStatus;
    request.driver_status = reply.DriverStatus;
    request.resid = reply.Resid;
    size_t senseCount = std::min<size_t>(reply.Sense.size(), request.mx_sb_len);
    if (senseCount > 0 && request.sbp != nullptr)
        std::memcpy(request.sbp, reply.Sense.data(), senseCount);
    request.sb_len_wr = static_cast<unsigned char>(request.sbp != nullptr ? senseCount : 0);
    request.duration = 1;
    return 0;
}

int FakeIoctl(int fd, unsigned long request, void *arg)
{
    State &state = Fake();
    auto open = state.OpenFds.find(fd);
    if (open == state.OpenFds.end()) {
        ADD_FAILURE() << "ioctl on descriptor " << fd << ", which is not open";
        errno = EBADF;
        return -1;
    }
    if (request == SG_IO)
        return AnswerSgIo(*static_cast<sg_io_hdr *>(arg));
    if (request == SG_GET_SCSI_ID) {
        const Node *node = NodeAt(open->second.c_str());
        if (node->IdErrno != 0) {
            errno = node->IdErrno;
            return -1;
        }
        sg_scsi_id *id = static_cast<sg_scsi_id *>(arg);
        id->host_no = static_cast<int>(node->Address.Host);
        id->channel = static_cast<int>(node->Address.Channel);
        id->scsi_id = static_cast<int>(node->Address.Target);
        id->lun = static_cast<int>(node->Address.Lun);
        id->scsi_type = node->Type;
        return 0;
    }
    errno = ENOTTY;
    return -1;
}

int FakeStat(const char *path, struct stat *info)
{
    const Node *node = NodeAt(path);
    if (node == nullptr) {
        errno = ENOENT;
        return -1;
    }
    std::memset(info, 0, sizeof *info);
    info->st_mode = (node->CharDevice ? S_IFCHR : S_IFREG) | node->Mode;
    info->st_gid = node->Gid;
    info->st_rdev = makedev(node->Major, node->Minor);
    return 0;
}

int FakeAccess(const char *path, int)
{
    const Node *node = NodeAt(path);
    if (node == nullptr) {
        errno = ENOENT;
        return -1;
    }
    if (node->AccessErrno != 0) {
        errno = node->AccessErrno;
        return -1;
    }
    return 0;
}

bool FakeGroupName(unsigned gid, char *name, size_t size)
{
    auto found = Fake().Groups.find(gid);
    if (found == Fake().Groups.end())
        return false;
    std::snprintf(name, size, "%s", found->second.c_str());
    return true;
}

void WriteFile(const fs::path &path, const std::string &text)
{
    std::ofstream file(path);
    file << text;
}

/* INQUIRY strings as sysfs shows them: padded to the field width. */
std::string Padded(const std::string &text, size_t width)
{
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

} // namespace

std::vector<uint8_t> FixedSense(uint8_t key, uint8_t asc, uint8_t ascq, uint32_t info)
{
    std::vector<uint8_t> sense(18, 0);
    sense[0] = 0xF0; /* valid, current error, fixed format */
    sense[2] = key;
    sense[3] = static_cast<uint8_t>(info >> 24);
    sense[4] = static_cast<uint8_t>(info >> 16);
    sense[5] = static_cast<uint8_t>(info >> 8);
    sense[6] = static_cast<uint8_t>(info);
    sense[7] = 10;
    sense[12] = asc;
    sense[13] = ascq;
    return sense;
}

Sysfs::Sysfs()
{
    std::string pattern = (fs::temp_directory_path() / "sgsysfs.XXXXXX").string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    RootPath = name.data();
    fs::create_directories(fs::path(RootPath) / "class" / "scsi_generic");
}

Sysfs::~Sysfs()
{
    std::error_code ignored;
    fs::remove_all(RootPath, ignored);
}

void Sysfs::Add(const std::string &name, const std::string &hctl, int type, const std::string &vendor,
                const std::string &model, const std::string &revision, unsigned minor)
{
    fs::path root(RootPath);
    std::string host = "host" + hctl.substr(0, hctl.find(':'));
    fs::path device = root / "devices" / host / hctl;
    fs::create_directories(device);
    WriteFile(device / "type", std::to_string(type) + "\n");
    WriteFile(device / "vendor", Padded(vendor, 8) + "\n");
    WriteFile(device / "model", Padded(model, 16) + "\n");
    WriteFile(device / "rev", Padded(revision, 4) + "\n");

    fs::path entry = root / "class" / "scsi_generic" / name;
    fs::create_directories(entry);
    WriteFile(entry / "dev", "21:" + std::to_string(minor) + "\n");
    fs::create_directory_symlink(fs::path("../../..") / "devices" / host / hctl, entry / "device");
}

void Sysfs::RemoveClass()
{
    fs::remove_all(fs::path(RootPath) / "class" / "scsi_generic");
}

} // namespace fakesg

void SgTest::SetUp()
{
    fakesg::Fake() = fakesg::State{};
    SgOs os{Tree.Root(),       "/fakedev",       fakesg::FakeOpen,  fakesg::FakeClose,    fakesg::FakeIoctl,
            fakesg::FakeFcntl, fakesg::FakeStat, fakesg::FakeAccess, fakesg::FakeGroupName};
    SgSystem() = os;
}

void SgTest::TearDown()
{
    DetachSg(Adapter);
    CloseSgTrace(Adapter.Trace);
    EXPECT_TRUE(fakesg::Fake().OpenFds.empty()) << "descriptors left open";
    EXPECT_TRUE(fakesg::Fake().Replies.empty()) << fakesg::Fake().Replies.size() << " scripted replies unused";
    SgSystem() = SgRealOs();
}

fakesg::Node &SgTest::AddDevice(const std::string &name, const std::string &hctl, int type, const std::string &vendor,
                                const std::string &model, const std::string &revision)
{
    unsigned minor = static_cast<unsigned>(std::atoi(name.c_str() + 2));
    Tree.Add(name, hctl, type, vendor, model, revision, minor);
    fakesg::Node &node = fakesg::Fake().Nodes["/fakedev/" + name];
    EXPECT_TRUE(ParseHctl(hctl, node.Address)) << hctl;
    node.Type = type;
    node.Minor = minor;
    return node;
}

void SgTest::Attach(uint16_t host, uint16_t target)
{
    AttachRecord record = {7, target, host, 1};
    ASSERT_EQ(AttachSg(Adapter, &record, ""), BUSLNK_GOOD) << Adapter.LastError;
}
