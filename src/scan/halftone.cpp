/*
 * halftone.cpp - the halftone step of the scan start and the driver's own
 * binarizer. SetUpHalftone builds the tone map, picks the pattern (none, one
 * of the twelve built-in ones, or the caller's), and either downloads it to a
 * scanner that halftones itself or keeps it for DitherLine, which image
 * reading calls per line through HalftoneState.Binarizer.
 */
#include "halftone.h"

#include "gamma.h"
#include "halftone_vector.h"
#include "platform/vector_support.h"
#include "scan_state.h"
#include "scsi/commands.h"
#include "scsi/result.h"

#include <cstring>

/*
 * The built-in patterns, numbered as the capability list reports them. The
 * cells are the scanner's own: pattern 2 is meant as pattern 1 turned on its
 * side, but its cells are not an exact transpose of pattern 1's, and the
 * scanner and the driver must use them exactly as they stand here.
 */
static const uint8_t kPattern0[] = {
    98, 77, 49, 105, 154, 175, 203, 144,
    46, 28, 32, 84, 210, 228, 224, 168,
    70, 39, 35, 56, 182, 217, 221, 196,
    119, 42, 63, 91, 130, 214, 189, 161,
    158, 179, 207, 151, 102, 81, 53, 112,
    210, 228, 224, 172, 46, 28, 32, 88,
    186, 217, 221, 200, 74, 39, 35, 60,
    137, 214, 193, 165, 126, 42, 67, 95,
};
static const uint8_t kPattern1[] = {
    18, 32, 21, 35, 25, 39, 28, 42,
    46, 60, 49, 63, 53, 67, 56, 70,
    74, 88, 77, 91, 81, 95, 84, 98,
    102, 116, 105, 119, 109, 123, 112, 126,
    130, 144, 133, 147, 137, 151, 140, 154,
    158, 172, 161, 175, 165, 179, 168, 182,
    186, 200, 189, 203, 193, 207, 196, 210,
    214, 228, 217, 231, 221, 235, 224, 238,
};
static const uint8_t kPattern2[] = {
    18, 46, 74, 102, 130, 158, 186, 214,
    21, 49, 77, 105, 133, 161, 189, 217,
    25, 53, 81, 109, 137, 165, 193, 221,
    28, 56, 84, 112, 140, 168, 196, 224,
    32, 60, 88, 116, 144, 172, 200, 228,
    35, 63, 91, 119, 147, 175, 203, 231,
    39, 67, 95, 123, 151, 179, 207, 235,
    42, 70, 98, 126, 154, 182, 210, 238,
};
static const uint8_t kPattern3[] = {
    21, 130, 49, 158, 28, 137, 56, 165,
    186, 77, 214, 105, 193, 84, 221, 112,
    63, 172, 35, 144, 70, 179, 42, 151,
    228, 119, 200, 91, 235, 126, 207, 98,
    28, 137, 56, 165, 21, 130, 49, 158,
    193, 84, 221, 112, 186, 77, 214, 105,
    70, 179, 42, 151, 63, 172, 35, 144,
    235, 126, 207, 98, 228, 119, 200, 91,
};
static const uint8_t kPattern4[] = {
    36, 44, 52, 132, 228, 220,
    28, 20, 68, 148, 236, 212,
    116, 100, 84, 164, 180, 196,
    140, 228, 220, 36, 44, 60,
    156, 236, 212, 28, 20, 76,
    172, 188, 204, 124, 108, 92,
};
static const uint8_t kPattern5[] = {
    236, 101, 110, 119, 128,
    227, 91, 29, 38, 137,
    218, 83, 20, 47, 146,
    209, 74, 65, 56, 155,
    200, 191, 182, 173, 164,
};
static const uint8_t kPattern6[] = {
    227, 191, 119, 155, 236,
    146, 83, 56, 91, 200,
    110, 47, 20, 29, 128,
    182, 74, 38, 65, 164,
    218, 137, 101, 173, 209,
};
static const uint8_t kPattern7[] = {
    107, 121, 135, 149,
    93, 23, 37, 163,
    79, 65, 51, 177,
    233, 219, 205, 191,
};
static const uint8_t kPattern8[] = {
    149, 135, 107, 65,
    121, 93, 51, 191,
    79, 37, 177, 219,
    23, 163, 205, 233,
};
static const uint8_t kPattern9[] = {
    219, 163, 107, 233,
    93, 37, 51, 177,
    149, 23, 65, 121,
    205, 79, 135, 191,
};
static const uint8_t kPattern10[] = {
    40, 150, 84,
    216, 128, 172,
    106, 194, 62,
};
static const uint8_t kPattern11[] = {
    44, 212,
    156, 100,
};

const BuiltinPattern BuiltinPatterns[kBuiltinPatternCount] = {
    {8, kPattern0}, {8, kPattern1}, {8, kPattern2}, {8, kPattern3}, {6, kPattern4},  {5, kPattern5},
    {5, kPattern6}, {4, kPattern7}, {4, kPattern8}, {4, kPattern9}, {3, kPattern10}, {2, kPattern11},
};

static_assert(sizeof(HalftonePatternData) == 128, "the pattern download buffer is 128 bytes");
static_assert(kMaxDownloadSide * kMaxDownloadSide + 1 <= sizeof(HalftonePatternData),
              "the largest downloaded pattern fits the buffer");
static_assert(kMaxDitherSide * kMaxDitherSide <= kPatternCopyBytes,
              "the largest dithered pattern fits PatternCopy");

/* ThresholdLine's cell: mapped values below it give 1. */
static constexpr uint8_t kLineArtThreshold = 128;

HalftoneStateRecord HalftoneState = {0, nullptr, ScanState.ToneMap, {}, ThresholdLine, 0, {}, {}};

/* Packs one line, eight pixels to a byte from the most significant bit. A
 * pixel is 1 when its tone-mapped value is below the threshold that
 * nextThreshold() gives for it; it is called once per pixel, in order. */
template <typename NextThreshold>
static void PackLine(uint8_t *destination, const uint8_t *grey, uint32_t count,
                     const uint8_t *toneMap, NextThreshold nextThreshold)
{
    uint32_t bits = 0;
    for (uint32_t x = 0; x < count; ++x) {
        bits = (bits << 1) | (toneMap[grey[x]] < nextThreshold() ? 1u : 0u);
        if ((x & 7) == 7) {
            *destination++ = static_cast<uint8_t>(bits);
            bits = 0;
        }
    }
    if (count & 7)
        *destination = static_cast<uint8_t>(bits << (8 - (count & 7)));
}

void DitherLine(uint8_t *destination, const uint8_t *grey, uint32_t count)
{
    const uint32_t side = HalftoneState.PatternSide;
    const uint8_t *row = HalftoneState.Pattern + HalftoneState.PatternRow * side;
    uint32_t column = 0;
    PackLine(destination, grey, count, HalftoneState.ToneMapRef, [&] {
        uint8_t threshold = row[column];
        if (++column == side)
            column = 0;
        return threshold;
    });
    /* Each line starts at column 0 of the next row. */
    if (++HalftoneState.PatternRow == side)
        HalftoneState.PatternRow = 0;
}

void ThresholdLine(uint8_t *destination, const uint8_t *grey, uint32_t count)
{
    PackLine(destination, grey, count, HalftoneState.ToneMapRef, [] { return kLineArtThreshold; });
}

#if defined(SCANDRV_HAVE_AVX2)
/*
 * Turns the scan's cells into the grey bounds of the vector binarizers
 * (see halftone.h). A tone map that never decreases maps a grey value
 * below a cell T exactly when the grey value is below G(T), the least grey
 * value it maps to T or more (256 if none), that is at most G(T) - 1. G(T) = 0
 * means no grey value gives 1 there: the bound is 0 and BoundKeep clears
 * the pixel. G(T) = 256 is bound 255, which every grey value meets.
 * Returns false, leaving the plain routines to the scan, when the tone map
 * decreases somewhere.
 */
static bool SetGreyBounds(const uint8_t *toneMap, const uint8_t *cells, uint32_t side)
{
    for (uint32_t g = 1; g < 256; ++g) {
        if (toneMap[g] < toneMap[g - 1])
            return false;
    }
    uint16_t least[256];
    uint32_t g = 0;
    for (uint32_t t = 0; t < 256; ++t) {
        while (g < 256 && toneMap[g] < t)
            ++g;
        least[t] = static_cast<uint16_t>(g);
    }
    for (uint32_t r = 0; r < side; ++r) {
        const uint8_t *row = cells + r * side;
        for (uint32_t i = 0; i < side + 31; ++i) {
            const uint32_t bound = least[row[i % side]];
            HalftoneState.GreyBound[r][i] = static_cast<uint8_t>(bound == 0 ? 0 : bound - 1);
        }
        for (uint32_t c = 0; c < side; ++c) {
            uint32_t keep = 0;
            for (uint32_t i = 0; i < 32; ++i) {
                if (least[row[(c + i) % side]] != 0)
                    keep |= 1u << ((i & ~7u) | (7 - (i & 7)));
            }
            HalftoneState.BoundKeep[r][c] = keep;
        }
    }
    return true;
}
#endif

LineBinarizer VectorVariant(LineBinarizer plain)
{
#if defined(SCANDRV_HAVE_AVX2)
    if (plain == DitherLine)
        return DitherLineAvx2;
    if (plain == ThresholdLine)
        return ThresholdLineAvx2;
#else
    (void)plain;
#endif
    return nullptr;
}

/* The vector variant of the plain binarizer just picked, where it runs and
 * the tone map allows it. */
static void PickVectorBinarizer(const uint8_t *toneMap)
{
#if defined(SCANDRV_HAVE_AVX2)
    if (!VectorRoutinesUsable())
        return;
    const bool dither = HalftoneState.Binarizer == DitherLine;
    if (dither ? SetGreyBounds(toneMap, HalftoneState.Pattern, HalftoneState.PatternSide)
               : SetGreyBounds(toneMap, &kLineArtThreshold, 1))
        HalftoneState.Binarizer = VectorVariant(HalftoneState.Binarizer);
#else
    (void)toneMap;
#endif
}

void SelectBinarizer(const uint8_t *toneMap, int32_t number, HalftonePatternData *download,
                     const uint8_t *callerPattern, uint32_t callerSide)
{
    HalftoneState.ToneMapRef = toneMap;
    uint32_t side = 0;
    if (number >= 0 && number < kBuiltinPatternCount) {
        const BuiltinPattern &builtin = BuiltinPatterns[number];
        side = builtin.Side;
        HalftoneState.Pattern = builtin.Cells;
        HalftoneState.Binarizer = DitherLine;
        if (download) {
            download->Side = builtin.Side;
            std::memcpy(download->Cells, builtin.Cells, side * side);
        }
    } else if (callerPattern && callerSide != 0 && callerSide <= kMaxDitherSide) {
        /* The caller's pattern is copied: its buffer is only the caller's
         * while the start runs, the scan's lines come later. */
        side = callerSide;
        std::memcpy(HalftoneState.PatternCopy, callerPattern, side * side);
        HalftoneState.Pattern = HalftoneState.PatternCopy;
        HalftoneState.Binarizer = DitherLine;
    } else {
        HalftoneState.Pattern = nullptr;
        HalftoneState.Binarizer = ThresholdLine;
    }
    HalftoneState.PatternSide = static_cast<uint16_t>(side);
    HalftoneState.PatternRow = 0;
    PickVectorBinarizer(toneMap);
}

/* ToneMap[k] = the caller's table at input level k: tables longer than 256
 * entries span the same input range, so every 4th, 16th or 256th entry. */
static void BuildToneMap(const ScanAttributeBlock *block)
{
    const uint8_t *table = static_cast<const uint8_t *>(block->lpGammaTable);
    if (!(block->wFlags & SD_FLAG_GAMMA) || !table) {
        for (uint32_t k = 0; k < 256; ++k)
            ScanState.ToneMap[k] = static_cast<uint8_t>(k);
        return;
    }
    const uint32_t step = CallerGammaEntries(block->wGammaScale) / 256;
    for (uint32_t k = 0; k < 256; ++k)
        ScanState.ToneMap[k] = table[k * step];
}

/* A request the driver cannot carry out: the binarizer is left on the
 * threshold so no stale pattern survives, and the start stops with -706
 * (high half 0, like the results of the other steps of the start). */
static bool RejectPattern(ScanAttributeBlock *block)
{
    SelectBinarizer(ScanState.ToneMap, -1, nullptr, nullptr, 0);
    StoreCommandResult(block, SD_ERR_PARAMETER_VALUE);
    return false;
}

bool SetUpHalftone(ScanAttributeBlock *block)
{
    if (!ScanState.IsBinary)
        return true;
    BuildToneMap(block);

    if (IsThresholdMode(block->wHalftoneMode)) {
        SelectBinarizer(ScanState.ToneMap, -1, nullptr, nullptr, 0);
        return true;
    }

    const bool software = ScanState.SoftwareBinarize != 0;
    HalftonePatternData data = {};
    uint32_t side;
    if (block->wHalftoneMode & SD_HALFTONE_CALLER) {
        /* The caller's pattern must exist and fit: 256 bytes of PatternCopy
         * when the driver dithers, 128 bytes of download (and a side that
         * is one byte) when the scanner does. Anything else is refused
         * rather than read or written past its end. */
        side = block->wPatternSize;
        const uint32_t limit = software ? kMaxDitherSide : kMaxDownloadSide;
        if (!block->lpPattern || side == 0 || side > limit)
            return RejectPattern(block);
        if (software) {
            SelectBinarizer(ScanState.ToneMap, -1, nullptr, block->lpPattern, side);
            return true;
        }
        data.Side = static_cast<uint8_t>(side);
        std::memcpy(data.Cells, block->lpPattern, side * side);
    } else {
        /* A number past the built-in patterns: the driver's binarizer falls
         * back to the threshold, but a scanner set up to halftone has no
         * threshold to fall back to (its window already asks for a
         * pattern), and there is no pattern to send it, so that start is
         * refused. */
        const int32_t number = block->wHalftonePattern;
        if (number >= kBuiltinPatternCount && !software)
            return RejectPattern(block);
        SelectBinarizer(ScanState.ToneMap, number, &data, nullptr, 0);
        if (software)
            return true;
        side = data.Side;
    }

    ResultCode rc = SendHalftonePattern(&data, side * side + 1);
    StoreCommandResult(block, rc);
    return rc == SD_OK;
}
