/*
 * fake_driver.cpp - a scripted stand-in for libscandrv.so, loaded by the
 * scan command with --driver in the command's end-to-end tests. It exports
 * the ten functions, reports a 300 dpi colour flatbed, and delivers the
 * image of fake_image.h in the geometry the real driver computes from the
 * area and resolution. Environment variables script its failures:
 *
 *   SCAN_FAKE_LOG          append one line per start, get and abort call
 *   SCAN_FAKE_GREY_ONLY    report no colour, refuse colour scans with -308
 *   SCAN_FAKE_INIT_RESULT  result code of vInitializeScanner
 *   SCAN_FAKE_START_RESULT result code of vScannerStartScan
 *   SCAN_FAKE_FAIL_LINE    vScannerGetImage fails (-1004) once it reaches this line
 *   SCAN_FAKE_DELAY_MS     milliseconds each vScannerGetImage takes
 *   SCAN_FAKE_BILEVEL_DPI  bilevel lines are made at this resolution, as a
 *                          scanner does whose window differs from the request
 */
#include "fake_image.h"
#include "scandrv.h"

#include <time.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint16_t kBase = 300;
constexpr uint16_t kGlassWidthMils = 8500;
constexpr uint16_t kGlassLengthMils = 11700;

struct Scan {
    bool Active = false;
    unsigned Channels = 3;
    unsigned Depth = 8;
    uint32_t Pixels = 0;
    uint32_t Lines = 0;
    uint32_t LineBytes = 0;
    uint32_t Next = 0;
} TheScan;

LampBlock Lamps = [] {
    LampBlock lamp{};
    lamp.wLampState = SD_LAMP_1;
    lamp.dwLampTimer = 900;
    return lamp;
}();

long EnvNumber(const char *name, long fallback)
{
    const char *text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtol(text, nullptr, 10) : fallback;
}

__attribute__((format(printf, 1, 2))) void Log(const char *format, ...)
{
    const char *path = std::getenv("SCAN_FAKE_LOG");
    if (path == nullptr)
        return;
    if (FILE *file = std::fopen(path, "a")) {
        va_list args;
        va_start(args, format);
        std::vfprintf(file, format, args);
        va_end(args);
        std::fputc('\n', file);
        std::fclose(file);
    }
}

bool GreyOnly()
{
    return std::getenv("SCAN_FAKE_GREY_ONLY") != nullptr;
}

template <typename Block> void SetResult(Block *block, long code)
{
    block->dwResult = static_cast<uint32_t>(static_cast<int32_t>(code));
}

void FillLine(uint8_t *out, uint32_t y)
{
    const Scan &s = TheScan;
    if (s.Depth == 1) {
        std::memset(out, 0, s.LineBytes);
        for (uint32_t x = 0; x < s.Pixels; ++x)
            if (FakeBlack(x, y))
                out[x / 8] = static_cast<uint8_t>(out[x / 8] | (0x80 >> (x % 8)));
        return;
    }
    for (uint32_t x = 0; x < s.Pixels; ++x)
        for (unsigned c = 0; c < s.Channels; ++c) {
            size_t i = static_cast<size_t>(x) * s.Channels + c;
            if (s.Depth == 16) {
                uint16_t v = FakeSample16(x, y, c);
                std::memcpy(out + 2 * i, &v, 2); /* host order, as the driver delivers */
            } else {
                out[i] = FakeSample8(x, y, c);
            }
        }
}

} // namespace

extern "C" {

SCANDRV_API void SCANDRV_CALL vInitializeScanner(InitBlock *b)
{
    b->wModelValue = 255;
    b->wDeviceKind = 1 | 0x40;
    b->wFirmwareVersion = 0x0102;
    SetResult(b, EnvNumber("SCAN_FAKE_INIT_RESULT", SD_OK));
}

SCANDRV_API void SCANDRV_CALL vDefaultAttribute(ScanAttributeBlock *b)
{
    std::memset(reinterpret_cast<uint8_t *>(b) + 10, 0, sizeof *b - 10);
    b->wWidth = kGlassWidthMils;
    b->wLength = kGlassLengthMils;
    b->wImageType = GreyOnly() ? SD_IMAGE_RED : SD_IMAGE_COLOR;
    b->wScanSource = SD_SOURCE_FLATBED;
    b->wBitsPerPixel = 8;
    b->wHalftoneMode = SD_HALFTONE_THRESHOLD;
    b->wHalftonePattern = 5;
    b->wResolution = kBase;
    b->wRight = kGlassWidthMils - 1;
    b->wBottom = kGlassLengthMils - 1;
    b->wReserved3 = 8;
    b->wReserved4 = 1;
    b->wReserved5 = 2;
    b->wFlags = SD_FLAG_DEFAULT;
    SetResult(b, SD_OK);
}

SCANDRV_API void SCANDRV_CALL vScannerCapability(CapabilityBlock *b)
{
    for (int i = 0; i < 256; ++i) {
        b->lpContrastList[i] = i - 128;
        b->lpBrightnessList[i] = i - 128;
        b->lpAdjustList[i] = static_cast<uint32_t>(2 * i);
    }
    uint16_t r = kBase / 100;
    if (b->lpResolutionList != nullptr)
        for (uint16_t i = 0; i < 150; ++i)
            b->lpResolutionList[i] = static_cast<uint16_t>(i < 100 ? r * (i + 1) : kBase + 2 * r * (i - 99));
    static const uint16_t patterns[12] = {0x8800, 0x8801, 0x8802, 0x8803, 0x6604, 0x5505,
                                          0x5506, 0x4407, 0x4408, 0x4409, 0x330A, 0x220B};
    if (b->lpPatternList != nullptr)
        std::memcpy(b->lpPatternList, patterns, sizeof patterns);
    b->wMaxResolutionX = 2 * kBase;
    b->wImageTypes = GreyOnly() ? 1 : 15;
    b->wSources = SD_SOURCE_FLATBED | SD_SOURCE_ALT1;
    b->wMaxWidth = kGlassWidthMils;
    b->wMaxLength = kGlassLengthMils;
    b->wLensCount = 1;
    SetResult(b, SD_OK);
}

SCANDRV_API void SCANDRV_CALL vScannerStartScan(ScanAttributeBlock *b)
{
    Log("start type=%u bits=%u", unsigned{b->wImageType}, unsigned{b->wBitsPerPixel});
    if ((b->wFlags & SD_FLAG_GAMMA) && b->lpGammaTable != nullptr && b->wBitsPerPixel <= 8) {
        const uint8_t *table = static_cast<const uint8_t *>(b->lpGammaTable);
        Log("gamma scale=%u entries 0:%u 255:%u", unsigned{b->wGammaScale}, unsigned{table[0]}, unsigned{table[255]});
    }
    long forced = EnvNumber("SCAN_FAKE_START_RESULT", SD_OK);
    if (forced != SD_OK) {
        SetResult(b, forced);
        return;
    }
    if (b->wImageType == SD_IMAGE_COLOR && GreyOnly()) {
        SetResult(b, SD_ERR_NO_COLOR);
        return;
    }
    Scan &s = TheScan;
    s.Channels = b->wImageType == SD_IMAGE_COLOR ? 3 : 1;
    s.Depth = b->wBitsPerPixel;
    s.Pixels = ((static_cast<uint32_t>(b->wRight) - b->wLeft + 1) * b->wResolution + 500) / 1000;
    s.Lines = ((static_cast<uint32_t>(b->wBottom) - b->wTop + 1) * b->wResolution + 500) / 1000;
    if (s.Depth == 1) {
        long scannerDpi = EnvNumber("SCAN_FAKE_BILEVEL_DPI", 0);
        if (scannerDpi > 0)
            s.Pixels = ((static_cast<uint32_t>(b->wRight) - b->wLeft + 1) * static_cast<uint32_t>(scannerDpi) + 500) / 1000;
        s.LineBytes = (s.Pixels + 7) / 8;
        b->wWidth = static_cast<uint16_t>(s.LineBytes);
    } else {
        s.LineBytes = s.Pixels * s.Channels * (s.Depth > 8 ? 2 : 1);
        b->wWidth = static_cast<uint16_t>(s.Pixels);
    }
    b->wLength = static_cast<uint16_t>(s.Lines);
    s.Next = 0;
    s.Active = true;
    SetResult(b, SD_OK);
}

SCANDRV_API void SCANDRV_CALL vScannerGetImage(ImageDataBlock *b)
{
    Scan &s = TheScan;
    if (!s.Active || b->lpImageBuffer == nullptr) {
        SetResult(b, SD_ERR_NOT_SCANNING);
        return;
    }
    long delay = EnvNumber("SCAN_FAKE_DELAY_MS", 0);
    if (delay > 0) {
        struct timespec pause = {delay / 1000, (delay % 1000) * 1000000L};
        nanosleep(&pause, nullptr);
    }
    uint32_t n = b->dwRequestLines;
    if (n > s.Lines - s.Next)
        n = s.Lines - s.Next;
    long failLine = EnvNumber("SCAN_FAKE_FAIL_LINE", -1);
    Log("get %u lines from %u", n, s.Next);
    for (uint32_t i = 0; i < n; ++i) {
        if (failLine >= 0 && s.Next + i >= static_cast<uint32_t>(failLine)) {
            SetResult(b, SD_ERR_ADAPTER);
            return;
        }
        FillLine(b->lpImageBuffer + static_cast<size_t>(i) * s.LineBytes, s.Next + i);
    }
    s.Next += n;
    b->dwReturnLines = n;
    b->dwRemainLines = s.Lines - s.Next;
    if (s.Next == s.Lines)
        s.Active = false;
    SetResult(b, SD_OK);
}

SCANDRV_API void SCANDRV_CALL vScannerAbortScan(ParamBlock *b)
{
    Log("abort active=%u", TheScan.Active ? 1u : 0u);
    TheScan.Active = false;
    SetResult(b, SD_OK);
}

SCANDRV_API int32_t SCANDRV_CALL vPaperReady(void)
{
    return TheScan.Active ? 200 : 3 | (2 << 9);
}

SCANDRV_API void SCANDRV_CALL vScannerMutiLens(LensBlock *b)
{
    SetResult(b, b->wLens == 0 ? SD_OK : SD_ERR_LENS_OR_IDENTIFY);
}

SCANDRV_API void SCANDRV_CALL vGetLampStatus(LampBlock *b)
{
    b->wLampState = Lamps.wLampState;
    b->dwLampTimer = Lamps.dwLampTimer;
    SetResult(b, SD_OK);
}

SCANDRV_API void SCANDRV_CALL vSetLampStatus(LampBlock *b)
{
    Log("set lamps state=%u timer=%u", unsigned{b->wLampState}, unsigned{b->dwLampTimer});
    Lamps.wLampState = b->wLampState;
    Lamps.dwLampTimer = (b->dwLampTimer + 30) / 60 * 60;
    SetResult(b, SD_OK);
}

} // extern "C"
