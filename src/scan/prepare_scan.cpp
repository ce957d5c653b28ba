/*
 * prepare_scan.cpp - PrepareScanState and SetScanLamps: what the scanner
 * will be asked for, derived once per scan from the caller's block and the
 * scanner's parameter page.
 */
#include "prepare_scan.h"

#include "calibration.h"
#include "halftone.h"
#include "scan_state.h"
#include "scsi/commands.h"
#include "scsi/executor.h"
#include "window.h"

bool ValidateScanRequest(ScanAttributeBlock *block)
{
    /* Requests the scanner could only be sent as wrapped-around numbers are
     * refused before anything reaches it: unknown image types have no
     * channel, depths other than 1, 8 and 9 to 16 have no line layout, and
     * an area whose far edge lies before its near edge has no size. */
    uint16_t type = block->wImageType;
    bool knownType = type == 1 || type == 2 || type == 4 || type == 8 || type == SD_IMAGE_COLOR;
    uint16_t bits = block->wBitsPerPixel;
    bool knownDepth = bits == 1 || (bits >= 8 && bits <= 16);
    bool ordered = block->wRight >= block->wLeft && block->wBottom >= block->wTop;
    if (!knownType || !knownDepth || !ordered || (bits == 1 && type == SD_IMAGE_COLOR)) {
        StoreOwnResult(block, SD_ERR_PARAMETER_VALUE);
        return false;
    }
    return true;
}

uint32_t ScanResolutionFor(uint32_t r, uint32_t requested)
{
    uint32_t resolution;
    if (r >= 501 && r <= 1000)
        resolution = 1000;
    else if (r >= 251 && r <= 500)
        resolution = 500;
    else if (r >= 91 && r <= 250)
        resolution = 250;
    else
        resolution = (requested + 9) / 10 * 10;
    return requested < 15 ? 15 : resolution;
}

bool PrepareScanState(ScanAttributeBlock *block)
{
    ScanStateRecord &scan = ScanState;
    const DeviceParameterPage &page = DeviceParameters;
    scan.IsColor = block->wImageType == SD_IMAGE_COLOR;
    scan.SourceBit2 = block->wScanSource & SD_SOURCE_ALT2;
    scan.SourceBit1 = block->wScanSource & SD_SOURCE_ALT1;
    uint8_t variant = scan.SourceBit2 ? kVariantAlt2 : scan.SourceBit1 ? kVariantAlt1 : kVariantFlatbed;

    ResultCode result = ReadDeviceParameters(variant, DeviceParameters.Bytes);
    StoreCommandResult(block, result);
    if (result != SD_OK)
        return false;
    if (scan.IsColor && !HasColor(page)) {
        StoreOwnResult(block, SD_ERR_NO_COLOR);
        return false;
    }
    /* The scanner never reports a base resolution of 0; a page that does
     * cannot be turned into sizes. */
    if (PageBaseResolution(page) == 0) {
        StoreCommandResult(block, SD_ERR_PARAMETER_VALUE);
        return false;
    }

    scan.ColorLineGap = PageColorLineGap(page);
    scan.ModelFlag = PageModelFlag(page);
    scan.BaseResolution = PageBaseResolution(page);
    scan.MaxResolutionX = BilevelMaxResolutionX(page);
    scan.MaxResolutionY = BilevelMaxResolutionY(page);
    scan.MaxWidthPixels = MaxWidthInPixels(page);
    scan.MaxLengthPixels = MaxLengthInPixels(page);
    scan.MaxWidthMils = (scan.MaxWidthPixels * 1000 / scan.BaseResolution) & 0xFFFF;
    scan.MaxLengthMils = (scan.MaxLengthPixels * 1000 / scan.BaseResolution) & 0xFFFF;

    /* An area that starts beyond the glass has nothing to scan. */
    if (block->wLeft >= scan.MaxWidthMils || block->wTop >= scan.MaxLengthMils) {
        StoreOwnResult(block, SD_ERR_PARAMETER_VALUE);
        return false;
    }

    scan.Resolution = block->wResolution;
    scan.BitsPerPixel = block->wBitsPerPixel;
    scan.ReverseX = OriginAtFarEdge(page);
    scan.TableLength = 65536;
    scan.WideEntries = 1;

    if (scan.BitsPerPixel != 1) {
        /* Grey and colour come at most at the optical resolution; the
         * page's larger maxima are for bilevel scans. */
        scan.IsBinary = 0;
        scan.SoftwareBinarize = 0;
        scan.MaxResolutionX = scan.MaxResolutionY = scan.BaseResolution;
    } else {
        scan.IsBinary = 1;
        bool withinScanner = scan.Resolution <= scan.MaxResolutionX;
        if (IsThresholdMode(block->wHalftoneMode)) {
            scan.IsLineArt = 1;
            scan.SoftwareBinarize = CanThreshold(page) && withinScanner ? 0 : 1;
        } else {
            scan.IsLineArt = 0;
            scan.SoftwareBinarize = CanHalftone(page) && HalftoneEnabled(page) && withinScanner ? 0 : 1;
        }
    }

    uint32_t r = scan.Resolution;
    if (scan.Resolution > scan.MaxResolutionY || scan.Resolution > scan.MaxResolutionX) {
        scan.ExceedsMaxResolution = 1;
        r = scan.MaxResolutionX;
    } else {
        scan.ExceedsMaxResolution = 0;
    }
    scan.ScanResolutionX = scan.ScanResolutionY = ScanResolutionFor(r, scan.Resolution);
    /* Bits the scanner packs itself cannot be rescaled. When the window
     * asks for another resolution than the caller did (the resolution bands
     * above), the scanner sends grey and the driver makes the bits, so the
     * caller still gets the width and the lines it asked for. */
    if (scan.IsBinary && !scan.SoftwareBinarize && scan.ScanResolutionX != scan.Resolution)
        scan.SoftwareBinarize = 1;

    result = TransferLampStatus(kDataIn, LampStatus.Bytes);
    StoreCommandResult(block, result);
    if (result != SD_OK)
        return false;
    /* Byte 4 becomes the lamp timer again (not the lamp-on time). */
    LampStatus.Bytes[1] &= static_cast<uint8_t>(~kReportsLampOnTime);
    LampStatus.Bytes[4] = static_cast<uint8_t>(LampTimerMinutes | (LampTimerFlag ? kTimerFlag : 0));

    if (!SendScanWindow(block))
        return false;
    result = ReadDeviceParameters(variant, DeviceParameters.Bytes);
    StoreCommandResult(block, result);
    if (result != SD_OK)
        return false;
    ResetCalibrationDefaults();
    return true;
}

bool SetScanLamps(ScanAttributeBlock *block)
{
    const ScanStateRecord &scan = ScanState;
    /* Lamp 2 and the second alternative source's lamp for that source,
     * otherwise lamp 1; bit 2 is set either way. */
    uint8_t lamps = scan.SourceBit2 ? 0x86 : 0x05;
    uint8_t flags = static_cast<uint8_t>(block->wFlags);
    if (scan.ModelFlag && (flags & SD_FLAG_LAMP_OPTION) && !scan.IsBinary)
        lamps |= kLampExtra;
    if (!(flags & SD_FLAG_DEFAULT))
        lamps |= kLampExtra;
    LampStatus.Bytes[0] = lamps;
    ResultCode result = TransferLampStatus(kDataOut, LampStatus.Bytes);
    StoreCommandResult(block, result);
    return result == SD_OK;
}
