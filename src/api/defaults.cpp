/*
 * defaults.cpp - vDefaultAttribute: fills a ScanAttributeBlock with the
 * defaults of one document source, from that source's parameter page. The
 * application edits the block and hands it to vScannerStartScan.
 */
#include "api/device_control.h"

/* The page the caller's wScanSource names: the second alternative source
 * wins over the first, either over the flatbed. */
static uint8_t VariantOfScanSource(uint16_t scanSource)
{
    if (scanSource & SD_SOURCE_ALT2)
        return kVariantAlt2;
    if (scanSource & SD_SOURCE_ALT1)
        return kVariantAlt1;
    return kVariantFlatbed;
}

/* Defaults of the fields the page does not decide. The reserved values mean
 * nothing to this driver but are part of what applications expect back. */
constexpr uint16_t kDefaultBitsPerPixel = 8;
constexpr uint16_t kDefaultHalftonePattern = 5;
constexpr uint16_t kDefaultReserved3 = 8;
constexpr uint16_t kDefaultReserved4 = 1;
constexpr uint16_t kDefaultReserved5 = 2;

void SCANDRV_CALL vDefaultAttribute(ScanAttributeBlock *lpBlock)
{
    if (!lpBlock)
        return; /* nowhere to report to; touch nothing */

    DeviceParameterPage page = {};
    uint32_t rc = ReadUsableParameterPage(VariantOfScanSource(lpBlock->wScanSource), page);
    if (rc == SD_OK) {
        uint32_t base = PageBaseResolution(page);
        uint16_t width = PixelsToMils(MaxWidthInPixels(page), base);
        uint16_t length = PixelsToMils(MaxLengthInPixels(page), base);

        lpBlock->wWidth = width;
        lpBlock->wLength = length;
        for (int channel = 0; channel < 3; ++channel) {
            lpBlock->lContrast[channel] = 0;
            lpBlock->lBrightness[channel] = 0;
            lpBlock->lAdjust[channel] = 0;
        }
        lpBlock->wImageType = ColorIsDefault(page) ? SD_IMAGE_COLOR : SD_IMAGE_RED;
        /* The sizes are those of the source asked for, but wScanSource
         * comes back as the flatbed: an application that wants another
         * source sets it again before the scan. */
        lpBlock->wScanSource = SD_SOURCE_FLATBED;
        lpBlock->wBitsPerPixel = kDefaultBitsPerPixel;
        lpBlock->wHalftoneMode = SD_HALFTONE_THRESHOLD;
        lpBlock->wHalftonePattern = kDefaultHalftonePattern;
        lpBlock->wPatternSize = 0;
        lpBlock->lpPattern = nullptr;
        lpBlock->wResolution = static_cast<uint16_t>(base);
        /* The whole glass, edges inclusive. */
        lpBlock->wLeft = 0;
        lpBlock->wTop = 0;
        lpBlock->wRight = static_cast<uint16_t>(width - 1);
        lpBlock->wBottom = static_cast<uint16_t>(length - 1);
        lpBlock->wReserved1 = 0;
        lpBlock->dwReserved2 = 0;
        lpBlock->wReserved3 = kDefaultReserved3;
        lpBlock->wReserved4 = kDefaultReserved4;
        lpBlock->wReserved5 = kDefaultReserved5;
        lpBlock->wFlags = SD_FLAG_DEFAULT;
        lpBlock->lpToneLevels = nullptr;
        lpBlock->wGammaScale = 0;
        lpBlock->lpGammaTable = nullptr;
    }

    lpBlock->dwResult = rc;
}
