/*
 * pipeline_bench.cpp - every horizontal routine in both methods and the
 * same-size copy, driven through ProcessChunk as a scan drives it: a
 * LinePipeline set up by InitLinePipeline, fed chunks of raw lines, the
 * output counted as delivered bytes. The pipeline/ rows run the routines the
 * set-up picks (vector ones where the processor has them); pipeline_plain/
 * rows run the uniform method with the plain routines only.
 */
#include "pipeline_bench.h"

#include "bench_support.h"
#include "platform/vector_support.h"

#include <string>

PipelineParams BenchParams(const BenchLayout &layout, const BenchRatio &ratio, bool uniform)
{
    PipelineParams p = {};
    p.UniformResample = uniform ? 1 : 0;
    p.Color = layout.Color;
    p.BitsPerSample = layout.Bits;
    p.SrcPixels = kFullWidth;
    p.SrcLines = kScanSourceLines;
    p.SrcLineBytes = kFullWidth * layout.PixelBytes;
    p.DstPixels = kFullWidth * ratio.Num / ratio.Den;
    p.DstLines = kScanSourceLines * ratio.Num / ratio.Den;
    p.DstLineBytes = p.DstPixels * layout.PixelBytes;
    return p;
}

uint32_t RunPipelineScan(const PipelineParams &p, const uint8_t *sourceRing, uint8_t *outputRing)
{
    if (!InitLinePipeline(p))
        return 0;
    uint32_t sourceDone = 0, outputDone = 0;
    while (outputDone < p.DstLines) {
        const uint32_t at = sourceDone % kChunkLines;
        uint32_t offered = kChunkLines - at;
        if (offered > p.SrcLines - sourceDone)
            offered = p.SrcLines - sourceDone;
        if (p.Color && offered > 1)
            offered = 1;
        const uint32_t slot = outputDone % kWindowLines;
        const ChunkDesc dst = {outputRing + size_t{slot} * p.DstLineBytes, kWindowLines - slot};
        const ChunkDesc src = {const_cast<uint8_t *>(sourceRing) + size_t{at} * p.SrcLineBytes, offered};
        uint32_t consumed = 0, produced = 0;
        ProcessChunk(dst, src, consumed, produced);
        if (consumed == 0 && produced == 0)
            break;
        sourceDone += consumed;
        outputDone += produced;
    }
    ReleaseLineBuffers();
    return outputDone;
}

namespace {

void PipelineScan(benchmark::State &state, PipelineParams params, bool plainOnly)
{
    /* Every iteration sets the pipeline up afresh, so the switch holds for
     * all of them. */
    UsePlainRoutinesOnly(plainOnly);
    std::vector<uint8_t> source = MakeBuffer(size_t{kChunkLines} * params.SrcLineBytes);
    std::vector<uint8_t> output = MakeBuffer(size_t{kWindowLines} * params.DstLineBytes);
    FillRandom(source.data(), source.size(), 1);
    uint32_t lines = 0;
    for (auto _ : state) {
        lines = RunPipelineScan(params, source.data(), output.data());
        benchmark::DoNotOptimize(output.data());
        benchmark::ClobberMemory();
    }
    UsePlainRoutinesOnly(false);
    if (lines != params.DstLines)
        state.SkipWithError("the pipeline did not deliver every line");
    ExpectNoDriverMemory(state);
    ReportDelivered(state, uint64_t{params.DstLines} * params.DstLineBytes, params.DstLineBytes);
}

std::string RoutineName(const BenchLayout &layout, const BenchRatio &ratio, bool uniform)
{
    const bool widen = ratio.Num > ratio.Den;
    const char *family = uniform ? (widen ? "WidenUniform" : "NarrowUniform") : (widen ? "WidenInsert" : "NarrowDrop");
    return std::string(family) + layout.Name;
}

} // namespace

void QueuePipelineBenchmarks()
{
    for (const BenchLayout &layout : kBenchLayouts) {
        PipelineParams same = BenchParams(layout, {"x1", 1, 1}, true);
        RequireMemcpyBaseline(same.DstLineBytes);
        Queue([same, layout] {
            benchmark::RegisterBenchmark((std::string("pipeline/SameSizeCopy") + layout.Name).c_str(),
                                         PipelineScan, same, false);
        });
    }
    for (int uniform = 1; uniform >= 0; --uniform)
        for (const BenchRatio &ratio : kBenchRatios)
            for (const BenchLayout &layout : kBenchLayouts) {
                PipelineParams p = BenchParams(layout, ratio, uniform != 0);
                RequireMemcpyBaseline(p.DstLineBytes);
                const std::string routine = RoutineName(layout, ratio, uniform != 0) + "/" + ratio.Name;
                Queue([routine, p] {
                    benchmark::RegisterBenchmark(("pipeline/" + routine).c_str(), PipelineScan, p, false);
                });
                /* The uniform routines have vector variants: the plain ones
                 * are measured beside them. */
                if (uniform)
                    Queue([routine, p] {
                        benchmark::RegisterBenchmark(("pipeline_plain/" + routine).c_str(), PipelineScan, p, true);
                    });
            }
}
