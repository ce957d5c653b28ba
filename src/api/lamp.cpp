/*
 * lamp.cpp - vGetLampStatus and vSetLampStatus: the lamps, the lamp-off
 * timer and the lamp-on time, all through the shared LampStatus copy that
 * the scan start and calibration also read and send. vGetLampStatus keeps
 * the lamp-on clock that adds seconds to the scanner's whole minutes.
 */
#include "api/device_control.h"

#include "platform/platform.h"

#include <algorithm>

uint32_t LampClockTick = 0;
uint32_t LampClockMinutes = kLampClockUnset;

/* The timer is sent in whole minutes, 7 bits of them. */
constexpr uint32_t kMaxTimerMinutes = 127;

/* wLampState bits that mirror status byte 0 bits 0 and 1. */
constexpr uint16_t kLampBits = SD_LAMP_1 | SD_LAMP_2;

/* Seconds fill the low 6 bits of dwLampOnTime, the minutes the bits above. */
constexpr uint32_t kSecondsPerMinuteField = 64;
constexpr uint32_t kSecondsMask = 0x3F;

/* The lamp-on time the application sees: the scanner's minutes, plus the
 * seconds since the driver last saw that minute count change. With both
 * lamps off the time is 0 and the clock restarts from now. */
static uint32_t LampOnTime(uint16_t lampState, uint32_t minutes)
{
    uint32_t now = TickCount();
    if (!(lampState & kLampBits)) {
        LampClockTick = now;
        return 0;
    }
    uint32_t elapsed = 0;
    if (minutes == LampClockMinutes)
        elapsed = (now - LampClockTick) / 1000; /* unsigned: survives the tick count wrapping */
    else
        LampClockTick = now;
    LampClockMinutes = minutes;
    return minutes * kSecondsPerMinuteField + (elapsed & kSecondsMask);
}

void SCANDRV_CALL vGetLampStatus(LampBlock *lpBlock)
{
    if (!lpBlock)
        return; /* nowhere to report to; touch nothing */

    uint8_t *page = LampStatus.Bytes;
    uint32_t rc = SD_OK;
    bool reportsOnTime = false;

    StoreCommandResult(rc, TransferLampStatus(kDataIn, page));
    if (rc == SD_OK) {
        uint16_t state = page[kLampControlByte] & kLampBits;
        if (page[kLampMinutesByte] & kTimerFlag)
            state |= SD_LAMP_TIMER_FLAG;
        lpBlock->wLampState = state;
        reportsOnTime = page[kLampReportingByte] & kReportsLampOnTime;
        /* A scanner that reports the timer in byte 4 is asked to report the
         * lamp-on minutes instead; one that cannot keeps the bit clear and
         * its timer is what the application gets. */
        if (!reportsOnTime) {
            page[kLampReportingByte] |= kReportsLampOnTime;
            StoreCommandResult(rc, TransferLampStatus(kDataOut, page));
            if (rc == SD_OK)
                StoreCommandResult(rc, TransferLampStatus(kDataIn, page));
            if (rc == SD_OK) {
                reportsOnTime = page[kLampReportingByte] & kReportsLampOnTime;
                if (!reportsOnTime)
                    lpBlock->dwLampTimer = (page[kLampMinutesByte] & kMinutesMask) * 60u;
            }
        }
    }
    /* The lamp bits are those of the first reading; the minutes those of
     * the last. */
    if (rc == SD_OK && reportsOnTime) {
        lpBlock->wLampState |= SD_LAMP_ON_TIME_VALID;
        lpBlock->dwLampOnTime = LampOnTime(lpBlock->wLampState, page[kLampMinutesByte] & kMinutesMask);
    }

    lpBlock->dwResult = rc;
}

/* The timer in whole minutes, rounded to the nearest, at most 127. Computed
 * in 64 bits so that a timer near 2^32 seconds stays at the maximum instead
 * of wrapping to a short one. */
static uint8_t TimerMinutes(uint32_t seconds)
{
    uint64_t minutes = (uint64_t{seconds} + 30) / 60;
    return static_cast<uint8_t>(std::min<uint64_t>(minutes, kMaxTimerMinutes));
}

void SCANDRV_CALL vSetLampStatus(LampBlock *lpBlock)
{
    if (!lpBlock)
        return; /* nowhere to report to; touch nothing */

    /* No READ first: the bytes other than 0, 1 and 4 go back as the last
     * reader of the shared copy left them. */
    uint8_t *page = LampStatus.Bytes;
    uint32_t rc = SD_OK;

    /* The caller's two lamp bits are sent as given: an application that
     * switches one lamp on, or both off, expects exactly that. The other
     * bits of byte 0 keep what the last reader left. */
    page[kLampControlByte] = static_cast<uint8_t>((page[kLampControlByte] & ~kLampBits) |
                                                  (lpBlock->wLampState & kLampBits));

    uint8_t minutes = TimerMinutes(lpBlock->dwLampTimer);
    LampTimerMinutes = minutes;
    page[kLampMinutesByte] = minutes;
    if (lpBlock->wLampState & SD_LAMP_TIMER_FLAG) {
        page[kLampMinutesByte] |= kTimerFlag;
        LampTimerFlag = 1;
    } else {
        LampTimerFlag = 0;
    }
    /* Byte 4 now holds a timer, not a lamp-on time. */
    page[kLampReportingByte] = static_cast<uint8_t>(page[kLampReportingByte] & ~kReportsLampOnTime);

    StoreCommandResult(rc, TransferLampStatus(kDataOut, page));
    lpBlock->dwResult = rc;
}
