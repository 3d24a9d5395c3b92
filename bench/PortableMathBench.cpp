// The spectral filter's power and the table trigonometry: the portable
// versions against the C library's (one call per iteration).
#include <benchmark/benchmark.h>

#include <cmath>

#include "base/PortableMath.h"

namespace {

template <double (*Pow)(double, double)>
void BM_FilterPow(benchmark::State& state) {
    int64_t n = 1;
    for (auto _ : state) {
        benchmark::DoNotOptimize(Pow(std::sqrt(static_cast<double>(n)), 2.2));
        n = n < 8388608 ? n + 1 : 1;
    }
}

double LibraryPow(double x, double y) {
    return std::pow(x, y);
}

template <double (*Trig)(double)>
void BM_TableTrig(benchmark::State& state) {
    int32_t j = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(Trig((2560 - j) * 2.0 * 3.14159265358979323846 / 2560));
        j = j < 2559 ? j + 1 : 0;
    }
}

double LibraryCos(double x) {
    return std::cos(x);
}

BENCHMARK_TEMPLATE(BM_FilterPow, PortablePow);
BENCHMARK_TEMPLATE(BM_FilterPow, LibraryPow);
BENCHMARK_TEMPLATE(BM_TableTrig, PortableCos);
BENCHMARK_TEMPLATE(BM_TableTrig, LibraryCos);

}  // namespace
