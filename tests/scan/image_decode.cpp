/* image_decode.cpp - the decoders of image_decode.h. */
#include "image_decode.h"

#include "fake_image.h"
#include "run_command.h"

#include <png.h>
#include <tiffio.h>

#include <cctype>
#include <csetjmp>
#include <cstdio>
#include <tuple>

namespace {

void Unpack(const uint8_t *row, DecodedImage &out, bool oneIsBlack, bool bigEndian)
{
    size_t samples = static_cast<size_t>(out.Width) * out.Channels;
    for (size_t i = 0; i < samples; ++i) {
        if (out.Depth == 1)
            out.Samples.push_back(((row[i / 8] >> (7 - i % 8)) & 1) == oneIsBlack);
        else if (out.Depth == 8)
            out.Samples.push_back(row[i]);
        else if (bigEndian)
            out.Samples.push_back(static_cast<uint16_t>(row[2 * i] << 8 | row[2 * i + 1]));
        else
            out.Samples.push_back(static_cast<uint16_t>(row[2 * i + 1] << 8 | row[2 * i]));
    }
}

bool DecodePng(const std::string &path, DecodedImage &out, std::string &error)
{
    FILE *file = std::fopen(path.c_str(), "rb");
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(file);
        error = "libpng could not read " + path;
        return false;
    }
    png_init_io(png, file);
    png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    out = DecodedImage{};
    out.Width = png_get_image_width(png, info);
    out.Height = png_get_image_height(png, info);
    out.Depth = png_get_bit_depth(png, info);
    out.Channels = png_get_channels(png, info);
    png_uint_32 resX = 0, resY = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &resX, &resY, &unit) && unit == PNG_RESOLUTION_METER) {
        out.ResolutionX = resX * 0.0254;
        out.ResolutionY = resY * 0.0254;
    }
    png_bytepp rows = png_get_rows(png, info);
    for (uint32_t y = 0; y < out.Height; ++y)
        Unpack(rows[y], out, false, true); /* PNG grey: 0 is black */
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return true;
}

uint32_t Little(const std::string &data, size_t at, int bytes)
{
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | static_cast<uint8_t>(data[at + i]);
    return value;
}

/* Uncompressed BMP of 1, 8 or 24 bits, either row order; samples through
 * the palette (bilevel: 1 where the palette entry is black). */
bool DecodeBmp(const std::string &data, DecodedImage &out, std::string &error)
{
    out = DecodedImage{};
    if (data.size() < 54 || Little(data, 2, 4) != data.size() || Little(data, 14, 4) != 40 || Little(data, 30, 4) != 0)
        return error = "not an uncompressed BMP of the size it states", false;
    const uint32_t offset = Little(data, 10, 4), bits = Little(data, 28, 2);
    const int32_t height = static_cast<int32_t>(Little(data, 22, 4));
    out.Width = Little(data, 18, 4);
    out.Height = static_cast<uint32_t>(height < 0 ? -height : height);
    out.Channels = bits == 24 ? 3 : 1;
    out.Depth = bits == 1 ? 1 : 8;
    out.ResolutionX = Little(data, 38, 4) * 0.0254;
    out.ResolutionY = Little(data, 42, 4) * 0.0254;
    const size_t stride = (size_t{out.Width} * bits + 31) / 32 * 4;
    if (data.size() != offset + stride * out.Height)
        return error = "BMP pixel data is " + std::to_string(data.size() - offset) + " bytes", false;
    auto palette = [&](uint32_t index) { return static_cast<uint8_t>(data[54 + 4 * index + 2]); }; /* red */
    for (uint32_t y = 0; y < out.Height; ++y) {
        const size_t row = offset + stride * (height < 0 ? y : out.Height - 1 - y);
        for (uint32_t x = 0; x < out.Width; ++x) {
            if (bits == 24) {
                for (int c = 2; c >= 0; --c)
                    out.Samples.push_back(static_cast<uint8_t>(data[row + 3 * x + c]));
            } else if (bits == 8) {
                out.Samples.push_back(palette(static_cast<uint8_t>(data[row + x])));
            } else {
                out.Samples.push_back(palette((data[row + x / 8] >> (7 - x % 8)) & 1) == 0);
            }
        }
    }
    return true;
}

} // namespace

std::vector<DecodedImage> DecodeTiffPages(const std::string &path, std::string &error)
{
    std::vector<DecodedImage> pages;
    TIFF *tiff = TIFFOpen(path.c_str(), "r");
    if (tiff == nullptr) {
        error = "libtiff could not open " + path;
        return pages;
    }
    do {
        DecodedImage &out = pages.emplace_back();
        uint16_t bits = 0, samples = 1, compression = 0, photometric = 0, unit = 0, number = 0, total = 0;
        float resX = 0, resY = 0;
        TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &out.Width);
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &out.Height);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
        TIFFGetField(tiff, TIFFTAG_COMPRESSION, &compression);
        TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
        TIFFGetField(tiff, TIFFTAG_PAGENUMBER, &number, &total);
        if (TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &resX) && TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &resY) &&
            TIFFGetFieldDefaulted(tiff, TIFFTAG_RESOLUTIONUNIT, &unit) && unit == RESUNIT_INCH) {
            out.ResolutionX = resX;
            out.ResolutionY = resY;
        }
        std::tie(out.Depth, out.Channels, out.Compression, out.PageNumber) = std::tie(bits, samples, compression, number);
        std::vector<uint8_t> row(static_cast<size_t>(TIFFScanlineSize(tiff)));
        for (uint32_t y = 0; y < out.Height; ++y) {
            if (TIFFReadScanline(tiff, row.data(), y, 0) < 0) {
                error = "libtiff could not read line " + std::to_string(y);
                pages.clear();
                break;
            }
            Unpack(row.data(), out, photometric == PHOTOMETRIC_MINISWHITE, false);
        }
    } while (!pages.empty() && TIFFReadDirectory(tiff));
    TIFFClose(tiff);
    return pages;
}

bool DecodePnm(const std::string &data, DecodedImage &out, std::string &error)
{
    out = DecodedImage{};
    size_t pos = 0;
    auto token = [&]() -> std::string {
        while (pos < data.size() && (data[pos] == '#' || std::isspace(static_cast<unsigned char>(data[pos]))))
            pos = data[pos] == '#' ? data.find('\n', pos) : pos + 1;
        size_t start = pos;
        while (pos < data.size() && !std::isspace(static_cast<unsigned char>(data[pos])))
            ++pos;
        return data.substr(start, pos - start);
    };
    std::string magic = token();
    if (magic != "P4" && magic != "P5" && magic != "P6")
        return error = "not a binary PNM image: '" + magic + "'", false;
    out.Width = static_cast<uint32_t>(std::stoul(token()));
    out.Height = static_cast<uint32_t>(std::stoul(token()));
    unsigned maxval = magic == "P4" ? 1 : static_cast<unsigned>(std::stoul(token()));
    ++pos; /* the single white space before the samples */
    out.Channels = magic == "P6" ? 3 : 1;
    out.Depth = magic == "P4" ? 1 : maxval > 255 ? 16 : 8;
    size_t rowBytes = out.Depth == 1 ? (out.Width + 7) / 8 : size_t{out.Width} * out.Channels * (out.Depth / 8);
    if (data.size() - pos != rowBytes * out.Height)
        return error = "PNM sample data is " + std::to_string(data.size() - pos) + " bytes", false;
    for (uint32_t y = 0; y < out.Height; ++y)
        Unpack(reinterpret_cast<const uint8_t *>(data.data()) + pos + y * rowBytes, out, true, true);
    return true;
}

bool DecodeImageFile(const std::string &path, DecodedImage &out, std::string &error)
{
    std::string data = ReadFile(path);
    if (data.compare(0, 4, "\x89PNG") == 0)
        return DecodePng(path, out, error);
    if (data.compare(0, 2, "II") == 0 || data.compare(0, 2, "MM") == 0) {
        std::vector<DecodedImage> pages = DecodeTiffPages(path, error);
        if (!pages.empty())
            out = pages.front();
        return !pages.empty();
    }
    if (data.compare(0, 2, "BM") == 0)
        return DecodeBmp(data, out, error);
    return DecodePnm(data, out, error);
}

size_t WrongFakeSamples(const DecodedImage &image)
{
    size_t wrong = 0;
    for (uint32_t y = 0; y < image.Height; ++y)
        for (uint32_t x = 0; x < image.Width; ++x)
            for (unsigned c = 0; c < image.Channels; ++c)
                wrong += image.At(x, y, c) != FakeSample(x, y, c, image.Depth);
    return wrong;
}
