/*
 * driver_fixture.cpp - set-up and tear-down shared by the driver's tests.
 */
#include "driver_fixture.h"

#include "api/device_control.h"
#include "entry/settings.h"
#include "platform/platform.h"
#include "scan/calibration.h"
#include "scan/scan_state.h"
#include "scsi/executor.h"

std::vector<uint32_t> DriverTest::Sleeps;
uint32_t DriverTest::Now = 0;

void DriverTest::ResetDriverState()
{
    Settings = {};
    ScanState = {};
    CalibrationMarker = -2;
    ModelCode = 0;
    LensCount = 1;
    SelectedLens = 0;
    LampTimerMinutes = 15;
    LampTimerFlag = 0;
    LampStatus = {};
    SensorCount = 0;
    LampClockTick = 0;
    LampClockMinutes = kLampClockUnset;
}

void DriverTest::SetUp()
{
    fake::Reset();
    ResetLastSense();
    ResetDriverState();
    Sleeps.clear();
    Now = 0;
    SetSleepHook([](uint32_t milliseconds) { Sleeps.push_back(milliseconds); });
    SetClockHook([]() { return Now; });
    StopFailingAllocations();
    liveAtStart = LiveAllocations();
}

void DriverTest::TearDown()
{
    StopFailingAllocations();
    ResetDriverState();
    SetSleepHook(nullptr);
    SetClockHook(nullptr);
    EXPECT_EQ(LiveAllocations(), liveAtStart) << "driver memory left allocated";
}

void ScanTest::SetUp()
{
    DriverTest::SetUp();
    scanner.Lamp[0] = 0x21; /* calibration still valid: no passes unless asked */
    scanner.Install();
    Request();
}

void ScanTest::Request()
{
    block = {};
    block.wImageType = 1;
    block.wScanSource = 1;
    block.wBitsPerPixel = 8;
    block.wHalftoneMode = 1;
    block.wResolution = 250;
    block.wRight = 999;
    block.wBottom = 199;
    block.wFlags = SD_FLAG_DEFAULT;
}

void ScanTest::TearDown()
{
    ParamBlock abort = {};
    vScannerAbortScan(&abort);
    DriverTest::TearDown();
}

uint32_t ScanTest::Start()
{
    block.dwResult = 0;
    vScannerStartScan(&block);
    return block.dwResult;
}

uint32_t ScanTest::LineBytes() const
{
    if (block.wBitsPerPixel == 1)
        return block.wWidth;
    return uint32_t{block.wWidth} * (block.wImageType == SD_IMAGE_COLOR ? 3 : 1) * (block.wBitsPerPixel > 8 ? 2 : 1);
}

ImageDataBlock ScanTest::Read(uint32_t lines, std::vector<uint8_t> *kept)
{
    std::vector<uint8_t> buffer(size_t{lines} * LineBytes(), 0xA5);
    ImageDataBlock read = {};
    read.lpImageBuffer = buffer.empty() ? reinterpret_cast<uint8_t *>(&read) : buffer.data();
    read.dwRequestLines = lines;
    vScannerGetImage(&read);
    if (kept)
        *kept = buffer;
    return read;
}
