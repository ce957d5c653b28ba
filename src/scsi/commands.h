/*
 * commands.h - the scanner command set: one builder per command, which
 * patches the variable bytes of its template and runs it through
 * ExecuteCommand; the process-wide device selections commands carry; and the
 * shared page buffers.
 */
#ifndef SCANDRV_COMMANDS_H
#define SCANDRV_COMMANDS_H

#include "buslnk32.h"
#include "pages.h"
#include "result.h"

#include <cstdint>

constexpr uint32_t kWindowListLength = 69;

/* Page variants of ReadDeviceParameters: the flatbed and the two
 * alternative document sources. */
enum PageVariant : uint8_t { kVariantFlatbed = 0, kVariantAlt1 = 1, kVariantAlt2 = 2 };

/* Qualifier bits of the shading and gamma SENDs. */
constexpr uint8_t kOneChannel = 0x20;
constexpr uint8_t kThreeChannels = 0x60;
constexpr uint8_t kWideEntries = 0x01;

/* INQUIRY byte 36 of the attached scanner; 168 splits colour shading
 * transfers, 150 changes what initialization reports. */
extern uint8_t ModelCode;
/* Lens chosen with vScannerMutiLens (0 at load); goes into every parameter
 * page read and every scan window. */
extern uint16_t SelectedLens;
/* Lenses the scanner reported at the last initialization (1 before). */
extern uint16_t LensCount;
/* Lamp-off timer vSetLampStatus last sent (15 minutes at load) and its flag. */
extern uint8_t LampTimerMinutes;
extern uint8_t LampTimerFlag;

/* The shared page buffers: the parameter page as the scan start last read it,
 * and the lamp status copy that the lamp functions, the scan start and the
 * calibration read and write in turn. */
extern DeviceParameterPage DeviceParameters;
extern LampStatusPage LampStatus;

ResultCode TestUnitReady(uint16_t timeout);
ResultCode Inquiry(uint8_t *buffer);                /* 37 bytes in */
ResultCode SetWindow(const uint8_t *windowList);    /* 69 bytes out */
ResultCode ReadImageData(void *buffer, uint32_t length); /* length 0 ends the image */
ResultCode SendShadingData(uint8_t qualifier, const void *buffer, uint32_t length);
ResultCode SendHalftonePattern(const void *buffer, uint32_t length); /* below 65536 */
ResultCode SendGammaData(uint8_t channelCode, uint8_t widthFlag, const void *buffer, uint32_t length);
ResultCode ReadImageGeometry(uint8_t *buffer);      /* 16 bytes in */
ResultCode TransferLampStatus(int direction, uint8_t *buffer); /* 1 reads, else sends 9 bytes */
ResultCode SendLampControl(const uint8_t *buffer);  /* byte 0 of a lamp page */
ResultCode ReadDeviceParameters(uint8_t variant, uint8_t *buffer); /* 40 bytes in */

/* The document sensor poll: READ of the lamp page for 9 bytes, sent straight
 * to the adapter by vPaperReady without busy wait or sense. */
extern CommandRecord &SensorPollRecord;

#endif
