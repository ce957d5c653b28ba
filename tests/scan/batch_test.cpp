/*
 * batch_test.cpp - the scan command feeding pages from the virtual
 * scanner's document feeder (model 2) through the real driver: a file per
 * page or one document for the batch, the page numbers printed on the
 * paper read back from what was written, an empty feeder that ends a batch
 * well, a jam and a full disk that keep the pages before them, names that
 * would overwrite each other refused before anything is scanned, and the
 * preview.
 */
#include "image_decode.h"
#include "run_command.h"

#include "../support/page_number.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/stat.h>
#include <tiffio.h>

#include <cstdlib>
#include <regex>

namespace {

const std::string kScan = SCAN_BINARY;
const std::string kBuildDir = SCAN_BUILD_DIR;

/* Whole feeder pages (8.5 x 14 in) at 25 dpi: 213 x 350 pixels. */
constexpr unsigned kDpi = 25;
constexpr uint32_t kPageWidth = 213, kPageLines = 350;

bool Contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

/* Where a program is found on the PATH, or "" when it is not. */
std::string ToolPath(const char *name)
{
    std::string path;
    FILE *pipe = popen((std::string("command -v ") + name + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr)
        return path;
    char line[4096];
    if (std::fgets(line, sizeof line, pipe) != nullptr)
        path = line;
    pclose(pipe);
    while (!path.empty() && (path.back() == '\n' || path.back() == '\r'))
        path.pop_back();
    return path;
}

bool HaveTool(const char *name) { return !ToolPath(name).empty(); }

long NumberOn(const DecodedImage &image)
{
    if (image.Width != kPageWidth || image.Height != kPageLines)
        return -2;
    return ReadPageNumber(
        [&](uint32_t x, uint32_t y) {
            unsigned sum = 0;
            for (unsigned c = 0; c < image.Channels; ++c)
                sum += image.At(x, y, c);
            return static_cast<uint8_t>(sum / image.Channels);
        },
        image.Width, image.Height, kDpi);
}

long NumberInFile(const std::string &path)
{
    DecodedImage image;
    std::string error;
    if (!DecodeImageFile(path, image, error)) {
        ADD_FAILURE() << path << ": " << error;
        return -3;
    }
    return NumberOn(image);
}

/* The page numbers on every directory of a TIFF document. */
std::vector<long> NumbersInTiff(const std::string &path)
{
    std::vector<long> numbers;
    TIFF *tiff = TIFFOpen(path.c_str(), "r");
    if (tiff == nullptr)
        return numbers;
    do {
        uint32_t width = 0, height = 0;
        TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
        std::vector<uint8_t> grey(size_t{width} * height);
        for (uint32_t y = 0; y < height; ++y)
            TIFFReadScanline(tiff, &grey[size_t{y} * width], y, 0);
        numbers.push_back(
            ReadPageNumber([&](uint32_t x, uint32_t y) { return grey[size_t{y} * width + x]; }, width, height, kDpi));
    } while (TIFFReadDirectory(tiff));
    TIFFClose(tiff);
    return numbers;
}

/* Page sizes from the MediaBox of each page, in file order. */
std::vector<std::pair<double, double>> PdfPageSizes(const std::string &pdf)
{
    std::vector<std::pair<double, double>> sizes;
    std::regex box(R"(/MediaBox\s*\[\s*0\s+0\s+([0-9.]+)\s+([0-9.]+)\s*\])");
    for (auto it = std::sregex_iterator(pdf.begin(), pdf.end(), box); it != std::sregex_iterator(); ++it)
        sizes.emplace_back(std::stod((*it)[1]), std::stod((*it)[2]));
    return sizes;
}

/* Why the virtual scanner and the driver cannot scan here, or empty. */
std::string VirtualScannerMissing()
{
    struct stat st;
    if (stat((kBuildDir + "/libbuslnk32.so.1").c_str(), &st) != 0)
        return "virtual scanner not built";
    if (stat((kBuildDir + "/libscandrv.so").c_str(), &st) != 0)
        return "driver not built";
    return "";
}

class FeederBatch : public testing::Test {
protected:
    void SetUp() override
    {
        std::string why = VirtualScannerMissing();
        if (!why.empty())
            GTEST_SKIP() << why;
    }

    /* The command against the scanner with a feeder, grey pages at 25 dpi. */
    CommandResult Scan(std::vector<std::string> args, unsigned pages, const std::string &faults = "")
    {
        args.insert(args.begin(), {"-d", "sim:2", "--mode", "Gray", "--resolution", std::to_string(kDpi)});
        return RunCommand(kScan, args, Environment(pages, faults));
    }

    static std::vector<std::string> Environment(unsigned pages, const std::string &faults)
    {
        std::vector<std::string> env = {"SCANDRV_SIM_FEEDER_PAGES=" + std::to_string(pages), "SCANDRV_SIM_NOISE=off"};
        if (!faults.empty())
            env.push_back("SCANDRV_SIM_FAULTS=" + faults);
        return env;
    }

    TempDir Dir;
};

TEST_F(FeederBatch, AFilePerPageUntilTheFeederIsEmpty)
{
    CommandResult r = Scan({"--batch=" + Dir.File("page%d.pgm")}, 3);
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "feeder empty after 3 pages")) << r.Err;
    ASSERT_EQ(ListDirectory(Dir.Path()), (std::vector<std::string>{"page1.pgm", "page2.pgm", "page3.pgm"}));
    for (long page = 1; page <= 3; ++page)
        EXPECT_EQ(NumberInFile(Dir.File("page" + std::to_string(page) + ".pgm")), page);
}

TEST_F(FeederBatch, StartIncrementAndCountNumberTheFiles)
{
    CommandResult r = Scan({"--batch", "-o", Dir.File("p%02d.png"), "--batch-start", "10", "--batch-increment", "5",
                            "--batch-count", "2"},
                           3);
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_FALSE(Contains(r.Err, "feeder empty")) << "the count ended the batch: " << r.Err;
    ASSERT_EQ(ListDirectory(Dir.Path()), (std::vector<std::string>{"p10.png", "p15.png"}));
    EXPECT_EQ(NumberInFile(Dir.File("p10.png")), 1);
    EXPECT_EQ(NumberInFile(Dir.File("p15.png")), 2);
}

TEST_F(FeederBatch, OnePdfForTheBatchWithAPagePerSheet)
{
    CommandResult r = Scan({"--batch", "--format", "pdf", "-o", Dir.File("doc.pdf")}, 3);
    ASSERT_EQ(r.Status, 0) << r.Err;
    ASSERT_EQ(ListDirectory(Dir.Path()), std::vector<std::string>{"doc.pdf"});
    std::string pdf = ReadFile(Dir.File("doc.pdf"));
    std::vector<std::pair<double, double>> sizes = PdfPageSizes(pdf);
    ASSERT_EQ(sizes.size(), 3u);
    for (const auto &[width, height] : sizes) {
        EXPECT_NEAR(width, kPageWidth * 72.0 / kDpi, 0.01);
        EXPECT_NEAR(height, kPageLines * 72.0 / kDpi, 0.01);
    }
    if (!HaveTool("pdftoppm"))
        GTEST_SKIP() << "pdftoppm (poppler-utils) is not installed: the page numbers were not read back";
    for (int page = 1; page <= 3; ++page) {
        std::string out = Dir.File("rendered");
        std::string command = "pdftoppm -gray -singlefile -r 25 -f " + std::to_string(page) + " -l " +
                              std::to_string(page) + " " + Dir.File("doc.pdf") + " " + out;
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        EXPECT_EQ(NumberInFile(out + ".pgm"), page);
        std::remove((out + ".pgm").c_str());
    }
}

TEST_F(FeederBatch, OneTiffWithADirectoryPerSheet)
{
    CommandResult r = Scan({"--batch=" + Dir.File("doc.tif")}, 3);
    ASSERT_EQ(r.Status, 0) << r.Err;
    ASSERT_EQ(ListDirectory(Dir.Path()), std::vector<std::string>{"doc.tif"});
    EXPECT_EQ(NumbersInTiff(Dir.File("doc.tif")), (std::vector<long>{1, 2, 3}));
}

TEST_F(FeederBatch, AnEmptyFeederEndsWellWithNothingWritten)
{
    for (const char *name : {"page%d.pgm", "doc.pdf"}) {
        CommandResult r = Scan({"--batch=" + Dir.File(name)}, 0);
        EXPECT_EQ(r.Status, 0) << r.Err;
        EXPECT_TRUE(Contains(r.Err, "feeder empty after 0 pages; nothing was written")) << r.Err;
        EXPECT_TRUE(ListDirectory(Dir.Path()).empty()) << name;
    }
    /* A single scan from an empty feeder is a failure, not a batch that ended. */
    CommandResult single = Scan({"--source", "ADF", "-o", Dir.File("one.pgm")}, 0);
    EXPECT_EQ(single.Status, 1);
    EXPECT_TRUE(Contains(single.Err, "no document")) << single.Err;
    EXPECT_TRUE(ListDirectory(Dir.Path()).empty());
}

TEST_F(FeederBatch, AJamKeepsThePagesBeforeIt)
{
    CommandResult r = Scan({"--batch=" + Dir.File("page%d.pgm")}, 3, "jam:2");
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(Contains(r.Err, "page 2: the scan stopped after")) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "the batch stopped at page 2; the 1 page scanned before it is kept")) << r.Err;
    ASSERT_EQ(ListDirectory(Dir.Path()), std::vector<std::string>{"page1.pgm"}) << "no half page, no temporary file";
    EXPECT_EQ(NumberInFile(Dir.File("page1.pgm")), 1);

    TempDir docs;
    CommandResult pdf = Scan({"--batch=" + docs.File("doc.pdf")}, 3, "jam:2");
    EXPECT_EQ(pdf.Status, 1);
    EXPECT_TRUE(Contains(pdf.Err, "kept in " + docs.File("doc.pdf"))) << pdf.Err;
    ASSERT_EQ(ListDirectory(docs.Path()), std::vector<std::string>{"doc.pdf"});
    EXPECT_EQ(PdfPageSizes(ReadFile(docs.File("doc.pdf"))).size(), 1u);
}

TEST_F(FeederBatch, NamesThatWouldOverwriteEachOtherAreRefusedBeforeScanning)
{
    std::string trace = Dir.File("trace.txt");
    CommandResult r = Scan({"--batch=" + Dir.File("page.pgm"), "--trace", trace}, 3);
    EXPECT_EQ(r.Status, 2);
    EXPECT_TRUE(Contains(r.Err, "has no %d for the page number")) << r.Err;
    EXPECT_TRUE(ListDirectory(Dir.Path()).empty()) << "not even the trace: nothing ran";
}

TEST_F(FeederBatch, AnUnwritableDirectoryFailsBeforeAPageIsTaken)
{
    CommandResult r = Scan({"--batch=/nonexistent-dir/page%d.pgm"}, 3);
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(Contains(r.Err, "page 1: cannot create a file in /nonexistent-dir")) << r.Err;
}

TEST_F(FeederBatch, AFullDiskKeepsThePagesBeforeIt)
{
    /* A small file system of its own, mounted in a private mount namespace
     * for the one run: room for one page of 75 kB, not for two. */
    std::string unshare = ToolPath("unshare");
    if (unshare.empty())
        GTEST_SKIP() << "unshare is not installed";
    const std::string script = "d=$1; shift; mount -t tmpfs -o size=120k tmpfs \"$d\" || exit 99; "
                               "\"$@\"; s=$?; ls -A \"$d\"; exit $s";
    std::vector<std::string> args = {"-rm", "sh", "-c", script, "sh", Dir.Path(), kScan, "-d", "sim:2", "--mode",
                                     "Gray", "--resolution", std::to_string(kDpi), "--batch=" + Dir.File("page%d.pgm")};
    CommandResult r = RunCommand(unshare, args, Environment(3, ""));
    if (r.Status == 99 || Contains(r.Err, "unshare: "))
        GTEST_SKIP() << "cannot mount a small file system here: " << r.Err;
    EXPECT_EQ(r.Status, 1) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "page 2: ")) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "No space left on device")) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "the 1 page scanned before it is kept")) << r.Err;
    EXPECT_EQ(r.Out, "page1.pgm\n") << "what the full file system held: page 1, no temporary file";
}

TEST(Preview, WholeGlassInColourAtTheLowestResolutionFrom50Dpi)
{
    std::string why = VirtualScannerMissing();
    if (!why.empty())
        GTEST_SKIP() << why;
    TempDir dir;
    struct Case {
        const char *Device;
        unsigned Dpi;       /* the lowest of the device's list from 50 up */
        unsigned Channels;
        uint32_t GlassMils[2];
    };
    /* 600 dpi lists 6, 12, ... (54 first from 50); 300 dpi lists 3, 6, ... (51). */
    const Case cases[] = {{"sim:0", 54, 3, {8500, 11666}}, {"sim:3", 51, 1, {8500, 11693}}};
    for (const Case &c : cases) {
        std::string file = dir.File(std::string(c.Device + 4) + ".png");
        CommandResult r = RunCommand(kScan, {"-d", c.Device, "--preview", "--mode", "Lineart", "-x", "20", "-y", "20",
                                             "--resolution", "600", "-o", file});
        ASSERT_EQ(r.Status, 0) << c.Device << ": " << r.Err;
        DecodedImage image;
        std::string error;
        ASSERT_TRUE(DecodeImageFile(file, image, error)) << error;
        EXPECT_EQ(image.Channels, c.Channels) << c.Device;
        EXPECT_EQ(image.Depth, 8u) << c.Device;
        EXPECT_NEAR(image.ResolutionX, c.Dpi, 0.05) << c.Device;
        EXPECT_NEAR(image.Width, (c.GlassMils[0] * c.Dpi + 500) / 1000, 1) << c.Device << ": the whole glass";
        EXPECT_NEAR(image.Height, (c.GlassMils[1] * c.Dpi + 500) / 1000, 1) << c.Device << ": the whole glass";
    }
}

} // namespace
