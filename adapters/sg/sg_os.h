/*
 * sg_os.h - every operating-system call the SCSI generic adapter makes on a
 * device node, and where it looks for sysfs and the device nodes.
 *
 * The adapter reaches the kernel only through the record below, so the unit
 * tests replace it with a scripted device and a sysfs tree of their own in a
 * temporary directory. The real record calls the C library.
 */
#ifndef SG_OS_H
#define SG_OS_H

#include <cstddef>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

struct SgOs {
    std::string SysfsRoot;                                /* "/sys"; class/scsi_generic below it */
    std::string DevRoot;                                  /* "/dev"; holds the sgN nodes */
    int (*Open)(const char *path, int flags);             /* open(2): descriptor, or -1 and errno */
    int (*Close)(int fd);                                 /* close(2) */
    int (*Ioctl)(int fd, unsigned long request, void *arg); /* ioctl(2): -1 and errno on failure */
    int (*Fcntl)(int fd, int command, int arg);           /* fcntl(2) with an int argument */
    int (*Stat)(const char *path, struct stat *info);     /* stat(2), following links */
    int (*Access)(const char *path, int mode);            /* access(2) */
    /* Stores the name of group gid (terminated, at most size - 1 characters);
     * false when the group is unknown. */
    bool (*GroupName)(unsigned gid, char *name, size_t size);
};

/* The record in force; tests assign to it and put SgRealOs() back after. */
SgOs &SgSystem();

/* The record that calls the C library, with sysfs at /sys and nodes in /dev. */
SgOs SgRealOs();

#endif
