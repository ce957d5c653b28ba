/*
 * pdf_writer.cpp - a batch as one PDF, through libharu. Each page is one
 * image that fills it: the page measures pixels x 72 / resolution points,
 * so it prints at the size of the paper scanned. Bilevel images go in as 1
 * bit per pixel with CCITT Group 4 compression (libharu's encoder); grey and
 * colour images as 8-bit DeviceGray or DeviceRGB, Flate-compressed, or as
 * JPEG (encoded here with libjpeg) when a quality is given. PDF images here
 * carry at most 8 bits per sample, so 16-bit pages are refused.
 *
 * libharu assembles the whole document in memory and writes it at the end:
 * the lines of a page are collected until the page ends, then handed to
 * libharu (Group 4 and JPEG pages are kept compressed, Flate pages as they
 * are until the document is written). Nothing reaches the file before
 * Finish.
 */
#include "document_writer.h"

#include <hpdf.h>
#include <jpeglib.h>

#include <csetjmp>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

/* libharu's limits on a page side, in points. */
constexpr double kMinPagePoints = 3, kMaxPagePoints = 14400;

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

/* --- the document ---------------------------------------------------------- */

class PdfWriter : public BufferedDocumentWriter {
public:
    explicit PdfWriter(int jpegQuality) : JpegQuality(jpegQuality) {}

    ~PdfWriter() override
    {
        if (Pdf != nullptr)
            HPDF_Free(Pdf);
    }

    bool Begin(FILE *file, std::string &error) override
    {
        File = file;
        Pdf = HPDF_New(OnHaruError, this);
        if (Pdf == nullptr) {
            error = "cannot start the PDF document: out of memory";
            return false;
        }
        HPDF_SetCompressionMode(Pdf, HPDF_COMP_ALL);
        HPDF_SetInfoAttr(Pdf, HPDF_INFO_CREATOR, "scan (scandrv)");
        return Check(error, "cannot start the PDF document");
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
        HPDF_Image image = LoadImage(error);
        if (image == nullptr)
            return false;
        /* From here a failure leaves half a page in the document. */
        HPDF_Page page = HPDF_AddPage(Pdf);
        if (page == nullptr) {
            Broken = true;
            return Check(error, "cannot add a PDF page");
        }
        HPDF_REAL width = static_cast<HPDF_REAL>(Points(Page.Width, Page.Resolution));
        HPDF_REAL height = static_cast<HPDF_REAL>(Points(Page.Height, Page.Resolution));
        HPDF_Page_SetWidth(page, width);
        HPDF_Page_SetHeight(page, height);
        HPDF_Page_DrawImage(page, image, 0, 0, width, height);
        if (!Check(error, "cannot add a PDF page")) {
            Broken = true;
            return false;
        }
        ++Ended;
        return true;
    }

    bool Finish(std::string &error) override
    {
        if (Broken) {
            error = "the PDF document cannot be completed after a page failed to go in";
            return false;
        }
        if (Ended == 0) {
            error = "the PDF document has no page";
            return false;
        }
        HPDF_SaveToStream(Pdf);
        if (!Check(error, "cannot write the PDF document"))
            return false;
        std::vector<HPDF_BYTE> chunk(1 << 16);
        for (;;) {
            HPDF_UINT32 size = static_cast<HPDF_UINT32>(chunk.size());
            HPDF_STATUS status = HPDF_ReadFromStream(Pdf, chunk.data(), &size);
            if (size != 0 && std::fwrite(chunk.data(), 1, size, File) != size)
                return WriteFailed(error);
            if (status == HPDF_STREAM_EOF) {
                ErrorCode = ErrorDetail = 0; /* the end of the stream is reported as an error too */
                HPDF_ResetError(Pdf);
                break;
            }
            if (status != HPDF_OK)
                return Check(error, "cannot write the PDF document");
        }
        if (std::fflush(File) != 0)
            return WriteFailed(error);
        return true;
    }

    unsigned Pages() const override { return Ended; }

private:
    static double Points(uint32_t pixels, unsigned resolution) { return pixels * 72.0 / resolution; }

    static void HPDF_STDCALL OnHaruError(HPDF_STATUS code, HPDF_STATUS detail, void *self)
    {
        PdfWriter *writer = static_cast<PdfWriter *>(self);
        if (writer->ErrorCode == 0) {
            writer->ErrorCode = code;
            writer->ErrorDetail = detail;
        }
    }

    /* Turns a libharu error raised since the last check into a message. */
    bool Check(std::string &error, const char *what)
    {
        if (ErrorCode == 0)
            return true;
        char text[160];
        std::snprintf(text, sizeof text, "%s (libharu error 0x%04lX, detail %lu)", what,
                      static_cast<unsigned long>(ErrorCode), static_cast<unsigned long>(ErrorDetail));
        error = text;
        if (ErrorCode == HPDF_FAILD_TO_ALLOC_MEM)
            error = std::string(what) + ": out of memory";
        ErrorCode = ErrorDetail = 0;
        HPDF_ResetError(Pdf);
        return false;
    }

    bool WriteFailed(std::string &error)
    {
        error = std::string("cannot write the PDF document: ") + std::strerror(errno);
        return false;
    }

    /* The collected page as a PDF image. */
    HPDF_Image LoadImage(std::string &error)
    {
        HPDF_Image image = nullptr;
        if (Page.Depth == 1) {
            image = HPDF_Image_LoadRaw1BitImageFromMem(Pdf, Lines.data(), Page.Width, Page.Height,
                                                       static_cast<HPDF_UINT>(LineBytes(Page)), HPDF_FALSE,
                                                       HPDF_TRUE);
        } else if (JpegQuality > 0) {
            unsigned long size = 0;
            char message[JMSG_LENGTH_MAX] = "";
            unsigned char *jpeg =
                EncodeJpeg(Lines.data(), Page.Width, Page.Height, Page.Channels, JpegQuality, &size, message);
            if (jpeg == nullptr) {
                error = std::string("cannot compress the page as JPEG: ") + message;
                return nullptr;
            }
            image = HPDF_LoadJpegImageFromMem(Pdf, jpeg, static_cast<HPDF_UINT>(size));
            std::free(jpeg);
        } else {
            image = HPDF_LoadRawImageFromMem(Pdf, Lines.data(), Page.Width, Page.Height,
                                             Page.Channels == 3 ? HPDF_CS_DEVICE_RGB : HPDF_CS_DEVICE_GRAY, 8);
        }
        if (!Check(error, "cannot add the page's image to the PDF document"))
            return nullptr;
        if (image == nullptr)
            error = "cannot add the page's image to the PDF document";
        return image;
    }

    const int JpegQuality;
    FILE *File = nullptr;
    HPDF_Doc Pdf = nullptr;
    HPDF_STATUS ErrorCode = 0, ErrorDetail = 0; /* the first libharu error since the last check */
    unsigned Ended = 0;
    bool Broken = false;        /* a page went in half: the document cannot be completed */
};

} // namespace

std::unique_ptr<DocumentWriter> CreatePdfWriter(int jpegQuality)
{
    return std::make_unique<PdfWriter>(jpegQuality);
}
