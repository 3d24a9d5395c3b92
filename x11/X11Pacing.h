// X11Pacing.h - what the X server tells the saver about the display's pace
// and power: the refresh period of the monitor under a window (RandR), a
// clock that ticks at each refresh (the Present extension's NotifyMSC), and
// whether the monitors are on (DPMS).
//
// The Present clock asks the server for an event at the next refresh ("MSC",
// the media stamp counter) of the window's monitor; the event carries the
// refresh's monotonic time in microseconds (UST). The frames themselves stay
// MIT-SHM images put on the window (x11/X11Platform.h): Present only says
// when. A server without a monitor behind the window (Xvfb, a window off
// screen) runs a fake counter near 60 Hz on a timer.
//
// Built without libXpresent (or libXrandr), the clock is never available
// (the refresh period is then unknown: 60 Hz). Everything runs on the thread
// that owns the Display. Used by x11/X11Saver.cpp.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <string>

// Refresh period in microseconds of the monitor showing the middle of
// `window` (the first active one when none does); 0 when unknown.
int64_t X11RefreshMicroseconds(Display* display, Window window);

class PresentClock {
public:
    // Selects the completion events of `window`; false when the server (or
    // this build) has no Present extension.
    bool Open(Display* display, Window window);
    void Close();
    bool available() const { return eventId_ != 0; }

    // Asks for an event at the next refresh (once: until it came, further
    // requests are ignored, unless `again`: then the earlier request is
    // forgotten, its event ignored when it comes, and a new one sent).
    void Request(bool again = false);
    bool pending() const { return pending_; }
    // When the last request was sent (monotonic microseconds).
    int64_t requestedAt() const { return requestedAt_; }

    // True when `event` is the completion of our request; then `ust` holds
    // the refresh's time (monotonic microseconds) and the request is done.
    // The event's data is taken and freed here.
    bool Completed(XEvent& event, int64_t* ust);

private:
    Display* display_ = nullptr;
    Window window_ = 0;
    int opcode_ = 0;
    unsigned long eventId_ = 0;
    uint32_t serial_ = 0;
    bool pending_ = false;
    int64_t requestedAt_ = 0;
};

// The display's power from DPMS: false while the monitors are in standby,
// suspend or off. A server without DPMS (or with DPMS disabled) says on.
// When GLIDESCAPE_DPMS_FILE names a file, its first word ("on", "standby",
// "suspend", "off") is read instead: servers that run without a monitor
// (Xvfb, Xorg's dummy driver) have no DPMS to turn off, so the tests say
// it there.
class DisplayPower {
public:
    // Asked at most once a second (monotonic microseconds).
    static constexpr int64_t kPollMicroseconds = 1000000;

    void Open(Display* display, const char* overrideFile);
    // On as of the last reading; reads again once a second.
    bool On(int64_t nowMicroseconds);
    bool known() const { return hasDpms_ || !overrideFile_.empty(); }

private:
    bool Read();

    Display* display_ = nullptr;
    bool hasDpms_ = false;
    std::string overrideFile_;
    bool read_ = false;
    int64_t lastRead_ = 0;
    bool on_ = true;
};
