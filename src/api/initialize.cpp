/*
 * initialize.cpp - vInitializeScanner: attaches the device through the
 * adapter, makes sure it is a SCSI-2 scanner, and reports its firmware
 * revision, model and kind. It also sets the process-wide ModelCode and lens
 * count that later commands and vScannerMutiLens rely on.
 */
#include "api/device_control.h"

/* The attach record always names kind 7 and version 1; the two caller values
 * address the device. */
constexpr uint16_t kAttachKind = 7;
constexpr uint16_t kAttachVersion = 1;

/* INQUIRY data: the bytes the driver looks at. */
constexpr int kInquiryDeviceType = 0;     /* 6: scanner device */
constexpr int kInquiryVersion = 2;        /* 2: SCSI-2 */
constexpr int kInquiryResponseFormat = 3; /* 2, with no flag bits beside it */
constexpr int kInquiryRevisionMajor = 32; /* revision text "d.dd" in bytes 32-35 */
constexpr int kInquiryRevisionTens = 34;
constexpr int kInquiryRevisionUnits = 35;
constexpr int kInquiryModelCode = 36;

constexpr uint8_t kScannerDevice = 6;
constexpr uint8_t kScsi2 = 2;
constexpr uint8_t kResponseFormat2 = 2;

/* Model 150 reports 18 as its model value, every other model 255. */
constexpr uint8_t kModel150 = 150;

/* Fixed values the block reports to the application. */
constexpr uint16_t kInfo1to3 = 256;
constexpr uint16_t kInfo4 = 150;
constexpr uint16_t kInfo5 = 13;

/* Byte 0 must be exactly a scanner, byte 2 exactly SCSI-2 and byte 3 exactly
 * response format 2: a device that sets any flag bit in byte 3 (0x12, say)
 * does not speak the dialect this driver knows. */
static bool IsScsi2Scanner(const uint8_t *inquiry)
{
    return inquiry[kInquiryDeviceType] == kScannerDevice && inquiry[kInquiryVersion] == kScsi2 &&
           inquiry[kInquiryResponseFormat] == kResponseFormat2;
}

/* The revision "1.23" becomes 0x0117: the major digit in the high byte, the
 * two-digit minor number in the low byte. Only the last digit is checked (a
 * letter there counts 0, so "2.1a" gives 0x020A); the others are taken as
 * digits whatever they are, modulo 65536. */
static uint16_t FirmwareVersion(const uint8_t *inquiry)
{
    uint32_t major = inquiry[kInquiryRevisionMajor] - uint32_t{'0'};
    uint32_t tens = inquiry[kInquiryRevisionTens] - uint32_t{'0'};
    uint8_t last = inquiry[kInquiryRevisionUnits];
    uint32_t units = last >= '0' && last <= '9' ? last - uint32_t{'0'} : 0;
    return static_cast<uint16_t>(256u * major + 10u * tens + units);
}

/* The device kind from parameter page byte 0 bits 4-5: 0x20 is kind 4, 0x30
 * kind 2, anything else kind 1. */
static uint16_t DeviceKind(const DeviceParameterPage &page)
{
    switch (DeviceKindBits(page)) {
    case 0x20:
        return 4;
    case 0x30:
        return 2;
    default:
        return 1;
    }
}

/* The option bits the status page adds to the device kind. */
static uint16_t OptionBits(const LampStatusPage &status)
{
    uint8_t options = InstalledOptions(status);
    uint16_t bits = 0;
    if (options & kOptionAlt1)
        bits |= 0x40;
    if (options & kOptionBit1)
        bits |= 0x80;
    if (options & kOptionAlt2)
        bits |= 0x20;
    return bits;
}

void SCANDRV_CALL vInitializeScanner(InitBlock *lpBlock)
{
    if (!lpBlock)
        return; /* nowhere to report to; touch nothing */

    AttachRecord attach = {kAttachKind, lpBlock->wAttachParam2, lpBlock->wAttachParam1,
                           kAttachVersion};
    /* The attach result says nothing reliable; the INQUIRY shows whether a
     * device answers. */
    BusLinkAttach(&attach);

    uint32_t rc = SD_OK;
    uint8_t inquiry[kInquiryLength] = {};
    DeviceParameterPage page = {};
    LampStatusPage status = {};

    StoreCommandResult(rc, Inquiry(inquiry));
    if (rc == SD_OK && !IsScsi2Scanner(inquiry))
        StoreOwnResult(rc, SD_ERR_NOT_A_SCANNER);
    if (rc == SD_OK) {
        ModelCode = inquiry[kInquiryModelCode];
        lpBlock->wFirmwareVersion = FirmwareVersion(inquiry);
        lpBlock->wModelValue = ModelCode == kModel150 ? 18 : 255;
        StoreCommandResult(rc, ReadDeviceParameters(kVariantFlatbed, page.Bytes));
    }
    if (rc == SD_OK) {
        lpBlock->wDeviceKind = DeviceKind(page);
        LensCount = LensCountOf(page);
        lpBlock->wInfo5 = kInfo5;
        lpBlock->wInfo2 = kInfo1to3;
        lpBlock->wInfo3 = kInfo1to3;
        lpBlock->wInfo1 = kInfo1to3;
        lpBlock->wInfo4 = kInfo4;
        StoreCommandResult(rc, TransferLampStatus(kDataIn, status.Bytes));
    }
    if (rc == SD_OK)
        lpBlock->wDeviceKind = static_cast<uint16_t>(lpBlock->wDeviceKind | OptionBits(status));

    lpBlock->dwResult = rc;
}
