// The Win32 saver window's clock, refresh rate, present check and pacing
// plan, checked natively.
#include <gtest/gtest.h>

#include <cstdint>

#include "app/Pacing.h"
#include "app/Settings.h"
#include "win32/SaverLogic.h"

using saverlogic::AfterPresentWait;
using saverlogic::CounterMicroseconds;
using saverlogic::PlanWindowPacing;
using saverlogic::RefreshMicroseconds;
using saverlogic::WaitMilliseconds;
using saverlogic::WindowPacing;

TEST(SaverClock, CounterMicrosecondsIsExactForLongUptimes) {
    EXPECT_EQ(CounterMicroseconds(0, 10000000), 0);
    EXPECT_EQ(CounterMicroseconds(15, 10000000), 1);  // truncated
    EXPECT_EQ(CounterMicroseconds(3579545, 3579545), 1000000);
    EXPECT_EQ(CounterMicroseconds(3579546, 3579545), 1000000);
    // 30 days of a 10 MHz counter: counter x 10^6 would overflow 64 bits.
    const int64_t thirtyDays = int64_t{30} * 86400 * 10000000;
    EXPECT_EQ(CounterMicroseconds(thirtyDays + 7, 10000000), int64_t{30} * 86400 * 1000000);
    // A 3 GHz counter (a CPU's cycle counter) after a year.
    const int64_t frequency = 3000000000;
    const int64_t year = int64_t{365} * 86400;
    EXPECT_EQ(CounterMicroseconds(year * frequency + frequency / 2, frequency),
              year * 1000000 + 500000);
    // No clock, a clock that went back, and the far end saturate.
    EXPECT_EQ(CounterMicroseconds(12345, 0), 0);
    EXPECT_EQ(CounterMicroseconds(-5, 10000000), 0);
    EXPECT_EQ(CounterMicroseconds(INT64_MAX, 1), INT64_MAX);
    EXPECT_EQ(CounterMicroseconds(INT64_MAX, 10000000), INT64_MAX / 10000000 * 1000000 +
                                                            INT64_MAX % 10000000 / 10);
}

TEST(SaverClock, RefreshPeriodOfTheDisplaysRate) {
    EXPECT_EQ(RefreshMicroseconds(60), 16667);
    EXPECT_EQ(RefreshMicroseconds(144), 6944);
    EXPECT_EQ(RefreshMicroseconds(59), 16949);
    EXPECT_EQ(RefreshMicroseconds(1000), 1000);
    // 0 and 1: the hardware's default; beyond 1000 Hz: a broken value.
    EXPECT_EQ(RefreshMicroseconds(0), kDefaultRefreshMicroseconds);
    EXPECT_EQ(RefreshMicroseconds(1), kDefaultRefreshMicroseconds);
    EXPECT_EQ(RefreshMicroseconds(1001), kDefaultRefreshMicroseconds);
    EXPECT_EQ(RefreshMicroseconds(0xFFFFFFFFu), kDefaultRefreshMicroseconds);
}

TEST(SaverClock, APresentThatDidNotWaitIsPacedByTheClock) {
    const int64_t period = 16667;
    // A real present: DwmFlush blocked until it, about a period after the
    // last refresh.
    EXPECT_EQ(AfterPresentWait(100000, 108000, 116600, period, true), 116600);
    EXPECT_EQ(AfterPresentWait(100000, 114000, 114000 + period / 8, period, true),
              114000 + period / 8);
    // One that came back at once (a DwmFlush that does not wait): a period
    // after the last refresh, however long the window drew before.
    EXPECT_EQ(AfterPresentWait(100000, 100010, 100020, period, true), 116667);
    EXPECT_EQ(AfterPresentWait(100000, 112000, 112000 + period / 8 - 1, period, true), 116667);
    // One that failed: the same, or now when drawing took longer.
    EXPECT_EQ(AfterPresentWait(100000, 105000, 105000, period, false), 116667);
    EXPECT_EQ(AfterPresentWait(100000, 130000, 130000, period, false), 130000);
    EXPECT_EQ(AfterPresentWait(100000, 105000, 115000, period, false), 116667);
    // The first, after a refresh far in the past.
    EXPECT_EQ(AfterPresentWait(INT64_MIN / 4, 5, 5, period, true), 5);
    // No period given: 60 Hz.
    EXPECT_EQ(AfterPresentWait(0, 10, 10, 0, true), kDefaultRefreshMicroseconds);
}

TEST(SaverClock, PresentsThatDoNotWaitStayAtTheRefreshRate) {
    // A DwmFlush that never waits, and a window that draws for a varying
    // 2 to 15 ms: still one refresh a period, not one per drawing.
    const int64_t period = 16667;
    for (int64_t drawing = 2000; drawing <= 15000; drawing += 1000) {
        int64_t last = INT64_MIN / 4;
        int64_t now = 0;
        int refreshes = 0;
        while (now < 1000000) {
            const int64_t refresh = AfterPresentWait(last, now, now, period, true);
            last = refresh;
            now = refresh + drawing;  // the window draws, then the flush returns at once
            ++refreshes;
        }
        EXPECT_GE(refreshes, 59) << drawing;
        EXPECT_LE(refreshes, 61) << drawing;
    }
}

TEST(SaverClock, WaitsRoundUpInMilliseconds) {
    EXPECT_EQ(WaitMilliseconds(16667, 1), 17u);
    EXPECT_EQ(WaitMilliseconds(16000, 1), 16u);
    EXPECT_EQ(WaitMilliseconds(1, 1), 1u);
    EXPECT_EQ(WaitMilliseconds(0, 1), 1u);
    EXPECT_EQ(WaitMilliseconds(-40000, 10), 10u);  // overdue: the shortest wait
    EXPECT_EQ(WaitMilliseconds(3000, 10), 10u);
    EXPECT_EQ(WaitMilliseconds(INT64_MAX, 1), 0x7FFFFFFFu);
}

TEST(SaverPacing, SmoothMotionPreviewBatteryAndDisplay) {
    Settings settings;  // "Smooth Motion" 1, "On Battery" 1
    WindowPacing pacing = PlanWindowPacing(settings, false, false, true);
    EXPECT_TRUE(pacing.smooth && pacing.visible && !pacing.landOnOneThread);
    // A preview: one frame a tick whatever the setting.
    pacing = PlanWindowPacing(settings, true, false, true);
    EXPECT_TRUE(!pacing.smooth && pacing.visible);
    // The display off or asleep: nothing at all.
    pacing = PlanWindowPacing(settings, false, false, false);
    EXPECT_FALSE(pacing.visible);
    // On battery, "On Battery" 1: a frame a tick, land on one thread.
    pacing = PlanWindowPacing(settings, false, true, true);
    EXPECT_TRUE(!pacing.smooth && pacing.visible && pacing.landOnOneThread);
    // "On Battery" 0: as on mains.
    settings.onBattery = 0;
    pacing = PlanWindowPacing(settings, false, true, true);
    EXPECT_TRUE(pacing.smooth && pacing.visible && !pacing.landOnOneThread);
    // "On Battery" 2: the last frame stays, with the display on or off.
    settings.onBattery = 2;
    EXPECT_FALSE(PlanWindowPacing(settings, false, true, true).visible);
    EXPECT_TRUE(PlanWindowPacing(settings, false, false, true).visible);
    // "Smooth Motion" 0: a frame a tick everywhere.
    settings.smoothMotion = 0;
    EXPECT_FALSE(PlanWindowPacing(settings, false, false, true).smooth);
}

TEST(SaverPower, DisplayStateAndPowerSource) {
    EXPECT_TRUE(saverlogic::DisplayCanBeSeen(1));
    EXPECT_TRUE(saverlogic::DisplayCanBeSeen(2));  // dimmed
    EXPECT_FALSE(saverlogic::DisplayCanBeSeen(0));
    EXPECT_TRUE(saverlogic::RunsOnBattery(0));
    EXPECT_FALSE(saverlogic::RunsOnBattery(1));
    EXPECT_FALSE(saverlogic::RunsOnBattery(255));  // not known: mains
}
