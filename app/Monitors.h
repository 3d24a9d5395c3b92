// Monitors.h - which parts of a full-screen window get a flight of their
// own, and the seeds of those flights.
//
// The Win32 saver's full-screen window covers the whole virtual screen and
// the "Monitors" setting decides its flights; a front end with one surface
// per output (one flight each) offsets the seeds the same way, so that
// flight 0 flies exactly as a saver on one monitor does and its neighbours
// show other landscapes. Pure logic, tested natively (tests/app/).
#pragma once

#include <cstdint>

// A rectangle in pixels; right and bottom are exclusive.
struct PixelRect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

// One monitor as the system reports it, in screen pixels.
struct MonitorArea {
    PixelRect rect;
    bool primary;
};

// The "Monitors" setting.
enum class MonitorsMode : int32_t {
    EachMonitor = 0,  // a flight on each monitor
    PrimaryOnly = 1,  // one flight on the primary monitor, the others black
    Spanning = 2,     // one flight stretched across the whole window
};

// Flights one window holds at most; monitors beyond them stay black.
constexpr int32_t kMaxFlights = 16;

// The flights of one window. Flight i draws into areas[i] (window pixels,
// origin at the window's top left) and offsets its land seed and its view
// seed by i, so flight 0 (on the primary monitor) flies exactly as a saver
// on one monitor does.
struct FlightPlan {
    int32_t count;
    PixelRect areas[kMaxFlights];
};

// Splits a window (screen pixels) among the monitors (screen pixels, in the
// system's enumeration order). Order of the flights: the primary monitor
// first (the first one flagged, else the first listed), then the others in
// the order given. Each monitor's area is clipped to the window; a monitor
// outside the window, or one whose clipped area repeats an earlier one's (a
// mirrored display), gets no flight. Mode 1 keeps only the first flight of
// that order. A mode outside 0 ... 2 counts as 0.
// Mode 2, or no monitor inside the window, gives one flight on the whole
// window. A window without area, or wider or taller than 32-bit
// coordinates can hold, gives no flight.
FlightPlan PlanFlights(PixelRect window, const MonitorArea* monitors, int32_t monitorCount,
                       int32_t mode);

// A land or view seed offset by a flight's index (wraps at 2^32).
uint32_t OffsetSeed(uint32_t seed, int32_t flightIndex);
