/*
 * sim_export.cpp - the virtual scanner as an adapter library: the two
 * entry points of the adapter interface and SimConfigure, all serving one
 * process-wide device. The device reads its environment variables the first
 * time any entry point is called. Like every adapter it serves one caller
 * at a time. No exception leaves an entry point: memory the device cannot
 * get is an adapter failure (status 24), or -2 from SimConfigure.
 */
#define BUSLNK_BUILDING
#include "buslnk32.h"
#include "sim_config.h"
#include "sim_device.h"

#include <cstdio>
#include <cstdlib>

namespace {

SimDevice &Device()
{
    static SimDevice device;
    static bool configured = false;
    if (!configured) {
        configured = true;
        SimConfigureFromEnvironment(
            device, [](const char *name) -> const char * { return std::getenv(name); },
            [](const char *message) { std::fprintf(stderr, "virtual scanner: %s\n", message); });
    }
    return device;
}

} // namespace

extern "C" BUSLNK_API uint32_t BUSLNK_CALL BusLinkExecute(CommandRecord *command, TransferRecord *dataIn,
                                                          TransferRecord *dataOut)
{
    if (command == nullptr)
        return BUSLNK_FAILURE;
    try {
        return SimExecute(Device(), *command, dataIn, dataOut);
    } catch (...) {
        return BUSLNK_ADAPTER_FAILURE;
    }
}

extern "C" BUSLNK_API uint32_t BUSLNK_CALL BusLinkAttach(AttachRecord *attach)
{
    if (attach == nullptr)
        return BUSLNK_FAILURE;
    try {
        return SimAttach(Device(), *attach);
    } catch (...) {
        return BUSLNK_ADAPTER_FAILURE;
    }
}

extern "C" BUSLNK_API int BUSLNK_CALL SimConfigure(const char *key, const char *value)
{
    try {
        std::string error;
        return SimConfigureDevice(Device(), key, value, error);
    } catch (...) {
        return -2;
    }
}
