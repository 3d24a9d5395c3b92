// LineTransform.cpp - see LineTransform.h.
#include "land/LineTransform.h"

#include <algorithm>
#include <cmath>

namespace line_transform {

// The kernels for the build's own target, and on x86 with GCC also for
// AVX2 and AVX-512 (chosen at run time by Butterflies). Only the
// multiplications, additions and subtractions of Fft1D run in them: the
// instruction set changes how many lanes go at once, never a result.
#if defined(__GNUC__) && !defined(__clang__) && (defined(__x86_64__) || defined(__i386__))
#define GLIDESCAPE_LINE_TRANSFORM_X86 1
#else
#define GLIDESCAPE_LINE_TRANSFORM_X86 0
#endif

namespace baseline {
namespace {
#define GLIDESCAPE_FUSED_LEVELS 2
#include "land/LineTransformKernels.inc"
#undef GLIDESCAPE_FUSED_LEVELS
}  // namespace
}  // namespace baseline

#if GLIDESCAPE_LINE_TRANSFORM_X86
#pragma GCC push_options
#pragma GCC target("avx2")
namespace avx2 {
namespace {
#define GLIDESCAPE_FUSED_LEVELS 2
#include "land/LineTransformKernels.inc"
#undef GLIDESCAPE_FUSED_LEVELS
}  // namespace
}  // namespace avx2
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx512f")
namespace avx512 {
namespace {
#define GLIDESCAPE_FUSED_LEVELS 3
#include "land/LineTransformKernels.inc"
#undef GLIDESCAPE_FUSED_LEVELS
}  // namespace
}  // namespace avx512
#pragma GCC pop_options
#endif

void MakeTwiddles(int32_t direction, int32_t log2n, double* twiddles) {
    const int64_t n = int64_t{1} << log2n;
    double* twRe = twiddles;
    double* twIm = twiddles + n;
    double c1 = -1.0;
    double c2 = 0.0;
    for (int32_t level = 0; level < log2n; ++level) {
        const int64_t l1 = int64_t{1} << level;
        double u1 = 1.0;
        double u2 = 0.0;
        for (int64_t j = 0; j < l1; ++j) {
            twRe[l1 - 1 + j] = u1;
            twIm[l1 - 1 + j] = u2;
            const double z = u1 * c1 - u2 * c2;
            u2 = u1 * c2 + u2 * c1;
            u1 = z;
        }
        c2 = std::sqrt((1.0 - c1) / 2.0);
        if (direction == 1) c2 = -c2;
        c1 = std::sqrt((1.0 + c1) / 2.0);
    }
    twRe[n - 1] = 0.0;  // unused
    twIm[n - 1] = 0.0;
}

void Butterflies(int32_t log2n, int32_t count, const double* twiddles, double* re, double* im) {
#if GLIDESCAPE_LINE_TRANSFORM_X86
    // Wider vectors where the processor has them: same operations, same
    // bits, more lanes at once.
    if (__builtin_cpu_supports("avx512f")) {
        avx512::Run(log2n, count, twiddles, re, im);
        return;
    }
    if (__builtin_cpu_supports("avx2")) {
        avx2::Run(log2n, count, twiddles, re, im);
        return;
    }
#endif
    baseline::Run(log2n, count, twiddles, re, im);
}

bool ButterfliesWith(Kernel kernel, int32_t log2n, int32_t count, const double* twiddles,
                     double* re, double* im) {
    switch (kernel) {
        case Kernel::kBaseline:
            baseline::Run(log2n, count, twiddles, re, im);
            return true;
#if GLIDESCAPE_LINE_TRANSFORM_X86
        case Kernel::kAvx2:
            if (!__builtin_cpu_supports("avx2")) return false;
            avx2::Run(log2n, count, twiddles, re, im);
            return true;
        case Kernel::kAvx512:
            if (!__builtin_cpu_supports("avx512f")) return false;
            avx512::Run(log2n, count, twiddles, re, im);
            return true;
#endif
        default:
            return false;
    }
}

}  // namespace line_transform
