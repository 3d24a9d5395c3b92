// The land's exact 2-D transform (LandGenerator::Fft2D, forward, one
// thread) at sides 1024 and 4096, beside the literal column-by-column
// transform of the tests and, when the build found it, FFTW's 2-D complex
// transform of the same array (in place, FFTW_MEASURE plan, one thread).
// FFTW is a yardstick only: it is linked into this benchmark program and
// nothing else, and its results are not the land's (another order of
// operations). Each run transforms the same random cells, restored outside
// the timing, so repeated transforms neither overflow nor sink into
// subnormal numbers.
#include <benchmark/benchmark.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "land/LandGenerator.h"
#include "tests/land/ReferenceLand.h"

#ifdef GLIDESCAPE_BENCH_FFTW
#include <fftw3.h>
#endif

namespace {

std::vector<ComplexCell> RandomCells(int64_t count) {
    std::vector<ComplexCell> cells(static_cast<size_t>(count));
    uint32_t state = 12345u;
    for (ComplexCell& c : cells) {
        state = state * 1664525u + 1013904223u;
        c.re = static_cast<double>(state >> 8) / 65536.0 - 128.0;
        state = state * 1664525u + 1013904223u;
        c.im = static_cast<double>(state >> 8) / 65536.0 - 128.0;
    }
    return cells;
}

// The transformed array, on 2 MiB pages when state.range(1) is 1 (as the
// land's scratch block is where the front end asks for them), else on the
// system's default pages. Both transforms get the same kind.
struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
std::unique_ptr<ComplexCell[], FreeDeleter> CellArray(int64_t count, bool hugePages) {
    constexpr size_t kHuge = size_t{2} << 20;
    const size_t bytes = (static_cast<size_t>(count) * sizeof(ComplexCell) + kHuge - 1) / kHuge * kHuge;
    void* p = std::aligned_alloc(kHuge, bytes);
    if (p != nullptr && hugePages) madvise(p, bytes, MADV_HUGEPAGE);
    return std::unique_ptr<ComplexCell[], FreeDeleter>(static_cast<ComplexCell*>(p));
}

void BM_Fft2D(benchmark::State& state) {
    const int32_t side = 1 << state.range(0);
    const std::vector<ComplexCell> input = RandomCells(int64_t{side} * side);
    auto array = CellArray(int64_t{side} * side, state.range(1) == 1);
    ComplexCell* cells = array.get();
    std::memcpy(cells, input.data(), input.size() * sizeof(ComplexCell));
    std::vector<int32_t> heights(1);
    std::vector<uint32_t> colours(1);
    // The generator's own maps are not touched by Fft2D; one thread (no pool).
    LandGenerator land(side, side, heights.data(), colours.data(), 0, 255, nullptr);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(cells, input.data(), input.size() * sizeof(ComplexCell));
        state.ResumeTiming();
        if (!land.Fft2D(cells, side, side, 1)) {
            state.SkipWithError("Fft2D failed");
            return;
        }
        benchmark::ClobberMemory();
    }
    state.counters["threads"] = 1;
}

void BM_Fft2DPlain(benchmark::State& state) {
    const int32_t side = 1 << state.range(0);
    const std::vector<ComplexCell> input = RandomCells(int64_t{side} * side);
    std::vector<ComplexCell> cells = input;
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(cells.data(), input.data(), input.size() * sizeof(ComplexCell));
        state.ResumeTiming();
        reference::Fft2D(cells.data(), side, 1);
        benchmark::ClobberMemory();
    }
}

#ifdef GLIDESCAPE_BENCH_FFTW
void BM_Fft2DFftw(benchmark::State& state) {
    const int32_t side = 1 << state.range(0);
    const std::vector<ComplexCell> input = RandomCells(int64_t{side} * side);
    const size_t bytes = input.size() * sizeof(ComplexCell);
    auto array = CellArray(int64_t{side} * side, state.range(1) == 1);
    auto* cells = reinterpret_cast<fftw_complex*>(array.get());
    if (cells == nullptr) {
        state.SkipWithError("no memory");
        return;
    }
    // MEASURE overwrites the array while it plans: fill it afterwards.
    fftw_plan plan = fftw_plan_dft_2d(side, side, cells, cells, FFTW_FORWARD, FFTW_MEASURE);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(cells, input.data(), bytes);
        state.ResumeTiming();
        fftw_execute(plan);
        benchmark::ClobberMemory();
    }
    fftw_destroy_plan(plan);
    state.counters["threads"] = 1;
}
BENCHMARK(BM_Fft2DFftw)->ArgsProduct({{10, 12}, {0, 1}})->Unit(benchmark::kMillisecond);
#endif

BENCHMARK(BM_Fft2D)->ArgsProduct({{10, 12}, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fft2DPlain)->Arg(10)->Arg(12)->Unit(benchmark::kMillisecond);

}  // namespace
