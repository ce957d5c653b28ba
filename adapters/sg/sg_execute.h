/*
 * sg_execute.h - running one driver command as one SG_IO request: building
 * the sg_io_hdr from the adapter records, turning the kernel's answer into
 * the adapter's status word, and keeping the autosense of a check condition
 * for the REQUEST SENSE the driver sends next.
 */
#ifndef SG_EXECUTE_H
#define SG_EXECUTE_H

#include "buslnk32.h"
#include "sg_adapter.h"

#include <cstdint>
#include <scsi/sg.h>
#include <string>

/* SCSI status byte values (SAM numbering, as sg_io_hdr.status carries them). */
constexpr uint8_t kScsiGood = 0x00;
constexpr uint8_t kScsiCheckCondition = 0x02;
constexpr uint8_t kScsiConditionMet = 0x04;
constexpr uint8_t kScsiBusy = 0x08;
constexpr uint8_t kScsiIntermediate = 0x10;
constexpr uint8_t kScsiIntermediateConditionMet = 0x14;
constexpr uint8_t kScsiReservationConflict = 0x18;
constexpr uint8_t kScsiCommandTerminated = 0x22;
constexpr uint8_t kScsiTaskSetFull = 0x28;

/* Linux host_status values (sg_io_hdr.host_status) the adapter tells apart. */
constexpr uint16_t kHostOk = 0x00;
constexpr uint16_t kHostNoConnect = 0x01;
constexpr uint16_t kHostBusBusy = 0x02;
constexpr uint16_t kHostTimeOut = 0x03;
constexpr uint16_t kHostSoftError = 0x0B;
constexpr uint16_t kHostImmediateRetry = 0x0C;
constexpr uint16_t kHostRequeue = 0x0D;

/* Linux driver_status: the low nibble is the driver byte. */
constexpr uint16_t kDriverMask = 0x0F;
constexpr uint16_t kDriverOk = 0x00;
constexpr uint16_t kDriverTimeout = 0x06;
constexpr uint16_t kDriverSense = 0x08; /* sense data is valid: not an error */

constexpr uint8_t kRequestSenseOpcode = 0x03;
constexpr uint8_t kReadOpcode = 0x28;
constexpr uint8_t kSenseKeyUnitAttention = 0x06;

/* The shortest timeout given to the kernel: a command record with 0 seconds
 * still gets a bound of our choosing, never the kernel's idea of 0. The
 * driver's own shortest is 1 s. */
constexpr unsigned kMinimumTimeoutMilliseconds = 1000;

/* Attempts of one command when the device reports a unit attention (it did
 * not run the command: it was reset or power-cycled) or the host adapter
 * could not deliver it for a passing reason. */
constexpr int kCommandAttempts = 3;

/* An image READ larger than the host adapter takes at once (the kernel
 * refuses it with ENOMEM or EINVAL before it reaches the device) is sent as
 * consecutive READs of pieces halved down to this size. */
constexpr uint32_t kSmallestPiece = 65536;

/* Fills request for one command: the CDB, the data phase from whichever
 * transfer record has a non-zero count, the timeout in milliseconds and the
 * sense buffer (kSgSenseBytes). Returns false, with the reason in error, for
 * records it cannot send: no CDB, a CDB length outside 6..16, a count
 * without a buffer, or data in both directions. */
bool BuildSgRequest(const CommandRecord *command, const TransferRecord *dataIn, const TransferRecord *dataOut,
                    uint8_t *sense, sg_io_hdr &request, std::string &error);

/* The adapter's status word for a completed SG_IO: BUSLNK_GOOD,
 * BUSLNK_CHECK_CONDITION, BUSLNK_BUSY, or BUSLNK_FAILURE for any host or
 * driver error (timeouts among them) and statuses the driver cannot act on.
 * A residual count is not looked at: a short read is the device's business
 * and it says so in its sense data. */
uint32_t MapSgOutcome(const sg_io_hdr &reply);

/* The sense key of fixed or descriptor format sense data; -1 if too short. */
int SenseKey(const uint8_t *sense, uint32_t length);

/* BusLinkExecute on adapter: answers REQUEST SENSE from the kept sense when
 * there is any, else sends the command with SG_IO, an image READ in pieces
 * when the host adapter refuses it whole. A node that has gone (ENODEV,
 * ENXIO) is closed, and every later command fails. */
uint32_t ExecuteSg(SgAdapter &adapter, CommandRecord *command, TransferRecord *dataIn, TransferRecord *dataOut);

#endif
