#include "app/Pacing.h"

namespace {

// A drawing may take this share of a refresh before frames go to every
// second refresh: the rest is the platform's (the scaling, the put).
constexpr int64_t kDrawBudgetPercent = 90;
// While nothing can be seen, a timer front end looks again this often.
constexpr int64_t kHiddenWakeMicroseconds = 1000000;

}  // namespace

void FramePacer::Configure(bool smooth, int64_t refreshMicroseconds) {
    smooth_ = smooth;
    refreshUs_ = refreshMicroseconds > 0 ? refreshMicroseconds : kDefaultRefreshMicroseconds;
    drawEvery_ = 1;
    averageDrawUs_ = 0;
    sinceDraw_ = 0;
}

void FramePacer::Restart() {
    started_ = false;
    sinceDraw_ = 0;
}

void FramePacer::SetVisible(bool visible) {
    if (visible && !visible_) Restart();
    visible_ = visible;
}

PacerStep FramePacer::OnRefresh(int64_t now) {
    PacerStep step;
    if (!visible_) return step;
    lastRefresh_ = now;
    if (!started_) {
        started_ = true;
        step.ticks = 1;
        step.restarted = true;
        nextTick_ = now + kTickMicroseconds;
    } else if (now >= nextTick_) {
        const int64_t late = now - nextTick_;
        if (late > kLongestCatchUpMicroseconds) {
            // A stall (a stopped process, a sleeping machine): fly on from
            // here rather than race through what was missed.
            step.ticks = 1;
            step.restarted = true;
            nextTick_ = now + kTickMicroseconds;
        } else {
            const int64_t due = 1 + late / kTickMicroseconds;
            step.ticks = static_cast<int32_t>(due);
            nextTick_ += due * kTickMicroseconds;
        }
    }
    if (step.ticks > 0) tickedSinceDraw_ = true;

    if (!smooth_) {
        step.draw = tickedSinceDraw_;
    } else {
        ++sinceDraw_;
        step.draw = sinceDraw_ >= drawEvery_;
        const int64_t sinceTick = now - (nextTick_ - kTickMicroseconds);
        int64_t fraction = sinceTick * kFractionOne / kTickMicroseconds;
        if (fraction < 0) fraction = 0;
        if (fraction >= kFractionOne) fraction = kFractionOne - 1;
        step.fraction = static_cast<int32_t>(fraction);
    }
    if (step.draw) {
        sinceDraw_ = 0;
        tickedSinceDraw_ = false;
    }
    return step;
}

void FramePacer::DrawTook(int64_t microseconds) {
    if (microseconds < 0) microseconds = 0;
    // An average over the last few drawings: one slow frame does not halve
    // the frame rate, a steady cost does.
    averageDrawUs_ = averageDrawUs_ == 0 ? microseconds : (averageDrawUs_ * 3 + microseconds) / 4;
    const int64_t budget = refreshUs_ * kDrawBudgetPercent / 100;
    int64_t every = budget > 0 ? 1 + averageDrawUs_ / budget : 1;
    // Never fewer drawings than one a tick: slower than that, in-between
    // frames show nothing a tick's frame does not.
    const int64_t mostEvery = (kTickMicroseconds + refreshUs_ - 1) / refreshUs_;
    if (every > mostEvery) every = mostEvery;
    if (every < 1) every = 1;
    drawEvery_ = static_cast<int32_t>(every);
}

int64_t FramePacer::NextWakeUp(int64_t now) const {
    if (!visible_) return now + kHiddenWakeMicroseconds;
    if (!started_) return now;
    if (!smooth_) return nextTick_ < now ? now : nextTick_;
    // Smooth: only refreshes, on the grid of the last one; a tick that falls
    // due in between runs at the refresh after it (its frame is drawn at the
    // fraction that refresh lies into it), so nothing is drawn off the grid.
    int64_t refresh = lastRefresh_ + refreshUs_;
    if (refresh < now) refresh = now + refreshUs_ - (now - lastRefresh_) % refreshUs_;
    return refresh;
}

PowerPlan PlanPower(const Settings& settings, bool onBattery) {
    PowerPlan plan;
    plan.smooth = settings.smoothMotion != 0;
    if (!onBattery) return plan;
    switch (settings.onBattery) {
        case 1:
            plan.smooth = false;
            plan.landOnOneThread = true;
            break;
        case 2:
            plan.drawing = false;
            break;
        default:
            break;
    }
    return plan;
}

bool ApplyPacing(FramePacer& pacer, const PowerPlan& plan, bool flightSmooth,
                 int64_t refreshMicroseconds, bool seen) {
    const bool smooth = plan.smooth && flightSmooth;
    const int64_t refresh =
        refreshMicroseconds > 0 ? refreshMicroseconds : kDefaultRefreshMicroseconds;
    if (smooth != pacer.smooth() || refresh != pacer.refreshMicroseconds()) {
        pacer.Configure(smooth, refresh);
    }
    const bool drawing = plan.drawing && seen;
    pacer.SetVisible(drawing);
    return drawing;
}
