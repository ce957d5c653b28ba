/*
 * sg_export.cpp - the entry points of the SCSI generic adapter library: the
 * two adapter calls the driver makes (BusLinkExecute, BusLinkAttach) and the
 * listing, lookup and error text of sg_list.h for front ends. All of them
 * work on one process-wide adapter record.
 *
 * Environment: SCANDRV_SG_DEVICE names a device node that every attach opens
 * in place of the one the attach values name; SCANDRV_SG_TRACE names a file
 * ("-" for standard error) that receives a trace of every attach and command.
 * Both are read at each attach.
 */
#define BUSLNK_BUILDING
#include "buslnk32.h"
#include "sg_device.h"
#include "sg_execute.h"
#include "sg_list.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

SgAdapter &Adapter()
{
    static SgAdapter adapter;
    return adapter;
}

std::string Environment(const char *name)
{
    const char *value = std::getenv(name);
    return value != nullptr ? value : "";
}

/* Follows SCANDRV_SG_TRACE: starts, switches or stops the trace. A trace file
 * that cannot be written is reported and the attach goes on without it. */
void FollowTraceSetting(SgAdapter &adapter, std::string &traceError)
{
    static std::string current;
    std::string wanted = Environment("SCANDRV_SG_TRACE");
    if (wanted == current && (SgTracing(adapter.Trace) || wanted.empty()))
        return;
    CloseSgTrace(adapter.Trace);
    current = wanted;
    if (!wanted.empty())
        OpenSgTrace(adapter.Trace, wanted, traceError);
}

} // namespace

extern "C" BUSLNK_API uint32_t BUSLNK_CALL BusLinkExecute(CommandRecord *command, TransferRecord *dataIn,
                                                          TransferRecord *dataOut)
{
    return ExecuteSg(Adapter(), command, dataIn, dataOut);
}

extern "C" BUSLNK_API uint32_t BUSLNK_CALL BusLinkAttach(AttachRecord *attach)
{
    SgAdapter &adapter = Adapter();
    std::string traceError;
    FollowTraceSetting(adapter, traceError);
    uint32_t status = AttachSg(adapter, attach, Environment("SCANDRV_SG_DEVICE"));
    if (!traceError.empty())
        adapter.LastError += (adapter.LastError.empty() ? "" : "; ") + traceError;
    return status;
}

extern "C" SG_API int SgListDevices(SgListCallback callback, void *context)
{
    SgAdapter &adapter = Adapter();
    std::vector<SgDeviceInfo> scanners;
    std::string error;
    if (!ListSgScanners(scanners, error)) {
        adapter.LastError = error;
        return -1;
    }
    adapter.LastError.clear();
    if (callback != nullptr)
        for (const SgDeviceInfo &scanner : scanners)
            callback(&scanner, context);
    return static_cast<int>(scanners.size());
}

extern "C" SG_API int SgLookupDevice(const char *name, SgDeviceInfo *info)
{
    SgAdapter &adapter = Adapter();
    std::string error;
    SgDeviceInfo found;
    if (name == nullptr || info == nullptr) {
        adapter.LastError = "no device name given";
        return -1;
    }
    if (!LookupSgScanner(name, found, error)) {
        adapter.LastError = error;
        return -1;
    }
    adapter.LastError.clear();
    *info = found;
    return 0;
}

extern "C" SG_API const char *SgLastError(void)
{
    return Adapter().LastError.c_str();
}
