// Land generation benchmarks: the whole land pipeline at land sizes 8, 10
// and 12 on --threads threads (a landscape after the first, whose generator
// has kept its scratch block, and at 12 also a flight's first landscape, on
// a fresh generator), the plain pipeline of the tests (the literal
// passes, one thread) at 10 and 12, each pass on its own at size 10, and
// the peak resident memory of a size-12 pipeline (reported as the counter
// peak_rss_MiB).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdint>
#include <vector>

#include "render/ScratchPages.h"
#include "render/ScratchPages.h"
#include "base/ThreadPool.h"
#include "bench/BenchOptions.h"
#include "land/LandGenerator.h"
#include "land/LandPipeline.h"
#include "tests/land/ReferenceLand.h"

namespace {

struct BenchLand {
    explicit BenchLand(int32_t side)
        : pool(BenchThreads()),
          heights(static_cast<size_t>(side) * side),
          colours(static_cast<size_t>(side) * side),
          land(side, side, heights.data(), colours.data(), 0, 255, nullptr) {
        land.threadPool = &pool;
        land.scratchHooks = SystemScratchHooks();
    }
    ThreadPool pool;
    std::vector<int32_t> heights;
    std::vector<uint32_t> colours;
    LandGenerator land;
};

double PeakRssMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
}

void BM_LandPipeline(benchmark::State& state) {
    const int32_t side = 1 << state.range(0);
    BenchLand b(side);
    // The flight's first landscape, outside the timing.
    RunLandPipeline(b.land, 1699999999u, nullptr);
    for (auto _ : state) {
        benchmark::DoNotOptimize(RunLandPipeline(b.land, 1700000000u, nullptr));
        benchmark::ClobberMemory();
    }
    state.counters["peak_rss_MiB"] = PeakRssMiB();
    state.counters["threads"] = b.pool.size();
}

// A fresh generator each time, as for the first landscape of a flight: its
// scratch block is new memory, mapped page by page as the passes touch it.
void BM_LandPipelineFirst(benchmark::State& state) {
    const int32_t side = 1 << state.range(0);
    BenchLand b(side);
    for (auto _ : state) {
        LandGenerator land(side, side, b.heights.data(), b.colours.data(), 0, 255, nullptr);
        land.threadPool = &b.pool;
        land.scratchHooks = SystemScratchHooks();
        benchmark::DoNotOptimize(RunLandPipeline(land, 1700000000u, nullptr));
        benchmark::ClobberMemory();
    }
    state.counters["threads"] = b.pool.size();
}

void BM_LandPipelinePlain(benchmark::State& state) {
    const int32_t side = 1 << state.range(0);
    for (auto _ : state) {
        const reference::Maps maps = reference::Pipeline(side, 1700000000u);
        benchmark::DoNotOptimize(maps.heights.data());
        benchmark::ClobberMemory();
    }
}
// Size 12 runs first, so that the process's peak memory is its own and not
// raised by what the smaller runs left in the heap; the later runs report the
// same peak.
BENCHMARK(BM_LandPipeline)->Arg(12)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_LandPipeline)->Arg(8)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LandPipelineFirst)->Arg(12)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_LandPipelineFirst)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LandPipelinePlain)->Arg(10)->Unit(benchmark::kMillisecond)->Iterations(2);
// About a minute a run: once, even when repetitions are asked for.
BENCHMARK(BM_LandPipelinePlain)
    ->Arg(12)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(1);

// One pass at land size 10 (and the costliest at 12), on the maps the pipeline has made up to that
// pass; the maps are restored outside the timing before each run.
enum Pass {
    kFill,
    kSynthesis,
    kScale,
    kColour,
    kBlurColours,
    kCarve,
    kRebase,
    kScaleBack,
    kFlood,
    kShade,
    kShadows,
};

void PrepareUpTo(LandGenerator& land, Pass pass) {
    const int32_t side = land.width;
    land.FillMap(land.heightMap, 0);
    land.SetSeed(1700000000u);
    if (pass <= kSynthesis) return;
    land.GenerateHeights();
    if (pass <= kScale) return;
    land.ScaleHeights(side * 2);
    if (pass <= kColour) return;
    land.ColourByHeight(256);
    if (pass <= kBlurColours) return;
    land.BlurColours(3, false);
    if (pass <= kCarve) return;
    land.CarveFlowChannels(-(side / 4), -100, 16, 4, 3);
    if (pass <= kRebase) return;
    land.RebaseHeights(0);
    if (pass <= kScaleBack) return;
    land.ScaleHeights(side >> 1);
    if (pass <= kFlood) return;
    land.FloodToLevel(25);
    if (pass <= kShade) return;
    land.ShadeSlopes(20, 'r', 1, 0);
}

void RunPass(LandGenerator& land, Pass pass) {
    const int32_t side = land.width;
    switch (pass) {
        case kFill:
            land.FillMap(land.heightMap, 0);
            break;
        case kSynthesis:
            land.GenerateHeights();
            break;
        case kScale:
            land.ScaleHeights(side * 2);
            break;
        case kColour:
            land.ColourByHeight(256);
            break;
        case kBlurColours:
            land.BlurColours(3, false);
            break;
        case kCarve:
            land.CarveFlowChannels(-(side / 4), -100, 16, 4, 3);
            break;
        case kRebase:
            land.RebaseHeights(0);
            break;
        case kScaleBack:
            land.ScaleHeights(side >> 1);
            break;
        case kFlood:
            land.FloodToLevel(25);
            break;
        case kShade:
            land.ShadeSlopes(20, 'r', 1, 0);
            break;
        case kShadows:
            land.CastShadows(-35, 5, 'r', 1024, 1, 0);
            break;
    }
}

const char* const kPassNames[] = {
    "FillMap",      "GenerateHeights",   "ScaleHeights(2S)", "ColourByHeight",
    "BlurColours",  "CarveFlowChannels", "RebaseHeights",    "ScaleHeights(S/2)",
    "FloodToLevel", "ShadeSlopes",       "CastShadows",
};

void BM_LandPass(benchmark::State& state) {
    const auto pass = static_cast<Pass>(state.range(0));
    state.SetLabel(kPassNames[pass]);
    BenchLand b(1 << state.range(1));
    PrepareUpTo(b.land, pass);
    const std::vector<int32_t> heights = b.heights;
    const std::vector<uint32_t> colours = b.colours;
    for (auto _ : state) {
        state.PauseTiming();
        b.heights = heights;
        b.colours = colours;
        state.ResumeTiming();
        RunPass(b.land, pass);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_LandPass)
    ->ArgNames({"pass", "size"})
    ->ArgsProduct({benchmark::CreateDenseRange(kFill, kShadows, 1), {10}})
    ->Unit(benchmark::kMillisecond);
// The costliest passes at land size 12, where the maps outgrow the caches.
BENCHMARK(BM_LandPass)
    ->ArgNames({"pass", "size"})
    ->ArgsProduct({{kSynthesis, kBlurColours, kCarve, kShadows}, {12}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

}  // namespace
