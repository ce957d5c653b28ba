/*
 * platform.h - the operating-system services the driver uses, and nothing more.
 *
 * On Windows these go to the kernel (profile files, VirtualAlloc, GlobalAlloc,
 * Sleep, GetTickCount); elsewhere a small stand-in does what the driver needs
 * of them. CMake picks one implementation per host. The driver allocates only
 * through this layer, so a test can make any allocation fail and count what is
 * still live; sleeping and the clock can be replaced for the same reason.
 */
#ifndef SCANDRV_PLATFORM_H
#define SCANDRV_PLATFORM_H

#include <cstdint>

/* The longest path the driver builds (the Windows MAX_PATH). */
constexpr uint32_t kMaxPath = 260;

/* --- Profile (INI) files ------------------------------------------------- */

/* Reads a string value. Sections and keys match case-insensitively; the value
 * is trimmed of surrounding blanks. A missing file, section or key yields
 * defaultValue. At most size - 1 characters are stored, always terminated.
 * Returns the number of characters stored. */
uint32_t ReadProfileString(const char *section, const char *key, const char *defaultValue,
                           char *out, uint32_t size, const char *fileName);

/* Reads an integer value: optional sign, decimal digits, wrapping to 32 bits
 * as the Windows call does; text without leading digits reads as 0. A missing
 * file, section or key yields defaultValue. */
int32_t ReadProfileInt(const char *section, const char *key, int32_t defaultValue,
                       const char *fileName);

/* --- The library's own file ---------------------------------------------- */

/* Stores the full file name of the driver library (at most size - 1
 * characters, terminated). Returns its length, or 0 when it is unknown.
 * A return of size - 1 may mean the name was cut short. */
uint32_t GetLibraryFileName(char *out, uint32_t size);

/* Called once by the loader hook when a process attaches the library. */
void DriverProcessAttach();

/* --- Memory -------------------------------------------------------------- */

/* Committed, zero-filled read-write pages (VirtualAlloc). Null on failure. */
void *AllocatePages(uint32_t bytes);
void FreePages(void *pages);

/* Movable, zero-filled global memory (GlobalAlloc with GMEM_MOVEABLE |
 * GMEM_ZEROINIT), locked while in use. A null handle means failure. */
typedef void *MemoryHandle;
MemoryHandle AllocateMovable(uint32_t bytes);
void *LockMovable(MemoryHandle handle);
void UnlockMovable(MemoryHandle handle);
void FreeMovable(MemoryHandle handle);

/* --- Time ---------------------------------------------------------------- */

void SleepMilliseconds(uint32_t milliseconds);
uint32_t TickCount(); /* milliseconds since some fixed point, wrapping */

/* --- Test seams ---------------------------------------------------------- */

/* Replace sleeping and the clock; null restores the real ones. */
void SetSleepHook(void (*hook)(uint32_t milliseconds));
void SetClockHook(uint32_t (*hook)());

/* Let the next `successes` allocations succeed, then fail one (or, when
 * persistent, every later one). Covers pages and movable memory alike. */
void FailAllocationAfter(int successes, bool persistent);
/* Stops injecting; returns how many allocations were made to fail. */
int StopFailingAllocations();
/* Blocks from AllocatePages and AllocateMovable not yet freed. */
int LiveAllocations();
/* Bytes in those blocks, and the most there were at once since the last
 * ResetPeakAllocatedBytes (which starts the peak from what is live now). */
uint64_t LiveAllocatedBytes();
uint64_t PeakAllocatedBytes();
void ResetPeakAllocatedBytes();

/* The shared gate behind every allocation: false when this one must fail.
 * Counts the allocation as live when it may go ahead. */
bool AllocationPermitted();
/* A permitted block was obtained: its bytes join the live and peak counts. */
void AllocationObtained(uint64_t bytes);
/* A block is gone (bytes: what AllocationObtained was told, or 0 for a
 * permitted allocation that then failed). */
void AllocationReleased(uint64_t bytes);

#endif /* SCANDRV_PLATFORM_H */
