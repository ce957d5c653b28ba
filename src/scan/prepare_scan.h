/*
 * prepare_scan.h - the first steps of a scan start: checking the request,
 * deriving the ScanState from it and the scanner's parameter page, and
 * lighting the lamps the scan needs.
 */
#ifndef SCANDRV_PREPARE_SCAN_H
#define SCANDRV_PREPARE_SCAN_H

#include "scandrv.h"

#include <cstdint>

/* Checks what can be checked of the caller's block alone: a known image
 * type, a supported depth, an area whose edges are in order. False with the
 * reason in dwResult. */
bool ValidateScanRequest(ScanAttributeBlock *block);

/* Reads the parameter page for the chosen source, checks the request
 * against it, fills the ScanState, reads the lamp page, sends the window,
 * reads the page again and resets the calibration defaults. */
bool PrepareScanState(ScanAttributeBlock *block);

/* Sends the lamp page with the lamps this scan needs. */
bool SetScanLamps(ScanAttributeBlock *block);

/* The window's scan resolution for the effective resolution r of a request
 * for `requested` dpi. */
uint32_t ScanResolutionFor(uint32_t r, uint32_t requested);

#endif
