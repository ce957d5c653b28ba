/*
 * setup_bench.cpp - the computations of the scan start: the shading
 * calibration of a full-width colour calibration (two passes of 64 lines,
 * every pixel of three channels) and the three gamma tables (fill and gain
 * stretch, without the SEND).
 */
#include "bench_support.h"

#include "entry/settings.h"
#include "platform/platform.h"
#include "scan/calibration.h"
#include "scan/gamma.h"
#include "scan/scan_state.h"

#include <cstring>

namespace {

constexpr uint32_t kPassLines = 64;

/* Pass samples as a sensor gives them: per site a level with some spread,
 * a few dust specks far below it in the white pass. */
void FillPass(uint8_t *lines, uint32_t lineSamples, uint32_t level, uint32_t spread, bool specks, uint32_t seed)
{
    std::vector<uint16_t> noise(size_t{kPassLines} * lineSamples);
    FillRandomSamples(noise.data(), noise.size(), spread, seed);
    for (uint32_t i = 0; i < kPassLines; ++i)
        for (uint32_t s = 0; s < lineSamples; ++s) {
            uint32_t site = level + (s * 37 % 1500);
            uint32_t v = site + noise[size_t{i} * lineSamples + s];
            if (specks && (s * 131 + i * 17) % 997 == 0)
                v /= 3;
            uint8_t *at = lines + (size_t{i} * lineSamples + s) * 2;
            at[0] = static_cast<uint8_t>(v);
            at[1] = static_cast<uint8_t>(v >> 8);
        }
}

void ShadingCompute(benchmark::State &state)
{
    CalibrationStateRecord &cal = CalibrationState;
    Settings.bfApplyInGamma = 0;
    cal.WhiteLines = cal.DarkLines = kPassLines;
    cal.CalibrateColor = 1;
    cal.CalLinePixels = kFullWidth;
    cal.CalLineBytes = kFullWidth * 3 * 2;
    cal.ChannelFactor[0] = 256;
    cal.ChannelFactor[1] = 248;
    cal.ChannelFactor[2] = 268;
    const uint32_t bufferBytes = (kPassLines + 1) * cal.CalLineBytes;
    cal.WhiteBuffer = static_cast<uint8_t *>(AllocatePages(bufferBytes));
    cal.DarkBuffer = static_cast<uint8_t *>(AllocatePages(bufferBytes));
    FillPass(cal.WhiteBuffer + cal.CalLineBytes, 3 * kFullWidth, 40000, 128, true, 11);
    FillPass(cal.DarkBuffer + cal.CalLineBytes, 3 * kFullWidth, 1800, 128, false, 12);
    for (auto _ : state) {
        if (!ComputeShadingData())
            state.SkipWithError("no scratch area");
        benchmark::ClobberMemory();
    }
    FreePages(cal.WhiteBuffer);
    FreePages(cal.DarkBuffer);
    cal.WhiteBuffer = cal.DarkBuffer = nullptr;
    ExpectNoDriverMemory(state);
    /* The data the computation goes through: both passes. */
    ReportDelivered(state, uint64_t{2} * kPassLines * cal.CalLineBytes, cal.CalLineBytes);
}

void GammaTables(benchmark::State &state, bool callerTable)
{
    ScanStateRecord &scan = ScanState;
    scan.IsColor = 1;
    scan.BitsPerPixel = 8;
    scan.TableLength = 65536;
    scan.SoftwareBinarize = 0;
    scan.SourceBit2 = 0;
    Settings.Image = 0;
    Settings.bfApplyInGamma = 0;
    static uint8_t caller[3 * 256];
    for (uint32_t c = 0; c < 3; ++c)
        for (uint32_t k = 0; k < 256; ++k)
            caller[c * 256 + k] = static_cast<uint8_t>(255 - (255 - k) * (255 - k) / 255);
    ScanAttributeBlock block = {};
    block.wFlags = callerTable ? SD_FLAG_GAMMA : 0;
    block.lpGammaTable = callerTable ? caller : nullptr;
    block.wGammaScale = 0; /* 256 one-byte entries */
    block.lAdjust[0] = 20; /* red brighter still: the percent step too */
    const uint32_t bytes = GammaDownloadBytes();
    uint8_t *buffer = static_cast<uint8_t *>(AllocatePages(bytes));
    for (auto _ : state) {
        if (BuildGammaTables(&block, buffer) != SD_OK)
            state.SkipWithError("no copy for the stretch");
        benchmark::ClobberMemory();
    }
    FreePages(buffer);
    ExpectNoDriverMemory(state);
    ReportDelivered(state, bytes, 2 * 65536);
}

} // namespace

void QueueSetupBenchmarks()
{
    RequireMemcpyBaseline(6 * kFullWidth);
    RequireMemcpyBaseline(2 * 65536);
    Queue([] {
        benchmark::RegisterBenchmark("setup/ComputeShadingData/color_5100", ShadingCompute)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("setup/BuildGammaTables/identity", GammaTables, false)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("setup/BuildGammaTables/caller_256", GammaTables, true)
            ->Unit(benchmark::kMillisecond);
    });
}
