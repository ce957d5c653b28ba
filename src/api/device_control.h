/*
 * device_control.h - what the device control exports (initialize, defaults,
 * capability, lamps, document sensor, lens) share: the state that outlives a
 * call (the lamp-on clock and the sensor counter) and the small conversions
 * two of them make alike. The model code, the lens count and selection and
 * the lamp timer live with the command set (scsi/commands.h), because
 * commands carry them.
 */
#ifndef SCANDRV_DEVICE_CONTROL_H
#define SCANDRV_DEVICE_CONTROL_H

#include "scandrv.h"
#include "scsi/commands.h"
#include "scsi/executor.h"

#include <cstdint>

/* The lamp-on clock of vGetLampStatus. The scanner reports whole minutes;
 * the driver counts the seconds since it last saw the minute change.
 * LampClockTick is the tick count (ms) of that moment, LampClockMinutes the
 * minutes seen then. A minute count never exceeds 127, so the load value
 * kLampClockUnset matches no reading and the first one starts a new minute. */
constexpr uint32_t kLampClockUnset = 0xFFFFFFFFu;
extern uint32_t LampClockTick;
extern uint32_t LampClockMinutes;

/* The document sensor counter of vPaperReady: 0 at load, then 1 to 99. */
extern uint32_t SensorCount;

/* A page length in pixels at the base resolution, in 1/1000 inch, truncated
 * and kept to 16 bits as the blocks hold it. The caller makes sure the base
 * resolution is not 0. Pixels are below 65536, so the product fits. */
inline uint16_t PixelsToMils(uint32_t pixels, uint32_t baseResolution)
{
    return static_cast<uint16_t>(pixels * 1000u / baseResolution);
}

/* Reads the parameter page of one document source and returns what the
 * export stores in dwResult. A page whose base resolution is 0 gives no
 * sizes in 1/1000 inch (they divide by it); it is refused with
 * SD_ERR_PARAMETER_VALUE stored like any code from a command (high half 0),
 * because the fault lies in what the scanner reported, as with a parameter
 * the scanner itself rejects. */
inline uint32_t ReadUsableParameterPage(uint8_t variant, DeviceParameterPage &page)
{
    uint32_t rc = SD_OK;
    StoreCommandResult(rc, ReadDeviceParameters(variant, page.Bytes));
    if (rc == SD_OK && PageBaseResolution(page) == 0)
        StoreCommandResult(rc, SD_ERR_PARAMETER_VALUE);
    return rc;
}

#endif
