/* SetUpLinePipeline: binary geometry, the method, and refused geometry
 * (grey and colour geometry is in the images of the image tests). */
#include "fake_adapter.h"
#include "image/transfer_state.h"
#include "pipeline/line_pipeline.h"
#include "scan/scan_state.h"
#include "scsi/commands.h"

#include <gtest/gtest.h>

namespace {

std::vector<uint8_t> GeometryPage(uint32_t pixels, uint32_t lineBytes, uint32_t lines)
{
    std::vector<uint8_t> page(16, 0xEE);
    WriteBigEndian32(&page[0], pixels);
    WriteBigEndian32(&page[4], lineBytes);
    WriteBigEndian32(&page[8], lines);
    return page;
}

class SetUpLinePipelineTest : public ::testing::Test {
protected:
    ScanAttributeBlock block = {};
    const TransferStateRecord savedTransfer = TransferState;
    const ScanStateRecord savedScan = ScanState;
    const DeviceParameterPage savedPage = DeviceParameters;

    void SetUp() override
    {
        fake::Reset();
        ScanState = {};
        ScanState.Resolution = 300;
        ScanState.BaseResolution = 600;
        ScanState.BitsPerPixel = 8;
        DeviceParameters = {};
        DeviceParameters.Bytes[0] = 0x81; /* whole-pixel lines; high bits are not the format */
        block.wRight = 8499;              /* 8.5 inch */
        block.wBottom = 999;              /* 1 inch */
        block.dwResult = 1;
    }
    void TearDown() override
    {
        ReleaseLineBuffers();
        EXPECT_EQ(LiveAllocations(), 0);
        TransferState = savedTransfer;
        ScanState = savedScan;
        DeviceParameters = savedPage;
    }
    bool Start(uint32_t pixels, uint32_t lineBytes, uint32_t lines)
    {
        fake::Queue(BUSLNK_GOOD, GeometryPage(pixels, lineBytes, lines));
        return SetUpLinePipeline(&block);
    }
};

TEST_F(SetUpLinePipelineTest, BinaryScans)
{
    ScanState.IsBinary = 1;
    ScanState.BitsPerPixel = 1;
    ScanState.SoftwareBinarize = 1;
    ASSERT_TRUE(Start(2550, 2550, 300));
    EXPECT_EQ(TransferState.DeliverLineBytes, 319u);
    EXPECT_EQ(block.wWidth, 319);
    EXPECT_EQ(LinePipeline.DstLineBytes, 2550u); /* grey bytes for the driver's binarizer */

    /* Made by the scanner: never more lines than it sends, and the packed
     * lines are copied or dropped whole even above the base resolution. */
    ScanState.SoftwareBinarize = 0;
    ScanState.Resolution = 1200;
    ASSERT_TRUE(Start(9000, 1125, 1000));
    EXPECT_EQ(TransferState.DeliverLines, 1000u);
    EXPECT_EQ(block.wLength, 1000);
    EXPECT_EQ(block.wWidth, 1125);
    EXPECT_EQ(LinePipeline.UniformResample, 0);
    EXPECT_EQ(LinePipeline.LineScaler, nullptr);
}

TEST_F(SetUpLinePipelineTest, MethodFollowsResolutionAndKind)
{
    /* Above the base and from 25 dpi, unless the driver thresholds: binary
     * (made by the driver), line art, resolution, base, uniform. */
    const uint32_t cases[][5] = {{0, 0, 301, 300, 1}, {0, 0, 300, 300, 0}, {0, 0, 25, 10, 1},
                                 {0, 0, 24, 10, 0},   {1, 1, 300, 200, 0}, {1, 0, 300, 200, 1}};
    for (const auto &c : cases) {
        ScanState.IsBinary = ScanState.SoftwareBinarize = c[0];
        ScanState.IsLineArt = c[1];
        ScanState.Resolution = c[2];
        ScanState.BaseResolution = c[3];
        ASSERT_TRUE(Start(100, 100, 100));
        EXPECT_EQ(LinePipeline.UniformResample, c[4]) << "case " << &c - cases;
    }
}

/* A failed READ or geometry the pipeline cannot carry writes nothing. */
TEST_F(SetUpLinePipelineTest, Refusals)
{
    TransferState.DeliverLines = 77;
    fake::Queue(fake::CheckCondition(0x3A, 0x00));
    EXPECT_FALSE(SetUpLinePipeline(&block));

    /* line format, pixels, line bytes, lines of a colour scan */
    const uint32_t cases[][4] = {
        {1, 65536, 196608, 300}, /* pixel counts are 16-bit */
        {1, 2550, 7650, 70000},  /* so are line counts */
        {1, 2550, 6000, 300},    /* lines shorter than their pixels */
        {3, 1, 5, 300},          /* tagged lines without room for their tags */
        {1, 2550, 7650, 0},      /* no lines for a non-empty image */
        {1, 0, 0, 300},          /* no pixels for a non-empty line */
    };
    ScanState.IsColor = 1;
    for (const auto &c : cases) {
        DeviceParameters.Bytes[0] = static_cast<uint8_t>(c[0]);
        EXPECT_FALSE(Start(c[1], c[2], c[3])) << "case " << &c - cases;
        EXPECT_EQ(uint32_t{block.dwResult}, static_cast<uint32_t>(SD_ERR_PARAMETER_VALUE));
    }
    EXPECT_EQ(TransferState.DeliverLines, 77u);
    EXPECT_EQ(block.wWidth, 0);
}

} // namespace
