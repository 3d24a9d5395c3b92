// The pacer with the clock stepped by hand: the flight keeps 25 ticks a
// second at every refresh rate, frames follow the display, stalls are not
// caught up in a burst, and nothing happens while nobody can see it.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "app/Pacing.h"

namespace {

struct Totals {
    int64_t ticks = 0;
    int64_t draws = 0;
    std::vector<int32_t> fractions;  // of the drawings
    std::vector<int64_t> drawTimes;
};

// Refreshes every `period` microseconds from `start` for `duration`.
Totals Refreshes(FramePacer& pacer, int64_t start, int64_t duration, int64_t period) {
    Totals totals;
    for (int64_t now = start; now < start + duration; now += period) {
        const PacerStep step = pacer.OnRefresh(now);
        totals.ticks += step.ticks;
        if (step.draw) {
            ++totals.draws;
            totals.fractions.push_back(step.fraction);
            totals.drawTimes.push_back(now);
        }
    }
    return totals;
}

TEST(Pacing, TheFlightKeepsItsTicksAtEveryRefreshRate) {
    // Ten seconds: the first tick at once, then one every 40 ms.
    for (const int64_t period : {int64_t{16667}, int64_t{6944}, int64_t{4167}, int64_t{40000},
                                 int64_t{33333}, int64_t{100000}}) {
        for (const bool smooth : {false, true}) {
            SCOPED_TRACE(period);
            SCOPED_TRACE(smooth);
            FramePacer pacer;
            pacer.Configure(smooth, period);
            const Totals totals = Refreshes(pacer, 1000000, 10000000, period);
            // Every tick due by the last refresh ran: one at the start, then
            // one each 40 ms.
            const int64_t last = (10000000 - 1) / period * period;
            EXPECT_EQ(totals.ticks, last / kTickMicroseconds + 1);
        }
    }
}

TEST(Pacing, SmoothOffDrawsOncePerTickAtTheFirstRefreshAfterIt) {
    FramePacer pacer;
    pacer.Configure(false, 16667);
    const Totals totals = Refreshes(pacer, 0, 1000000, 16667);
    EXPECT_EQ(totals.draws, totals.ticks);
    for (const int32_t fraction : totals.fractions) EXPECT_EQ(fraction, 0);
    // Every drawing comes within one refresh of its tick.
    for (size_t i = 0; i < totals.drawTimes.size(); ++i) {
        const int64_t tick = static_cast<int64_t>(i) * kTickMicroseconds;
        EXPECT_GE(totals.drawTimes[i], tick);
        EXPECT_LT(totals.drawTimes[i], tick + 16667);
    }
}

TEST(Pacing, SmoothDrawsEveryRefreshWithFractionsThatFollowTheClock) {
    FramePacer pacer;
    pacer.Configure(true, 16667);
    const Totals totals = Refreshes(pacer, 0, 1000000, 16667);
    EXPECT_EQ(totals.draws, 60);
    for (size_t i = 0; i < totals.fractions.size(); ++i) {
        // The refresh at t lies (t mod 40 ms) into its tick.
        const int64_t t = static_cast<int64_t>(i) * 16667;
        const int64_t expected = (t % kTickMicroseconds) * kFractionOne / kTickMicroseconds;
        EXPECT_EQ(totals.fractions[i], expected) << i;
        EXPECT_GE(totals.fractions[i], 0);
        EXPECT_LT(totals.fractions[i], kFractionOne);
    }
}

TEST(Pacing, SlowDrawingsGoToEverySecondRefreshEvenly) {
    FramePacer pacer;
    pacer.Configure(true, 16667);
    for (int i = 0; i < 8; ++i) pacer.DrawTook(20000);  // longer than a refresh
    EXPECT_EQ(pacer.drawEvery(), 2);
    Totals totals = Refreshes(pacer, 0, 1000000, 16667);
    EXPECT_EQ(totals.draws, 30);
    for (size_t i = 1; i < totals.drawTimes.size(); ++i) {
        EXPECT_EQ(totals.drawTimes[i] - totals.drawTimes[i - 1], 2 * 16667);
    }
    // Beyond a tick per drawing there is no point in smoothness: one a tick.
    for (int i = 0; i < 8; ++i) pacer.DrawTook(90000);
    EXPECT_EQ(pacer.drawEvery(), 3);
    // Fast again: every refresh.
    for (int i = 0; i < 16; ++i) pacer.DrawTook(3000);
    EXPECT_EQ(pacer.drawEvery(), 1);
}

TEST(Pacing, AShortStallIsCaughtUpALongOneIsNot) {
    FramePacer pacer;
    pacer.Configure(false, 16667);
    EXPECT_EQ(pacer.OnRefresh(0).ticks, 1);
    // 130 ms late: ticks due at 40, 80 and 120 ms.
    PacerStep step = pacer.OnRefresh(130000);
    EXPECT_EQ(step.ticks, 3);
    EXPECT_FALSE(step.restarted);
    // Stopped for five seconds (SIGSTOP): one tick, and the schedule starts
    // again from then.
    step = pacer.OnRefresh(5130000);
    EXPECT_EQ(step.ticks, 1);
    EXPECT_TRUE(step.restarted);
    EXPECT_TRUE(step.draw);
    EXPECT_EQ(pacer.OnRefresh(5130000 + 39999).ticks, 0);
    EXPECT_EQ(pacer.OnRefresh(5130000 + 40000).ticks, 1);
}

TEST(Pacing, NothingWhileNobodyCanSeeAndAFreshStartAfter) {
    FramePacer pacer;
    pacer.Configure(true, 16667);
    EXPECT_EQ(pacer.OnRefresh(0).ticks, 1);
    pacer.SetVisible(false);
    const Totals hidden = Refreshes(pacer, 16667, 3000000, 16667);
    EXPECT_EQ(hidden.ticks, 0);
    EXPECT_EQ(hidden.draws, 0);
    // A timer front end wakes at most once a second meanwhile.
    EXPECT_EQ(pacer.NextWakeUp(3000000), 4000000);
    pacer.SetVisible(true);
    EXPECT_EQ(pacer.NextWakeUp(3000000), 3000000);
    const PacerStep step = pacer.OnRefresh(3000000);
    EXPECT_EQ(step.ticks, 1);
    EXPECT_TRUE(step.restarted);
    EXPECT_TRUE(step.draw);
}

TEST(Pacing, ATimerFrontEndWakesForTheNextTickOrRefresh) {
    FramePacer off;
    off.Configure(false, 16667);
    off.OnRefresh(0);
    EXPECT_EQ(off.NextWakeUp(1000), 40000);
    FramePacer smooth;
    smooth.Configure(true, 16667);
    smooth.OnRefresh(0);
    EXPECT_EQ(smooth.NextWakeUp(1000), 16667);
    smooth.OnRefresh(33334);
    // Only refreshes: the tick at 40 ms runs at the refresh after it.
    EXPECT_EQ(smooth.NextWakeUp(33334), 50001);
    const PacerStep step = smooth.OnRefresh(50001);
    EXPECT_EQ(step.ticks, 1);
    EXPECT_EQ(step.fraction, (50001 - 40000) * 65536 / 40000);
    // Woken late: the next refresh on the grid, never in the past.
    EXPECT_EQ(smooth.NextWakeUp(70000), 83335);
}

TEST(Pacing, OnBatteryTheSettingDecides) {
    Settings settings;
    PowerPlan plan = PlanPower(settings, false);
    EXPECT_TRUE(plan.smooth && plan.drawing && !plan.landOnOneThread);
    plan = PlanPower(settings, true);  // "On Battery" 1, the default
    EXPECT_TRUE(!plan.smooth && plan.drawing && plan.landOnOneThread);
    settings.onBattery = 2;
    EXPECT_FALSE(PlanPower(settings, true).drawing);
    EXPECT_TRUE(PlanPower(settings, false).drawing);
    settings.onBattery = 0;
    settings.smoothMotion = 0;
    plan = PlanPower(settings, true);
    EXPECT_TRUE(!plan.smooth && plan.drawing && !plan.landOnOneThread);
}

// The front ends' state into the pacer: smooth only where both the flight and
// the power plan are, drawing only while seen, and a battery check that
// changes nothing leaves the drawing cadence alone.
TEST(Pacing, ApplyPacingFollowsThePlanTheFlightAndTheView) {
    Settings settings;
    FramePacer pacer;
    const PowerPlan mains = PlanPower(settings, false);
    EXPECT_TRUE(ApplyPacing(pacer, mains, true, 6944, true));
    EXPECT_TRUE(pacer.smooth());
    EXPECT_EQ(pacer.refreshMicroseconds(), 6944);
    // A steady cost of three refreshes a drawing: every third refresh.
    for (int i = 0; i < 20; ++i) pacer.DrawTook(16000);
    EXPECT_EQ(pacer.drawEvery(), 3);
    EXPECT_TRUE(ApplyPacing(pacer, mains, true, 6944, true));
    EXPECT_EQ(pacer.drawEvery(), 3);
    // A flight made without smooth motion is never drawn in between.
    EXPECT_TRUE(ApplyPacing(pacer, mains, false, 6944, true));
    EXPECT_FALSE(pacer.smooth());
    // Unknown refresh: 60 Hz.
    EXPECT_TRUE(ApplyPacing(pacer, mains, true, 0, true));
    EXPECT_TRUE(pacer.smooth());
    EXPECT_EQ(pacer.refreshMicroseconds(), kDefaultRefreshMicroseconds);
    // On battery ("On Battery" 1): a frame a tick.
    EXPECT_TRUE(ApplyPacing(pacer, PlanPower(settings, true), true, 16667, true));
    EXPECT_FALSE(pacer.smooth());
    // Covered, unmapped or a display that is off: nothing; "On Battery" 2
    // on battery: nothing even when seen.
    EXPECT_FALSE(ApplyPacing(pacer, mains, true, 16667, false));
    EXPECT_FALSE(pacer.visible());
    EXPECT_EQ(pacer.OnRefresh(0).ticks, 0);
    settings.onBattery = 2;
    EXPECT_FALSE(ApplyPacing(pacer, PlanPower(settings, true), true, 16667, true));
    EXPECT_FALSE(pacer.visible());
    // Seen again: a tick at once.
    EXPECT_TRUE(ApplyPacing(pacer, PlanPower(settings, false), true, 16667, true));
    const PacerStep step = pacer.OnRefresh(5000000);
    EXPECT_EQ(step.ticks, 1);
    EXPECT_TRUE(step.restarted);
}

}  // namespace
