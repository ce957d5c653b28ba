/*
 * loader_posix.cpp - dlopen of the adapter and the driver.
 *
 * The driver's import of libbuslnk32.so.1 is satisfied by whichever library
 * of that soname is already loaded, and its calls bind to the first
 * definition in the global scope: loading the chosen adapter globally before
 * the driver is what makes it serve, whatever the driver's own run path
 * would have found.
 */
#include "loader.h"

#include "sg_list.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace {

bool FileExists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::string LastDlError()
{
    const char *text = dlerror();
    return text ? text : "unknown error";
}

/* True when the library itself defines the symbol: dlsym also finds the
 * symbols of the libraries it depends on (the driver's, for one, include an
 * adapter's). */
bool DefinesSymbol(void *handle, const char *name)
{
    void *symbol = dlsym(handle, name);
    struct link_map *map = nullptr;
    Dl_info info;
    if (symbol == nullptr || dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || dladdr(symbol, &info) == 0)
        return false;
    return info.dli_fname != nullptr && map->l_name != nullptr && std::strcmp(info.dli_fname, map->l_name) == 0;
}

template <typename Fn> void Resolve(void *handle, const char *name, Fn *&slot, std::vector<std::string> &missing)
{
    slot = reinterpret_cast<Fn *>(dlsym(handle, name));
    if (slot == nullptr)
        missing.emplace_back(name);
}

} // namespace

std::string ExecutableDirectory()
{
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return {};
    std::string path(buffer, static_cast<size_t>(n));
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string VirtualScannerPath(const std::string &exeDir)
{
    return exeDir + "/libbuslnk32.so.1";
}

std::string NullAdapterPath(const std::string &exeDir)
{
    return exeDir + "/adapters/null/libbuslnk32.so.1";
}

std::string ScsiGenericAdapterPath(const std::string &exeDir)
{
    return exeDir + "/adapters/sg/libbuslnk32.so.1";
}

bool IsLibraryPath(const std::string &name)
{
    return name.find('/') != std::string::npos;
}

bool LoadAdapter(const std::string &path, LoadedDriver &out, std::string &error)
{
    if (!FileExists(path)) {
        error = "no adapter library at " + path;
        return false;
    }
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (handle == nullptr) {
        error = "cannot load the adapter " + path + ": " + LastDlError();
        return false;
    }
    if (!DefinesSymbol(handle, "BusLinkExecute") || !DefinesSymbol(handle, "BusLinkAttach")) {
        error = path + " is not an adapter library (it lacks BusLinkExecute or BusLinkAttach)";
        dlclose(handle);
        return false;
    }
    out.Adapter = handle;
    out.AdapterPath = path;
    out.SimConfigure = reinterpret_cast<SimConfigureFn>(dlsym(handle, "SimConfigure"));
    out.AdapterLastError = reinterpret_cast<const char *(*)()>(dlsym(handle, "SgLastError"));
    return true;
}

std::string AdapterLastError(const LoadedDriver &loaded)
{
    const char *text = loaded.AdapterLastError != nullptr ? loaded.AdapterLastError() : nullptr;
    return text != nullptr ? text : "";
}

bool ResolveScsiGenericName(const LoadedDriver &loaded, DeviceAddress &address, std::string &error)
{
    auto lookup = reinterpret_cast<int (*)(const char *, SgDeviceInfo *)>(dlsym(loaded.Adapter, "SgLookupDevice"));
    if (lookup == nullptr) {
        error = loaded.AdapterPath + " cannot look up '" + address.Label + "' (it lacks SgLookupDevice)";
        return false;
    }
    SgDeviceInfo info;
    std::memset(&info, 0, sizeof info);
    if (lookup(address.Label.c_str(), &info) != 0) {
        std::string why = AdapterLastError(loaded);
        error = "no scanner '" + address.Label + "'" + (why.empty() ? "" : ": " + why);
        return false;
    }
    address.AttachParam1 = info.AttachParam1;
    address.AttachParam2 = info.AttachParam2;
    return true;
}

bool LoadDriver(const std::string &path, const std::string &exeDir, LoadedDriver &out, std::string &error)
{
    std::string chosen = path;
    if (chosen.empty()) {
        chosen = exeDir + "/libscandrv.so";
        if (!FileExists(chosen) && FileExists(chosen + ".1"))
            chosen += ".1";
    }
    if (!FileExists(chosen)) {
        error = "no driver library at " + chosen + " (use --driver PATH)";
        return false;
    }
    void *handle = dlopen(chosen.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        error = "cannot load the driver " + chosen + ": " + LastDlError();
        return false;
    }
    out.Driver = handle;
    out.DriverPath = chosen;
    out.Missing.clear();
    DriverApi &api = out.Api;
    Resolve(handle, "vInitializeScanner", api.InitializeScanner, out.Missing);
    Resolve(handle, "vScannerCapability", api.ScannerCapability, out.Missing);
    Resolve(handle, "vDefaultAttribute", api.DefaultAttribute, out.Missing);
    Resolve(handle, "vScannerStartScan", api.ScannerStartScan, out.Missing);
    Resolve(handle, "vScannerGetImage", api.ScannerGetImage, out.Missing);
    Resolve(handle, "vScannerAbortScan", api.ScannerAbortScan, out.Missing);
    Resolve(handle, "vPaperReady", api.PaperReady, out.Missing);
    Resolve(handle, "vScannerMutiLens", api.ScannerMutiLens, out.Missing);
    Resolve(handle, "vGetLampStatus", api.GetLampStatus, out.Missing);
    Resolve(handle, "vSetLampStatus", api.SetLampStatus, out.Missing);
    return true;
}


/* The SCSI scanners the kernel knows, from the SCSI generic adapter at path
 * (loaded locally: it only lists, the driver is not bound to it). */
int ListScsiScanners(const std::string &path, bool quietWhenAbsent)
{
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    auto list = handle ? reinterpret_cast<int (*)(SgListCallback, void *)>(dlsym(handle, "SgListDevices")) : nullptr;
    auto lastError = handle ? reinterpret_cast<const char *(*)()>(dlsym(handle, "SgLastError")) : nullptr;
    if (list == nullptr) {
        if (!quietWhenAbsent)
            std::fprintf(stderr, "scan: %s cannot list scanners\n", path.c_str());
        return 0;
    }
    int count = list(
        [](const SgDeviceInfo *d, void *) {
            std::string name = d->Channel != 0 ? "sg:" + std::to_string(d->Host) + "," + std::to_string(d->Channel) +
                                                     "," + std::to_string(d->Target)
                                               : "sg:" + std::to_string(d->Host) + "," + std::to_string(d->Target);
            std::printf("device `%s' is a %s %s SCSI scanner, revision %s, at %s (%u:%u:%u:%u)\n", name.c_str(),
                        d->Vendor, d->Model, d->Revision, d->Node, d->Host, d->Channel, d->Target, d->Lun);
            if (d->Note[0] != '\0')
                std::printf("    %s\n", d->Note);
        },
        nullptr);
    if (count < 0 && !quietWhenAbsent && lastError != nullptr)
        std::fprintf(stderr, "scan: cannot list SCSI scanners: %s\n", lastError());
    return count < 0 ? 0 : count;
}
