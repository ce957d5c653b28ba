/*
 * image_writer_png.cpp - PNG through libpng: grey and colour at 8 and 16
 * bits, and 1-bit grey for bilevel scans. The resolution goes into pHYs in
 * pixels per metre. libpng reports errors by longjmp to the setjmp of the
 * method that called it; those methods hold no objects with destructors,
 * so nothing is skipped on the way back.
 */
#include "image_writer.h"

#include <png.h>

#include <cmath>
#include <csetjmp>

namespace {

class PngWriter : public ImageWriter {
public:
    ~PngWriter() override
    {
        if (Png != nullptr)
            png_destroy_write_struct(&Png, &Info);
    }

    bool Begin(FILE *file, const ImageInfo &info, std::string &error) override
    {
        Image = info;
        Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, this, OnError, OnWarning);
        if (Png == nullptr) {
            error = "cannot set up the PNG writer";
            return false;
        }
        Info = png_create_info_struct(Png);
        if (Info == nullptr) {
            error = "cannot set up the PNG writer";
            return false;
        }
        if (setjmp(png_jmpbuf(Png)))
            return Failed(error);
        png_init_io(Png, file);
        /* Scans are large and compress well at a low level; the higher
         * levels cost much time for a few per cent. */
        png_set_compression_level(Png, 3);
        int colourType = info.Channels == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY;
        png_set_IHDR(Png, Info, info.Width, info.Height, static_cast<int>(info.Depth), colourType,
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        auto perMetre = static_cast<png_uint_32>(std::lround(info.Resolution / 0.0254));
        png_set_pHYs(Png, Info, perMetre, perMetre, PNG_RESOLUTION_METER);
        png_write_info(Png, Info);
        if (info.Depth == 1)
            png_set_invert_mono(Png); /* the driver's 1 is black, PNG's 0 is */
        if (info.Depth == 16 && IsLittleEndianHost())
            png_set_swap(Png); /* PNG stores 16-bit samples big-endian */
        return true;
    }

    bool WriteLines(const uint8_t *lines, uint32_t count, std::string &error) override
    {
        size_t lineBytes = LineBytes(Image);
        if (setjmp(png_jmpbuf(Png)))
            return Failed(error);
        for (uint32_t y = 0; y < count; ++y)
            png_write_row(Png, lines + y * lineBytes);
        Written += count;
        return true;
    }

    bool Finish(std::string &error) override
    {
        if (Written != Image.Height) {
            error = "the image is incomplete: " + std::to_string(Written) + " of " +
                    std::to_string(Image.Height) + " lines";
            return false;
        }
        if (setjmp(png_jmpbuf(Png)))
            return Failed(error);
        png_write_end(Png, Info);
        FILE *file = static_cast<FILE *>(png_get_io_ptr(Png));
        if (std::fflush(file) != 0 || std::ferror(file)) {
            error = "cannot write the image";
            return false;
        }
        return true;
    }

private:
    static bool IsLittleEndianHost()
    {
        const uint16_t probe = 1;
        return *reinterpret_cast<const uint8_t *>(&probe) == 1;
    }

    static void OnError(png_structp png, png_const_charp message)
    {
        auto *self = static_cast<PngWriter *>(png_get_error_ptr(png));
        self->Message = message;
        png_longjmp(png, 1);
    }

    static void OnWarning(png_structp, png_const_charp) {}

    bool Failed(std::string &error)
    {
        error = "cannot write the PNG image: " + Message;
        return false;
    }

    png_structp Png = nullptr;
    png_infop Info = nullptr;
    ImageInfo Image;
    uint32_t Written = 0;
    std::string Message; /* the last libpng error */
};

} // namespace

std::unique_ptr<ImageWriter> CreatePngWriter()
{
    return std::make_unique<PngWriter>();
}
