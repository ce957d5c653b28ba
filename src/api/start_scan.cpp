/*
 * start_scan.cpp - vScannerStartScan: from the caller's attribute block to a
 * running scan, step by step; the first step that fails ends the start with
 * its result in dwResult.
 */
#include "scandrv.h"

#include "image/image_reader.h"
#include "pipeline/line_pipeline.h"
#include "scan/calibration.h"
#include "scan/gamma.h"
#include "scan/halftone.h"
#include "scan/prepare_scan.h"
#include "scan/scan_state.h"
#include "scsi/commands.h"

extern "C" SCANDRV_API void SCANDRV_CALL vScannerStartScan(ScanAttributeBlock *block)
{
    if (!block || !ValidateScanRequest(block))
        return;
    /* A scan that was neither read to its end nor aborted is ended here, so
     * its buffers are not lost when the new one sets up its own. */
    EndTransfer();
    /* A READ of length 0 ends whatever image the scanner is still sending;
     * its answer does not matter. */
    ReadImageData(nullptr, 0);
    if (!PrepareScanState(block) || CalibrateIfNeeded(block) != SD_OK || !SetScanLamps(block) ||
        !SendGammaTables(block) || !SetUpHalftone(block) || !SetUpLinePipeline(block))
        return;
    ScanState.ScanActive = 1;
    ScanState.EndOfData = 0;
}
