// LandMath.h - small arithmetic helpers private to the land generator.
//
// The land passes work in 32-bit cells, but their intermediates can leave the
// 32-bit range when a map holds extreme heights (for instance after a
// synthesis that was aborted half way). These helpers keep such arithmetic
// defined: intermediates are formed in 64 bits and brought back into a cell
// by saturation (base/Saturate.h). For every value that fits they give
// exactly what plain 32-bit arithmetic gives, so the normal results are
// unchanged.
#pragma once

#include <cstdint>

#include "base/Saturate.h"

namespace land_math {

// Arithmetic (sign-preserving) right shift of a 64-bit intermediate.
constexpr int64_t Asr64(int64_t value, int32_t shift) {
    return value >> shift;
}

// 32-bit two's-complement wrap of an unsigned result.
constexpr int32_t WrapToInt32(uint32_t value) {
    return static_cast<int32_t>(value);
}

// Number of cells of a width x height map (0 for non-positive sides).
constexpr int64_t CellCount(int32_t width, int32_t height) {
    return (width <= 0 || height <= 0) ? 0 : int64_t{width} * height;
}

// Work hints are informative only; keep them in range.
constexpr int32_t Hint(int64_t value) {
    return SaturateInt32(value);
}

}  // namespace land_math
