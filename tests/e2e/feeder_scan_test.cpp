/*
 * Scans from the virtual scanner's document feeder through the driver
 * library, as an application runs a batch: vPaperReady before each page,
 * the page numbers read back from the images, "no document" once the tray
 * is empty, and a jam that costs one page and not the next.
 */
#include "scandrv.h"
#include "sim_config.h"

#include "../support/page_number.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

constexpr uint16_t kDpi = 50;

int ResultOf(uint32_t dwResult) { return static_cast<int16_t>(dwResult & 0xFFFF); }

class FeederScan : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(SimConfigure("reset", "1"), 0);
        ASSERT_EQ(SimConfigure("model", "attach"), 0);
        ASSERT_EQ(SimConfigure("noise", "off"), 0);
        ASSERT_EQ(SimConfigure("faults", "clear"), 0);
        ASSERT_EQ(SimConfigure("document", "chart"), 0);
        InitBlock init = {};
        init.wAttachParam1 = 2;
        vInitializeScanner(&init);
        ASSERT_EQ(uint32_t{init.dwResult}, 1u); /* a copy: the block is packed */
    }
    void TearDown() override
    {
        SimConfigure("faults", "clear");
        SimConfigure("feeder_pages", "0");
    }

    /* Grey at 50 dpi over the panel that carries the page number. */
    static ScanAttributeBlock NumberPanel()
    {
        ScanAttributeBlock block = {};
        block.wScanSource = SD_SOURCE_ALT1;
        vDefaultAttribute(&block);
        block.wScanSource = SD_SOURCE_ALT1;
        block.wImageType = SD_IMAGE_RED;
        block.wBitsPerPixel = 8;
        block.wResolution = kDpi;
        block.wLeft = static_cast<uint16_t>(kPagePanelLeft / 12);
        block.wTop = static_cast<uint16_t>(kPagePanelTop / 12);
        block.wRight = static_cast<uint16_t>(kPagePanelRight / 12 - 1);
        block.wBottom = static_cast<uint16_t>(kPagePanelBottom / 12 - 1);
        return block;
    }

    /* Scans the next page; its number, or the driver's result code (< 0)
     * of the call that failed. */
    static long ScanPageNumber()
    {
        ScanAttributeBlock block = NumberPanel();
        vScannerStartScan(&block);
        if (ResultOf(block.dwResult) != 1)
            return ResultOf(block.dwResult);
        uint32_t width = block.wWidth, lines = block.wLength;
        std::vector<uint8_t> grey(size_t{width} * lines);
        ImageDataBlock read = {};
        for (uint32_t done = 0; done < lines;) {
            read.lpImageBuffer = grey.data() + size_t{done} * width;
            read.dwRequestLines = std::min(lines - done, 16u);
            vScannerGetImage(&read);
            if (ResultOf(read.dwResult) != 1) {
                ParamBlock abort = {};
                vScannerAbortScan(&abort);
                return ResultOf(read.dwResult);
            }
            done += read.dwReturnLines;
        }
        return ReadPageNumber([&](uint32_t x, uint32_t y) { return grey[size_t{y} * width + x]; }, width, lines,
                              kDpi, kPagePanelLeft, kPagePanelTop);
    }
};

TEST_F(FeederScan, BatchUntilTheTrayIsEmpty)
{
    ASSERT_EQ(SimConfigure("feeder_pages", "3"), 0);
    int32_t sensor = vPaperReady();
    EXPECT_NE(sensor & 0x7F, 0) << "paper in the tray";
    EXPECT_EQ(sensor >> 9, 1) << "the event of loaded paper";
    EXPECT_EQ(vPaperReady() >> 9, 0) << "reported once";
    for (long page = 1; page <= 3; ++page) {
        EXPECT_NE(vPaperReady() & 0x7F, 0) << "before page " << page;
        EXPECT_EQ(ScanPageNumber(), page);
    }
    EXPECT_EQ(vPaperReady() & 0x7F, 0) << "the tray is empty";
    EXPECT_EQ(ScanPageNumber(), SD_ERR_NO_MEDIUM);
}

TEST_F(FeederScan, JamCostsItsPageAndTheBatchGoesOn)
{
    ASSERT_EQ(SimConfigure("feeder_pages", "3"), 0);
    ASSERT_EQ(SimConfigure("faults", "jam:2"), 0);
    EXPECT_EQ(ScanPageNumber(), 1);
    EXPECT_EQ(ScanPageNumber(), SD_ERR_MEDIA_LOAD);
    EXPECT_EQ(ScanPageNumber(), 3);
}

} // namespace
