/*
 * driver_fixture.cpp - set-up and tear-down shared by the driver's tests.
 */
#include "driver_fixture.h"

#include "platform/platform.h"
#include "scsi/executor.h"

std::vector<uint32_t> DriverTest::Sleeps;
uint32_t DriverTest::Now = 0;

void DriverTest::SetUp()
{
    fake::Reset();
    ResetLastSense();
    Sleeps.clear();
    Now = 0;
    SetSleepHook([](uint32_t milliseconds) { Sleeps.push_back(milliseconds); });
    SetClockHook([]() { return Now; });
    StopFailingAllocations();
    liveAtStart = LiveAllocations();
}

void DriverTest::TearDown()
{
    StopFailingAllocations();
    SetSleepHook(nullptr);
    SetClockHook(nullptr);
    EXPECT_EQ(LiveAllocations(), liveAtStart) << "driver memory left allocated";
}
