/*
 * image_writer.cpp - the table that picks a writer by format, and the line
 * size all writers share.
 */
#include "image_writer.h"

#include <cerrno>
#include <cstring>

namespace {

struct WriterRow {
    ImageFormat Format;
    std::unique_ptr<ImageWriter> (*Create)();
    bool NeedsSeek; /* TIFF writes its directory last and points back to it */
};

const WriterRow kWriters[] = {
    {ImageFormat::Pnm, CreatePnmWriter, false},
    {ImageFormat::Png, CreatePngWriter, false},
    {ImageFormat::Tiff, CreateTiffWriter, true},
    {ImageFormat::Bmp, CreateBmpWriter, false},
};

} // namespace

size_t LineBytes(const ImageInfo &info)
{
    if (info.Depth == 1)
        return (static_cast<size_t>(info.Width) + 7) / 8;
    return static_cast<size_t>(info.Width) * info.Channels * (info.Depth > 8 ? 2 : 1);
}

bool DirectImageWriter::Finish(std::string &error)
{
    if (Written != Info.Height) {
        error = "the image is incomplete: " + std::to_string(Written) + " of " + std::to_string(Info.Height) + " lines";
        return false;
    }
    if (std::fflush(File) != 0 || std::ferror(File))
        return Failed(error);
    return true;
}

bool DirectImageWriter::Failed(std::string &error)
{
    error = std::string("cannot write the image: ") + std::strerror(errno);
    return false;
}

std::unique_ptr<ImageWriter> CreateImageWriter(ImageFormat format)
{
    for (const WriterRow &row : kWriters)
        if (row.Format == format)
            return row.Create();
    return nullptr;
}

bool FormatNeedsSeekableFile(ImageFormat format)
{
    for (const WriterRow &row : kWriters)
        if (row.Format == format)
            return row.NeedsSeek;
    return false;
}
