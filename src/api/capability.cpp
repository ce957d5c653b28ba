/*
 * capability.cpp - vScannerCapability: tells the application what it may ask
 * for in a ScanAttributeBlock (area, resolutions, value ranges, halftone
 * patterns, sources, lenses), from the parameter page of one source and a
 * private copy of the lamp status page. On request it also reads or changes
 * the device setting held in that status page.
 */
#include "api/device_control.h"

/* wFeatures bits on return; SD_CAPS_EXTENDED comes back when the fields it
 * asks for were filled. */
constexpr uint16_t kFeatureLenses = 0x0400;     /* more than one lens */
constexpr uint16_t kFeatureSetting = 0x0200;    /* device setting or capability flag */
constexpr uint16_t kFeatureAlways = 0x0985;     /* bits 0, 2, 7, 8 and 11 */
constexpr uint16_t kFeatureAlwaysLate = 0x0008; /* bit 3, added with the sources */

/* wDeviceSetting 0xFFFF asks for the setting the scanner holds now. */
constexpr uint16_t kQueryDeviceSetting = 0xFFFF;

/* Fixed values the block reports; their meaning is the application's. */
constexpr uint16_t kFixed10 = 1;
constexpr uint16_t kFixed12 = 1;
constexpr uint16_t kFixed36 = 0x8081;
constexpr uint16_t kFixed38 = 7;
constexpr uint16_t kFixed44 = 8;
constexpr uint16_t kFixed46 = 0;
constexpr uint16_t kFixed48 = 1000;
constexpr uint16_t kFixed54 = 8;
constexpr uint16_t kFixed56 = 31;
constexpr uint16_t kFixed58 = 2;
constexpr uint16_t kFixed62 = 0x81;

/* wImageTypes: types 1, 2, 4, 8 and colour, or one channel only. */
constexpr uint16_t kAllImageTypes = 15;
constexpr uint16_t kOneImageType = 1;

constexpr int kValueListLength = 256;     /* contrast, brightness, adjustment */
constexpr int kResolutionSteps = 100;     /* B/100 up to B */
constexpr int kEnlargedSteps = 50;        /* B + 2r up to 2B */
constexpr int kPatternCount = 12;

/* The built-in halftone patterns: pattern number in the low byte, width and
 * height in cells in the high and low nibble of the high byte. */
static const uint16_t BuiltInPatterns[kPatternCount] = {
    0x8800, 0x8801, 0x8802, 0x8803, 0x6604, 0x5505,
    0x5506, 0x4407, 0x4408, 0x4409, 0x330A, 0x220B,
};

/* The incoming wSources names a page with bits of its own, not the
 * SD_SOURCE_* bits of a scan: 0x0004 reads the flatbed's page. */
static uint8_t VariantOfSourceQuery(uint16_t sources)
{
    if (sources & SD_CAPS_PAGE_ALT2)
        return kVariantAlt2;
    if (sources & SD_CAPS_PAGE_ALT1)
        return kVariantAlt1;
    return kVariantFlatbed;
}

/* Resolutions the application may offer: with r = B / 100, the hundred steps
 * r, 2r, ..., 100r up to the base resolution, then fifty steps of 2r above
 * it up to twice the base resolution, which the driver reaches by
 * interpolation. */
static void FillResolutionList(uint16_t *list, uint32_t base)
{
    uint32_t step = base / 100;
    for (int k = 0; k < kResolutionSteps; ++k)
        list[k] = static_cast<uint16_t>(step * static_cast<uint32_t>(k + 1));
    for (int k = 0; k < kEnlargedSteps; ++k)
        list[kResolutionSteps + k] = static_cast<uint16_t>(base + 2 * step * static_cast<uint32_t>(k + 1));
}

/* The device setting exchange, on a private copy of the status page. A
 * query (0xFFFF) first turns wDeviceSetting into the current setting with
 * its valid bit; then 0 clears the setting's valid and document bits, and
 * any other value is written with the valid bit and lamp byte 1. The SEND's
 * result is not reported: the capabilities read are good either way, and
 * the application sees the setting in effect at its next query. */
static void ExchangeDeviceSetting(CapabilityBlock *lpBlock, LampStatusPage &status)
{
    uint8_t &setting = status.Bytes[kLampSensorByte];
    if (lpBlock->wDeviceSetting == kQueryDeviceSetting)
        lpBlock->wDeviceSetting = static_cast<uint16_t>((setting & kDeviceSettingMask) | kDeviceSettingValid);
    if (lpBlock->wDeviceSetting == 0) {
        setting = static_cast<uint8_t>(setting & ~(kDocumentPresent | kDeviceSettingValid));
    } else {
        status.Bytes[kLampControlByte] = kLamp1;
        setting = static_cast<uint8_t>((lpBlock->wDeviceSetting & kDeviceSettingMask) | kDeviceSettingValid);
    }
    TransferLampStatus(kDataOut, status.Bytes);
}

void SCANDRV_CALL vScannerCapability(CapabilityBlock *lpBlock)
{
    if (!lpBlock)
        return; /* nowhere to report to; touch nothing */

    uint32_t rc = SD_OK;
    DeviceParameterPage page = {};
    LampStatusPage status = {};

    /* The three value lists are required. A block without one is refused
     * before any command, and no field is written. */
    if (!lpBlock->lpContrastList || !lpBlock->lpBrightnessList || !lpBlock->lpAdjustList)
        StoreCommandResult(rc, SD_ERR_PARAMETER_VALUE);
    if (rc == SD_OK)
        rc = ReadUsableParameterPage(VariantOfSourceQuery(lpBlock->wSources), page);

    uint32_t base = 0;
    if (rc == SD_OK) {
        base = PageBaseResolution(page);
        lpBlock->wMaxResolutionX = BilevelMaxResolutionX(page);
        lpBlock->wImageTypes = ColorIsDefault(page) ? kAllImageTypes : kOneImageType;
        lpBlock->wFixed36 = kFixed36;
        lpBlock->wFixed38 = kFixed38;
        lpBlock->wFixed62 = kFixed62;
        lpBlock->wMaxLength = PixelsToMils(MaxLengthInPixels(page), base);
        lpBlock->wMaxWidth = PixelsToMils(MaxWidthInPixels(page), base);

        if (lpBlock->wFeatures & SD_CAPS_EXTENDED) {
            lpBlock->wBaseResolution = static_cast<uint16_t>(base);
            lpBlock->wMaxResolutionY = BilevelMaxResolutionY(page);
            lpBlock->wFeatures = SD_CAPS_EXTENDED;
        } else {
            lpBlock->wFeatures = 0;
        }

        /* A page that reports 0 lenses still has the one it scans with. */
        if (LensCountOf(page) > 1) {
            lpBlock->wFeatures |= kFeatureLenses;
            lpBlock->wLensCount = LensCountOf(page);
        } else {
            lpBlock->wLensCount = 1;
        }

        StoreCommandResult(rc, TransferLampStatus(kDataIn, status.Bytes));
    }

    if (rc == SD_OK) {
        if ((lpBlock->wFeatures & SD_CAPS_EXTENDED) && SupportsDeviceSetting(page))
            ExchangeDeviceSetting(lpBlock, status);

        lpBlock->wFeatures |= kFeatureAlways;
        if (SupportsDeviceSetting(page) || CapabilityFlag(page))
            lpBlock->wFeatures |= kFeatureSetting;

        uint8_t options = InstalledOptions(status);
        uint16_t sources = SD_SOURCE_FLATBED;
        if (options & kOptionAlt2)
            sources |= SD_SOURCE_ALT2;
        if (options & kOptionAlt1)
            sources |= SD_SOURCE_ALT1;
        lpBlock->wSources = sources;
        lpBlock->wFeatures |= kFeatureAlwaysLate;

        /* Contrast and brightness run -128 to 127, adjustment 0 to 510 in
         * steps of 2. */
        for (int k = 0; k < kValueListLength; ++k) {
            lpBlock->lpContrastList[k] = k - 128;
            lpBlock->lpBrightnessList[k] = k - 128;
            lpBlock->lpAdjustList[k] = 2u * static_cast<uint32_t>(k);
        }
        if (lpBlock->lpResolutionList)
            FillResolutionList(lpBlock->lpResolutionList, base);
        if (lpBlock->lpPatternList)
            for (int k = 0; k < kPatternCount; ++k)
                lpBlock->lpPatternList[k] = BuiltInPatterns[k];

        lpBlock->wFixed10 = kFixed10;
        lpBlock->wFixed12 = kFixed12;
        lpBlock->wFixed44 = kFixed44;
        lpBlock->wFixed46 = kFixed46;
        lpBlock->wFixed48 = kFixed48;
        lpBlock->wFixed54 = kFixed54;
        lpBlock->wFixed56 = kFixed56;
        lpBlock->wFixed58 = kFixed58;
    }

    lpBlock->dwResult = rc;
}
