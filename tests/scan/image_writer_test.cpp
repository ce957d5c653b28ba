/*
 * image_writer_test.cpp - the three writers on synthetic lines: every
 * format and image kind is written, read back with libpng, libtiff or the
 * PNM reader, and checked for dimensions, depth, resolution, compression
 * and every sample. Widths are odd so bilevel rows end in a partial byte.
 */
#include "fake_image.h"
#include "image_decode.h"
#include "image_writer.h"
#include "run_command.h"

#include <gtest/gtest.h>

#include <tiffio.h>

#include <cmath>
#include <cstring>

namespace {

/* Lines laid out as the driver delivers them. */
std::vector<uint8_t> SyntheticLines(const ImageInfo &info)
{
    size_t lineBytes = LineBytes(info);
    std::vector<uint8_t> data(lineBytes * info.Height, 0);
    for (uint32_t y = 0; y < info.Height; ++y) {
        uint8_t *line = data.data() + y * lineBytes;
        for (uint32_t x = 0; x < info.Width; ++x) {
            if (info.Depth == 1) {
                if (FakeBlack(x, y))
                    line[x / 8] = static_cast<uint8_t>(line[x / 8] | (0x80 >> (x % 8)));
                continue;
            }
            for (unsigned c = 0; c < info.Channels; ++c) {
                size_t i = static_cast<size_t>(x) * info.Channels + c;
                if (info.Depth == 16) {
                    uint16_t v = FakeSample16(x, y, c);
                    std::memcpy(line + 2 * i, &v, 2);
                } else {
                    line[i] = FakeSample8(x, y, c);
                }
            }
        }
    }
    return data;
}

uint16_t Expected(const ImageInfo &info, uint32_t x, uint32_t y, unsigned c)
{
    if (info.Depth == 1)
        return FakeBlack(x, y) ? 1 : 0;
    return info.Depth == 16 ? FakeSample16(x, y, c) : FakeSample8(x, y, c);
}

struct WriterCase {
    ImageFormat Format;
    unsigned Channels;
    unsigned Depth;
};

std::string CaseName(const testing::TestParamInfo<WriterCase> &info)
{
    const WriterCase &c = info.param;
    std::string kind = c.Depth == 1 ? "Bilevel" : c.Channels == 3 ? "Colour" : "Grey";
    return std::string(FormatName(c.Format)) + kind + (c.Depth == 1 ? "" : std::to_string(c.Depth));
}

class WriterRoundTrip : public testing::TestWithParam<WriterCase> {};

TEST_P(WriterRoundTrip, ReadsBackEverySample)
{
    const WriterCase &c = GetParam();
    ImageInfo info;
    info.Width = 37;
    info.Height = 23;
    info.Channels = c.Channels;
    info.Depth = c.Depth;
    info.Resolution = 300;
    std::vector<uint8_t> lines = SyntheticLines(info);

    TempDir dir;
    std::string path = dir.File("image");
    FILE *file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::unique_ptr<ImageWriter> writer = CreateImageWriter(c.Format);
    ASSERT_NE(writer, nullptr);
    std::string error;
    ASSERT_TRUE(writer->Begin(file, info, error)) << error;
    /* In uneven runs, as the read loop hands them over. */
    size_t lineBytes = LineBytes(info);
    ASSERT_TRUE(writer->WriteLines(lines.data(), 1, error)) << error;
    ASSERT_TRUE(writer->WriteLines(lines.data() + lineBytes, 0, error)) << error;
    ASSERT_TRUE(writer->WriteLines(lines.data() + lineBytes, 15, error)) << error;
    ASSERT_TRUE(writer->WriteLines(lines.data() + 16 * lineBytes, 7, error)) << error;
    ASSERT_TRUE(writer->Finish(error)) << error;
    writer.reset();
    std::fclose(file);

    DecodedImage image;
    ASSERT_TRUE(DecodeImageFile(path, image, error)) << error;
    EXPECT_EQ(image.Width, info.Width);
    EXPECT_EQ(image.Height, info.Height);
    EXPECT_EQ(image.Channels, info.Channels);
    EXPECT_EQ(image.Depth, info.Depth);
    if (c.Format == ImageFormat::Pnm) {
        EXPECT_EQ(image.ResolutionX, 0.0); /* PNM has no place for it */
    } else {
        EXPECT_NEAR(image.ResolutionX, 300.0, 0.01);
        EXPECT_NEAR(image.ResolutionY, 300.0, 0.01);
    }
    if (c.Format == ImageFormat::Tiff) {
        EXPECT_EQ(image.Compression, c.Depth == 1 ? COMPRESSION_CCITTFAX4 : COMPRESSION_ADOBE_DEFLATE);
        EXPECT_EQ(image.Photometric, c.Depth == 1   ? PHOTOMETRIC_MINISWHITE
                                     : c.Channels == 3 ? PHOTOMETRIC_RGB
                                                       : PHOTOMETRIC_MINISBLACK);
    }
    ASSERT_EQ(image.Samples.size(), static_cast<size_t>(info.Width) * info.Height * info.Channels);
    int mismatches = 0;
    for (uint32_t y = 0; y < info.Height; ++y)
        for (uint32_t x = 0; x < info.Width; ++x)
            for (unsigned ch = 0; ch < info.Channels; ++ch)
                if (image.At(x, y, ch) != Expected(info, x, y, ch) && ++mismatches <= 5)
                    ADD_FAILURE() << "sample (" << x << ", " << y << ", " << ch << ") is " << image.At(x, y, ch)
                                  << ", expected " << Expected(info, x, y, ch);
    EXPECT_EQ(mismatches, 0);
}

INSTANTIATE_TEST_SUITE_P(AllFormats, WriterRoundTrip,
                         testing::Values(WriterCase{ImageFormat::Pnm, 3, 8}, WriterCase{ImageFormat::Pnm, 3, 16},
                                         WriterCase{ImageFormat::Pnm, 1, 8}, WriterCase{ImageFormat::Pnm, 1, 16},
                                         WriterCase{ImageFormat::Pnm, 1, 1}, WriterCase{ImageFormat::Png, 3, 8},
                                         WriterCase{ImageFormat::Png, 3, 16}, WriterCase{ImageFormat::Png, 1, 8},
                                         WriterCase{ImageFormat::Png, 1, 16}, WriterCase{ImageFormat::Png, 1, 1},
                                         WriterCase{ImageFormat::Tiff, 3, 8}, WriterCase{ImageFormat::Tiff, 3, 16},
                                         WriterCase{ImageFormat::Tiff, 1, 8}, WriterCase{ImageFormat::Tiff, 1, 16},
                                         WriterCase{ImageFormat::Tiff, 1, 1}),
                         CaseName);

TEST(ImageWriter, PnmHeaderAndBigEndianSamples)
{
    ImageInfo info;
    info.Width = 2;
    info.Height = 1;
    info.Channels = 1;
    info.Depth = 16;
    info.Resolution = 150;
    const uint16_t samples[2] = {0x1234, 0xABCD};
    TempDir dir;
    std::string path = dir.File("a.pgm");
    FILE *file = std::fopen(path.c_str(), "wb");
    std::string error;
    std::unique_ptr<ImageWriter> writer = CreatePnmWriter();
    ASSERT_TRUE(writer->Begin(file, info, error));
    ASSERT_TRUE(writer->WriteLines(reinterpret_cast<const uint8_t *>(samples), 1, error));
    ASSERT_TRUE(writer->Finish(error));
    std::fclose(file);
    EXPECT_EQ(ReadFile(path), std::string("P5\n# resolution 150 dpi\n2 1\n65535\n") + "\x12\x34\xAB\xCD");
}

TEST(ImageWriter, RefusesToFinishAnIncompleteImage)
{
    ImageInfo info;
    info.Width = 4;
    info.Height = 3;
    info.Channels = 3;
    info.Depth = 8;
    info.Resolution = 100;
    std::vector<uint8_t> line(LineBytes(info), 0x80);
    for (ImageFormat format : {ImageFormat::Pnm, ImageFormat::Png, ImageFormat::Tiff}) {
        TempDir dir;
        FILE *file = std::fopen(dir.File("x").c_str(), "wb");
        std::unique_ptr<ImageWriter> writer = CreateImageWriter(format);
        std::string error;
        ASSERT_TRUE(writer->Begin(file, info, error)) << FormatName(format);
        ASSERT_TRUE(writer->WriteLines(line.data(), 1, error)) << FormatName(format);
        EXPECT_FALSE(writer->Finish(error)) << FormatName(format);
        EXPECT_NE(error.find("1 of 3 lines"), std::string::npos) << error;
        writer.reset();
        std::fclose(file);
    }
}

} // namespace
