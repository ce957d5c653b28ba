/*
 * image_decode.h - reading images back in the tests: PNG with libpng,
 * TIFF with libtiff and PNM by hand, into one form whose samples can be
 * compared with what was scanned.
 */
#ifndef SCAN_TEST_IMAGE_DECODE_H
#define SCAN_TEST_IMAGE_DECODE_H

#include <cstdint>
#include <string>
#include <vector>

struct DecodedImage {
    uint32_t Width = 0;
    uint32_t Height = 0;
    unsigned Channels = 0;
    unsigned Depth = 0;          /* bits per sample */
    double ResolutionX = 0;      /* dots per inch; 0 when the file holds none */
    double ResolutionY = 0;
    unsigned Compression = 0;    /* TIFF only */
    unsigned Photometric = 0;    /* TIFF only */
    std::vector<uint16_t> Samples; /* bilevel: 1 for black, whatever the file's convention */

    uint16_t At(uint32_t x, uint32_t y, unsigned c = 0) const
    {
        return Samples[(static_cast<size_t>(y) * Width + x) * Channels + c];
    }
};

bool DecodePng(const std::string &path, DecodedImage &out, std::string &error);
bool DecodeTiff(const std::string &path, DecodedImage &out, std::string &error);
bool DecodePnm(const std::string &data, DecodedImage &out, std::string &error);
/* By the file's first bytes. */
bool DecodeImageFile(const std::string &path, DecodedImage &out, std::string &error);

#endif
