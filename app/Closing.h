// Closing.h - the closing rule that every saver window shares: a pointer
// that drifts more than a few pixels from where it was first seen ends the
// saver (keys and buttons end it at once; each front end reads those from
// its own window system).
//
// Callers: the Win32 host's closing rules (win32/), the Linux saver's own
// windows (x11/). Pure logic, tested natively.
#pragma once

#include <cstdint>

// Mouse drift in screen pixels that closes the saver: the distance
// |dx| + |dy| from the recorded position must be above this (unsigned).
constexpr uint32_t kMouseDriftThreshold = 4;

struct ScreenPoint {
    int32_t x;
    int32_t y;
};

// True when the cursor at `now` has drifted far enough from `recorded`.
// Formed in 64 bits: no overflow whatever the coordinates.
inline bool MouseDriftCloses(ScreenPoint recorded, ScreenPoint now) {
    const int64_t dx = static_cast<int64_t>(now.x) - recorded.x;
    const int64_t dy = static_cast<int64_t>(now.y) - recorded.y;
    const uint64_t distance =
        static_cast<uint64_t>(dx < 0 ? -dx : dx) + static_cast<uint64_t>(dy < 0 ? -dy : dy);
    return distance > kMouseDriftThreshold;
}
