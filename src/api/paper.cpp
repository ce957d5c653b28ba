/*
 * paper.cpp - vPaperReady: polls the document sensor and the scanner's
 * pending event between scans. Unlike every other export it goes to the
 * adapter directly, without the executor's busy wait or sense request, so
 * that a poll never blocks the application; and it takes no block.
 */
#include "api/device_control.h"

#include "scan/scan_state.h"

uint32_t SensorCount = 0;

/* What vPaperReady answers besides the sensor word. */
constexpr int32_t kScanRunning = 200;
constexpr int32_t kScannerBusy = 0;
constexpr int32_t kPollFailed = -1;

/* The counter runs 1 to 99 and starts again at 1. */
constexpr uint32_t kSensorCountLimit = 100;
/* The event value sits above the counter, from bit 9. */
constexpr int kEventShift = 9;

int32_t SCANDRV_CALL vPaperReady(void)
{
    if (ScanState.ScanActive)
        return kScanRunning;

    LampStatusPage status = {};
    TransferRecord dataIn = {kLampStatusPageLength, status.Bytes};
    TransferRecord dataOut = {0, nullptr};
    /* The adapter's status is in the low 16 bits, as for every command. */
    uint16_t adapterStatus = static_cast<uint16_t>(BusLinkExecute(&SensorPollRecord, &dataIn, &dataOut));
    if (adapterStatus == BUSLNK_BUSY)
        return kScannerBusy;
    if (adapterStatus != BUSLNK_GOOD)
        return kPollFailed;

    /* The counter changes with every poll that sees a document, so the
     * application can tell a new reading from an old one; it is not reset
     * while the sensor is empty. */
    int32_t word = 0;
    if (status.Bytes[kLampSensorByte] & kDocumentPresent) {
        ++SensorCount;
        if (SensorCount >= kSensorCountLimit)
            SensorCount = 1;
        word = static_cast<int32_t>(SensorCount);
    }

    /* A pending event is reported once: the page goes back with it cleared.
     * If the scanner does not take the SEND, the next poll reports it
     * again, which is the better failure. */
    uint8_t event = PendingEvent(status);
    if (event != 0) {
        word |= static_cast<int32_t>(event) << kEventShift;
        status.Bytes[kLampEventByte] = 0;
        TransferLampStatus(kDataOut, status.Bytes);
    }
    return word;
}
