/*
 * bench_main.cpp - scandrv_bench's entry: registers the memcpy baselines
 * first, then every benchmark file's benchmarks, and runs what the command
 * line selects (Google Benchmark's own options).
 */
#include "bench_support.h"

int main(int argc, char **argv)
{
    QueuePipelineBenchmarks();
    QueueImageBenchmarks();
    QueueSetupBenchmarks();
    QueueScanBenchmarks();
    QueueOpenCvBenchmarks();
    RegisterQueued();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

#ifndef SCANDRV_BENCH_OPENCV
/* Built without OpenCV: no comparison rows. */
void QueueOpenCvBenchmarks()
{
}
#endif
