/*
 * image_writer_tiff.cpp - TIFF through libtiff: bilevel images with CCITT
 * Group 4 compression (white is 0, as Group 4 wants and as the driver's
 * bits already are), grey and colour at 8 and 16 bits with Deflate and the
 * horizontal predictor, and the resolution in XResolution, YResolution and
 * ResolutionUnit. libtiff writes 16-bit samples in the host's order and
 * records that order in the header, so they go in as delivered.
 *
 * libtiff owns a duplicate of the output file's descriptor, which TIFFClose
 * closes; the caller's FILE stays open.
 */
#include "image_writer.h"

#include <tiffio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <vector>

namespace {

/* libtiff reports through process-wide handlers; the last error is kept
 * here for the message and nothing is printed. */
std::string LastTiffError;

void OnTiffError(const char *module, const char *format, va_list args)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    LastTiffError = module != nullptr ? std::string(module) + ": " + text : text;
}

void OnTiffWarning(const char *, const char *, va_list) {}

class TiffWriter : public ImageWriter {
public:
    ~TiffWriter() override
    {
        if (Tiff != nullptr)
            TIFFClose(Tiff);
    }

    bool Begin(FILE *file, const ImageInfo &info, std::string &error) override
    {
        Image = info;
        TIFFSetErrorHandler(OnTiffError);
        TIFFSetWarningHandler(OnTiffWarning);
        if (std::fflush(file) != 0) {
            error = std::string("cannot write the image: ") + std::strerror(errno);
            return false;
        }
        int fd = dup(fileno(file));
        if (fd < 0) {
            error = std::string("cannot write the image: ") + std::strerror(errno);
            return false;
        }
        LastTiffError.clear();
        Tiff = TIFFFdOpen(fd, "image", "w");
        if (Tiff == nullptr) {
            close(fd);
            return Failed(error);
        }
        bool bilevel = info.Depth == 1;
        bool ok = TIFFSetField(Tiff, TIFFTAG_IMAGEWIDTH, info.Width) &&
                  TIFFSetField(Tiff, TIFFTAG_IMAGELENGTH, info.Height) &&
                  TIFFSetField(Tiff, TIFFTAG_BITSPERSAMPLE, info.Depth) &&
                  TIFFSetField(Tiff, TIFFTAG_SAMPLESPERPIXEL, info.Channels) &&
                  TIFFSetField(Tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
                  TIFFSetField(Tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
                  TIFFSetField(Tiff, TIFFTAG_XRESOLUTION, static_cast<float>(info.Resolution)) &&
                  TIFFSetField(Tiff, TIFFTAG_YRESOLUTION, static_cast<float>(info.Resolution)) &&
                  TIFFSetField(Tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) &&
                  TIFFSetField(Tiff, TIFFTAG_SOFTWARE, "scan");
        if (bilevel) {
            ok = ok && TIFFSetField(Tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE) &&
                 TIFFSetField(Tiff, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4) &&
                 TIFFSetField(Tiff, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
        } else {
            ok = ok &&
                 TIFFSetField(Tiff, TIFFTAG_PHOTOMETRIC,
                              info.Channels == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK) &&
                 TIFFSetField(Tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE) &&
                 TIFFSetField(Tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
        }
        ok = ok && TIFFSetField(Tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(Tiff, 0));
        if (!ok)
            return Failed(error);
        Scratch.resize(LineBytes(info));
        return true;
    }

    bool WriteLines(const uint8_t *lines, uint32_t count, std::string &error) override
    {
        size_t lineBytes = LineBytes(Image);
        for (uint32_t y = 0; y < count; ++y) {
            /* The encoders may work in the row they are given: hand them a copy. */
            std::memcpy(Scratch.data(), lines + y * lineBytes, lineBytes);
            if (TIFFWriteScanline(Tiff, Scratch.data(), Written, 0) < 0)
                return Failed(error);
            ++Written;
        }
        return true;
    }

    bool Finish(std::string &error) override
    {
        if (Written != Image.Height) {
            error = "the image is incomplete: " + std::to_string(Written) + " of " +
                    std::to_string(Image.Height) + " lines";
            return false;
        }
        LastTiffError.clear();
        bool flushed = TIFFFlush(Tiff) == 1;
        TIFFClose(Tiff);
        Tiff = nullptr;
        if (!flushed)
            return Failed(error);
        return true;
    }

private:
    bool Failed(std::string &error)
    {
        error = "cannot write the TIFF image" + (LastTiffError.empty() ? std::string() : ": " + LastTiffError);
        return false;
    }

    TIFF *Tiff = nullptr;
    ImageInfo Image;
    std::vector<uint8_t> Scratch;
    uint32_t Written = 0;
};

} // namespace

std::unique_ptr<ImageWriter> CreateTiffWriter()
{
    return std::make_unique<TiffWriter>();
}
