/*
 * get_image.cpp - vScannerGetImage: the lines of the running scan, as many
 * per call as the caller asks for, until the image is complete; the call
 * that delivers the last line ends the scan.
 */
#include "scandrv.h"

#include "image/image_reader.h"
#include "scan/scan_state.h"
#include "scsi/result.h"

/* After the scanner ended the image early, calls report the lines asked for
 * without writing any, and count the lines still to come down to 0. The
 * call that reaches 0 releases the transfer, so a caller that reads to the
 * end leaves nothing behind. */
static void ReportMissingLines(ImageDataBlock *block)
{
    int32_t remain = static_cast<int32_t>(block->dwRemainLines) - static_cast<int32_t>(block->dwRequestLines);
    block->dwReturnLines = block->dwRequestLines;
    block->dwRemainLines = remain > 0 ? static_cast<uint32_t>(remain) : 0;
    TransferState.SetupPending = 1;
    if (block->dwRemainLines == 0)
        EndTransfer();
    StoreCommandResult(block, SD_OK);
}

/* Direct transfer: the scanner's lines go straight into the caller's
 * buffer, in as many READs as their 24-bit length needs. A request for no
 * lines sends no READ, since a READ of length 0 ends the image. */
static ResultCode ReadDirect(uint32_t &delivered)
{
    TransferStateRecord &t = TransferState;
    uint32_t perRead = 0xFFFFFF / t.ReportedLineBytes;
    delivered = 0;
    while (delivered < t.CallLines && t.ReportedLines > 0 && !ScanState.EndOfData) {
        uint32_t lines = t.CallLines - delivered;
        if (lines > perRead)
            lines = perRead;
        if (lines > t.ReportedLines)
            lines = t.ReportedLines;
        ResultCode result = ReadRawLinesInto(t.OutCursor, lines);
        if (result != SD_OK)
            return result;
        delivered += t.RawAvailable;
        t.OutCursor += t.RawAvailable * t.DeliverLineBytes;
    }
    /* The scanner has sent all it announced, yet lines are owed (a READ
     * that failed took its lines with it): the image has ended early, as if
     * the scanner had said so. Without the mark every later call would
     * deliver nothing and still report lines to come. */
    if (delivered < t.CallLines && t.ReportedLines == 0)
        ScanState.EndOfData = 1;
    t.RawAvailable = 0;
    return SD_OK;
}

extern "C" SCANDRV_API void SCANDRV_CALL vScannerGetImage(ImageDataBlock *block)
{
    if (!block)
        return;
    TransferStateRecord &t = TransferState;
    if (!ScanState.ScanActive || !block->lpImageBuffer) {
        t.SetupPending = 1;
        StoreOwnResult(block, SD_ERR_NOT_SCANNING);
        return;
    }
    if (ScanState.EndOfData) {
        ReportMissingLines(block);
        return;
    }
    t.OutCursor = block->lpImageBuffer;
    t.CallLines = block->dwRequestLines < t.DeliverLines ? block->dwRequestLines : t.DeliverLines;
    if (t.SetupPending) {
        ResultCode setup = SetupTransferBuffer(static_cast<uint16_t>(block->dwRequestLines));
        if (setup != SD_OK) {
            StoreOwnResult(block, setup);
            return;
        }
        t.SetupPending = 0;
        t.LineHeld = 0;
    }

    uint32_t delivered = 0;
    ResultCode result = t.RawBuffer ? DeliverBufferedLines(delivered) : ReadDirect(delivered);
    if (result != SD_OK) {
        /* Lines already written in this call are not counted: the caller
         * may try again or abort. */
        StoreCommandResult(block, result);
        return;
    }
    block->dwReturnLines = delivered & 0xFFFF;
    t.DeliverLines -= delivered;
    block->dwRemainLines = t.DeliverLines & 0xFFFF;
    if (t.DeliverLines == 0) {
        EndTransfer();
        ScanState.EndOfData = 0;
    } else if (ScanState.EndOfData) {
        /* The image ended early in this call: later calls report what is
         * missing without data. */
        t.SetupPending = 1;
    }
    StoreCommandResult(block, SD_OK);
}
