/*
 * sg_os.cpp - the real operating-system record of the SCSI generic adapter:
 * thin wrappers over the C library calls named in sg_os.h.
 */
#include "sg_os.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace {

int RealOpen(const char *path, int flags) { return ::open(path, flags); }
int RealClose(int fd) { return ::close(fd); }
int RealIoctl(int fd, unsigned long request, void *arg) { return ::ioctl(fd, request, arg); }
int RealFcntl(int fd, int command, int arg) { return ::fcntl(fd, command, arg); }
int RealStat(const char *path, struct stat *info) { return ::stat(path, info); }
int RealAccess(const char *path, int mode) { return ::access(path, mode); }

bool RealGroupName(unsigned gid, char *name, size_t size)
{
    if (size == 0)
        return false;
    long hint = sysconf(_SC_GETGR_R_SIZE_MAX);
    std::vector<char> scratch(hint > 0 ? static_cast<size_t>(hint) : 4096);
    struct group entry;
    struct group *found = nullptr;
    /* A group with many members may not fit the suggested size. */
    int rc;
    while ((rc = getgrgid_r(static_cast<gid_t>(gid), &entry, scratch.data(), scratch.size(), &found)) ==
               ERANGE &&
           scratch.size() < (1u << 20))
        scratch.resize(scratch.size() * 2);
    if (rc != 0 || found == nullptr)
        return false;
    std::strncpy(name, found->gr_name, size - 1);
    name[size - 1] = '\0';
    return true;
}

} // namespace

SgOs SgRealOs()
{
    return SgOs{"/sys", "/dev", RealOpen, RealClose, RealIoctl, RealFcntl, RealStat, RealAccess, RealGroupName};
}

SgOs &SgSystem()
{
    static SgOs system = SgRealOs();
    return system;
}
