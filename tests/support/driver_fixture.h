/*
 * driver_fixture.h - what the driver's tests share. DriverTest gives every
 * test a fresh fake adapter, the driver's process-wide state as at load, no
 * real sleeping and a controllable clock, and checks on the way out that
 * nothing was left allocated. ScanTest adds a scripted scanner and a small
 * grey scan request. The block helpers check that a call left a block alone.
 */
#ifndef SCANDRV_DRIVER_FIXTURE_H
#define SCANDRV_DRIVER_FIXTURE_H

#include "fake_adapter.h"
#include "fake_scanner.h"
#include "scandrv.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    static void ResetDriverState(); /* as the library has it at load */

public:
    /* Every sleep the driver asked for, in milliseconds. */
    static std::vector<uint32_t> Sleeps;
    /* The time TickCount answers. */
    static uint32_t Now;

private:
    int liveAtStart = 0;
};

/* A 250 dpi grey scan of 250 x 50 pixels, calibration still valid. */
class ScanTest : public DriverTest {
protected:
    void SetUp() override;
    void TearDown() override;
    void Request(); /* `block` as SetUp leaves it */
    /* Forgets the commands sent; the scanner keeps answering. */
    void Forget()
    {
        fake::Reset();
        scanner.Install();
    }
    uint32_t Start(); /* with `block`; the whole dwResult */
    uint32_t LineBytes() const; /* of one delivered line */
    /* One call into a buffer exactly as large as asked, filled with 0xA5. */
    ImageDataBlock Read(uint32_t lines, std::vector<uint8_t> *kept = nullptr);

    FakeScanner scanner;
    ScanAttributeBlock block;
};

/* A block whose every byte is 0xA5, so untouched fields show. */
template <class Block> Block Poisoned()
{
    Block block;
    std::memset(&block, 0xA5, sizeof block);
    return block;
}

/* Every byte of the block but dwResult is as it was before the call. */
template <class Block> void ExpectOnlyResultWritten(const Block &before, const Block &after)
{
    Block expected = before;
    expected.dwResult = after.dwResult;
    auto bytes = [](const Block &b) {
        const uint8_t *p = reinterpret_cast<const uint8_t *>(&b);
        return fake::Hex(std::vector<uint8_t>(p, p + sizeof b));
    };
    EXPECT_EQ(bytes(expected), bytes(after));
}

#endif
