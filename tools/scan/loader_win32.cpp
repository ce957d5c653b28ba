/*
 * loader_win32.cpp - LoadLibrary of the adapter and the driver on Windows.
 *
 * SCANDRV.DLL imports BUSLNK32.DLL by module name. The loader binds such an
 * import to a module of that name that the process has already loaded, so
 * an adapter loaded first, from any directory, serves the driver; without
 * one, the driver's own load finds BUSLNK32.DLL beside it. The driver is
 * loaded with LOAD_WITH_ALTERED_SEARCH_PATH so that "beside it" means the
 * driver's directory, not only the program's.
 */
#include "loader.h"
#include "sim_config.h"

#include <windows.h>

#include <cstdio>
#include <type_traits>

/* The virtual scanner's entry is called through SimConfigureFn: on 32-bit
 * Windows a pointer without its __stdcall would unbalance the stack. */
static_assert(std::is_same_v<SimConfigureFn, decltype(&SimConfigure)>, "SimConfigureFn has the wrong type");

namespace {

bool FileExists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string LastError()
{
    DWORD code = GetLastError();
    char text[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                  sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == '.'))
        --length;
    std::string message(text, length);
    return (message.empty() ? "" : message + " ") + "(error " + std::to_string(code) + ")";
}

/* GetProcAddress gives every export one type; the driver's are __stdcall
 * functions taking one block pointer, and void (*)(void) is the neutral type
 * a function pointer passes through on the way to its real one. */
template <typename Fn> Fn *ExportOf(HMODULE module, const char *name)
{
    FARPROC proc = GetProcAddress(module, name);
    return reinterpret_cast<Fn *>(reinterpret_cast<void (*)(void)>(proc));
}

template <typename Fn> void Resolve(HMODULE module, const char *name, Fn *&slot, std::vector<std::string> &missing)
{
    slot = ExportOf<Fn>(module, name);
    if (slot == nullptr)
        missing.emplace_back(name);
}

} // namespace

std::string ExecutableDirectory()
{
    char buffer[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return {};
    std::string path(buffer, n);
    size_t separator = path.find_last_of("\\/");
    if (separator == std::string::npos)
        return {};
    return path.substr(0, separator);
}

std::string VirtualScannerPath(const std::string &exeDir)
{
    return exeDir + "\\BUSLNK32.DLL";
}

std::string NullAdapterPath(const std::string &exeDir)
{
    return exeDir + "\\adapters\\null\\BUSLNK32.DLL";
}

/* There is no SCSI generic adapter on Windows; a real scanner is reached
 * through the BUSLNK32.DLL of its host adapter, named by path. */
std::string ScsiGenericAdapterPath(const std::string &exeDir)
{
    return exeDir + "\\adapters\\sg\\BUSLNK32.DLL";
}

bool IsLibraryPath(const std::string &name)
{
    return name.find_first_of("\\/") != std::string::npos;
}

bool LoadAdapter(const std::string &path, LoadedDriver &out, std::string &error)
{
    if (!FileExists(path)) {
        error = "no adapter library at " + path;
        return false;
    }
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) {
        error = "cannot load the adapter " + path + ": " + LastError();
        return false;
    }
    /* The entry points are there by ordinal only: 2 execute, 3 attach. */
    if (GetProcAddress(module, MAKEINTRESOURCEA(2)) == nullptr ||
        GetProcAddress(module, MAKEINTRESOURCEA(3)) == nullptr) {
        error = path + " is not an adapter library (it has no ordinals 2 and 3)";
        FreeLibrary(module);
        return false;
    }
    out.Adapter = module;
    out.AdapterPath = path;
    out.SimConfigure = ExportOf<std::remove_pointer_t<SimConfigureFn>>(module, "SimConfigure");
    return true;
}

std::string AdapterLastError(const LoadedDriver &)
{
    return {};
}

bool ResolveScsiGenericName(const LoadedDriver &, DeviceAddress &address, std::string &error)
{
    error = "'" + address.Label + "' names a SCSI generic device, which Windows does not have: "
            "give the path of your SCSI adapter's BUSLNK32.DLL with -d";
    return false;
}

int ListScsiScanners(const std::string &, bool quietWhenAbsent)
{
    if (!quietWhenAbsent)
        std::fprintf(stderr, "scan: there is no SCSI generic adapter on Windows\n");
    return 0;
}

bool LoadDriver(const std::string &path, const std::string &exeDir, LoadedDriver &out, std::string &error)
{
    std::string chosen = path.empty() ? exeDir + "\\SCANDRV.DLL" : path;
    if (!FileExists(chosen)) {
        error = "no driver library at " + chosen + " (use --driver PATH)";
        return false;
    }
    HMODULE module = LoadLibraryExA(chosen.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) {
        error = "cannot load the driver " + chosen + ": " + LastError();
        return false;
    }
    out.Driver = module;
    out.DriverPath = chosen;
    out.Missing.clear();
    DriverApi &api = out.Api;
    Resolve(module, "vInitializeScanner", api.InitializeScanner, out.Missing);
    Resolve(module, "vScannerCapability", api.ScannerCapability, out.Missing);
    Resolve(module, "vDefaultAttribute", api.DefaultAttribute, out.Missing);
    Resolve(module, "vScannerStartScan", api.ScannerStartScan, out.Missing);
    Resolve(module, "vScannerGetImage", api.ScannerGetImage, out.Missing);
    Resolve(module, "vScannerAbortScan", api.ScannerAbortScan, out.Missing);
    Resolve(module, "vPaperReady", api.PaperReady, out.Missing);
    Resolve(module, "vScannerMutiLens", api.ScannerMutiLens, out.Missing);
    Resolve(module, "vGetLampStatus", api.GetLampStatus, out.Missing);
    Resolve(module, "vSetLampStatus", api.SetLampStatus, out.Missing);
    return true;
}
