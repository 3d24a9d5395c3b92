// SaverLogic.h - the Win32 saver window's pacing and power decisions that
// need no window system.
//
// The saver window (win32/SaverWindow.cpp) and its refresh clock
// (win32/RefreshClock.cpp) ask these functions how to read the system's
// clock and display rate, when a wait for the compositor did not really wait,
// and how smooth motion, the preview, the battery and the display's power
// decide the window's pacing; keeping them free of windows.h lets the native
// unit tests check them directly (tests/win32/SaverLogicTest.cpp).
//
// Times are microseconds on the window's monotonic clock (the performance
// counter since the process started).
#pragma once

#include <cstdint>

#include "app/Settings.h"

namespace saverlogic {

// Microseconds of `counter` ticks of a clock running at `frequency` ticks a
// second, truncated; exact for every counter (no intermediate overflow),
// saturated at INT64_MAX. 0 for a frequency or a counter below 1.
int64_t CounterMicroseconds(int64_t counter, int64_t frequency);

// The refresh period (microseconds, rounded) of a display that reports
// `hertz` (DEVMODE's dmDisplayFrequency): 0 and 1 mean the hardware's
// default rate and give 60 Hz, as does anything above 1000 Hz (no display
// refreshes that fast: a broken value).
int64_t RefreshMicroseconds(uint32_t hertz);

// A wait for the compositor's next present (DwmFlush), called at
// `flushStarted`, ended at `now`; the refresh before was at `lastRefresh`
// (whatever this function returned the last time, far in the past at
// first). Returns when this refresh is: `now` for a real present. DwmFlush
// blocks until the next present, on average half a refresh period; one that
// failed, or came back within an eighth of a period (a DwmFlush that does not
// wait, as where composition is only pretended), is no present: the refresh
// is then a period after the last one (or now, when that has passed), and
// the caller waits on its clock until then. A real present that happened to
// come that soon loses nothing: it follows the last one by about a period.
// The times are of a monotonic clock.
int64_t AfterPresentWait(int64_t lastRefresh, int64_t flushStarted, int64_t now,
                         int64_t refreshMicroseconds, bool flushSucceeded);

// Milliseconds to wait for `microseconds` (rounded up, so the wait never ends
// early), at least `minimum`, at most 0x7FFFFFFF.
uint32_t WaitMilliseconds(int64_t microseconds, uint32_t minimum);

// A power-setting notification of the display's state (0 off, 1 on, 2
// dimmed): true when the picture can be seen (on or dimmed).
inline bool DisplayCanBeSeen(uint32_t state) {
    return state != 0;
}

// SYSTEM_POWER_STATUS's ACLineStatus: 0 on battery, 1 on mains, 255 not
// known (taken as mains).
inline bool RunsOnBattery(uint8_t acLineStatus) {
    return acLineStatus == 0;
}

// What a saver window does at its refreshes.
struct WindowPacing {
    bool smooth = false;           // a frame at every refresh, else one a tick
    bool visible = true;           // false: no ticks, no frames, no landscapes
    bool landOnOneThread = false;  // the next landscapes on one thread
};

// The settings' "Smooth Motion" and "On Battery" (through PlanPower), where
// the window is and what the power says: a preview draws one frame a tick
// whatever the setting (it is small and shown beside the settings); with the
// display off or asleep nothing is drawn.
WindowPacing PlanWindowPacing(const Settings& settings, bool preview, bool onBattery,
                              bool displayOn);

}  // namespace saverlogic
