/*
 * Whole scans through the real driver library and the virtual scanner, as
 * an application runs them: calibration that removes the sensor's streaks,
 * colour-tagged and mirrored lines that come out like whole-pixel ones, 16
 * bits against 8, bilevel lines, the tone controls the scanner applies.
 * Failures and their codes are in the
 * failure loops; feeder batches in the scan command's tests.
 */
#include "scandrv.h"
#include "sim_config.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

int ResultOf(uint32_t dwResult) { return static_cast<int16_t>(dwResult & 0xFFFF); }

struct Image {
    uint32_t Width = 0, Lines = 0, LineBytes = 0;
    std::vector<uint8_t> Bytes;
    int Result = 0;
    uint8_t At(uint32_t x, uint32_t y) const { return Bytes[size_t{y} * LineBytes + x]; }
};

class SimScan : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (auto [key, value] : {std::pair{"reset", "1"}, {"model", "attach"}, {"noise", "off"}, {"faults", "clear"},
                                  {"document", "chart"}})
            ASSERT_EQ(SimConfigure(key, value), 0) << key;
    }
    void TearDown() override
    {
        SimConfigure("faults", "clear"); /* the calibration test sets one */
        SimConfigure("document", "chart");
        if (!DocumentPath.empty())
            std::remove(DocumentPath.c_str());
    }

    static int Initialize(uint16_t model)
    {
        InitBlock init = {};
        init.wAttachParam1 = model;
        vInitializeScanner(&init);
        return ResultOf(init.dwResult);
    }
    /* The defaults with an area of `inches` square at (1 in, 1 in). */
    static ScanAttributeBlock Request(uint16_t type, uint16_t bits, uint16_t dpi, double inches = 1.0)
    {
        ScanAttributeBlock block = {};
        block.wScanSource = SD_SOURCE_FLATBED;
        vDefaultAttribute(&block);
        block.wImageType = type, block.wBitsPerPixel = bits, block.wResolution = dpi;
        block.wLeft = block.wTop = 1000;
        block.wRight = block.wBottom = static_cast<uint16_t>(1000 + inches * 1000 - 1);
        return block;
    }
    static Image Scan(ScanAttributeBlock block)
    {
        Image image;
        vScannerStartScan(&block);
        if ((image.Result = ResultOf(block.dwResult)) != SD_OK)
            return image;
        image.Width = block.wWidth;
        image.Lines = block.wLength;
        image.LineBytes = block.wBitsPerPixel == 1 ? block.wWidth /* bytes, for bilevel */
                                                   : block.wWidth * (block.wImageType == SD_IMAGE_COLOR ? 3u : 1u) *
                                                         (block.wBitsPerPixel > 8 ? 2u : 1u);
        image.Bytes.resize(size_t{image.Lines} * image.LineBytes);
        /* One block for the whole image: after an early end its line count still to come is read back in. */
        ImageDataBlock read = {};
        for (uint32_t done = 0; done < image.Lines; done += read.dwReturnLines) {
            read.lpImageBuffer = image.Bytes.data() + size_t{done} * image.LineBytes;
            read.dwRequestLines = std::min(image.Lines - done, 37u);
            vScannerGetImage(&read);
            if (ResultOf(read.dwResult) != SD_OK || read.dwReturnLines == 0) {
                ParamBlock abort = {};
                vScannerAbortScan(&abort);
                image.Result = ResultOf(read.dwResult);
                break;
            }
        }
        return image;
    }
    /* A uniform grey page of the given level on the glass. */
    void GreyDocument(uint8_t level)
    {
        char path[] = "/tmp/scandrv-e2e-XXXXXX";
        close(mkstemp(path));
        DocumentPath = path;
        FILE *file = std::fopen(path, "wb");
        ASSERT_NE(file, nullptr);
        std::fprintf(file, "P5\n900 900\n255\n");
        std::fwrite(std::vector<uint8_t>(900 * 900, level).data(), 1, 900 * 900, file);
        std::fclose(file);
        ASSERT_EQ(SimConfigure("document", path), 0);
    }
    /* Lowest and highest column mean of a grey image. */
    static std::pair<double, double> ColumnRange(const Image &image)
    {
        std::vector<double> means(image.Width, 0.0);
        for (uint32_t y = 0; y < image.Lines; ++y)
            for (uint32_t x = 0; x < image.Width; ++x)
                means[x] += image.At(x, y) / double(image.Lines);
        auto [low, high] = std::minmax_element(means.begin(), means.end());
        return {*low, *high};
    }

    std::string DocumentPath;
};

TEST_F(SimScan, CalibrationRemovesTheSensorsStreaks)
{
    ASSERT_EQ(Initialize(0), SD_OK);
    GreyDocument(100);
    Image calibrated = Scan(Request(SD_IMAGE_RED, 8, 250));
    ASSERT_EQ(calibrated.Result, SD_OK);
    auto [low, high] = ColumnRange(calibrated);
    EXPECT_LT(high - low, 2.0) << "calibrated columns within a level of each other";
    EXPECT_GT(low, 100.0) << "the default gain brightens";
    /* A scanner that refuses the shading tables keeps none: the same page shows its streaks. */
    ASSERT_EQ(SimConfigure("reset", "1"), 0);
    ASSERT_EQ(SimConfigure("fault", "check:shading:1+:26/00"), 0);
    Image streaked = Scan(Request(SD_IMAGE_RED, 8, 250));
    ASSERT_EQ(streaked.Result, SD_OK);
    std::tie(low, high) = ColumnRange(streaked);
    EXPECT_GT(high - low, 5.0) << "uncalibrated columns differ";
}

TEST_F(SimScan, TaggedMirroredModelMatchesTheWholePixelModel)
{
    ASSERT_EQ(Initialize(0), SD_OK);
    Image whole = Scan(Request(SD_IMAGE_COLOR, 8, 100));
    ASSERT_EQ(Initialize(1), SD_OK);
    Image tagged = Scan(Request(SD_IMAGE_COLOR, 8, 100));
    ASSERT_EQ(whole.Result, SD_OK);
    ASSERT_EQ(tagged.Result, SD_OK);
    ASSERT_EQ(tagged.Width, whole.Width);
    ASSERT_EQ(tagged.Lines, whole.Lines);
    size_t close = 0, closeMirrored = 0;
    for (uint32_t y = 0; y < whole.Lines; ++y)
        for (uint32_t x = 0; x < 3 * whole.Width; ++x) {
            close += std::abs(whole.At(x, y) - tagged.At(x, y)) <= 4;
            closeMirrored += std::abs(whole.At(x, y) - tagged.At(3 * (whole.Width - 1 - x / 3) + x % 3, y)) <= 4;
        }
    EXPECT_GT(close, whole.Bytes.size() * 97 / 100) << "same chart";
    EXPECT_LT(closeMirrored, whole.Bytes.size() * 80 / 100) << "same orientation: unmirrored lines match far worse";
}

TEST_F(SimScan, SixteenBitsAgreeWithEight)
{
    ASSERT_EQ(Initialize(0), SD_OK);
    Image eight = Scan(Request(SD_IMAGE_RED, 8, 250, 0.5));
    Image sixteen = Scan(Request(SD_IMAGE_RED, 16, 250, 0.5));
    ASSERT_EQ(eight.Result, SD_OK);
    ASSERT_EQ(sixteen.Result, SD_OK);
    ASSERT_EQ(sixteen.Width, eight.Width);
    size_t agree = 0;
    for (size_t i = 0; i < eight.Bytes.size(); ++i) {
        uint16_t wide;
        std::memcpy(&wide, &sixteen.Bytes[2 * i], 2);
        agree += std::abs(int(wide >> 8) - int(eight.Bytes[i])) <= 2;
    }
    EXPECT_GT(agree, eight.Bytes.size() * 98 / 100);
}

/* The driver's own halftone is in the unit tests and the scan command's. */
TEST_F(SimScan, LineArtFromTheScannerAgreesWithGreyThresholded)
{
    ASSERT_EQ(Initialize(0), SD_OK);
    Image bits = Scan(Request(SD_IMAGE_RED, 1, 250)); /* the scanner's threshold, 128 */
    Image grey = Scan(Request(SD_IMAGE_RED, 8, 250));
    ASSERT_EQ(bits.Result, SD_OK);
    ASSERT_EQ(grey.Result, SD_OK);
    ASSERT_EQ(bits.Lines, grey.Lines);
    size_t agree = 0;
    for (uint32_t y = 0; y < grey.Lines; ++y)
        for (uint32_t x = 0; x < grey.Width; ++x)
            agree += (grey.At(x, y) < 128) == bool(bits.At(x / 8, y) & (0x80 >> (x % 8)));
    EXPECT_GT(agree, grey.Bytes.size() * 9 / 10);
}

/* A page at one grey level: each control moves the level by its own rule,
 * and a colour scan's controls act on their channel only. The tone controls
 * act before the gamma tables, which brighten by 20 % by default. */
TEST_F(SimScan, ToneControlsShapeTheImage)
{
    ASSERT_EQ(Initialize(0), SD_OK);
    GreyDocument(100);
    auto means = [](const Image &image, uint32_t channels) {
        std::vector<double> sum(channels, 0.0);
        for (size_t i = 0; i < image.Bytes.size(); ++i)
            sum[i % channels] += image.Bytes[i] * double(channels) / image.Bytes.size();
        return sum;
    };
    auto gamma = [](double level) { return std::clamp(level * 1.2, 0.0, 255.0); };
    /* Straight caller tables, so that only the brightening stays. */
    static uint8_t straight[3 * 256];
    for (int i = 0; i < 3 * 256; ++i)
        straight[i] = static_cast<uint8_t>(i);
    auto request = [](uint16_t type) {
        ScanAttributeBlock block = Request(type, 8, 100, 0.5);
        block.wFlags |= SD_FLAG_GAMMA;
        block.lpGammaTable = straight;
        return block;
    };
    const Image plain = Scan(request(SD_IMAGE_RED));
    ASSERT_EQ(plain.Result, SD_OK);
    const double level = means(plain, 1)[0], page = level / 1.2;
    uint16_t levels[9] = {0, 0, 0, 0, 0, 0, 192, 192, 192}; /* highlights at 192 */
    const struct {
        const char *What;
        void (*Set)(ScanAttributeBlock &);
        double Expected;
    } rows[] = {
        {"brightness +64", [](ScanAttributeBlock &b) { b.lBrightness[0] = 64; }, gamma(page + 63.75)},
        {"brightness -128", [](ScanAttributeBlock &b) { b.lBrightness[0] = -128; }, gamma(page - 127.5)},
        {"contrast -128: flat", [](ScanAttributeBlock &b) { b.lContrast[0] = -128; }, gamma(127.5)},
        {"contrast +64", [](ScanAttributeBlock &b) { b.lContrast[0] = 64; }, gamma(127.5 + (page - 127.5) * 1.5)},
        {"another channel's brightness", [](ScanAttributeBlock &b) { b.lBrightness[1] = 64; }, level},
        {"highlight 192", [](ScanAttributeBlock &b) { b.wFlags |= SD_FLAG_HIGHLIGHT; }, gamma(page * 255 / 192)},
    };
    for (const auto &row : rows) {
        ScanAttributeBlock block = request(SD_IMAGE_RED);
        block.lpToneLevels = levels;
        row.Set(block);
        const Image image = Scan(block);
        ASSERT_EQ(image.Result, SD_OK) << row.What;
        EXPECT_NEAR(means(image, 1)[0], row.Expected, 2.0) << row.What << ", from " << level;
    }

    ScanAttributeBlock colour = request(SD_IMAGE_COLOR);
    const std::vector<double> before = means(Scan(colour), 3);
    colour.lBrightness[2] = -64;
    const std::vector<double> after = means(Scan(colour), 3);
    EXPECT_NEAR(after[0], before[0], 0.5);
    EXPECT_NEAR(after[1], before[1], 0.5);
    EXPECT_NEAR(after[2], gamma(before[2] / 1.2 - 64), 1.5) << "from " << before[2];
}

} // namespace
