// BenchOptions.h - options of the benchmark program that are not Google
// Benchmark's own (see BenchMain.cpp).
#pragma once

#include <cstdint>

// --threads N: the pool size of the land and frame benchmarks (default: the
// machine's cores).
int32_t BenchThreads();

// The peak resident memory (MiB) of this process after making a size-12
// land and flying `frames` frames of the heaviest flight (3000 wide on
// 1920 x 1080, 256 slots) on `threads` threads.
double HeaviestFlightPeakMiB(int32_t threads, int32_t frames);
