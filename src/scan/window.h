/*
 * window.h - the 69-byte window parameter list that tells the scanner what
 * to scan, built in one place for scans and for the calibration passes.
 */
#ifndef SCANDRV_WINDOW_H
#define SCANDRV_WINDOW_H

#include "scandrv.h"

#include <cstdint>

constexpr uint32_t kWindowDescriptorLength = 61;

/* Window compositions. */
enum : uint8_t { kCompositionThreshold = 0, kCompositionHalftone = 1, kCompositionGrey = 2,
                 kCompositionColor = 5 };

/* Everything that varies between windows; the builder lays it out. */
struct WindowValues {
    uint16_t ResolutionX, ResolutionY; /* dpi */
    uint32_t Left, Top;                /* upper left, pixels and lines at base resolution */
    uint32_t Width, Length;            /* pixels and lines at base resolution */
    uint8_t Brightness, Threshold, Contrast;
    uint8_t Composition, BitsPerPixel;
    uint8_t Adjust, Fixed36;
    uint8_t Lens, Source;
    uint8_t Master[3];                 /* shadow, midtone, highlight of a one-channel scan */
    uint8_t Groups[3][6];              /* red, green, blue: brightness, contrast, 0, tone levels */
};

/* Lays the values out as the window parameter list (big-endian numbers). */
void BuildWindowList(const WindowValues &values, uint8_t *list);

/* Builds the scan's window from the caller's block and the ScanState, sends
 * it with SET WINDOW, stores the result in dwResult; true when it is 1. */
bool SendScanWindow(ScanAttributeBlock *block);

/* The channel a one-channel scan takes its settings from: image types 1 and
 * 2 give red (0), 4 green (1), 8 blue (2). Other types are rejected at the
 * scan start, before any window is built. */
int ChannelOfImageType(uint16_t imageType);

#endif
