/*
 * sg_list.h - what the SCSI generic adapter offers a front end beyond the two
 * adapter entry points: listing the scanners the kernel knows, turning a
 * device name into the attach values, and the text of the last failure.
 *
 * A front end that has loaded this libbuslnk32.so.1 (by path, globally)
 * finds these functions with dlsym; other adapters do not export them, which
 * is how it can tell which adapter it loaded.
 *
 * Attach values. vInitializeScanner hands wAttachParam1 and wAttachParam2 to
 * the adapter. This adapter reads them as:
 *   wAttachParam1  host adapter number (the H of H:C:T:L)
 *   wAttachParam2  target id (T), plus 256 x channel (C) on the rare host
 *                  adapters with more than one channel
 * and always addresses LUN 0. The environment variable SCANDRV_SG_DEVICE,
 * when set to a device node such as /dev/sg3, takes precedence over both.
 *
 * Not thread-safe: like the driver, one caller at a time.
 */
#ifndef SG_LIST_H
#define SG_LIST_H

#include <stdint.h>

#if defined(__GNUC__)
#  define SG_API __attribute__((visibility("default")))
#else
#  define SG_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* One SCSI scanner as sysfs describes it. Strings are terminated. */
typedef struct SgDeviceInfo {
    char Node[64];           /* device node, e.g. "/dev/sg3" */
    char Vendor[16];         /* INQUIRY vendor, blanks trimmed */
    char Model[24];          /* INQUIRY product, blanks trimmed */
    char Revision[8];        /* INQUIRY revision, blanks trimmed */
    uint32_t Host;           /* H:C:T:L address */
    uint32_t Channel;
    uint32_t Target;
    uint32_t Lun;
    uint16_t AttachParam1;   /* the values for vInitializeScanner */
    uint16_t AttachParam2;
    /* Empty when the scanner can be used as it is; otherwise one sentence on
     * what stands in the way (no permission, and which group to join; a
     * missing node; an address the attach values cannot express). */
    char Note[256];
} SgDeviceInfo;

typedef void (*SgListCallback)(const SgDeviceInfo *device, void *context);

/* Calls callback once for every SCSI generic device of peripheral type 6
 * (scanner), in order of the sg number. Returns the number of scanners, 0 when
 * there are none, or -1 when the kernel's list of SCSI generic devices cannot
 * be read at all (SgLastError says why; usually the sg module is not loaded).
 * callback may be NULL to count only. */
SG_API int SgListDevices(SgListCallback callback, void *context);

/* Finds the scanner a user named: "sg:HOST,TARGET", "sg:HOST,CHANNEL,TARGET"
 * (numbers in decimal) or the path of a device node ("/dev/sg3", or a link to
 * one). Fills *info and returns 0; returns -1 when the name is malformed, no
 * such device exists or it is not a scanner (SgLastError says which). */
SG_API int SgLookupDevice(const char *name, SgDeviceInfo *info);

/* The last failure of this adapter as one or more sentences, or "" when the
 * last attach, listing or lookup went well. BusLinkAttach returns only a
 * status word; this says why a scanner could not be attached, for example
 * "cannot open /dev/sg3: permission denied; ...". Valid until the next call
 * into the adapter. */
SG_API const char *SgLastError(void);

#ifdef __cplusplus
}
#endif

#endif /* SG_LIST_H */
