/*
 * window.cpp - SendScanWindow: the scan's area, resolution, composition,
 * depth, brightness, contrast, tone levels, lens and source, as the scanner
 * takes them in one SET WINDOW.
 */
#include "window.h"

#include "scan_state.h"
#include "scsi/byte_order.h"
#include "scsi/commands.h"

#include <cstring>

void BuildWindowList(const WindowValues &values, uint8_t *list)
{
    std::memset(list, 0, kWindowListLength);
    WriteBigEndian16(list + 6, kWindowDescriptorLength);
    WriteBigEndian16(list + 10, values.ResolutionX);
    WriteBigEndian16(list + 12, values.ResolutionY);
    WriteBigEndian32(list + 14, values.Left);
    WriteBigEndian32(list + 18, values.Top);
    WriteBigEndian32(list + 22, values.Width);
    WriteBigEndian32(list + 26, values.Length);
    list[30] = values.Brightness;
    list[31] = values.Threshold;
    list[32] = values.Contrast;
    list[33] = values.Composition;
    list[34] = values.BitsPerPixel;
    list[35] = values.Adjust;
    list[36] = values.Fixed36;
    list[38] = values.Lens;
    list[39] = values.Source;
    std::memcpy(list + 48, values.Master, 3);
    std::memcpy(list + 51, values.Groups, sizeof values.Groups);
}

int ChannelOfImageType(uint16_t imageType)
{
    return imageType == 4 ? 1 : imageType == 8 ? 2 : 0;
}

/* Shadow, midtone and highlight of channel k. Missing values default to 0,
 * 255 and the rounded mean of the two. */
static void ToneLevelsOf(const ScanAttributeBlock *block, int k, uint8_t *levels)
{
    uint32_t shadow = 0, highlight = 255, midtone;
    const uint16_t *tones = block->lpToneLevels;
    if (tones && (block->wFlags & SD_FLAG_SHADOW))
        shadow = tones[k] & 0xFF;
    if (tones && (block->wFlags & SD_FLAG_HIGHLIGHT))
        highlight = tones[6 + k] & 0xFF;
    if (tones && (block->wFlags & SD_FLAG_MIDTONE))
        midtone = tones[3 + k] & 0xFF;
    else
        midtone = (shadow + highlight + 1) / 2;
    levels[0] = static_cast<uint8_t>(shadow);
    levels[1] = static_cast<uint8_t>(midtone);
    levels[2] = static_cast<uint8_t>(highlight);
}

/* Brightness and contrast go out as value + 128, keeping the low 8 bits. */
static uint8_t Offset128(int32_t value)
{
    return static_cast<uint8_t>(static_cast<uint32_t>(value) + 128u);
}

bool SendScanWindow(ScanAttributeBlock *block)
{
    const ScanStateRecord &scan = ScanState;
    WindowValues values = {};
    values.ResolutionX = static_cast<uint16_t>(scan.ScanResolutionX);
    values.ResolutionY = static_cast<uint16_t>(scan.ScanResolutionY);

    uint32_t left = block->wLeft, top = block->wTop;
    uint32_t right = block->wRight, bottom = block->wBottom;
    /* A scanner whose origin is at the far edge counts X from there, so the
     * area's right edge becomes its left. */
    uint32_t leftMils = left;
    if (scan.ReverseX)
        leftMils = right < scan.MaxWidthMils ? scan.MaxWidthMils - right - 1 : 0;
    values.Left = leftMils * scan.BaseResolution / 1000;
    values.Top = top * scan.BaseResolution / 1000;

    /* The area is cut to the glass before and after conversion. The scan
     * start has rejected areas that begin beyond the glass or end before they
     * begin, so these differences cannot wrap. */
    uint32_t width = right - left + 1;
    if (width > scan.MaxWidthMils - left)
        width = scan.MaxWidthMils - left;
    width = width * scan.BaseResolution / 1000;
    values.Width = width > scan.MaxWidthPixels ? scan.MaxWidthPixels : width;
    uint32_t length = bottom - top + 1;
    if (length > scan.MaxLengthMils - top)
        length = scan.MaxLengthMils - top;
    length = length * scan.BaseResolution / 1000;
    values.Length = length > scan.MaxLengthPixels ? scan.MaxLengthPixels : length;

    values.Threshold = 128;
    values.Fixed36 = 128;
    uint8_t bits = static_cast<uint8_t>(scan.BitsPerPixel);
    if (scan.SoftwareBinarize) {
        /* The driver binarizes: the scanner sends 8-bit grey. */
        values.Composition = kCompositionGrey;
        bits = 8;
    } else if (scan.IsColor) {
        values.Composition = kCompositionColor;
    } else if (!scan.IsBinary) {
        values.Composition = kCompositionGrey;
    } else {
        values.Composition = scan.IsLineArt ? kCompositionThreshold : kCompositionHalftone;
    }
    values.BitsPerPixel = bits;
    values.Lens = static_cast<uint8_t>(SelectedLens);
    values.Source = scan.SourceBit2 ? 0x12 : scan.SourceBit1 ? 0x11 : 0x10;

    static const uint8_t kNeutralGroup[6] = {128, 128, 0, 0, 128, 255};
    if (scan.IsColor) {
        values.Brightness = 128;
        values.Contrast = 128;
        values.Adjust = 0;
        values.Master[0] = 0;
        values.Master[1] = 128;
        values.Master[2] = 255;
        for (int k = 0; k < 3; ++k) {
            values.Groups[k][0] = Offset128(block->lBrightness[k]);
            values.Groups[k][1] = Offset128(block->lContrast[k]);
            values.Groups[k][2] = 0;
            ToneLevelsOf(block, k, values.Groups[k] + 3);
        }
    } else {
        int c = ChannelOfImageType(block->wImageType);
        values.Brightness = Offset128(block->lBrightness[c]);
        values.Contrast = Offset128(block->lContrast[c]);
        /* Half the adjustment, divided as a signed value toward zero. */
        values.Adjust = static_cast<uint8_t>(block->lAdjust[c] / 2);
        ToneLevelsOf(block, c, values.Master);
        for (int k = 0; k < 3; ++k)
            std::memcpy(values.Groups[k], kNeutralGroup, 6);
    }

    uint8_t list[kWindowListLength];
    BuildWindowList(values, list);
    ResultCode result = SetWindow(list);
    StoreCommandResult(block, result);
    return result == SD_OK;
}
