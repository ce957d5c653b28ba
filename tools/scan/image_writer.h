/*
 * image_writer.h - one small interface for the four image file formats.
 * The format is chosen once, before the scan starts; the read loop then
 * hands every run of delivered lines to the writer it was given and never
 * asks which format it writes.
 */
#ifndef SCAN_IMAGE_WRITER_H
#define SCAN_IMAGE_WRITER_H

#include "options.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

struct ImageInfo {
    uint32_t Width = 0;      /* pixels per line */
    uint32_t Height = 0;     /* lines */
    unsigned Channels = 1;   /* 1 grey or bilevel, 3 colour */
    unsigned Depth = 8;      /* bits per sample: 1, 8 or 16 */
    unsigned Resolution = 0; /* dots per inch, both directions */
};

/* Bytes of one line as the driver delivers it. */
size_t LineBytes(const ImageInfo &info);

/* Lines come as the driver delivers them: colour pixel-interleaved red,
 * green, blue; 16-bit samples in the host's byte order; bilevel lines
 * packed 8 pixels to a byte, the first pixel in the most significant bit,
 * 1 for black. */
class ImageWriter {
public:
    virtual ~ImageWriter() = default;
    /* Starts the image in file, which is open for writing and empty. */
    virtual bool Begin(FILE *file, const ImageInfo &info, std::string &error) = 0;
    virtual bool WriteLines(const uint8_t *lines, uint32_t count, std::string &error) = 0;
    /* Completes the image once all Height lines are written and flushes the
     * file; the file stays open for the caller to close. */
    virtual bool Finish(std::string &error) = 0;
};

/* The part of the writers that put the lines into the file themselves (PNM,
 * BMP): the lines counted, the check that all of them came, and the message
 * of a failed write. */
class DirectImageWriter : public ImageWriter {
public:
    bool Finish(std::string &error) override;

protected:
    bool Failed(std::string &error);

    FILE *File = nullptr;
    ImageInfo Info;
    uint32_t Written = 0; /* lines so far */
};

std::unique_ptr<ImageWriter> CreatePnmWriter();
std::unique_ptr<ImageWriter> CreatePngWriter();
std::unique_ptr<ImageWriter> CreateTiffWriter();
std::unique_ptr<ImageWriter> CreateBmpWriter();

/* The writer for a format; null for ImageFormat::Unknown. */
std::unique_ptr<ImageWriter> CreateImageWriter(ImageFormat format);

/* Whether the format can be written to a stream that cannot seek (a pipe). */
bool FormatNeedsSeekableFile(ImageFormat format);

#endif
