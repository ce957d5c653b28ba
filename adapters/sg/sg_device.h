/*
 * sg_device.h - finding and opening a scanner's SCSI generic node: reading
 * the kernel's list of sg devices from sysfs, turning attach values or a
 * user's device name into a node, opening it with a message that helps when
 * it cannot be opened, and the listing behind SgListDevices.
 */
#ifndef SG_DEVICE_H
#define SG_DEVICE_H

#include "buslnk32.h"
#include "sg_adapter.h"
#include "sg_list.h"

#include <cstdint>
#include <string>
#include <vector>

/* SCSI peripheral device type of a scanner (INQUIRY byte 0, bits 0-4). */
constexpr int kScannerType = 6;

/* One entry of <sysfs>/class/scsi_generic. */
struct SgNodeInfo {
    std::string Name;         /* "sg3" */
    std::string Node;         /* <dev>/sg3 */
    bool HaveAddress = false; /* the device link ended in H:C:T:L */
    SgAddress Address;
    int Type = -1;            /* peripheral device type; -1 when unreadable */
    std::string Vendor, Model, Revision;
    bool HaveDevNumber = false; /* the dev file read "major:minor" */
    unsigned Major = 0, Minor = 0;
};

/* Reads "H:C:T:L" (four decimal numbers) into address. */
bool ParseHctl(const std::string &text, SgAddress &address);

/* A few words for a peripheral device type: "scanner", "disk", ... */
std::string PeripheralTypeName(int type);

/* Every entry of the sg class in sysfs, in order of the sg number. Returns
 * false, with the reason in error, when the class directory cannot be read. */
bool ReadSgClass(std::vector<SgNodeInfo> &nodes, std::string &error);

/* The attach values that address a device, and back. wAttachParam2 carries
 * the target in its low byte and the channel in its high byte. Returns false
 * when the address does not fit (host above 65535, channel or target above
 * 255, LUN other than 0). */
bool AttachValuesFor(const SgAddress &address, uint16_t &param1, uint16_t &param2);
SgAddress AddressFromAttachValues(uint16_t param1, uint16_t param2);

/* Why open(2) of node failed, as a sentence for the user. For EACCES and
 * EPERM it names the node's group and mode and says what to do. */
std::string OpenFailureMessage(const std::string &node, int error);

/* Opens node for commands: read-write, exclusively, without waiting for
 * another user to let go. Checks with SG_GET_SCSI_ID that it is a SCSI
 * generic node of a scanner and stores its address. Returns the descriptor,
 * or -1 with the reason in error (nothing left open). */
int OpenScannerNode(const std::string &node, SgAddress &address, std::string &error);

/* Closes the adapter's node, if any, and forgets the kept sense. */
void DetachSg(SgAdapter &adapter);

/* BusLinkAttach: closes the previous node, then opens the scanner the record
 * names, or deviceNode when that is non-empty (SCANDRV_SG_DEVICE). Returns
 * BUSLNK_GOOD when a scanner is attached, else BUSLNK_FAILURE with the reason
 * in adapter.LastError; every later command then fails with BUSLNK_FAILURE. */
uint32_t AttachSg(SgAdapter &adapter, const AttachRecord *record, const std::string &deviceNode);

/* The scanners (type 6) of the sg class, described for the user. Returns
 * false, with the reason in error, when the class cannot be read. */
bool ListSgScanners(std::vector<SgDeviceInfo> &scanners, std::string &error);

/* Finds the scanner named "sg:H,T", "sg:H,C,T" or by a device node path. */
bool LookupSgScanner(const std::string &name, SgDeviceInfo &info, std::string &error);

#endif
