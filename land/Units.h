// Units.h - the units and the random number step shared by the whole core.
//
// Positions: 1/1024 of a map cell ("position units"); cell = position >> 10.
// Angles:    angle units, FlightView::angleUnits per full turn (2560 unless the
//            frame is very wide).
// Trig:      cosTable/sinTable entries are 1024 x cos and 1024 x (-sin).
// Heights:   the height map's own units; the camera altitude uses the same.
// Land fixed point: carving and shadows scale heights by 1024 (10 bits).
//
// LcgRandom is the one random number generator of the system: land synthesis
// keeps one process-wide state, each FlightView its own randomState.
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
