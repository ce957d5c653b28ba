/*
 * options.cpp - parsing the command line into ScanOptions. One table names
 * every option, its short and long spelling and whether it takes a value;
 * the value is handed to the option's setter, which checks it. Checks that
 * concern several options run once all are read.
 *
 * Spellings follow what people who scan from a terminal are used to:
 * --opt VALUE and --opt=VALUE, -o FILE and -oFILE, bundled short flags
 * (-pv), and "--" ending the options.
 */
#include "options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {

bool ParseWhole(const std::string &text, long min, long max, long &out)
{
    if (text.empty())
        return false;
    errno = 0;
    char *end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < min || value > max)
        return false;
    out = value;
    return true;
}

/* A length in millimetres: a decimal number, optionally followed by "mm". */
bool ParseMillimetres(const std::string &option, const std::string &text, std::optional<double> &out,
                      std::string &error)
{
    std::string number = text;
    if (number.size() > 2 && strcasecmp(number.c_str() + number.size() - 2, "mm") == 0)
        number.resize(number.size() - 2);
    errno = 0;
    char *end = nullptr;
    double value = number.empty() ? NAN : std::strtod(number.c_str(), &end);
    if (number.empty() || errno != 0 || *end != '\0' || !std::isfinite(value)) {
        error = option + " takes a length in millimetres, not '" + text + "'";
        return false;
    }
    if (value < 0) {
        error = option + " must not be negative (got " + text + ")";
        return false;
    }
    if (value > 10000) {
        error = option + " " + text + " mm is larger than any scanner";
        return false;
    }
    out = value;
    return true;
}

bool SameWord(const std::string &a, const char *b)
{
    return strcasecmp(a.c_str(), b) == 0;
}

using Setter = bool (*)(ScanOptions &, const std::string &, std::string &);

struct OptionRow {
    char Short;         /* 0: long form only */
    const char *Long;   /* null: short form only */
    bool TakesValue;
    Setter Set;
    bool ValueOptional = false; /* long form only: the value comes after '=' or not at all */
};

bool RangeError(std::string &error, const char *option, const std::string &value, const char *range)
{
    error = std::string(option) + " takes " + range + ", not '" + value + "'";
    return false;
}

bool ParseLevel(const char *option, const std::string &value, std::optional<unsigned> &level, std::string &error)
{
    long parsed;
    if (!ParseWhole(value, 0, 255, parsed))
        return RangeError(error, option, value, "a level from 0 to 255");
    level = static_cast<unsigned>(parsed);
    return true;
}

const OptionRow kOptions[] = {
    {'d', "device", true,
     [](ScanOptions &o, const std::string &v, std::string &) {
         o.Device = v;
         o.DeviceGiven = true;
         return true;
     }},
    {0, "driver", true, [](ScanOptions &o, const std::string &v, std::string &) { o.DriverPath = v; return true; }},
    {'L', "list-devices", false, [](ScanOptions &o, const std::string &, std::string &) { o.ListDevices = true; return true; }},
    {'A', "all-options", false, [](ScanOptions &o, const std::string &, std::string &) { o.AllOptions = true; return true; }},
    {0, "mode", true,
     [](ScanOptions &o, const std::string &v, std::string &e) {
         if (SameWord(v, "Color") || SameWord(v, "Colour"))
             o.Mode = ScanMode::Color;
         else if (SameWord(v, "Gray") || SameWord(v, "Grey"))
             o.Mode = ScanMode::Gray;
         else if (SameWord(v, "Lineart"))
             o.Mode = ScanMode::Lineart;
         else if (SameWord(v, "Halftone"))
             o.Mode = ScanMode::Halftone;
         else
             return RangeError(e, "--mode", v, "Color, Gray, Lineart or Halftone");
         return true;
     }},
    {0, "resolution", true,
     [](ScanOptions &o, const std::string &v, std::string &e) {
         std::string number = v;
         if (number.size() > 3 && SameWord(number.substr(number.size() - 3), "dpi"))
             number.resize(number.size() - 3);
         long value;
         if (!ParseWhole(number, 1, 65535, value))
             return RangeError(e, "--resolution", v, "dots per inch from 1 to 65535");
         o.Resolution = static_cast<unsigned>(value);
         return true;
     }},
    {0, "depth", true,
     [](ScanOptions &o, const std::string &v, std::string &e) {
         long value;
         if (!ParseWhole(v, 1, 16, value) || (value != 1 && value != 8 && value != 16))
             return RangeError(e, "--depth", v, "1, 8 or 16 bits per sample");
         o.Depth = static_cast<unsigned>(value);
         return true;
     }},
    {0, "source", true,
     [](ScanOptions &o, const std::string &v, std::string &e) {
         if (SameWord(v, "Flatbed"))
             o.Source = ScanSource::Flatbed;
         else if (SameWord(v, "ADF"))
             o.Source = ScanSource::Adf;
         else if (SameWord(v, "Transparency") || SameWord(v, "TPU"))
             o.Source = ScanSource::Transparency;
         else
             return RangeError(e, "--source", v, "Flatbed, ADF or Transparency");
         o.SourceGiven = true;
         return true;
     }},
    {'l', nullptr, true, [](ScanOptions &o, const std::string &v, std::string &e) { return ParseMillimetres("-l", v, o.LeftMm, e); }},
    {'t', nullptr, true, [](ScanOptions &o, const std::string &v, std::string &e) { return ParseMillimetres("-t", v, o.TopMm, e); }},
    {'x', nullptr, true, [](ScanOptions &o, const std::string &v, std::string &e) { return ParseMillimetres("-x", v, o.WidthMm, e); }},
    {'y', nullptr, true, [](ScanOptions &o, const std::string &v, std::string &e) { return ParseMillimetres("-y", v, o.HeightMm, e); }},
    {0, "brightness", true,
     [](ScanOptions &o, const std::string &v, std::string &e) {
         long value;
         if (!ParseWhole(v, -128, 127, value))
             return RangeError(e, "--brightness", v, "a whole number from -128 to 127");
         o.Brightness = static_cast<int>(value);
         return true;
     }},
    {0, "contrast", true,
     [](ScanOptions &o, const std::string &v, std::string &e) {
         long value;
         if (!ParseWhole(v, -128, 127, value))
             return RangeError(e, "--contrast", v, "a whole number from -128 to 127");
         o.Contrast = static_cast<int>(value);
         return true;
     }},
    {0, "shadow", true, [](ScanOptions &o, const std::string &v, std::string &e) { return ParseLevel("--shadow", v, o.Shadow, e); }},
    {0, "midtone", true, [](ScanOptions &o, const std::string &v, std::string &e) { return ParseLevel("--midtone", v, o.Midtone, e); }},
    {0, "highlight", true,
     [](ScanOptions &o, const std::string &v, std::string &e) { return ParseLevel("--highlight", v, o.Highlight, e); }},
    {0, "halftone-pattern", true,
     [](ScanOptions &o, const std::string &v, std::string &e) {
         long value;
         if (!ParseWhole(v, 0, 11, value))
             return RangeError(e, "--halftone-pattern", v, "a built-in pattern number from 0 to 11");
         o.HalftonePattern = static_cast<unsigned>(value);
         return true;
     }},
    {0, "gamma-file", true, [](ScanOptions &o, const std::string &v, std::string &) { o.GammaFile = v; return true; }},
    {0, "format", true,
     [](ScanOptions &o, const std::string &v, std::string &e) {
         if (SameWord(v, "pnm"))
             o.Format = ImageFormat::Pnm;
         else if (SameWord(v, "png"))
             o.Format = ImageFormat::Png;
         else if (SameWord(v, "tiff") || SameWord(v, "tif"))
             o.Format = ImageFormat::Tiff;
         else if (SameWord(v, "pdf"))
             o.Format = ImageFormat::Pdf;
         else if (SameWord(v, "bmp"))
             o.Format = ImageFormat::Bmp;
         else
             return RangeError(e, "--format", v, "pnm, png, tiff, pdf or bmp");
         return true;
     }},
    {0, "jpeg-quality", true,
     [](ScanOptions &o, const std::string &v, std::string &e) {
         long value;
         if (!ParseWhole(v, 1, 100, value))
             return RangeError(e, "--jpeg-quality", v, "a JPEG quality from 1 to 100");
         o.JpegQuality = static_cast<int>(value);
         return true;
     }},
    {0, "preview", false, [](ScanOptions &o, const std::string &, std::string &) { o.Preview = true; return true; }},
    {0, "batch", true,
     [](ScanOptions &o, const std::string &v, std::string &) {
         o.Batch = o.BatchGiven = true;
         if (!v.empty())
             o.BatchPattern = v;
         return true;
     },
     true},
    {'o', "output-file", true, [](ScanOptions &o, const std::string &v, std::string &) { o.OutputFile = v; return true; }},
    {'p', "progress", false, [](ScanOptions &o, const std::string &, std::string &) { o.Progress = 1; return true; }},
    {0, "no-progress", false, [](ScanOptions &o, const std::string &, std::string &) { o.Progress = 0; return true; }},
    {0, "batch-count", true,
     [](ScanOptions &o, const std::string &v, std::string &e) {
         long value;
         if (!ParseWhole(v, 1, 9999, value))
             return RangeError(e, "--batch-count", v, "a number of pages from 1 to 9999");
         o.BatchCount = static_cast<unsigned>(value);
         o.Batch = true;
         return true;
     }},
    {0, "batch-start", true,
     [](ScanOptions &o, const std::string &v, std::string &e) {
         long value;
         if (!ParseWhole(v, 0, 999999, value))
             return RangeError(e, "--batch-start", v, "a page number from 0 to 999999");
         o.BatchStart = static_cast<unsigned>(value);
         return true;
     }},
    {0, "batch-increment", true,
     [](ScanOptions &o, const std::string &v, std::string &e) {
         long value;
         if (!ParseWhole(v, 1, 9999, value))
             return RangeError(e, "--batch-increment", v, "a step between page numbers from 1 to 9999");
         o.BatchIncrement = static_cast<unsigned>(value);
         return true;
     }},
    {0, "lamp-status", false, [](ScanOptions &o, const std::string &, std::string &) { o.LampStatus = true; return true; }},
    {0, "lamp", true,
     [](ScanOptions &o, const std::string &v, std::string &e) {
         if (SameWord(v, "on"))
             o.LampOn = true;
         else if (SameWord(v, "off"))
             o.LampOn = false;
         else
             return RangeError(e, "--lamp", v, "on or off");
         return true;
     }},
    {0, "lamp-timer", true,
     [](ScanOptions &o, const std::string &v, std::string &e) {
         long value;
         if (!ParseWhole(v, 0, 127 * 60, value))
             return RangeError(e, "--lamp-timer", v, "seconds from 0 to 7620 (127 minutes)");
         o.LampTimerSeconds = static_cast<uint32_t>(value);
         return true;
     }},
    {0, "lens", true,
     [](ScanOptions &o, const std::string &v, std::string &e) {
         long value;
         if (!ParseWhole(v, 0, 65535, value))
             return RangeError(e, "--lens", v, "a lens number counted from 0");
         o.Lens = static_cast<uint16_t>(value);
         return true;
     }},
    {0, "sensor", false, [](ScanOptions &o, const std::string &, std::string &) { o.Sensor = true; return true; }},
    {0, "trace", true, [](ScanOptions &o, const std::string &v, std::string &) { o.TraceFile = v; return true; }},
    {0, "sim-option", true,
     [](ScanOptions &o, const std::string &v, std::string &e) {
         size_t eq = v.find('=');
         if (eq == std::string::npos || eq == 0)
             return RangeError(e, "--sim-option", v, "KEY=VALUE");
         o.SimSettings.emplace_back(v.substr(0, eq), v.substr(eq + 1));
         return true;
     }},
    {'v', "verbose", false, [](ScanOptions &o, const std::string &, std::string &) { o.Verbose = true; return true; }},
    {'h', "help", false, [](ScanOptions &o, const std::string &, std::string &) { o.Help = true; return true; }},
    {'V', "version", false, [](ScanOptions &o, const std::string &, std::string &) { o.Version = true; return true; }},
};

const OptionRow *FindShort(char c)
{
    for (const OptionRow &row : kOptions)
        if (row.Short == c)
            return &row;
    return nullptr;
}

const OptionRow *FindLong(const std::string &name)
{
    for (const OptionRow &row : kOptions)
        if (row.Long != nullptr && name == row.Long)
            return &row;
    return nullptr;
}

/* A batch: where its pages go, and where they come from. The name comes
 * from --batch=PATTERN, else -o, else out%d with the format's extension;
 * from here on OutputFile holds it. */
bool CheckBatch(ScanOptions &o, std::string &error)
{
    if (!o.BatchPattern.empty() && !o.OutputFile.empty()) {
        error = "--batch=" + o.BatchPattern + " and -o both name the output: give one";
        return false;
    }
    if (!o.BatchPattern.empty())
        o.OutputFile = o.BatchPattern;
    if (o.OutputFile.empty())
        o.OutputFile = o.Format == ImageFormat::Pdf
                           ? "out.pdf"
                           : std::string("out%d.") + (o.Format == ImageFormat::Unknown ? "pnm" : FormatName(o.Format));
    o.BatchPattern = o.OutputFile;
    /* --batch feeds from the document feeder unless told otherwise; only
     * the feeder says when the pages are done. */
    if (o.BatchGiven && !o.SourceGiven)
        o.Source = ScanSource::Adf;
    if (o.Source != ScanSource::Adf && o.BatchCount == 0) {
        error = std::string("a batch from the ") + (o.Source == ScanSource::Flatbed ? "flatbed" : "transparency unit") +
                " needs --batch-count N: only the document feeder says when the pages are done";
        return false;
    }
    return true;
}

/* Once the format is known: one document, or one file per page with %d. */
bool CheckBatchNames(const ScanOptions &o, std::string &error)
{
    bool numbered = HasPageNumber(o.OutputFile);
    if (o.Format == ImageFormat::Pdf && numbered) {
        error = "a PDF holds the whole batch: name it without %d ('" + o.OutputFile + "')";
        return false;
    }
    if (!WritesOneDocument(o) && !numbered && o.BatchCount != 1) {
        error = "the file name '" + o.OutputFile + "' has no %d for the page number, so every page of the batch "
                "would overwrite the last: use a name such as page%d." + FormatName(o.Format) +
                ", or one document with --format pdf or a .tif name";
        return false;
    }
    return true;
}

/* Levels that leave no span, or a midtone outside it, would turn the image
 * into a threshold or a curve that folds back: refused before the scan. */
bool CheckToneLevels(const ScanOptions &o, std::string &error)
{
    unsigned shadow = o.Shadow.value_or(0), highlight = o.Highlight.value_or(255);
    if (shadow >= highlight) {
        error = "--shadow " + std::to_string(shadow) + " must lie below --highlight " + std::to_string(highlight);
        return false;
    }
    if (o.Midtone && (*o.Midtone <= shadow || *o.Midtone >= highlight)) {
        error = "--midtone " + std::to_string(*o.Midtone) + " must lie between the shadow and highlight levels, " +
                std::to_string(shadow) + " and " + std::to_string(highlight);
        return false;
    }
    return true;
}

/* The checks that concern several options at once. */
bool CheckCombinations(ScanOptions &o, std::string &error)
{
    if (!CheckToneLevels(o, error))
        return false;
    if (o.HalftonePattern) {
        if (o.Mode == ScanMode::Default)
            o.Mode = ScanMode::Halftone;
        else if (o.Mode != ScanMode::Halftone) {
            error = "--halftone-pattern goes with --mode Halftone, not --mode " + std::string(ModeName(o.Mode));
            return false;
        }
    }
    bool bilevel = o.Mode == ScanMode::Lineart || o.Mode == ScanMode::Halftone;
    if (o.Depth == 1 && o.Mode == ScanMode::Default)
        o.Mode = ScanMode::Lineart;
    else if (o.Depth == 1 && !bilevel) {
        error = "--depth 1 gives a bilevel image: use --mode Lineart or Halftone, not " + std::string(ModeName(o.Mode));
        return false;
    } else if (o.Depth > 1 && bilevel) {
        error = "--mode " + std::string(ModeName(o.Mode)) + " gives 1 bit per pixel; --depth " +
                std::to_string(o.Depth) + " does not go with it";
        return false;
    }
    if (o.Batch && !CheckBatch(o, error))
        return false;
    if (o.Format == ImageFormat::Unknown) {
        if (o.OutputFile.empty()) {
            o.Format = ImageFormat::Pnm;
        } else {
            o.Format = FormatFromFileName(o.OutputFile);
            if (o.Format == ImageFormat::Unknown) {
                error = "cannot tell the image format from the file name '" + o.OutputFile +
                        "': use --format pnm, png, tiff, pdf or bmp";
                return false;
            }
        }
    }
    if (o.Format == ImageFormat::Bmp && o.Depth > 8) {
        error = "a BMP image holds at most 8 bits per sample: scan with --depth 8, or write PNM, PNG or TIFF";
        return false;
    }
    if (o.Batch && !CheckBatchNames(o, error))
        return false;
    if (o.JpegQuality != 0 && o.Format != ImageFormat::Pdf) {
        error = "--jpeg-quality goes with --format pdf";
        return false;
    }
    if (o.Preview && o.Batch) {
        error = "--preview scans the glass once; it does not go with --batch";
        return false;
    }
    if (!o.TraceFile.empty() && o.TraceFile == o.OutputFile) {
        error = "--trace and -o name the same file";
        return false;
    }
    return true;
}

} // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::string> &args)
{
    ParsedCommandLine result;
    ScanOptions &o = result.Options;
    std::string &error = result.Error;
    bool optionsEnded = false;

    for (size_t i = 1; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            error = "unexpected argument '" + arg + "' (the image goes to -o FILE)";
            return result;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg[1] == '-') {
            size_t eq = arg.find('=');
            std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
            const OptionRow *row = FindLong(name);
            if (row == nullptr) {
                error = "unknown option '--" + name + "'";
                return result;
            }
            std::string value;
            if (row->TakesValue && row->ValueOptional) {
                if (eq != std::string::npos)
                    value = arg.substr(eq + 1);
            } else if (row->TakesValue) {
                if (eq != std::string::npos)
                    value = arg.substr(eq + 1);
                else if (i + 1 < args.size())
                    value = args[++i];
                else {
                    error = "option '--" + name + "' needs a value";
                    return result;
                }
            } else if (eq != std::string::npos) {
                error = "option '--" + name + "' takes no value";
                return result;
            }
            if (!row->Set(o, value, error))
                return result;
            continue;
        }
        /* One or more short options: flags may be bundled, and an option
         * with a value takes the rest of the word or the next one. */
        for (size_t k = 1; k < arg.size(); ++k) {
            const OptionRow *row = FindShort(arg[k]);
            if (row == nullptr) {
                error = std::string("unknown option '-") + arg[k] + "'";
                return result;
            }
            if (!row->TakesValue) {
                if (!row->Set(o, "", error))
                    return result;
                continue;
            }
            std::string value;
            if (k + 1 < arg.size())
                value = arg.substr(k + 1);
            else if (i + 1 < args.size())
                value = args[++i];
            else {
                error = std::string("option '-") + arg[k] + "' needs a value";
                return result;
            }
            if (!row->Set(o, value, error))
                return result;
            break;
        }
    }
    if (!CheckCombinations(o, error))
        return result;
    result.Ok = true;
    return result;
}

ImageFormat FormatFromFileName(const std::string &name)
{
    size_t slash = name.rfind('/');
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return ImageFormat::Unknown;
    std::string ext = name.substr(dot + 1);
    for (const char *pnm : {"pnm", "ppm", "pgm", "pbm"})
        if (SameWord(ext, pnm))
            return ImageFormat::Pnm;
    if (SameWord(ext, "png"))
        return ImageFormat::Png;
    if (SameWord(ext, "tif") || SameWord(ext, "tiff"))
        return ImageFormat::Tiff;
    if (SameWord(ext, "pdf"))
        return ImageFormat::Pdf;
    if (SameWord(ext, "bmp"))
        return ImageFormat::Bmp;
    return ImageFormat::Unknown;
}

const char *FormatName(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Pnm: return "pnm";
    case ImageFormat::Png: return "png";
    case ImageFormat::Tiff: return "tiff";
    case ImageFormat::Pdf: return "pdf";
    case ImageFormat::Bmp: return "bmp";
    case ImageFormat::Unknown: break;
    }
    return "unknown";
}

const char *ModeName(ScanMode mode)
{
    switch (mode) {
    case ScanMode::Color: return "Color";
    case ScanMode::Gray: return "Gray";
    case ScanMode::Lineart: return "Lineart";
    case ScanMode::Halftone: return "Halftone";
    case ScanMode::Default: break;
    }
    return "default";
}

const char *SourceName(ScanSource source)
{
    switch (source) {
    case ScanSource::Flatbed: return "Flatbed";
    case ScanSource::Adf: return "ADF";
    case ScanSource::Transparency: return "Transparency";
    }
    return "Flatbed";
}

uint32_t MillimetresToMils(double mm)
{
    return static_cast<uint32_t>(std::lround(mm * 1000.0 / 25.4));
}

double MilsToMillimetres(uint32_t mils)
{
    return mils * 25.4 / 1000.0;
}

/* Where the %d (or %0Nd) of a name starts and ends, and its width. */
static bool FindPageNumber(const std::string &pattern, size_t &start, size_t &end, unsigned &width)
{
    for (size_t i = 0; i + 1 < pattern.size(); ++i) {
        if (pattern[i] != '%')
            continue;
        size_t j = i + 1;
        width = 0;
        if (j + 1 < pattern.size() && pattern[j] == '0' && pattern[j + 1] >= '1' && pattern[j + 1] <= '9') {
            width = static_cast<unsigned>(pattern[j + 1] - '0');
            j += 2;
        }
        if (j < pattern.size() && pattern[j] == 'd') {
            start = i;
            end = j + 1;
            return true;
        }
    }
    return false;
}

bool HasPageNumber(const std::string &pattern)
{
    size_t start, end;
    unsigned width;
    return FindPageNumber(pattern, start, end, width);
}

bool WritesOneDocument(const ScanOptions &options)
{
    return options.Format == ImageFormat::Pdf ||
           (options.Batch && options.Format == ImageFormat::Tiff && !HasPageNumber(options.OutputFile));
}

std::string BatchFileName(const std::string &pattern, unsigned page)
{
    size_t start, end;
    unsigned width;
    if (!FindPageNumber(pattern, start, end, width))
        return pattern;
    std::string number = std::to_string(page);
    if (number.size() < width)
        number.insert(0, width - number.size(), '0');
    return pattern.substr(0, start) + number + pattern.substr(end);
}

std::string UsageText(const std::string &program)
{
    return "Usage: " + program + R"( [OPTION]... -o FILE
Scan an image with the scandrv driver and write it to FILE (PNM, PNG, TIFF
or PDF), or a batch of pages from the document feeder.

Device:
  -d, --device NAME        the adapter and the device behind it [sim]:
                             sim          the virtual scanner, model 0
                             sim:N        the virtual scanner's model N
                             null         an adapter with no scanner
                             sg:H,T       a real scanner at host adapter H,
                                          target T (sg:H,C,T with a channel)
                             /dev/sgN     a real scanner by its node
                             PATH[:P1,P2] an adapter library and its two
                                          attach values (host adapter,
                                          target id for real hardware)
      --driver PATH        the driver library [libscandrv.so beside scan]
  -L, --list-devices       list the scanners that answer (the virtual
                           scanner's models and SCSI scanners), then exit
  -A, --all-options        show what the device offers, then exit
      --lens N             use lens N (counted from 0) for the scan or -A

Scan:
      --mode MODE          Color, Gray, Lineart or Halftone [the device's]
      --depth 1|8|16       bits per sample [8; 1 for Lineart and Halftone]
      --resolution DPI     dots per inch [the scanner's optical resolution]
      --source SOURCE      Flatbed, ADF or Transparency [Flatbed; ADF with
                           --batch]
  -l MM                    left edge of the scan area, millimetres [0]
  -t MM                    top edge of the scan area, millimetres [0]
  -x MM                    width of the scan area [to the edge of the glass]
  -y MM                    height of the scan area [to the edge of the glass]
      --brightness N       -128 to 127 [0]
      --contrast N         -128 to 127 [0]
      --shadow N           tone levels 0 to 255, for every channel: the
      --midtone N          shadow level becomes black, the highlight level
      --highlight N        white and the midtone level middle grey [0, the
                           mean of the other two, 255]
      --halftone-pattern N built-in halftone pattern 0 to 11 (implies
                           --mode Halftone) [5]
      --gamma-file FILE    a gamma table (see below)
      --preview            a quick look at the whole glass: colour (grey on
                           a grey scanner), 8 bits, at the lowest resolution
                           the scanner offers from 50 dpi; --mode, --depth,
                           --resolution and -l -t -x -y are left for the
                           scan that follows

Output:
  -o, --output-file FILE   where the image goes; without -o a PNM image is
                           written to standard output (never to a terminal)
      --format FORMAT      pnm, png, tiff, pdf or bmp [from FILE's extension:
                           .pnm .ppm .pgm .pbm, .png, .tif .tiff, .pdf, .bmp]
      --jpeg-quality N     PDF: grey and colour pages as JPEG of quality N
                           (1-100) [lossless]
  -p, --progress           show a progress bar on standard error [on when
                           standard error is a terminal]
      --no-progress        no progress bar
      --batch[=PATTERN]    scan pages until the document feeder is empty
                           (or --batch-count are done), each into PATTERN
                           with %d (or %03d) replaced by its number
                           [-o FILE, else out%d.pnm]; a PDF, or a TIFF named
                           without %d, takes the whole batch as one document
      --batch-count N      at most N pages (the flatbed and the transparency
                           unit need it); a batch from --source even without
                           --batch
      --batch-start N      number of the first page [1]
      --batch-increment N  step from one page number to the next [1]

Lamp and sensor (these run instead of a scan):
      --lamp-status        show the lamps, the lamp timer or lamp-on time
      --lamp on|off        switch the lamp of --source on (lamp 2 for
                           Transparency, else lamp 1), or all lamps off
      --lamp-timer SECONDS switch the lamps off after SECONDS (0 to 7620,
                           whole minutes)
      --sensor             ask the document sensor whether paper is there

Virtual scanner:
      --trace FILE         write every command and data phase to FILE
      --sim-option KEY=VALUE
                           configure the virtual scanner (model, document,
                           noise, fault ...); may be repeated

  -v, --verbose            say which libraries and device are used
  -h, --help               show this help and exit
  -V, --version            show the version and exit

Lengths take an optional "mm" suffix, resolutions an optional "dpi".

Gamma file: either text or a raw table. Text holds whole numbers separated
by white space or commas, "#" starting a comment: one table for every
channel, or three (red, green, blue) for a colour scan. A table has 256,
1024, 4096 or 65536 entries, and its values run over the same range
(0-255 for 256 entries, 0-65535 for 65536); it is resampled to what the
scan needs. A file that is not such text is a raw table handed to the
driver as it is: 256 or 768 bytes (one byte per entry) for scans of up to
8 bits, 131072 or 393216 bytes (16-bit little-endian entries) for 16-bit
scans.

A batch ends well when the feeder runs out of paper. When a page fails
(a jam, a full disk), the pages before it are kept, and so is a document
holding them; the failed page leaves no file.

Exit status: 0 success, 1 the device, the driver or a file failed,
2 the command line is wrong, 130 or 143 interrupted (SIGINT, SIGTERM).
)";
}
