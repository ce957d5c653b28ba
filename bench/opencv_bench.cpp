/*
 * opencv_bench.cpp - the general-purpose scaler a user would otherwise reach
 * for: cv::resize with bilinear interpolation, on one thread, on exactly the
 * geometry of the uniform pipeline benchmarks (the same source lines, the
 * same output pixels and lines). Its arithmetic is not ours; only its speed
 * is compared.
 */
#include "bench_support.h"
#include "pipeline_bench.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <string>

namespace {

void Resize(benchmark::State &state, PipelineParams p)
{
    cv::setNumThreads(1);
    const int depth = p.BitsPerSample > 8 ? CV_16U : CV_8U;
    const int type = CV_MAKETYPE(depth, p.Color ? 3 : 1);
    cv::Mat source(static_cast<int>(p.SrcLines), static_cast<int>(p.SrcPixels), type);
    FillRandom(source.data, source.total() * source.elemSize(), 1);
    cv::Mat output(static_cast<int>(p.DstLines), static_cast<int>(p.DstPixels), type);
    const cv::Size size(static_cast<int>(p.DstPixels), static_cast<int>(p.DstLines));
    for (auto _ : state) {
        cv::resize(source, output, size, 0, 0, cv::INTER_LINEAR);
        benchmark::DoNotOptimize(output.data);
        benchmark::ClobberMemory();
    }
    ReportDelivered(state, uint64_t{p.DstLines} * p.DstLineBytes, p.DstLineBytes);
}

} // namespace

void QueueOpenCvBenchmarks()
{
    for (const BenchRatio &ratio : kBenchRatios)
        for (const BenchLayout &layout : kBenchLayouts) {
            PipelineParams p = BenchParams(layout, ratio, true);
            RequireMemcpyBaseline(p.DstLineBytes);
            std::string name = std::string("opencv/resize_linear/") + layout.Name + "/" + ratio.Name;
            Queue([name, p] { benchmark::RegisterBenchmark(name.c_str(), Resize, p); });
        }
}
