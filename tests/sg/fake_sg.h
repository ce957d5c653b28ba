/*
 * fake_sg.h - a scripted kernel under the SCSI generic adapter: device nodes
 * that open or refuse, an SG_IO that records each request and answers from a
 * queue, and a sysfs tree in a temporary directory. SgTest installs both and
 * checks that no descriptor is left open and no scripted answer unused.
 */
#ifndef FAKE_SG_H
#define FAKE_SG_H

#include "sg_adapter.h"
#include "sg_device.h"
#include "sg_os.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <scsi/sg.h>
#include <sys/sysmacros.h>

namespace fakesg {

/* What the fake device answers to one SG_IO. */
struct Reply {
    int Errno = 0; /* non-zero: the ioctl fails with this errno */
    uint8_t Status = 0;
    uint16_t HostStatus = 0, DriverStatus = 0;
    std::vector<uint8_t> Sense{}; /* autosense, cut to mx_sb_len */
    std::vector<uint8_t> Data{};  /* copied into the data-in buffer, cut to its length */
};

/* What the adapter handed to one SG_IO. */
struct Request {
    sg_io_hdr Header;
    std::vector<uint8_t> Cdb, DataOut;
};

/* A device node the fake knows, by path. */
struct Node {
    int OpenErrno = 0, AccessErrno = 0;
    int IdErrno = 0; /* SG_GET_SCSI_ID fails with this: not an sg node */
    bool CharDevice = true;
    unsigned Mode = 0660, Gid = 0, Major = 21, Minor = 0;
    SgAddress Address; /* what SG_GET_SCSI_ID reports */
    int Type = 6;
};

struct State {
    std::map<std::string, Node> Nodes;
    std::map<unsigned, std::string> Groups;
    std::deque<Reply> Replies;
    std::vector<Request> Requests;
    std::map<int, std::string> OpenFds; /* descriptor -> path */
    std::vector<int> OpenFlags, Closed;
    std::vector<std::string> Opened;
    int NextFd = 40;
};

inline State &Fake()
{
    static State state;
    return state;
}

inline const Node *NodeAt(const char *path)
{
    auto found = Fake().Nodes.find(path);
    return found == Fake().Nodes.end() ? nullptr : &found->second;
}

inline int Fail(int code) { return errno = code, -1; }

inline int Open(const char *path, int flags)
{
    State &state = Fake();
    state.Opened.push_back(path);
    state.OpenFlags.push_back(flags);
    const Node *node = NodeAt(path);
    if (node == nullptr || node->OpenErrno != 0)
        return Fail(node == nullptr ? ENOENT : node->OpenErrno);
    state.OpenFds[state.NextFd] = path;
    return state.NextFd++;
}

inline int Close(int fd)
{
    if (Fake().OpenFds.erase(fd) == 0) {
        ADD_FAILURE() << "close of descriptor " << fd << ", which is not open";
        return Fail(EBADF);
    }
    Fake().Closed.push_back(fd);
    return 0;
}

inline int Fcntl(int fd, int command, int) { return Fake().OpenFds.count(fd) == 0 ? Fail(EBADF) : command == F_GETFL ? O_RDWR : 0; }

inline int AnswerSgIo(sg_io_hdr &request)
{
    State &state = Fake();
    Request seen{request, {request.cmdp, request.cmdp + request.cmd_len}, {}};
    if (request.dxfer_direction == SG_DXFER_TO_DEV && request.dxferp != nullptr)
        seen.DataOut.assign(static_cast<uint8_t *>(request.dxferp), static_cast<uint8_t *>(request.dxferp) + request.dxfer_len);
    state.Requests.push_back(seen);
    if (state.Replies.empty()) {
        ADD_FAILURE() << "SG_IO with no reply scripted";
        return Fail(EIO);
    }
    Reply reply = state.Replies.front();
    state.Replies.pop_front();
    if (reply.Errno != 0)
        return Fail(reply.Errno);
    if (request.dxfer_direction == SG_DXFER_FROM_DEV && request.dxferp != nullptr && !reply.Data.empty())
        std::memcpy(request.dxferp, reply.Data.data(), std::min<size_t>(reply.Data.size(), request.dxfer_len));
    request.status = reply.Status;
    request.host_status = reply.HostStatus;
    request.driver_status = reply.DriverStatus;
    size_t senseCount = request.sbp != nullptr ? std::min<size_t>(reply.Sense.size(), request.mx_sb_len) : 0;
    if (senseCount > 0)
        std::memcpy(request.sbp, reply.Sense.data(), senseCount);
    request.sb_len_wr = static_cast<unsigned char>(senseCount);
    return 0;
}

inline int Ioctl(int fd, unsigned long request, void *arg)
{
    auto open = Fake().OpenFds.find(fd);
    if (open == Fake().OpenFds.end()) {
        ADD_FAILURE() << "ioctl on descriptor " << fd << ", which is not open";
        return Fail(EBADF);
    }
    if (request == SG_IO)
        return AnswerSgIo(*static_cast<sg_io_hdr *>(arg));
    if (request != SG_GET_SCSI_ID)
        return Fail(ENOTTY);
    const Node *node = NodeAt(open->second.c_str());
    if (node->IdErrno != 0)
        return Fail(node->IdErrno);
    sg_scsi_id *id = static_cast<sg_scsi_id *>(arg);
    id->host_no = static_cast<int>(node->Address.Host);
    id->channel = static_cast<int>(node->Address.Channel);
    id->scsi_id = static_cast<int>(node->Address.Target);
    id->lun = static_cast<int>(node->Address.Lun);
    id->scsi_type = node->Type;
    return 0;
}

inline int Stat(const char *path, struct stat *info)
{
    const Node *node = NodeAt(path);
    if (node == nullptr)
        return Fail(ENOENT);
    std::memset(info, 0, sizeof *info);
    info->st_mode = (node->CharDevice ? S_IFCHR : S_IFREG) | node->Mode;
    info->st_gid = node->Gid;
    info->st_rdev = makedev(node->Major, node->Minor);
    return 0;
}

inline int Access(const char *path, int)
{
    const Node *node = NodeAt(path);
    return node == nullptr ? Fail(ENOENT) : node->AccessErrno != 0 ? Fail(node->AccessErrno) : 0;
}

inline bool GroupName(unsigned gid, char *name, size_t size)
{
    auto found = Fake().Groups.find(gid);
    return found != Fake().Groups.end() && std::snprintf(name, size, "%s", found->second.c_str()) >= 0;
}

/* Fixed-format sense with the key, ASC and ASCQ, information bytes 3-6 set to info. */
inline std::vector<uint8_t> FixedSense(uint8_t key, uint8_t asc, uint8_t ascq, uint32_t info = 0)
{
    return {0xF0, 0, key, uint8_t(info >> 24), uint8_t(info >> 16), uint8_t(info >> 8), uint8_t(info), 10,
            0,    0, 0,   0,                   asc,                 ascq,               0,             0, 0, 0};
}

} // namespace fakesg

namespace fs = std::filesystem;

/* Every test runs with the fake installed, sysfs in a fresh temporary tree,
 * device nodes under /fakedev, and its own adapter record. */
class SgTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "sgsysfs.XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        Root = pattern;
        fs::create_directories(Root / "class/scsi_generic");
        fakesg::Fake() = fakesg::State{};
        SgSystem() = SgOs{Root.string(),  "/fakedev",      fakesg::Open,   fakesg::Close,    fakesg::Ioctl,
                          fakesg::Fcntl, fakesg::Stat, fakesg::Access, fakesg::GroupName};
    }
    void TearDown() override
    {
        DetachSg(Adapter);
        CloseSgTrace(Adapter.Trace);
        EXPECT_TRUE(fakesg::Fake().OpenFds.empty()) << "descriptors left open";
        EXPECT_TRUE(fakesg::Fake().Replies.empty()) << fakesg::Fake().Replies.size() << " scripted replies unused";
        SgSystem() = SgRealOs();
        std::error_code ignored;
        fs::remove_all(Root, ignored);
    }

    /* Adds class/scsi_generic/<name> with its dev file and a device link to
     * devices/host<H>/<H:C:T:L> holding type, vendor, model and rev padded as
     * the kernel pads them, and the matching node /fakedev/<name>. */
    fakesg::Node &AddDevice(const std::string &name, const std::string &hctl, int type)
    {
        unsigned minor = static_cast<unsigned>(std::atoi(name.c_str() + 2));
        fs::path device = fs::path("devices") / ("host" + hctl.substr(0, hctl.find(':'))) / hctl;
        fs::create_directories(Root / device);
        auto write = [](const fs::path &path, const std::string &text, size_t width = 0) {
            std::ofstream(path) << text << std::string(width > text.size() ? width - text.size() : 0, ' ') << "\n";
        };
        write(Root / device / "type", std::to_string(type));
        write(Root / device / "vendor", "ACME", 8);
        write(Root / device / "model", "FLATBED 600", 16);
        write(Root / device / "rev", "1.23", 4);
        fs::path entry = Root / "class/scsi_generic" / name;
        fs::create_directories(entry);
        write(entry / "dev", "21:" + std::to_string(minor));
        fs::create_directory_symlink(fs::path("../../..") / device, entry / "device");
        fakesg::Node &node = fakesg::Fake().Nodes["/fakedev/" + name];
        EXPECT_TRUE(ParseHctl(hctl, node.Address)) << hctl;
        node.Type = type;
        node.Minor = minor;
        return node;
    }
    uint32_t AttachTo(uint16_t param1, uint16_t param2, const std::string &node = "")
    {
        AttachRecord record = {7, param2, param1, 1};
        return AttachSg(Adapter, &record, node);
    }

    fs::path Root;
    SgAdapter Adapter;
};

#endif
