/*
 * The platform layer's test seams: allocation failure injection and the
 * live counts that every leak check of the driver relies on.
 */
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>

TEST(AllocationGate, FailsTheNthAllocationOnceOrFromThenOn)
{
    int live = LiveAllocations();
    FailAllocationAfter(1, false);
    void *first = AllocatePages(64);
    void *second = AllocatePages(64);
    void *third = AllocatePages(64);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(second, nullptr);
    EXPECT_NE(third, nullptr) << "a transient failure fails one allocation only";
    EXPECT_EQ(StopFailingAllocations(), 1);
    EXPECT_EQ(LiveAllocations(), live + 2);
    FreePages(first);
    FreePages(third);

    FailAllocationAfter(0, true);
    EXPECT_EQ(AllocatePages(64), nullptr);
    EXPECT_EQ(AllocateMovable(64), nullptr);
    EXPECT_EQ(StopFailingAllocations(), 2);
    EXPECT_EQ(LiveAllocations(), live);
}

/* Byte counts feed the benchmark's memory figures. */
TEST(AllocationGate, MemoryComesZeroFilledAndIsCountedInBytes)
{
    const uint64_t before = LiveAllocatedBytes();
    ResetPeakAllocatedBytes();
    auto *pages = static_cast<unsigned char *>(AllocatePages(1000));
    MemoryHandle handle = AllocateMovable(500);
    ASSERT_NE(pages, nullptr);
    ASSERT_NE(handle, nullptr);
    auto *movable = static_cast<unsigned char *>(LockMovable(handle));
    ASSERT_NE(movable, nullptr);
    EXPECT_EQ(std::count(pages, pages + 1000, 0), 1000);
    EXPECT_EQ(std::count(movable, movable + 500, 0), 500);
    UnlockMovable(handle);
    FreePages(pages);
    FreePages(nullptr);
    EXPECT_EQ(LiveAllocatedBytes() - before, 500u);
    FreeMovable(handle);
    EXPECT_EQ(LiveAllocatedBytes(), before);
    EXPECT_EQ(PeakAllocatedBytes() - before, 1500u);
}
