/*
 * image_writer_bmp.cpp - Windows bitmaps, written directly, so that every
 * build (scan.exe too) writes a format Windows opens. The rows are stored
 * top-down (a negative height), so lines go out as they arrive; each row is
 * padded to 4 bytes. Colour becomes 24-bit blue-green-red; grey is 8 bits
 * through a palette of 256 greys; bilevel lines keep their packing, with a
 * two-entry palette whose index 1 is black. BMP has no wider samples:
 * 16-bit scans are refused before they start.
 */
#include "image_writer.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kHeaderBytes = 14 + 40;

void Put16(uint8_t *p, uint32_t value)
{
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}

void Put32(uint8_t *p, uint32_t value)
{
    Put16(p, value);
    Put16(p + 2, value >> 16);
}

class BmpWriter : public DirectImageWriter {
public:
    bool Begin(FILE *file, const ImageInfo &info, std::string &error) override
    {
        File = file;
        Info = info;
        if (info.Depth > 8) {
            error = "a BMP image holds at most 8 bits per sample";
            return false;
        }
        const uint32_t bits = info.Depth == 1 ? 1 : 8 * info.Channels;
        const uint32_t colours = bits == 24 ? 0 : 1u << bits;
        const uint64_t stride = (uint64_t{info.Width} * bits + 31) / 32 * 4;
        const uint64_t offset = kHeaderBytes + 4ull * colours, size = offset + stride * info.Height;
        if (size > UINT32_MAX || info.Height > INT32_MAX) {
            error = "the image is too large for a BMP file (4 GiB at most)";
            return false;
        }
        Row.assign(stride, 0);
        const uint32_t pixelsPerMetre = static_cast<uint32_t>(std::lround(info.Resolution / 0.0254));
        std::vector<uint8_t> header(offset, 0);
        uint8_t *h = header.data();
        h[0] = 'B', h[1] = 'M';
        Put32(h + 2, static_cast<uint32_t>(size));
        Put32(h + 10, static_cast<uint32_t>(offset));
        Put32(h + 14, 40);
        Put32(h + 18, info.Width);
        Put32(h + 22, static_cast<uint32_t>(-static_cast<int32_t>(info.Height))); /* top-down */
        Put16(h + 26, 1);
        Put16(h + 28, bits);
        Put32(h + 34, static_cast<uint32_t>(stride * info.Height));
        Put32(h + 38, pixelsPerMetre);
        Put32(h + 42, pixelsPerMetre);
        Put32(h + 46, colours);
        for (uint32_t i = 0; i < colours; ++i) {
            /* Bilevel: index 0 white, 1 black, as the driver's bits mean. */
            uint8_t level = colours == 2 ? static_cast<uint8_t>(i ? 0 : 255) : static_cast<uint8_t>(i);
            std::memset(h + kHeaderBytes + 4 * i, level, 3);
        }
        if (std::fwrite(header.data(), header.size(), 1, file) != 1)
            return Failed(error);
        return true;
    }

    bool WriteLines(const uint8_t *lines, uint32_t count, std::string &error) override
    {
        const size_t lineBytes = LineBytes(Info);
        for (uint32_t y = 0; y < count; ++y) {
            const uint8_t *line = lines + y * lineBytes;
            if (Info.Channels == 3) {
                for (size_t i = 0; i < lineBytes; i += 3) {
                    Row[i] = line[i + 2];
                    Row[i + 1] = line[i + 1];
                    Row[i + 2] = line[i];
                }
            } else {
                std::memcpy(Row.data(), line, lineBytes);
            }
            if (std::fwrite(Row.data(), Row.size(), 1, File) != 1)
                return Failed(error);
        }
        Written += count;
        return true;
    }

private:
    std::vector<uint8_t> Row; /* one stored row, padding included (left 0) */
};

} // namespace

std::unique_ptr<ImageWriter> CreateBmpWriter()
{
    return std::make_unique<BmpWriter>();
}
