// CoreMath.h - integer helpers of the flight view and the sky that keep
// out-of-range inputs defined without changing results in range.
//
// The camera, autopilot and object arithmetic is 32-bit; these helpers work
// in 64 bits and bring the result back into range. For every value the saver
// produces in normal flight they return exactly what the plain 32-bit
// expression would, so frames stay bit-identical; they only differ where the
// plain expression would overflow (heights of an aborted synthesis, absurd
// speeds set by a caller).
//
// Used by view/FlightView.cpp, view/Motion.cpp, sky/Autopilot.cpp,
// sky/Objects.cpp and sky/SkyTexture.cpp.
#pragma once

#include <cstdint>
#include <limits>

namespace coremath {

constexpr int32_t SaturateInt32(int64_t value) {
    if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

// Brings a coordinate into [0, limit) (limit >= 1). One addition or
// subtraction of the limit suffices for every per-frame move in the saver;
// larger jumps fall back to a remainder, which gives the same result.
constexpr int32_t WrapCoordinate(int64_t value, int32_t limit) {
    if (value < 0) {
        value += limit;
    } else if (value >= limit) {
        value -= limit;
    }
    if (value < 0 || value >= limit) {
        value %= limit;
        if (value < 0) value += limit;
    }
    return static_cast<int32_t>(value);
}

// Brings an angle into [0, units) (units >= 1): the result of repeatedly
// adding or subtracting a full turn, without the loop.
constexpr int32_t WrapAngle(int64_t angle, int32_t units) {
    int64_t wrapped = angle % units;
    if (wrapped < 0) wrapped += units;
    return static_cast<int32_t>(wrapped);
}

}  // namespace coremath
