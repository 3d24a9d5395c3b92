// Frame rendering cost: FlightView::Render (object motion included) along a
// banking flight, at the saver's default settings (Output Width 512 on a
// 1024 x 768 client: a 512 x 384 frame, Land Size 10, 7 object slots) and at
// the heaviest valid ones (Output Width 3000 on 1920 x 1080: 3000 x 1687,
// Land Size 12, 256 object slots). The plain reference renderer runs the
// same flights for comparison. BM_RenderHeaviestWriteOut flies the heaviest
// flight with rays that end after their first sample, so that nearly all of
// its time is the sky pass and the write-out of the columns into the frame.
//
// The land is made by the saver's new-land pipeline (fixed seed). The camera
// is flown as the frame loop flies it: the autopilot's commands
// become the heading rate, the climb rate, the bank angle (sum of the last
// two turn commands) and the horizon row, then Move, then Render. One
// benchmark iteration is one frame of that flight.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <time.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "render/ScratchPages.h"
#include "base/ThreadPool.h"
#include "bench/BenchOptions.h"
#include "land/LandGenerator.h"
#include "land/LandPipeline.h"
#include "bench/FrameSteering.h"
#include "tests/view/RenderReference.h"
#include "tests/view/RenderTestSupport.h"
#include "view/FlightView.h"

namespace {

struct Flight {
    Flight(int32_t clientWidth, int32_t clientHeight, int32_t outputWidth, int32_t landSize,
           int32_t objectCount, int32_t tilt, int32_t threads)
        : pool(threads),
          world(outputWidth,
                static_cast<int32_t>(static_cast<double>(outputWidth) / clientWidth * clientHeight),
                1 << landSize),
          steering(tilt, outputWidth) {
        // Kept, as the saver keeps its generator (and the generator its
        // scratch block) while it flies.
        land = std::make_unique<LandGenerator>(world.mapSide, world.mapSide, world.heights.data(),
                                               world.colours.data(), 0, 255, nullptr);
        land->threadPool = &pool;
        land->scratchHooks = SystemScratchHooks();
        landSteps = RunLandPipeline(*land, kLandSeed, nullptr);
        view = world.MakeView(objectCount + 1, 4242u);
        view->threadPool = &pool;
        view->speed = 25;
        view->randomState = kLandSeed;
        view->waterLevel = kLandWaterLevel;
        // As the new-land pipeline leaves the view.
        view->UpdateSampleMap();
    }

    // The frame loop's steering for one frame, up to Move.
    void Steer() { steering.Step(*view); }

    static constexpr uint32_t kLandSeed = 20261207u;
    ThreadPool pool;
    ViewWorld world;
    std::unique_ptr<LandGenerator> land;
    std::unique_ptr<FlightView> view;
    int32_t landSteps = 0;
    FrameSteering steering;
};

template <bool kReference, bool kShortRays = false>
void RenderFlight(benchmark::State& state, int32_t clientWidth, int32_t clientHeight,
                  int32_t outputWidth, int32_t landSize, int32_t objectCount,
                  int32_t threads = BenchThreads()) {
    Flight flight(clientWidth, clientHeight, outputWidth, landSize, objectCount, 0, threads);
    state.counters["threads"] = kReference ? 1 : flight.pool.size();
    if (!flight.view->CanRender() || flight.landSteps != 13) {
        state.SkipWithError("the view cannot render or the land is incomplete");
        return;
    }
    // Into the flight, so that the autopilot has started turning.
    for (int32_t i = 0; i < 100; ++i) {
        flight.Steer();
        flight.view->Render();
    }
    int64_t banked = 0;
    for (auto _ : state) {
        flight.Steer();
        // Every ray's first sample reaches this depth.
        if (kShortRays) flight.view->maxRayDepth = 1;
        if (kReference) {
            RenderReference(*flight.view);
        } else {
            flight.view->Render();
        }
        if (flight.view->bankAngle != 0) ++banked;
        benchmark::DoNotOptimize(flight.world.frame.data());
        benchmark::ClobberMemory();
    }
    state.counters["banked_frames"] = static_cast<double>(banked);
}

// In-between frames (smooth motion): each iteration is one tick of the
// frame loop flown ahead (KeepPose, steering, Move, MoveObjects) and one
// frame between the kept pose and the present (RenderBetween), so that it
// compares with the tick frames above, which steer and move too. (Pausing
// the timing around the tick instead let the pool's workers fall asleep
// between frames: every frame then paid for waking them.)
void BetweenFlight(benchmark::State& state, int32_t clientWidth, int32_t clientHeight,
                   int32_t outputWidth, int32_t landSize, int32_t objectCount) {
    Flight flight(clientWidth, clientHeight, outputWidth, landSize, objectCount, 0,
                  BenchThreads());
    state.counters["threads"] = flight.pool.size();
    if (!flight.view->CanRender() || flight.landSteps != 13) {
        state.SkipWithError("the view cannot render or the land is incomplete");
        return;
    }
    for (int32_t i = 0; i < 100; ++i) {
        flight.Steer();
        flight.view->Render();
    }
    int32_t fraction = 0;
    for (auto _ : state) {
        if (!flight.view->KeepPose()) {
            state.SkipWithError("no kept pose");
            return;
        }
        flight.Steer();
        flight.view->MoveObjects();
        // Fractions all over the tick, the same in every run.
        fraction = (fraction + 40503) & 0xFFFF;
        flight.view->RenderBetween(fraction);
        benchmark::DoNotOptimize(flight.world.frame.data());
        benchmark::ClobberMemory();
    }
}

void BM_RenderDefault(benchmark::State& state) {
    RenderFlight<false>(state, 1024, 768, 512, 10, 6);
}
// One thread: the single-threaded march, for its CPU time per frame.
void BM_RenderDefaultOneThread(benchmark::State& state) {
    RenderFlight<false>(state, 1024, 768, 512, 10, 6, 1);
}
// The saver's cadence: one frame every 40 ms (the pool idles in between, as
// in a flight), timed by the CPU time of the whole process (every thread,
// spinning and waking included) per frame: what a frame costs the battery.
// Arguments: the pool's size, and 0 to march over the heights and the cell
// map instead of the sample map (the pause leaves much of the maps out of
// the cache, and the sample map is a third of their bytes).
// BM_RenderDefaultPacedLongRows draws into a frame with the saver's longer
// rows (FlightView::DrawingStride: 528 pixels) instead of through the
// padded copy, as the savers that take such frames do.
template <bool kLongRows>
void PacedFlight(benchmark::State& state) {
    const auto threads = static_cast<int32_t>(state.range(0));
    Flight flight(1024, 768, 512, 10, 6, 0, threads);
    if (state.range(1) == 0) flight.view->DropSampleMap();
    std::vector<uint32_t> longRows;
    if (kLongRows) {
        const int32_t stride = FlightView::DrawingStride(flight.view->frameWidth);
        longRows.assign(static_cast<size_t>(stride) * flight.view->frameHeight, 0);
        flight.view->SetFrame(longRows.data(), flight.view->frameWidth, flight.view->frameHeight,
                              stride);
    }
    state.counters["threads"] = flight.pool.size();
    if (!flight.view->CanRender() || flight.landSteps != 13) {
        state.SkipWithError("the view cannot render or the land is incomplete");
        return;
    }
    for (int32_t i = 0; i < 100; ++i) {
        flight.Steer();
        flight.view->Render();
    }
    for (auto _ : state) {
        state.PauseTiming();
        timespec gap{0, 40000000};
        while (nanosleep(&gap, &gap) != 0) {
        }
        flight.Steer();
        state.ResumeTiming();
        flight.view->Render();
        benchmark::DoNotOptimize(flight.view->frame);
        benchmark::ClobberMemory();
    }
}
void BM_RenderDefaultPaced(benchmark::State& state) {
    PacedFlight<false>(state);
}
void BM_RenderDefaultPacedLongRows(benchmark::State& state) {
    PacedFlight<true>(state);
}
void BM_RenderDefaultReference(benchmark::State& state) {
    RenderFlight<true>(state, 1024, 768, 512, 10, 6);
}
void BM_RenderHeaviest(benchmark::State& state) {
    RenderFlight<false>(state, 1920, 1080, 3000, 12, 255);
}
void BM_RenderHeaviestReference(benchmark::State& state) {
    RenderFlight<true>(state, 1920, 1080, 3000, 12, 255);
}
void BM_RenderBetweenDefault(benchmark::State& state) {
    BetweenFlight(state, 1024, 768, 512, 10, 6);
}
void BM_RenderBetweenHeaviest(benchmark::State& state) {
    BetweenFlight(state, 1920, 1080, 3000, 12, 255);
}
void BM_RenderHeaviestWriteOut(benchmark::State& state) {
    RenderFlight<false, true>(state, 1920, 1080, 3000, 12, 255);
}

}  // namespace

double HeaviestFlightPeakMiB(int32_t threads, int32_t frames) {
    Flight flight(1920, 1080, 3000, 12, 255, 0, threads);
    for (int32_t i = 0; i < frames; ++i) {
        flight.Steer();
        flight.view->Render();
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
}

namespace {

// The physical floor of the heaviest frame's write-out: one plain copy of a
// 3000 x 1687 frame of 32-bit pixels (20 MB) from a buffer of the same size.
void BM_FrameSizedCopy(benchmark::State& state) {
    const size_t pixels = size_t{3000} * 1687;
    std::vector<uint32_t> source(pixels, 0x00406080u), frame(pixels, 0u);
    for (auto _ : state) {
        std::memcpy(frame.data(), source.data(), pixels * 4);
        benchmark::DoNotOptimize(frame.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(pixels) * 4);
}
BENCHMARK(BM_FrameSizedCopy)->Unit(benchmark::kMillisecond);

BENCHMARK(BM_RenderDefault)->Iterations(400)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderDefaultOneThread)->Iterations(400)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderDefaultPaced)
    ->Args({1, 1})
    ->Args({1, 0})
    ->Args({2, 1})
    ->Iterations(100)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderDefaultPacedLongRows)
    ->Args({1, 1})
    ->Iterations(100)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderDefaultReference)->Iterations(400)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderHeaviest)->Iterations(300)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderHeaviestReference)->Iterations(100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderBetweenDefault)->Iterations(400)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderBetweenHeaviest)->Iterations(300)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderHeaviestWriteOut)->Iterations(300)->Unit(benchmark::kMillisecond);

}  // namespace
