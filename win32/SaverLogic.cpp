// SaverLogic.cpp - clock, refresh rate, present check and the window's
// pacing plan.
#include "win32/SaverLogic.h"

#include <cstdint>

#include "app/Pacing.h"

namespace saverlogic {

namespace {

constexpr int64_t kMicrosecondsPerSecond = 1000000;
constexpr uint32_t kDefaultHertz = 60;
constexpr uint32_t kHighestHertz = 1000;

}  // namespace

int64_t CounterMicroseconds(int64_t counter, int64_t frequency) {
    if (counter <= 0 || frequency <= 0) return 0;
    // Whole seconds and the rest apart: counter x 1000000 alone overflows
    // after a few days of a 10 MHz counter.
    const int64_t seconds = counter / frequency;
    const int64_t rest = counter % frequency;
    if (seconds > (INT64_MAX - kMicrosecondsPerSecond) / kMicrosecondsPerSecond) return INT64_MAX;
    // rest < frequency: rest x 1000000 fits while the frequency is below
    // 9.2 THz; a faster one is split once more.
    int64_t restMicroseconds;
    if (rest <= INT64_MAX / kMicrosecondsPerSecond) {
        restMicroseconds = rest * kMicrosecondsPerSecond / frequency;
    } else {
        restMicroseconds = static_cast<int64_t>(static_cast<double>(rest) /
                                                static_cast<double>(frequency) *
                                                static_cast<double>(kMicrosecondsPerSecond));
    }
    return seconds * kMicrosecondsPerSecond + restMicroseconds;
}

int64_t RefreshMicroseconds(uint32_t hertz) {
    if (hertz <= 1 || hertz > kHighestHertz) hertz = kDefaultHertz;
    return (kMicrosecondsPerSecond + hertz / 2) / hertz;
}

int64_t AfterPresentWait(int64_t lastRefresh, int64_t flushStarted, int64_t now,
                         int64_t refreshMicroseconds, bool flushSucceeded) {
    if (refreshMicroseconds < 1) refreshMicroseconds = kDefaultRefreshMicroseconds;
    if (flushSucceeded && now - flushStarted >= refreshMicroseconds / 8) return now;
    // Not a present: a period after the last refresh, or now when drawing
    // took longer than that.
    const int64_t next = lastRefresh + refreshMicroseconds;
    return next > now ? next : now;
}

uint32_t WaitMilliseconds(int64_t microseconds, uint32_t minimum) {
    int64_t ms = microseconds <= 0 ? 0 : microseconds / 1000 + (microseconds % 1000 != 0 ? 1 : 0);
    if (ms < minimum) ms = minimum;
    if (ms > 0x7FFFFFFF) ms = 0x7FFFFFFF;
    return static_cast<uint32_t>(ms);
}

WindowPacing PlanWindowPacing(const Settings& settings, bool preview, bool onBattery,
                              bool displayOn) {
    const PowerPlan power = PlanPower(settings, onBattery);
    WindowPacing pacing;
    pacing.smooth = power.smooth && !preview;
    pacing.visible = power.drawing && displayOn;
    pacing.landOnOneThread = power.landOnOneThread;
    return pacing;
}

}  // namespace saverlogic
