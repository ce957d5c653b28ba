/*
 * delivery.cpp - the buffered transfer loop. Raw lines are read as they run
 * out; a source routine offers the pipeline its lines (raw lines, or one
 * colour line made whole); a delivery routine puts the pipeline's output in
 * the caller's buffer, binarizing grey lines where the driver makes the
 * bits. Both routines are chosen when the transfer is set up.
 */
#include "delivery.h"

#include "image_reader.h"
#include "pipeline/line_pipeline.h"
#include "scan/halftone.h"
#include "scan/scan_state.h"

#include <cstring>

/* The lines on offer to the pipeline; a count of 0 means none is ready. */
typedef ChunkDesc (*SourceRoutine)();
/* Lines taken off the raw area once the pipeline has used them. */
typedef void (*ConsumeRoutine)(uint32_t consumed);
/* Runs one chunk into the caller's buffer; returns lines delivered. */
typedef uint32_t (*DeliverRoutine)(const ChunkDesc &source, uint32_t wanted, uint32_t &consumed);

static SourceRoutine NextSource;
static ConsumeRoutine Consume;
static DeliverRoutine DeliverChunk;

/* --- Sources --------------------------------------------------------- */

static ChunkDesc RawLinesSource()
{
    return {TransferState.RawCursor, TransferState.RawAvailable};
}

/* Whole-pixel colour: the raw line is the colour line. */
static ChunkDesc WholePixelColorSource()
{
    TransferStateRecord &t = TransferState;
    if (t.LineHeld == 0)
        t.ColorLine = t.RawCursor;
    return {t.ColorLine, 1};
}

/* Tagged colour: a new colour line is assembled only once the pipeline is
 * done with the last; without a complete one there is nothing to offer, so
 * no stale line is ever fed twice. */
static ChunkDesc TaggedColorSource()
{
    TransferStateRecord &t = TransferState;
    if (t.LineHeld == 0 && !AssembleColorLine())
        return {nullptr, 0};
    return {t.ColorLine, 1};
}

static void ConsumeRawLines(uint32_t consumed)
{
    TransferStateRecord &t = TransferState;
    t.RawAvailable -= consumed;
    t.RawCursor += consumed * t.ReportedLineBytes;
}

/* Assembling a colour line already took it off the raw area. */
static void ConsumeNothing(uint32_t)
{
}

/* --- Deliveries ------------------------------------------------------ */

static uint32_t DeliverThroughPipeline(const ChunkDesc &source, uint32_t wanted, uint32_t &consumed)
{
    TransferStateRecord &t = TransferState;
    uint32_t produced = 0;
    t.LineHeld = static_cast<uint32_t>(ProcessChunk({t.OutCursor, wanted}, source, consumed, produced));
    t.OutCursor += produced * t.DeliverLineBytes;
    return produced;
}

/* The pipeline makes one grey line at a time in BinaryLine; the scan's
 * binarizer packs it into the caller's line. */
static uint32_t DeliverBinarized(const ChunkDesc &source, uint32_t, uint32_t &consumed)
{
    TransferStateRecord &t = TransferState;
    uint32_t produced = 0;
    t.LineHeld = static_cast<uint32_t>(ProcessChunk({t.BinaryLine, 1}, source, consumed, produced));
    if (produced) {
        HalftoneState.Binarizer(t.OutCursor, t.BinaryLine, t.DeliverPixels);
        t.OutCursor += t.DeliverLineBytes;
    }
    return produced;
}

/* Bits the scanner packed itself cannot be rescaled sample by sample: its
 * lines reach the caller as they are, and lines beyond those the caller
 * receives are left unread. */
static uint32_t DeliverScannerBits(const ChunkDesc &source, uint32_t wanted, uint32_t &consumed)
{
    TransferStateRecord &t = TransferState;
    uint32_t lines = source.Count < wanted ? source.Count : wanted;
    for (uint32_t i = 0; i < lines; ++i)
        std::memcpy(t.OutCursor + i * t.DeliverLineBytes, source.Lines + i * t.ReportedLineBytes,
                    t.DeliverLineBytes);
    t.OutCursor += lines * t.DeliverLineBytes;
    t.LineHeld = 0;
    consumed = lines;
    return lines;
}

void ChooseDeliveryRoutines()
{
    const TransferStateRecord &t = TransferState;
    const ScanStateRecord &scan = ScanState;
    if (t.ImageKind == kImageColor && t.LineFormat == 3) {
        NextSource = TaggedColorSource;
        Consume = ConsumeNothing;
    } else if (t.ImageKind == kImageColor) {
        NextSource = WholePixelColorSource;
        Consume = ConsumeRawLines;
    } else {
        NextSource = RawLinesSource;
        Consume = ConsumeRawLines;
    }
    if (scan.SoftwareBinarize)
        DeliverChunk = DeliverBinarized;
    else if (scan.IsBinary)
        DeliverChunk = DeliverScannerBits;
    else
        DeliverChunk = DeliverThroughPipeline;
}

ResultCode DeliverBufferedLines(uint32_t &delivered)
{
    TransferStateRecord &t = TransferState;
    delivered = 0;
    while (delivered < t.CallLines) {
        if (t.RawAvailable == 0) {
            /* Once the scanner has nothing more to send, the call ends with
             * the lines it has rather than wait for lines that will not come.
             * A scanner that sent every line it announced yet left the image
             * short (segments without a colour tag, colour lines that never
             * pair up) has ended it early just the same: without the mark,
             * every later call would deliver nothing and still report lines
             * to come, and a caller reading to the end would never get there.
             * With it, later calls count the missing lines down to 0. */
            if (t.ReportedLines == 0 || ScanState.EndOfData) {
                ScanState.EndOfData = 1;
                break;
            }
            ResultCode result = ReadRawLines();
            if (result != SD_OK)
                return result;
            continue;
        }
        ChunkDesc source = NextSource();
        if (source.Count == 0)
            continue;
        uint32_t consumed = 0;
        delivered += DeliverChunk(source, t.CallLines - delivered, consumed);
        Consume(consumed);
    }
    return SD_OK;
}
