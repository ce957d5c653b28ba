/*
 * device.cpp - the device-control calls and their reports. Nothing here
 * starts a scan. The capability call is made without the extended-fields
 * bit: on scanners that hold a device setting that bit also makes the
 * driver send the lamp page, which a look at the options must not do; the
 * base resolution is the default resolution instead.
 */
#include "device.h"

#include <cstring>

unsigned SourceInfo::HighestResolution() const
{
    unsigned highest = 0;
    for (uint16_t r : Resolutions)
        if (r > highest)
            highest = r;
    return highest;
}

uint16_t SourceBits(ScanSource source)
{
    switch (source) {
    case ScanSource::Adf: return SD_SOURCE_ALT1;
    case ScanSource::Transparency: return SD_SOURCE_ALT2;
    case ScanSource::Flatbed: break;
    }
    return SD_SOURCE_FLATBED;
}

uint16_t CapabilityPageBits(ScanSource source)
{
    switch (source) {
    case ScanSource::Adf: return SD_CAPS_PAGE_ALT1;
    case ScanSource::Transparency: return SD_CAPS_PAGE_ALT2;
    case ScanSource::Flatbed: break;
    }
    return 0;
}

int InitializeDevice(const DriverApi &api, const DeviceAddress &address, InitBlock &init)
{
    std::memset(&init, 0, sizeof init);
    init.wAttachParam1 = address.AttachParam1;
    init.wAttachParam2 = address.AttachParam2;
    api.InitializeScanner(&init);
    return static_cast<int16_t>(init.dwResult & 0xFFFF);
}

int ReadSourceInfo(const DriverApi &api, ScanSource source, SourceInfo &info)
{
    std::memset(&info.Defaults, 0, sizeof info.Defaults);
    info.Defaults.wScanSource = SourceBits(source);
    api.DefaultAttribute(&info.Defaults);
    int rc = static_cast<int16_t>(info.Defaults.dwResult & 0xFFFF);
    if (rc != SD_OK)
        return rc;

    CapabilityBlock &caps = info.Caps;
    std::memset(&caps, 0, sizeof caps);
    caps.lpContrastList = info.ContrastList.data();
    caps.lpBrightnessList = info.BrightnessList.data();
    caps.lpAdjustList = info.AdjustList.data();
    caps.lpResolutionList = info.Resolutions.data();
    caps.lpPatternList = info.Patterns.data();
    caps.wSources = CapabilityPageBits(source);
    api.ScannerCapability(&caps);
    return static_cast<int16_t>(caps.dwResult & 0xFFFF);
}

int SelectLens(const DriverApi &api, uint16_t lens)
{
    LensBlock block;
    std::memset(&block, 0, sizeof block);
    block.wLens = lens;
    api.ScannerMutiLens(&block);
    return static_cast<int16_t>(block.dwResult & 0xFFFF);
}

int ReadLamps(const DriverApi &api, LampBlock &lamp)
{
    std::memset(&lamp, 0, sizeof lamp);
    api.GetLampStatus(&lamp);
    return static_cast<int16_t>(lamp.dwResult & 0xFFFF);
}

int WriteLamps(const DriverApi &api, LampBlock &lamp)
{
    api.SetLampStatus(&lamp);
    return static_cast<int16_t>(lamp.dwResult & 0xFFFF);
}

std::string DescribeDevice(const InitBlock &init, const SourceInfo &flatbed)
{
    std::string text = flatbed.HasColor() ? "colour" : "grey-only";
    text += " flatbed scanner";
    if (init.wDeviceKind & 0x40)
        text += " with document feeder";
    if (init.wDeviceKind & 0x20)
        text += (init.wDeviceKind & 0x40) ? " and transparency unit" : " with transparency unit";
    char version[32];
    std::snprintf(version, sizeof version, ", firmware %u.%02u", init.wFirmwareVersion >> 8u,
                  init.wFirmwareVersion & 0xFFu);
    text += version;
    text += ", " + std::to_string(flatbed.BaseResolution()) + " dpi";
    char area[64];
    std::snprintf(area, sizeof area, ", glass %.1f x %.1f mm", MilsToMillimetres(flatbed.Defaults.wWidth),
                  MilsToMillimetres(flatbed.Defaults.wLength));
    text += area;
    return text;
}

void PrintLampStatus(FILE *out, const LampBlock &lamp)
{
    std::fprintf(out, "lamp 1: %s\n", (lamp.wLampState & SD_LAMP_1) ? "on" : "off");
    std::fprintf(out, "lamp 2: %s\n", (lamp.wLampState & SD_LAMP_2) ? "on" : "off");
    if (lamp.wLampState & SD_LAMP_ON_TIME_VALID)
        std::fprintf(out, "lamp on for: %u min %u s\n", lamp.dwLampOnTime / 64, lamp.dwLampOnTime % 64);
    else
        std::fprintf(out, "lamp timer: %u s (%u min)\n", lamp.dwLampTimer, lamp.dwLampTimer / 60);
    std::fprintf(out, "timer flag: %s\n", (lamp.wLampState & SD_LAMP_TIMER_FLAG) ? "set" : "clear");
}

void PrintAllOptions(FILE *out, const std::string &label, const InitBlock &init, const SourceInfo &info,
                     ScanSource source)
{
    const CapabilityBlock &caps = info.Caps;
    const ScanAttributeBlock &d = info.Defaults;
    std::fprintf(out, "Options specific to device `%s' (%s):\n", label.c_str(), DescribeDevice(init, info).c_str());
    std::fprintf(out, "    --mode %s [%s]\n", info.HasColor() ? "Color|Gray|Lineart|Halftone" : "Gray|Lineart|Halftone",
                 info.HasColor() ? "Color" : "Gray");
    std::fprintf(out, "    --depth 1|8|16 [8]\n");
    std::fprintf(out, "    --resolution %u..%udpi [%u]\n", info.LowestResolution(), info.HighestResolution(),
                 info.BaseResolution());
    std::fprintf(out, "        optical %u dpi; above it lines are interpolated; bilevel by the scanner up to %u dpi\n",
                 info.BaseResolution(), caps.wMaxResolutionX);
    std::string sources = "Flatbed";
    if (caps.wSources & SD_SOURCE_ALT1)
        sources += "|ADF";
    if (caps.wSources & SD_SOURCE_ALT2)
        sources += "|Transparency";
    std::fprintf(out, "    --source %s [Flatbed]\n", sources.c_str());
    double width = MilsToMillimetres(d.wWidth);
    double length = MilsToMillimetres(d.wLength);
    std::fprintf(out, "  Scan area of the %s:\n", SourceName(source));
    std::fprintf(out, "    -l 0..%.1fmm [0]\n", width);
    std::fprintf(out, "    -t 0..%.1fmm [0]\n", length);
    std::fprintf(out, "    -x 0..%.1fmm [%.1f]\n", width, width);
    std::fprintf(out, "    -y 0..%.1fmm [%.1f]\n", length, length);
    std::fprintf(out, "    --brightness %d..%d [0]\n", info.BrightnessList.front(), info.BrightnessList.back());
    std::fprintf(out, "    --contrast %d..%d [0]\n", info.ContrastList.front(), info.ContrastList.back());
    std::fprintf(out, "    --shadow, --midtone, --highlight 0..255 [0, the mean of the other two, 255]\n");
    std::fprintf(out, "    --halftone-pattern 0..%zu [%u]\n", info.Patterns.size() - 1, d.wHalftonePattern);
    std::string sizes;
    for (uint16_t pattern : info.Patterns) {
        char size[32];
        std::snprintf(size, sizeof size, " %u:%ux%u", pattern & 0xFFu, (pattern >> 12) & 0xFu, (pattern >> 8) & 0xFu);
        sizes += size;
    }
    std::fprintf(out, "        cells per pattern:%s\n", sizes.c_str());
    std::fprintf(out, "    --gamma-file FILE\n");
    if (caps.wLensCount > 1)
        std::fprintf(out, "    --lens 0..%u [0]\n", caps.wLensCount - 1u);
    else
        std::fprintf(out, "    --lens 0 [0] (one lens)\n");
}

LampBlock LampChange(const LampBlock &current, bool currentValid, const ScanOptions &options)
{
    LampBlock change;
    std::memset(&change, 0, sizeof change);
    uint16_t lamps = currentValid ? (current.wLampState & (SD_LAMP_1 | SD_LAMP_2)) : 0;
    if (options.LampOn)
        lamps = !*options.LampOn ? 0 : options.Source == ScanSource::Transparency ? SD_LAMP_2 : SD_LAMP_1;
    change.wLampState = lamps;
    if (currentValid)
        change.wLampState |= current.wLampState & SD_LAMP_TIMER_FLAG;
    /* The timer is kept unless a new one is asked for; when the scanner
     * reports lamp-on time instead, the timer cannot be read back and the
     * driver's own default (15 minutes) is sent. */
    if (options.LampTimerSeconds)
        change.dwLampTimer = *options.LampTimerSeconds;
    else if (currentValid && !(current.wLampState & SD_LAMP_ON_TIME_VALID))
        change.dwLampTimer = current.dwLampTimer;
    else
        change.dwLampTimer = 15 * 60;
    return change;
}

bool DescribeSensor(int32_t answer, std::string &text)
{
    if (answer == 200) {
        text = "a scan is running";
        return true;
    }
    if (answer == 0) {
        text = "document: none (or the scanner is busy)";
        return true;
    }
    if (answer < 0) {
        text = "the document sensor could not be read: the scanner does not answer";
        return false;
    }
    unsigned count = static_cast<unsigned>(answer) & 0x7F;
    unsigned event = (static_cast<unsigned>(answer) >> 9) & 0xFF;
    text = count != 0 ? "document: present (seen " + std::to_string(count) + " times)" : "document: none";
    if (event != 0)
        text += "\nevent: " + std::to_string(event);
    return true;
}
