/*
 * pdf_writer.cpp - a batch as one PDF, written as it is scanned. Each page
 * is one image that fills it: the page measures pixels x 72 / resolution
 * points, so it prints at the size of the paper scanned. Bilevel images go
 * in as 1 bit per pixel with CCITT Group 4 compression (encoded by libtiff);
 * grey and colour images as 8-bit DeviceGray or DeviceRGB, Flate-compressed
 * (zlib), or as JPEG (libjpeg) when a quality is given. PDF images here
 * carry at most 8 bits per sample, so 16-bit pages are refused.
 *
 * A page goes to the file when it ends: its image, its content stream and
 * the page object. The page tree, the catalogue and the cross-reference
 * table follow when the document is finished, so only the page being
 * scanned is ever held in memory, whatever the length of the batch.
 */
#include "document_writer.h"

#include <jpeglib.h>
#include <tiffio.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

/* The usual limits on a page side, in points. */
constexpr double kMinPagePoints = 3, kMaxPagePoints = 14400;

/* Objects 1-3 are written last; each page adds its image, content and page. */
constexpr unsigned kCatalogObject = 1, kPagesObject = 2, kInfoObject = 3, kFirstPageObject = 4;

/* --- JPEG in memory ------------------------------------------------------- */

struct JpegFailure {
    jpeg_error_mgr Manager;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
};

void OnJpegError(j_common_ptr info)
{
    JpegFailure *failure = reinterpret_cast<JpegFailure *>(info->err);
    info->err->format_message(info, failure->Message);
    std::longjmp(failure->Jump, 1);
}

/* Encodes an 8-bit grey or RGB image. Returns the JPEG bytes in *out
 * (malloc'ed, the caller frees them) or null with the reason in message.
 * Only plain data lives in this frame, so the long jump of an error skips
 * no destructor. */
unsigned char *EncodeJpeg(const uint8_t *pixels, uint32_t width, uint32_t height, unsigned channels, int quality,
                          unsigned long *size, char *message)
{
    jpeg_compress_struct info;
    JpegFailure failure;
    unsigned char *volatile out = nullptr;
    *size = 0;
    info.err = jpeg_std_error(&failure.Manager);
    failure.Manager.error_exit = OnJpegError;
    failure.Message[0] = 0;
    if (setjmp(failure.Jump) != 0) {
        jpeg_destroy_compress(&info);
        std::free(out);
        std::strcpy(message, failure.Message);
        return nullptr;
    }
    jpeg_create_compress(&info);
    unsigned char *buffer = nullptr;
    jpeg_mem_dest(&info, &buffer, size);
    info.image_width = width;
    info.image_height = height;
    info.input_components = static_cast<int>(channels);
    info.in_color_space = channels == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    size_t stride = static_cast<size_t>(width) * channels;
    while (info.next_scanline < height) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels + info.next_scanline * stride);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    out = buffer;
    jpeg_destroy_compress(&info);
    return out;
}

/* --- Group 4 in memory ---------------------------------------------------- */

/* A TIFF file in a byte vector, for libtiff's client interface: the page is
 * written as one Group 4 strip, whose bytes are the PDF image's data. */
struct MemoryFile {
    std::vector<uint8_t> Bytes;
    uint64_t Position = 0;
};

tsize_t MemoryRead(thandle_t handle, tdata_t data, tsize_t size)
{
    MemoryFile &file = *static_cast<MemoryFile *>(handle);
    uint64_t available = file.Position < file.Bytes.size() ? file.Bytes.size() - file.Position : 0;
    size_t n = static_cast<size_t>(std::min<uint64_t>(available, static_cast<uint64_t>(size)));
    if (n != 0)
        std::memcpy(data, file.Bytes.data() + file.Position, n);
    file.Position += n;
    return static_cast<tsize_t>(n);
}

tsize_t MemoryWrite(thandle_t handle, tdata_t data, tsize_t size)
{
    MemoryFile &file = *static_cast<MemoryFile *>(handle);
    if (size <= 0)
        return 0;
    if (file.Position + static_cast<uint64_t>(size) > file.Bytes.size())
        file.Bytes.resize(file.Position + static_cast<uint64_t>(size));
    std::memcpy(file.Bytes.data() + file.Position, data, static_cast<size_t>(size));
    file.Position += static_cast<uint64_t>(size);
    return size;
}

toff_t MemorySeek(thandle_t handle, toff_t offset, int whence)
{
    MemoryFile &file = *static_cast<MemoryFile *>(handle);
    file.Position = whence == SEEK_SET ? offset : whence == SEEK_CUR ? file.Position + offset : file.Bytes.size() + offset;
    return file.Position;
}

int MemoryClose(thandle_t)
{
    return 0;
}

toff_t MemorySize(thandle_t handle)
{
    return static_cast<MemoryFile *>(handle)->Bytes.size();
}

int MemoryMap(thandle_t, tdata_t *, toff_t *)
{
    return 0;
}

void MemoryUnmap(thandle_t, tdata_t, toff_t) {}

/* libtiff's first complaint, kept for the message instead of printed. */
int OnTiffMessage(TIFF *, void *kept, const char *, const char *format, va_list args)
{
    std::string &text = *static_cast<std::string *>(kept);
    if (text.empty()) {
        char line[256];
        std::vsnprintf(line, sizeof line, format, args);
        text = line;
    }
    return 1;
}

/* Encodes packed bilevel lines (1 for black, as libtiff's fax coder takes
 * them) as CCITT Group 4 data; false with libtiff's reason when it fails. */
bool EncodeGroup4(uint8_t *lines, uint32_t width, uint32_t height, std::vector<uint8_t> &out, std::string &why)
{
    MemoryFile file;
    std::string ignored;
    TIFFOpenOptions *options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, OnTiffMessage, &why);
    TIFFOpenOptionsSetWarningHandlerExtR(options, OnTiffMessage, &ignored);
    TIFF *tiff = TIFFClientOpenExt("page", "w", &file, MemoryRead, MemoryWrite, MemorySeek, MemoryClose, MemorySize,
                                   MemoryMap, MemoryUnmap, options);
    TIFFOpenOptionsFree(options);
    if (tiff == nullptr)
        return false;
    const tmsize_t bytes = static_cast<tmsize_t>((static_cast<uint64_t>(width) + 7) / 8 * height);
    uint64_t *offsets = nullptr, *counts = nullptr;
    bool ok = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width) && TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height) &&
              TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 1) && TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1) &&
              TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE) &&
              TIFFSetField(tiff, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB) &&
              TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4) &&
              TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, height) &&
              TIFFWriteEncodedStrip(tiff, 0, lines, bytes) == bytes && /* the strip is in the file now */
              TIFFGetField(tiff, TIFFTAG_STRIPOFFSETS, &offsets) && TIFFGetField(tiff, TIFFTAG_STRIPBYTECOUNTS, &counts) &&
              offsets != nullptr && counts != nullptr && offsets[0] + counts[0] <= file.Bytes.size();
    if (ok)
        out.assign(file.Bytes.begin() + static_cast<ptrdiff_t>(offsets[0]),
                   file.Bytes.begin() + static_cast<ptrdiff_t>(offsets[0] + counts[0]));
    TIFFClose(tiff);
    return ok;
}

/* --- the document ---------------------------------------------------------- */

class PdfWriter : public BufferedDocumentWriter {
public:
    explicit PdfWriter(int jpegQuality) : JpegQuality(jpegQuality) {}

    bool Begin(FILE *file, std::string &error) override
    {
        File = file;
        /* The comment's high bytes mark the file as binary for transfer programs. */
        return Put("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n") || Failed(error);
    }

    bool Accepts(const ImageInfo &page, std::string &error) const override
    {
        if (page.Depth != 1 && page.Depth != 8) {
            error = "a PDF page holds 1 or 8 bits per sample, not " + std::to_string(page.Depth) +
                    ": scan with --depth 8, or write TIFF";
            return false;
        }
        if (page.Resolution == 0 || page.Width == 0 || page.Height == 0 ||
            (page.Channels != 1 && page.Channels != 3) || (page.Depth == 1 && page.Channels != 1)) {
            error = "not an image a PDF page can hold";
            return false;
        }
        double width = Points(page.Width, page.Resolution), height = Points(page.Height, page.Resolution);
        if (width < kMinPagePoints || height < kMinPagePoints || width > kMaxPagePoints || height > kMaxPagePoints) {
            error = "a PDF page measures 3 to 14400 points a side; " + std::to_string(page.Width) + " x " +
                    std::to_string(page.Height) + " pixels at " + std::to_string(page.Resolution) +
                    " dpi do not fit";
            return false;
        }
        return true;
    }

    bool StorePage(std::string &error) override
    {
        std::string filter;
        std::vector<uint8_t> data;
        if (!EncodePage(filter, data, error))
            return false;
        /* From here a failure leaves half a page in the file. */
        const unsigned image = NextObject, content = image + 1, page = image + 2;
        char text[512];
        const char *space = Page.Channels == 3 ? "/DeviceRGB" : "/DeviceGray";
        std::snprintf(text, sizeof text,
                      "<< /Type /XObject /Subtype /Image /Width %u /Height %u /ColorSpace %s /BitsPerComponent %u "
                      "/Filter %s /Length %zu",
                      Page.Width, Page.Height, space, Page.Depth, filter.c_str(), data.size());
        std::string dictionary = text;
        if (Page.Depth == 1)
            dictionary += " /DecodeParms << /K -1 /Columns " + std::to_string(Page.Width) + " /Rows " +
                          std::to_string(Page.Height) + " >>";
        const double width = Points(Page.Width, Page.Resolution), height = Points(Page.Height, Page.Resolution);
        std::snprintf(text, sizeof text, "q %.4f 0 0 %.4f 0 0 cm /Im0 Do Q\n", width, height);
        const std::string drawing = text;
        std::snprintf(text, sizeof text,
                      "<< /Type /Page /Parent %u 0 R /MediaBox [0 0 %.4f %.4f] /Resources << /XObject << /Im0 %u 0 R "
                      ">> >> /Contents %u 0 R >>",
                      kPagesObject, width, height, image, content);
        const bool written = BeginObject(image) && Put(dictionary + " >>\nstream\n") && Put(data.data(), data.size()) &&
                             Put("\nendstream\nendobj\n") && BeginObject(content) &&
                             Put("<< /Length " + std::to_string(drawing.size()) + " >>\nstream\n" + drawing +
                                 "endstream\nendobj\n") &&
                             BeginObject(page) && Put(std::string(text) + "\nendobj\n");
        if (!written) {
            Broken = true;
            return Failed(error);
        }
        PageObjects.push_back(page);
        NextObject = page + 1;
        return true;
    }

    bool Finish(std::string &error) override
    {
        if (Broken) {
            error = "the PDF document cannot be completed after a page failed to go in";
            return false;
        }
        if (PageObjects.empty()) {
            error = "the PDF document has no page";
            return false;
        }
        std::string kids;
        for (unsigned page : PageObjects)
            kids += " " + std::to_string(page) + " 0 R";
        bool ok = BeginObject(kCatalogObject) &&
                  Put("<< /Type /Catalog /Pages " + std::to_string(kPagesObject) + " 0 R >>\nendobj\n") &&
                  BeginObject(kPagesObject) &&
                  Put("<< /Type /Pages /Kids [" + kids + " ] /Count " + std::to_string(PageObjects.size()) +
                      " >>\nendobj\n") &&
                  BeginObject(kInfoObject) && Put("<< /Creator (scan \\(scandrv\\)) >>\nendobj\n");
        /* The cross-reference table: 20 bytes per object, in object order. */
        const uint64_t table = Offset;
        const unsigned count = NextObject;
        ok = ok && Put("xref\n0 " + std::to_string(count) + "\n0000000000 65535 f \n");
        for (unsigned object = 1; ok && object < count; ++object) {
            char entry[24];
            std::snprintf(entry, sizeof entry, "%010llu 00000 n \n", static_cast<unsigned long long>(Offsets[object]));
            ok = Put(entry);
        }
        ok = ok && Put("trailer\n<< /Size " + std::to_string(count) + " /Root " + std::to_string(kCatalogObject) +
                       " 0 R /Info " + std::to_string(kInfoObject) + " 0 R >>\nstartxref\n" + std::to_string(table) +
                       "\n%%EOF\n");
        if (!ok || std::fflush(File) != 0)
            return Failed(error);
        return true;
    }

    unsigned Pages() const override { return static_cast<unsigned>(PageObjects.size()); }

private:
    static double Points(uint32_t pixels, unsigned resolution) { return pixels * 72.0 / resolution; }

    /* The page's image data and the filter that reads it. */
    bool EncodePage(std::string &filter, std::vector<uint8_t> &data, std::string &error)
    {
        if (Page.Depth == 1) {
            filter = "/CCITTFaxDecode";
            std::string why;
            if (!EncodeGroup4(Lines.data(), Page.Width, Page.Height, data, why)) {
                error = "cannot compress the page with CCITT Group 4" + (why.empty() ? "" : ": " + why);
                return false;
            }
            return true;
        }
        if (JpegQuality > 0) {
            filter = "/DCTDecode";
            unsigned long size = 0;
            char message[JMSG_LENGTH_MAX] = "";
            unsigned char *jpeg =
                EncodeJpeg(Lines.data(), Page.Width, Page.Height, Page.Channels, JpegQuality, &size, message);
            if (jpeg == nullptr) {
                error = std::string("cannot compress the page as JPEG: ") + message;
                return false;
            }
            data.assign(jpeg, jpeg + size);
            std::free(jpeg);
            return true;
        }
        filter = "/FlateDecode";
        uLongf size = compressBound(static_cast<uLong>(Lines.size()));
        data.resize(size);
        if (compress2(data.data(), &size, Lines.data(), static_cast<uLong>(Lines.size()), Z_DEFAULT_COMPRESSION) !=
            Z_OK) {
            error = "cannot compress the page with Flate: out of memory";
            return false;
        }
        data.resize(size);
        return true;
    }

    bool BeginObject(unsigned object)
    {
        if (Offsets.size() <= object)
            Offsets.resize(object + 1, 0);
        Offsets[object] = Offset;
        return Put(std::to_string(object) + " 0 obj\n");
    }

    bool Put(const void *bytes, size_t size)
    {
        if (size != 0 && std::fwrite(bytes, 1, size, File) != size)
            return false;
        Offset += size;
        return true;
    }
    bool Put(const std::string &text) { return Put(text.data(), text.size()); }

    bool Failed(std::string &error)
    {
        error = std::string("cannot write the PDF document: ") + std::strerror(errno);
        return false;
    }

    const int JpegQuality;
    FILE *File = nullptr;
    uint64_t Offset = 0;                /* bytes written so far */
    std::vector<uint64_t> Offsets;      /* of each object, by number */
    std::vector<unsigned> PageObjects;  /* the page objects, in page order */
    unsigned NextObject = kFirstPageObject;
    bool Broken = false;                /* a page went in half: the document cannot be completed */
};

} // namespace

std::unique_ptr<DocumentWriter> CreatePdfWriter(int jpegQuality)
{
    return std::make_unique<PdfWriter>(jpegQuality);
}
