/*
 * device.h - talking to the scanner outside a scan: initialization, the
 * defaults and capabilities of a document source, lens selection, the lamps
 * and the document sensor, and the reports built from them (-L, -A,
 * --lamp-status, --sensor). Each call returns the driver's result code
 * (1 success, negative an error; messages.h turns it into words).
 */
#ifndef SCAN_DEVICE_H
#define SCAN_DEVICE_H

#include "loader.h"
#include "options.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

/* What the driver says a document source offers. */
struct SourceInfo {
    ScanAttributeBlock Defaults{};  /* vDefaultAttribute: wWidth/wLength in 1/1000 inch */
    CapabilityBlock Caps{};
    std::array<int32_t, 256> ContrastList{};
    std::array<int32_t, 256> BrightnessList{};
    std::array<uint32_t, 256> AdjustList{};
    std::array<uint16_t, 150> Resolutions{};
    std::array<uint16_t, 12> Patterns{};

    bool HasColor() const { return Defaults.wImageType == SD_IMAGE_COLOR; }
    unsigned BaseResolution() const { return Defaults.wResolution; }
    unsigned HighestResolution() const;
    unsigned LowestResolution() const { return Resolutions[0]; }
};

/* The wScanSource bit of a source, and the CapabilityBlock.wSources value
 * that asks for that source's page. */
uint16_t SourceBits(ScanSource source);
uint16_t CapabilityPageBits(ScanSource source);

int InitializeDevice(const DriverApi &api, const DeviceAddress &address, InitBlock &init);
/* Defaults and capabilities of one source. */
int ReadSourceInfo(const DriverApi &api, ScanSource source, SourceInfo &info);
int SelectLens(const DriverApi &api, uint16_t lens);
int ReadLamps(const DriverApi &api, LampBlock &lamp);
int WriteLamps(const DriverApi &api, LampBlock &lamp);

/* "colour flatbed scanner, firmware 1.23" and the like. */
std::string DescribeDevice(const InitBlock &init, const SourceInfo &flatbed);

/* The lamp state as --lamp-status shows it. */
void PrintLampStatus(FILE *out, const LampBlock &lamp);

/* The options this device offers, with their ranges and defaults (-A). */
void PrintAllOptions(FILE *out, const std::string &label, const InitBlock &init, const SourceInfo &info,
                     ScanSource source);

/* The lamp block --lamp and --lamp-timer send, from the current state. */
LampBlock LampChange(const LampBlock &current, bool currentValid, const ScanOptions &options);

/* vPaperReady's answer in words; returns false when the sensor could not be
 * read. */
bool DescribeSensor(int32_t answer, std::string &text);

#endif
