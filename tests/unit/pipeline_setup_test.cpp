/*
 * pipeline_setup_test.cpp - SetUpLinePipeline driven through the fake
 * adapter: delivered geometry, transfer state, method and routine choice,
 * line buffers, and the ways the set-up fails.
 */
#include "fake_adapter.h"
#include "image/transfer_state.h"
#include "pipeline/horizontal.h"
#include "pipeline/line_pipeline.h"
#include "pipeline/vertical.h"
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
    TransferStateRecord savedTransfer = TransferState;

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
    }
    /* The block is packed: its dwResult is read by value, never bound. */
    uint32_t Result() const { return block.dwResult; }
    bool Start(uint32_t pixels, uint32_t lineBytes, uint32_t lines)
    {
        fake::Queue(BUSLNK_GOOD, GeometryPage(pixels, lineBytes, lines));
        return SetUpLinePipeline(&block);
    }
};

TEST_F(SetUpLinePipelineTest, ColourScanGeometry)
{
    ScanState.IsColor = 1;
    ASSERT_TRUE(Start(2550, 7650, 300));
    const TransferStateRecord &t = TransferState;
    EXPECT_EQ(block.wWidth, 2550);
    EXPECT_EQ(block.wLength, 300);
    EXPECT_EQ(Result(), 1u);
    EXPECT_EQ(t.ImageKind, 1u);
    EXPECT_EQ(t.LineFormat, 1u);
    EXPECT_EQ(t.TransferBits, 8u);
    EXPECT_EQ(t.ReportedPixels, 2550u);
    EXPECT_EQ(t.ReportedLineBytes, 7650u);
    EXPECT_EQ(t.ReportedLines, 300u);
    EXPECT_EQ(t.DeviceLineBytes, 7650u);
    EXPECT_EQ(t.DeliverPixels, 2550u);
    EXPECT_EQ(t.DeliverLineBytes, 7650u);
    EXPECT_EQ(t.DeliverLines, 300u);
    ASSERT_EQ(fake::Commands().size(), 1u);
    EXPECT_EQ(fake::Hex(fake::Commands()[0].Cdb), "28 00 80 00 00 00 00 00 10 00");
    /* Same geometry both ways: lines are copied, no buffers are taken. */
    EXPECT_EQ(LinePipeline.LineScaler, nullptr);
    EXPECT_EQ(LinePipeline.PrevLine, nullptr);

    ScanState.BitsPerPixel = 16;
    ASSERT_TRUE(Start(2550, 15300, 300));
    EXPECT_EQ(TransferState.DeliverLineBytes, 15300u);
    EXPECT_EQ(block.wWidth, 2550);
}

TEST_F(SetUpLinePipelineTest, TaggedColourLinesLoseTheirTags)
{
    DeviceParameters.Bytes[0] = 3;
    ScanState.IsColor = 1;
    ASSERT_TRUE(Start(2550, 7656, 300));
    EXPECT_EQ(TransferState.DeviceLineBytes, 7650u);
    EXPECT_EQ(LinePipeline.SrcLineBytes, 7650u);
    ScanState.IsColor = 0;
    ASSERT_TRUE(Start(2550, 2550, 300));
    EXPECT_EQ(TransferState.DeviceLineBytes, 2550u);
}

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
    struct Case {
        uint32_t Binary, LineArt, Resolution, Base;
        uint16_t Uniform;
    };
    const Case cases[] = {
        {0, 0, 300, 200, 1}, {1, 1, 300, 200, 0}, {1, 0, 300, 200, 1},
        {0, 0, 300, 300, 0}, {0, 0, 20, 10, 0},   {0, 1, 300, 200, 1}, /* line art only counts for binary */
    };
    for (const Case &c : cases) {
        ScanState.IsBinary = ScanState.SoftwareBinarize = c.Binary;
        ScanState.IsLineArt = c.LineArt;
        ScanState.Resolution = c.Resolution;
        ScanState.BaseResolution = c.Base;
        ASSERT_TRUE(Start(100, 100, 100));
        EXPECT_EQ(LinePipeline.UniformResample, c.Uniform) << "resolution " << c.Resolution;
    }
}

TEST_F(SetUpLinePipelineTest, RoutineTable)
{
    struct Case {
        uint16_t Uniform, Color, Bits;
        uint32_t SrcPixels;
        LineScalerFn Scaler;
        ChunkRoutineFn Chunk;
    };
    const Case cases[] = {
        {1, 1, 16, 2, WidenUniformRgb16, UniformChunk<uint16_t>}, {1, 1, 16, 9, NarrowUniformRgb16, UniformChunk<uint16_t>},
        {1, 1, 8, 2, WidenUniformRgb8, UniformChunk<uint8_t>},    {1, 1, 8, 9, NarrowUniformRgb8, UniformChunk<uint8_t>},
        {1, 0, 12, 2, WidenUniformGray16, UniformChunk<uint16_t>}, {1, 0, 12, 9, NarrowUniformGray16, UniformChunk<uint16_t>},
        {1, 0, 8, 2, WidenUniformGray8, UniformChunk<uint8_t>},   {1, 0, 8, 9, NarrowUniformGray8, UniformChunk<uint8_t>},
        {0, 1, 16, 2, WidenInsertRgb16, InsertChunk<uint16_t>},   {0, 1, 16, 9, NarrowDropRgb16, InsertChunk<uint16_t>},
        {0, 1, 8, 2, WidenInsertRgb8, InsertChunk<uint8_t>},      {0, 1, 8, 9, NarrowDropRgb8, InsertChunk<uint8_t>},
        {0, 0, 9, 2, WidenInsertGray16, InsertChunk<uint16_t>},   {0, 0, 9, 9, NarrowDropGray16, InsertChunk<uint16_t>},
        {0, 0, 8, 2, WidenInsertGray8, InsertChunk<uint8_t>},     {0, 0, 8, 9, NarrowDropGray8, InsertChunk<uint8_t>},
        {0, 0, 8, 5, nullptr, InsertChunk<uint8_t>},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(InitLinePipeline({c.Uniform, c.Color, c.Bits, c.SrcPixels, 10, 60, 5, 10, 30}), 1);
        EXPECT_EQ(LinePipeline.LineScaler, c.Scaler) << &c - cases;
        EXPECT_EQ(LinePipeline.ChunkRoutine, c.Chunk) << &c - cases;
    }
    EXPECT_EQ(LinePipeline.PrevLine, nullptr); /* across alone needs no buffers */
}

TEST_F(SetUpLinePipelineTest, LineBuffersFollowTheLineCounts)
{
    ASSERT_EQ(InitLinePipeline({0, 0, 8, 100, 50, 104, 300, 70, 300}), 1);
    ASSERT_NE(LinePipeline.PrevLine, nullptr);
    EXPECT_EQ(LinePipeline.WorkLine - LinePipeline.PrevLine, 300);
    EXPECT_EQ(LiveAllocations(), 1);
    /* A scan started over one never ended does not lose the old block. */
    ASSERT_EQ(InitLinePipeline({1, 0, 8, 400, 50, 400, 300, 70, 300}), 1);
    EXPECT_EQ(LinePipeline.WorkLine - LinePipeline.PrevLine, 400);
    EXPECT_EQ(LiveAllocations(), 1);
    ASSERT_EQ(InitLinePipeline({1, 0, 8, 300, 70, 300, 300, 70, 300}), 1);
    EXPECT_EQ(LiveAllocations(), 0);
}

TEST_F(SetUpLinePipelineTest, BuffersNotObtainedFailTheStart)
{
    FailAllocationAfter(0, false);
    EXPECT_FALSE(Start(2550, 2550, 200));
    EXPECT_EQ(StopFailingAllocations(), 1);
    EXPECT_EQ(Result(), 0xFFFFFC11u); /* -1007 as a 32-bit value */
    EXPECT_EQ(LiveAllocations(), 0);
    uint8_t line[2550] = {};
    uint32_t consumed = 9, produced = 9;
    EXPECT_EQ(ProcessChunk({line, 1}, {line, 1}, consumed, produced), 0);
    EXPECT_EQ(consumed + produced, 0u);
}

TEST_F(SetUpLinePipelineTest, GeometryReadFailurePassesThrough)
{
    TransferState.ReportedPixels = 77;
    block.wWidth = 77;
    fake::Queue(fake::CheckCondition(0x3A, 0x00));
    EXPECT_FALSE(SetUpLinePipeline(&block));
    EXPECT_EQ(Result(), 0xFD40u); /* -704 with the high half 0 */
    fake::Queue(BUSLNK_FAILURE);
    EXPECT_FALSE(SetUpLinePipeline(&block));
    EXPECT_EQ(Result(), 0xFC14u); /* -1004 */
    EXPECT_EQ(TransferState.ReportedPixels, 77u);
    EXPECT_EQ(block.wWidth, 77);
}

/* Geometry the pipeline cannot carry is refused before anything is written. */
TEST_F(SetUpLinePipelineTest, RejectsGeometryBeyondThePipeline)
{
    struct Case {
        uint32_t Format, Pixels, LineBytes, Lines;
    };
    const Case cases[] = {
        {1, 65536, 196608, 300}, /* pixel counts are 16-bit */
        {1, 2550, 7650, 70000},  /* so are line counts */
        {1, 2550, 6000, 300},    /* lines shorter than their pixels */
        {3, 1, 5, 300},          /* tagged lines without room for their tags */
        {1, 2550, 7650, 0},      /* no lines for a non-empty image */
        {1, 0, 0, 300},          /* no pixels for a non-empty line */
    };
    ScanState.IsColor = 1;
    for (const Case &c : cases) {
        DeviceParameters.Bytes[0] = static_cast<uint8_t>(c.Format);
        TransferState.DeliverLines = 77;
        EXPECT_FALSE(Start(c.Pixels, c.LineBytes, c.Lines)) << &c - cases;
        EXPECT_EQ(Result(), static_cast<uint32_t>(SD_ERR_PARAMETER_VALUE));
        EXPECT_EQ(TransferState.DeliverLines, 77u);
    }
}

} // namespace
