/*
 * page_number.h - reads back the page number the virtual scanner draws on
 * each page of its document feeder (seven-segment digits at a fixed place,
 * see sim_chart.h), from a grey image of known resolution and origin. Used
 * by the simulator's feeder tests and by the end-to-end tests of batches.
 */
#ifndef TESTS_PAGE_NUMBER_H
#define TESTS_PAGE_NUMBER_H

#include "sim_chart.h"

#include <cstddef>
#include <cstdint>
#include <functional>

/* The number on the page, or -1 when a digit position shows a pattern that
 * is no digit or a segment centre lies outside the image. sample(x, y)
 * gives the 8-bit grey value of pixel x of line y; the image is width x
 * lines pixels at dpi, its first pixel at (originX, originY) chart units. */
inline long ReadPageNumber(const std::function<uint8_t(uint32_t, uint32_t)> &sample, uint32_t width,
                           uint32_t lines, unsigned dpi, int64_t originX = 0, int64_t originY = 0)
{
    long number = 0;
    unsigned position = 0;
    for (; position < kPageDigits; ++position) {
        uint8_t segments = 0;
        for (unsigned s = 0; s < 7; ++s) {
            int64_t x, y;
            PageSegmentCentre(position, s, x, y);
            int64_t px = (x - originX) * dpi / kUnitsPerInch, py = (y - originY) * dpi / kUnitsPerInch;
            if (px < 0 || py < 0 || px >= width || py >= lines)
                return -1;
            if (sample(static_cast<uint32_t>(px), static_cast<uint32_t>(py)) < 128)
                segments |= static_cast<uint8_t>(1u << s);
        }
        if (segments == 0)
            break;
        int digit = -1;
        for (int d = 0; d < 10; ++d)
            if (kSevenSegments[d] == segments)
                digit = d;
        if (digit < 0)
            return -1;
        number = number * 10 + digit;
    }
    return position == 0 ? -1 : number;
}

#endif
