/*
 * halftone.h - bilevel output: the tone map, the twelve built-in halftone
 * patterns, the pattern download for a scanner that halftones itself, and
 * the driver's own binarizer for scans whose bits it makes from grey lines
 * (SoftwareBinarize). The binarizer is chosen once per scan; image reading
 * calls HalftoneState.Binarizer once per delivered line.
 */
#ifndef SCANDRV_HALFTONE_H
#define SCANDRV_HALFTONE_H

#include "scandrv.h"

#include <cstdint>

/*
 * A bilevel scan is line art (a fixed threshold) exactly when wHalftoneMode
 * has neither the built-in pattern bit (2) nor the caller's pattern bit (4)
 * set, so 0, 1 and 8 all mean threshold. The scan start decides IsLineArt
 * with this, and the halftone step picks its binarizer with it, so the
 * window, the scanner's pattern and the driver's binarizer always agree.
 */
inline bool IsThresholdMode(uint16_t wHalftoneMode)
{
    return (wHalftoneMode & (SD_HALFTONE_BUILTIN | SD_HALFTONE_CALLER)) == 0;
}

/* Writes the packed bits of one line: the first pixel in the most significant
 * bit of the first byte; a last partial byte has its unused low bits 0. */
typedef void (*LineBinarizer)(uint8_t *destination, const uint8_t *grey, uint32_t count);

constexpr uint32_t kPatternCopyBytes = 256;
constexpr uint32_t kMaxDitherSide = 16;   /* largest caller pattern the driver dithers with */
constexpr uint32_t kMaxDownloadSide = 11; /* largest caller pattern sent to the scanner */

struct HalftoneStateRecord {
    uint16_t PatternRow;                    /* pattern row of the next line; 0 after set-up */
    const uint8_t *Pattern;                 /* n x n thresholds in use, row by row */
    const uint8_t *ToneMapRef;              /* the tone map (ScanState.ToneMap) */
    uint8_t PatternCopy[kPatternCopyBytes]; /* the caller's pattern, copied for this scan */
    LineBinarizer Binarizer;                /* DitherLine or ThresholdLine, or a vector variant */
    uint16_t PatternSide;                   /* n; 0 with ThresholdLine */
    /* Set by SelectBinarizer for the vector variants, which need no tone
     * map per pixel: with a tone map that never decreases, "mapped value
     * below the cell" is "grey value at most GreyBound" for every cell a
     * grey value can fall below at all. Row r holds its cells' bounds for
     * columns 0, 1, ... n + 30 (column i is cell i mod n), so the 32 bounds
     * from any column are one load; the threshold is row 0 of side 1.
     * BoundKeep[r][c] has the 32 pixels from column c as they are packed
     * (4 bytes, first byte lowest) and clears those whose cell no grey value
     * falls below. */
    uint8_t GreyBound[kMaxDitherSide][kMaxDitherSide + 31];
    uint32_t BoundKeep[kMaxDitherSide][kMaxDitherSide];
};

extern HalftoneStateRecord HalftoneState;

/* The pattern download: the side n, then n x n cells row by row; n x n + 1
 * bytes go out. 128 bytes hold any pattern up to 11 x 11. */
struct HalftonePatternData {
    uint8_t Side;
    uint8_t Cells[127];
};

struct BuiltinPattern {
    uint8_t Side;
    const uint8_t *Cells; /* Side x Side thresholds, row by row */
};

constexpr int kBuiltinPatternCount = 12;
extern const BuiltinPattern BuiltinPatterns[kBuiltinPatternCount];

/* The halftone step of the scan start. Does nothing for grey and colour
 * scans. Returns true when set up; false with dwResult set when the pattern
 * download fails, or with -706 (SD_ERR_PARAMETER_VALUE) when the request names
 * a pattern the driver cannot use (see halftone.cpp). */
bool SetUpHalftone(ScanAttributeBlock *block);

/* Prepares HalftoneState. A built-in number 0-11 takes that pattern and
 * writes it into `download`; otherwise a caller pattern (non-null, side
 * 1-16) is copied into PatternCopy; otherwise the threshold is used. Where
 * VectorRoutinesUsable() and the tone map never decreases, the binarizer is
 * the vector variant (halftone_vector.h), which gives the same bytes. */
void SelectBinarizer(const uint8_t *toneMap, int32_t number, HalftonePatternData *download,
                     const uint8_t *callerPattern, uint32_t callerSide);

/* The two binarizers: a pixel is 1 when its tone-mapped value is below the
 * pattern cell (DitherLine, one pattern row per line, rows in turn) or below
 * 128 (ThresholdLine). */
void DitherLine(uint8_t *destination, const uint8_t *grey, uint32_t count);
void ThresholdLine(uint8_t *destination, const uint8_t *grey, uint32_t count);

#endif
