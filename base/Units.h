// Units.h - the units and the random number step shared by the whole core.
//
// Positions: 1/1024 of a map cell ("position units"); cell = position >> 10;
//            the map wraps (a torus), positions lie in [0, side << 10).
// Angles:    angle units, FlightView::angleUnits per full turn (2560 unless the
//            frame is very wide), in [0, angleUnits).
// Trig:      cosTable/sinTable entries are 1024 x cos and 1024 x (-sin).
// Heights:   the height map's own units; the camera altitude uses the same.
// Land fixed point: carving and shadows scale heights by 1024 (10 bits).
//
// LcgRandom is the one random number generator of the system: land synthesis
// keeps one process-wide state, each FlightView its own randomState.
//
// Callers: every layer of the core (land/, sky/, view/) and app/.
#pragma once

#include <cstdint>

constexpr int32_t kPositionShift = 10;                 // position units per cell = 1 << 10
constexpr int32_t kPositionOne = 1 << kPositionShift;  // one cell in position units
constexpr int32_t kTrigOne = 1024;                     // scale of cosTable/sinTable
constexpr int32_t kDefaultAngleUnits = 2560;           // angle units per turn by default
constexpr int32_t kLandFixedShift = 10;                // heights x 1024 in carving/shadows

// One LcgRandom step: state = state x 214013 + 2531011 (mod 2^32); yields the
// new state >> 12, a value in 0 ... 1048575.
inline int32_t LcgStep(uint32_t& state) {
    state = state * 214013u + 2531011u;
    return static_cast<int32_t>(state >> 12);
}

// The state that `steps` LcgStep calls leave, from `state`, in log2(steps)
// rounds: each step is the map x -> a x + c (mod 2^32), and powers of that
// map are composed by squaring, so threads can each start a share of one
// stream where it would stand.
inline uint32_t LcgJump(uint32_t state, uint64_t steps) {
    uint32_t a = 214013u;  // the map of 2^k steps, k the bit looked at
    uint32_t c = 2531011u;
    uint32_t jumpA = 1u;  // the map of the steps taken so far
    uint32_t jumpC = 0u;
    for (; steps != 0; steps >>= 1) {
        if ((steps & 1u) != 0) {
            jumpA = a * jumpA;
            jumpC = a * jumpC + c;
        }
        c = a * c + c;
        a = a * a;
    }
    return jumpA * state + jumpC;
}

// Arithmetic (sign-preserving) right shift. C++17 leaves >> of a negative
// value implementation-defined; every compiler we build with shifts
// arithmetically, and this name says where the code relies on it.
constexpr int32_t Asr(int32_t value, int32_t shift) {
    return value >> shift;
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

// --- Frames between ticks ---------------------------------------------------
// A fraction of the way from one tick to the next, in 1/65536 (0 ... 65535).
constexpr int32_t kFractionShift = 16;
constexpr int32_t kFractionOne = 1 << kFractionShift;

// The value `fraction` of the way from `from` to `to`: from + (to - from) x
// fraction / 65536, rounded to the nearest (halves up), formed in 64 bits.
// Fraction 0 gives `from` exactly.
constexpr int32_t Interpolate(int32_t from, int32_t to, int32_t fraction) {
    const int64_t step = static_cast<int64_t>(to) - from;
    return static_cast<int32_t>(from + ((step * fraction + (kFractionOne >> 1)) >> kFractionShift));
}

// The same on a circle of `period` (a map side in position units, a full
// turn in angle units): the short way round, the result in [0, period).
// Half a period exactly goes the negative way.
constexpr int32_t InterpolateWrapped(int32_t from, int32_t to, int32_t fraction, int32_t period) {
    int64_t step = (static_cast<int64_t>(to) - from) % period;
    if (step < -(period / 2)) step += period;
    if (step >= period - period / 2) step -= period;
    const int64_t moved = from + ((step * fraction + (kFractionOne >> 1)) >> kFractionShift);
    return WrapCoordinate(moved, period);
}
