/*
 * bench_support.h - what the benchmarks share: the line geometry of a
 * full-width 600 dpi line, deterministic line contents, buffers that are
 * zeroed and touched before timing, and the counters bench/run reads to set
 * every figure beside memcpy on lines of the same size.
 */
#ifndef SCANDRV_BENCH_SUPPORT_H
#define SCANDRV_BENCH_SUPPORT_H

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

/* 8.5 inches at 600 dpi. */
constexpr uint32_t kFullWidth = 5100;

/* Lines per chunk and per delivery window: what one READ of the transfer
 * buffer holds for a caller that asks for 32 lines a call. */
constexpr uint32_t kChunkLines = 32;
constexpr uint32_t kWindowLines = 16;

/* Fills bytes with a deterministic pseudo-random sequence (per seed). */
void FillRandom(uint8_t *bytes, size_t count, uint32_t seed);
/* 16-bit samples of at most max, pseudo-random, host order. */
void FillRandomSamples(uint16_t *samples, size_t count, uint32_t max, uint32_t seed);

/* A zeroed, touched buffer: page faults do not land in the timed loop. */
std::vector<uint8_t> MakeBuffer(size_t bytes);

/* Bytes of delivered data per iteration, and the line size the figure is
 * to be compared with memcpy on (bench/run reads the "line_bytes" counter). */
void ReportDelivered(benchmark::State &state, uint64_t bytesPerIteration, uint32_t lineBytes);

/* Asks for a memcpy baseline on lines of this size (one per size). */
void RequireMemcpyBaseline(uint32_t lineBytes);

/* Benchmarks are registered in two steps so that the memcpy baselines run
 * first: each file queues its registrations (and asks for baselines), then
 * RegisterQueued registers the baselines and everything queued, in order. */
void Queue(std::function<void()> registration);
void RegisterQueued();

/* The files' registration functions, called by main in this order. */
void QueuePipelineBenchmarks();
void QueueImageBenchmarks();
void QueueSetupBenchmarks();
void QueueScanBenchmarks();
void QueueOpenCvBenchmarks();

/* The driver's allocation gate counts the bytes of every block; benchmarks
 * that set up driver state end with nothing of theirs left live. */
void ExpectNoDriverMemory(benchmark::State &state);

#endif
