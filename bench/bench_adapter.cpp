/*
 * bench_adapter.cpp - BusLinkExecute and BusLinkAttach for scandrv_bench: a
 * virtual scanner device behind a stopwatch, and the memory-speed image
 * source of the copy benchmarks.
 */
#include "bench_adapter.h"

#include "buslnk32.h"
#include "sim_device.h"

#include <chrono>
#include <cstring>
#include <string>

namespace {

SimDevice &Device()
{
    static SimDevice device;
    return device;
}

uint64_t SpentNs = 0;
const uint8_t *MemoryImage = nullptr;
size_t MemoryImageBytes = 0;
size_t MemoryImageAt = 0;

bool IsImageRead(const CommandRecord &command, const TransferRecord *dataIn)
{
    /* READ(10) with data type code 0: image data. */
    return command.wCdbLength == 10 && command.lpCdb[0] == 0x28 && command.lpCdb[2] == 0x00 && dataIn &&
           dataIn->dwCount > 0;
}

void ReadFromMemory(TransferRecord *dataIn)
{
    uint8_t *to = static_cast<uint8_t *>(dataIn->lpBuffer);
    size_t left = dataIn->dwCount;
    while (left > 0) {
        size_t piece = MemoryImageBytes - MemoryImageAt;
        if (piece > left)
            piece = left;
        std::memcpy(to, MemoryImage + MemoryImageAt, piece);
        to += piece;
        left -= piece;
        MemoryImageAt = (MemoryImageAt + piece) % MemoryImageBytes;
    }
}

} // namespace

int BenchSimConfigure(const char *key, const char *value)
{
    std::string error;
    return SimConfigureDevice(Device(), key, value, error);
}

uint64_t AdapterNanoseconds()
{
    return SpentNs;
}

void ResetAdapterClock()
{
    SpentNs = 0;
}

void ServeImageFromMemory(const uint8_t *image, size_t bytes)
{
    MemoryImage = image;
    MemoryImageBytes = bytes;
    MemoryImageAt = 0;
}

extern "C" uint32_t BUSLNK_CALL BusLinkExecute(CommandRecord *command, TransferRecord *dataIn,
                                               TransferRecord *dataOut)
{
    if (!command)
        return BUSLNK_FAILURE;
    if (MemoryImage && IsImageRead(*command, dataIn)) {
        ReadFromMemory(dataIn);
        return BUSLNK_GOOD;
    }
    const auto start = std::chrono::steady_clock::now();
    uint32_t status = SimExecute(Device(), *command, dataIn, dataOut);
    SpentNs += static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count());
    return status;
}

extern "C" uint32_t BUSLNK_CALL BusLinkAttach(AttachRecord *attach)
{
    if (!attach)
        return BUSLNK_FAILURE;
    return SimAttach(Device(), *attach);
}
