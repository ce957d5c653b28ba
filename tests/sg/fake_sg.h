/*
 * fake_sg.h - a stand-in for the kernel under the SCSI generic adapter: a
 * scripted SgOs record (device nodes that open or refuse, an SG_IO that
 * records each request and answers from a queue) and a sysfs tree built in a
 * temporary directory. SgTest installs both around every test and checks
 * that no descriptor is left open.
 */
#ifndef FAKE_SG_H
#define FAKE_SG_H

#include "sg_adapter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace fakesg {

/* What the fake device answers to one SG_IO. */
struct Reply {
    int Errno = 0;               /* non-zero: the ioctl fails with this errno */
    uint8_t Status = 0;          /* SCSI status byte */
    uint16_t HostStatus = 0;
    uint16_t DriverStatus = 0;
    int Resid = 0;
    std::vector<uint8_t> Sense;  /* autosense, cut to mx_sb_len */
    std::vector<uint8_t> Data;   /* copied into the data-in buffer, cut to its length */
};

/* What the adapter handed to one SG_IO. */
struct Request {
    int InterfaceId;
    int Direction;
    unsigned Length;
    bool BufferGiven;
    unsigned Timeout;
    unsigned MaxSense;
    bool SenseBufferGiven;
    std::vector<uint8_t> Cdb;
    std::vector<uint8_t> DataOut;
};

/* A device node the fake knows, by path. */
struct Node {
    int OpenErrno = 0;      /* open(2) fails with this */
    int AccessErrno = 0;    /* access(2) fails with this */
    int IdErrno = 0;        /* SG_GET_SCSI_ID fails with this (not an sg node) */
    bool CharDevice = true;
    unsigned Mode = 0660;
    unsigned Gid = 0;
    unsigned Major = 21, Minor = 0;
    SgAddress Address;      /* what SG_GET_SCSI_ID reports */
    int Type = 6;
};

struct State {
    std::map<std::string, Node> Nodes;
    std::map<unsigned, std::string> Groups;
    std::deque<Reply> Replies;
    std::vector<Request> Requests;
    std::map<int, std::string> OpenFds;  /* descriptor -> path */
    std::map<int, int> FdFlags;
    std::vector<int> OpenFlags;          /* flags of every open(2) */
    std::vector<std::string> Opened;     /* paths of every open(2) */
    std::vector<int> Closed;
    int NextFd = 40;
};

State &Fake();

/* A read or send whose reply carries fixed-format sense with the given key,
 * ASC and ASCQ (18 bytes, information bytes 3-6 set to info). */
std::vector<uint8_t> FixedSense(uint8_t key, uint8_t asc, uint8_t ascq, uint32_t info = 0);

/* A temporary sysfs tree: class/scsi_generic/<name> with its dev file and a
 * device link to devices/.../<H:C:T:L> holding type, vendor, model, rev. */
class Sysfs {
public:
    Sysfs();
    ~Sysfs();
    Sysfs(const Sysfs &) = delete;
    Sysfs &operator=(const Sysfs &) = delete;

    const std::string &Root() const { return RootPath; }
    /* Adds an sg entry; the INQUIRY strings are padded as the kernel pads them. */
    void Add(const std::string &name, const std::string &hctl, int type, const std::string &vendor,
             const std::string &model, const std::string &revision, unsigned minor);
    /* Removes class/scsi_generic, as on a system without the sg module. */
    void RemoveClass();

private:
    std::string RootPath;
};

} // namespace fakesg

/* Every test runs with the fake installed, sysfs in a fresh temporary tree,
 * device nodes under /fakedev, and its own adapter record. */
class SgTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    /* Adds an sg entry to sysfs and the matching node /fakedev/<name>. */
    fakesg::Node &AddDevice(const std::string &name, const std::string &hctl, int type,
                            const std::string &vendor = "ACME", const std::string &model = "FLATBED 600",
                            const std::string &revision = "1.23");
    /* Attaches Adapter to the node at host, target (channel 0); expects success. */
    void Attach(uint16_t host, uint16_t target);

    fakesg::Sysfs Tree;
    SgAdapter Adapter;
};

#endif
