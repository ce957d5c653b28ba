/*
 * loader.h - loading the adapter and the driver the way an application does:
 * the adapter library first, by path and globally, so that it serves the
 * driver's imports; then the driver, whose ten functions are looked up by
 * name. Device names (sim, sim:2, null, /path/libbuslnk32.so.1:0,3) are
 * turned into an adapter path and the two attach values here too.
 */
#ifndef SCAN_LOADER_H
#define SCAN_LOADER_H

#include "buslnk32.h"
#include "scandrv.h"

#include <cstdint>
#include <string>
#include <vector>

/* The ten exports, looked up by name; a function the driver lacks is null. */
struct DriverApi {
    decltype(vInitializeScanner) *InitializeScanner = nullptr;
    decltype(vScannerCapability) *ScannerCapability = nullptr;
    decltype(vDefaultAttribute) *DefaultAttribute = nullptr;
    decltype(vScannerStartScan) *ScannerStartScan = nullptr;
    decltype(vScannerGetImage) *ScannerGetImage = nullptr;
    decltype(vScannerAbortScan) *ScannerAbortScan = nullptr;
    decltype(vPaperReady) *PaperReady = nullptr;
    decltype(vScannerMutiLens) *ScannerMutiLens = nullptr;
    decltype(vGetLampStatus) *GetLampStatus = nullptr;
    decltype(vSetLampStatus) *SetLampStatus = nullptr;
};

/* The virtual scanner's configuration entry: 0 when the key was applied.
 * It has the adapter's calling convention (__stdcall on 32-bit Windows). */
typedef int(BUSLNK_CALL *SimConfigureFn)(const char *key, const char *value);

/* Which adapter to load and what to attach through it. */
struct DeviceAddress {
    std::string Label;       /* as the user wrote it, for messages */
    std::string AdapterPath; /* the adapter library */
    uint16_t AttachParam1 = 0;
    uint16_t AttachParam2 = 0;
    bool IsVirtual = false;  /* the virtual scanner by name */
    bool IsScsiGeneric = false; /* a real scanner: sg:H,T, sg:H,C,T or a /dev/sg node;
                                   the adapter turns the name into attach values */
};

struct LoadedDriver {
    void *Adapter = nullptr;
    void *Driver = nullptr;
    std::string AdapterPath;
    std::string DriverPath;
    DriverApi Api;
    std::vector<std::string> Missing; /* exports the driver lacks */
    SimConfigureFn SimConfigure = nullptr; /* null unless the adapter has it */
    const char *(*AdapterLastError)() = nullptr; /* the SCSI generic adapter's SgLastError */
};

/* The adapter's own words for its last failure, or empty. */
std::string AdapterLastError(const LoadedDriver &loaded);

/* For a real scanner named by IsScsiGeneric: asks the loaded adapter for the
 * attach values of address.Label. */
bool ResolveScsiGenericName(const LoadedDriver &loaded, DeviceAddress &address, std::string &error);

/* The directory of the running executable, without a trailing separator;
 * empty when it cannot be read. */
std::string ExecutableDirectory();

/* Whether a device name names an adapter library by its path. */
bool IsLibraryPath(const std::string &name);

/* Where the named adapters live, relative to the executable's directory. */
std::string VirtualScannerPath(const std::string &exeDir);
std::string NullAdapterPath(const std::string &exeDir);
std::string ScsiGenericAdapterPath(const std::string &exeDir);

/* Parses NAME[:P1[,P2]]: NAME is "sim", "null" or a path to an adapter
 * library; "sg:H,T", "sg:H,C,T" and device nodes (/dev/sg3) name a real
 * scanner behind the SCSI generic adapter. Returns false with a message for
 * a malformed name. */
bool ParseDeviceName(const std::string &name, const std::string &exeDir, DeviceAddress &out,
                     std::string &error);

/* Loads the adapter so that it serves the driver's import (dlopen with
 * RTLD_GLOBAL; on Windows, any module named BUSLNK32.DLL already loaded) and
 * checks that it is one. */
bool LoadAdapter(const std::string &path, LoadedDriver &out, std::string &error);

/* Loads the driver once the adapter is in place and looks up the exports.
 * An empty path means the driver beside the executable (libscandrv.so,
 * SCANDRV.DLL). */
bool LoadDriver(const std::string &path, const std::string &exeDir, LoadedDriver &out, std::string &error);

/* Prints the SCSI scanners the SCSI generic adapter at path lists, as -L
 * shows them; returns how many. Where there is no such adapter, says so on
 * standard error unless quietWhenAbsent, and returns 0. */
int ListScsiScanners(const std::string &path, bool quietWhenAbsent);

/* True when every export in names (vScannerStartScan ...) was found; else
 * false with a message naming the missing ones. */
bool RequireExports(const LoadedDriver &loaded, const std::vector<const char *> &names, std::string &error);

#endif
