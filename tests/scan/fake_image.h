/*
 * fake_image.h - the image the scripted driver delivers and the writers'
 * tests write: each sample follows from its position. Lines are laid out as
 * the driver delivers them (16-bit in host order, bilevel 1 for black).
 */
#ifndef SCAN_TEST_FAKE_IMAGE_H
#define SCAN_TEST_FAKE_IMAGE_H

#include <cstdint>
#include <cstring>

inline uint16_t FakeSample(uint32_t x, uint32_t y, unsigned c, unsigned depth)
{
    if (depth == 1)
        return ((x / 3) + (y / 2)) % 2 == 0;
    return depth == 16 ? static_cast<uint16_t>(x * 771 + y * 13 + c * 20000) : static_cast<uint8_t>(x * 3 + y * 5 + c * 80);
}

inline void FillFakeLine(uint8_t *line, uint32_t y, uint32_t width, unsigned channels, unsigned depth)
{
    if (depth == 1)
        std::memset(line, 0, (width + 7) / 8);
    for (uint32_t x = 0; x < width; ++x)
        for (unsigned c = 0; c < channels; ++c) {
            uint16_t v = FakeSample(x, y, c, depth);
            size_t i = static_cast<size_t>(x) * channels + c;
            if (depth == 1)
                line[x / 8] = static_cast<uint8_t>(line[x / 8] | (v << (7 - x % 8)));
            else if (depth == 16)
                std::memcpy(line + 2 * i, &v, 2);
            else
                line[i] = static_cast<uint8_t>(v);
        }
}

#endif
