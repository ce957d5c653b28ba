/*
 * image_writer_unavailable.cpp - the PNG and TIFF writers where the build
 * has no libpng or libtiff (the Windows scan.exe): a writer that refuses to
 * begin, naming the format that works. The scan it was chosen for is then
 * ended and nothing is written.
 */
#include "image_writer.h"

namespace {

class UnavailableWriter : public ImageWriter {
public:
    explicit UnavailableWriter(const char *format) : Format(format) {}
    bool Begin(FILE *, const ImageInfo &, std::string &error) override
    {
        error = std::string(Format) + " images cannot be written by this build of scan: write PNM (-o FILE.pnm)";
        return false;
    }
    bool WriteLines(const uint8_t *, uint32_t, std::string &) override { return false; }
    bool Finish(std::string &) override { return false; }

private:
    const char *Format;
};

} // namespace

std::unique_ptr<ImageWriter> CreatePngWriter()
{
    return std::make_unique<UnavailableWriter>("PNG");
}

std::unique_ptr<ImageWriter> CreateTiffWriter()
{
    return std::make_unique<UnavailableWriter>("TIFF");
}
