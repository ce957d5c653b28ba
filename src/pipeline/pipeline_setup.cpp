/*
 * pipeline_setup.cpp - the last step of the scan start: the scanner's line
 * geometry is read, the caller is told the line length and count it will
 * receive, the transfer geometry is filled for image reading, and the
 * LinePipeline is prepared: method, chunk routine, horizontal routine (both
 * looked up once in the tables below), counters and the two line buffers.
 */
#include "line_pipeline.h"

#include "horizontal.h"
#include "image/transfer_state.h"
#include "platform/vector_support.h"
#include "scan/scan_state.h"
#include "scsi/byte_order.h"
#include "scsi/commands.h"
#include "scsi/result.h"
#include "vector_routines.h"
#include "vertical.h"

LinePipelineRecord LinePipeline = {};

namespace {

enum Method : uint8_t { kInsertAndDrop = 0, kUniform = 1 };
enum Direction : uint8_t { kNarrow = 0, kWiden = 1 };

struct ChunkRow {
    uint8_t Method;
    bool Wide; /* 16-bit samples */
    ChunkRoutineFn Routine;
};

static const ChunkRow ChunkTable[] = {
    {kUniform, true, UniformChunk<uint16_t>},
    {kUniform, false, UniformChunk<uint8_t>},
    {kInsertAndDrop, true, InsertChunk<uint16_t>},
    {kInsertAndDrop, false, InsertChunk<uint8_t>},
};

struct ScalerRow {
    uint8_t Method;
    bool Color;
    bool Wide;
    uint8_t Direction;
    LineScalerFn Routine;
};

static const ScalerRow ScalerTable[] = {
    {kUniform, true, true, kWiden, WidenUniformRgb16},
    {kUniform, true, true, kNarrow, NarrowUniformRgb16},
    {kUniform, true, false, kWiden, WidenUniformRgb8},
    {kUniform, true, false, kNarrow, NarrowUniformRgb8},
    {kUniform, false, true, kWiden, WidenUniformGray16},
    {kUniform, false, true, kNarrow, NarrowUniformGray16},
    {kUniform, false, false, kWiden, WidenUniformGray8},
    {kUniform, false, false, kNarrow, NarrowUniformGray8},
    {kInsertAndDrop, true, true, kWiden, WidenInsertRgb16},
    {kInsertAndDrop, true, true, kNarrow, NarrowDropRgb16},
    {kInsertAndDrop, true, false, kWiden, WidenInsertRgb8},
    {kInsertAndDrop, true, false, kNarrow, NarrowDropRgb8},
    {kInsertAndDrop, false, true, kWiden, WidenInsertGray16},
    {kInsertAndDrop, false, true, kNarrow, NarrowDropGray16},
    {kInsertAndDrop, false, false, kWiden, WidenInsertGray8},
    {kInsertAndDrop, false, false, kNarrow, NarrowDropGray8},
};

bool WideSamples()
{
    return LinePipeline.BitsPerSample > 8;
}

ChunkRoutineFn FindChunkRoutine(uint8_t method)
{
    for (const ChunkRow &row : ChunkTable)
        if (row.Method == method && row.Wide == WideSamples())
            return row.Routine;
    return nullptr;
}

/* Null when the pixel counts agree: lines are then copied. */
LineScalerFn FindLineScaler(uint8_t method)
{
    const LinePipelineRecord &pipe = LinePipeline;
    if (pipe.SrcPixels == pipe.DstPixels)
        return nullptr;
    const uint8_t direction = pipe.SrcPixels < pipe.DstPixels ? kWiden : kNarrow;
    for (const ScalerRow &row : ScalerTable)
        if (row.Method == method && row.Color == (pipe.Color != 0) && row.Wide == WideSamples() &&
            row.Direction == direction)
            return row.Routine;
    return nullptr;
}

/* The uniform vertical blend of the sample width: the vector one wherever it
 * can run. */
LineBlendFn FindLineBlend()
{
#if defined(SCANDRV_HAVE_AVX2)
    if (VectorRoutinesUsable())
        return WideSamples() ? BlendLinesAvx2Word : BlendLinesAvx2Byte;
#endif
    return WideSamples() ? BlendLines<uint16_t> : BlendLines<uint8_t>;
}

/* Whether the uniform method scales across with a vector routine: not where
 * the pixel counts agree, lines too short to gain from its tables, or no
 * vector routines can run. */
bool VectorAcross()
{
#if defined(SCANDRV_HAVE_AVX2)
    const LinePipelineRecord &pipe = LinePipeline;
    return pipe.UniformResample == 1 && VectorRoutinesUsable() && pipe.SrcPixels != pipe.DstPixels &&
           pipe.DstPixels >= kAcrossVectorMinPixels;
#else
    return false;
#endif
}

/* The vector routine for the layout, windowed or gathering. */
LineScalerFn FindVectorUniformScaler(bool windowed)
{
#if defined(SCANDRV_HAVE_AVX2)
    static const LineScalerFn kRoutines[2][2][2] = {
        {{UniformAcrossAvx2Gray8, UniformAcrossAvx2Gray16}, {UniformAcrossAvx2Rgb8, UniformAcrossAvx2Rgb16}},
        {{UniformWindowAvx2Gray8, UniformWindowAvx2Gray16}, {UniformWindowAvx2Rgb8, UniformWindowAvx2Rgb16}}};
    return kRoutines[windowed][LinePipeline.Color != 0][WideSamples()];
#else
    (void)windowed;
    return nullptr;
#endif
}

/* 2^bits - 1 in 16 bits for word samples. From 16 bits up its low 16 bits are
 * all ones; taking them so keeps the shift defined for any requested depth. */
uint16_t SampleMaxFor(uint16_t bits)
{
    if (bits <= 8)
        return 255;
    if (bits >= 16)
        return 0xFFFF;
    return static_cast<uint16_t>((1u << bits) - 1);
}

/* The largest line the scanner may announce: one line must fit one READ,
 * whose transfer length has 24 bits. */
constexpr uint32_t kMaxLineBytes = 0xFFFFFF;

/* Whether the pipeline can carry a scan of this geometry; the start is
 * rejected with SD_ERR_PARAMETER_VALUE otherwise, before anything is written.
 * - Pixel and line counts stay below 65536: the block reports them in 16
 *   bits, and the routines multiply two of them in 32 bits.
 * - A scanner that delivers no pixels or no lines cannot fill a non-empty
 *   image (and the insert spread divides by the line count).
 * - Every source line holds its SrcPixels pixels and every output line its
 *   DstPixels pixels, so no routine reads or writes past a line. Packed
 *   binary lines are moved whole and are exempt. */
bool PipelineCanCarry(const PipelineParams &p, bool packed, uint32_t reportedLineBytes, bool tagged)
{
    if (p.SrcPixels > 0xFFFF || p.SrcLines > 0xFFFF || p.DstPixels > 0xFFFF || p.DstLines > 0xFFFF)
        return false;
    if (reportedLineBytes > kMaxLineBytes || (tagged && reportedLineBytes < 6))
        return false;
    if ((p.SrcPixels == 0 && p.DstPixels != 0) || (p.SrcLines == 0 && p.DstLines != 0))
        return false;
    if (packed)
        return true;
    const uint32_t pixelBytes = (p.Color ? 3 : 1) * (p.BitsPerSample > 8 ? 2 : 1);
    return p.SrcLineBytes >= p.SrcPixels * pixelBytes && p.DstLineBytes >= p.DstPixels * pixelBytes;
}

} // namespace

/* Frees a movable block taken and locked by TakeLockedBlock. */
static void FreeLockedBlock(MemoryHandle &handle)
{
    if (!handle)
        return;
    UnlockMovable(handle);
    FreeMovable(handle);
    handle = nullptr;
}

/* A movable, zero-filled block, locked; null with nothing held when either
 * step fails. */
static uint8_t *TakeLockedBlock(uint32_t bytes, MemoryHandle &handle)
{
    handle = AllocateMovable(bytes);
    uint8_t *block = handle ? static_cast<uint8_t *>(LockMovable(handle)) : nullptr;
    if (!block && handle) {
        FreeMovable(handle);
        handle = nullptr;
    }
    return block;
}

void ReleaseLineBuffers()
{
    LinePipelineRecord &pipe = LinePipeline;
    FreeLockedBlock(pipe.BufferHandle);
    pipe.PrevLine = nullptr;
    pipe.WorkLine = nullptr;
    /* A vector horizontal routine loses its tables with their block: the
     * plain one takes its place. */
    if (pipe.AcrossHandle) {
        FreeLockedBlock(pipe.AcrossHandle);
        pipe.Across = {};
        pipe.LineScaler = FindLineScaler(kUniform);
    }
}

/* The tables of a vector uniform routine (two words per output pixel, and
 * the shuffle windows) in a block of their own. They only make the scan
 * faster: where the block cannot be had the plain routine, which gives the
 * same bytes, stays chosen and the scan goes on. */
static void TakeAcrossTables()
{
    LinePipelineRecord &pipe = LinePipeline;
    if (!VectorAcross())
        return;
    const uint32_t windowsAt = 2 * 4 * pipe.DstPixels;
    const uint32_t windowCount = (pipe.DstPixels / 8 + 1) * (pipe.Color ? 3 : 1);
    uint8_t *block = TakeLockedBlock(windowsAt + windowCount * sizeof(AcrossWindow), pipe.AcrossHandle);
    if (!block)
        return;
    uint32_t *offsets = reinterpret_cast<uint32_t *>(block);
    BuildUniformAcross(pipe.Across, offsets, offsets + pipe.DstPixels,
                       AcrossReadBytes(pipe.Color != 0, WideSamples()));
    const bool windowed = BuildAcrossWindows(pipe.Across, reinterpret_cast<AcrossWindow *>(block + windowsAt));
    pipe.LineScaler = FindVectorUniformScaler(windowed);
}

void SelectUniformRoutines()
{
    LinePipelineRecord &pipe = LinePipeline;
    pipe.LineScaler = FindLineScaler(kUniform);
    pipe.LineBlend = FindLineBlend();
    pipe.FirstLine = 1;
    pipe.LinePhase = pipe.DstLines;
    pipe.LineTarget = pipe.SrcLines;
    pipe.InsertLeft = 0;
    pipe.SrcLinesLeft = pipe.SrcLines;
    pipe.SampleMax = SampleMaxFor(pipe.BitsPerSample);
}

void SelectInsertRoutines()
{
    LinePipelineRecord &pipe = LinePipeline;
    pipe.LineScaler = FindLineScaler(kInsertAndDrop);
    pipe.FirstLine = 1;
    pipe.LinePhase = pipe.DstLines < pipe.SrcLines ? pipe.DstLines : 0;
    pipe.LineTarget = pipe.DstLines - pipe.SrcLines;
    pipe.InsertLeft = 0xFFFFFFFFu;
    pipe.SampleMax = SampleMaxFor(pipe.BitsPerSample);
}

int InitLinePipeline(const PipelineParams &params)
{
    LinePipelineRecord &pipe = LinePipeline;
    /* Blocks still held by a scan that was never ended are given back before
     * new ones are taken; their handles would otherwise be lost. */
    ReleaseLineBuffers();
    static_cast<PipelineParams &>(pipe) = params;
    pipe.OutputLinesLeft = pipe.DstLines;
    if (pipe.UniformResample == 1) {
        pipe.ChunkRoutine = FindChunkRoutine(kUniform);
        SelectUniformRoutines();
    } else {
        pipe.ChunkRoutine = FindChunkRoutine(kInsertAndDrop);
        SelectInsertRoutines();
    }

    /* The two line buffers, when the line counts differ: each holds a line
     * of either geometry. Scaling across alone needs none. */
    if (pipe.DstLines != pipe.SrcLines) {
        const uint32_t lineBytes = pipe.DstLineBytes > pipe.SrcLineBytes ? pipe.DstLineBytes : pipe.SrcLineBytes;
        uint8_t *block = TakeLockedBlock(2 * lineBytes, pipe.BufferHandle);
        if (!block) {
            /* The routines cannot run without their buffers. */
            pipe.ChunkRoutine = nullptr;
            return 0;
        }
        pipe.PrevLine = block;
        pipe.WorkLine = block + lineBytes;
    }
    TakeAcrossTables();
    return 1;
}

bool SetUpLinePipeline(ScanAttributeBlock *block)
{
    uint8_t page[kImageGeometryPageLength];
    const ResultCode rc = ReadImageGeometry(page);
    if (rc != SD_OK) {
        StoreCommandResult(block, rc);
        return false;
    }

    const ScanStateRecord &scan = ScanState;
    const uint32_t reportedPixels = ReadBigEndian32(page + 0);
    const uint32_t reportedLineBytes = ReadBigEndian32(page + 4);
    const uint32_t reportedLines = ReadBigEndian32(page + 8);
    const uint32_t imageKind = scan.IsColor ? kImageColor : scan.IsBinary ? kImageBinary : kImageGrey;
    const uint32_t lineFormat = PageLineFormat(DeviceParameters);
    const bool tagged = lineFormat == 3 && imageKind == kImageColor;

    /* Tagged colour lines carry three 2-byte colour tags. A line format the
     * driver does not know is taken as whole lines: a line length left from
     * another scan could only be wrong for this one. */
    const uint32_t deviceLineBytes = tagged ? reportedLineBytes - 6 : reportedLineBytes;

    /* The area is in 1/1000 inch with both edges inclusive; rounded to the
     * nearest whole pixel. */
    const uint32_t deliverPixels =
        ((static_cast<uint32_t>(block->wRight) - block->wLeft + 1) * scan.Resolution + 500) / 1000 & 0xFFFF;
    uint32_t deliverLines =
        ((static_cast<uint32_t>(block->wBottom) - block->wTop + 1) * scan.Resolution + 500) / 1000 & 0xFFFF;
    uint32_t deliverLineBytes;
    if (!scan.IsBinary) {
        deliverLineBytes = deliverPixels * (scan.IsColor ? 3 : 1) *
                           (static_cast<int32_t>(scan.BitsPerPixel) > 8 ? 2 : 1);
    } else if (scan.SoftwareBinarize) {
        deliverLineBytes = (deliverPixels + 7) / 8;
    } else {
        deliverLineBytes = deviceLineBytes & 0xFFFF;
        if (deliverLines > reportedLines)
            deliverLines = reportedLines;
    }

    /* Lines of packed bits made by the scanner go through the pipeline whole:
     * no routine works on single bits, and blending bytes of packed pixels
     * would mix pixels. They are copied or dropped, never blended or scaled
     * across, so both pixel counts are the scanner's. */
    const bool packed = scan.IsBinary && !scan.SoftwareBinarize;
    const bool threshold = scan.IsBinary && scan.IsLineArt;
    PipelineParams params = {};
    params.UniformResample = static_cast<int32_t>(scan.Resolution) > static_cast<int32_t>(scan.BaseResolution) &&
                             static_cast<int32_t>(scan.Resolution) >= 25 && !threshold && !packed;
    params.Color = static_cast<uint16_t>(scan.IsColor);
    params.BitsPerSample = static_cast<uint16_t>(scan.BitsPerPixel);
    params.SrcPixels = reportedPixels;
    params.SrcLines = reportedLines;
    params.SrcLineBytes = deviceLineBytes;
    params.DstPixels = packed ? reportedPixels : deliverPixels;
    params.DstLines = deliverLines;
    /* The driver's own binarizer takes 8-bit grey lines, one byte a pixel. */
    params.DstLineBytes = scan.SoftwareBinarize ? deliverPixels : deliverLineBytes;

    if (!PipelineCanCarry(params, packed, reportedLineBytes, tagged)) {
        StoreOwnResult(block, SD_ERR_PARAMETER_VALUE);
        return false;
    }

    TransferStateRecord &transfer = TransferState;
    transfer.ImageKind = imageKind;
    transfer.LineFormat = lineFormat;
    transfer.TransferBits = scan.BitsPerPixel;
    transfer.DeviceLineBytes = deviceLineBytes;
    transfer.ReportedLineBytes = reportedLineBytes;
    transfer.ReportedPixels = reportedPixels;
    transfer.ReportedLines = reportedLines;
    transfer.DeliverPixels = deliverPixels;
    transfer.DeliverLineBytes = deliverLineBytes;
    transfer.DeliverLines = deliverLines;
    block->wWidth = static_cast<uint16_t>(scan.IsBinary ? deliverLineBytes : deliverPixels);
    block->wLength = static_cast<uint16_t>(deliverLines);

    /* The line routines must never run without their buffers, so a pipeline
     * that could not get them fails the start rather than leaving the scan
     * to stall or fault later. */
    if (!InitLinePipeline(params)) {
        StoreOwnResult(block, SD_ERR_NO_MEMORY);
        return false;
    }
    return true;
}
