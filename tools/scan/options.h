/*
 * options.h - the command line of scan: what the user asked for, checked
 * for everything that can be checked without a scanner (names, ranges,
 * combinations). What depends on the device (the glass size, the highest
 * resolution, the sources fitted) is checked once it is known, in
 * scan_job.cpp and device.cpp.
 */
#ifndef SCAN_OPTIONS_H
#define SCAN_OPTIONS_H

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

enum class ScanMode { Default, Color, Gray, Lineart, Halftone };
enum class ScanSource { Flatbed, Adf, Transparency };
enum class ImageFormat { Unknown, Pnm, Png, Tiff, Pdf, Bmp };

struct ScanOptions {
    /* Device and libraries */
    std::string Device = "sim";
    bool DeviceGiven = false;          /* -d was on the command line */
    std::string DriverPath;            /* empty: libscandrv.so beside scan */
    std::string TraceFile;             /* the virtual scanner's trace */
    std::vector<std::pair<std::string, std::string>> SimSettings; /* --sim-option KEY=VALUE */

    /* What to do instead of scanning */
    bool Help = false;
    bool Version = false;
    bool ListDevices = false;
    bool AllOptions = false;
    bool LampStatus = false;
    std::optional<bool> LampOn;
    std::optional<uint32_t> LampTimerSeconds;
    bool Sensor = false;
    std::optional<uint16_t> Lens;      /* applies to the scan and -A too */

    /* The scan */
    ScanMode Mode = ScanMode::Default;
    unsigned Depth = 0;                /* 0: 1 for bilevel modes, else 8 */
    unsigned Resolution = 0;           /* 0: the device's default */
    ScanSource Source = ScanSource::Flatbed;
    bool SourceGiven = false;          /* --source was given (--batch defaults to ADF) */
    bool Preview = false;              /* whole glass, colour, lowest resolution from 50 dpi */
    std::optional<double> LeftMm, TopMm, WidthMm, HeightMm;
    int Brightness = 0;
    int Contrast = 0;
    /* Tone levels 0-255 for every channel; unset, the scanner's own (0,
     * the mean of the other two, 255). */
    std::optional<unsigned> Shadow, Midtone, Highlight;
    std::optional<unsigned> HalftonePattern;
    std::string GammaFile;

    /* The output */
    ImageFormat Format = ImageFormat::Unknown; /* after parsing: always known */
    std::string OutputFile;            /* empty: standard output */
    int Progress = -1;                 /* -1: when standard error is a terminal */
    int JpegQuality = 0;               /* 0: lossless PDF pages; 1-100: JPEG */
    bool Batch = false;                /* --batch or --batch-count: a run of pages */
    bool BatchGiven = false;           /* --batch itself: the feeder unless --source says otherwise */
    std::string BatchPattern;          /* --batch=PATTERN; after parsing the name of every page */
    unsigned BatchCount = 0;           /* 0: until the feeder is empty */
    unsigned BatchStart = 1;
    unsigned BatchIncrement = 1;
    bool Verbose = false;

    /* True when a lamp or sensor action was asked for: these run instead
     * of a scan. */
    bool HasDeviceAction() const { return LampStatus || LampOn || LampTimerSeconds || Sensor; }
};

struct ParsedCommandLine {
    bool Ok = false;
    std::string Error;   /* when not Ok: what is wrong, for a person */
    ScanOptions Options;
};

ParsedCommandLine ParseCommandLine(const std::vector<std::string> &args);

/* The image format an output file name implies (.pnm .ppm .pgm .pbm, .png,
 * .tif .tiff, any case); Unknown for anything else. */
ImageFormat FormatFromFileName(const std::string &name);

const char *FormatName(ImageFormat format);
const char *ModeName(ScanMode mode);
const char *SourceName(ScanSource source);

/* Millimetres to 1/1000 inch, rounded to the nearest. */
uint32_t MillimetresToMils(double mm);
double MilsToMillimetres(uint32_t mils);

/* The output file of page n of a batch: a %d (or %0Nd) in the name is
 * replaced by n; a name without one is the name of every page. */
std::string BatchFileName(const std::string &pattern, unsigned page);
/* Whether a name holds the %d (or %0Nd) that numbers the pages. */
bool HasPageNumber(const std::string &pattern);
/* Whether the batch goes into one file (a PDF, or a TIFF named without %d)
 * rather than a file per page. */
bool WritesOneDocument(const ScanOptions &options);

std::string UsageText(const std::string &program);

#endif
