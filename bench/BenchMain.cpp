// BenchMain.cpp - the benchmark program's entry: Google Benchmark's own
// options plus --threads N (pool size of the land and frame benchmarks,
// default the machine's cores).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench/BenchOptions.h"
#include "land/ThreadPool.h"

namespace {

int32_t threads = 0;

}  // namespace

int32_t BenchThreads() {
    return threads < 1 ? ThreadPool::MachineThreads() : threads;
}

int main(int argc, char** argv) {
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        const char* value = nullptr;
        if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc) {
            value = argv[++i];
        } else if (std::strncmp(argv[i], "--threads=", 10) == 0) {
            value = argv[i] + 10;
        } else {
            rest.push_back(argv[i]);
            continue;
        }
        char* end = nullptr;
        const long n = std::strtol(value, &end, 10);
        if (*value == '\0' || *end != '\0' || n < 1 || n > ThreadPool::kMaxThreads) {
            std::fprintf(stderr, "--threads: '%s' is not a thread count (1 to %d)\n", value,
                         ThreadPool::kMaxThreads);
            return 2;
        }
        threads = static_cast<int32_t>(n);
    }
    int count = static_cast<int>(rest.size());
    benchmark::Initialize(&count, rest.data());
    if (benchmark::ReportUnrecognizedArguments(count, rest.data())) return 2;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
