/*
 * scan_bench.cpp - whole scans through the driver's exported functions,
 * against the virtual scanner:
 * - a full-glass 600 dpi colour scan, calibration included, with the time
 *   spent inside the virtual scanner taken apart from the driver's;
 * - scans with image data arriving at memory speed: a letter page at 500 dpi,
 *   which the scanner delivers as asked (direct transfer: the driver reads
 *   straight into the caller's buffer), and the full glass at 600 dpi, which
 *   this scanner makes at 1000 dpi and the driver reduces (buffered);
 * - the driver's peak memory for scans of 1,000 and 20,000 lines of the same
 *   width, counted by the platform layer's allocation gate.
 */
#include "bench_adapter.h"
#include "bench_support.h"

#include "entry/settings.h"
#include "platform/platform.h"
#include "scandrv.h"

#include <chrono>
#include <string>

namespace {

constexpr uint32_t kRequestLines = 64;

bool Attach(uint16_t model, uint16_t lens)
{
    static bool loaded = false;
    if (!loaded) {
        DriverProcessAttach();
        loaded = true;
    }
    BenchSimConfigure("model", "attach");
    InitBlock init = {};
    init.wAttachParam1 = model;
    vInitializeScanner(&init);
    if ((init.dwResult & 0xFFFF) != SD_OK)
        return false;
    if (lens != 0) {
        LensBlock select = {};
        select.wLens = lens;
        vScannerMutiLens(&select);
        if ((select.dwResult & 0xFFFF) != SD_OK)
            return false;
    }
    return true;
}

/* The scan area in 1/1000 inch, edges inclusive, for pixels x lines at dpi. */
ScanAttributeBlock ColorScan(uint16_t dpi, uint32_t widthThousandths, uint32_t lengthThousandths)
{
    ScanAttributeBlock block = {};
    vDefaultAttribute(&block);
    block.wImageType = SD_IMAGE_COLOR;
    block.wBitsPerPixel = 8;
    block.wResolution = dpi;
    block.wScanSource = SD_SOURCE_FLATBED;
    block.wLeft = 0;
    block.wTop = 0;
    block.wRight = static_cast<uint16_t>(widthThousandths - 1);
    block.wBottom = static_cast<uint16_t>(lengthThousandths - 1);
    block.wFlags &= static_cast<uint16_t>(~SD_FLAG_GAMMA);
    block.lpGammaTable = nullptr;
    return block;
}

/* Reads the running scan to its end; returns the lines delivered, or -1. */
long ReadImage(std::vector<uint8_t> &buffer, uint32_t lineBytes)
{
    long lines = 0;
    ImageDataBlock image = {};
    do {
        image.lpImageBuffer = buffer.data();
        image.dwRequestLines = kRequestLines;
        vScannerGetImage(&image);
        if ((image.dwResult & 0xFFFF) != SD_OK)
            return -1;
        lines += image.dwReturnLines;
    } while (image.dwRemainLines != 0);
    (void)lineBytes;
    return lines;
}

uint32_t LineBytesOf(const ScanAttributeBlock &block)
{
    return uint32_t{block.wWidth} * 3;
}

/* The full glass of the 600 dpi flatbed: 8.5 x 11.666 inches, 5100 x 7000
 * pixels. Settings.Calibrate makes every scan calibrate, as the first scan
 * of a session does. */
void WholeScan(benchmark::State &state)
{
    if (!Attach(0, 0)) {
        state.SkipWithError("no scanner");
        return;
    }
    Settings.Calibrate = 1;
    std::vector<uint8_t> buffer;
    uint64_t bytes = 0, simNs = 0, totalNs = 0;
    uint32_t lineBytes = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        ResetAdapterClock();
        ScanAttributeBlock block = ColorScan(600, 8500, 11666);
        vScannerStartScan(&block);
        if ((block.dwResult & 0xFFFF) != SD_OK) {
            state.SkipWithError("the scan did not start");
            break;
        }
        lineBytes = LineBytesOf(block);
        if (buffer.size() < size_t{kRequestLines} * lineBytes)
            buffer = MakeBuffer(size_t{kRequestLines} * lineBytes);
        long lines = ReadImage(buffer, lineBytes);
        if (lines != block.wLength) {
            state.SkipWithError("the image did not arrive whole");
            break;
        }
        totalNs += static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                             std::chrono::steady_clock::now() - start)
                                             .count());
        simNs += AdapterNanoseconds();
        bytes = uint64_t{block.wLength} * lineBytes;
    }
    Settings.Calibrate = 0;
    ExpectNoDriverMemory(state);
    ReportDelivered(state, bytes, lineBytes);
    const double n = static_cast<double>(state.iterations());
    state.counters["scan_ms"] = totalNs / n / 1e6;
    state.counters["sim_ms"] = simNs / n / 1e6;
    state.counters["driver_ms"] = (totalNs - simNs) / n / 1e6;
    state.counters["driver_share_pct"] = totalNs ? 100.0 * (totalNs - simNs) / totalNs : 0;
}

/* A scan with image data arriving at memory speed: what is left is the
 * driver's own handling of the lines, beside memcpy. */
void MemorySpeedScan(benchmark::State &state, uint16_t dpi, uint32_t widthMils, uint32_t lengthMils)
{
    if (!Attach(0, 0)) {
        state.SkipWithError("no scanner");
        return;
    }
    std::vector<uint8_t> buffer, image;
    uint64_t bytes = 0;
    uint32_t lineBytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ServeImageFromMemory(nullptr, 0);
        ScanAttributeBlock block = ColorScan(dpi, widthMils, lengthMils);
        vScannerStartScan(&block);
        if ((block.dwResult & 0xFFFF) != SD_OK) {
            state.SkipWithError("the scan did not start");
            break;
        }
        lineBytes = LineBytesOf(block);
        if (buffer.size() < size_t{kRequestLines} * lineBytes) {
            buffer = MakeBuffer(size_t{kRequestLines} * lineBytes);
            image = MakeBuffer(size_t{kRequestLines} * lineBytes);
            FillRandom(image.data(), image.size(), 9);
        }
        ServeImageFromMemory(image.data(), image.size());
        state.ResumeTiming();
        long lines = ReadImage(buffer, lineBytes);
        if (lines != block.wLength) {
            state.SkipWithError("the image did not arrive whole");
            break;
        }
        bytes = uint64_t{block.wLength} * lineBytes;
    }
    ServeImageFromMemory(nullptr, 0);
    ExpectNoDriverMemory(state);
    ReportDelivered(state, bytes, lineBytes);
}

/* Peak driver memory of a colour scan 5100 pixels wide at 2000 dpi (lens 1
 * of the two-lens model, whose flatbed is long enough for 20,000 lines),
 * over the whole scan and over the image transfer alone. A small scan
 * through lens 0 calibrates first; the scanner then reports its tables
 * held, so the measured scans skip calibration and their peak is that of
 * the scan itself (window, gamma tables, transfer buffer, line buffers). */
void PeakMemory(benchmark::State &state)
{
    const uint32_t lines = static_cast<uint32_t>(state.range(0));
    if (!Attach(2, 0)) {
        state.SkipWithError("no scanner");
        return;
    }
    {
        std::vector<uint8_t> small = MakeBuffer(size_t{kRequestLines} * 3 * 600);
        ScanAttributeBlock block = ColorScan(600, 1000, 1000);
        vScannerStartScan(&block);
        if ((block.dwResult & 0xFFFF) != SD_OK || ReadImage(small, 0) != block.wLength) {
            state.SkipWithError("the calibrating scan failed");
            return;
        }
        LensBlock select = {};
        select.wLens = 1;
        vScannerMutiLens(&select);
        if ((select.dwResult & 0xFFFF) != SD_OK) {
            state.SkipWithError("no lens 1");
            return;
        }
    }
    std::vector<uint8_t> buffer;
    uint64_t peak = 0, transferPeak = 0, bytes = 0;
    uint32_t lineBytes = 0;
    for (auto _ : state) {
        ResetPeakAllocatedBytes();
        ScanAttributeBlock block = ColorScan(2000, 2550, lines / 2);
        vScannerStartScan(&block);
        if ((block.dwResult & 0xFFFF) != SD_OK || block.wLength != lines || block.wWidth != kFullWidth) {
            state.SkipWithError("the scan did not start as asked");
            break;
        }
        const uint64_t startPeak = PeakAllocatedBytes();
        ResetPeakAllocatedBytes();
        lineBytes = LineBytesOf(block);
        if (buffer.size() < size_t{kRequestLines} * lineBytes)
            buffer = MakeBuffer(size_t{kRequestLines} * lineBytes);
        if (ReadImage(buffer, lineBytes) != lines) {
            state.SkipWithError("the image did not arrive whole");
            break;
        }
        transferPeak = PeakAllocatedBytes();
        peak = startPeak > transferPeak ? startPeak : transferPeak;
        bytes = uint64_t{lines} * lineBytes;
    }
    ExpectNoDriverMemory(state);
    ReportDelivered(state, bytes, lineBytes);
    state.counters["peak_bytes"] = static_cast<double>(peak);
    state.counters["transfer_peak_bytes"] = static_cast<double>(transferPeak);
}

} // namespace

void QueueScanBenchmarks()
{
    RequireMemcpyBaseline(3 * kFullWidth);
    RequireMemcpyBaseline(3 * 4250); /* 8.5 inches at 500 dpi */
    Queue([] {
        benchmark::RegisterBenchmark("scan/whole_glass/600dpi_color8", WholeScan)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(2);
        benchmark::RegisterBenchmark("scan/direct_transfer/500dpi_color8_letter", MemorySpeedScan, 500, 8500, 11000)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("scan/buffered_memory_speed/600dpi_color8_glass", MemorySpeedScan, 600,
                                     8500, 11666)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("scan/peak_memory/5100px_color8", PeakMemory)
            ->Arg(1000)
            ->Arg(20000)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
    });
}
