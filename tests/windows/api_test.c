/*
 * api_test.c - SCANDRV.DLL as a Windows application sees it. The program
 * loads the driver with LoadLibrary (the virtual scanner, BUSLNK32.DLL
 * beside it, comes in as the driver's import), finds every export by name
 * and by ordinal, and calls each through a WINAPI function pointer: the
 * blocks' fields land where an application reads them, the lamp-on clock
 * and the busy wait run on the Windows clock and sleep, and scans of each
 * kind deliver the chart. The driver's logic itself is checked by the unit
 * tests; this is what only the Windows build can get wrong. It runs under
 * Wine on the 64-bit build and is compiled on the 32-bit one.
 *
 * Prints one line per failed check, "ok" with a count when all pass, and
 * exits with 1 if any check failed.
 */
#include "scandrv.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef void(WINAPI *InitializeFn)(InitBlock *);
typedef void(WINAPI *CapabilityFn)(CapabilityBlock *);
typedef void(WINAPI *AttributeFn)(ScanAttributeBlock *);
typedef void(WINAPI *GetImageFn)(ImageDataBlock *);
typedef void(WINAPI *AbortFn)(ParamBlock *);
typedef int32_t(WINAPI *PaperReadyFn)(void);
typedef void(WINAPI *LensFn)(LensBlock *);
typedef void(WINAPI *LampFn)(LampBlock *);
typedef int(WINAPI *SimConfigureFn)(const char *, const char *);

/* The exports at ordinals 2 to 11, in this order. */
static const char *const ExportNames[10] = {
    "vInitializeScanner", "vScannerCapability", "vDefaultAttribute", "vScannerStartScan", "vScannerGetImage",
    "vScannerAbortScan",  "vPaperReady",        "vScannerMutiLens",  "vGetLampStatus",    "vSetLampStatus",
};
enum { INIT, CAPS, DEFAULTS, START, GET, ABORT, PAPER, LENS, GET_LAMP, SET_LAMP };
static FARPROC Export[10];
static SimConfigureFn SimConfigure;

/* A call through its real type; void (*)(void) is the type a function
 * pointer passes through on its way from GetProcAddress. */
#define CALL(index, type, ...) ((type)(void (*)(void))Export[index])(__VA_ARGS__)

static int Checks, Failures;

#define CHECK(cond, ...)                                                          \
    do {                                                                          \
        ++Checks;                                                                 \
        if (!(cond)) {                                                            \
            ++Failures;                                                           \
            printf("FAIL %s:%d: %s: ", __FILE__, __LINE__, #cond);                \
            printf(__VA_ARGS__);                                                  \
            printf("\n");                                                         \
        }                                                                         \
    } while (0)

/* The result code in dwResult: the low 16 bits, signed. */
#define CODE(block) ((int)(int16_t)((block).dwResult & 0xFFFF))
#define CHECK_RESULT(block, expected) CHECK(CODE(block) == (expected), "result %d, expected %d", CODE(block), (expected))

static void Configure(const char *key, const char *value)
{
    int rc = SimConfigure(key, value);
    CHECK(rc == 0, "the virtual scanner refused %s=%s (%d)", key, value, rc);
}

/* Every export by name and by ordinal: the same address, nothing at
 * ordinals 1 and 12 nor under a decorated name. The adapter came in from
 * the driver's directory, its entry points there by ordinal only. */
static int ResolveExports(HMODULE driver)
{
    for (int i = 0; i < 10; ++i) {
        FARPROC byName = GetProcAddress(driver, ExportNames[i]);
        Export[i] = GetProcAddress(driver, MAKEINTRESOURCEA(i + 2));
        CHECK(byName != NULL && byName == Export[i], "%s by name %p, ordinal %d gives %p", ExportNames[i],
              (void *)byName, i + 2, (void *)Export[i]);
    }
    CHECK(GetProcAddress(driver, MAKEINTRESOURCEA(1)) == NULL, "something exported at ordinal 1");
    CHECK(GetProcAddress(driver, MAKEINTRESOURCEA(12)) == NULL, "something exported at ordinal 12");
    CHECK(GetProcAddress(driver, "_vInitializeScanner@4") == NULL, "decorated name exported");

    HMODULE adapter = GetModuleHandleA("BUSLNK32.DLL");
    CHECK(adapter != NULL, "BUSLNK32.DLL was not loaded with the driver");
    if (!adapter)
        return 0;
    char driverPath[MAX_PATH], adapterPath[MAX_PATH];
    GetModuleFileNameA(driver, driverPath, MAX_PATH);
    GetModuleFileNameA(adapter, adapterPath, MAX_PATH);
    char *driverSlash = strrchr(driverPath, '\\'), *adapterSlash = strrchr(adapterPath, '\\');
    CHECK(driverSlash && adapterSlash && driverSlash - driverPath == adapterSlash - adapterPath &&
              _strnicmp(driverPath, adapterPath, (size_t)(driverSlash - driverPath)) == 0,
          "the adapter %s is not beside the driver %s", adapterPath, driverPath);
    CHECK(GetProcAddress(adapter, MAKEINTRESOURCEA(2)) && GetProcAddress(adapter, MAKEINTRESOURCEA(3)),
          "adapter lacks ordinal 2 or 3");
    CHECK(!GetProcAddress(adapter, "BusLinkExecute") && !GetProcAddress(adapter, "BusLinkAttach"),
          "adapter exports its entry points by name");
    SimConfigure = (SimConfigureFn)(void (*)(void))GetProcAddress(adapter, "SimConfigure");
    CHECK(SimConfigure != NULL, "BUSLNK32.DLL beside the driver is not the virtual scanner");
    return !Failures && SimConfigure;
}

/* Each block through its export as an application fills and reads it;
 * the values themselves are the unit tests' concern. */
static void TestBlocks(void)
{
    InitBlock absent = {.wAttachParam1 = 9}, init = {.wAttachParam1 = 0};
    CALL(INIT, InitializeFn, &absent); /* attach value 9 names no model: nothing answers there */
    CHECK(CODE(absent) < 0, "initializing an address without a device gave %d", CODE(absent));
    CALL(INIT, InitializeFn, &init);
    CHECK(CODE(init) == SD_OK && init.wFirmwareVersion == 0x0117 && init.wModelValue == 255,
          "the 600 dpi flatbed: result %d, firmware %#x, model %u", CODE(init), init.wFirmwareVersion, init.wModelValue);

    ScanAttributeBlock defaults = {0};
    CALL(DEFAULTS, AttributeFn, &defaults);
    CHECK(CODE(defaults) == SD_OK && defaults.wWidth == 8500 && defaults.wResolution == 600 &&
              defaults.wImageType == SD_IMAGE_COLOR,
          "defaults: result %d, width %u, %u dpi, type %u", CODE(defaults), defaults.wWidth, defaults.wResolution,
          defaults.wImageType);

    static int32_t contrast[256], brightness[256];
    static uint32_t adjust[256];
    static uint16_t resolutions[150], patterns[12];
    CapabilityBlock caps = {.lpContrastList = contrast, .lpBrightnessList = brightness, .lpAdjustList = adjust,
                            .lpResolutionList = resolutions, .lpPatternList = patterns, .wFeatures = SD_CAPS_EXTENDED};
    CALL(CAPS, CapabilityFn, &caps);
    CHECK(CODE(caps) == SD_OK && contrast[255] == 127 && brightness[0] == -128 && adjust[255] == 510 &&
              resolutions[0] != 0 && caps.wMaxResolutionX == 1200 && caps.wBaseResolution == 600,
          "capability: result %d, lists %d %d %u %u, %u and %u dpi", CODE(caps), (int)contrast[255], (int)brightness[0],
          (unsigned)adjust[255], resolutions[0], caps.wMaxResolutionX, caps.wBaseResolution);

    LensBlock lens = {.wLens = 0};
    CALL(LENS, LensFn, &lens); /* a one-lens scanner refuses every lens */
    CHECK(lens.dwResult == 0xFFFF, "one-lens scanner, lens 0: dwResult %#lx", (unsigned long)lens.dwResult);
    Configure("paper", "absent");
    CHECK(CALL(PAPER, PaperReadyFn) == 0, "without a document");
    Configure("paper", "present");
}

/* The lamp-on clock: the scanner counts whole minutes (its clock stands
 * still here), the driver adds the seconds from GetTickCount. A busy
 * scanner is waited out with Sleep between tries. */
static void TestClockAndSleep(void)
{
    Configure("clock", "manual");
    LampBlock on = {.wLampState = SD_LAMP_1}, off = {.wLampState = 0}, first = {0}, later = {0}, last = {0};
    CALL(SET_LAMP, LampFn, &on);
    CHECK_RESULT(on, SD_OK);
    CALL(GET_LAMP, LampFn, &first);
    CHECK((first.wLampState & (SD_LAMP_1 | SD_LAMP_2 | SD_LAMP_ON_TIME_VALID)) == (SD_LAMP_1 | SD_LAMP_ON_TIME_VALID),
          "lamp state %#x after switching lamp 1 on", first.wLampState);
    Sleep(2200);
    CALL(GET_LAMP, LampFn, &later);
    unsigned before = (unsigned)(first.dwLampOnTime & 0x3F), after = (unsigned)(later.dwLampOnTime & 0x3F);
    CHECK(later.dwLampOnTime >> 6 == first.dwLampOnTime >> 6 && after >= before + 2 && after <= before + 4,
          "lamp-on time %lu:%u -> %lu:%u over 2.2 s", (unsigned long)(first.dwLampOnTime >> 6), before,
          (unsigned long)(later.dwLampOnTime >> 6), after);
    CALL(SET_LAMP, LampFn, &off);
    CALL(GET_LAMP, LampFn, &last);
    CHECK((last.wLampState & (SD_LAMP_1 | SD_LAMP_2)) == 0 && last.dwLampOnTime == 0,
          "lamp state %#x, on time %lu after switching off", last.wLampState, (unsigned long)last.dwLampOnTime);
    Configure("clock", "real");

    Configure("fault", "busy:1");
    LampBlock busy = {0};
    DWORD start = GetTickCount();
    CALL(GET_LAMP, LampFn, &busy);
    DWORD elapsed = GetTickCount() - start;
    CHECK(CODE(busy) == SD_OK && elapsed >= 1500, "a busy answer: result %d after %lu ms", CODE(busy),
          (unsigned long)elapsed);
    Configure("faults", "clear");
}

/* Starts a scan of a one-inch square (left in thousandths of an inch) at
 * the top of the glass; the bytes of a line, or 0. */
static uint32_t Start(uint16_t imageType, uint16_t bits, uint16_t resolution, uint16_t left)
{
    ScanAttributeBlock block = {0};
    CALL(DEFAULTS, AttributeFn, &block);
    block.dwResult = 0;
    block.wImageType = imageType;
    block.wBitsPerPixel = bits;
    block.wHalftoneMode = bits == 1 ? SD_HALFTONE_THRESHOLD : 0;
    block.wResolution = resolution;
    block.wLeft = left;
    block.wTop = 0;
    block.wRight = (uint16_t)(left + 999);
    block.wBottom = 999;
    CALL(START, AttributeFn, &block);
    CHECK_RESULT(block, SD_OK);
    /* wWidth: pixels for grey and colour, bytes for bilevel lines. */
    uint32_t width = bits == 1 ? (resolution + 7u) / 8u : resolution;
    CHECK(block.wLength == resolution && block.wWidth == width, "%u lines of %u, expected %u of %lu", block.wLength,
          block.wWidth, resolution, (unsigned long)width);
    CHECK(CALL(PAPER, PaperReadyFn) == 200, "the sensor poll does not report the running scan");
    int ok = CODE(block) == SD_OK && block.wWidth == width && block.wLength == resolution;
    return ok ? (imageType == SD_IMAGE_COLOR ? 3 * width : width) : 0;
}

/* Asks for `lines` lines; the block as the driver answered. */
static ImageDataBlock Get(uint8_t *buffer, uint32_t lines, int expected)
{
    ImageDataBlock request = {.lpImageBuffer = buffer, .dwRequestLines = lines};
    CALL(GET, GetImageFn, &request);
    CHECK_RESULT(request, expected);
    CHECK(request.dwReturnLines <= lines, "%lu lines returned for %lu", (unsigned long)request.dwReturnLines,
          (unsigned long)lines);
    return request;
}

/* Bytes of the chart's first inch, read in runs of Chunk lines: a probe's
 * byte must lie within [Low, High]. */
struct Probe {
    unsigned X, Y, Low, High; /* X a byte of the line */
};
static const struct ScanCase {
    const char *Name;
    uint16_t Type, Bits, Resolution, Left;
    uint32_t Chunk;
    struct Probe Probes[8];
} Scans[] = {
    /* The black square over 0-0.25 inch, paper around it, at 100 dpi. */
    {"grey", SD_IMAGE_RED, 8, 100, 0, 7, {{10, 10, 0, 63}, {40, 10, 193, 255}, {10, 40, 193, 255}}},
    /* The top-right corner: the red square over 7.75-8.25 inch. */
    {"colour", SD_IMAGE_COLOR, 8, 100, 7500, 33,
     {{150, 10, 161, 255}, {151, 10, 0, 95}, {152, 10, 0, 95}, {30, 50, 193, 255}, {31, 50, 193, 255}, {32, 50, 193, 255}}},
    /* Line art at 250 dpi, the scanner's own resolution there: 1 is black,
     * the first pixel in the most significant bit; the square covers
     * pixels 0 to 62. */
    {"line art", SD_IMAGE_RED, 1, 250, 0, 100, {{0, 25, 0xFF, 0xFF}, {7, 25, 0xFE, 0xFE}, {10, 25, 0, 0}, {0, 125, 0, 0}}},
};

static void TestScans(void)
{
    for (size_t s = 0; s < sizeof Scans / sizeof Scans[0]; ++s) {
        const struct ScanCase *c = &Scans[s];
        uint32_t lineBytes = Start(c->Type, c->Bits, c->Resolution, c->Left), done = 0;
        if (!lineBytes)
            continue;
        uint8_t *image = calloc(c->Resolution, lineBytes);
        for (int calls = 0; done < c->Resolution && calls < 1000; ++calls) {
            uint32_t n = c->Chunk < c->Resolution - done ? c->Chunk : c->Resolution - done;
            ImageDataBlock got = Get(image + (size_t)done * lineBytes, n, SD_OK);
            done += got.dwReturnLines;
            CHECK(got.dwRemainLines == c->Resolution - done, "%s: %lu remain after %lu", c->Name,
                  (unsigned long)got.dwRemainLines, (unsigned long)done);
        }
        CHECK(done == c->Resolution, "%s: read %lu of %u lines", c->Name, (unsigned long)done, c->Resolution);
        Get(image, 1, SD_ERR_NOT_SCANNING); /* the call that delivered the last line ended the scan */
        for (const struct Probe *p = c->Probes; p->High; ++p) {
            unsigned got = image[(size_t)p->Y * lineBytes + p->X];
            CHECK(got >= p->Low && got <= p->High, "%s: byte %u of line %u is %u", c->Name, p->X, p->Y, got);
        }
        free(image);
    }

    /* An abort ends the scan at once; a second one is harmless. */
    uint8_t lines[10 * 100];
    if (Start(SD_IMAGE_RED, 8, 100, 0))
        CHECK(Get(lines, 10, SD_OK).dwRemainLines == 90, "90 lines should remain after 10");
    for (int i = 0; i < 2; ++i) {
        ParamBlock abort = {0};
        CALL(ABORT, AbortFn, &abort);
        CHECK_RESULT(abort, SD_OK);
        CHECK(CALL(PAPER, PaperReadyFn) != 200, "the scan still runs after the abort");
        Get(lines, 10, SD_ERR_NOT_SCANNING);
    }
}

int main(void)
{
    /* Find the driver beside this program, whatever the working directory. */
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    char *slash = length ? strrchr(path, '\\') : NULL;
    if (!slash || (size_t)(slash - path) + sizeof "\\SCANDRV.DLL" > sizeof path) {
        printf("FAIL: cannot tell where this program is\n");
        return 1;
    }
    strcpy(slash, "\\SCANDRV.DLL");
    HMODULE driver = LoadLibraryA(path);
    if (!driver) {
        printf("FAIL: LoadLibrary(%s): error %lu\n", path, (unsigned long)GetLastError());
        return 1;
    }
    if (!ResolveExports(driver))
        return 1;
    /* Samples as the document has them, the same in every pass. */
    Configure("sensor", "ideal");
    Configure("noise", "off");
    TestBlocks();
    TestClockAndSleep();
    TestScans();
    FreeLibrary(driver);
    if (Failures) {
        printf("%d of %d checks failed\n", Failures, Checks);
        return 1;
    }
    printf("ok: %d checks\n", Checks);
    return 0;
}
