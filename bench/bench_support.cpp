/*
 * bench_support.cpp - line contents, buffers, the delivered-bytes counters
 * and the memcpy baselines. A baseline copies lines from a ring of
 * kChunkLines source lines into a ring of kWindowLines output lines, one
 * memcpy per line, the way the pipeline's own copies move them; another pair
 * copies 64 MiB, far beyond the caches.
 */
#include "bench_support.h"

#include "platform/platform.h"

#include <cstring>
#include <set>
#include <string>

namespace {

uint32_t Next(uint32_t &state)
{
    /* xorshift32: cheap, deterministic, no zero state. */
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

void MemcpyLines(benchmark::State &state)
{
    const uint32_t lineBytes = static_cast<uint32_t>(state.range(0));
    std::vector<uint8_t> src = MakeBuffer(size_t{kChunkLines} * lineBytes);
    std::vector<uint8_t> dst = MakeBuffer(size_t{kWindowLines} * lineBytes);
    FillRandom(src.data(), src.size(), 7);
    constexpr uint32_t kLines = 96;
    for (auto _ : state) {
        for (uint32_t j = 0; j < kLines; ++j)
            std::memcpy(dst.data() + size_t{j % kWindowLines} * lineBytes,
                        src.data() + size_t{j % kChunkLines} * lineBytes, lineBytes);
        benchmark::ClobberMemory();
    }
    ReportDelivered(state, uint64_t{kLines} * lineBytes, lineBytes);
}

void MemcpyOutOfCache(benchmark::State &state)
{
    const size_t bytes = size_t{64} << 20;
    std::vector<uint8_t> src = MakeBuffer(bytes);
    std::vector<uint8_t> dst = MakeBuffer(bytes);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

std::set<uint32_t> &Baselines()
{
    static std::set<uint32_t> sizes;
    return sizes;
}

} // namespace

void FillRandom(uint8_t *bytes, size_t count, uint32_t seed)
{
    uint32_t state = seed * 2654435761u + 1;
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(Next(state) >> 24);
}

void FillRandomSamples(uint16_t *samples, size_t count, uint32_t max, uint32_t seed)
{
    uint32_t state = seed * 2654435761u + 1;
    for (size_t i = 0; i < count; ++i)
        samples[i] = static_cast<uint16_t>(Next(state) % (max + 1));
}

std::vector<uint8_t> MakeBuffer(size_t bytes)
{
    std::vector<uint8_t> buffer(bytes ? bytes : 1, 0);
    benchmark::DoNotOptimize(buffer.data());
    return buffer;
}

void ReportDelivered(benchmark::State &state, uint64_t bytesPerIteration, uint32_t lineBytes)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytesPerIteration));
    state.counters["line_bytes"] = lineBytes;
}

void RequireMemcpyBaseline(uint32_t lineBytes)
{
    Baselines().insert(lineBytes);
}

static std::vector<std::function<void()>> &Queued()
{
    static std::vector<std::function<void()>> queued;
    return queued;
}

void Queue(std::function<void()> registration)
{
    Queued().push_back(std::move(registration));
}

void RegisterQueued()
{
    for (uint32_t lineBytes : Baselines())
        benchmark::RegisterBenchmark(("memcpy/lines/" + std::to_string(lineBytes)).c_str(), MemcpyLines)
            ->Arg(lineBytes);
    benchmark::RegisterBenchmark("memcpy/out_of_cache/64MiB", MemcpyOutOfCache)->Unit(benchmark::kMillisecond);
    for (auto &registration : Queued())
        registration();
    Queued().clear();
}

void ExpectNoDriverMemory(benchmark::State &state)
{
    if (LiveAllocations() != 0)
        state.SkipWithError("the driver left memory allocated");
}
