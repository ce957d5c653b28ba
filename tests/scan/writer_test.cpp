/*
 * writer_test.cpp - image writers and batch documents on fake_image.h's
 * lines, read back (PDF rendered by pdftoppm where installed). Widths are odd
 * so bilevel rows end in a partial byte; lines come in uneven runs.
 */
#include "document_writer.h"
#include "fake_image.h"
#include "image_decode.h"
#include "run_command.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cmath>

namespace {

struct Page {
    ImageInfo Info;
    std::vector<uint8_t> Bytes;
};

Page MakePage(uint32_t width, uint32_t height, unsigned channels, unsigned depth, unsigned dpi)
{
    Page page{{width, height, channels, depth, dpi}, {}};
    page.Bytes.resize(LineBytes(page.Info) * height);
    for (uint32_t y = 0; y < height; ++y)
        FillFakeLine(&page.Bytes[y * LineBytes(page.Info)], y, width, channels, depth);
    return page;
}

/* Lines in runs of 1, 0, 15 and then 7, up to `lines` of them. */
template <typename Writer> bool Feed(Writer &writer, const Page &page, std::string &error, uint32_t lines = ~0u)
{
    static const uint32_t runs[] = {1, 0, 15};
    lines = std::min(lines, page.Info.Height);
    for (uint32_t y = 0, k = 0; y < lines; ++k) {
        uint32_t run = std::min(k < 3 ? runs[k] : 7u, lines - y);
        if (!writer.WriteLines(&page.Bytes[y * LineBytes(page.Info)], run, error))
            return false;
        y += run;
    }
    return true;
}

using Kind = std::pair<unsigned, unsigned>; /* channels, bits per sample */
class ImageRoundTrip : public testing::TestWithParam<std::tuple<ImageFormat, Kind>> {};

TEST_P(ImageRoundTrip, ReadsBackEverySample)
{
    auto [format, kind] = GetParam();
    auto [channels, depth] = kind;
    Page page = MakePage(37, 23, channels, depth, 300);
    TempDir dir;
    std::string error;
    for (uint32_t lines : {23u, 16u}) { /* the whole image, then one left incomplete */
        FILE *file = std::fopen(dir.File("image" + std::to_string(lines)).c_str(), "wb");
        std::unique_ptr<ImageWriter> writer = CreateImageWriter(format);
        ASSERT_TRUE(writer->Begin(file, page.Info, error) && Feed(*writer, page, error, lines)) << error;
        EXPECT_EQ(writer->Finish(error), lines == 23) << error;
        writer.reset();
        std::fclose(file);
    }
    EXPECT_TRUE(Contains(error, "16 of 23 lines")) << error;
    DecodedImage image;
    ASSERT_TRUE(DecodeImageFile(dir.File("image23"), image, error)) << error;
    EXPECT_EQ(std::tie(image.Width, image.Height, image.Channels, image.Depth), std::make_tuple(37u, 23u, channels, depth));
    EXPECT_EQ(WrongFakeSamples(image), 0u);
    if (format == ImageFormat::Pnm) {
        EXPECT_TRUE(Contains(ReadFile(dir.File("image23")), depth == 16 ? "\n65535\n" : depth == 8 ? "\n255\n" : ""))
            << "the largest sample value";
    } else {
        EXPECT_NEAR(image.ResolutionX, 300.0, 0.01);
        EXPECT_NEAR(image.ResolutionY, 300.0, 0.01);
    }
    if (format == ImageFormat::Tiff) {
        EXPECT_EQ(image.Compression, depth == 1 ? COMPRESSION_CCITTFAX4 : COMPRESSION_ADOBE_DEFLATE);
    }
}

std::string RoundTripName(const testing::TestParamInfo<std::tuple<ImageFormat, Kind>> &p)
{
    const Kind &kind = std::get<1>(p.param);
    return FormatName(std::get<0>(p.param)) + std::to_string(kind.first) + "x" + std::to_string(kind.second);
}

INSTANTIATE_TEST_SUITE_P(AllFormats, ImageRoundTrip,
                         testing::Combine(testing::Values(ImageFormat::Pnm, ImageFormat::Png, ImageFormat::Tiff),
                                          testing::Values(Kind{1, 1}, Kind{1, 16}, Kind{3, 8})),
                         RoundTripName);
/* BMP rows are padded to 4 bytes: 37 pixels leave 3, 1 and 3 bytes of padding. */
INSTANTIATE_TEST_SUITE_P(Bmp, ImageRoundTrip,
                         testing::Combine(testing::Values(ImageFormat::Bmp),
                                          testing::Values(Kind{1, 1}, Kind{1, 8}, Kind{3, 8})),
                         RoundTripName);

/* --- Documents ------------------------------------------------------------- */

/* Line art 72 x 43.2 pt, grey 72 x 96 pt, colour 21.6 x 7.2 pt. */
const Page kPages[] = {MakePage(100, 60, 1, 1, 100), MakePage(150, 200, 1, 8, 150), MakePage(90, 30, 3, 8, 300)};

std::unique_ptr<DocumentWriter> CreateDocument(int quality) /* -1 for TIFF */
{
    return quality < 0 ? CreateTiffPagesWriter() : CreatePdfWriter(quality);
}

class Document : public testing::TestWithParam<int> {};

TEST_P(Document, APagePerScanWithItsSizeAndPixelsAndNoneForAnAbandonedOne)
{
    const int quality = GetParam();
    std::vector<Page> pages(std::begin(kPages), std::end(kPages));
    if (quality < 0)
        pages[1] = MakePage(150, 200, 1, 16, 150);
    std::unique_ptr<DocumentWriter> writer = CreateDocument(quality);
    TempDir dir;
    std::string path = dir.File("doc"), error;
    FILE *file = std::fopen(path.c_str(), "w+b");
    ASSERT_TRUE(writer->Begin(file, error)) << error;
    /* The colour page first abandoned after 10 lines, as when a scan fails half-way. */
    ASSERT_TRUE(writer->BeginPage(pages[2].Info, error) && Feed(*writer, pages[2], error, 10)) << error;
    EXPECT_FALSE(writer->EndPage(error));
    EXPECT_TRUE(Contains(error, "10 of 30")) << error;
    writer->AbandonPage();
    for (const Page &page : pages) {
        EXPECT_TRUE(writer->BeginPage(page.Info, error) && Feed(*writer, page, error) && writer->EndPage(error)) << error;
    }
    EXPECT_TRUE(writer->Finish(error)) << error;
    std::fclose(file);
    EXPECT_EQ(writer->Pages(), 3u);
    if (quality < 0) {
        std::vector<DecodedImage> read = DecodeTiffPages(path, error);
        ASSERT_EQ(read.size(), 3u) << error;
        for (unsigned i = 0; i < 3; ++i) {
            const ImageInfo &p = pages[i].Info;
            EXPECT_EQ(std::tie(read[i].Width, read[i].Height, read[i].Channels, read[i].Depth, read[i].PageNumber),
                      std::tie(p.Width, p.Height, p.Channels, p.Depth, i));
            EXPECT_EQ(read[i].ResolutionX, p.Resolution);
            EXPECT_EQ(WrongFakeSamples(read[i]), 0u) << "page " << i + 1;
        }
        return;
    }
    std::string pdf = ReadFile(path);
    auto count = [&](const std::string &word) {
        size_t n = 0;
        for (size_t at = pdf.find(word); at != std::string::npos; at = pdf.find(word, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count("/CCITTFaxDecode"), 1u) << "line art as Group 4";
    EXPECT_EQ(count("/DCTDecode"), quality > 0 ? 2u : 0u) << "JPEG for grey and colour when asked";
    if (!HaveTool("pdftoppm"))
        GTEST_SKIP() << "pdftoppm (poppler-utils) is not installed: the pages were not rendered";
    /* Rendered at four times the page's resolution (so a page of the wrong
     * size renders at the wrong size) and read at the middle of each scanned
     * pixel, clear of the renderer's resampling at edges. */
    for (unsigned i = 0; i < 3; ++i) {
        const ImageInfo &p = pages[i].Info;
        std::string page = std::to_string(i + 1), out = dir.File("page" + page);
        std::string command = "pdftoppm -singlefile -f " + page + " -l " + page + " -r " + std::to_string(4 * p.Resolution) +
                              (p.Channels == 1 ? " -gray " : " ") + path + " " + out;
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        DecodedImage image;
        ASSERT_TRUE(DecodeImageFile(out + (p.Channels == 1 ? ".pgm" : ".ppm"), image, error)) << error;
        ASSERT_EQ(std::tie(image.Width, image.Height), std::make_tuple(4 * p.Width, 4 * p.Height)) << "page " << page;
        double difference = 0;
        for (uint32_t y = 0; y < p.Height; ++y)
            for (uint32_t x = 0; x < p.Width; ++x)
                for (unsigned c = 0; c < p.Channels; ++c) {
                    int want = FakeSample(x, y, c, p.Depth);
                    difference += std::abs(image.At(4 * x + 2, 4 * y + 2, c) - (p.Depth == 1 ? 255 * (1 - want) : want));
                }
        /* JPEG moves values a little; an inverted, flipped or channel-swapped
         * page differs by a third of the range or more. */
        EXPECT_LT(difference / (p.Width * p.Height * p.Channels), quality > 0 ? 20 : 1) << "page " << page;
    }
}

TEST_P(Document, AFullDiskIsAnError)
{
    FILE *full = std::fopen("/dev/full", "r+b");
    if (full == nullptr)
        GTEST_SKIP() << "/dev/full is not available";
    std::unique_ptr<DocumentWriter> writer = CreateDocument(GetParam());
    std::string error;
    EXPECT_FALSE(writer->Begin(full, error) && writer->BeginPage(kPages[1].Info, error) &&
                 Feed(*writer, kPages[1], error) && writer->EndPage(error) && writer->Finish(error));
    EXPECT_TRUE(Contains(error, "No space left")) << error;
    std::fclose(full);
}

std::string DocumentName(const testing::TestParamInfo<int> &p)
{
    return p.param < 0 ? std::string("Tiff") : "Pdf" + std::to_string(p.param);
}
INSTANTIATE_TEST_SUITE_P(Kinds, Document, testing::Values(0, 75, -1), DocumentName);

/* A PDF page measures at most 14400 points a side (200 inches); a 16-bit
 * page is refused by the command before it scans. */
TEST(PdfDocument, RefusesAPageLargerThanAPdfPageAndTakesAnyGlass)
{
    std::unique_ptr<DocumentWriter> writer = CreatePdfWriter(0);
    std::string error;
    EXPECT_FALSE(writer->Accepts({60000, 100, 1, 8, 15}, error)) << "4000 in wide";
    EXPECT_TRUE(writer->Accepts({5100, 8400, 3, 8, 600}, error)) << error;
}

} // namespace
