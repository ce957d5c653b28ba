/*
 * sg_adapter.h - the state of the SCSI generic adapter: the open device node,
 * the sense kept from the last check condition, the last failure text and the
 * trace. One process-wide record lives in sg_export.cpp; the unit tests make
 * their own and pass it to the functions of sg_device.h and sg_execute.h.
 */
#ifndef SG_ADAPTER_H
#define SG_ADAPTER_H

#include "sg_trace.h"

#include <cstdint>
#include <string>

/* Where a SCSI device sits: host adapter, channel, target id, LUN. */
struct SgAddress {
    uint32_t Host = 0;
    uint32_t Channel = 0;
    uint32_t Target = 0;
    uint32_t Lun = 0;
};

inline bool operator==(const SgAddress &a, const SgAddress &b)
{
    return a.Host == b.Host && a.Channel == b.Channel && a.Target == b.Target && a.Lun == b.Lun;
}

/* Room for the kernel's autosense: fixed-format sense is 18 bytes, the
 * driver asks for 14, a few devices send up to 32. */
constexpr uint32_t kSgSenseBytes = 32;

struct SgAdapter {
    int Fd = -1;                        /* the open sg node; -1 while detached */
    std::string Node;                   /* its path, for messages and the trace */
    SgAddress Address;                  /* what the kernel says the node addresses */
    uint8_t KeptSense[kSgSenseBytes] = {}; /* autosense of the last check condition */
    uint32_t KeptSenseLength = 0;       /* 0: nothing kept, REQUEST SENSE goes to the device */
    uint32_t PieceLimit = 0;            /* largest image READ sent whole once the kernel refused
                                           a larger one; 0 while none was refused */
    std::string LastError;              /* text for SgLastError */
    SgTrace Trace;
    uint64_t Sequence = 0;              /* commands executed, numbered in the trace */
};

#endif
