/*
 * image_writer_pnm.cpp - PBM (P4), PGM (P5) and PPM (P6), written directly.
 * PBM's 1 for black and its packing match the driver's bilevel lines, so
 * they go out as they are; 16-bit samples are turned big-endian, as PNM
 * requires, with a maxval of 65535. PNM has no place for the resolution;
 * a comment line records it for people.
 */
#include "image_writer.h"

#include <cstring>
#include <vector>

namespace {

class PnmWriter : public DirectImageWriter {
public:
    bool Begin(FILE *file, const ImageInfo &info, std::string &error) override
    {
        File = file;
        Info = info;
        const char *magic = info.Depth == 1 ? "P4" : info.Channels == 3 ? "P6" : "P5";
        int n;
        if (info.Depth == 1)
            n = std::fprintf(file, "%s\n# resolution %u dpi\n%u %u\n", magic, info.Resolution, info.Width,
                             info.Height);
        else
            n = std::fprintf(file, "%s\n# resolution %u dpi\n%u %u\n%u\n", magic, info.Resolution, info.Width,
                             info.Height, info.Depth > 8 ? 65535u : 255u);
        if (n < 0)
            return Failed(error);
        if (info.Depth > 8)
            Scratch.resize(LineBytes(info));
        return true;
    }

    bool WriteLines(const uint8_t *lines, uint32_t count, std::string &error) override
    {
        size_t lineBytes = LineBytes(Info);
        if (Info.Depth <= 8) {
            if (count > 0 && std::fwrite(lines, lineBytes, count, File) != count)
                return Failed(error);
        } else {
            for (uint32_t y = 0; y < count; ++y) {
                const uint8_t *line = lines + y * lineBytes;
                for (size_t i = 0; i + 1 < lineBytes; i += 2) {
                    uint16_t sample;
                    std::memcpy(&sample, line + i, 2);
                    Scratch[i] = static_cast<uint8_t>(sample >> 8);
                    Scratch[i + 1] = static_cast<uint8_t>(sample);
                }
                if (std::fwrite(Scratch.data(), lineBytes, 1, File) != 1)
                    return Failed(error);
            }
        }
        Written += count;
        return true;
    }

private:
    std::vector<uint8_t> Scratch; /* one line of big-endian 16-bit samples */
};

} // namespace

std::unique_ptr<ImageWriter> CreatePnmWriter()
{
    return std::make_unique<PnmWriter>();
}
