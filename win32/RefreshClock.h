// RefreshClock.h - the saver window's clock of display refreshes: one
// message to the window per refresh, from a thread of the clock's own.
//
// Why a thread: the window's thread must keep taking its messages (a key, a
// click or a drift of the pointer closes the saver at once, and the host's
// message loop is a plain GetMessage loop), so it never waits for the
// display itself. The clock's thread waits instead, for the compositor's
// next present (DwmFlush) or on a waitable timer, and then posts `message`
// to the window; the window runs that refresh (ticks and a frame) and tells
// the clock when it wants the next one (Schedule). One refresh message at a
// time: the next is posted only once the window has run the last one and the
// wait is over. The message loop takes posted messages before input, so
// between refreshes the queue holds no refresh and input gets through; a
// window that finds input waiting after a refresh schedules the next one
// only after the input (win32/SaverWindow.cpp).
//
// Waiting:
//   - after the present (smooth motion on a composited desktop): DwmFlush,
//     which returns once the compositor has shown what the window drew
//     (dwmapi.dll, loaded at run time: the saver starts without it). One
//     that fails, or comes back at once (a DwmFlush that does not wait), is
//     followed by the timer until a refresh period after the last refresh
//     (saverlogic::AfterPresentWait);
//   - otherwise until the time given, on a high-resolution waitable timer
//     (CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, Windows 10 1803 on), else a
//     plain waitable timer (the system's timer resolution, about 15.6 ms),
//     else a timed wait.
// Without a thread (it could not be made) the clock falls back to the
// window's own timer: Schedule sets timer kTimerId on the window, whose
// WM_TIMER the window runs as a refresh (after killing the timer).
//
// Times are microseconds of NowMicroseconds. Callers: the saver window.
#pragma once

#include <windows.h>

#include <cstdint>

// Microseconds since the process started, from the performance counter
// (monotonic).
int64_t NowMicroseconds();

// The refresh period of the monitor (EnumDisplaySettings' current
// dmDisplayFrequency; 60 Hz when it is 0, 1 or not known).
int64_t MonitorRefreshMicroseconds(HMONITOR monitor);

// True when the desktop is composited (DwmIsCompositionEnabled; always on
// Windows 8 and later), so that DwmFlush waits for the next present.
bool DesktopComposited();

class RefreshClock {
public:
    // The window's timer when the clock runs without a thread.
    static constexpr UINT_PTR kTimerId = 1;

    RefreshClock() = default;
    ~RefreshClock() { Stop(); }
    RefreshClock(const RefreshClock&) = delete;
    RefreshClock& operator=(const RefreshClock&) = delete;

    // Starts the thread that posts `message` (no parameters) to `window`;
    // false when it could not (the window's timer then stands in). Nothing
    // is posted before the first Schedule.
    bool Start(HWND window, UINT message, int64_t refreshMicroseconds);
    // Ends the thread (waiting a moment for it; one stuck in DwmFlush is
    // left to end by itself, with nothing of the window's) and the timer.
    // Refresh messages still queued are then to be ignored.
    void Stop();

    // The window takes a refresh message: the thread may post the next one
    // once the next Schedule says when.
    void Taken();
    // The next refresh: at `due` (NowMicroseconds), or with `afterPresent`
    // at the compositor's next present. A Schedule while a refresh message
    // is still queued only changes when the one after it comes.
    void Schedule(int64_t due, bool afterPresent);
    // The display's refresh period (for the present check).
    void SetRefresh(int64_t refreshMicroseconds);

    bool threaded() const { return shared_ != nullptr; }

private:
    struct Shared;
    Shared* shared_ = nullptr;
    HANDLE thread_ = nullptr;
    HWND window_ = nullptr;  // for the timer without a thread
    bool timerSet_ = false;
};
