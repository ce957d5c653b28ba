/*
 * abort_scan.cpp - vScannerAbortScan: stops the scanner with a READ of
 * length 0 and ends the scan whatever the scanner answered; harmless when no
 * scan is running.
 */
#include "scandrv.h"

#include "image/image_reader.h"
#include "scsi/commands.h"

extern "C" SCANDRV_API void SCANDRV_CALL vScannerAbortScan(ParamBlock *block)
{
    /* Like every export, a call without a block is ignored: a stray null
     * must not stop a scan the application is still reading. */
    if (!block)
        return;
    ResultCode result = ReadImageData(nullptr, 0);
    EndTransfer();
    StoreCommandResult(block, result);
}
