/*
 * lens.cpp - vScannerMutiLens: chooses one of the scanner's lenses. Nothing
 * is sent; the choice travels in every later parameter page read and scan
 * window.
 */
#include "api/device_control.h"

void SCANDRV_CALL vScannerMutiLens(LensBlock *lpBlock)
{
    if (!lpBlock)
        return; /* nowhere to report to; touch nothing */

    uint32_t rc = SD_OK;
    /* A one-lens scanner has nothing to choose, and before the first
     * initialization the count is 1. The refusal is stored like a command's
     * code (high half 0), as applications of this driver expect. */
    if (LensCount == 1 || lpBlock->wLens >= LensCount)
        StoreCommandResult(rc, SD_ERR_LENS_OR_IDENTIFY);
    else
        SelectedLens = lpBlock->wLens;

    lpBlock->dwResult = rc;
}
