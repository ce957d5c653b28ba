/*
 * loader.cpp - dlopen of the adapter and the driver, and device names.
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

/* A decimal attach value, 0 to 65535. */
bool ParseAttachValue(const std::string &text, uint16_t &out)
{
    if (text.empty() || text.size() > 5)
        return false;
    unsigned long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    if (value > 0xFFFF)
        return false;
    out = static_cast<uint16_t>(value);
    return true;
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

bool ParseDeviceName(const std::string &name, const std::string &exeDir, DeviceAddress &out, std::string &error)
{
    out = DeviceAddress{};
    out.Label = name;
    struct stat st;
    if (name == "sg" || name.rfind("sg:", 0) == 0 || (stat(name.c_str(), &st) == 0 && S_ISCHR(st.st_mode))) {
        out.AdapterPath = ScsiGenericAdapterPath(exeDir);
        out.IsScsiGeneric = true;
        return true;
    }
    std::string base = name;
    std::string params;
    /* The attach values follow the last colon, but a path may hold colons
     * of its own: only digits and one comma after it count as values. */
    size_t colon = name.rfind(':');
    if (colon != std::string::npos &&
        name.find_first_not_of("0123456789,", colon + 1) == std::string::npos) {
        base = name.substr(0, colon);
        params = name.substr(colon + 1);
    }
    if (base.empty()) {
        error = "device name '" + name + "' names no adapter";
        return false;
    }
    if (colon != std::string::npos && base.size() < name.size()) {
        size_t comma = params.find(',');
        std::string first = params.substr(0, comma);
        std::string second = comma == std::string::npos ? "0" : params.substr(comma + 1);
        if (!ParseAttachValue(first, out.AttachParam1) || !ParseAttachValue(second, out.AttachParam2)) {
            error = "device '" + name + "': attach values must be whole numbers from 0 to 65535 (NAME:P1,P2)";
            return false;
        }
    }
    if (base == "sim") {
        out.AdapterPath = VirtualScannerPath(exeDir);
        out.IsVirtual = true;
    } else if (base == "null") {
        out.AdapterPath = NullAdapterPath(exeDir);
    } else if (base.find('/') != std::string::npos) {
        out.AdapterPath = base;
    } else {
        error = "unknown device '" + name +
                "': use sim, sim:MODEL, null, sg:HOST,TARGET, a /dev/sg node, or a path to an adapter library";
        return false;
    }
    return true;
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

bool RequireExports(const LoadedDriver &loaded, const std::vector<const char *> &names, std::string &error)
{
    std::string absent;
    for (const char *name : names)
        for (const std::string &missing : loaded.Missing)
            if (missing == name)
                absent += (absent.empty() ? "" : ", ") + missing;
    if (absent.empty())
        return true;
    error = "the driver " + loaded.DriverPath + " does not export " + absent +
            " (it is older than this command)";
    return false;
}
