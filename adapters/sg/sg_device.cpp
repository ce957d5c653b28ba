/*
 * sg_device.cpp - finding, describing and opening SCSI generic nodes.
 *
 * The kernel lists every sg node under <sysfs>/class/scsi_generic/sgN. In
 * each, "device" links to the SCSI device, whose directory is named H:C:T:L
 * and holds "type" (the peripheral device type, 6 for a scanner), "vendor",
 * "model" and "rev" (INQUIRY strings, padded with blanks); "dev" holds the
 * node's major:minor. Nodes are opened through the SgOs record.
 */
#include "sg_device.h"

#include "sg_os.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <scsi/sg.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string Trim(const std::string &text)
{
    const char *blanks = " \t\r\n";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return "";
    size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

/* The first line of a small sysfs attribute, trimmed; false if unreadable. */
bool ReadAttribute(const fs::path &path, std::string &value)
{
    std::ifstream file(path);
    if (!file)
        return false;
    std::string line;
    std::getline(file, line);
    value = Trim(line);
    return true;
}

/* A decimal number without sign that fits in 32 bits. */
bool ParseNumber(const std::string &text, uint32_t &value)
{
    if (text.empty() || text.size() > 10)
        return false;
    uint64_t number = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + static_cast<uint64_t>(c - '0');
    }
    if (number > UINT32_MAX)
        return false;
    value = static_cast<uint32_t>(number);
    return true;
}

std::vector<std::string> Split(const std::string &text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

/* The N of "sgN", for ordering; names without a number go last. */
uint32_t SgNumber(const std::string &name)
{
    uint32_t number;
    if (name.compare(0, 2, "sg") == 0 && ParseNumber(name.substr(2), number))
        return number;
    return UINT32_MAX;
}

std::string AddressText(const SgAddress &address)
{
    return std::to_string(address.Host) + ":" + std::to_string(address.Channel) + ":" +
           std::to_string(address.Target) + ":" + std::to_string(address.Lun);
}

/* How a user writes the address: sg:H,T, or sg:H,C,T off channel 0. */
std::string SelectorText(const SgAddress &address)
{
    std::string text = "sg:" + std::to_string(address.Host) + ",";
    if (address.Channel != 0)
        text += std::to_string(address.Channel) + ",";
    return text + std::to_string(address.Target);
}

/* "crw-rw----" */
std::string ModeText(mode_t mode)
{
    std::string text = S_ISCHR(mode) ? "c" : S_ISBLK(mode) ? "b" : S_ISDIR(mode) ? "d" : "-";
    const mode_t bits[] = {S_IRUSR, S_IWUSR, S_IXUSR, S_IRGRP, S_IWGRP, S_IXGRP, S_IROTH, S_IWOTH, S_IXOTH};
    for (int i = 0; i < 9; ++i)
        text += (mode & bits[i]) ? "rwx"[i % 3] : '-';
    return text;
}

void CopyText(char *destination, size_t size, const std::string &text)
{
    std::snprintf(destination, size, "%s", text.c_str());
}

bool IsScanner(const SgNodeInfo &node) { return node.Type == kScannerType; }

std::string NotAScanner(const std::string &what, int type)
{
    return what + " is " + (type < 0 ? std::string("a device of unknown type") : "a " + PeripheralTypeName(type)) +
           " (peripheral type " + std::to_string(type) + "), not a scanner";
}

/* Fills info from a sysfs entry, with a note on anything that stands in the
 * way of using it. */
void DescribeScanner(const SgNodeInfo &node, SgDeviceInfo &info)
{
    const SgOs &os = SgSystem();
    info = SgDeviceInfo{};
    CopyText(info.Node, sizeof info.Node, node.Node);
    CopyText(info.Vendor, sizeof info.Vendor, node.Vendor);
    CopyText(info.Model, sizeof info.Model, node.Model);
    CopyText(info.Revision, sizeof info.Revision, node.Revision);
    info.Host = node.Address.Host;
    info.Channel = node.Address.Channel;
    info.Target = node.Address.Target;
    info.Lun = node.Address.Lun;

    std::string note;
    struct stat status;
    if (!AttachValuesFor(node.Address, info.AttachParam1, info.AttachParam2)) {
        info.AttachParam1 = info.AttachParam2 = 0;
        note = "its address " + AddressText(node.Address) +
               " cannot be given as attach values; set SCANDRV_SG_DEVICE=" + node.Node + " to use it";
    } else if (os.Stat(node.Node.c_str(), &status) != 0) {
        int error = errno;
        note = "the kernel lists it, but " + node.Node + " cannot be found: " + std::strerror(error);
    } else if (os.Access(node.Node.c_str(), R_OK | W_OK) != 0) {
        int error = errno;
        note = OpenFailureMessage(node.Node, error);
    }
    CopyText(info.Note, sizeof info.Note, note);
}

} // namespace

bool ParseHctl(const std::string &text, SgAddress &address)
{
    std::vector<std::string> parts = Split(text, ':');
    return parts.size() == 4 && ParseNumber(parts[0], address.Host) && ParseNumber(parts[1], address.Channel) &&
           ParseNumber(parts[2], address.Target) && ParseNumber(parts[3], address.Lun);
}

std::string PeripheralTypeName(int type)
{
    static const char *const names[] = {
        "disk", "tape drive", "printer", "processor device", "write-once device", "CD or DVD drive",
        "scanner", "optical memory device", "medium changer", "communications device",
    };
    if (type >= 0 && type < static_cast<int>(sizeof names / sizeof names[0]))
        return names[type];
    switch (type) {
    case 0x0C: return "storage array controller";
    case 0x0D: return "enclosure services device";
    case 0x0E: return "simplified direct-access device";
    default: return "device of another kind";
    }
}

bool ReadSgClass(std::vector<SgNodeInfo> &nodes, std::string &error)
{
    const SgOs &os = SgSystem();
    nodes.clear();
    fs::path classDirectory = fs::path(os.SysfsRoot) / "class" / "scsi_generic";
    std::error_code code;
    fs::directory_iterator entries(classDirectory, code);
    if (code) {
        error = "cannot read " + classDirectory.string() + ": " + code.message() +
                "; the kernel's SCSI generic driver is not loaded (try: sudo modprobe sg)";
        return false;
    }
    for (const fs::directory_entry &entry : entries) {
        SgNodeInfo node;
        node.Name = entry.path().filename().string();
        node.Node = (fs::path(os.DevRoot) / node.Name).string();

        fs::path device = entry.path() / "device";
        fs::path link = fs::read_symlink(device, code);
        if (!code)
            node.HaveAddress = ParseHctl(link.filename().string(), node.Address);

        std::string text;
        uint32_t number;
        if (ReadAttribute(device / "type", text) && ParseNumber(text, number) && number < 32)
            node.Type = static_cast<int>(number);
        ReadAttribute(device / "vendor", node.Vendor);
        ReadAttribute(device / "model", node.Model);
        ReadAttribute(device / "rev", node.Revision);
        if (ReadAttribute(entry.path() / "dev", text)) {
            std::vector<std::string> parts = Split(text, ':');
            node.HaveDevNumber = parts.size() == 2 && ParseNumber(parts[0], node.Major) &&
                                 ParseNumber(parts[1], node.Minor);
        }
        nodes.push_back(std::move(node));
    }
    std::sort(nodes.begin(), nodes.end(), [](const SgNodeInfo &a, const SgNodeInfo &b) {
        uint32_t na = SgNumber(a.Name), nb = SgNumber(b.Name);
        return na != nb ? na < nb : a.Name < b.Name;
    });
    return true;
}

bool AttachValuesFor(const SgAddress &address, uint16_t &param1, uint16_t &param2)
{
    if (address.Host > 0xFFFF || address.Channel > 0xFF || address.Target > 0xFF || address.Lun != 0)
        return false;
    param1 = static_cast<uint16_t>(address.Host);
    param2 = static_cast<uint16_t>(address.Channel << 8 | address.Target);
    return true;
}

SgAddress AddressFromAttachValues(uint16_t param1, uint16_t param2)
{
    SgAddress address;
    address.Host = param1;
    address.Channel = param2 >> 8;
    address.Target = param2 & 0xFF;
    address.Lun = 0;
    return address;
}

std::string OpenFailureMessage(const std::string &node, int error)
{
    const SgOs &os = SgSystem();
    std::string message = "cannot open " + node + ": ";
    switch (error) {
    case EACCES:
    case EPERM:
        break;
    case EBUSY:
    case EAGAIN:
        return message + "it is in use by another program";
    case ENOENT:
        return message + "no such device node";
    case ENODEV:
    case ENXIO:
        return message + "the device is gone";
    default:
        return message + std::strerror(error);
    }

    message += "permission denied";
    struct stat status;
    if (os.Stat(node.c_str(), &status) != 0)
        return message;
    char name[256];
    std::string group = os.GroupName(status.st_gid, name, sizeof name)
                            ? std::string(name)
                            : std::to_string(status.st_gid);
    std::string mode = ModeText(status.st_mode);
    if ((status.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP))
        return message + ". The node belongs to group '" + group + "' (" + mode +
               "): add yourself to it (sudo usermod -aG " + group + " $USER), then log in again";
    return message + ". Only its owner may use it (" + mode + ", group '" + group +
           "'): a udev rule must give a group of yours read and write access to it";
}

int OpenScannerNode(const std::string &node, SgAddress &address, std::string &error)
{
    const SgOs &os = SgSystem();
    /* O_NONBLOCK makes an exclusive open fail at once when another program
     * has the node open, instead of waiting for it; it is cleared after. */
    int fd = os.Open(node.c_str(), O_RDWR | O_NONBLOCK | O_EXCL | O_CLOEXEC);
    if (fd < 0) {
        int code = errno;
        error = OpenFailureMessage(node, code);
        return -1;
    }
    int flags = os.Fcntl(fd, F_GETFL, 0);
    if (flags < 0 || os.Fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
        int code = errno;
        error = "cannot set up " + node + ": " + std::strerror(code);
        os.Close(fd);
        return -1;
    }
    struct sg_scsi_id id;
    std::memset(&id, 0, sizeof id);
    if (os.Ioctl(fd, SG_GET_SCSI_ID, &id) != 0) {
        int code = errno;
        error = node + " is not a SCSI generic device (" + std::strerror(code) + ")";
        os.Close(fd);
        return -1;
    }
    address.Host = static_cast<uint32_t>(id.host_no);
    address.Channel = static_cast<uint32_t>(id.channel);
    address.Target = static_cast<uint32_t>(id.scsi_id);
    address.Lun = static_cast<uint32_t>(id.lun);
    if (id.scsi_type != kScannerType) {
        error = NotAScanner(node + " (" + AddressText(address) + ")", id.scsi_type);
        os.Close(fd);
        return -1;
    }
    return fd;
}

void DetachSg(SgAdapter &adapter)
{
    if (adapter.Fd >= 0) {
        SgSystem().Close(adapter.Fd);
        SgTraceLine(adapter.Trace, "detach %s", adapter.Node.c_str());
    }
    adapter.Fd = -1;
    adapter.Node.clear();
    adapter.Address = SgAddress{};
    adapter.KeptSenseLength = 0;
    adapter.PieceLimit = 0; /* another node may sit behind another host adapter */
}

uint32_t AttachSg(SgAdapter &adapter, const AttachRecord *record, const std::string &deviceNode)
{
    DetachSg(adapter);
    adapter.LastError.clear();
    if (record == nullptr) {
        adapter.LastError = "attach was called without a record";
        SgTraceLine(adapter.Trace, "attach without a record -> not attached");
        return BUSLNK_FAILURE;
    }
    SgTraceLine(adapter.Trace, "attach kind=%u param1=%u param2=%u version=%u%s%s", record->wKind,
                record->wAttachParam1, record->wAttachParam2, record->wVersion,
                deviceNode.empty() ? "" : " device=", deviceNode.c_str());

    std::string node = deviceNode;
    std::string error;
    if (node.empty()) {
        SgAddress wanted = AddressFromAttachValues(record->wAttachParam1, record->wAttachParam2);
        std::vector<SgNodeInfo> nodes;
        if (!ReadSgClass(nodes, error)) {
            adapter.LastError = error;
        } else {
            auto found = std::find_if(nodes.begin(), nodes.end(), [&](const SgNodeInfo &candidate) {
                return candidate.HaveAddress && candidate.Address == wanted;
            });
            if (found == nodes.end())
                adapter.LastError = "no SCSI device at " + SelectorText(wanted) + " (" + AddressText(wanted) +
                                    "); list the scanners to find the values to use";
            else if (!IsScanner(*found))
                adapter.LastError = NotAScanner(SelectorText(wanted) + " (" + found->Node + ", " +
                                                    Trim(found->Vendor + " " + found->Model) + ")",
                                                found->Type);
            else
                node = found->Node;
        }
    }

    if (!node.empty()) {
        SgAddress address;
        int fd = OpenScannerNode(node, address, error);
        if (fd < 0) {
            adapter.LastError = error;
        } else {
            adapter.Fd = fd;
            adapter.Node = node;
            adapter.Address = address;
        }
    }

    if (adapter.Fd < 0) {
        SgTraceLine(adapter.Trace, "    -> not attached: %s", adapter.LastError.c_str());
        return BUSLNK_FAILURE;
    }
    SgTraceLine(adapter.Trace, "    -> attached %s (%s)", adapter.Node.c_str(), AddressText(adapter.Address).c_str());
    return BUSLNK_GOOD;
}

bool ListSgScanners(std::vector<SgDeviceInfo> &scanners, std::string &error)
{
    scanners.clear();
    std::vector<SgNodeInfo> nodes;
    if (!ReadSgClass(nodes, error))
        return false;
    for (const SgNodeInfo &node : nodes) {
        if (!IsScanner(node) || !node.HaveAddress)
            continue;
        SgDeviceInfo info;
        DescribeScanner(node, info);
        scanners.push_back(info);
    }
    return true;
}

bool LookupSgScanner(const std::string &name, SgDeviceInfo &info, std::string &error)
{
    const SgOs &os = SgSystem();
    std::vector<SgNodeInfo> nodes;
    std::vector<SgNodeInfo>::const_iterator found;
    std::string what;

    if (name.compare(0, 3, "sg:") == 0) {
        std::vector<std::string> parts = Split(name.substr(3), ',');
        SgAddress wanted;
        bool parsed = false;
        if (parts.size() == 2)
            parsed = ParseNumber(parts[0], wanted.Host) && ParseNumber(parts[1], wanted.Target);
        else if (parts.size() == 3)
            parsed = ParseNumber(parts[0], wanted.Host) && ParseNumber(parts[1], wanted.Channel) &&
                     ParseNumber(parts[2], wanted.Target);
        if (!parsed) {
            error = "'" + name + "' is not of the form sg:HOST,TARGET or sg:HOST,CHANNEL,TARGET";
            return false;
        }
        if (!ReadSgClass(nodes, error))
            return false;
        found = std::find_if(nodes.cbegin(), nodes.cend(), [&](const SgNodeInfo &candidate) {
            return candidate.HaveAddress && candidate.Address == wanted;
        });
        if (found == nodes.cend()) {
            error = "no SCSI device at " + name + " (" + AddressText(wanted) + ")";
            return false;
        }
        what = name + " (" + found->Node + ")";
    } else if (!name.empty() && name[0] == '/') {
        struct stat status;
        if (os.Stat(name.c_str(), &status) != 0) {
            int code = errno;
            error = "cannot find " + name + ": " + std::strerror(code);
            return false;
        }
        if (!S_ISCHR(status.st_mode)) {
            error = name + " is not a device node";
            return false;
        }
        if (!ReadSgClass(nodes, error))
            return false;
        unsigned wantedMajor = major(status.st_rdev), wantedMinor = minor(status.st_rdev);
        found = std::find_if(nodes.cbegin(), nodes.cend(), [&](const SgNodeInfo &candidate) {
            return candidate.HaveDevNumber && candidate.Major == wantedMajor && candidate.Minor == wantedMinor;
        });
        if (found == nodes.cend() || !found->HaveAddress) {
            error = name + " is not a SCSI generic device";
            return false;
        }
        what = name;
    } else {
        error = "unknown device '" + name + "': name it sg:HOST,TARGET or by the path of its /dev/sg node";
        return false;
    }

    if (!IsScanner(*found)) {
        error = NotAScanner(what + " (" + Trim(found->Vendor + " " + found->Model) + ")", found->Type);
        return false;
    }
    DescribeScanner(*found, info);
    return true;
}
