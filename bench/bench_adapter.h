/*
 * bench_adapter.h - the adapter the benchmarks link in place of the adapter
 * library: every command goes to one virtual scanner device (the sim's
 * device model), and the time spent inside it is summed, so that a whole
 * scan's time splits into the virtual scanner's and the driver's.
 *
 * For the copy benchmarks it can also answer image READs at memory speed
 * (one memcpy from a prepared image), standing in for a bus that moves data
 * by DMA; everything else still goes to the virtual scanner.
 */
#ifndef SCANDRV_BENCH_ADAPTER_H
#define SCANDRV_BENCH_ADAPTER_H

#include <cstddef>
#include <cstdint>

/* Applies a configuration key to the virtual scanner (as SimConfigure). */
int BenchSimConfigure(const char *key, const char *value);

/* Nanoseconds spent inside the virtual scanner since the last reset. */
uint64_t AdapterNanoseconds();
void ResetAdapterClock();

/* Image READs are served from `image` (bytes long, repeated as needed) by
 * memcpy while set; null gives them back to the virtual scanner. */
void ServeImageFromMemory(const uint8_t *image, size_t bytes);

#endif
