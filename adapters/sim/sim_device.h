/*
 * sim_device.h - the virtual scanner as a device: the state a real scanner
 * keeps between commands (the model it is, its window, the running image,
 * the correction and gamma tables and halftone pattern it was sent, its
 * lamps, timer, document sensor and pending event, the pages in its document
 * feeder, the sense of its last
 * check condition) and the dispatch of every command of the driver's
 * command set. sim_export wraps one SimDevice in the adapter entry points;
 * tests drive SimDevice objects of their own.
 */
#ifndef SIM_DEVICE_H
#define SIM_DEVICE_H

#include "buslnk32.h"
#include "sim_chart.h"
#include "sim_faults.h"
#include "sim_image.h"
#include "sim_models.h"
#include "sim_sensor.h"
#include "sim_trace.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t kSenseLength = 14;
constexpr uint32_t kLampPageLength = 9;
constexpr uint32_t kGeometryPageLength = 16;
/* The pending event (lamp page byte 7) raised when paper is loaded into the feeder. */
constexpr uint8_t kEventPaperLoaded = 1;

/* What the configuration sets; survives power cycles and attaches. */
struct SimSettings {
    const SimModel *ForcedModel = nullptr; /* null: the attach values choose */
    SimSensorKind Sensor = SimSensorKind::Streaks;
    uint32_t Seed = 1;
    bool Noise = true;
    char SegmentOrder[3] = {'R', 'G', 'B'};
    bool ManualClock = false;
    bool PaperPresent = true;
    uint32_t DocumentDpi = 300;
};

/* Lamps, timer and the other live contents of the LampStatusPage. */
struct SimLamps {
    uint8_t On = 0x01;          /* byte 0 bits 0-1 */
    uint8_t ControlBits = 0;    /* byte 0 bits 3 and 7 as last sent */
    bool Dark = false;          /* the lamp control byte's bit 2: light shut off the sensor */
    uint64_t OnSinceMs = 0;     /* when the lamps last came on */
    uint64_t LastUseMs = 0;     /* last scan or lamp command: the timer runs from here */
    uint8_t TimerMinutes = 15;  /* byte 4 bits 0-6 when the timer is reported */
    bool TimerFlag = false;     /* byte 4 bit 7 */
    bool ReportOnTime = false;  /* byte 1 bit 4 as last sent (models that honour it) */
    bool SettingValid = false;  /* byte 2 bit 7 */
    uint8_t Setting = 0;        /* byte 2 bits 0-5 */
    uint8_t PendingEvent = 0;   /* byte 7 */
};

/* The document feeder: its tray and its paper path. The tray keeps its
 * pages through power cycles; the page in the path is gone when its image
 * ends, is aborted, or the device is switched off. */
struct SimFeeder {
    uint32_t Stack = 0;         /* pages waiting in the tray */
    uint32_t NextPage = 1;      /* number of the page on top of the stack */
    uint32_t InPath = 0;        /* number of the page being scanned; 0: none */
    bool Jammed = false;        /* that page jammed: its READs fail until its image ends */
};

struct SimDevice {
    SimSettings Settings;
    const SimModel *Model = nullptr;
    bool Present = true;        /* false: nothing answers at the attached address */
    SimDocument Document;
    SimSensor Sensors[2];       /* per lens */

    SimShading Shading;
    bool OffsetsHeld = false, GainsHeld = false;
    std::vector<SimGammaTable> Gamma; /* red, green, blue; single-channel scans use green */
    uint8_t Pattern[256] = {};
    uint8_t PatternSide = 0;    /* 0: none sent, the scanner's own dither */

    bool HasWindow = false;
    SimWindow Window;
    SimScan Scan;
    uint32_t Passes = 0;        /* images started since power on: the noise key */

    SimLamps Lamps;
    SimFeeder Feeder;
    uint8_t Sense[kSenseLength] = {};

    std::chrono::steady_clock::time_point Epoch = std::chrono::steady_clock::now();
    uint64_t ClockOffsetMs = 0;

    SimFaults Faults;
    SimTrace Trace;
};

/* Switches the device on as the model (or the configured one): every table
 * back to its power-on contents. */
void PowerOn(SimDevice &device, const SimModel *model);
/* The adapter's attach: wAttachParam1 chooses the model (0-3) unless the
 * configuration fixed one; another model is a power-on, the same one keeps
 * its state. Returns the adapter status of the attach. */
uint32_t SimAttach(SimDevice &device, const AttachRecord &attach);
/* The adapter's execute: one command with its data phases, returning the
 * adapter status word. */
uint32_t SimExecute(SimDevice &device, const CommandRecord &command, TransferRecord *dataIn,
                    TransferRecord *dataOut);

/* Applies one configuration key; 0 on success, -1 for an unknown key, -2
 * for a value the key does not take (error says why). */
int SimConfigureDevice(SimDevice &device, const char *key, const char *value, std::string &error);
/* Applies every SCANDRV_SIM_<KEY> variable that lookup finds; returns the
 * number of values refused (each is reported through report). */
int SimConfigureFromEnvironment(SimDevice &device, const char *(*lookup)(const char *name),
                                void (*report)(const char *message));

/* Milliseconds of the device's clock. */
uint64_t DeviceClockMs(const SimDevice &device);
/* Whether the model has a document feeder (through its first lens). */
bool HasFeeder(const SimModel &model);
/* Builds the LampStatusPage as a READ returns it now. */
void BuildLampPage(SimDevice &device, uint8_t page[kLampPageLength]);

#endif
