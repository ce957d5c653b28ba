/*
 * platform_win32.cpp - the driver's platform services on Windows: straight
 * calls into the kernel, through the allocation gate that tests use, and the
 * DLL entry point, which reads the settings at process attach.
 */
#include "platform.h"
#include "platform_system.h"

#include <windows.h>

static HMODULE LibraryModule = nullptr;

uint32_t ReadProfileString(const char *section, const char *key, const char *defaultValue,
                           char *out, uint32_t size, const char *fileName)
{
    return GetPrivateProfileStringA(section, key, defaultValue, out, size, fileName);
}

int32_t ReadProfileInt(const char *section, const char *key, int32_t defaultValue,
                       const char *fileName)
{
    return static_cast<int32_t>(GetPrivateProfileIntA(section, key, defaultValue, fileName));
}

uint32_t GetLibraryFileName(char *out, uint32_t size)
{
    if (size == 0)
        return 0;
    out[0] = '\0';
    return GetModuleFileNameA(LibraryModule, out, size);
}

/* The committed size of a region from VirtualAlloc (whole pages), counted
 * alike when it is obtained and when it is released. */
static uint64_t RegionBytes(void *pages)
{
    MEMORY_BASIC_INFORMATION info;
    if (!VirtualQuery(pages, &info, sizeof info))
        return 0;
    return info.RegionSize;
}

void *AllocatePages(uint32_t bytes)
{
    if (!AllocationPermitted())
        return nullptr;
    void *pages = VirtualAlloc(nullptr, bytes ? bytes : 1, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!pages)
        AllocationReleased(0);
    else
        AllocationObtained(RegionBytes(pages));
    return pages;
}

void FreePages(void *pages)
{
    if (!pages)
        return;
    const uint64_t bytes = RegionBytes(pages);
    VirtualFree(pages, 0, MEM_RELEASE);
    AllocationReleased(bytes);
}

MemoryHandle AllocateMovable(uint32_t bytes)
{
    if (!AllocationPermitted())
        return nullptr;
    HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes ? bytes : 1);
    if (!handle)
        AllocationReleased(0);
    else
        AllocationObtained(GlobalSize(handle));
    return handle;
}

void *LockMovable(MemoryHandle handle)
{
    return GlobalLock(static_cast<HGLOBAL>(handle));
}

void UnlockMovable(MemoryHandle handle)
{
    GlobalUnlock(static_cast<HGLOBAL>(handle));
}

void FreeMovable(MemoryHandle handle)
{
    if (!handle)
        return;
    const uint64_t bytes = GlobalSize(static_cast<HGLOBAL>(handle));
    GlobalFree(static_cast<HGLOBAL>(handle));
    AllocationReleased(bytes);
}

void SystemSleep(uint32_t milliseconds)
{
    Sleep(milliseconds);
}

uint32_t SystemTickCount()
{
    return GetTickCount();
}

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID)
{
    /* Only process attach does work; every reason answers TRUE. */
    if (reason == DLL_PROCESS_ATTACH) {
        LibraryModule = module;
        DriverProcessAttach();
    }
    return TRUE;
}
