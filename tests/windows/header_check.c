/*
 * header_check.c - the public headers compiled as C by the Windows cross
 * builds. On 32-bit targets scandrv.h asserts every parameter block offset
 * with _Static_assert (the C++ build of the driver sees the static_assert
 * form); here the adapter records get the same treatment, and every export
 * is checked to have the __stdcall type an application's function pointer
 * expects. Nothing here runs: it compiles or the build fails.
 */
#include "buslnk32.h"
#include "scandrv.h"

#include <stddef.h>

#if UINTPTR_MAX == 0xFFFFFFFFu
_Static_assert(offsetof(CommandRecord, wCdbLength) == 2, "CommandRecord.wCdbLength");
_Static_assert(offsetof(CommandRecord, lpCdb) == 4, "CommandRecord.lpCdb");
_Static_assert(sizeof(CommandRecord) == 8, "CommandRecord size");
_Static_assert(offsetof(TransferRecord, lpBuffer) == 4, "TransferRecord.lpBuffer");
_Static_assert(sizeof(TransferRecord) == 8, "TransferRecord size");
_Static_assert(offsetof(AttachRecord, wAttachParam2) == 2, "AttachRecord.wAttachParam2");
_Static_assert(offsetof(AttachRecord, wAttachParam1) == 4, "AttachRecord.wAttachParam1");
_Static_assert(offsetof(AttachRecord, wVersion) == 6, "AttachRecord.wVersion");
_Static_assert(sizeof(AttachRecord) == 8, "AttachRecord size");
#else
_Static_assert(sizeof(void *) == 8, "a target with pointers neither 4 nor 8 bytes wide");
#endif

/* _Generic compares function types including the calling convention: a
 * declaration without __stdcall does not match these on 32-bit x86. */
#define SCANDRV_HAS_TYPE_(fn, type) _Static_assert(_Generic(&fn, type: 1, default: 0), #fn " has the wrong type")
SCANDRV_HAS_TYPE_(vInitializeScanner, void(__stdcall *)(InitBlock *));
SCANDRV_HAS_TYPE_(vScannerCapability, void(__stdcall *)(CapabilityBlock *));
SCANDRV_HAS_TYPE_(vDefaultAttribute, void(__stdcall *)(ScanAttributeBlock *));
SCANDRV_HAS_TYPE_(vScannerStartScan, void(__stdcall *)(ScanAttributeBlock *));
SCANDRV_HAS_TYPE_(vScannerGetImage, void(__stdcall *)(ImageDataBlock *));
SCANDRV_HAS_TYPE_(vScannerAbortScan, void(__stdcall *)(ParamBlock *));
SCANDRV_HAS_TYPE_(vPaperReady, int32_t(__stdcall *)(void));
SCANDRV_HAS_TYPE_(vScannerMutiLens, void(__stdcall *)(LensBlock *));
SCANDRV_HAS_TYPE_(vGetLampStatus, void(__stdcall *)(LampBlock *));
SCANDRV_HAS_TYPE_(vSetLampStatus, void(__stdcall *)(LampBlock *));
SCANDRV_HAS_TYPE_(BusLinkExecute, uint32_t(__stdcall *)(CommandRecord *, TransferRecord *, TransferRecord *));
SCANDRV_HAS_TYPE_(BusLinkAttach, uint32_t(__stdcall *)(AttachRecord *));
