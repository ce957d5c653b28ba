/*
 * mirror.h - turning raw lines around in place, for scanners whose X origin
 * lies at the far edge of the glass. Image reading calls it right after each
 * READ, so everything downstream sees lines left to right.
 */
#ifndef SCANDRV_MIRROR_H
#define SCANDRV_MIRROR_H

#include <array>
#include <cstdint>

/* The raw line layouts, as the selector of MirrorLines. */
enum MirrorLayout : int32_t {
    kMirrorBinary = 0,      /* 1 bit per pixel, 8 to a byte, first pixel in the top bit */
    kMirrorSingle = 1,      /* one sample per pixel */
    kMirrorTagged = 2,      /* three segments a line: 2-byte colour tag, then samples */
    kMirrorWholePixel = 3,  /* three samples side by side per pixel */
};

/* Entry v is v with its eight bits in reverse order. */
extern const std::array<uint8_t, 256> BitReversal;

/* Mirrors lines lines of pixels pixels each, lineBytes apart from first on,
 * in the layout of the selector. Samples are 2 bytes when sampleBits is above
 * 8 (signed), else 1. Bytes behind the mirrored stretch are not touched; a
 * stretch never reaches past its line (or segment). Unknown selectors do
 * nothing. */
void MirrorLines(int32_t selector, int32_t sampleBits, uint32_t pixels, uint32_t lineBytes,
                 uint32_t lines, uint8_t *first);

#endif
