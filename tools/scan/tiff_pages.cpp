/*
 * tiff_pages.cpp - a batch as one TIFF through libtiff, one directory per
 * page: bilevel pages with CCITT Group 4 (white is 0, as the driver's bits
 * are), grey and colour at 8 or 16 bits with Deflate and the horizontal
 * predictor, every page with its resolution, the page flag and its number.
 *
 * A page's lines are collected until the page ends and only then written
 * with its directory, so a page abandoned half-way leaves nothing in the
 * file and the directories already written form a complete document.
 * libtiff owns a duplicate of the file's descriptor, which TIFFClose
 * closes; errors reach this writer alone through a per-file handler.
 */
#include "document_writer.h"

#include <fcntl.h>
#include <tiffio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <vector>

namespace {

class TiffPagesWriter : public BufferedDocumentWriter {
public:
    ~TiffPagesWriter() override
    {
        if (Tiff != nullptr)
            TIFFClose(Tiff);
    }

    bool Begin(FILE *file, std::string &error) override
    {
        if (std::fflush(file) != 0) {
            error = std::string("cannot write the TIFF document: ") + std::strerror(errno);
            return false;
        }
        /* libtiff reads back what it wrote when it links a directory to
         * the one before. */
        int mode = fcntl(fileno(file), F_GETFL);
        if (mode < 0 || (mode & O_ACCMODE) != O_RDWR) {
            error = "cannot write a TIFF document to a file that cannot be read back";
            return false;
        }
        int fd = dup(fileno(file));
        if (fd < 0) {
            error = std::string("cannot write the TIFF document: ") + std::strerror(errno);
            return false;
        }
        TIFFOpenOptions *options = TIFFOpenOptionsAlloc();
        if (options == nullptr) {
            close(fd);
            error = "cannot start the TIFF document: out of memory";
            return false;
        }
        TIFFOpenOptionsSetErrorHandlerExtR(options, OnTiffError, this);
        TIFFOpenOptionsSetWarningHandlerExtR(options, OnTiffWarning, this);
        LastError.clear();
        errno = 0;
        Tiff = TIFFFdOpenExt(fd, "document", "w", options);
        TIFFOpenOptionsFree(options);
        if (Tiff == nullptr) {
            close(fd);
            return Failed(error, "cannot start the TIFF document");
        }
        return true;
    }

    bool Accepts(const ImageInfo &page, std::string &error) const override
    {
        bool depthOk = page.Depth == 1 ? page.Channels == 1 : page.Depth == 8 || page.Depth == 16;
        if (!depthOk || (page.Channels != 1 && page.Channels != 3) || page.Width == 0 || page.Height == 0 ||
            page.Resolution == 0) {
            error = "not an image a TIFF page can hold";
            return false;
        }
        return true;
    }

    bool StorePage(std::string &error) override
    {
        bool ok = WriteDirectory(error);
        if (ok)
            ++Ended;
        else
            Broken = true; /* part of the page may be in the file */
        return ok;
    }

    bool Finish(std::string &error) override
    {
        if (Broken) {
            error = "the TIFF document cannot be completed after a failed write";
            return false;
        }
        if (Ended == 0) {
            error = "the TIFF document has no page";
            return false;
        }
        LastError.clear();
        errno = 0;
        /* Every directory is written already: closing only flushes. */
        bool flushed = TIFFFlush(Tiff) == 1;
        TIFFClose(Tiff);
        Tiff = nullptr;
        return flushed || Failed(error, "cannot write the TIFF document");
    }

    unsigned Pages() const override { return Ended; }

private:
    static int OnTiffError(TIFF *, void *self, const char *module, const char *format, va_list args)
    {
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        TiffPagesWriter *writer = static_cast<TiffPagesWriter *>(self);
        if (writer->LastError.empty()) {
            writer->LastError = module != nullptr ? std::string(module) + ": " + text : text;
            /* libtiff's messages leave out why a write failed. */
            if (errno != 0)
                writer->LastError += std::string(" (") + std::strerror(errno) + ")";
        }
        return 1;
    }

    static int OnTiffWarning(TIFF *, void *, const char *, const char *, va_list) { return 1; }

    bool Failed(std::string &error, const char *what)
    {
        error = what + (LastError.empty() ? std::string() : ": " + LastError);
        return false;
    }

    /* The collected page as the next directory. */
    bool WriteDirectory(std::string &error)
    {
        LastError.clear();
        errno = 0;
        const ImageInfo &p = Page;
        bool ok = TIFFSetField(Tiff, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE) &&
                  TIFFSetField(Tiff, TIFFTAG_IMAGEWIDTH, p.Width) &&
                  TIFFSetField(Tiff, TIFFTAG_IMAGELENGTH, p.Height) &&
                  TIFFSetField(Tiff, TIFFTAG_BITSPERSAMPLE, p.Depth) &&
                  TIFFSetField(Tiff, TIFFTAG_SAMPLESPERPIXEL, p.Channels) &&
                  TIFFSetField(Tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
                  TIFFSetField(Tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
                  TIFFSetField(Tiff, TIFFTAG_XRESOLUTION, static_cast<float>(p.Resolution)) &&
                  TIFFSetField(Tiff, TIFFTAG_YRESOLUTION, static_cast<float>(p.Resolution)) &&
                  TIFFSetField(Tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) &&
                  /* the page count is not known while the batch runs: 0 */
                  TIFFSetField(Tiff, TIFFTAG_PAGENUMBER, static_cast<uint16_t>(Ended), static_cast<uint16_t>(0)) &&
                  TIFFSetField(Tiff, TIFFTAG_SOFTWARE, "scan");
        if (p.Depth == 1) {
            ok = ok && TIFFSetField(Tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE) &&
                 TIFFSetField(Tiff, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4) &&
                 TIFFSetField(Tiff, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
        } else {
            ok = ok &&
                 TIFFSetField(Tiff, TIFFTAG_PHOTOMETRIC, p.Channels == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK) &&
                 TIFFSetField(Tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE) &&
                 TIFFSetField(Tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
        }
        ok = ok && TIFFSetField(Tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(Tiff, 0));
        size_t lineBytes = LineBytes(p);
        std::vector<uint8_t> row(lineBytes);
        for (uint32_t y = 0; ok && y < p.Height; ++y) {
            /* The encoders may work in the row they are given: hand them a copy. */
            std::memcpy(row.data(), Lines.data() + y * lineBytes, lineBytes);
            ok = TIFFWriteScanline(Tiff, row.data(), y, 0) >= 0;
        }
        ok = ok && TIFFWriteDirectory(Tiff) == 1;
        return ok || Failed(error, "cannot write a TIFF page");
    }

    TIFF *Tiff = nullptr;
    std::string LastError;      /* the first libtiff error since it was cleared */
    unsigned Ended = 0;
    bool Broken = false;        /* a write failed: the file is not a document */
};

} // namespace

std::unique_ptr<DocumentWriter> CreateTiffPagesWriter()
{
    return std::make_unique<TiffPagesWriter>();
}
