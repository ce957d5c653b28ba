/*
 * pages.h - the two pages the scanner reports about itself: the 40-byte
 * DeviceParameterPage (read only) and the 9-byte LampStatusPage (read and
 * sent back). Multi-byte fields are big-endian and read through accessors.
 */
#ifndef SCANDRV_PAGES_H
#define SCANDRV_PAGES_H

#include "byte_order.h"

#include <cstdint>

constexpr uint32_t kDeviceParameterPageLength = 40;
constexpr uint32_t kLampStatusPageLength = 9;
constexpr uint32_t kInquiryLength = 37;
constexpr uint32_t kImageGeometryPageLength = 16;

struct DeviceParameterPage {
    uint8_t Bytes[kDeviceParameterPageLength];
};

struct LampStatusPage {
    uint8_t Bytes[kLampStatusPageLength];
};

/* --- DeviceParameterPage ------------------------------------------------ */

/* Byte 0 bit 7: colour is the default image type. */
inline bool ColorIsDefault(const DeviceParameterPage &page) { return page.Bytes[0] & 0x80; }
/* Byte 0 bits 4-5: the device kind. */
inline uint8_t DeviceKindBits(const DeviceParameterPage &page) { return page.Bytes[0] & 0x30; }
/* Byte 0 bits 0-2: how colour lines are laid out (1, 5 whole pixels; 3 tagged segments). */
inline uint8_t PageLineFormat(const DeviceParameterPage &page) { return page.Bytes[0] & 0x07; }
/* Byte 1 bit 0: the X origin lies at the far edge of the glass. */
inline bool OriginAtFarEdge(const DeviceParameterPage &page) { return page.Bytes[1] & 0x01; }
/* Byte 2: distance between the colour sensor lines, in lines at base resolution. */
inline uint8_t PageColorLineGap(const DeviceParameterPage &page) { return page.Bytes[2]; }
/* Bytes 3-4 and 5-6: highest bilevel resolution across and along the page. */
inline uint16_t BilevelMaxResolutionX(const DeviceParameterPage &page) { return ReadBigEndian16(page.Bytes + 3); }
inline uint16_t BilevelMaxResolutionY(const DeviceParameterPage &page) { return ReadBigEndian16(page.Bytes + 5); }
/* Bytes 7-8 and 9-10: the glass in pixels and lines at base resolution. */
inline uint16_t MaxWidthInPixels(const DeviceParameterPage &page) { return ReadBigEndian16(page.Bytes + 7); }
inline uint16_t MaxLengthInPixels(const DeviceParameterPage &page) { return ReadBigEndian16(page.Bytes + 9); }
/* Bytes 11-12: the optical base resolution in dpi. */
inline uint16_t PageBaseResolution(const DeviceParameterPage &page) { return ReadBigEndian16(page.Bytes + 11); }
/* Byte 13: what the scanner can make itself. */
inline bool CanThreshold(const DeviceParameterPage &page) { return page.Bytes[13] & 0x01; }
inline bool CanHalftone(const DeviceParameterPage &page) { return page.Bytes[13] & 0x02; }
inline bool HasColor(const DeviceParameterPage &page) { return page.Bytes[13] & 0x08; }
/* Byte 17 bit 7: the second condition for halftoning in the scanner. */
inline bool HalftoneEnabled(const DeviceParameterPage &page) { return page.Bytes[17] & 0x80; }
/* Byte 18 bit 4: the scanner supports the device setting exchange. */
inline bool SupportsDeviceSetting(const DeviceParameterPage &page) { return page.Bytes[18] & 0x10; }
/* Bytes 19-22: signed calibration value (upper-left Y of the white strip). */
inline int32_t CalibrationOffset(const DeviceParameterPage &page) { return static_cast<int32_t>(ReadBigEndian32(page.Bytes + 19)); }
/* Byte 27: number of lenses. */
inline uint8_t LensCountOf(const DeviceParameterPage &page) { return page.Bytes[27]; }
/* Byte 29 bit 0: the model flag; bit 1: a capability flag. */
inline bool PageModelFlag(const DeviceParameterPage &page) { return page.Bytes[29] & 0x01; }
inline bool CapabilityFlag(const DeviceParameterPage &page) { return page.Bytes[29] & 0x02; }
/* Bytes 30-35: the device's own channel factors (red, green, blue) in 1/256. */
inline uint16_t DeviceChannelFactor(const DeviceParameterPage &page, int channel) { return ReadBigEndian16(page.Bytes + 30 + 2 * channel); }

/* --- LampStatusPage ----------------------------------------------------- */

/* Byte offsets of the LampStatusPage. */
constexpr int kLampControlByte = 0;   /* lamps and calibration control, bits below */
constexpr int kLampReportingByte = 1; /* bit 4: what byte 4 reports */
constexpr int kLampSensorByte = 2;    /* document sensor and the device setting */
constexpr int kLampMinutesByte = 4;   /* minutes and the timer flag */
constexpr int kLampOptionsByte = 5;   /* installed options */
constexpr int kLampEventByte = 7;     /* pending event value, 0 for none */

/* Byte 0: lamp and calibration control. */
constexpr uint8_t kLamp1 = 0x01;
constexpr uint8_t kLamp2 = 0x02;
constexpr uint8_t kLampDark = 0x04;        /* dark pass: lamp light shut off the sensor */
constexpr uint8_t kLampExtra = 0x08;       /* set by the scan start under its own rule */
constexpr uint8_t kCalibrationValid = 0x20; /* as read: calibration may be skipped */
constexpr uint8_t kLampAltSource = 0x80;   /* lamp of the second alternative source */
/* Byte 1 bit 4: byte 4 reports the lamp-on minutes rather than the timer. */
constexpr uint8_t kReportsLampOnTime = 0x10;
/* Byte 2 bit 6: a document lies on the sensor; bits 0-5 a device setting, bit 7 marks it valid. */
constexpr uint8_t kDocumentPresent = 0x40;
/* Byte 2 bits 0-5: the device setting; bit 7 marks it valid. */
constexpr uint8_t kDeviceSettingMask = 0x3F;
constexpr uint8_t kDeviceSettingValid = 0x80;
/* Byte 4: minutes in bits 0-6, the timer flag in bit 7. */
constexpr uint8_t kMinutesMask = 0x7F;
constexpr uint8_t kTimerFlag = 0x80;
/* Byte 5: the installed options. */
constexpr uint8_t kOptionAlt1 = 0x01; /* first alternative document source */
constexpr uint8_t kOptionBit1 = 0x02; /* an option the driver only reports to the caller */
constexpr uint8_t kOptionAlt2 = 0x04; /* second alternative document source */

inline uint8_t InstalledOptions(const LampStatusPage &page) { return page.Bytes[kLampOptionsByte] & 0x07; }
inline uint8_t DeviceState(const LampStatusPage &page) { return page.Bytes[6] & 0x07; }
inline uint8_t PendingEvent(const LampStatusPage &page) { return page.Bytes[kLampEventByte]; }

#endif
