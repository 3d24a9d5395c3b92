// BenchOptions.h - options of the benchmark program that are not Google
// Benchmark's own (see BenchMain.cpp).
#pragma once

#include <cstdint>

// --threads N: the pool size of the land and frame benchmarks (default: the
// machine's cores).
int32_t BenchThreads();
