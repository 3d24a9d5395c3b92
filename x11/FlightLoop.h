// FlightLoop.h - the Linux saver's only contact with the portable frame loop.
//
// X11Saver.cpp starts, ticks and stops the flight through these four calls,
// so a change of the frame loop's interface touches this file pair alone.
// The Linux saver flies one flight per process; it lives in FlightLoop.cpp
// and makes its landscapes on a worker thread (ticks meanwhile draw the
// progress texts and read Shift); StopFlight during a generation abandons it
// within milliseconds.
#pragma once

#include <cstdint>

#include "app/Platform.h"
#include "app/Settings.h"

// Builds a flight for a client area of width x height pixels on `platform`
// with `settings`; false when that area cannot fly (nothing is left built
// then). A running flight is stopped first.
bool StartFlight(SaverPlatform& platform, const Settings& settings, int32_t clientWidth,
                 int32_t clientHeight);
// One 40 ms tick; true when it drew a frame (false while the land is made).
bool TickFlight();
// Frame rows the settings give on a client area (0: it cannot fly).
int32_t FlightFrameRows(const Settings& settings, int32_t clientWidth, int32_t clientHeight);
void StopFlight();
