// LineTransform.h - the butterflies of the land's exact transform (an
// in-place radix-2 decimation in time, written out literally in
// tests/land/ReferenceLand.cpp), run on a batch of lines at once.
//
// Layout: `count` lines of n = 2^log2n points interleaved, point i of line
// b at re[i * count + b] and im[i * count + b], the points already in
// bit-reversed order (point i of the line stored at ReverseBits(i)). Every
// line sees exactly the operations the literal transform performs on it, in
// the same order, with the same twiddle values (made by its recurrence): only which
// butterflies of other points run in between differs. Up to three levels
// run together on eight points kept in registers, so a point is loaded and
// stored once per three levels, and the lanes of a batch run side by side
// in the vector registers. The forward transform's division by n is left
// to the caller (see HeightSynthesis.cpp, which scales while it copies
// the lines out).
//
// Callers: land/HeightSynthesis.cpp (Fft1D, Fft2D and spectral synthesis).
#pragma once

#include <cstdint>

namespace line_transform {

// Doubles of the twiddle table of a transform of 2^log2n points.
constexpr int64_t TwiddleDoubles(int32_t log2n) { return int64_t{2} << log2n; }

// The twiddles of every level of a transform of 2^log2n points in
// `direction` (+1 forward, -1 inverse): level k's twiddle j (j < 2^k) at
// index 2^k - 1 + j; the real components first, then the imaginary ones
// from index 2^log2n on.
void MakeTwiddles(int32_t direction, int32_t log2n, double* twiddles);

// i (< 2^log2n) with its log2n low bits in reverse order.
inline uint32_t ReverseBits(uint32_t i, int32_t log2n) {
    uint32_t r = 0;
    for (int32_t bit = 0; bit < log2n; ++bit) {
        r = (r << 1) | (i & 1u);
        i >>= 1;
    }
    return r;
}

// Every butterfly level of `count` (>= 1) interleaved lines whose points are
// in bit-reversed order; twiddles from MakeTwiddles in the same direction.
void Butterflies(int32_t log2n, int32_t count, const double* twiddles, double* re, double* im);

// The kernels Butterflies chooses from (the best the processor runs).
enum class Kernel { kBaseline, kAvx2, kAvx512 };
// Butterflies with a given kernel, for the tests that hold each to the
// literal transform; false (nothing done) when this build or processor
// lacks it.
bool ButterfliesWith(Kernel kernel, int32_t log2n, int32_t count, const double* twiddles,
                     double* re, double* im);

}  // namespace line_transform
