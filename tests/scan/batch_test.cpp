/*
 * batch_test.cpp - batches from the virtual scanner's feeder (model 2)
 * through the real driver, each page's printed number read back; the preview.
 */
#include "image_decode.h"
#include "run_command.h"

#include "../support/page_number.h"

#include <gtest/gtest.h>

namespace {

const std::string kScan = SCAN_BINARY;

/* Whole feeder pages (8.5 x 14 in) at 25 dpi: 213 x 350 pixels. */
constexpr unsigned kDpi = 25;
constexpr uint32_t kPageWidth = 213, kPageLines = 350;

long NumberOn(const DecodedImage &image)
{
    if (image.Width != kPageWidth || image.Height != kPageLines)
        return -2;
    return ReadPageNumber([&](uint32_t x, uint32_t y) { return static_cast<uint8_t>(image.At(x, y)); }, image.Width,
                          image.Height, kDpi);
}

long NumberInFile(const std::string &path)
{
    DecodedImage image;
    std::string error;
    EXPECT_TRUE(DecodeImageFile(path, image, error)) << path << ": " << error;
    return NumberOn(image);
}

class FeederBatch : public testing::Test {
protected:
    void SetUp() override
    {
        if (std::string why = VirtualScannerMissing(); !why.empty())
            GTEST_SKIP() << why;
    }

    static std::vector<std::string> Environment(unsigned pages, const std::string &faults = "")
    {
        return {"SCANDRV_SIM_FEEDER_PAGES=" + std::to_string(pages), "SCANDRV_SIM_NOISE=off",
                faults.empty() ? "" : "SCANDRV_SIM_FAULTS=" + faults};
    }

    /* The command against the scanner with a feeder, grey pages at 25 dpi. */
    CommandResult Scan(std::vector<std::string> args, unsigned pages, const std::string &faults = "")
    {
        args.insert(args.begin(), {"-d", "sim:2", "--mode", "Gray", "--resolution", std::to_string(kDpi)});
        return RunCommand(kScan, args, Environment(pages, faults));
    }

    TempDir Dir;
};

TEST_F(FeederBatch, AFilePerPageNumberedAsAsked)
{
    const struct {
        std::vector<std::string> Args, Files;
        bool FeederEmptied;
    } cases[] = {
        {{"--batch=" + Dir.File("page%d.pgm")}, {"page1.pgm", "page2.pgm", "page3.pgm"}, true},
        {{"--batch", "-o", Dir.File("p%02d.png"), "--batch-start", "10", "--batch-increment", "5", "--batch-count", "2"},
         {"p10.png", "p15.png"}, false},
    };
    for (const auto &c : cases) {
        CommandResult r = Scan(c.Args, 3);
        ASSERT_EQ(r.Status, 0) << r.Err;
        EXPECT_EQ(Contains(r.Err, "feeder empty after 3 pages"), c.FeederEmptied) << r.Err;
        ASSERT_EQ(ListDirectory(Dir.Path()), c.Files);
        for (size_t page = 0; page < c.Files.size(); ++page) {
            EXPECT_EQ(NumberInFile(Dir.File(c.Files[page])), long(page + 1)) << c.Files[page];
        }
        for (const std::string &file : c.Files)
            std::remove(Dir.File(file).c_str());
    }
}

TEST_F(FeederBatch, AnEmptyFeederEndsABatchWellAndFailsASingleScan)
{
    for (const char *name : {"page%d.pgm", "doc.pdf"}) {
        CommandResult r = Scan({"--batch=" + Dir.File(name)}, 0);
        EXPECT_EQ(r.Status, 0) << r.Err;
        EXPECT_TRUE(Contains(r.Err, "feeder empty after 0 pages; nothing was written")) << r.Err;
    }
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

    /* One document for the batch keeps the pages before the jam, in order. */
    CommandResult doc = Scan({"--batch=" + Dir.File("doc.tif")}, 3, "jam:3");
    EXPECT_EQ(doc.Status, 1);
    EXPECT_TRUE(Contains(doc.Err, "the 2 pages scanned before it are kept in " + Dir.File("doc.tif"))) << doc.Err;
    std::string error;
    std::vector<long> numbers;
    for (const DecodedImage &page : DecodeTiffPages(Dir.File("doc.tif"), error))
        numbers.push_back(NumberOn(page));
    EXPECT_EQ(numbers, (std::vector<long>{1, 2})) << error;
}

TEST_F(FeederBatch, AFullDiskKeepsThePagesBeforeIt)
{
    /* A private tmpfs with room for one page of 75 kB, not for two. */
    if (!HaveTool("unshare"))
        GTEST_SKIP() << "unshare is not installed";
    const std::string script = "d=$1; shift; mount -t tmpfs -o size=120k tmpfs \"$d\" || exit 99; "
                               "\"$@\"; s=$?; ls -A \"$d\"; exit $s";
    CommandResult r = RunCommand("unshare", {"-rm", "sh", "-c", script, "sh", Dir.Path(), kScan, "-d", "sim:2", "--mode",
                                             "Gray", "--resolution", std::to_string(kDpi), "--batch=" + Dir.File("page%d.pgm")},
                                 Environment(3));
    if (r.Status == 99 || Contains(r.Err, "unshare: "))
        GTEST_SKIP() << "cannot mount a small file system here: " << r.Err;
    EXPECT_EQ(r.Status, 1) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "page 2: ")) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "No space left on device")) << r.Err;
    EXPECT_EQ(r.Out, "page1.pgm\n") << "what the full file system held: page 1, no temporary file";
}

TEST(Preview, WholeGlassInColourAtTheLowestResolutionFrom50Dpi)
{
    if (std::string why = VirtualScannerMissing(); !why.empty())
        GTEST_SKIP() << why;
    /* Dpi: the lowest of the device's list from 50 up. 600 dpi lists 6, 12,
     * ... (54 first from 50); 300 dpi lists 3, 6, ... (51). */
    const struct {
        const char *Device;
        unsigned Dpi, Channels, GlassMils[2];
    } cases[] = {{"sim:0", 54, 3, {8500, 11666}}, {"sim:3", 51, 1, {8500, 11693}}};
    TempDir dir;
    for (const auto &c : cases) {
        std::string file = dir.File(std::string(c.Device + 4) + ".png"), error;
        CommandResult r = RunCommand(kScan, {"-d", c.Device, "--preview", "--mode", "Lineart", "-x", "20", "-y", "20",
                                             "--resolution", "600", "-o", file});
        ASSERT_EQ(r.Status, 0) << c.Device << ": " << r.Err;
        DecodedImage image;
        ASSERT_TRUE(DecodeImageFile(file, image, error)) << error;
        EXPECT_EQ(std::tie(image.Channels, image.Depth), std::make_tuple(c.Channels, 8u)) << c.Device;
        EXPECT_NEAR(image.ResolutionX, c.Dpi, 0.05) << c.Device;
        EXPECT_NEAR(image.Width, (c.GlassMils[0] * c.Dpi + 500) / 1000, 1) << c.Device << ": the whole glass";
        EXPECT_NEAR(image.Height, (c.GlassMils[1] * c.Dpi + 500) / 1000, 1) << c.Device;
    }
}

} // namespace
