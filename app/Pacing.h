// Pacing.h - when a front end ticks its flights and when it draws.
//
// The flight advances in ticks of 40 ms (25 a second) whatever the display
// does; a front end shows it at the display's pace. FramePacer turns the
// monotonic clock of each refresh (a presentation callback, an animation
// frame, a vertical-blank wait or a timer at the refresh rate) into what to
// do there:
//   - the ticks that fell due since the last refresh (one, or a few after a
//     short stall; after a long one, such as a hidden page, a sleeping
//     display or a process stopped with SIGSTOP, one tick and the schedule
//     starts again from now, so there is never a burst of catch-up ticks);
//   - whether to draw, and at which fraction of the way from the last tick
//     to the next (in 1/65536, 0 ... 65535).
// With smooth motion off it draws once per tick, at the first refresh after
// it, exactly as the savers always did. With smooth motion on it draws at
// every refresh, or, when a drawing takes longer than a refresh, at every
// second (third, ...) refresh, evenly, rather than dropping refreshes at
// random. Nothing is drawn while the front end says nobody can see it; the
// schedule then waits and starts afresh when it can be seen again.
//
// Pure logic on microseconds given by the caller: the tests step the clock
// by hand. Callers: every front end's scheduler (x11/, win32/, web/).
#pragma once

#include <cstdint>

#include "app/Settings.h"
#include "base/Units.h"  // kFractionOne: a fraction of a tick is 0 ... kFractionOne - 1

// Microseconds of one tick of the flight.
constexpr int64_t kTickMicroseconds = 40000;
// Refresh period assumed when the display does not say (60 Hz).
constexpr int64_t kDefaultRefreshMicroseconds = 16667;
// A stall longer than this (five ticks) is not caught up.
constexpr int64_t kLongestCatchUpMicroseconds = 200000;

struct PacerStep {
    int32_t ticks = 0;        // ticks to run now, before drawing
    bool draw = false;        // draw a frame now
    int32_t fraction = 0;     // where between the last tick and the next (smooth only)
    bool restarted = false;   // the schedule started afresh (first step, or after a stall)
};

class FramePacer {
public:
    // Smooth: a frame at every refresh (or every n-th, evenly); otherwise one
    // frame per tick. refreshMicroseconds below 1 means unknown (60 Hz).
    void Configure(bool smooth, int64_t refreshMicroseconds);
    bool smooth() const { return smooth_; }
    int64_t refreshMicroseconds() const { return refreshUs_; }

    // A refresh at `now`: what to do. The first call (after construction,
    // Restart or the view becoming visible) runs one tick at once.
    PacerStep OnRefresh(int64_t now);

    // How long the last drawing took; drawing every n-th refresh follows it
    // (an average over the last few drawings).
    void DrawTook(int64_t microseconds);
    // Refreshes between drawings now: 1, 2, 3...
    int32_t drawEvery() const { return drawEvery_; }

    // Nobody can see the picture (display off, window covered or unmapped,
    // page hidden): no ticks, no drawings until it can be seen again, and
    // then the schedule starts afresh from that moment.
    void SetVisible(bool visible);
    bool visible() const { return visible_; }

    // Forget the schedule: the next refresh runs a tick at once.
    void Restart();

    // For a front end that waits on a timer: when to wake next, at or after
    // `now`: the next tick, or while smooth the next refresh only (a tick
    // runs at the refresh after it); one second on while nothing can be
    // seen.
    int64_t NextWakeUp(int64_t now) const;

private:
    bool smooth_ = true;
    int64_t refreshUs_ = kDefaultRefreshMicroseconds;
    bool visible_ = true;
    bool started_ = false;
    int64_t nextTick_ = 0;    // when the next tick falls due
    int64_t lastRefresh_ = 0;
    int64_t averageDrawUs_ = 0;
    int32_t drawEvery_ = 1;
    int32_t sinceDraw_ = 0;   // refreshes since the last drawing
    bool tickedSinceDraw_ = false;
};

// What a front end does by its settings and its power: on mains (or where
// nothing is known of a battery) smooth motion as the setting says; on
// battery by "On Battery": 0 as on mains, 1 one frame a tick and landscapes
// made on one thread, 2 the last frame stays and nothing more is drawn or
// made until mains power returns.
struct PowerPlan {
    bool smooth = true;
    bool drawing = true;  // false: no ticks, no drawings (as when unseen)
    bool landOnOneThread = false;
};
PowerPlan PlanPower(const Settings& settings, bool onBattery);

// A front end's pacing from what it knows: smooth motion where the flight
// was made smooth ("Smooth Motion") and the power plan allows it, the
// display's refresh period (below 1: unknown, 60 Hz), and drawing while the
// power plan draws and somebody can see the picture (`seen`: the window is
// mapped and not fully covered, the display is on). The pacer is configured
// anew only when its smoothness or refresh period change, so a battery check
// that changes nothing keeps the drawing cadence. True when the pacer draws.
bool ApplyPacing(FramePacer& pacer, const PowerPlan& plan, bool flightSmooth,
                 int64_t refreshMicroseconds, bool seen);
