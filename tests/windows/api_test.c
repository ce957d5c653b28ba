/*
 * api_test.c - SCANDRV.DLL as a Windows application sees it. The program
 * loads the driver with LoadLibrary (the virtual scanner, BUSLNK32.DLL
 * beside it, comes in as the driver's import), finds every export by name
 * and by ordinal, and calls them through WINAPI function pointers: device
 * control, lamps and the lamp-on clock, the document sensor, lenses, scans
 * of each kind and an abort. It runs under Wine on the 64-bit build and is
 * compiled on the 32-bit one.
 *
 * Prints one line per failed check, "ok" with a count when all pass, and
 * exits with 1 if any check failed.
 */
#include "scandrv.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef void(WINAPI *InitializeScannerFn)(InitBlock *);
typedef void(WINAPI *ScannerCapabilityFn)(CapabilityBlock *);
typedef void(WINAPI *AttributeFn)(ScanAttributeBlock *);
typedef void(WINAPI *ScannerGetImageFn)(ImageDataBlock *);
typedef void(WINAPI *ScannerAbortScanFn)(ParamBlock *);
typedef int32_t(WINAPI *PaperReadyFn)(void);
typedef void(WINAPI *ScannerMutiLensFn)(LensBlock *);
typedef void(WINAPI *LampFn)(LampBlock *);
typedef int(WINAPI *SimConfigureFn)(const char *, const char *);

static struct {
    InitializeScannerFn InitializeScanner;
    ScannerCapabilityFn ScannerCapability;
    AttributeFn DefaultAttribute;
    AttributeFn ScannerStartScan;
    ScannerGetImageFn ScannerGetImage;
    ScannerAbortScanFn ScannerAbortScan;
    PaperReadyFn PaperReady;
    ScannerMutiLensFn ScannerMutiLens;
    LampFn GetLampStatus;
    LampFn SetLampStatus;
} Api;

static SimConfigureFn SimConfigure;

/* GetProcAddress gives every export one type; void (*)(void) is the type a
 * function pointer passes through on its way to its real one. */
typedef void (*UntypedFn)(void);
static UntypedFn Untyped(FARPROC proc)
{
    return (UntypedFn)proc;
}
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
static int Code(uint32_t dwResult)
{
    return (int16_t)(dwResult & 0xFFFF);
}

#define CHECK_RESULT(block, expected) \
    CHECK(Code((block).dwResult) == (expected), "result %d, expected %d", Code((block).dwResult), (expected))

static void Configure(const char *key, const char *value)
{
    int rc = SimConfigure(key, value);
    CHECK(rc == 0, "the virtual scanner refused %s=%s (%d)", key, value, rc);
}

/* --- Loading ------------------------------------------------------------- */

static const char *const ExportNames[10] = {
    "vInitializeScanner", "vScannerCapability", "vDefaultAttribute", "vScannerStartScan", "vScannerGetImage",
    "vScannerAbortScan",  "vPaperReady",        "vScannerMutiLens",  "vGetLampStatus",    "vSetLampStatus",
};

/* Every export by name and by its ordinal (2 to 11): the same address.
 * Nothing at ordinals 1 and 12. */
static void ResolveExports(HMODULE driver)
{
    FARPROC found[10];
    for (int i = 0; i < 10; ++i) {
        FARPROC byName = GetProcAddress(driver, ExportNames[i]);
        FARPROC byOrdinal = GetProcAddress(driver, MAKEINTRESOURCEA(i + 2));
        CHECK(byName != NULL, "%s not exported by name", ExportNames[i]);
        CHECK(byOrdinal != NULL, "nothing exported at ordinal %d", i + 2);
        CHECK(byName == byOrdinal, "%s by name %p, ordinal %d gives %p", ExportNames[i], (void *)byName, i + 2,
              (void *)byOrdinal);
        found[i] = byOrdinal;
    }
    CHECK(GetProcAddress(driver, MAKEINTRESOURCEA(1)) == NULL, "something exported at ordinal 1");
    CHECK(GetProcAddress(driver, MAKEINTRESOURCEA(12)) == NULL, "something exported at ordinal 12");
    CHECK(GetProcAddress(driver, "_vInitializeScanner@4") == NULL, "decorated name exported");

    Api.InitializeScanner = (InitializeScannerFn)Untyped(found[0]);
    Api.ScannerCapability = (ScannerCapabilityFn)Untyped(found[1]);
    Api.DefaultAttribute = (AttributeFn)Untyped(found[2]);
    Api.ScannerStartScan = (AttributeFn)Untyped(found[3]);
    Api.ScannerGetImage = (ScannerGetImageFn)Untyped(found[4]);
    Api.ScannerAbortScan = (ScannerAbortScanFn)Untyped(found[5]);
    Api.PaperReady = (PaperReadyFn)Untyped(found[6]);
    Api.ScannerMutiLens = (ScannerMutiLensFn)Untyped(found[7]);
    Api.GetLampStatus = (LampFn)Untyped(found[8]);
    Api.SetLampStatus = (LampFn)Untyped(found[9]);
}

/* The driver's import brought the adapter in from the driver's directory;
 * its entry points are there by ordinal only. */
static HMODULE FindAdapter(HMODULE driver)
{
    HMODULE adapter = GetModuleHandleA("BUSLNK32.DLL");
    CHECK(adapter != NULL, "BUSLNK32.DLL was not loaded with the driver");
    if (!adapter)
        return NULL;
    char driverPath[MAX_PATH], adapterPath[MAX_PATH];
    GetModuleFileNameA(driver, driverPath, MAX_PATH);
    GetModuleFileNameA(adapter, adapterPath, MAX_PATH);
    char *driverSlash = strrchr(driverPath, '\\'), *adapterSlash = strrchr(adapterPath, '\\');
    CHECK(driverSlash && adapterSlash && driverSlash - driverPath == adapterSlash - adapterPath &&
              _strnicmp(driverPath, adapterPath, (size_t)(driverSlash - driverPath)) == 0,
          "the adapter %s is not beside the driver %s", adapterPath, driverPath);
    CHECK(GetProcAddress(adapter, MAKEINTRESOURCEA(2)) != NULL, "adapter has no ordinal 2");
    CHECK(GetProcAddress(adapter, MAKEINTRESOURCEA(3)) != NULL, "adapter has no ordinal 3");
    CHECK(GetProcAddress(adapter, "BusLinkExecute") == NULL, "adapter exports BusLinkExecute by name");
    CHECK(GetProcAddress(adapter, "BusLinkAttach") == NULL, "adapter exports BusLinkAttach by name");
    SimConfigure = (SimConfigureFn)Untyped(GetProcAddress(adapter, "SimConfigure"));
    CHECK(SimConfigure != NULL, "BUSLNK32.DLL beside the driver is not the virtual scanner");
    return adapter;
}

/* --- Device control ------------------------------------------------------ */

static int Initialize(uint16_t attachValue, InitBlock *init)
{
    memset(init, 0, sizeof *init);
    init->wAttachParam1 = attachValue;
    Api.InitializeScanner(init);
    return Code(init->dwResult);
}

static void TestInitialize(void)
{
    InitBlock init;
    /* Attach value 9 names no model: nothing answers there. */
    CHECK(Initialize(9, &init) < 0, "initializing an address without a device gave %d", Code(init.dwResult));

    CHECK(Initialize(0, &init) == SD_OK, "initializing the 600 dpi flatbed gave %d", Code(init.dwResult));
    CHECK(init.wFirmwareVersion == 0x0117, "firmware %#x, expected 0x0117 (1.23)", init.wFirmwareVersion);
    CHECK(init.wModelValue == 255, "model value %u", init.wModelValue);
    CHECK((init.wDeviceKind & 0x1F) == 1 || (init.wDeviceKind & 0x1F) == 2 || (init.wDeviceKind & 0x1F) == 4,
          "device kind %#x", init.wDeviceKind);
    CHECK(init.wInfo1 == 256 && init.wInfo2 == 256 && init.wInfo3 == 256 && init.wInfo4 == 150 && init.wInfo5 == 13,
          "fixed values %u %u %u %u %u", init.wInfo1, init.wInfo2, init.wInfo3, init.wInfo4, init.wInfo5);
}

static void ReadDefaults(ScanAttributeBlock *defaults)
{
    memset(defaults, 0, sizeof *defaults);
    Api.DefaultAttribute(defaults);
    CHECK_RESULT(*defaults, SD_OK);
}

static void TestDefaultsAndCapability(void)
{
    ScanAttributeBlock defaults;
    ReadDefaults(&defaults);
    /* The glass: 5100 x 7000 pixels at 600 dpi. */
    CHECK(defaults.wWidth == 8500, "width %u thousandths of an inch, expected 8500", defaults.wWidth);
    CHECK(defaults.wLength >= 11666 && defaults.wLength <= 11667, "length %u, expected 11666", defaults.wLength);
    CHECK(defaults.wResolution == 600, "default resolution %u", defaults.wResolution);
    CHECK(defaults.wImageType == SD_IMAGE_COLOR, "default image type %u", defaults.wImageType);
    CHECK(defaults.wReserved3 == 8 && defaults.wReserved4 == 1 && defaults.wReserved5 == 2, "reserved defaults %u %u %u",
          defaults.wReserved3, defaults.wReserved4, defaults.wReserved5);

    static int32_t contrast[256], brightness[256];
    static uint32_t adjust[256];
    static uint16_t resolutions[150], patterns[12];
    CapabilityBlock caps;
    memset(&caps, 0, sizeof caps);
    caps.lpContrastList = contrast;
    caps.lpBrightnessList = brightness;
    caps.lpAdjustList = adjust;
    caps.lpResolutionList = resolutions;
    caps.lpPatternList = patterns;
    caps.wFeatures = SD_CAPS_EXTENDED;
    Api.ScannerCapability(&caps);
    CHECK_RESULT(caps, SD_OK);
    CHECK(contrast[0] == -128 && contrast[255] == 127, "contrast list %d..%d", (int)contrast[0], (int)contrast[255]);
    CHECK(brightness[0] == -128 && brightness[255] == 127, "brightness list %d..%d", (int)brightness[0],
          (int)brightness[255]);
    CHECK(adjust[1] == 2 && adjust[255] == 510, "adjust list %u, %u", (unsigned)adjust[1], (unsigned)adjust[255]);
    CHECK(caps.wImageTypes == 15, "image types %u (colour scanner)", caps.wImageTypes);
    CHECK(caps.wMaxResolutionX == 1200, "bilevel resolution %u", caps.wMaxResolutionX);
    CHECK(caps.wMaxWidth == 8500, "maximum width %u", caps.wMaxWidth);
    CHECK(caps.wBaseResolution == 600, "base resolution %u", caps.wBaseResolution);
    CHECK(caps.wLensCount == 1, "lens count %u", caps.wLensCount);
    CHECK(caps.wFixed36 == 0x8081 && caps.wFixed62 == 0x81, "fixed fields %#x %#x", caps.wFixed36, caps.wFixed62);
    CHECK(resolutions[0] != 0, "no resolution list");

    /* A block without its required lists is refused before any command. */
    CapabilityBlock bare;
    memset(&bare, 0, sizeof bare);
    Api.ScannerCapability(&bare);
    CHECK_RESULT(bare, SD_ERR_PARAMETER_VALUE);
}

static void TestLenses(void)
{
    LensBlock lens;
    memset(&lens, 0, sizeof lens);
    Api.ScannerMutiLens(&lens); /* a one-lens scanner refuses every lens */
    CHECK(lens.dwResult == 0xFFFF, "one-lens scanner, lens 0: dwResult %#lx", (unsigned long)lens.dwResult);

    InitBlock init;
    CHECK(Initialize(2, &init) == SD_OK, "initializing the two-lens scanner gave %d", Code(init.dwResult));
    CHECK(init.wFirmwareVersion == 0x0305, "two-lens firmware %#x", init.wFirmwareVersion);
    memset(&lens, 0, sizeof lens);
    lens.wLens = 1;
    Api.ScannerMutiLens(&lens);
    CHECK_RESULT(lens, SD_OK);
    lens.wLens = 2;
    Api.ScannerMutiLens(&lens);
    CHECK(lens.dwResult == 0xFFFF, "two-lens scanner, lens 2: dwResult %#lx", (unsigned long)lens.dwResult);
    lens.wLens = 0;
    Api.ScannerMutiLens(&lens);
    CHECK_RESULT(lens, SD_OK);

    CHECK(Initialize(0, &init) == SD_OK, "back to the flatbed: %d", Code(init.dwResult));
}

/* Lamps on and off, and the lamp-on clock: the scanner counts whole
 * minutes (its clock stands still here), the driver adds the seconds from
 * GetTickCount. */
static void TestLamps(void)
{
    Configure("clock", "manual");
    LampBlock lamp;
    memset(&lamp, 0, sizeof lamp);
    lamp.wLampState = SD_LAMP_1;
    Api.SetLampStatus(&lamp);
    CHECK_RESULT(lamp, SD_OK);

    LampBlock first;
    memset(&first, 0, sizeof first);
    Api.GetLampStatus(&first);
    CHECK_RESULT(first, SD_OK);
    CHECK((first.wLampState & (SD_LAMP_1 | SD_LAMP_2)) == SD_LAMP_1, "lamp state %#x after switching lamp 1 on",
          first.wLampState);
    CHECK(first.wLampState & SD_LAMP_ON_TIME_VALID, "no lamp-on time: state %#x", first.wLampState);

    Sleep(2200);
    LampBlock later;
    memset(&later, 0, sizeof later);
    Api.GetLampStatus(&later);
    CHECK_RESULT(later, SD_OK);
    unsigned before = (unsigned)(first.dwLampOnTime & 0x3F), after = (unsigned)(later.dwLampOnTime & 0x3F);
    CHECK(later.dwLampOnTime >> 6 == first.dwLampOnTime >> 6, "lamp minutes moved: %lu -> %lu",
          (unsigned long)(first.dwLampOnTime >> 6), (unsigned long)(later.dwLampOnTime >> 6));
    CHECK(after >= before + 2 && after <= before + 4, "lamp-on seconds %u -> %u over 2.2 s", before, after);

    memset(&lamp, 0, sizeof lamp);
    Api.SetLampStatus(&lamp);
    CHECK_RESULT(lamp, SD_OK);
    memset(&later, 0, sizeof later);
    Api.GetLampStatus(&later);
    CHECK_RESULT(later, SD_OK);
    CHECK((later.wLampState & (SD_LAMP_1 | SD_LAMP_2)) == 0, "lamp state %#x after switching off", later.wLampState);
    CHECK(later.dwLampOnTime == 0, "lamp-on time %lu with the lamps off", (unsigned long)later.dwLampOnTime);
    Configure("clock", "real");
}

/* A busy scanner is waited out: the driver sleeps between tries. */
static void TestBusyWait(void)
{
    Configure("fault", "busy:1");
    LampBlock lamp;
    memset(&lamp, 0, sizeof lamp);
    DWORD start = GetTickCount();
    Api.GetLampStatus(&lamp);
    DWORD elapsed = GetTickCount() - start;
    CHECK_RESULT(lamp, SD_OK);
    CHECK(elapsed >= 1500, "a busy answer cost only %lu ms", (unsigned long)elapsed);
    Configure("faults", "clear");
}

static void TestPaperReady(void)
{
    Configure("paper", "present");
    int32_t first = Api.PaperReady();
    int32_t second = Api.PaperReady();
    CHECK(first >= 1 && first <= 99, "with a document: %ld", (long)first);
    CHECK(second == (first == 99 ? 1 : first + 1), "the counter went %ld -> %ld", (long)first, (long)second);

    Configure("event", "5");
    int32_t withEvent = Api.PaperReady();
    CHECK(withEvent >> 9 == 5 && (withEvent & 0x7F) >= 1, "pending event 5: %#lx", (long)withEvent);
    int32_t afterEvent = Api.PaperReady();
    CHECK(afterEvent >> 9 == 0, "the event was reported twice: %#lx", (long)afterEvent);

    Configure("paper", "absent");
    CHECK(Api.PaperReady() == 0, "without a document");
    Configure("paper", "present");
}

/* --- Scans --------------------------------------------------------------- */

struct Image {
    uint32_t LineBytes, Lines;
    uint8_t *Bytes;
};

/* Starts a scan of a one-inch square (left and top in thousandths of an
 * inch) and reads it whole, `chunk` lines per call, checking the line
 * counts each call reports. */
static int Scan(uint16_t imageType, uint16_t bits, uint16_t resolution, uint16_t left, uint16_t top, uint32_t chunk,
                struct Image *image)
{
    ScanAttributeBlock block;
    ReadDefaults(&block);
    block.dwResult = 0;
    block.wImageType = imageType;
    block.wBitsPerPixel = bits;
    block.wHalftoneMode = bits == 1 ? SD_HALFTONE_THRESHOLD : 0;
    block.wResolution = resolution;
    block.wLeft = left;
    block.wTop = top;
    block.wRight = (uint16_t)(left + 999);
    block.wBottom = (uint16_t)(top + 999);
    Api.ScannerStartScan(&block);
    CHECK_RESULT(block, SD_OK);
    if (Code(block.dwResult) != SD_OK)
        return 0;
    /* wWidth: pixels for grey and colour, bytes for bilevel lines. */
    uint32_t width = bits == 1 ? (resolution + 7u) / 8u : resolution;
    CHECK(block.wLength == resolution, "%u lines, expected %u", block.wLength, resolution);
    CHECK(block.wWidth == width, "line width %u, expected %lu", block.wWidth, (unsigned long)width);
    CHECK(Api.PaperReady() == 200, "the sensor poll does not report the running scan");
    if (block.wWidth != width || block.wLength != resolution)
        return 0;

    image->LineBytes = imageType == SD_IMAGE_COLOR ? 3 * width : width;
    image->Lines = block.wLength;
    image->Bytes = calloc(image->Lines, image->LineBytes);
    uint32_t done = 0;
    int calls = 0;
    while (done < image->Lines && calls++ < 1000) {
        ImageDataBlock request;
        memset(&request, 0, sizeof request);
        request.lpImageBuffer = image->Bytes + (size_t)done * image->LineBytes;
        request.dwRequestLines = chunk < image->Lines - done ? chunk : image->Lines - done;
        Api.ScannerGetImage(&request);
        CHECK_RESULT(request, SD_OK);
        if (Code(request.dwResult) != SD_OK)
            break;
        CHECK(request.dwReturnLines <= request.dwRequestLines, "%lu lines returned for %lu asked",
              (unsigned long)request.dwReturnLines, (unsigned long)request.dwRequestLines);
        done += request.dwReturnLines;
        CHECK(request.dwRemainLines == image->Lines - done, "remaining %lu after %lu of %lu",
              (unsigned long)request.dwRemainLines, (unsigned long)done, (unsigned long)image->Lines);
    }
    CHECK(done == image->Lines, "read %lu of %lu lines", (unsigned long)done, (unsigned long)image->Lines);
    /* The call that delivered the last line ended the scan. */
    ImageDataBlock after;
    memset(&after, 0, sizeof after);
    after.lpImageBuffer = image->Bytes;
    after.dwRequestLines = 1;
    Api.ScannerGetImage(&after);
    CHECK_RESULT(after, SD_ERR_NOT_SCANNING);
    return done == image->Lines;
}

static const uint8_t *Pixel(const struct Image *image, unsigned x, unsigned y, unsigned channels)
{
    return image->Bytes + (size_t)y * image->LineBytes + (size_t)x * channels;
}

/* The chart's top-left inch at 100 dpi: a black square over 0-0.25 inch,
 * white paper around it. */
static void TestGreyScan(void)
{
    struct Image image = {0};
    if (Scan(SD_IMAGE_RED, 8, 100, 0, 0, 7, &image)) {
        CHECK(*Pixel(&image, 10, 10, 1) < 64, "black square reads %u", *Pixel(&image, 10, 10, 1));
        CHECK(*Pixel(&image, 40, 10, 1) > 192, "paper reads %u", *Pixel(&image, 40, 10, 1));
        CHECK(*Pixel(&image, 10, 40, 1) > 192, "paper reads %u", *Pixel(&image, 10, 40, 1));
    }
    free(image.Bytes);
}

/* The top-right corner: the red square over 7.75-8.25 inch. */
static void TestColourScan(void)
{
    struct Image image = {0};
    if (Scan(SD_IMAGE_COLOR, 8, 100, 7500, 0, 33, &image)) {
        const uint8_t *red = Pixel(&image, 50, 10, 3);
        const uint8_t *paper = Pixel(&image, 10, 50, 3);
        CHECK(red[0] > 160 && red[1] < 96 && red[2] < 96, "red square reads %u %u %u", red[0], red[1], red[2]);
        CHECK(paper[0] > 192 && paper[1] > 192 && paper[2] > 192, "paper reads %u %u %u", paper[0], paper[1], paper[2]);
    }
    free(image.Bytes);
}

/* Line art of the top-left inch at 250 dpi, the scanner's own resolution
 * there: 1 is black, the first pixel in the most significant bit, 32 bytes
 * a line. The black square covers pixels 0 to 62. */
static void TestLineArtScan(void)
{
    struct Image image = {0};
    if (Scan(SD_IMAGE_RED, 1, 250, 0, 0, 100, &image)) {
        CHECK(*Pixel(&image, 0, 25, 1) == 0xFF, "black square byte %#x", *Pixel(&image, 0, 25, 1));
        CHECK(*Pixel(&image, 7, 25, 1) == 0xFE, "square's edge byte %#x", *Pixel(&image, 7, 25, 1));
        CHECK(*Pixel(&image, 10, 25, 1) == 0x00, "paper byte %#x", *Pixel(&image, 10, 25, 1));
        CHECK(*Pixel(&image, 0, 125, 1) == 0x00, "paper byte %#x", *Pixel(&image, 0, 125, 1));
    }
    free(image.Bytes);
}

static void TestAbort(void)
{
    ScanAttributeBlock block;
    ReadDefaults(&block);
    block.dwResult = 0;
    block.wImageType = SD_IMAGE_RED;
    block.wBitsPerPixel = 8;
    block.wResolution = 100;
    block.wRight = 999;
    block.wBottom = 999;
    Api.ScannerStartScan(&block);
    CHECK_RESULT(block, SD_OK);

    uint8_t lines[10 * 100];
    ImageDataBlock request;
    memset(&request, 0, sizeof request);
    request.lpImageBuffer = lines;
    request.dwRequestLines = 10;
    Api.ScannerGetImage(&request);
    CHECK_RESULT(request, SD_OK);
    CHECK(request.dwRemainLines == 90, "%lu lines remain after 10", (unsigned long)request.dwRemainLines);

    ParamBlock abort;
    memset(&abort, 0, sizeof abort);
    Api.ScannerAbortScan(&abort);
    CHECK_RESULT(abort, SD_OK);
    CHECK(Api.PaperReady() != 200, "the scan still runs after the abort");
    memset(&request, 0, sizeof request);
    request.lpImageBuffer = lines;
    request.dwRequestLines = 10;
    Api.ScannerGetImage(&request);
    CHECK_RESULT(request, SD_ERR_NOT_SCANNING);

    /* Aborting with no scan running is harmless. */
    memset(&abort, 0, sizeof abort);
    Api.ScannerAbortScan(&abort);
    CHECK_RESULT(abort, SD_OK);
}

/* A null block is ignored by every function that takes one. */
static void TestNullBlocks(void)
{
    Api.InitializeScanner(NULL);
    Api.ScannerCapability(NULL);
    Api.DefaultAttribute(NULL);
    Api.ScannerStartScan(NULL);
    Api.ScannerGetImage(NULL);
    Api.ScannerMutiLens(NULL);
    Api.GetLampStatus(NULL);
    Api.SetLampStatus(NULL);
    Api.ScannerAbortScan(NULL);
    CHECK(Api.PaperReady() != 200, "a null start block started a scan");
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
    ResolveExports(driver);
    if (Failures || !FindAdapter(driver) || !SimConfigure)
        return 1;

    /* Samples as the document has them, the same in every pass. */
    Configure("sensor", "ideal");
    Configure("noise", "off");

    TestInitialize();
    TestDefaultsAndCapability();
    TestLenses();
    TestLamps();
    TestBusyWait();
    TestPaperReady();
    TestGreyScan();
    TestColourScan();
    TestLineArtScan();
    TestAbort();
    TestNullBlocks();

    FreeLibrary(driver);
    if (Failures) {
        printf("%d of %d checks failed\n", Failures, Checks);
        return 1;
    }
    printf("ok: %d checks\n", Checks);
    return 0;
}
