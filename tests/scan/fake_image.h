/*
 * fake_image.h - the image the scripted driver delivers: every sample
 * follows from its position, so a test can check each pixel of the file
 * the scan command wrote. Shared by the scripted driver and the tests.
 */
#ifndef SCAN_TEST_FAKE_IMAGE_H
#define SCAN_TEST_FAKE_IMAGE_H

#include <cstdint>

/* Sample of channel c (0 for grey) at pixel x of line y. */
inline uint8_t FakeSample8(uint32_t x, uint32_t y, unsigned c)
{
    return static_cast<uint8_t>(x * 3 + y * 5 + c * 80);
}

inline uint16_t FakeSample16(uint32_t x, uint32_t y, unsigned c)
{
    return static_cast<uint16_t>(x * 771 + y * 13 + c * 20000);
}

/* Bilevel: true for black. */
inline bool FakeBlack(uint32_t x, uint32_t y)
{
    return ((x / 3) + (y / 2)) % 2 == 0;
}

#endif
