// Saturate.h - conversions into int32 that stay defined outside its range.
//
// The core's per-cell, per-pixel and per-frame arithmetic is 32-bit, but a
// map can hold extreme heights (a synthesis aborted half way) and a caller
// can set absurd speeds: intermediates are then formed in 64 bits (or in
// double) and brought back into 32 bits here. For every value that fits,
// these give exactly what the plain conversion gives, so results in range
// (every golden map and frame) are unchanged.
//
// Callers: the land passes (land/), the camera, its tables, the autopilot
// and the objects (view/, sky/).
#pragma once

#include <cstdint>
#include <limits>

// value saturated into the int32 range.
constexpr int32_t SaturateInt32(int64_t value) {
    if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

// value truncated toward zero to int32 (as a plain conversion does), but
// saturating outside the int32 range instead of being undefined; NaN gives 0.
inline int32_t TruncateToInt32(double value) {
    if (value != value) return 0;
    if (value <= -2147483649.0) return std::numeric_limits<int32_t>::min();
    if (value >= 2147483648.0) return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(value);
}
