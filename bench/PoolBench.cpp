// The thread pool's hand-over: one Run of a task that does nothing but
// note its worker, on --threads threads. Every land pass and every frame
// pays it at least once; a land-10 pipeline some 130 times.
#include <benchmark/benchmark.h>

#include <time.h>

#include <atomic>
#include <cstdint>

#include "base/ThreadPool.h"
#include "bench/BenchOptions.h"

namespace {

void BM_PoolHandOver(benchmark::State& state) {
    ThreadPool pool(BenchThreads());
    std::atomic<int64_t> calls{0};
    auto task = [&calls](int32_t) { calls.fetch_add(1, std::memory_order_relaxed); };
    for (auto _ : state) pool.Run(task);
    state.counters["threads"] = pool.size();
    benchmark::DoNotOptimize(calls.load());
}
BENCHMARK(BM_PoolHandOver)->Unit(benchmark::kMicrosecond);

// Hand-overs at a frame's cadence (one Run every 40 ms, the pool idle in
// between): the processor time of the whole process per Run, the threads'
// watching and waking included.
void BM_PoolSparseHandOver(benchmark::State& state) {
    ThreadPool pool(BenchThreads());
    std::atomic<int64_t> calls{0};
    auto task = [&calls](int32_t) { calls.fetch_add(1, std::memory_order_relaxed); };
    for (auto _ : state) {
        state.PauseTiming();
        timespec gap{0, 40000000};
        while (nanosleep(&gap, &gap) != 0) {
        }
        state.ResumeTiming();
        pool.Run(task);
    }
    state.counters["threads"] = pool.size();
    benchmark::DoNotOptimize(calls.load());
}
BENCHMARK(BM_PoolSparseHandOver)
    ->Iterations(100)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
