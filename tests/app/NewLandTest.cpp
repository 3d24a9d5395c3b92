// The new-land pipeline as the frame loop runs it, its progress display and
// the Shift abort.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "app/FrameLoop.h"
#include "app/NewLand.h"
#include "app/Settings.h"
#include "land/LandGenerator.h"
#include "land/LandPipeline.h"
#include "tests/app/TestPlatform.h"
#include "view/FlightView.h"

namespace {

constexpr uint32_t kGrey207 = 0xCFCFCF;

class NewLandTest : public ::testing::Test {
protected:
    bool Create() { return flight.Create(platform, settings, 128, 96).ok(); }

    std::vector<int32_t> Heights() const {
        return {flight.frameLoop.heightMapPixels, flight.frameLoop.heightMapPixels + 64 * 64};
    }
    std::vector<uint32_t> Colours() const {
        return {flight.frameLoop.colourMapPixels, flight.frameLoop.colourMapPixels + 64 * 64};
    }

    Settings settings = SmallTestSettings();
    TestPlatform platform;
    Flight flight;
};

// Drives GenerationProgress alone, with the clock at 128 ms x `update` on the
// update-th call (two reads per drawing call).
class ProgressTest : public ::testing::Test {
protected:
    void SetUp() override { flight.frameLoop.platform = &platform; }

    // One call at process clock `ms` (both reads see it).
    int32_t CallAt(int32_t ms) {
        platform.clock = {ms};
        platform.clockReads = 0;
        return Flight::GenerationProgress(&flight, 0);
    }
    TestPlatform platform;
    Flight flight;
};

TEST_F(ProgressTest, NothingIsDrawnBeforeTheClockReaches128Ms) {
    EXPECT_EQ(CallAt(0), 0);
    EXPECT_EQ(CallAt(127), 0);
    EXPECT_TRUE(platform.texts.empty());
    EXPECT_EQ(platform.clockReads, 1u);  // one read when nothing is drawn
    EXPECT_EQ(platform.shiftQueries, 2);
}

TEST_F(ProgressTest, FirstDrawingShowsTheTextsInTheirStartColours) {
    EXPECT_EQ(CallAt(128), 0);
    EXPECT_EQ(platform.clockReads, 2u);
    ASSERT_EQ(platform.texts.size(), 3u);
    EXPECT_EQ(platform.texts[0].text, "Glidescape, by Quillon");
    EXPECT_EQ(platform.texts[0].x, 5);
    EXPECT_EQ(platform.texts[0].y, 15);
    EXPECT_EQ(platform.texts[0].colour, 0xFFFFFFu);  // grey 255: the first step overshoots
    EXPECT_EQ(platform.texts[1].text, "Press Shift to abort landscape generation...");
    EXPECT_EQ(platform.texts[1].y, 42);
    EXPECT_EQ(platform.texts[1].colour, kGrey207);
    EXPECT_EQ(platform.texts[2].text, "Processing...");
    EXPECT_EQ(platform.texts[2].y, 69);
    EXPECT_EQ(platform.texts[2].colour, 0x000000u);  // red 255 - 255
    // The same 128 ms slot draws nothing more.
    EXPECT_EQ(CallAt(255), 0);
    EXPECT_EQ(platform.texts.size(), 3u);
}

TEST_F(ProgressTest, LevelSweepsDownAndUpDrawingEachEndTwice) {
    // Expected levels built from the description: 255 (overshoot), then down
    // by 7 to 3, 3 again, up by 7 to 255, 255 again, and down once more.
    std::vector<int32_t> expected;
    for (int32_t v = 255; v >= 0; v -= 7) expected.push_back(v);  // 255 ... 3
    for (int32_t v = 3; v <= 255; v += 7) expected.push_back(v);  // 3 ... 255
    expected.push_back(255);
    expected.push_back(248);
    ASSERT_EQ(expected.size(), 74u + 2u);  // a full cycle is 74 updates

    for (size_t i = 0; i < expected.size(); ++i) {
        platform.texts.clear();
        CallAt(static_cast<int32_t>((i + 1) * 128));
        ASSERT_EQ(platform.texts.size(), 3u) << i;
        const auto level = static_cast<uint32_t>(expected[i]);
        EXPECT_EQ(platform.texts[0].colour, level * 0x010101u) << i;
        EXPECT_EQ(platform.texts[1].colour, kGrey207) << i;
        EXPECT_EQ(platform.texts[2].colour, (255u - level) << 16) << i;
        EXPECT_EQ(flight.newLand.progressLevel, expected[i]);
    }
}

TEST_F(ProgressTest, TheSecondClockReadIsTheOneRemembered) {
    // The clock moves on between the two reads: the drawing slot is the
    // second read's, so a call in that slot draws nothing.
    platform.clock = {128, 300};
    platform.clockReads = 0;
    Flight::GenerationProgress(&flight, 0);
    EXPECT_EQ(flight.newLand.progressLastTick, 2);
    EXPECT_EQ(platform.texts.size(), 3u);
    EXPECT_EQ(CallAt(300), 0);
    EXPECT_EQ(platform.texts.size(), 3u);
    EXPECT_EQ(CallAt(384), 0);
    EXPECT_EQ(platform.texts.size(), 6u);
}

TEST_F(ProgressTest, ShiftAbortsTheRestOfTheGeneration) {
    platform.shiftPressed = true;
    EXPECT_EQ(CallAt(0), 1);
    ASSERT_EQ(platform.texts.size(), 1u);
    EXPECT_EQ(platform.texts[0].text, "Processing... Stopping");
    EXPECT_EQ(platform.texts[0].x, 5);
    EXPECT_EQ(platform.texts[0].y, 69);
    EXPECT_EQ(platform.texts[0].colour, 0xFFCF00u);
    EXPECT_EQ(flight.newLand.abortGeneration, 1);
    // Released: still aborting, and nothing more to say about it.
    EXPECT_EQ(CallAt(0), 1);
    EXPECT_EQ(platform.texts.size(), 1u);
}

TEST_F(ProgressTest, WithoutAPlatformNothingIsDrawnAndNothingAborts) {
    flight.frameLoop.platform = nullptr;
    EXPECT_EQ(Flight::GenerationProgress(&flight, 0), 0);
    EXPECT_TRUE(platform.texts.empty());
}

TEST_F(NewLandTest, ACompleteLandscape) {
    platform.calendarSeconds = 777;
    ASSERT_TRUE(Create());
    ASSERT_EQ(flight.Tick(), TickResult::Generated);
    EXPECT_EQ(flight.newLand.abortGeneration, 0);
    const std::vector<int32_t> heights = Heights();
    EXPECT_EQ(*std::min_element(heights.begin(), heights.end()), 25);
    EXPECT_EQ(*std::max_element(heights.begin(), heights.end()), 64 / 2);
    const std::vector<uint32_t> colours = Colours();
    EXPECT_TRUE(
        std::all_of(colours.begin(), colours.end(), [](uint32_t c) { return (c >> 24) == 0xFF; }));
    EXPECT_EQ(flight.frameLoop.flightView->randomState, 777u);
    EXPECT_EQ(flight.frameLoop.flightView->waterLevel, 25);
    EXPECT_EQ(flight.frameLoop.landGenerator->seed, 777u);
}

TEST_F(NewLandTest, TheCalendarSecondDecidesTheLand) {
    ASSERT_TRUE(Create());
    platform.calendarSeconds = 5;
    flight.Tick();
    const std::vector<int32_t> first = Heights();
    const std::vector<uint32_t> firstColours = Colours();
    flight.frameLoop.newLandCountdown = 0;  // the next tick makes a landscape
    flight.Tick();
    EXPECT_EQ(Heights(), first);  // same second, same land
    EXPECT_EQ(Colours(), firstColours);
    platform.calendarSeconds = 6;
    flight.frameLoop.newLandCountdown = 0;
    flight.Tick();
    EXPECT_NE(Heights(), first);
}

TEST_F(NewLandTest, ShiftHeldAtTheStartAbortsAtTheFirstCallback) {
    platform.calendarSeconds = 10;
    ASSERT_TRUE(Create());
    flight.Tick();  // a complete landscape
    const std::vector<int32_t> heights = Heights();
    const std::vector<uint32_t> colours = Colours();
    FlightView& view = *flight.frameLoop.flightView;
    view.randomState = 1234;
    view.waterLevel = 7;

    platform.shiftHeld = true;
    platform.calendarSeconds = 11;
    const int queries = platform.shiftQueries;
    flight.frameLoop.newLandCountdown = 0;  // the next tick makes a landscape
    EXPECT_EQ(flight.Tick(), TickResult::Generated);
    // The discarded query and the first callback's.
    EXPECT_EQ(platform.shiftQueries, queries + 2);
    EXPECT_EQ(flight.newLand.abortGeneration, 1);
    // FillMap asks before its first write: nothing changed.
    EXPECT_EQ(Heights(), heights);
    EXPECT_EQ(Colours(), colours);
    EXPECT_EQ(view.randomState, 1234u);
    EXPECT_EQ(view.waterLevel, 7);

    // Released: the abort ended that generation only; the next one makes a
    // whole landscape.
    platform.shiftHeld = false;
    platform.calendarSeconds = 12;
    flight.frameLoop.newLandCountdown = 0;
    EXPECT_EQ(flight.Tick(), TickResult::Generated);
    EXPECT_EQ(flight.newLand.abortGeneration, 0);
    EXPECT_NE(Heights(), heights);
    EXPECT_EQ(view.randomState, 12u);
    EXPECT_EQ(view.waterLevel, 25);
}

TEST_F(NewLandTest, AfterAnAbortTheFlightFliesOnAndTheNextCountdownMakesANewLand) {
    settings.newlandWait = 1;
    ASSERT_TRUE(Create());
    platform.calendarSeconds = 4242;
    platform.pressAtQuery = 40;  // inside the height synthesis
    EXPECT_EQ(flight.Tick(), TickResult::Generated);
    EXPECT_EQ(flight.newLand.abortGeneration, 1);
    // 25 frames over the partial land, with Shift no longer down.
    for (int i = 0; i < 25; ++i) ASSERT_EQ(flight.Tick(), TickResult::DrewFrame) << i;
    platform.calendarSeconds = 4243;
    EXPECT_EQ(flight.Tick(), TickResult::Generated);
    EXPECT_EQ(flight.newLand.abortGeneration, 0);
    EXPECT_EQ(flight.frameLoop.flightView->waterLevel, 25);
    std::vector<int32_t> heights(64 * 64);
    std::vector<uint32_t> colours(64 * 64);
    LandGenerator land(64, 64, heights.data(), colours.data(), 0, 255, nullptr);
    ASSERT_EQ(RunLandPipeline(land, 4243, nullptr), 13);
    EXPECT_EQ(Heights(), heights);
    EXPECT_EQ(Colours(), colours);
}

TEST_F(NewLandTest, AbortAtTheVeryFirstGenerationLeavesTheMapsAsFillMapLeftThem) {
    platform.shiftHeld = true;
    ASSERT_TRUE(Create());
    std::fill(flight.frameLoop.heightMapPixels, flight.frameLoop.heightMapPixels + 64 * 64, 9);
    EXPECT_EQ(flight.Tick(), TickResult::Generated);
    EXPECT_EQ(flight.newLand.abortGeneration, 1);
    const std::vector<int32_t> heights = Heights();
    EXPECT_TRUE(std::all_of(heights.begin(), heights.end(), [](int32_t h) { return h == 9; }));
    // The saver flies on over what is there.
    platform.shiftHeld = false;
    EXPECT_EQ(flight.Tick(), TickResult::DrewFrame);
}

TEST_F(NewLandTest, AShiftPressBeforeTheGenerationTickDoesNotAbort) {
    ASSERT_TRUE(Create());
    platform.shiftPressed = true;  // pressed and released while flying
    EXPECT_EQ(flight.Tick(), TickResult::Generated);
    EXPECT_EQ(flight.newLand.abortGeneration, 0);
    const std::vector<int32_t> heights = Heights();
    EXPECT_EQ(*std::max_element(heights.begin(), heights.end()), 32);
    EXPECT_EQ(flight.frameLoop.flightView->waterLevel, 25);
}

TEST_F(NewLandTest, AnAbortHalfWayKeepsTheSeedButNotTheSeaLevel) {
    ASSERT_TRUE(Create());
    platform.calendarSeconds = 4242;
    // The first query is the tick's own; FillMap polls 17 times on 64 x 64
    // cells, so a press at the fortieth is found by a callback inside the
    // height synthesis, after the seed was set.
    platform.pressAtQuery = 40;
    EXPECT_EQ(flight.Tick(), TickResult::Generated);
    EXPECT_EQ(flight.newLand.abortGeneration, 1);
    EXPECT_EQ(flight.frameLoop.flightView->randomState, 4242u);
    EXPECT_EQ(flight.frameLoop.flightView->waterLevel, 0);
    EXPECT_EQ(platform.texts.back().text, "Processing... Stopping");
    EXPECT_EQ(flight.Tick(), TickResult::DrewFrame);
}

}  // namespace
