/*
 * main.cpp - the scan command: parse the options, load the adapter and the
 * driver, initialize the device, and do what was asked: list devices, show
 * the options, work the lamps or the sensor, or scan.
 */
#include "device.h"
#include "loader.h"
#include "messages.h"
#include "options.h"
#include "scan_job.h"

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#ifndef SCAN_VERSION
#define SCAN_VERSION "0"
#endif

namespace {

int Fail(const std::string &message, int status = kExitFailure)
{
    std::fprintf(stderr, "scan: %s\n", message.c_str());
    return status;
}

/* Hands --trace and --sim-option to the virtual scanner. */
bool ConfigureVirtualScanner(const LoadedDriver &loaded, const ScanOptions &options, std::string &error)
{
    std::vector<std::pair<std::string, std::string>> settings = options.SimSettings;
    if (!options.TraceFile.empty())
        settings.emplace_back("trace", options.TraceFile);
    if (settings.empty())
        return true;
    if (loaded.SimConfigure == nullptr) {
        error = "--trace and --sim-option need the virtual scanner; the adapter " + loaded.AdapterPath +
                " cannot be configured";
        return false;
    }
    for (const auto &[key, value] : settings) {
        int rc = loaded.SimConfigure(key.c_str(), value.c_str());
        if (rc != 0) {
            error = "the virtual scanner does not take " + key + "=" + value +
                    (rc == -1 ? " (unknown key)" : " (a value that key does not take)");
            return false;
        }
    }
    return true;
}

/* The virtual scanner's models (or the devices behind another adapter):
 * each attach value is tried in turn until one does not answer. Returns the
 * number found. */
int ProbeModels(const LoadedDriver &loaded, const DeviceAddress &address)
{
    const DriverApi &api = loaded.Api;
    int found = 0;
    unsigned first = address.IsVirtual ? 0 : address.AttachParam1;
    unsigned last = address.IsVirtual ? 63 : address.AttachParam1;
    for (unsigned model = first; model <= last; ++model) {
        DeviceAddress probe = address;
        probe.AttachParam1 = static_cast<uint16_t>(model);
        InitBlock init;
        if (InitializeDevice(api, probe, init) != SD_OK)
            break;
        SourceInfo flatbed;
        if (ReadSourceInfo(api, ScanSource::Flatbed, flatbed) != SD_OK)
            break;
        std::string label = address.IsVirtual ? "sim:" + std::to_string(model) : address.Label;
        std::printf("device `%s' is a %s%s\n", label.c_str(), address.IsVirtual ? "virtual " : "",
                    DescribeDevice(init, flatbed).c_str());
        ++found;
    }
    return found;
}

/* -L. Without -d: the virtual scanner's models and the SCSI scanners, each
 * where its adapter is built. With -d: the devices behind that adapter. */
int ListDevices(const ScanOptions &options, const DeviceAddress &address, const std::string &exeDir)
{
    int found = 0;
    std::string error;
    struct stat st;
    bool everything = !options.DeviceGiven;
    if (address.IsScsiGeneric || (everything && stat(ScsiGenericAdapterPath(exeDir).c_str(), &st) == 0))
        found += ListScsiScanners(ScsiGenericAdapterPath(exeDir), everything);
    if (!address.IsScsiGeneric && (!everything || stat(address.AdapterPath.c_str(), &st) == 0)) {
        LoadedDriver loaded;
        if (!LoadAdapter(address.AdapterPath, loaded, error) || !LoadDriver(options.DriverPath, exeDir, loaded, error) ||
            !RequireExports(loaded, {"vInitializeScanner", "vDefaultAttribute", "vScannerCapability"}, error))
            return Fail(error);
        found += ProbeModels(loaded, address);
    }
    if (found == 0)
        std::printf("No scanners were identified.\n");
    return kExitOk;
}

int DeviceActions(const LoadedDriver &loaded, const ScanOptions &options)
{
    const DriverApi &api = loaded.Api;
    std::string error;
    if (options.LampStatus || options.LampOn || options.LampTimerSeconds) {
        if (!RequireExports(loaded, {"vGetLampStatus", "vSetLampStatus"}, error))
            return Fail(error);
        LampBlock lamp;
        int rc = ReadLamps(api, lamp);
        if (rc != SD_OK)
            return Fail(DescribeFailure("cannot read the lamp status", rc));
        if (options.LampOn || options.LampTimerSeconds) {
            LampBlock change = LampChange(lamp, true, options);
            rc = WriteLamps(api, change);
            if (rc != SD_OK)
                return Fail(DescribeFailure("cannot set the lamps", rc));
            if (options.LampStatus && (rc = ReadLamps(api, lamp)) != SD_OK)
                return Fail(DescribeFailure("cannot read the lamp status", rc));
        }
        if (options.LampStatus)
            PrintLampStatus(stdout, lamp);
    }
    if (options.Sensor) {
        if (!RequireExports(loaded, {"vPaperReady"}, error))
            return Fail(error);
        std::string text;
        bool ok = DescribeSensor(api.PaperReady(), text);
        if (!ok)
            return Fail(text);
        std::printf("%s\n", text.c_str());
    }
    return kExitOk;
}

int ShowAllOptions(const LoadedDriver &loaded, const ScanOptions &options, const InitBlock &init)
{
    std::string error;
    if (!RequireExports(loaded, {"vDefaultAttribute", "vScannerCapability"}, error))
        return Fail(error);
    SourceInfo info;
    int rc = ReadSourceInfo(loaded.Api, options.Source, info);
    if (rc != SD_OK)
        return Fail(DescribeFailure("cannot read what the scanner offers", rc));
    PrintAllOptions(stdout, options.Device, init, info, options.Source);
    return kExitOk;
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> args(argv, argv + argc);
    ParsedCommandLine parsed = ParseCommandLine(args);
    if (!parsed.Ok) {
        std::fprintf(stderr, "scan: %s\nTry 'scan --help' for more information.\n", parsed.Error.c_str());
        return kExitUsage;
    }
    const ScanOptions &options = parsed.Options;
    if (options.Help) {
        std::fputs(UsageText("scan").c_str(), stdout);
        return kExitOk;
    }
    if (options.Version) {
        std::printf("scan (scandrv) %s\n", SCAN_VERSION);
        return kExitOk;
    }

    std::string exeDir = ExecutableDirectory();
    std::string error;
    DeviceAddress address;
    if (!ParseDeviceName(options.Device, exeDir, address, error))
        return Fail(error, kExitUsage);

    if (options.ListDevices)
        return ListDevices(options, address, exeDir);

    LoadedDriver loaded;
    if (!LoadAdapter(address.AdapterPath, loaded, error)) {
        if (address.IsVirtual)
            error += " (the virtual scanner is not built; choose another adapter with -d)";
        return Fail(error);
    }
    if (address.IsScsiGeneric && !ResolveScsiGenericName(loaded, address, error))
        return Fail(error);
    if (!ConfigureVirtualScanner(loaded, options, error))
        return Fail(error);
    if (!LoadDriver(options.DriverPath, exeDir, loaded, error))
        return Fail(error);
    if (options.Verbose)
        std::fprintf(stderr, "scan: adapter %s, driver %s, attach values %u,%u\n", loaded.AdapterPath.c_str(),
                     loaded.DriverPath.c_str(), address.AttachParam1, address.AttachParam2);
    if (!RequireExports(loaded, {"vInitializeScanner"}, error))
        return Fail(error);

    InitBlock init;
    int rc = InitializeDevice(loaded.Api, address, init);
    if (rc != SD_OK) {
        std::string why = AdapterLastError(loaded);
        return Fail(DescribeFailure("cannot open the device '" + options.Device + "'", rc) +
                    (why.empty() ? "" : "\nscan: the adapter says: " + why));
    }

    if (options.Lens) {
        if (!RequireExports(loaded, {"vScannerMutiLens"}, error))
            return Fail(error);
        rc = SelectLens(loaded.Api, *options.Lens);
        if (rc != SD_OK)
            return Fail(rc == SD_ERR_LENS_OR_IDENTIFY
                            ? "the scanner has no lens " + std::to_string(*options.Lens)
                            : DescribeFailure("cannot select lens " + std::to_string(*options.Lens), rc));
    }
    if (options.HasDeviceAction())
        return DeviceActions(loaded, options);
    if (options.AllOptions)
        return ShowAllOptions(loaded, options, init);
    return RunScans(loaded, options);
}
