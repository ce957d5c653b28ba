/*
 * The platform layer's test seams: allocation failure injection and the
 * live count that every leak check of the driver relies on.
 */
#include "platform/platform.h"

#include <gtest/gtest.h>

namespace {

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

TEST(AllocationGate, MemoryComesZeroFilledAndMovableBlocksLock)
{
    int live = LiveAllocations();
    auto *pages = static_cast<unsigned char *>(AllocatePages(4096));
    MemoryHandle handle = AllocateMovable(100);
    ASSERT_NE(pages, nullptr);
    ASSERT_NE(handle, nullptr);
    auto *movable = static_cast<unsigned char *>(LockMovable(handle));
    ASSERT_NE(movable, nullptr);
    for (int i = 0; i < 4096; ++i)
        ASSERT_EQ(pages[i], 0);
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(movable[i], 0);
    UnlockMovable(handle);
    FreeMovable(handle);
    FreePages(pages);
    FreePages(nullptr);
    EXPECT_EQ(LiveAllocations(), live);
}

} // namespace

TEST(AllocationGate, CountsLiveAndPeakBytes)
{
    const uint64_t before = LiveAllocatedBytes();
    ResetPeakAllocatedBytes();
    void *pages = AllocatePages(1000);
    MemoryHandle movable = AllocateMovable(500);
    EXPECT_EQ(LiveAllocatedBytes() - before, 1500u);
    FreePages(pages);
    EXPECT_EQ(LiveAllocatedBytes() - before, 500u);
    FreeMovable(movable);
    EXPECT_EQ(LiveAllocatedBytes(), before);
    EXPECT_EQ(PeakAllocatedBytes() - before, 1500u);
    ResetPeakAllocatedBytes();
    EXPECT_EQ(PeakAllocatedBytes(), before);
}
