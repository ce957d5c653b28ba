/*
 * document_writer_test.cpp - the batch documents on synthetic pages, read
 * back: a PDF's pages, their sizes, the compression of their images and
 * (where poppler-utils is installed) their pixels as a PDF reader renders
 * them; a TIFF's directories with their tags and pixels through libtiff.
 * Also pages abandoned half-way, pages the formats cannot hold, and a disk
 * that is full.
 */
#include "document_writer.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct SyntheticPage {
    ImageInfo Info;
    std::vector<uint8_t> Bytes;
};

/* Pixel values that follow from the position, so every one can be checked. */
uint8_t GreyAt(uint32_t x, uint32_t y) { return static_cast<uint8_t>((x * 5 + y * 3) & 0xFF); }
bool BlackAt(uint32_t x, uint32_t y) { return (x / 8 + y / 8) % 2 == 0 || (x > 40 && x < 60); }
uint16_t Wide(uint32_t x, uint32_t y) { return static_cast<uint16_t>(x * 331 + y * 97); }

SyntheticPage MakePage(uint32_t width, uint32_t height, unsigned channels, unsigned depth, unsigned dpi)
{
    SyntheticPage page;
    page.Info = {width, height, channels, depth, dpi};
    size_t lineBytes = LineBytes(page.Info);
    page.Bytes.assign(lineBytes * height, 0);
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *line = &page.Bytes[y * lineBytes];
        for (uint32_t x = 0; x < width; ++x) {
            if (depth == 1) {
                if (BlackAt(x, y))
                    line[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
            } else if (depth == 16) {
                for (unsigned c = 0; c < channels; ++c) {
                    uint16_t v = static_cast<uint16_t>(Wide(x, y) + c * 1000);
                    std::memcpy(line + (x * channels + c) * 2, &v, 2);
                }
            } else {
                for (unsigned c = 0; c < channels; ++c)
                    line[x * channels + c] = static_cast<uint8_t>(GreyAt(x, y) + c * 60);
            }
        }
    }
    return page;
}

/* Hands the page over in runs of 7 lines, as a read loop would. */
bool WritePage(DocumentWriter &writer, const SyntheticPage &page, std::string &error)
{
    if (!writer.BeginPage(page.Info, error))
        return false;
    size_t lineBytes = LineBytes(page.Info);
    for (uint32_t y = 0; y < page.Info.Height; y += 7) {
        uint32_t n = std::min<uint32_t>(7, page.Info.Height - y);
        if (!writer.WriteLines(&page.Bytes[y * lineBytes], n, error))
            return false;
    }
    return writer.EndPage(error);
}

std::string TempName(const char *suffix)
{
    char name[] = "/tmp/document_writer_XXXXXX";
    int fd = mkstemp(name);
    close(fd);
    std::remove(name);
    return std::string(name) + suffix;
}

/* Writes the pages into a new file; the file's name, or "" on failure. */
std::string WriteDocument(DocumentWriter &writer, const std::vector<SyntheticPage> &pages, const char *suffix)
{
    std::string path = TempName(suffix);
    FILE *file = std::fopen(path.c_str(), "w+b");
    std::string error;
    bool ok = file != nullptr && writer.Begin(file, error);
    for (const SyntheticPage &page : pages)
        ok = ok && WritePage(writer, page, error);
    ok = ok && writer.Finish(error);
    if (file != nullptr)
        std::fclose(file);
    EXPECT_TRUE(ok) << error;
    return ok ? path : std::string();
}

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

bool HaveTool(const char *name)
{
    std::string command = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

std::string RunTool(const std::string &command)
{
    std::string output;
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return output;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
        output.append(chunk, n);
    pclose(pipe);
    return output;
}

/* The MediaBox of every page object, in file order (libharu writes the
 * page dictionaries uncompressed and in the order of the pages). */
std::vector<std::pair<double, double>> MediaBoxes(const std::string &pdf)
{
    std::vector<std::pair<double, double>> boxes;
    std::regex box(R"(/MediaBox\s*\[\s*0\s+0\s+([0-9.]+)\s+([0-9.]+)\s*\])");
    for (auto it = std::sregex_iterator(pdf.begin(), pdf.end(), box); it != std::sregex_iterator(); ++it)
        boxes.emplace_back(std::stod((*it)[1]), std::stod((*it)[2]));
    return boxes;
}

size_t Count(const std::string &text, const std::string &word)
{
    size_t n = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        ++n;
    return n;
}

/* A PGM or PPM as pdftoppm writes it: its pixels, or empty. */
std::vector<uint8_t> ReadPnm(const std::string &path, uint32_t &width, uint32_t &height)
{
    std::string data = ReadFile(path);
    std::istringstream in(data);
    std::string magic;
    unsigned maxval = 0;
    in >> magic >> width >> height >> maxval;
    in.get();
    if (magic != "P5" && magic != "P6")
        return {};
    return std::vector<uint8_t>(data.begin() + static_cast<std::ptrdiff_t>(in.tellg()), data.end());
}

const std::vector<SyntheticPage> &MixedPages()
{
    static const std::vector<SyntheticPage> pages = {
        MakePage(100, 60, 1, 1, 100),  /* line art: 72 x 43.2 pt */
        MakePage(150, 200, 1, 8, 150), /* grey: 72 x 96 pt */
        MakePage(90, 30, 3, 8, 300),   /* colour: 21.6 x 7.2 pt */
    };
    return pages;
}

} // namespace

/* --- PDF ------------------------------------------------------------------- */

TEST(PdfDocument, OnePagePerScanSizedFromItsResolution)
{
    std::unique_ptr<DocumentWriter> writer = CreatePdfWriter(0);
    std::string path = WriteDocument(*writer, MixedPages(), ".pdf");
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(writer->Pages(), 3u);
    std::string pdf = ReadFile(path);
    EXPECT_EQ(pdf.compare(0, 5, "%PDF-"), 0);
    std::vector<std::pair<double, double>> boxes = MediaBoxes(pdf);
    ASSERT_EQ(boxes.size(), 3u);
    const double expected[3][2] = {{72, 43.2}, {72, 96}, {21.6, 7.2}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(boxes[i].first, expected[i][0], 0.01) << "page " << i + 1;
        EXPECT_NEAR(boxes[i].second, expected[i][1], 0.01) << "page " << i + 1;
    }
    EXPECT_EQ(Count(pdf, "/CCITTFaxDecode"), 1u) << "line art as Group 4";
    EXPECT_EQ(Count(pdf, "/DCTDecode"), 0u) << "lossless by default";
    EXPECT_NE(pdf.find("/DeviceRGB"), std::string::npos);

    if (!HaveTool("pdfinfo")) {
        std::remove(path.c_str());
        GTEST_SKIP() << "pdfinfo (poppler-utils) is not installed: the file was checked by parsing only";
    }
    std::string info = RunTool("pdfinfo -f 1 -l 3 " + path + " 2>&1");
    EXPECT_TRUE(std::regex_search(info, std::regex(R"(Pages:\s+3\n)"))) << info;
    EXPECT_TRUE(std::regex_search(info, std::regex(R"(Page\s+1 size:\s+72 x 43.2 pts)"))) << info;
    EXPECT_TRUE(std::regex_search(info, std::regex(R"(Page\s+2 size:\s+72 x 96 pts)"))) << info;
    EXPECT_TRUE(std::regex_search(info, std::regex(R"(Page\s+3 size:\s+21.6 x 7.2 pts)"))) << info;
    std::remove(path.c_str());
}

TEST(PdfDocument, RenderedPagesShowTheScannedPixels)
{
    if (!HaveTool("pdftoppm"))
        GTEST_SKIP() << "pdftoppm (poppler-utils) is not installed";
    std::unique_ptr<DocumentWriter> writer = CreatePdfWriter(0);
    std::string path = WriteDocument(*writer, MixedPages(), ".pdf");
    ASSERT_FALSE(path.empty());
    const SyntheticPage *pages = MixedPages().data();
    for (int i = 0; i < 3; ++i) {
        const ImageInfo &p = pages[i].Info;
        std::string out = path + "-" + std::to_string(i + 1);
        std::string command = "pdftoppm -f " + std::to_string(i + 1) + " -l " + std::to_string(i + 1) +
                              " -singlefile -r " + std::to_string(p.Resolution) + (p.Channels == 1 ? " -gray" : "") +
                              " " + path + " " + out;
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        std::string image = out + (p.Channels == 1 ? ".pgm" : ".ppm");
        uint32_t width = 0, height = 0;
        std::vector<uint8_t> pixels = ReadPnm(image, width, height);
        std::remove(image.c_str());
        ASSERT_EQ(width, p.Width) << "page " << i + 1;
        ASSERT_EQ(height, p.Height) << "page " << i + 1;
        /* The renderer resamples images by a fraction of a pixel, so
         * edges blur and grey values move by a few steps: the mean
         * difference stays small. An inverted, flipped or channel-swapped
         * image differs by a third of the range or more. */
        double difference = 0;
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < width; ++x)
                for (unsigned c = 0; c < p.Channels; ++c) {
                    int got = pixels[(y * width + x) * p.Channels + c];
                    int want = p.Depth == 1 ? (BlackAt(x, y) ? 0 : 255) : static_cast<uint8_t>(GreyAt(x, y) + c * 60);
                    difference += std::abs(got - want);
                }
        difference /= static_cast<double>(width) * height * p.Channels;
        EXPECT_LT(difference, p.Depth == 1 ? 40.0 : 15.0) << "page " << i + 1 << ": mean difference from the scan";
    }
    std::remove(path.c_str());
}

TEST(PdfDocument, JpegQualityCompressesGreyAndColourButNotLineArt)
{
    std::unique_ptr<DocumentWriter> writer = CreatePdfWriter(75);
    std::string path = WriteDocument(*writer, MixedPages(), ".pdf");
    ASSERT_FALSE(path.empty());
    std::string pdf = ReadFile(path);
    EXPECT_EQ(Count(pdf, "/DCTDecode"), 2u);
    EXPECT_EQ(Count(pdf, "/CCITTFaxDecode"), 1u);
    EXPECT_EQ(MediaBoxes(pdf).size(), 3u);
    if (HaveTool("pdftoppm")) {
        /* JPEG changes pixels a little, never a lot. */
        std::string out = path + "-grey";
        ASSERT_EQ(std::system(("pdftoppm -f 2 -l 2 -singlefile -r 150 -gray " + path + " " + out).c_str()), 0);
        uint32_t width = 0, height = 0;
        std::vector<uint8_t> pixels = ReadPnm(out + ".pgm", width, height);
        std::remove((out + ".pgm").c_str());
        ASSERT_EQ(pixels.size(), 150u * 200u);
        double error = 0;
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < width; ++x)
                error += std::abs(int(pixels[y * width + x]) - int(GreyAt(x, y)));
        EXPECT_LT(error / pixels.size(), 12.0);
    }
    std::remove(path.c_str());
}

TEST(PdfDocument, AbandonedPageLeavesNoTrace)
{
    std::unique_ptr<DocumentWriter> writer = CreatePdfWriter(0);
    std::string path = TempName(".pdf");
    FILE *file = std::fopen(path.c_str(), "w+b");
    ASSERT_NE(file, nullptr);
    std::string error;
    ASSERT_TRUE(writer->Begin(file, error)) << error;
    ASSERT_TRUE(WritePage(*writer, MixedPages()[0], error)) << error;
    const SyntheticPage &failing = MixedPages()[1];
    ASSERT_TRUE(writer->BeginPage(failing.Info, error));
    ASSERT_TRUE(writer->WriteLines(failing.Bytes.data(), 10, error));
    EXPECT_FALSE(writer->EndPage(error)) << "10 of 200 lines";
    EXPECT_NE(error.find("10 of 200"), std::string::npos) << error;
    writer->AbandonPage();
    ASSERT_TRUE(WritePage(*writer, MixedPages()[2], error)) << error;
    ASSERT_TRUE(writer->Finish(error)) << error;
    std::fclose(file);
    std::vector<std::pair<double, double>> boxes = MediaBoxes(ReadFile(path));
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_NEAR(boxes[1].first, 21.6, 0.01);
    std::remove(path.c_str());
}

TEST(PdfDocument, RefusesWhatAPageCannotHold)
{
    std::unique_ptr<DocumentWriter> writer = CreatePdfWriter(0);
    std::string error;
    EXPECT_FALSE(writer->Accepts({100, 100, 1, 16, 300}, error));
    EXPECT_NE(error.find("16"), std::string::npos) << error;
    EXPECT_FALSE(writer->Accepts({60000, 100, 1, 8, 15}, error)) << "4000 in wide";
    EXPECT_FALSE(writer->Accepts({100, 100, 1, 8, 0}, error));
    EXPECT_TRUE(writer->Accepts({5100, 8400, 3, 8, 600}, error)) << error;

    FILE *file = std::tmpfile();
    ASSERT_TRUE(writer->Begin(file, error)) << error;
    EXPECT_FALSE(writer->Finish(error)) << "a document without a page";
    std::fclose(file);
}

TEST(PdfDocument, FullDiskIsAnError)
{
    FILE *full = std::fopen("/dev/full", "wb");
    if (full == nullptr)
        GTEST_SKIP() << "/dev/full is not available";
    std::unique_ptr<DocumentWriter> writer = CreatePdfWriter(0);
    std::string error;
    ASSERT_TRUE(writer->Begin(full, error)) << error;
    ASSERT_TRUE(WritePage(*writer, MixedPages()[1], error)) << error;
    EXPECT_FALSE(writer->Finish(error));
    EXPECT_NE(error.find("No space left"), std::string::npos) << error;
    std::fclose(full);
}

/* --- TIFF ------------------------------------------------------------------ */

TEST(TiffDocument, OneDirectoryPerPageWithItsTagsAndPixels)
{
    std::vector<SyntheticPage> pages = MixedPages();
    pages[1] = MakePage(150, 200, 1, 16, 150);
    std::unique_ptr<DocumentWriter> writer = CreateTiffPagesWriter();
    std::string path = WriteDocument(*writer, pages, ".tif");
    ASSERT_FALSE(path.empty());
    TIFF *tiff = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(tiff, nullptr);
    EXPECT_EQ(TIFFNumberOfDirectories(tiff), 3);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE("page " + std::to_string(i + 1));
        ASSERT_TRUE(TIFFSetDirectory(tiff, static_cast<tdir_t>(i)));
        const ImageInfo &p = pages[i].Info;
        uint32_t width = 0, height = 0, subfile = 0;
        uint16_t bits = 0, samples = 0, compression = 0, unit = 0, number = 0, total = 0;
        float xres = 0, yres = 0;
        TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
        TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
        TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
        TIFFGetField(tiff, TIFFTAG_COMPRESSION, &compression);
        TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &xres);
        TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &yres);
        TIFFGetField(tiff, TIFFTAG_RESOLUTIONUNIT, &unit);
        TIFFGetField(tiff, TIFFTAG_SUBFILETYPE, &subfile);
        TIFFGetField(tiff, TIFFTAG_PAGENUMBER, &number, &total);
        EXPECT_EQ(width, p.Width);
        EXPECT_EQ(height, p.Height);
        EXPECT_EQ(bits, p.Depth);
        EXPECT_EQ(samples, p.Channels);
        EXPECT_EQ(compression, p.Depth == 1 ? COMPRESSION_CCITTFAX4 : COMPRESSION_ADOBE_DEFLATE);
        EXPECT_FLOAT_EQ(xres, static_cast<float>(p.Resolution));
        EXPECT_FLOAT_EQ(yres, static_cast<float>(p.Resolution));
        EXPECT_EQ(unit, RESUNIT_INCH);
        EXPECT_EQ(subfile, static_cast<uint32_t>(FILETYPE_PAGE));
        EXPECT_EQ(number, i);
        std::vector<uint8_t> line(static_cast<size_t>(TIFFScanlineSize(tiff)));
        ASSERT_EQ(line.size(), LineBytes(p));
        size_t differing = 0;
        for (uint32_t y = 0; y < height; ++y) {
            ASSERT_EQ(TIFFReadScanline(tiff, line.data(), y, 0), 1);
            differing += std::memcmp(line.data(), &pages[i].Bytes[y * line.size()], line.size()) != 0;
        }
        EXPECT_EQ(differing, 0u) << "lines that differ from the scan";
    }
    TIFFClose(tiff);
    std::remove(path.c_str());
}

TEST(TiffDocument, AbandonedPageLeavesACompleteDocument)
{
    std::unique_ptr<DocumentWriter> writer = CreateTiffPagesWriter();
    std::string path = TempName(".tif");
    FILE *file = std::fopen(path.c_str(), "w+b");
    ASSERT_NE(file, nullptr);
    std::string error;
    ASSERT_TRUE(writer->Begin(file, error)) << error;
    ASSERT_TRUE(WritePage(*writer, MixedPages()[0], error)) << error;
    ASSERT_TRUE(WritePage(*writer, MixedPages()[1], error)) << error;
    ASSERT_TRUE(writer->BeginPage(MixedPages()[2].Info, error));
    ASSERT_TRUE(writer->WriteLines(MixedPages()[2].Bytes.data(), 3, error));
    writer->AbandonPage();
    ASSERT_TRUE(writer->Finish(error)) << error;
    std::fclose(file);
    TIFF *tiff = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(tiff, nullptr);
    EXPECT_EQ(TIFFNumberOfDirectories(tiff), 2);
    TIFFClose(tiff);
    std::remove(path.c_str());
}

TEST(TiffDocument, FullDiskIsAnError)
{
    FILE *full = std::fopen("/dev/full", "r+b");
    if (full == nullptr)
        GTEST_SKIP() << "/dev/full is not available";
    std::unique_ptr<DocumentWriter> writer = CreateTiffPagesWriter();
    std::string error;
    bool ok = writer->Begin(full, error) && WritePage(*writer, MixedPages()[1], error) && writer->Finish(error);
    EXPECT_FALSE(ok);
    EXPECT_NE(error.find("No space left"), std::string::npos) << error;
    std::fclose(full);
}
