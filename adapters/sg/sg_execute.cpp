/*
 * sg_execute.cpp - one driver command as one SG_IO request (see
 * sg_execute.h). The kernel fetches sense data itself when a command ends
 * with CHECK CONDITION (autosense), and by the time the driver sends its own
 * REQUEST SENSE the device may have cleared it; so the sense is kept here and
 * that REQUEST SENSE is answered from it, as the device would have answered.
 * An image READ that the host adapter cannot take whole goes in pieces.
 */
#include "sg_execute.h"

#include "sg_device.h"
#include "sg_os.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>

namespace {

const char *StatusName(uint32_t status)
{
    switch (status) {
    case BUSLNK_GOOD: return "GOOD";
    case BUSLNK_CHECK_CONDITION: return "CHECK CONDITION";
    case BUSLNK_BUSY: return "BUSY";
    default: return "FAILURE";
    }
}

const char *HostStatusName(uint16_t host)
{
    static const char *const names[] = {
        "ok",          "no connection", "bus busy",         "timed out",        "bad target",
        "aborted",     "parity error",  "internal error",   "bus reset",        "bad interrupt",
        "passthrough", "soft error",    "immediate retry",  "requeue",          "transport disrupted",
        "transport failfast",
    };
    return host < sizeof names / sizeof names[0] ? names[host] : "unknown";
}

std::string Hex8(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", value & 0xFFu);
    return text;
}

/* Why a completed SG_IO did not give the driver a status it can act on. */
std::string FailureText(const SgAdapter &adapter, const sg_io_hdr &reply)
{
    std::string command = "command " + Hex8(reply.cmdp[0]) + " on " + adapter.Node;
    if (reply.host_status == kHostTimeOut || (reply.driver_status & kDriverMask) == kDriverTimeout)
        return command + " timed out after " + std::to_string(reply.timeout / 1000) + " s";
    if (reply.host_status != kHostOk)
        return "the host adapter could not complete " + command + " (host status " + Hex8(reply.host_status) +
               ": " + HostStatusName(reply.host_status) + ")";
    uint16_t driverByte = reply.driver_status & kDriverMask;
    if (driverByte != kDriverOk && driverByte != kDriverSense)
        return "the kernel's SCSI layer failed " + command + " (driver status " + Hex8(reply.driver_status) + ")";
    if ((reply.status & 0x3E) == kScsiReservationConflict)
        return "the scanner at " + adapter.Node + " is reserved by another host (" + command + ")";
    return command + " ended with SCSI status " + Hex8(reply.status);
}

/* Why a command should be sent again, or nullptr. */
const char *RetryReason(const sg_io_hdr &reply, uint32_t status)
{
    switch (reply.host_status) {
    case kHostBusBusy:
    case kHostSoftError:
    case kHostImmediateRetry:
    case kHostRequeue:
        return "the host adapter could not deliver it";
    default:
        break;
    }
    /* A device reports a reset or power-up once, to the next command but
     * INQUIRY and REQUEST SENSE, and does not run that command. */
    if (status == BUSLNK_CHECK_CONDITION && reply.cmdp[0] != kRequestSenseOpcode &&
        SenseKey(reply.sbp, reply.sb_len_wr) == kSenseKeyUnitAttention)
        return "unit attention";
    return nullptr;
}

void ClearReply(sg_io_hdr &request)
{
    request.status = 0;
    request.masked_status = 0;
    request.msg_status = 0;
    request.sb_len_wr = 0;
    request.host_status = 0;
    request.driver_status = 0;
    request.resid = 0;
    request.duration = 0;
    request.info = 0;
}

/* Bytes of a read that arrived: the count less the residual, if sane. */
uint32_t Delivered(const sg_io_hdr &reply)
{
    if (reply.resid <= 0)
        return reply.dxfer_len;
    uint32_t resid = static_cast<uint32_t>(reply.resid);
    return resid < reply.dxfer_len ? reply.dxfer_len - resid : 0;
}

void TraceCommand(SgAdapter &adapter, uint64_t number, const sg_io_hdr &request)
{
    if (!SgTracing(adapter.Trace))
        return;
    bool in = request.dxfer_direction == SG_DXFER_FROM_DEV;
    bool out = request.dxfer_direction == SG_DXFER_TO_DEV;
    SgTraceLine(adapter.Trace, "#%" PRIu64 " cdb %s in=%u out=%u timeout=%u ms", number,
                SgHex(request.cmdp, request.cmd_len).c_str(), in ? request.dxfer_len : 0u,
                out ? request.dxfer_len : 0u, request.timeout);
    if (out)
        SgTraceData(adapter.Trace, "out", static_cast<const uint8_t *>(request.dxferp), request.dxfer_len);
}

void TraceOutcome(SgAdapter &adapter, const sg_io_hdr &reply, uint32_t status)
{
    if (!SgTracing(adapter.Trace))
        return;
    SgTraceLine(adapter.Trace, "    -> %s (%u) scsi status %s host %s driver %s resid %d, %u ms", StatusName(status),
                status, Hex8(reply.status).c_str(), Hex8(reply.host_status).c_str(),
                Hex8(reply.driver_status).c_str(), reply.resid, reply.duration);
    if (reply.sb_len_wr > 0)
        SgTraceLine(adapter.Trace, "    sense key %d asc/ascq %02x/%02x: %s%s",
                    SenseKey(reply.sbp, reply.sb_len_wr), reply.sb_len_wr > 12 ? reply.sbp[12] : 0,
                    reply.sb_len_wr > 13 ? reply.sbp[13] : 0, SgHex(reply.sbp, reply.sb_len_wr).c_str(),
                    status == BUSLNK_CHECK_CONDITION ? " (kept for REQUEST SENSE)" : "");
    if (reply.dxfer_direction == SG_DXFER_FROM_DEV && status != BUSLNK_FAILURE)
        SgTraceData(adapter.Trace, "in", static_cast<const uint8_t *>(reply.dxferp), Delivered(reply));
    if (status == BUSLNK_FAILURE)
        SgTraceLine(adapter.Trace, "    %s", adapter.LastError.c_str());
}

/* REQUEST SENSE while sense is kept: the kept bytes, zeros after them, as
 * many as the driver asked for. The sense is then spent. */
uint32_t AnswerFromKeptSense(SgAdapter &adapter, const sg_io_hdr &request)
{
    uint32_t count = request.dxfer_direction == SG_DXFER_FROM_DEV ? request.dxfer_len : 0;
    uint32_t copied = count < adapter.KeptSenseLength ? count : adapter.KeptSenseLength;
    uint8_t *buffer = static_cast<uint8_t *>(request.dxferp);
    if (count > 0) {
        std::memcpy(buffer, adapter.KeptSense, copied);
        std::memset(buffer + copied, 0, count - copied);
    }
    adapter.KeptSenseLength = 0;
    SgTraceLine(adapter.Trace, "    -> GOOD (0) answered from the kept sense");
    SgTraceData(adapter.Trace, "in", buffer, count);
    return BUSLNK_GOOD;
}

/* Sends request, again for a unit attention or a passing host adapter
 * state. False, with errno's code, when SG_IO itself failed. */
bool SendWithRetries(SgAdapter &adapter, sg_io_hdr &request, uint32_t &status, int &code)
{
    for (int attempt = 1;; ++attempt) {
        ClearReply(request);
        if (SgSystem().Ioctl(adapter.Fd, SG_IO, &request) != 0) {
            code = errno;
            return false;
        }
        status = MapSgOutcome(request);
        const char *reason = RetryReason(request, status);
        if (reason == nullptr || attempt == kCommandAttempts)
            return true;
        SgTraceLine(adapter.Trace, "    %s (scsi status %s host %s, sense %s); sending it again", reason,
                    Hex8(request.status).c_str(), Hex8(request.host_status).c_str(),
                    SgHex(request.sbp, request.sb_len_wr).c_str());
    }
}

/* An image READ (data type 0) that may be cut: the scanner streams its
 * image, so where one READ ends and the next begins does not matter to it.
 * Every other command goes whole. */
bool Divisible(const sg_io_hdr &request)
{
    return request.cmd_len == 10 && request.cmdp[0] == kReadOpcode && request.cmdp[2] == 0 &&
           request.dxfer_direction == SG_DXFER_FROM_DEV && request.dxfer_len > kSmallestPiece;
}

bool RefusedAsTooLarge(int code, uint32_t length)
{
    return (code == ENOMEM || code == EINVAL) && length > kSmallestPiece;
}

uint32_t HalfPiece(uint32_t length)
{
    return std::max(kSmallestPiece, length / 2 & ~4095u);
}

uint32_t GetBig32(const uint8_t *p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

void PutBig32(uint8_t *p, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

/* End-of-data sense of one piece made the whole READ's: the bytes delivered
 * (bytes 8-11) count the pieces before it, and the residue (the information
 * field, when valid) the bytes of the pieces never asked for. */
void CountFromTheWholeRead(uint8_t *sense, uint32_t before, uint32_t after)
{
    PutBig32(sense + 8, GetBig32(sense + 8) + before);
    if (sense[0] & 0x80)
        PutBig32(sense + 3, GetBig32(sense + 3) + after);
}

/* Sends an image READ as consecutive READs of at most the adapter's piece
 * limit (half the count when none is known yet), halving a piece the kernel
 * refuses. The pieces' CDBs are built in cdb, which outlives the call. Only
 * the first piece may end BUSY: the driver would send the whole READ again,
 * and the parts already streamed would be lost. A piece that ends with end
 * of data (00/05) reports its counts as the whole READ's. */
bool SendInPieces(SgAdapter &adapter, sg_io_hdr &request, uint8_t cdb[10], uint32_t &status, int &code,
                  std::string &why)
{
    const uint32_t total = request.dxfer_len;
    uint8_t *const buffer = static_cast<uint8_t *>(request.dxferp);
    std::memcpy(cdb, request.cmdp, 10);
    request.cmdp = cdb;
    uint32_t piece = adapter.PieceLimit != 0 ? adapter.PieceLimit : HalfPiece(total);
    uint32_t done = 0;
    while (done < total) {
        uint32_t length = std::min(piece, total - done);
        cdb[6] = static_cast<uint8_t>(length >> 16);
        cdb[7] = static_cast<uint8_t>(length >> 8);
        cdb[8] = static_cast<uint8_t>(length);
        request.dxferp = buffer + done;
        request.dxfer_len = length;
        SgTraceLine(adapter.Trace, "    piece of %u bytes at %u of %u", length, done, total);
        if (!SendWithRetries(adapter, request, status, code)) {
            if (!RefusedAsTooLarge(code, length))
                return false; /* reported for the piece that failed */
            piece = HalfPiece(length);
            continue;
        }
        adapter.PieceLimit = piece;
        if (status == BUSLNK_BUSY && done > 0) {
            status = BUSLNK_FAILURE;
            why = "the scanner at " + adapter.Node + " answered BUSY after " + std::to_string(done) + " of " +
                  std::to_string(total) + " bytes of an image READ sent in pieces";
        }
        if (status == BUSLNK_CHECK_CONDITION && request.sb_len_wr >= 14 && request.sbp[12] == 0x00 &&
            request.sbp[13] == 0x05)
            CountFromTheWholeRead(request.sbp, done, total - done - length);
        if (status != BUSLNK_GOOD)
            break;
        done += length;
    }
    /* The whole READ again, for the messages and the trace. */
    uint32_t arrived = done + (done < total ? Delivered(request) : 0);
    request.dxferp = buffer;
    request.dxfer_len = total;
    request.resid = static_cast<int>(total - arrived);
    return true;
}

/* SG_IO itself failed. A node whose device has gone is closed for good. */
uint32_t IoctlFailed(SgAdapter &adapter, const sg_io_hdr &request, int code)
{
    std::string command = "command " + Hex8(request.cmdp[0]);
    if (code == ENODEV || code == ENXIO) {
        adapter.LastError = "the scanner at " + adapter.Node + " is gone (" + std::strerror(code) +
                            "); connect it and initialise it again";
        SgTraceLine(adapter.Trace, "    -> FAILURE (2) %s", adapter.LastError.c_str());
        DetachSg(adapter);
        return BUSLNK_FAILURE;
    }
    adapter.LastError = "SG_IO for " + command + " on " + adapter.Node + " failed: " + std::strerror(code);
    if ((code == ENOMEM || code == EINVAL) && request.dxfer_len > 65536)
        adapter.LastError += " (a transfer of " + std::to_string(request.dxfer_len) +
                             " bytes may be more than the host adapter takes at once)";
    SgTraceLine(adapter.Trace, "    -> FAILURE (2) %s", adapter.LastError.c_str());
    return BUSLNK_FAILURE;
}

} // namespace

bool BuildSgRequest(const CommandRecord *command, const TransferRecord *dataIn, const TransferRecord *dataOut,
                    uint8_t *sense, sg_io_hdr &request, std::string &error)
{
    if (command == nullptr || command->lpCdb == nullptr) {
        error = "the driver passed a command without a CDB";
        return false;
    }
    if (command->wCdbLength < 6 || command->wCdbLength > 16) {
        error = "a CDB of " + std::to_string(command->wCdbLength) + " bytes cannot be sent";
        return false;
    }
    uint32_t inCount = dataIn != nullptr ? dataIn->dwCount : 0;
    uint32_t outCount = dataOut != nullptr ? dataOut->dwCount : 0;
    std::string name = "command " + Hex8(command->lpCdb[0]);
    if (inCount != 0 && outCount != 0) {
        error = name + " asks for data in both directions";
        return false;
    }
    if ((inCount != 0 && dataIn->lpBuffer == nullptr) || (outCount != 0 && dataOut->lpBuffer == nullptr)) {
        error = name + " has a byte count but no buffer";
        return false;
    }

    std::memset(&request, 0, sizeof request);
    request.interface_id = 'S';
    request.cmd_len = static_cast<unsigned char>(command->wCdbLength);
    request.cmdp = command->lpCdb;
    request.mx_sb_len = kSgSenseBytes;
    request.sbp = sense;
    if (inCount != 0) {
        request.dxfer_direction = SG_DXFER_FROM_DEV;
        request.dxferp = dataIn->lpBuffer;
        request.dxfer_len = inCount;
    } else if (outCount != 0) {
        request.dxfer_direction = SG_DXFER_TO_DEV;
        request.dxferp = dataOut->lpBuffer;
        request.dxfer_len = outCount;
    } else {
        request.dxfer_direction = SG_DXFER_NONE;
    }
    unsigned timeout = command->wTimeout * 1000u;
    request.timeout = timeout < kMinimumTimeoutMilliseconds ? kMinimumTimeoutMilliseconds : timeout;
    return true;
}

uint32_t MapSgOutcome(const sg_io_hdr &reply)
{
    /* Timeouts, lost connections, resets and the like: the command did not
     * complete, whatever the status byte says. */
    if (reply.host_status != kHostOk)
        return BUSLNK_FAILURE;
    uint16_t driverByte = reply.driver_status & kDriverMask;
    if (driverByte != kDriverOk && driverByte != kDriverSense)
        return BUSLNK_FAILURE;
    /* Bits 1-5 hold the status code; the others are reserved or vendor's. */
    switch (reply.status & 0x3E) {
    case kScsiGood:
    case kScsiConditionMet:
    case kScsiIntermediate:
    case kScsiIntermediateConditionMet:
        return BUSLNK_GOOD;
    case kScsiCheckCondition:
    case kScsiCommandTerminated:
        return BUSLNK_CHECK_CONDITION;
    case kScsiBusy:
    case kScsiTaskSetFull:
        return BUSLNK_BUSY;
    default:
        return BUSLNK_FAILURE; /* reservation conflict, or a code SCSI-2 does not define */
    }
}

int SenseKey(const uint8_t *sense, uint32_t length)
{
    if (sense == nullptr || length < 2)
        return -1;
    uint8_t responseCode = sense[0] & 0x7F;
    if (responseCode == 0x72 || responseCode == 0x73)
        return sense[1] & 0x0F;
    if (length < 3)
        return -1;
    return sense[2] & 0x0F;
}

uint32_t ExecuteSg(SgAdapter &adapter, CommandRecord *command, TransferRecord *dataIn, TransferRecord *dataOut)
{
    uint64_t number = ++adapter.Sequence;
    uint8_t sense[kSgSenseBytes] = {};
    sg_io_hdr request;
    std::string error;
    if (!BuildSgRequest(command, dataIn, dataOut, sense, request, error)) {
        adapter.LastError = error;
        SgTraceLine(adapter.Trace, "#%" PRIu64 " refused: %s", number, error.c_str());
        return BUSLNK_FAILURE;
    }
    TraceCommand(adapter, number, request);

    if (request.cmdp[0] == kRequestSenseOpcode && adapter.KeptSenseLength > 0)
        return AnswerFromKeptSense(adapter, request);
    /* Any other command ends the condition, as it would on the device. */
    adapter.KeptSenseLength = 0;

    if (adapter.Fd < 0) {
        /* The reason the attach failed stays the one reported. */
        if (adapter.LastError.empty())
            adapter.LastError = "no scanner is attached";
        SgTraceLine(adapter.Trace, "    -> FAILURE (2) not attached");
        return BUSLNK_FAILURE;
    }

    uint32_t status = BUSLNK_FAILURE;
    int code = 0;
    uint8_t pieceCdb[10];
    std::string why;
    bool sent;
    if (Divisible(request) && adapter.PieceLimit != 0 && request.dxfer_len > adapter.PieceLimit) {
        sent = SendInPieces(adapter, request, pieceCdb, status, code, why);
    } else {
        sent = SendWithRetries(adapter, request, status, code);
        if (!sent && Divisible(request) && RefusedAsTooLarge(code, request.dxfer_len)) {
            SgTraceLine(adapter.Trace, "    refused whole (%s); sending it in pieces", std::strerror(code));
            sent = SendInPieces(adapter, request, pieceCdb, status, code, why);
        }
    }
    if (!sent)
        return IoctlFailed(adapter, request, code);

    if (status == BUSLNK_CHECK_CONDITION && request.sb_len_wr > 0) {
        adapter.KeptSenseLength = request.sb_len_wr < kSgSenseBytes ? request.sb_len_wr : kSgSenseBytes;
        std::memcpy(adapter.KeptSense, sense, adapter.KeptSenseLength);
    }
    if (status == BUSLNK_FAILURE)
        adapter.LastError = why.empty() ? FailureText(adapter, request) : why;
    TraceOutcome(adapter, request, status);
    return status;
}
