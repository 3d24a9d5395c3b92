// Land generation on a flight's worker thread: the same maps and frames as
// inline, progress and Shift on the window's thread while the worker runs,
// and a close at any point of a generation.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "app/FrameLoop.h"
#include "app/Settings.h"
#include "land/LandGenerator.h"
#include "land/LandPipeline.h"
#include "tests/app/TestPlatform.h"
#include "view/FlightView.h"

namespace {

// What a tick left, for comparing flights.
struct Snapshot {
    TickResult result;
    uint64_t frame;
    uint64_t heights;
    uint64_t colours;
    uint32_t randomState;
    int32_t waterLevel;
    bool operator==(const Snapshot& o) const {
        return result == o.result && frame == o.frame && heights == o.heights &&
               colours == o.colours && randomState == o.randomState && waterLevel == o.waterLevel;
    }
};

Snapshot Take(const Flight& flight, TickResult result) {
    const FrameLoopState& s = flight.frameLoop;
    const int64_t cells = int64_t{s.landSide} * s.landSide;
    return {result,
            Fnv1a(s.framePixels, int64_t{flight.settings.outputWidth} * s.outputHeight),
            Fnv1a(reinterpret_cast<const uint32_t*>(s.heightMapPixels), cells),
            Fnv1a(s.colourMapPixels, cells),
            s.flightView->randomState,
            s.flightView->waterLevel};
}

void WaitForWorker(const Flight& flight) {
    while (!flight.WorkerDone()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// A flight over `ticks` ticks that count: ticks that found the worker still
// busy are left out, so an inline and a worker flight line up tick by tick.
std::vector<Snapshot> Fly(Generation generation, const Settings& settings, int ticks) {
    TestPlatform platform;
    platform.calendarSeconds = 555;
    platform.millisecondTime = 77;
    Flight flight;
    EXPECT_TRUE(flight.Create(platform, settings, 160, 120, 0, generation));
    std::vector<Snapshot> snapshots;
    int generating = 0;
    while (static_cast<int>(snapshots.size()) < ticks) {
        const TickResult result = flight.Tick();
        if (result == TickResult::Generating) {
            ++generating;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        // The tick that starts the worker returns while it writes the maps:
        // they are compared from the next tick on.
        snapshots.push_back(result == TickResult::Generated ? Snapshot{result, 0, 0, 0, 0, 0}
                                                            : Take(flight, result));
        if (result == TickResult::Generated) ++platform.calendarSeconds;
    }
    EXPECT_EQ(generation == Generation::Worker, platform.workersStarted > 0);
    if (generation == Generation::Inline) {
        EXPECT_EQ(generating, 0);
    }
    return snapshots;
}

TEST(Worker, GivesExactlyTheInlineMapsViewStateAndFrames) {
    for (int32_t landSize : {6, 8}) {
        SCOPED_TRACE(landSize);
        Settings settings = SmallTestSettings();
        settings.landSize = landSize;
        settings.newlandWait = 1;
        const std::vector<Snapshot> inline_ = Fly(Generation::Inline, settings, 60);
        const std::vector<Snapshot> worker = Fly(Generation::Worker, settings, 60);
        ASSERT_EQ(worker.size(), inline_.size());
        for (size_t i = 0; i < worker.size(); ++i) {
            ASSERT_EQ(worker[i], inline_[i]) << "tick " << i;
        }
        EXPECT_EQ(inline_[0].result, TickResult::Generated);
        EXPECT_EQ(inline_[26].result, TickResult::Generated);
        EXPECT_EQ(inline_[1].result, TickResult::DrewFrame);
        EXPECT_EQ(inline_[1].waterLevel, 25);
        EXPECT_EQ(inline_[1].randomState, 555u);
    }
}

class HeldWorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform.holdWorkers = true;
        settings.newlandWait = 1;
        ASSERT_TRUE(flight.Create(platform, settings, 128, 96, 0, Generation::Worker));
    }
    void TearDown() override {
        flight.Destroy();
        EXPECT_EQ(platform.pixelsLive, 0);
    }
    std::vector<int32_t> Heights() const {
        return {flight.frameLoop.heightMapPixels, flight.frameLoop.heightMapPixels + 64 * 64};
    }

    Settings settings = SmallTestSettings();
    TestPlatform platform;
    Flight flight;
};

TEST_F(HeldWorkerTest, TicksShowProgressUntilTheWorkerIsDoneThenFlyAtOnce) {
    platform.calendarSeconds = 31;
    EXPECT_EQ(flight.Tick(), TickResult::Generated);
    EXPECT_TRUE(flight.WorkerRunning());
    EXPECT_EQ(platform.shiftQueries, 1);  // the tick's discarded query
    // The progress texts come from the window's ticks at the 128 ms cadence.
    platform.clock = {100};
    EXPECT_EQ(flight.Tick(), TickResult::Generating);
    EXPECT_TRUE(platform.texts.empty());
    platform.clock = {130};
    EXPECT_EQ(flight.Tick(), TickResult::Generating);
    ASSERT_EQ(platform.texts.size(), 3u);
    EXPECT_EQ(platform.texts[2].text, "Processing...");
    EXPECT_EQ(flight.Tick(), TickResult::Generating);  // same 128 ms slot
    EXPECT_EQ(platform.texts.size(), 3u);
    EXPECT_EQ(platform.shiftQueries, 4);
    EXPECT_EQ(flight.frameLoop.newLandCountdown, 25);  // waiting ticks do not count
    EXPECT_EQ(platform.blits, 0);

    platform.RunHeldWorker();
    EXPECT_TRUE(flight.WorkerDone());
    EXPECT_EQ(flight.Tick(), TickResult::DrewFrame);
    EXPECT_FALSE(flight.WorkerRunning());
    EXPECT_EQ(platform.blits, 1);
    EXPECT_EQ(flight.frameLoop.flightView->waterLevel, 25);
    EXPECT_EQ(flight.frameLoop.newLandCountdown, 24);
    std::vector<int32_t> heights(64 * 64);
    std::vector<uint32_t> colours(64 * 64);
    LandGenerator land(64, 64, heights.data(), colours.data(), 0, 255, nullptr);
    ASSERT_EQ(RunLandPipeline(land, 31, nullptr), 13);
    EXPECT_EQ(Heights(), heights);
}

TEST_F(HeldWorkerTest, ShiftStopsThisLandscapeOnlyAndTheNextCountdownMakesANewOne) {
    EXPECT_EQ(flight.Tick(), TickResult::Generated);
    platform.shiftPressed = true;
    EXPECT_EQ(flight.Tick(), TickResult::Generating);
    ASSERT_FALSE(platform.texts.empty());
    EXPECT_EQ(platform.texts.back().text, "Processing... Stopping");
    EXPECT_EQ(flight.newLand.abortGeneration, 1);
    // The worker finds the abort at its first poll: FillMap writes nothing.
    platform.RunHeldWorker();
    EXPECT_EQ(flight.WorkerPolls(), 1);
    EXPECT_EQ(flight.Tick(), TickResult::DrewFrame);
    EXPECT_EQ(flight.frameLoop.flightView->waterLevel, 0);
    for (int i = 0; i < 24; ++i) ASSERT_EQ(flight.Tick(), TickResult::DrewFrame);
    platform.calendarSeconds = 32;
    EXPECT_EQ(flight.Tick(), TickResult::Generated);
    EXPECT_EQ(flight.newLand.abortGeneration, 0);
    platform.RunHeldWorker();
    EXPECT_EQ(flight.Tick(), TickResult::DrewFrame);
    EXPECT_EQ(flight.frameLoop.flightView->waterLevel, 25);
    EXPECT_EQ(flight.frameLoop.flightView->randomState, 32u);
}

TEST_F(HeldWorkerTest, DestroyDuringGenerationStopsTheWorkerBeforeItsFirstPoll) {
    EXPECT_EQ(flight.Tick(), TickResult::Generated);
    flight.Destroy();  // runs the held worker, which sees the close at once
    // The fill's first abandon check comes before its first poll.
    EXPECT_EQ(flight.WorkerPolls(), 0);
    EXPECT_FALSE(flight.WorkerRunning());
    EXPECT_EQ(platform.pixelsLive, 0);
}

// What a window of several flights does before it destroys them: every
// worker is told at once and gives its generation up at once (here before
// its first poll), without a wait; a request while no worker runs leaves
// later generations alone.
TEST_F(HeldWorkerTest, RequestStopEndsTheRunningGenerationAtOnceOnly) {
    flight.RequestStop();
    EXPECT_EQ(flight.Tick(), TickResult::Generated);
    flight.RequestStop();
    EXPECT_TRUE(flight.WorkerRunning());  // nothing waited for it
    platform.RunHeldWorker();
    EXPECT_EQ(flight.WorkerPolls(), 0);
    flight.Destroy();
    EXPECT_EQ(platform.pixelsLive, 0);

    ASSERT_TRUE(flight.Create(platform, settings, 128, 96, 0, Generation::Worker));
    flight.RequestStop();
    EXPECT_EQ(flight.Tick(), TickResult::Generated);
    platform.RunHeldWorker();
    EXPECT_GT(flight.WorkerPolls(), 100);
    EXPECT_EQ(flight.Tick(), TickResult::DrewFrame);
    EXPECT_EQ(flight.frameLoop.flightView->waterLevel, 25);
}

TEST(Worker, WithoutThreadsTheLandIsMadeInline) {
    TestPlatform platform;
    platform.noThreads = true;
    Flight flight;
    ASSERT_TRUE(flight.Create(platform, SmallTestSettings(), 128, 96, 0, Generation::Worker));
    EXPECT_EQ(flight.Tick(), TickResult::Generated);
    EXPECT_FALSE(flight.WorkerRunning());
    EXPECT_EQ(flight.frameLoop.flightView->waterLevel, 25);
    EXPECT_EQ(flight.Tick(), TickResult::DrewFrame);
}

// An abort at every poll of a whole landscape: the worker unwinds from there
// (the sanitizer build checks for leaks and stray accesses), the flight flies
// on, and a close right after the abort (every 16th poll point, each
// followed by a fresh flight) releases everything.
TEST(Worker, AbandonAtEveryPollPointLeavesNothingBehind) {
    TestPlatform platform;
    Flight flight;
    ASSERT_TRUE(flight.Create(platform, SmallTestSettings(), 128, 96, 0, Generation::Worker));
    ASSERT_EQ(flight.Tick(), TickResult::Generated);
    WaitForWorker(flight);
    const int64_t polls = flight.WorkerPolls();
    ASSERT_GT(polls, 100);

    for (int64_t poll = 1; poll <= polls; ++poll) {
        flight.frameLoop.newLandCountdown = 0;
        flight.AbortWorkerAtPoll(poll);
        ASSERT_EQ(flight.Tick(), TickResult::Generated);
        WaitForWorker(flight);
        ASSERT_GE(flight.WorkerPolls(), poll);  // an operation may poll again on its way out
        if (poll % 16 == 0) {
            flight.Destroy();
            ASSERT_EQ(platform.pixelsLive, 0) << poll;
            ASSERT_TRUE(
                flight.Create(platform, SmallTestSettings(), 128, 96, 0, Generation::Worker));
            ASSERT_EQ(flight.Tick(), TickResult::Generated);
            WaitForWorker(flight);
        }
        ASSERT_NE(flight.Tick(), TickResult::Generating) << poll;
    }
    flight.AbortWorkerAtPoll(0);
    flight.Destroy();
    EXPECT_EQ(platform.pixelsLive, 0);
}

// A close at every abandon check of a whole landscape (on the worker and the
// pool's threads): the worker gives the generation up there, with no further
// poll, and the flight's close releases everything (the sanitizer build
// checks for leaks and stray accesses on each way out).
TEST(Worker, CloseAtEveryAbandonCheckStopsTheWorkerThere) {
    TestPlatform platform;
    Flight flight;
    ASSERT_TRUE(flight.Create(platform, SmallTestSettings(), 128, 96, 2, Generation::Worker));
    flight.AbandonWorkerAtCheck(INT64_MAX);  // counts the checks, never abandons
    ASSERT_EQ(flight.Tick(), TickResult::Generated);
    WaitForWorker(flight);
    const int64_t checks = flight.WorkerAbandonChecks();
    const int64_t polls = flight.WorkerPolls();
    ASSERT_GT(checks, 100);
    ASSERT_EQ(flight.Tick(), TickResult::DrewFrame);

    int64_t lastPolls = 0;
    for (int64_t check = 1; check <= checks; ++check) {
        ASSERT_TRUE(flight.Create(platform, SmallTestSettings(), 128, 96, 2, Generation::Worker));
        flight.AbandonWorkerAtCheck(check);
        ASSERT_EQ(flight.Tick(), TickResult::Generated);
        WaitForWorker(flight);
        // The polls come to an end where the abandon came, later for later checks.
        ASSERT_GE(flight.WorkerPolls(), lastPolls) << check;
        ASSERT_LE(flight.WorkerPolls(), polls) << check;
        lastPolls = flight.WorkerPolls();
        flight.Destroy();
        ASSERT_EQ(platform.pixelsLive, 0) << check;
    }
}

// A close at every poll of a whole landscape: the worker gives the
// generation up there (with Shift's abort and the abandon together on the
// way out), the next generation on the same maps is whole again, and a close
// right after (every 16th poll point, each followed by a fresh flight)
// releases everything.
TEST(Worker, CloseAtEveryPollPointLeavesNothingBehind) {
    TestPlatform platform;
    Flight flight;
    ASSERT_TRUE(flight.Create(platform, SmallTestSettings(), 128, 96, 2, Generation::Worker));
    ASSERT_EQ(flight.Tick(), TickResult::Generated);
    WaitForWorker(flight);
    const int64_t polls = flight.WorkerPolls();
    ASSERT_GT(polls, 100);
    ASSERT_EQ(flight.Tick(), TickResult::DrewFrame);
    const Snapshot whole = Take(flight, TickResult::DrewFrame);

    for (int64_t poll = 1; poll <= polls; ++poll) {
        flight.frameLoop.newLandCountdown = 0;
        flight.AbandonWorkerAtPoll(poll);
        ASSERT_EQ(flight.Tick(), TickResult::Generated);
        WaitForWorker(flight);
        // No poll after the one that saw the close.
        ASSERT_EQ(flight.WorkerPolls(), poll);
        if (poll % 16 == 0) {
            flight.Destroy();
            ASSERT_EQ(platform.pixelsLive, 0) << poll;
            ASSERT_TRUE(
                flight.Create(platform, SmallTestSettings(), 128, 96, 2, Generation::Worker));
        }
    }
    flight.AbandonWorkerAtPoll(0);
    flight.frameLoop.newLandCountdown = 0;
    ASSERT_EQ(flight.Tick(), TickResult::Generated);
    WaitForWorker(flight);
    ASSERT_EQ(flight.Tick(), TickResult::DrewFrame);
    const Snapshot again = Take(flight, TickResult::DrewFrame);
    EXPECT_EQ(again.heights, whole.heights);
    EXPECT_EQ(again.colours, whole.colours);
    EXPECT_EQ(again.waterLevel, 25);
    flight.Destroy();
    EXPECT_EQ(platform.pixelsLive, 0);
}

// A close that comes while the worker is busy, wherever it is.
TEST(Worker, DestroyWhileTheWorkerRunsWaitsForIt) {
    TestPlatform platform;
    Settings settings = SmallTestSettings();
    settings.landSize = 9;
    Flight flight;
    for (int delayMs : {0, 1, 3, 10, 30}) {
        ASSERT_TRUE(flight.Create(platform, settings, 128, 96, 0, Generation::Worker));
        ASSERT_EQ(flight.Tick(), TickResult::Generated);
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        flight.Destroy();
        EXPECT_FALSE(flight.WorkerRunning());
        EXPECT_EQ(platform.pixelsLive, 0) << delayMs;
    }
}

}  // namespace
