/*
 * transfer_buffer.cpp - setting up and tearing down the transfer of one
 * scan: direct transfer into the caller's buffer when the scanner's lines
 * are already what the caller asked for, otherwise one transfer buffer of
 * committed pages holding the raw lines, the grey line waiting for the
 * binarizer, the assembled colour line and the segment tables.
 */
#include "image_reader.h"

#include "delivery.h"
#include "pipeline/line_pipeline.h"
#include "platform/platform.h"
#include "scan/scan_state.h"

/* A READ carries a 24-bit length. */
constexpr uint32_t kMaxReadBytes = 0xFFFFFF;

static uint32_t AlignUp(uint32_t bytes)
{
    return (bytes + 7u) & ~7u;
}

static bool DirectTransferPossible()
{
    const TransferStateRecord &t = TransferState;
    const ScanStateRecord &scan = ScanState;
    if ((scan.IsColor && t.LineFormat == 3) || scan.ExceedsMaxResolution || scan.SoftwareBinarize)
        return false;
    if (!scan.IsBinary && (t.DeliverPixels != t.ReportedPixels || t.DeliverLineBytes != t.DeviceLineBytes))
        return false;
    if (scan.IsBinary && t.DeliverLineBytes != t.DeviceLineBytes)
        return false;
    return t.DeliverLines == t.ReportedLines;
}

/* Raw lines the buffer holds: large reads for scanners that want them,
 * otherwise no more than the first request asks for, but always room for
 * the colour segments that a colour line gap keeps waiting. */
static uint32_t RawLinesToHold(uint16_t requestLines)
{
    const TransferStateRecord &t = TransferState;
    const ScanStateRecord &scan = ScanState;
    uint32_t size = scan.ModelFlag ? 0x400000u
                    : scan.IsColor ? (scan.BaseResolution < 600 ? 0x100000u : 0x200000u)
                                   : 0x80000u;
    uint32_t capacity = size / t.ReportedLineBytes;
    if (scan.ModelFlag) {
        if (capacity == 0 || capacity > t.ReportedLines)
            capacity = t.ReportedLines;
    } else {
        uint32_t gap = scan.ScanResolutionX * scan.ColorLineGap / scan.BaseResolution;
        if (capacity > requestLines)
            capacity = requestLines;
        if (capacity < 2 * gap + 3)
            capacity = 2 * gap + 3;
    }
    /* One READ must fill the raw area, and it must hold at least a line. */
    if (capacity > kMaxReadBytes / t.ReportedLineBytes)
        capacity = kMaxReadBytes / t.ReportedLineBytes;
    return capacity ? capacity : 1;
}

/* The scanner's lines must hold what their pixel count promises, or every
 * later step would read past them. */
static bool GeometryServable()
{
    const TransferStateRecord &t = TransferState;
    const ScanStateRecord &scan = ScanState;
    if (t.ReportedLineBytes == 0 || t.ReportedLineBytes > kMaxReadBytes)
        return false;
    uint32_t sampleBytes = static_cast<int32_t>(t.TransferBits) > 8 ? 2 : 1;
    if (scan.IsColor) {
        /* Colour comes as whole pixels (1, 5) or as tagged segments (3);
         * other layouts are not known. */
        if (t.LineFormat == 3)
            return t.ReportedLineBytes % 3 == 0 &&
                   t.ReportedLineBytes / 3 >= 2 + uint64_t{t.ReportedPixels} * sampleBytes;
        if (t.LineFormat != 1 && t.LineFormat != 5)
            return false;
        return t.ReportedLineBytes >= uint64_t{t.ReportedPixels} * 3 * sampleBytes;
    }
    if (scan.IsBinary && !scan.SoftwareBinarize)
        return t.ReportedLineBytes >= t.DeliverLineBytes;
    return t.ReportedLineBytes >= uint64_t{t.ReportedPixels} * sampleBytes;
}

ResultCode SetupTransferBuffer(uint16_t requestLines)
{
    TransferStateRecord &t = TransferState;
    const ScanStateRecord &scan = ScanState;
    t.RawAvailable = 0;
    t.RawKept = 0;
    /* A transfer set up afresh in the middle of a scan (after a call without
     * a buffer) drops the raw lines it held, but not their memory. */
    FreePages(t.RawBuffer);
    t.RawBuffer = nullptr;
    if (!GeometryServable())
        return SD_ERR_PARAMETER_VALUE;
    if (DirectTransferPossible()) {
        ChooseDeliveryRoutines();
        return SD_OK;
    }

    t.RawCapacity = RawLinesToHold(requestLines);
    bool tagged = scan.IsColor && t.LineFormat == 3;
    uint32_t tableEntries = t.RawCapacity + 2u * scan.ColorLineGap;
    uint64_t rawBytes = AlignUp(t.RawCapacity * t.ReportedLineBytes);
    uint64_t binaryBytes = scan.SoftwareBinarize ? AlignUp(t.DeliverPixels) : 0;
    uint64_t colorBytes = tagged ? AlignUp(t.DeviceLineBytes) : 0;
    uint64_t tableBytes = tagged ? 3u * uint64_t{tableEntries} * sizeof(uint32_t) : 0;
    uint64_t total = rawBytes + binaryBytes + colorBytes + tableBytes;
    if (total > 0xFFFFFFFFu)
        return SD_ERR_NO_MEMORY;
    uint8_t *buffer = static_cast<uint8_t *>(AllocatePages(static_cast<uint32_t>(total)));
    if (!buffer)
        return SD_ERR_NO_MEMORY;

    t.RawBuffer = buffer;
    t.RawCursor = buffer;
    uint8_t *part = buffer + rawBytes;
    t.BinaryLine = scan.SoftwareBinarize ? part : nullptr;
    part += binaryBytes;
    t.ColorLine = tagged ? part : nullptr;
    part += colorBytes;
    t.RedTable = tagged ? reinterpret_cast<uint32_t *>(part) : nullptr;
    t.GreenTable = tagged ? t.RedTable + tableEntries : nullptr;
    t.BlueTable = tagged ? t.GreenTable + tableEntries : nullptr;
    ChooseDeliveryRoutines();
    return SD_OK;
}

void EndTransfer()
{
    TransferStateRecord &t = TransferState;
    FreePages(t.RawBuffer);
    t.RawBuffer = nullptr;
    t.RawCursor = nullptr;
    t.ColorLine = t.BinaryLine = nullptr;
    t.RedTable = t.GreenTable = t.BlueTable = nullptr;
    t.RawAvailable = t.RawKept = 0;
    t.SetupPending = 1;
    /* The line buffers belong to the scan; release them whether or not it
     * was marked running, so no path can leave them behind. */
    ReleaseLineBuffers();
    ScanState.ScanActive = 0;
}
