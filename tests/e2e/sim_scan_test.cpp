/*
 * Whole scans through the real driver library and the virtual scanner, as
 * an application runs them: calibration that removes the sensor's streaks,
 * colour-tagged and mirrored lines that come out like whole-pixel ones, 16
 * bits against 8, and bilevel images.
 */
#include "scandrv.h"
#include "sim_config.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Image {
    uint32_t Width = 0, Lines = 0, LineBytes = 0;
    std::vector<uint8_t> Bytes;
    uint32_t Result = 0;
};

class SimScan : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(SimConfigure("reset", "1"), 0);
        ASSERT_EQ(SimConfigure("model", "attach"), 0);
        ASSERT_EQ(SimConfigure("noise", "off"), 0);
        ASSERT_EQ(SimConfigure("faults", "clear"), 0);
        ASSERT_EQ(SimConfigure("document", "chart"), 0);
    }
    void TearDown() override
    {
        SimConfigure("faults", "clear");
        SimConfigure("document", "chart");
        if (!documentPath.empty())
            std::remove(documentPath.c_str());
    }

    static uint32_t Initialize(uint16_t model)
    {
        InitBlock init = {};
        init.wAttachParam1 = model;
        vInitializeScanner(&init);
        return init.dwResult;
    }
    /* The defaults with an area of `inches` square at (1 in, 1 in). */
    static ScanAttributeBlock Request(uint16_t type, uint16_t bits, uint16_t dpi, double inches = 1.0)
    {
        ScanAttributeBlock block = {};
        block.wScanSource = SD_SOURCE_FLATBED;
        vDefaultAttribute(&block);
        block.wImageType = type;
        block.wBitsPerPixel = bits;
        block.wResolution = dpi;
        block.wLeft = 1000;
        block.wTop = 1000;
        block.wRight = static_cast<uint16_t>(1000 + inches * 1000 - 1);
        block.wBottom = static_cast<uint16_t>(1000 + inches * 1000 - 1);
        return block;
    }
    static Image Scan(ScanAttributeBlock block)
    {
        Image image;
        vScannerStartScan(&block);
        image.Result = block.dwResult;
        if (image.Result != 1)
            return image;
        image.Width = block.wWidth;
        image.Lines = block.wLength;
        image.LineBytes = block.wBitsPerPixel == 1
                              ? block.wWidth
                              : block.wWidth * (block.wImageType == SD_IMAGE_COLOR ? 3u : 1u) *
                                    (block.wBitsPerPixel > 8 ? 2u : 1u);
        image.Bytes.resize(size_t{image.Lines} * image.LineBytes);
        /* One block for the whole image: after an early end its line count
         * still to come is read back in. */
        ImageDataBlock read = {};
        for (uint32_t done = 0; done < image.Lines;) {
            read.lpImageBuffer = image.Bytes.data() + size_t{done} * image.LineBytes;
            read.dwRequestLines = std::min(image.Lines - done, 37u);
            vScannerGetImage(&read);
            if (read.dwResult != 1 || read.dwReturnLines == 0) {
                image.Result = read.dwResult;
                return image;
            }
            done += read.dwReturnLines;
        }
        return image;
    }
    /* A uniform grey page of the given level on the glass. */
    void GreyDocument(uint8_t level)
    {
        char path[] = "/tmp/scandrv-e2e-XXXXXX";
        int fd = mkstemp(path);
        ASSERT_GE(fd, 0);
        close(fd);
        documentPath = path;
        FILE *file = std::fopen(path, "wb");
        ASSERT_NE(file, nullptr);
        std::fprintf(file, "P5\n900 900\n255\n");
        std::vector<uint8_t> pixels(900 * 900, level);
        std::fwrite(pixels.data(), 1, pixels.size(), file);
        std::fclose(file);
        ASSERT_EQ(SimConfigure("document", path), 0);
    }
    static std::vector<double> ColumnMeans(const Image &image)
    {
        std::vector<double> means(image.Width, 0.0);
        for (uint32_t y = 0; y < image.Lines; ++y)
            for (uint32_t x = 0; x < image.Width; ++x)
                means[x] += image.Bytes[size_t{y} * image.LineBytes + x];
        for (double &mean : means)
            mean /= image.Lines;
        return means;
    }

    std::string documentPath;
};

TEST_F(SimScan, CalibrationRemovesTheSensorsStreaks)
{
    ASSERT_EQ(Initialize(0), 1u);
    GreyDocument(100);
    Image calibrated = Scan(Request(SD_IMAGE_RED, 8, 250));
    ASSERT_EQ(calibrated.Result, 1u);
    std::vector<double> means = ColumnMeans(calibrated);
    auto [low, high] = std::minmax_element(means.begin(), means.end());
    EXPECT_LT(*high - *low, 2.0) << "calibrated columns within a level of each other";
    EXPECT_GT(*low, 100.0) << "the default gain brightens";

    /* A scanner that refuses the shading tables keeps none: the same page
     * then shows the streaks of its uneven sensor. */
    ASSERT_EQ(SimConfigure("reset", "1"), 0);
    ASSERT_EQ(SimConfigure("fault", "check:shading:1+:26/00"), 0);
    Image streaked = Scan(Request(SD_IMAGE_RED, 8, 250));
    ASSERT_EQ(streaked.Result, 1u);
    means = ColumnMeans(streaked);
    std::tie(low, high) = std::minmax_element(means.begin(), means.end());
    EXPECT_GT(*high - *low, 5.0) << "uncalibrated columns differ";
}

TEST_F(SimScan, TaggedMirroredModelMatchesTheWholePixelModel)
{
    ASSERT_EQ(Initialize(0), 1u);
    Image whole = Scan(Request(SD_IMAGE_COLOR, 8, 100));
    ASSERT_EQ(whole.Result, 1u);
    ASSERT_EQ(Initialize(1), 1u);
    Image tagged = Scan(Request(SD_IMAGE_COLOR, 8, 100));
    ASSERT_EQ(tagged.Result, 1u);
    ASSERT_EQ(tagged.Width, whole.Width);
    ASSERT_EQ(tagged.Lines, whole.Lines);
    size_t close = 0;
    for (size_t i = 0; i < whole.Bytes.size(); ++i)
        close += std::abs(int(whole.Bytes[i]) - int(tagged.Bytes[i])) <= 4;
    EXPECT_GT(close, whole.Bytes.size() * 97 / 100) << "same chart";
    /* Lines left unmirrored would match far worse. */
    size_t closeMirrored = 0;
    for (uint32_t y = 0; y < whole.Lines; ++y)
        for (uint32_t x = 0; x < whole.Width; ++x)
            for (uint32_t c = 0; c < 3; ++c) {
                int a = whole.Bytes[size_t{y} * whole.LineBytes + 3 * x + c];
                int b = tagged.Bytes[size_t{y} * tagged.LineBytes + 3 * (whole.Width - 1 - x) + c];
                closeMirrored += std::abs(a - b) <= 4;
            }
    EXPECT_LT(closeMirrored, whole.Bytes.size() * 80 / 100) << "same orientation";
}

TEST_F(SimScan, SixteenBitsAgreeWithEight)
{
    ASSERT_EQ(Initialize(0), 1u);
    Image eight = Scan(Request(SD_IMAGE_RED, 8, 250, 0.5));
    Image sixteen = Scan(Request(SD_IMAGE_RED, 16, 250, 0.5));
    ASSERT_EQ(eight.Result, 1u);
    ASSERT_EQ(sixteen.Result, 1u);
    ASSERT_EQ(sixteen.Width, eight.Width);
    size_t agree = 0;
    for (size_t i = 0; i < eight.Bytes.size(); ++i) {
        uint16_t wide;
        std::memcpy(&wide, &sixteen.Bytes[2 * i], 2);
        agree += std::abs(int(wide >> 8) - int(eight.Bytes[i])) <= 2;
    }
    EXPECT_GT(agree, eight.Bytes.size() * 98 / 100);
}

TEST_F(SimScan, LineArtFromTheScannerAndFromTheDriverAgree)
{
    ASSERT_EQ(Initialize(0), 1u);
    ScanAttributeBlock request = Request(SD_IMAGE_RED, 1, 250);
    Image byScanner = Scan(request);
    ASSERT_EQ(byScanner.Result, 1u);
    /* The scanner's threshold (byte 31 of the window, 128) against the
     * same area scanned in grey and thresholded here. */
    Image grey = Scan(Request(SD_IMAGE_RED, 8, 250));
    ASSERT_EQ(grey.Result, 1u);
    ASSERT_EQ(byScanner.Lines, grey.Lines);
    size_t agree = 0, total = 0;
    for (uint32_t y = 0; y < grey.Lines; ++y)
        for (uint32_t x = 0; x < grey.Width; ++x, ++total) {
            bool dark = grey.Bytes[size_t{y} * grey.LineBytes + x] < 128;
            bool bit = byScanner.Bytes[size_t{y} * byScanner.LineBytes + x / 8] & (0x80 >> (x % 8));
            agree += dark == bit;
        }
    EXPECT_GT(agree, total * 9 / 10);
}

TEST_F(SimScan, DriverDithersWhereTheScannerCannotHalftone)
{
    ASSERT_EQ(Initialize(1), 1u); /* threshold only */
    ScanAttributeBlock request = Request(SD_IMAGE_RED, 1, 100);
    request.wHalftoneMode = SD_HALFTONE_BUILTIN;
    request.wHalftonePattern = 10;
    Image dithered = Scan(request);
    ASSERT_EQ(dithered.Result, 1u);
    EXPECT_EQ(dithered.LineBytes, 13u) << "100 pixels packed 8 to a byte";
    size_t ones = 0;
    for (uint8_t byte : dithered.Bytes)
        ones += __builtin_popcount(byte);
    EXPECT_GT(ones, 0u);
    EXPECT_LT(ones, dithered.Bytes.size() * 8);
}

TEST_F(SimScan, DeviceFaultsComeBackAsResultCodes)
{
    ASSERT_EQ(Initialize(0), 1u);
    ASSERT_EQ(SimConfigure("fault", "check:window:1:2C/02"), 0);
    EXPECT_EQ(Scan(Request(SD_IMAGE_RED, 8, 250)).Result, 0xFD44u);
    ASSERT_EQ(SimConfigure("faults", "status:gamma:1:24"), 0);
    EXPECT_EQ(Scan(Request(SD_IMAGE_RED, 8, 250)).Result, 0xFE0Bu);
    ASSERT_EQ(SimConfigure("faults", "early_end:20"), 0);
    Image early = Scan(Request(SD_IMAGE_RED, 8, 250));
    EXPECT_EQ(early.Result, 1u) << "an early end is not an error";
    EXPECT_EQ(Initialize(9), 0xFC14u) << "no device at that address";
}

} // namespace
