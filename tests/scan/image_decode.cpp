/*
 * image_decode.cpp - the decoders of image_decode.h.
 */
#include "image_decode.h"

#include "run_command.h"

#include <png.h>
#include <tiffio.h>

#include <cctype>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>

namespace {

void Unpack(const uint8_t *row, DecodedImage &out, bool oneIsBlack, bool wide, bool bigEndian)
{
    if (out.Depth == 1) {
        for (uint32_t x = 0; x < out.Width; ++x) {
            bool bit = (row[x / 8] >> (7 - x % 8)) & 1;
            out.Samples.push_back(bit == oneIsBlack ? 1 : 0);
        }
        return;
    }
    size_t samples = static_cast<size_t>(out.Width) * out.Channels;
    for (size_t i = 0; i < samples; ++i) {
        if (!wide) {
            out.Samples.push_back(row[i]);
        } else if (bigEndian) {
            out.Samples.push_back(static_cast<uint16_t>(row[2 * i] << 8 | row[2 * i + 1]));
        } else {
            uint16_t v;
            std::memcpy(&v, row + 2 * i, 2);
            out.Samples.push_back(v);
        }
    }
}

} // namespace

bool DecodePng(const std::string &path, DecodedImage &out, std::string &error)
{
    FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = "cannot open " + path;
        return false;
    }
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
        Unpack(rows[y], out, false, out.Depth == 16, true); /* PNG grey: 0 is black */
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return true;
}

bool DecodeTiff(const std::string &path, DecodedImage &out, std::string &error)
{
    TIFF *tiff = TIFFOpen(path.c_str(), "r");
    if (tiff == nullptr) {
        error = "libtiff could not open " + path;
        return false;
    }
    out = DecodedImage{};
    uint32_t width = 0, height = 0;
    uint16_t bits = 0, samples = 1, compression = 0, photometric = 0, unit = 0;
    float resX = 0, resY = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(tiff, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    if (TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &resX) && TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &resY) &&
        TIFFGetFieldDefaulted(tiff, TIFFTAG_RESOLUTIONUNIT, &unit) && unit == RESUNIT_INCH) {
        out.ResolutionX = resX;
        out.ResolutionY = resY;
    }
    out.Width = width;
    out.Height = height;
    out.Depth = bits;
    out.Channels = samples;
    out.Compression = compression;
    out.Photometric = photometric;
    std::vector<uint8_t> row(static_cast<size_t>(TIFFScanlineSize(tiff)));
    for (uint32_t y = 0; y < height; ++y) {
        if (TIFFReadScanline(tiff, row.data(), y, 0) < 0) {
            TIFFClose(tiff);
            error = "libtiff could not read line " + std::to_string(y);
            return false;
        }
        Unpack(row.data(), out, photometric == PHOTOMETRIC_MINISWHITE, bits == 16, false);
    }
    TIFFClose(tiff);
    return true;
}

bool DecodePnm(const std::string &data, DecodedImage &out, std::string &error)
{
    out = DecodedImage{};
    size_t pos = 0;
    auto token = [&]() -> std::string {
        while (pos < data.size()) {
            if (data[pos] == '#')
                while (pos < data.size() && data[pos] != '\n')
                    ++pos;
            else if (std::isspace(static_cast<unsigned char>(data[pos])))
                ++pos;
            else
                break;
        }
        size_t start = pos;
        while (pos < data.size() && !std::isspace(static_cast<unsigned char>(data[pos])))
            ++pos;
        return data.substr(start, pos - start);
    };
    std::string magic = token();
    if (magic != "P4" && magic != "P5" && magic != "P6") {
        error = "not a binary PNM image: '" + magic + "'";
        return false;
    }
    out.Width = static_cast<uint32_t>(std::stoul(token()));
    out.Height = static_cast<uint32_t>(std::stoul(token()));
    unsigned maxval = 1;
    if (magic != "P4")
        maxval = static_cast<unsigned>(std::stoul(token()));
    ++pos; /* the single white space before the samples */
    out.Channels = magic == "P6" ? 3 : 1;
    out.Depth = magic == "P4" ? 1 : maxval > 255 ? 16 : 8;
    size_t rowBytes = out.Depth == 1 ? (out.Width + 7) / 8
                                     : static_cast<size_t>(out.Width) * out.Channels * (out.Depth / 8);
    if (data.size() - pos != rowBytes * out.Height) {
        error = "PNM sample data is " + std::to_string(data.size() - pos) + " bytes, expected " +
                std::to_string(rowBytes * out.Height);
        return false;
    }
    for (uint32_t y = 0; y < out.Height; ++y)
        Unpack(reinterpret_cast<const uint8_t *>(data.data()) + pos + y * rowBytes, out, true, out.Depth == 16,
               true);
    return true;
}

bool DecodeImageFile(const std::string &path, DecodedImage &out, std::string &error)
{
    std::string data = ReadFile(path);
    if (data.size() >= 8 && std::memcmp(data.data(), "\x89PNG", 4) == 0)
        return DecodePng(path, out, error);
    if (data.size() >= 4 && (data.compare(0, 2, "II") == 0 || data.compare(0, 2, "MM") == 0))
        return DecodeTiff(path, out, error);
    return DecodePnm(data, out, error);
}
