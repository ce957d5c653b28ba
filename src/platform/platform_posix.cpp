/*
 * platform_posix.cpp - the Windows services the driver needs, stood in for on
 * POSIX hosts: committed pages and movable memory from the C heap (so the
 * sanitizers watch every buffer), sleeping, a millisecond clock, and the
 * library's own file name.
 */
#include "platform.h"
#include "platform_system.h"

#include <dlfcn.h>
#include <time.h>

#include <cstdlib>
#include <cstring>

/* Each block carries its size in a header in front of it, for the byte
 * counts of the allocation gate; the header's size keeps the block aligned
 * as calloc aligns. */
constexpr size_t kBlockHeader = 16;

void *AllocatePages(uint32_t bytes)
{
    if (!AllocationPermitted())
        return nullptr;
    const uint64_t size = bytes ? bytes : 1;
    uint8_t *block = static_cast<uint8_t *>(std::calloc(1, kBlockHeader + size));
    if (!block) {
        AllocationReleased(0);
        return nullptr;
    }
    std::memcpy(block, &size, sizeof size);
    AllocationObtained(size);
    return block + kBlockHeader;
}

void FreePages(void *pages)
{
    if (!pages)
        return;
    uint8_t *block = static_cast<uint8_t *>(pages) - kBlockHeader;
    uint64_t size;
    std::memcpy(&size, block, sizeof size);
    std::free(block);
    AllocationReleased(size);
}

/* Nothing here ever moves, so a handle is simply the block itself. */
MemoryHandle AllocateMovable(uint32_t bytes)
{
    return AllocatePages(bytes);
}

void *LockMovable(MemoryHandle handle)
{
    return handle;
}

void UnlockMovable(MemoryHandle)
{
}

void FreeMovable(MemoryHandle handle)
{
    FreePages(handle);
}

void SystemSleep(uint32_t milliseconds)
{
    struct timespec wait = {static_cast<time_t>(milliseconds / 1000),
                            static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0) {
    }
}

uint32_t SystemTickCount()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                                 static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

uint32_t GetLibraryFileName(char *out, uint32_t size)
{
    Dl_info info;
    if (size == 0)
        return 0;
    out[0] = '\0';
    /* Any address inside this library names the file it was loaded from. */
    if (!dladdr(reinterpret_cast<void *>(&GetLibraryFileName), &info) || !info.dli_fname)
        return 0;
    size_t length = std::strlen(info.dli_fname);
    if (length > size - 1)
        length = size - 1;
    std::memcpy(out, info.dli_fname, length);
    out[length] = '\0';
    return static_cast<uint32_t>(length);
}
