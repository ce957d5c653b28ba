/*
 * fake_driver.cpp - a scripted stand-in for libscandrv.so (scan --driver): a
 * 300 dpi colour flatbed delivering fake_image.h's image, scripted by the
 * SCAN_FAKE_* variables below. SCAN_FAKE_BILEVEL_DPI makes bilevel lines at
 * another resolution than asked, as some scanners do.
 */
#include "fake_image.h"
#include "scandrv.h"

#include <time.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr uint16_t kBase = 300, kGlassWidth = 8500, kGlassLength = 11700; /* dpi, 1/1000 inch */

struct {
    bool Active = false;
    unsigned Channels = 3, Depth = 8;
    uint32_t Pixels = 0, Lines = 0, LineBytes = 0, Next = 0;
} Scan;

uint16_t LampState = SD_LAMP_1;
uint32_t LampTimer = 900;

long EnvNumber(const char *name, long fallback)
{
    const char *text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtol(text, nullptr, 10) : fallback;
}

bool GreyOnly() { return std::getenv("SCAN_FAKE_GREY_ONLY") != nullptr; }

__attribute__((format(printf, 1, 2))) void Log(const char *format, ...)
{
    const char *path = std::getenv("SCAN_FAKE_LOG");
    FILE *file = path != nullptr ? std::fopen(path, "a") : nullptr;
    if (file == nullptr)
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(file, format, args);
    va_end(args);
    std::fputc('\n', file);
    std::fclose(file);
}

template <typename Block> void SetResult(Block *block, long code)
{
    block->dwResult = static_cast<uint32_t>(static_cast<int32_t>(code));
}

uint32_t Extent(uint16_t from, uint16_t to, long dpi)
{
    return static_cast<uint32_t>(((to - from + 1L) * dpi + 500) / 1000);
}

} // namespace

extern "C" {

SCANDRV_API void SCANDRV_CALL vInitializeScanner(InitBlock *b)
{
    SetResult(b, SD_OK);
}

SCANDRV_API void SCANDRV_CALL vDefaultAttribute(ScanAttributeBlock *b)
{
    std::memset(reinterpret_cast<uint8_t *>(b) + 10, 0, sizeof *b - 10); /* all but the header */
    b->wWidth = kGlassWidth;
    b->wLength = kGlassLength;
    b->wImageType = GreyOnly() ? SD_IMAGE_RED : SD_IMAGE_COLOR;
    b->wResolution = kBase;
    SetResult(b, SD_OK);
}

SCANDRV_API void SCANDRV_CALL vScannerCapability(CapabilityBlock *b)
{
    if (b->lpResolutionList != nullptr) /* 3, 6, ... 300, then 306 ... 600 */
        for (uint16_t i = 0; i < 150; ++i)
            b->lpResolutionList[i] = static_cast<uint16_t>(i < 100 ? 3 * (i + 1) : kBase + 6 * (i - 99));
    static const uint16_t patterns[12] = {0x8800, 0x8801, 0x8802, 0x8803, 0x6604, 0x5505,
                                          0x5506, 0x4407, 0x4408, 0x4409, 0x330A, 0x220B};
    for (int i = 0; b->lpPatternList != nullptr && i < 12; ++i)
        b->lpPatternList[i] = patterns[i];
    b->wSources = SD_SOURCE_FLATBED | SD_SOURCE_ALT1;
    SetResult(b, SD_OK);
}

SCANDRV_API void SCANDRV_CALL vScannerStartScan(ScanAttributeBlock *b)
{
    Log("start type=%u bits=%u", unsigned{b->wImageType}, unsigned{b->wBitsPerPixel});
    if ((b->wFlags & (SD_FLAG_SHADOW | SD_FLAG_MIDTONE | SD_FLAG_HIGHLIGHT)) && b->lpToneLevels != nullptr) {
        const uint16_t *t = b->lpToneLevels;
        Log("tones flags=%u shadow %u %u %u midtone %u %u %u highlight %u %u %u", b->wFlags & 7u, t[0], t[1], t[2], t[3],
            t[4], t[5], t[6], t[7], t[8]);
    }
    if ((b->wFlags & SD_FLAG_GAMMA) && b->lpGammaTable != nullptr && b->wBitsPerPixel <= 8) {
        const uint8_t *table = static_cast<const uint8_t *>(b->lpGammaTable);
        Log("gamma scale=%u entries 0:%u 255:%u", unsigned{b->wGammaScale}, unsigned{table[0]}, unsigned{table[255]});
    }
    long result = EnvNumber("SCAN_FAKE_START_RESULT", SD_OK);
    if (result == SD_OK && b->wImageType == SD_IMAGE_COLOR && GreyOnly())
        result = SD_ERR_NO_COLOR;
    SetResult(b, result);
    if (result != SD_OK)
        return;
    Scan.Channels = b->wImageType == SD_IMAGE_COLOR ? 3 : 1;
    Scan.Depth = b->wBitsPerPixel;
    Scan.Pixels = Extent(b->wLeft, b->wRight, b->wResolution);
    Scan.Lines = Extent(b->wTop, b->wBottom, b->wResolution);
    if (Scan.Depth == 1) {
        Scan.Pixels = Extent(b->wLeft, b->wRight, EnvNumber("SCAN_FAKE_BILEVEL_DPI", b->wResolution));
        Scan.LineBytes = (Scan.Pixels + 7) / 8;
        b->wWidth = static_cast<uint16_t>(Scan.LineBytes);
    } else {
        Scan.LineBytes = Scan.Pixels * Scan.Channels * (Scan.Depth > 8 ? 2 : 1);
        b->wWidth = static_cast<uint16_t>(Scan.Pixels);
    }
    b->wLength = static_cast<uint16_t>(Scan.Lines);
    Scan.Next = 0;
    Scan.Active = true;
}

SCANDRV_API void SCANDRV_CALL vScannerGetImage(ImageDataBlock *b)
{
    if (!Scan.Active || b->lpImageBuffer == nullptr)
        return SetResult(b, SD_ERR_NOT_SCANNING);
    long delay = EnvNumber("SCAN_FAKE_DELAY_MS", 0);
    struct timespec pause = {delay / 1000, (delay % 1000) * 1000000L};
    nanosleep(&pause, nullptr);
    uint32_t n = std::min(uint32_t{b->dwRequestLines}, Scan.Lines - Scan.Next); /* a copy: the block is packed */
    Log("get %u lines from %u", n, Scan.Next);
    long failLine = EnvNumber("SCAN_FAKE_FAIL_LINE", -1);
    if (failLine >= 0 && Scan.Next + n > static_cast<uint32_t>(failLine))
        return SetResult(b, SD_ERR_ADAPTER);
    for (uint32_t i = 0; i < n; ++i)
        FillFakeLine(b->lpImageBuffer + size_t{i} * Scan.LineBytes, Scan.Next + i, Scan.Pixels, Scan.Channels, Scan.Depth);
    Scan.Next += n;
    b->dwReturnLines = n;
    b->dwRemainLines = Scan.Lines - Scan.Next;
    Scan.Active = Scan.Next < Scan.Lines;
    SetResult(b, SD_OK);
}

SCANDRV_API void SCANDRV_CALL vScannerAbortScan(ParamBlock *b)
{
    Log("abort active=%u", Scan.Active ? 1u : 0u);
    Scan.Active = false;
    SetResult(b, SD_OK);
}

SCANDRV_API int32_t SCANDRV_CALL vPaperReady(void)
{
    return Scan.Active ? 200 : 3 | (2 << 9);
}

SCANDRV_API void SCANDRV_CALL vScannerMutiLens(LensBlock *b)
{
    SetResult(b, b->wLens == 0 ? SD_OK : SD_ERR_LENS_OR_IDENTIFY);
}

SCANDRV_API void SCANDRV_CALL vGetLampStatus(LampBlock *b)
{
    b->wLampState = LampState;
    b->dwLampTimer = LampTimer;
    SetResult(b, SD_OK);
}

SCANDRV_API void SCANDRV_CALL vSetLampStatus(LampBlock *b)
{
    Log("set lamps state=%u timer=%u", unsigned{b->wLampState}, unsigned{b->dwLampTimer});
    LampState = b->wLampState;
    LampTimer = (b->dwLampTimer + 30) / 60 * 60;
    SetResult(b, SD_OK);
}

} // extern "C"
