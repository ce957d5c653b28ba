/*
 * fake_scanner.h - a scripted scanner on top of the fake adapter for tests
 * that run whole exports: it answers the parameter page, the lamp page, the
 * geometry that follows from the last window, calibration passes and image
 * lines, and records what it was sent. Tests change its pages and hooks.
 */
#ifndef SCANDRV_FAKE_SCANNER_H
#define SCANDRV_FAKE_SCANNER_H

#include "fake_adapter.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct FakeScanner {
    /* A 600 dpi colour flatbed, 5100 x 7000 pixels, threshold and halftone
     * in the scanner, whole-pixel colour lines, one lens. */
    FakeScanner();

    std::array<uint8_t, 40> Page;
    std::array<uint8_t, 9> Lamp;
    std::array<uint8_t, 37> InquiryData;

    /* What the last SET WINDOW asked for. */
    std::vector<uint8_t> Window;
    uint8_t LampControl = 0;

    /* Sample of pixel x of image line y, channel c (0 for one channel). */
    std::function<uint16_t(uint32_t x, uint32_t y, uint32_t c)> Sample;
    /* Tagged colour (line format 3): the n-th green segment comes this many
     * segments' lines after the n-th red, blue twice as many. */
    uint32_t SegmentGap = 0;
    /* The order of the segments that arrive in the same line time. */
    std::string SegmentOrder = "RGB";
    /* Lines turned right to left, as a scanner whose origin is at the far
     * edge sends them (page byte 1 bit 0 says so to the driver). */
    bool Reversed = false;
    /* End the image after this many lines with end-of-data sense. */
    int32_t EndAfterLines = -1;
    /* Called for every command before the scanner answers; may change the
     * reply (to inject failures). */
    std::function<void(const RecordedCommand &, FakeReply &)> Hook;

    void Install(); /* as the fake adapter's responder */
    FakeReply Answer(const RecordedCommand &command);

    /* The geometry of the last window. */
    uint32_t Pixels() const;
    uint32_t LineBytes() const;
    uint32_t Lines() const;
    bool Calibrating() const;

    void SetBig16(int at, uint16_t value);

    std::vector<uint8_t> RawLine(uint32_t y) const;

private:
    std::vector<uint8_t> Segment(char colour, uint32_t line) const;
    uint32_t nextLine = 0;
};

#endif
