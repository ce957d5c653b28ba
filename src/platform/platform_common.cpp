/*
 * platform_common.cpp - the parts of the platform layer every host shares:
 * the allocation gate with its failure injection, live count and byte
 * counts (live and peak), and the
 * replaceable sleep and clock. The host files call in here.
 */
#include "platform.h"
#include "platform_system.h"

static int AllocationsBeforeFailure = -1; /* -1: injection off */
static bool FailPersistently = false;
static int InjectedFailures = 0;
static int LiveBlocks = 0;
static uint64_t LiveBytes = 0;
static uint64_t PeakBytes = 0;

static void (*SleepHook)(uint32_t) = nullptr;
static uint32_t (*ClockHook)() = nullptr;

bool AllocationPermitted()
{
    if (AllocationsBeforeFailure == 0) {
        ++InjectedFailures;
        if (!FailPersistently)
            AllocationsBeforeFailure = -1;
        return false;
    }
    if (AllocationsBeforeFailure > 0)
        --AllocationsBeforeFailure;
    ++LiveBlocks;
    return true;
}

void AllocationObtained(uint64_t bytes)
{
    LiveBytes += bytes;
    if (LiveBytes > PeakBytes)
        PeakBytes = LiveBytes;
}

void AllocationReleased(uint64_t bytes)
{
    --LiveBlocks;
    LiveBytes -= bytes;
}

void FailAllocationAfter(int successes, bool persistent)
{
    AllocationsBeforeFailure = successes < 0 ? 0 : successes;
    FailPersistently = persistent;
    InjectedFailures = 0;
}

int StopFailingAllocations()
{
    AllocationsBeforeFailure = -1;
    return InjectedFailures;
}

int LiveAllocations()
{
    return LiveBlocks;
}

uint64_t LiveAllocatedBytes()
{
    return LiveBytes;
}

uint64_t PeakAllocatedBytes()
{
    return PeakBytes;
}

void ResetPeakAllocatedBytes()
{
    PeakBytes = LiveBytes;
}

void SetSleepHook(void (*hook)(uint32_t))
{
    SleepHook = hook;
}

void SetClockHook(uint32_t (*hook)())
{
    ClockHook = hook;
}

void SleepMilliseconds(uint32_t milliseconds)
{
    if (SleepHook)
        SleepHook(milliseconds);
    else
        SystemSleep(milliseconds);
}

uint32_t TickCount()
{
    return ClockHook ? ClockHook() : SystemTickCount();
}
