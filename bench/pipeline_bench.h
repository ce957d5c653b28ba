/*
 * pipeline_bench.h - the geometry of the pipeline benchmarks, shared with the
 * cv::resize comparison so that both scale the same lines the same way.
 */
#ifndef SCANDRV_PIPELINE_BENCH_H
#define SCANDRV_PIPELINE_BENCH_H

#include "pipeline/line_pipeline.h"

#include <cstdint>

struct BenchLayout {
    const char *Name;  /* as in the routine names: Rgb16, Rgb8, Gray16, Gray8 */
    uint16_t Color;
    uint16_t Bits;
    uint32_t PixelBytes;
};

struct BenchRatio {
    const char *Name; /* x1.5, x4, x0.5, x0.33 */
    uint32_t Num, Den;
};

inline constexpr BenchLayout kBenchLayouts[] = {
    {"Gray8", 0, 8, 1}, {"Gray16", 0, 16, 2}, {"Rgb8", 1, 8, 3}, {"Rgb16", 1, 16, 6}};
inline constexpr BenchRatio kBenchRatios[] = {{"x1.5", 3, 2}, {"x4", 4, 1}, {"x0.5", 1, 2}, {"x0.33", 33, 100}};

/* Source lines of one benchmarked scan. */
constexpr uint32_t kScanSourceLines = 96;

/* A scan of kScanSourceLines full-width lines scaled by the ratio in both
 * directions, by the method given. */
PipelineParams BenchParams(const BenchLayout &layout, const BenchRatio &ratio, bool uniform);

/* Runs one whole scan through InitLinePipeline and ProcessChunk, feeding
 * source lines from a ring of kChunkLines lines and delivering into a ring of
 * kWindowLines lines, as image reading does (colour one line per call).
 * Returns the output lines made; 0 when the pipeline stalled. */
uint32_t RunPipelineScan(const PipelineParams &params, const uint8_t *sourceRing, uint8_t *outputRing);

#endif
