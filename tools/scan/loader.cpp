/*
 * loader.cpp - device names and the check for exports, the same on every
 * host. Loading the libraries is the host's: loader_posix.cpp (dlopen),
 * loader_win32.cpp (LoadLibrary).
 */
#include "loader.h"

#include <sys/stat.h>


namespace {

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

} // namespace

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
    } else if (IsLibraryPath(base)) {
        out.AdapterPath = base;
    } else {
        error = "unknown device '" + name +
                "': use sim, sim:MODEL, null, sg:HOST,TARGET, a /dev/sg node, or a path to an adapter library";
        return false;
    }
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
