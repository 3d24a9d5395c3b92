// What this machine can do at best, one thread, as the yardstick for the
// speed targets: how far each figure lies above the work it cannot avoid.
//
//   BM_Clock            dependent integer additions: one a cycle on every
//                       x86-64 core, so additions/s = the core's clock (Hz)
//   BM_ReadBandwidth    sums a block of N bytes (64-bit words, 4 chains), the
//                       block sized for the first- and second-level caches,
//                       the last level and main memory; bytes/s
//   BM_CopyBandwidth    memcpy of a block of N bytes into another; bytes/s
//                       read + written
//   BM_LineLatency      one cache line after another in a random cycle over a
//                       block of N bytes, each address from the line before:
//                       time per line = the load-to-use latency at that size
//   BM_RandomLines      the same lines, but eight independent walks at once:
//                       time per line when the core overlaps misses, as the
//                       sample loop's independent loads can
//   BM_PeakFlops        independent double multiplies and adds (separate, as
//                       the land's arithmetic is: no fused multiply-add),
//                       chains of 2, 4 or 8 lanes (SSE2, AVX2, AVX-512, as
//                       far as this core runs them); flops/s
//
// The figures are read by bench/README.md's "limits" section; none of them
// is a target.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <numeric>
#include <vector>

namespace {

void BM_Clock(benchmark::State& state) {
    constexpr int64_t kAdds = 1 << 20;
    uint64_t value = 1;
    for (auto _ : state) {
        for (int64_t i = 0; i < kAdds; ++i) {
            // Each addition waits for the one before; the empty asm keeps the
            // compiler from folding the chain into one multiply.
            value += static_cast<uint64_t>(i);
            asm volatile("" : "+r"(value));
        }
    }
    benchmark::DoNotOptimize(value);
    state.SetItemsProcessed(state.iterations() * kAdds);
}
BENCHMARK(BM_Clock)->Unit(benchmark::kMicrosecond);

void BM_ReadBandwidth(benchmark::State& state) {
    const size_t words = static_cast<size_t>(state.range(0)) / sizeof(uint64_t);
    std::vector<uint64_t> block(words);
    std::iota(block.begin(), block.end(), uint64_t{1});
    for (auto _ : state) {
        uint64_t a = 0, b = 0, c = 0, d = 0;
        for (size_t i = 0; i + 4 <= words; i += 4) {
            a += block[i];
            b += block[i + 1];
            c += block[i + 2];
            d += block[i + 3];
        }
        benchmark::DoNotOptimize(a + b + c + d);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ReadBandwidth)
    ->Arg(32 << 10)
    ->Arg(1 << 20)
    ->Arg(16 << 20)
    ->Arg(256 << 20)
    ->Unit(benchmark::kMicrosecond);

void BM_CopyBandwidth(benchmark::State& state) {
    const size_t bytes = static_cast<size_t>(state.range(0));
    std::vector<unsigned char> from(bytes, 1), to(bytes, 0);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * state.range(0) * 2);
}
BENCHMARK(BM_CopyBandwidth)->Arg(1 << 20)->Arg(16 << 20)->Arg(256 << 20)->Unit(benchmark::kMicrosecond);

// A random cycle through the block's cache lines: entry i of line L holds
// the index of the next line's first word.
std::vector<uint64_t> LineCycle(size_t bytes) {
    constexpr size_t kLineWords = 64 / sizeof(uint64_t);
    const size_t lines = bytes / 64;
    std::vector<size_t> order(lines);
    std::iota(order.begin(), order.end(), size_t{0});
    uint64_t state = 88172645463325252ull;
    for (size_t i = lines - 1; i > 0; --i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        std::swap(order[i], order[state % (i + 1)]);
    }
    std::vector<uint64_t> words(lines * kLineWords);
    for (size_t i = 0; i < lines; ++i) {
        words[order[i] * kLineWords] = order[(i + 1) % lines] * kLineWords;
    }
    return words;
}

void BM_LineLatency(benchmark::State& state) {
    const std::vector<uint64_t> words = LineCycle(static_cast<size_t>(state.range(0)));
    constexpr int64_t kSteps = 1 << 16;
    uint64_t at = 0;
    for (auto _ : state) {
        for (int64_t i = 0; i < kSteps; ++i) at = words[at];
    }
    benchmark::DoNotOptimize(at);
    state.SetItemsProcessed(state.iterations() * kSteps);
}
BENCHMARK(BM_LineLatency)
    ->Arg(32 << 10)
    ->Arg(1 << 20)
    ->Arg(4 << 20)
    ->Arg(16 << 20)
    ->Arg(256 << 20)
    ->Unit(benchmark::kMicrosecond);

void BM_RandomLines(benchmark::State& state) {
    const std::vector<uint64_t> words = LineCycle(static_cast<size_t>(state.range(0)));
    const uint64_t lineWords = 64 / sizeof(uint64_t);
    const uint64_t lines = words.size() / lineWords;
    constexpr int64_t kSteps = 1 << 13;
    uint64_t at[8];
    for (uint64_t w = 0; w < 8; ++w) at[w] = (lines / 8 * w) * lineWords;
    for (auto _ : state) {
        for (int64_t i = 0; i < kSteps; ++i) {
            for (uint64_t& a : at) a = words[a];
        }
    }
    benchmark::DoNotOptimize(at);
    state.SetItemsProcessed(state.iterations() * kSteps * 8);
}
BENCHMARK(BM_RandomLines)->Arg(1 << 20)->Arg(4 << 20)->Arg(16 << 20)->Arg(256 << 20)->Unit(benchmark::kMicrosecond);

// kChains independent accumulators of vectors of doubles: a = a x m + c,
// the multiply and the add apart. The vector types are the compiler's own,
// so the target attribute alone picks the instructions.
typedef double Vec2 __attribute__((vector_size(16)));
typedef double Vec4 __attribute__((vector_size(32)));
typedef double Vec8 __attribute__((vector_size(64)));

template <typename Vec, int kChains>
[[gnu::always_inline]] inline double FlopLoop(int64_t turns) {
    constexpr int kLanes = sizeof(Vec) / sizeof(double);
    Vec acc[kChains];
    Vec m, c;
    for (int l = 0; l < kLanes; ++l) {
        m[l] = 0.999999;
        c[l] = 1e-6;
    }
    for (int k = 0; k < kChains; ++k) acc[k] = m * static_cast<double>(k + 1);
    for (int64_t t = 0; t < turns; ++t) {
        // Unrolled, so that every accumulator stays in a register.
#pragma GCC unroll 16
        for (int k = 0; k < kChains; ++k) {
            Vec product = acc[k] * m;
            asm volatile("" : "+x"(product));  // keeps the multiply and the add apart
            acc[k] = product + c;
        }
    }
    double sum = 0;
    for (int k = 0; k < kChains; ++k) {
        for (int l = 0; l < kLanes; ++l) sum += acc[k][l];
    }
    return sum;
}

// Twelve chains: enough to cover a multiply's and an add's latency on two
// ports, few enough to stay in the sixteen registers of SSE2 and AVX2.
constexpr int kFlopChains = 12;
double FlopsSse2(int64_t turns) { return FlopLoop<Vec2, kFlopChains>(turns); }
__attribute__((target("avx2"))) double FlopsAvx2(int64_t turns) {
    return FlopLoop<Vec4, kFlopChains>(turns);
}
__attribute__((target("avx512f"))) double FlopsAvx512(int64_t turns) {
    return FlopLoop<Vec8, kFlopChains>(turns);
}

void BM_PeakFlops(benchmark::State& state) {
    constexpr int64_t kTurns = 1 << 16;
    const int lanes = static_cast<int>(state.range(0));
    if ((lanes == 4 && !__builtin_cpu_supports("avx2")) ||
        (lanes == 8 && !__builtin_cpu_supports("avx512f"))) {
        state.SkipWithError("this core lacks the vectors");
        return;
    }
    for (auto _ : state) {
        double sum = lanes == 2 ? FlopsSse2(kTurns) : lanes == 4 ? FlopsAvx2(kTurns) : FlopsAvx512(kTurns);
        benchmark::DoNotOptimize(sum);
    }
    // Each turn: every chain's lanes, one multiply and one add each.
    state.SetItemsProcessed(state.iterations() * kTurns * kFlopChains * lanes * 2);
}
BENCHMARK(BM_PeakFlops)->Arg(2)->Arg(4)->Arg(8)->Unit(benchmark::kMicrosecond);

}  // namespace
