/*
 * sim_chart.cpp - the built-in test chart and the loading of image files
 * as documents. The chart is a pure function of the position so that tests
 * can predict every pixel a scan delivers.
 */
#include "sim_chart.h"

#include <cstdio>
#include <cstring>

#ifdef SIM_HAVE_PNG
#include <png.h>
#endif

namespace {

constexpr int64_t In(double inches) { return static_cast<int64_t>(inches * kUnitsPerInch + 0.5); }

constexpr SimRgb kWhite{255, 255, 255};
constexpr SimRgb kBlack{0, 0, 0};

constexpr SimRgb kPatches[8] = {
    {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {0, 255, 255},
    {255, 0, 255}, {255, 255, 0}, {0, 0, 0}, {128, 128, 128},
};

/* Line periods of the six line groups, in chart units: 1/10 ... 1/300 inch. */
constexpr int64_t kLinePeriods[6] = {1200, 480, 240, 120, 60, 40};

inline bool Within(int64_t v, int64_t low, int64_t high) { return v >= low && v < high; }

inline uint8_t Grey(int64_t v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

/* Black in the first half of each period of the group that x falls in. */
inline SimRgb LineGroup(int64_t x, int64_t along)
{
    int64_t group = (x - In(0.5)) / In(1.0);
    if (group < 0 || group >= 6)
        return kWhite;
    int64_t period = kLinePeriods[group];
    return along % period < period / 2 ? kBlack : kWhite;
}

} // namespace

SimRgb ChartColor(int64_t x, int64_t y)
{
    if (x < 0 || y < 0)
        return kWhite;
    if (y < In(0.25)) {
        if (x < In(0.25))
            return kBlack;
        if (Within(x, In(7.75), In(8.25)))
            return {255, 0, 0};
        return kWhite;
    }
    if (Within(y, In(0.5), In(1.5))) {
        int64_t patch = (x - In(0.5)) / In(0.75);
        return x >= In(0.5) && patch < 8 ? kPatches[patch] : kWhite;
    }
    if (Within(y, In(1.75), In(2.5))) {
        if (!Within(x, In(0.5), In(8.0)))
            return kWhite;
        uint8_t v = Grey((x - In(0.5)) * 256 / In(7.5));
        return {v, v, v};
    }
    if (Within(y, In(2.75), In(3.25))) {
        int64_t step = (x - In(0.5)) / In(0.4);
        if (x < In(0.5) || step >= 16)
            return kWhite;
        uint8_t v = static_cast<uint8_t>(step * 17);
        return {v, v, v};
    }
    if (Within(y, In(3.5), In(4.5)))
        return LineGroup(x, x - In(0.5));
    if (Within(y, In(4.75), In(5.75)))
        return LineGroup(x, y - In(4.75));
    if (Within(y, In(6.0), In(9.0)) && Within(x, In(0.5), In(2.5))) {
        bool stem = x < In(0.9);
        bool top = y < In(6.4);
        bool middle = Within(y, In(7.2), In(7.6)) && x < In(1.9);
        return stem || top || middle ? kBlack : kWhite;
    }
    if (Within(y, In(6.0), In(11.0)) && Within(x, In(3.0), In(8.0))) {
        uint8_t red = Grey((x - In(3.0)) * 256 / In(5.0));
        uint8_t green = Grey((y - In(6.0)) * 256 / In(5.0));
        bool odd = (((x - In(3.0)) / In(0.25)) + ((y - In(6.0)) / In(0.25))) & 1;
        return {red, green, static_cast<uint8_t>(odd ? 255 : 0)};
    }
    return kWhite;
}

bool PageNumberInk(uint32_t page, int64_t x, int64_t y)
{
    int64_t dy = y - kPageDigitTop, dx = x - kPageDigitLeft;
    if (page == 0 || dx < 0 || dy < 0 || dy >= kPageDigitHeight)
        return false;
    int64_t position = dx / kPageDigitPitch;
    dx -= position * kPageDigitPitch;
    if (position >= static_cast<int64_t>(kPageDigits) || dx >= kPageDigitWidth)
        return false;
    uint32_t number = page % 10000, count = 1;
    for (uint32_t rest = number / 10; rest != 0; rest /= 10)
        ++count;
    if (position >= count)
        return false;
    for (uint32_t i = static_cast<uint32_t>(position) + 1; i < count; ++i)
        number /= 10;
    uint8_t segments = kSevenSegments[number % 10];
    constexpr int64_t w = kPageDigitWidth, h = kPageDigitHeight, t = kPageSegmentThickness;
    bool upper = dy < h / 2 + t / 2, lower = dy >= h / 2 - t / 2;
    bool left = dx < t, right = dx >= w - t;
    return ((segments & 0x01) && dy < t) || ((segments & 0x02) && right && upper) ||
           ((segments & 0x04) && right && lower) || ((segments & 0x08) && dy >= h - t) ||
           ((segments & 0x10) && left && lower) || ((segments & 0x20) && left && upper) ||
           ((segments & 0x40) && dy >= h / 2 - t / 2 && dy < h / 2 + t / 2);
}

/* --- image files ---------------------------------------------------------- */

namespace {

/* Reads one header number of a PNM file, skipping blanks and comments. */
bool ReadPnmNumber(FILE *file, uint32_t &value)
{
    int c = std::fgetc(file);
    for (;;) {
        while (c == ' ' || c == '\t' || c == '\r' || c == '\n')
            c = std::fgetc(file);
        if (c != '#')
            break;
        while (c != '\n' && c != EOF)
            c = std::fgetc(file);
    }
    if (c < '0' || c > '9')
        return false;
    uint64_t v = 0;
    while (c >= '0' && c <= '9') {
        v = v * 10 + static_cast<uint64_t>(c - '0');
        if (v > 1000000)
            return false;
        c = std::fgetc(file);
    }
    value = static_cast<uint32_t>(v);
    /* One blank ends the number; after maxval it is the last header byte. */
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool LoadPnm(FILE *file, SimDocument &out, std::string &error)
{
    char magic[2];
    if (std::fread(magic, 1, 2, file) != 2 || magic[0] != 'P' || (magic[1] != '5' && magic[1] != '6')) {
        error = "not a binary PGM or PPM file";
        return false;
    }
    uint32_t width = 0, height = 0, maxval = 0;
    if (!ReadPnmNumber(file, width) || !ReadPnmNumber(file, height) || !ReadPnmNumber(file, maxval) ||
        width == 0 || height == 0 || maxval == 0 || maxval > 255) {
        error = "unsupported PNM header (8-bit PGM or PPM only)";
        return false;
    }
    uint32_t channels = magic[1] == '6' ? 3 : 1;
    std::vector<uint8_t> raw(static_cast<size_t>(width) * height * channels);
    if (std::fread(raw.data(), 1, raw.size(), file) != raw.size()) {
        error = "PNM file is shorter than its header says";
        return false;
    }
    out.Width = width;
    out.Height = height;
    out.Rgb.resize(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i)
        for (uint32_t c = 0; c < 3; ++c) {
            uint32_t v = raw[i * channels + (channels == 3 ? c : 0)];
            out.Rgb[i * 3 + c] = static_cast<uint8_t>(v * 255 / maxval);
        }
    return true;
}

#ifdef SIM_HAVE_PNG
bool LoadPng(const std::string &path, SimDocument &out, std::string &error)
{
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        error = image.message;
        return false;
    }
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
        error = image.message;
        png_image_free(&image);
        return false;
    }
    out.Width = image.width;
    out.Height = image.height;
    out.Rgb = std::move(pixels);
    return true;
}
#endif

} // namespace

bool LoadDocumentImage(SimDocument &document, const std::string &path, uint32_t dpi, std::string &error)
{
    if (dpi == 0) {
        error = "document resolution must not be 0";
        return false;
    }
    FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = "cannot open " + path;
        return false;
    }
    unsigned char signature[8] = {};
    size_t got = std::fread(signature, 1, sizeof signature, file);
    std::rewind(file);
    SimDocument loaded;
    bool ok;
    if (got == 8 && std::memcmp(signature, "\x89PNG\r\n\x1a\n", 8) == 0) {
        std::fclose(file);
#ifdef SIM_HAVE_PNG
        ok = LoadPng(path, loaded, error);
#else
        error = "PNG documents need libpng, which this build lacks";
        ok = false;
#endif
    } else {
        ok = LoadPnm(file, loaded, error);
        std::fclose(file);
    }
    if (!ok)
        return false;
    loaded.IsImage = true;
    loaded.Path = path;
    loaded.Dpi = dpi;
    document = std::move(loaded);
    return true;
}
