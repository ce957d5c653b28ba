/*
 * raw_lines.cpp - reading raw lines from the scanner. A scanner that runs out
 * of lines before it said it would answers the READ with end of data and the
 * byte count it delivered; the lines it did deliver are used, and no further
 * READ is sent.
 */
#include "image_reader.h"

#include "mirror.h"
#include "scan/scan_state.h"
#include "scsi/byte_order.h"
#include "scsi/commands.h"
#include "scsi/executor.h"

/* How lines are turned around for a far-edge origin, by raw layout. The
 * grey lines the driver binarizes itself are mirrored as the grey lines
 * they are. */
static int MirrorSelector()
{
    const TransferStateRecord &t = TransferState;
    if (t.ImageKind == kImageColor)
        return t.LineFormat == 1 || t.LineFormat == 5 ? kMirrorWholePixel : kMirrorTagged;
    if (t.ImageKind == kImageBinary && !ScanState.SoftwareBinarize)
        return kMirrorBinary;
    return kMirrorSingle;
}

ResultCode ReadRawLinesInto(uint8_t *destination, uint32_t lines)
{
    TransferStateRecord &t = TransferState;
    t.ReportedLines -= lines;
    t.RawAvailable = lines;
    ResultCode result = ReadImageData(destination, lines * t.ReportedLineBytes);
    if (result == SD_ERR_END_OF_DATA) {
        /* Sense bytes 8-11: what the scanner did deliver. The count is 32
         * bits and is compared as such, so a large one cannot wrap. */
        uint8_t sense[kSenseLength];
        GetLastSense(sense);
        uint32_t deliveredLines = ReadBigEndian32(sense + 8) / t.ReportedLineBytes;
        if (deliveredLines < t.RawAvailable)
            t.RawAvailable = deliveredLines;
        t.ReportedLines = 0;
        ScanState.EndOfData = 1;
    } else if (result != SD_OK) {
        /* Nothing usable arrived: no line may be taken from the raw area, or
         * the next call would read lines that were never stored there (past
         * its end, when the cursor stands at the last consumed line). */
        t.RawAvailable = 0;
        return result;
    }
    if (ScanState.ReverseX)
        MirrorLines(MirrorSelector(), static_cast<int32_t>(t.TransferBits), t.ReportedPixels,
                    t.ReportedLineBytes, t.RawAvailable, destination);
    return SD_OK;
}

ResultCode ReadRawLines()
{
    TransferStateRecord &t = TransferState;
    if (t.ReportedLines == 0 || ScanState.EndOfData)
        return SD_OK;
    bool tagged = t.ImageKind == kImageColor && t.LineFormat == 3;
    uint32_t room = static_cast<uint16_t>(t.RawCapacity - t.RawKept);
    uint32_t lines = room < t.ReportedLines ? room : t.ReportedLines;
    /* A raw area full of segments still waiting for their partners leaves no
     * room to read: the scanner's colour lines do not pair up. A READ of 0
     * would end the image, so none is sent. */
    if (lines == 0)
        return SD_ERR_DATA_PHASE;
    uint8_t *destination = tagged ? t.RawBuffer + t.RawKept * t.ReportedLineBytes : t.RawBuffer;
    ResultCode result = ReadRawLinesInto(destination, lines);
    if (result != SD_OK)
        return result;
    t.RawCursor = t.RawBuffer;
    t.RawAvailable += t.RawKept;
    if (tagged)
        IndexColorSegments();
    return SD_OK;
}
