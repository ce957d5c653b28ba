/*
 * image_writer_unavailable.cpp - the PNG, TIFF and PDF writers where the
 * build has no libpng, libtiff, zlib or libjpeg (the Windows scan.exe): writers
 * that refuse, naming the format that works. A document writer refuses
 * every page before the scan starts; an image writer refuses to begin, and
 * the scan it was chosen for is ended. Nothing is written either way.
 */
#include "document_writer.h"
#include "image_writer.h"

namespace {

class UnavailableWriter : public ImageWriter {
public:
    explicit UnavailableWriter(const char *format) : Format(format) {}
    bool Begin(FILE *, const ImageInfo &, std::string &error) override
    {
        error = std::string(Format) + " images cannot be written by this build of scan: write BMP or PNM (-o FILE.bmp)";
        return false;
    }
    bool WriteLines(const uint8_t *, uint32_t, std::string &) override { return false; }
    bool Finish(std::string &) override { return false; }

private:
    const char *Format;
};

class UnavailableDocumentWriter : public DocumentWriter {
public:
    explicit UnavailableDocumentWriter(const char *format) : Format(format) {}
    bool Begin(FILE *, std::string &error) override { return Refuse(error); }
    bool Accepts(const ImageInfo &, std::string &error) const override { return Refuse(error); }
    bool BeginPage(const ImageInfo &, std::string &error) override { return Refuse(error); }
    bool WriteLines(const uint8_t *, uint32_t, std::string &error) override { return Refuse(error); }
    bool EndPage(std::string &error) override { return Refuse(error); }
    void AbandonPage() override {}
    bool Finish(std::string &error) override { return Refuse(error); }
    unsigned Pages() const override { return 0; }

private:
    bool Refuse(std::string &error) const
    {
        error = std::string(Format) + " documents cannot be written by this build of scan: write BMP or PNM "
                                      "pages (-o FILE%d.bmp)";
        return false;
    }
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

std::unique_ptr<DocumentWriter> CreatePdfWriter(int)
{
    return std::make_unique<UnavailableDocumentWriter>("PDF");
}

std::unique_ptr<DocumentWriter> CreateTiffPagesWriter()
{
    return std::make_unique<UnavailableDocumentWriter>("Multi-page TIFF");
}
