/*
 * image_bench.cpp - the per-chunk and per-line work of image reading besides
 * the pipeline: mirroring of the four raw layouts in place (mirror/: the
 * routines MirrorLines picks, vector ones where usable; mirror_plain/: the
 * plain ones on the same lines), the two software binarizers (as a scan
 * picks them, and the plain ones), and colour lines assembled from tagged
 * segments (indexing and interleaving over a transfer buffer set up as for
 * a tagged scan).
 */
#include "bench_support.h"

#include "image/image_reader.h"
#include "image/mirror.h"
#include "platform/vector_support.h"
#include "scan/halftone.h"
#include "scan/scan_state.h"

#include <cstring>
#include <string>

namespace {

/* --- Mirroring ------------------------------------------------------- */

struct MirrorCase {
    const char *Name;
    int32_t Selector;
    int32_t Bits;
    uint32_t LineBytes;  /* raw line as the scanner delivers it */
    uint32_t PixelBytes; /* bytes of pixel data moved per line */
};

void Mirror(benchmark::State &state, MirrorCase c, bool plainOnly)
{
    std::vector<uint8_t> lines = MakeBuffer(size_t{kChunkLines} * c.LineBytes);
    FillRandom(lines.data(), lines.size(), 3);
    if (c.Selector == kMirrorTagged) {
        for (uint32_t s = 0; s < 3 * kChunkLines; ++s)
            lines[size_t{s} * (c.LineBytes / 3)] = "RGB"[s % 3];
    }
    UsePlainRoutinesOnly(plainOnly);
    for (auto _ : state) {
        MirrorLines(c.Selector, c.Bits, kFullWidth, c.LineBytes, kChunkLines, lines.data());
        benchmark::ClobberMemory();
    }
    UsePlainRoutinesOnly(false);
    ReportDelivered(state, uint64_t{kChunkLines} * c.PixelBytes, c.LineBytes);
}

/* --- Binarizers ------------------------------------------------------ */

/* The binarizer SelectBinarizer picks for an identity tone map, or with
 * plainOnly the plain one. */
void Binarize(benchmark::State &state, bool dither, bool plainOnly)
{
    const uint32_t lineBytes = (kFullWidth + 7) / 8;
    std::vector<uint8_t> grey = MakeBuffer(size_t{kChunkLines} * kFullWidth);
    std::vector<uint8_t> bits = MakeBuffer(size_t{kChunkLines} * lineBytes);
    FillRandom(grey.data(), grey.size(), 4);
    for (uint32_t k = 0; k < 256; ++k)
        ScanState.ToneMap[k] = static_cast<uint8_t>(k);
    HalftonePatternData data = {};
    UsePlainRoutinesOnly(plainOnly);
    SelectBinarizer(ScanState.ToneMap, dither ? 0 : -1, &data, nullptr, 0);
    UsePlainRoutinesOnly(false);
    for (auto _ : state) {
        for (uint32_t j = 0; j < kChunkLines; ++j)
            HalftoneState.Binarizer(bits.data() + size_t{j} * lineBytes, grey.data() + size_t{j} * kFullWidth,
                                    kFullWidth);
        benchmark::ClobberMemory();
    }
    ReportDelivered(state, uint64_t{kChunkLines} * lineBytes, lineBytes);
    state.counters["pixels_per_second"] =
        benchmark::Counter(double(kChunkLines) * kFullWidth, benchmark::Counter::kIsIterationInvariantRate);
}

/* --- Colour segments ------------------------------------------------- */

/* A tagged scan as the 300 dpi tagged model delivers it at its base
 * resolution, but full width: segments R, G, B in every line. */
void SetUpTaggedTransfer(int32_t bits)
{
    const uint32_t sampleBytes = bits > 8 ? 2 : 1;
    ScanStateRecord &scan = ScanState;
    scan.IsColor = 1;
    scan.IsBinary = 0;
    scan.SoftwareBinarize = 0;
    scan.ExceedsMaxResolution = 0;
    scan.ModelFlag = 0;
    scan.ColorLineGap = 4;
    scan.BaseResolution = 300;
    scan.ScanResolutionX = 300;
    TransferStateRecord &t = TransferState;
    t.ImageKind = kImageColor;
    t.LineFormat = 3;
    t.TransferBits = static_cast<uint32_t>(bits);
    t.ReportedPixels = kFullWidth;
    t.ReportedLineBytes = 3 * (2 + kFullWidth * sampleBytes);
    t.DeviceLineBytes = t.ReportedLineBytes - 6;
    t.DeliverPixels = kFullWidth;
    t.DeliverLineBytes = t.DeviceLineBytes;
    t.ReportedLines = t.DeliverLines = 1000;
}

void AssembleColor(benchmark::State &state, int32_t bits)
{
    SetUpTaggedTransfer(bits);
    TransferStateRecord &t = TransferState;
    if (SetupTransferBuffer(kChunkLines) != SD_OK) {
        state.SkipWithError("no transfer buffer");
        return;
    }
    const uint32_t segment = t.ReportedLineBytes / 3;
    FillRandom(t.RawBuffer, size_t{t.RawCapacity} * t.ReportedLineBytes, 5);
    for (uint32_t s = 0; s < 3 * t.RawCapacity; ++s) {
        t.RawBuffer[size_t{s} * segment] = "RGB"[s % 3];
        t.RawBuffer[size_t{s} * segment + 1] = 0;
    }
    const uint32_t lines = t.RawCapacity;
    uint32_t made = 0;
    for (auto _ : state) {
        t.RawAvailable = lines;
        t.RawKept = 0;
        IndexColorSegments();
        made = 0;
        while (AssembleColorLine())
            ++made;
        benchmark::DoNotOptimize(t.ColorLine);
        benchmark::ClobberMemory();
    }
    EndTransfer();
    if (made != lines)
        state.SkipWithError("not every colour line was assembled");
    ExpectNoDriverMemory(state);
    ReportDelivered(state, uint64_t{lines} * t.DeliverLineBytes, t.DeliverLineBytes);
}

} // namespace

void QueueImageBenchmarks()
{
    const uint32_t binaryBytes = (kFullWidth + 7) / 8;
    static const MirrorCase kMirrorCases[] = {
        {"mirror/binary", kMirrorBinary, 1, binaryBytes, binaryBytes},
        {"mirror/single/8", kMirrorSingle, 8, kFullWidth, kFullWidth},
        {"mirror/single/16", kMirrorSingle, 16, 2 * kFullWidth, 2 * kFullWidth},
        {"mirror/tagged/8", kMirrorTagged, 8, 3 * (2 + kFullWidth), 3 * kFullWidth},
        {"mirror/tagged/16", kMirrorTagged, 16, 3 * (2 + 2 * kFullWidth), 6 * kFullWidth},
        {"mirror/whole_pixel/8", kMirrorWholePixel, 8, 3 * kFullWidth, 3 * kFullWidth},
        {"mirror/whole_pixel/16", kMirrorWholePixel, 16, 6 * kFullWidth, 6 * kFullWidth},
    };
    for (const MirrorCase &c : kMirrorCases) {
        RequireMemcpyBaseline(c.LineBytes);
        Queue([c] {
            benchmark::RegisterBenchmark(c.Name, Mirror, c, false);
            const std::string layout = std::string(c.Name).substr(std::string("mirror/").size());
            benchmark::RegisterBenchmark(("mirror_plain/" + layout).c_str(), Mirror, c, true);
        });
    }
    RequireMemcpyBaseline(binaryBytes);
    Queue([] {
        benchmark::RegisterBenchmark("binarize/DitherLine/pattern0_8x8", Binarize, true, false);
        benchmark::RegisterBenchmark("binarize/ThresholdLine", Binarize, false, false);
        benchmark::RegisterBenchmark("binarize_plain/DitherLine/pattern0_8x8", Binarize, true, true);
        benchmark::RegisterBenchmark("binarize_plain/ThresholdLine", Binarize, false, true);
    });
    RequireMemcpyBaseline(3 * kFullWidth);
    RequireMemcpyBaseline(6 * kFullWidth);
    Queue([] {
        benchmark::RegisterBenchmark("color_segments/assemble/8", AssembleColor, 8);
        benchmark::RegisterBenchmark("color_segments/assemble/16", AssembleColor, 16);
    });
}
