/* image_decode.h - PNG, TIFF, BMP and PNM images read back into one form whose samples can be compared. */
#ifndef SCAN_TEST_IMAGE_DECODE_H
#define SCAN_TEST_IMAGE_DECODE_H

#include <cstdint>
#include <string>
#include <vector>

struct DecodedImage {
    uint32_t Width = 0, Height = 0;
    unsigned Channels = 0, Depth = 0; /* Depth in bits per sample */
    double ResolutionX = 0, ResolutionY = 0; /* dots per inch; 0 when the file holds none */
    unsigned Compression = 0, PageNumber = 0; /* TIFF only */
    std::vector<uint16_t> Samples; /* bilevel: 1 for black, whatever the file's convention */

    uint16_t At(uint32_t x, uint32_t y, unsigned c = 0) const
    {
        return Samples[(static_cast<size_t>(y) * Width + x) * Channels + c];
    }
};

bool DecodePnm(const std::string &data, DecodedImage &out, std::string &error);
/* Every directory of a TIFF file; empty with the error when one cannot be read. */
std::vector<DecodedImage> DecodeTiffPages(const std::string &path, std::string &error);
/* PNG, TIFF (its first page), BMP or PNM, by the file's first bytes. */
bool DecodeImageFile(const std::string &path, DecodedImage &out, std::string &error);
/* Samples that differ from fake_image.h's image. */
size_t WrongFakeSamples(const DecodedImage &image);

#endif
