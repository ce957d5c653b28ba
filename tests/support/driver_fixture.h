/*
 * driver_fixture.h - a test fixture that gives every test a fresh fake
 * adapter, no real sleeping, a controllable clock, and checks on the way out
 * that the test left no driver allocation behind.
 */
#ifndef SCANDRV_DRIVER_FIXTURE_H
#define SCANDRV_DRIVER_FIXTURE_H

#include "fake_adapter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    /* Every sleep the driver asked for, in milliseconds. */
    static std::vector<uint32_t> Sleeps;
    /* The time TickCount answers. */
    static uint32_t Now;

private:
    int liveAtStart = 0;
};

#endif
