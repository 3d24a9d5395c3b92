// The frame loop: output height and horizon formulas, creation and its
// failures, the tick schedule and the per-frame steering hand-over.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "app/FrameLoop.h"
#include "app/NewLand.h"
#include "app/Settings.h"
#include "land/LandGenerator.h"
#include "land/LandPipeline.h"
#include "land/Scratch.h"
#include "tests/app/TestPlatform.h"
#include "tests/view/ViewTestSupport.h"
#include "view/FlightView.h"

namespace {

class FrameLoopTest : public ::testing::Test {
protected:
    void TearDown() override {
        flight.Destroy();
        EXPECT_EQ(platform.pixelsLive, 0) << "pixel buffers leaked";
        scratch::FailAllocationsAfter(-1);
    }
    bool Create() { return flight.Create(platform, settings, 128, 96); }

    Settings settings = SmallTestSettings();
    TestPlatform platform;
    Flight flight;
};

TEST(OutputHeight, TruncatesTheQuotientTimesTheClientHeight) {
    EXPECT_EQ(ComputeOutputHeight(512, 1024, 768), 384);
    EXPECT_EQ(ComputeOutputHeight(512, 1280, 1024), 409);  // 409.6
    EXPECT_EQ(ComputeOutputHeight(512, 1920, 1080), 288);
    EXPECT_EQ(ComputeOutputHeight(512, 152, 112), 377);
    EXPECT_EQ(ComputeOutputHeight(128, 128, 96), 96);
}

TEST(OutputHeight, ZeroWhenNoFrameCanBeHad) {
    EXPECT_EQ(ComputeOutputHeight(512, 0, 768), 0);
    EXPECT_EQ(ComputeOutputHeight(512, 1024, 0), 0);
    EXPECT_EQ(ComputeOutputHeight(512, -1024, -768), 0);
    EXPECT_EQ(ComputeOutputHeight(128, 3000, 2), 0);             // 0.085 rows
    EXPECT_EQ(ComputeOutputHeight(3000, 1, INT32_MAX), 0);       // beyond 32 bits
    EXPECT_EQ(ComputeOutputHeight(1, 1, INT32_MAX), INT32_MAX);  // still representable
}

TEST(HorizonBase, FollowsTiltAndWidth) {
    EXPECT_EQ(ComputeHorizonBase(0, 512), 400);
    EXPECT_EQ(ComputeHorizonBase(128, 512), 656);
    EXPECT_EQ(ComputeHorizonBase(-128, 512), 144);
    EXPECT_EQ(ComputeHorizonBase(-1, 512), 398);
    EXPECT_EQ(ComputeHorizonBase(128, 513), 657);
    EXPECT_EQ(ComputeHorizonBase(-128, 513), 144);  // 144.28..., toward zero
    EXPECT_EQ(ComputeHorizonBase(-128, 3000), 843);
}

TEST_F(FrameLoopTest, CreationBuildsEverythingFromTheSettings) {
    settings.flightSpeed = 40;
    settings.tilt = -1;
    settings.outputWidth = 512;
    ASSERT_TRUE(flight.Create(platform, settings, 1024, 768));
    EXPECT_TRUE(flight.frameLoop.ready);
    EXPECT_EQ(flight.frameLoop.outputHeight, 384);
    EXPECT_EQ(flight.frameLoop.landSide, 64);
    EXPECT_EQ(flight.frameLoop.horizonBase, 398);
    EXPECT_EQ(flight.frameLoop.newLandCountdown, 0);
    EXPECT_EQ(flight.frameLoop.autopilotDirection, -1);
    ASSERT_NE(flight.frameLoop.flightView, nullptr);
    const FlightView& view = *flight.frameLoop.flightView;
    EXPECT_EQ(view.speed, 40);
    EXPECT_EQ(view.frameWidth, 512);
    EXPECT_EQ(view.frameHeight, 384);
    EXPECT_EQ(view.heightMapWidth, 64);
    EXPECT_EQ(view.colourMapHeight, 64);
    EXPECT_EQ(view.slotCount, settings.objectCount + 1);
    EXPECT_EQ(view.skyWidth, 256);
    EXPECT_EQ(view.frame, flight.frameLoop.framePixels);
    ASSERT_NE(flight.frameLoop.landGenerator, nullptr);
    EXPECT_EQ(flight.frameLoop.landGenerator->width, 64);
    EXPECT_EQ(flight.frameLoop.landGenerator->maxHeight, 255);
    EXPECT_EQ(flight.frameLoop.landGenerator->minHeight, 0);
    EXPECT_EQ(platform.pixelsLive, 3);
}

TEST_F(FrameLoopTest, SettingsSetOutOfRangeAreClampedOnCreation) {
    settings.landSize = 40;            // would shift out of range
    settings.objectCount = INT32_MAX;  // + 1 would overflow
    settings.outputWidth = 128;
    ASSERT_TRUE(flight.Create(platform, settings, 512, 384));
    EXPECT_EQ(flight.settings.landSize, 10);
    EXPECT_EQ(flight.frameLoop.landSide, 1024);
    EXPECT_EQ(flight.frameLoop.flightView->slotCount, 7);
}

TEST_F(FrameLoopTest, TheViewSeedIsTheMillisecondTime) {
    // The constructor's seed alone decides sky and objects.
    platform.millisecondTime = 99;
    ASSERT_TRUE(Create());
    std::vector<uint32_t> sky(flight.frameLoop.flightView->sky,
                              flight.frameLoop.flightView->sky + 256 * 256);
    const uint32_t state = flight.frameLoop.flightView->randomState;
    flight.Destroy();
    ASSERT_TRUE(Create());
    EXPECT_TRUE(std::equal(sky.begin(), sky.end(), flight.frameLoop.flightView->sky));
    EXPECT_EQ(flight.frameLoop.flightView->randomState, state);
}

TEST_F(FrameLoopTest, RefusesAClientAreaWithoutWidthOrHeight) {
    EXPECT_FALSE(flight.Create(platform, settings, 0, 768));
    EXPECT_EQ(flight.Tick(), TickResult::Skipped);
    EXPECT_FALSE(flight.Create(platform, settings, 1024, 0));
    EXPECT_FALSE(flight.Create(platform, settings, -5, 768));
    EXPECT_EQ(flight.Tick(), TickResult::Skipped);
    EXPECT_EQ(platform.pixelRequests, 0);
}

TEST_F(FrameLoopTest, RefusesAnOutputHeightThatTruncatesToZero) {
    EXPECT_FALSE(flight.Create(platform, settings, 3000, 2));  // 128 / 3000 x 2 rows
    EXPECT_EQ(flight.frameLoop.outputHeight, 0);
    EXPECT_EQ(platform.pixelRequests, 0);
    EXPECT_EQ(flight.Tick(), TickResult::Skipped);
}

TEST_F(FrameLoopTest, RefusesAFrameTallerThanTheViewCanDraw) {
    EXPECT_FALSE(flight.Create(platform, settings, 128, 16385));  // 16385 rows of 128
    EXPECT_FALSE(flight.Create(platform, settings, 1, INT32_MAX / 128));
    EXPECT_EQ(platform.pixelRequests, 0);
    EXPECT_EQ(flight.Tick(), TickResult::Skipped);
}

TEST_F(FrameLoopTest, AMissingPixelBufferStopsTheSaverFromFlying) {
    for (int missing = 0; missing < 3; ++missing) {
        SCOPED_TRACE(missing);
        TestPlatform failing;
        failing.failPixelsAt = missing;
        EXPECT_FALSE(flight.Create(failing, settings, 128, 96));
        EXPECT_FALSE(flight.frameLoop.ready);
        // Nothing is built on a missing buffer.
        EXPECT_EQ(flight.frameLoop.flightView, nullptr);
        if (missing < 2) {
            EXPECT_EQ(flight.frameLoop.landGenerator, nullptr);
        }
        for (int i = 0; i < 3; ++i) EXPECT_EQ(flight.Tick(), TickResult::Skipped);
        EXPECT_EQ(failing.blits, 0);
        EXPECT_TRUE(failing.texts.empty());
        EXPECT_EQ(failing.shiftQueries, 0);
        flight.Destroy();
        EXPECT_EQ(failing.pixelsLive, 0);
    }
}

TEST_F(FrameLoopTest, AMissingGeneratorOrViewStopsTheSaverFromFlying) {
    // With the default pixel memory the first three allocations are the
    // buffers, the fourth the generator, the fifth the view.
    for (int allowed = 3; allowed <= 4; ++allowed) {
        SCOPED_TRACE(allowed);
        scratch::FailAllocationsAfter(allowed);
        EXPECT_FALSE(Create());
        scratch::FailAllocationsAfter(-1);
        EXPECT_EQ(flight.frameLoop.landGenerator == nullptr, allowed == 3);
        EXPECT_EQ(flight.frameLoop.flightView, nullptr);
        EXPECT_EQ(flight.Tick(), TickResult::Skipped);
        EXPECT_EQ(flight.Tick(), TickResult::Skipped);
        EXPECT_EQ(platform.blits, 0);
        flight.Destroy();
    }
}

TEST_F(FrameLoopTest, FailuresAnywhereInCreationOrGenerationNeverCrash) {
    // Let n allocations succeed for every n up to well past creation and the
    // first landscape: each failing set-up (sky, objects, tables, land
    // scratch) must leave a loop that either refuses to fly or skips what it
    // cannot draw.
    int createdButSkipped = 0;
    int flew = 0;
    for (int allowed = 0; allowed < 64; ++allowed) {
        SCOPED_TRACE(allowed);
        TestPlatform p;
        scratch::FailAllocationsAfter(allowed);
        const bool created = flight.Create(p, settings, 128, 96);
        for (int i = 0; i < 3; ++i) {
            const TickResult r = flight.Tick();
            createdButSkipped += created && r == TickResult::Skipped;
            flew += r == TickResult::DrewFrame;
            if (!created) {
                EXPECT_EQ(r, TickResult::Skipped);
            }
            if (r == TickResult::DrewFrame) {
                EXPECT_TRUE(flight.frameLoop.flightView->CanRender());
            }
        }
        if (!created) {
            EXPECT_EQ(p.blits, 0);
        }
        scratch::FailAllocationsAfter(-1);
        flight.Destroy();
        EXPECT_EQ(p.pixelsLive, 0);
    }
    // Both outcomes were reached: views that could not draw, and flight.
    EXPECT_GT(createdButSkipped, 0);
    EXPECT_GT(flew, 0);
}

TEST_F(FrameLoopTest, FailedTablesSkipTheFrameUntilTheirSetUpSucceeds) {
    ASSERT_TRUE(Create());
    ASSERT_EQ(flight.Tick(), TickResult::Generated);
    ASSERT_EQ(flight.Tick(), TickResult::DrewFrame);
    FlightView& view = *flight.frameLoop.flightView;
    const int32_t x = view.positionX;
    const int32_t y = view.positionY;
    const int32_t heading = view.heading;

    // A lost set-up with no memory to redo it: the tables are freed, and the
    // autopilot, which reads them before Move could retry, must not run.
    view.buffersReady = false;
    scratch::FailAllocationsAfter(0);
    EXPECT_EQ(flight.Tick(), TickResult::Skipped);
    EXPECT_EQ(flight.Tick(), TickResult::Skipped);
    scratch::FailAllocationsAfter(-1);
    EXPECT_FALSE(view.buffersReady);
    EXPECT_EQ(flight.frameLoop.frameCounter, 1);
    EXPECT_EQ(view.positionX, x);
    EXPECT_EQ(view.positionY, y);
    EXPECT_EQ(view.heading, heading);
    EXPECT_EQ(platform.blits, 1);

    // Memory back: the next tick sets the tables up again and flies on.
    EXPECT_EQ(flight.Tick(), TickResult::DrewFrame);
    EXPECT_TRUE(view.buffersReady);
    EXPECT_EQ(flight.frameLoop.frameCounter, 2);
    EXPECT_EQ(platform.blits, 2);
    EXPECT_TRUE(view.positionX != x || view.positionY != y);
}

TEST_F(FrameLoopTest, FirstTickMakesLandAndDrawsNothing) {
    ASSERT_TRUE(Create());
    EXPECT_EQ(flight.Tick(), TickResult::Generated);
    EXPECT_EQ(platform.blits, 0);
    EXPECT_EQ(flight.frameLoop.frameCounter, 0);
    const int64_t pixels = 128 * 96;
    EXPECT_TRUE(std::all_of(flight.frameLoop.framePixels, flight.frameLoop.framePixels + pixels,
                            [](uint32_t p) { return p == 0; }));
    EXPECT_EQ(flight.frameLoop.newLandCountdown, 1200 * 25);

    EXPECT_EQ(flight.Tick(), TickResult::DrewFrame);
    EXPECT_EQ(platform.blits, 1);
    EXPECT_EQ(platform.blitWidth, 128);
    EXPECT_EQ(platform.blitHeight, 96);
    EXPECT_EQ(flight.frameLoop.frameCounter, 1);
    EXPECT_EQ(flight.frameLoop.newLandCountdown, 1200 * 25 - 1);
    EXPECT_FALSE(std::all_of(flight.frameLoop.framePixels, flight.frameLoop.framePixels + pixels,
                             [](uint32_t p) { return p == 0; }));
}

// A wait of 0 (what the dialog stores for an empty field) would make a
// landscape on every tick and never draw; the loop waits one second instead
// and leaves the setting as stored.
TEST_F(FrameLoopTest, NewlandWaitBelowOneSecondFliesOneSecondBetweenLands) {
    for (int32_t wait : {0, -5}) {
        settings.newlandWait = wait;
        ASSERT_TRUE(Create());
        flight.settings.newlandWait = wait;  // a negative one is past the store's clamping
        std::vector<TickResult> results;
        for (int i = 0; i < 53; ++i) results.push_back(flight.Tick());
        for (int i = 0; i < 53; ++i) {
            const bool generation = i == 0 || i == 26 || i == 52;
            EXPECT_EQ(results[i], generation ? TickResult::Generated : TickResult::DrewFrame)
                << wait << " " << i;
        }
        EXPECT_EQ(flight.settings.newlandWait, wait);
        flight.Destroy();
    }
}

// The first landscape cannot get its memory: one line says so on every tick
// instead of a frame, and the landscape is tried again when the next is due.
TEST_F(FrameLoopTest, AFirstLandscapeWithoutMemoryShowsOneLineAndIsRetried) {
    settings.newlandWait = 1;
    ASSERT_TRUE(Create());
    scratch::FailAllocationsAfter(0);
    EXPECT_EQ(flight.Tick(), TickResult::Generated);
    scratch::FailAllocationsAfter(-1);
    EXPECT_EQ(flight.newLand.failedStep, 4);
    for (int i = 0; i < 25; ++i) EXPECT_EQ(flight.Tick(), TickResult::Skipped) << i;
    EXPECT_EQ(platform.blits, 0);
    ASSERT_FALSE(platform.texts.empty());
    EXPECT_EQ(platform.texts.back().text, "Land Size 6 needs more memory than is free");
    EXPECT_EQ(platform.texts.back().y, 15);
    EXPECT_EQ(flight.Tick(), TickResult::Generated);
    EXPECT_EQ(flight.newLand.failedStep, 0);
    EXPECT_EQ(flight.Tick(), TickResult::DrewFrame);
}

// A later landscape that cannot get its memory leaves the land as it was and
// the flight goes on over it.
TEST_F(FrameLoopTest, ALaterLandscapeWithoutMemoryKeepsTheLandAndFlies) {
    ASSERT_TRUE(Create());
    flight.Tick();
    for (int i = 0; i < 3; ++i) ASSERT_EQ(flight.Tick(), TickResult::DrewFrame);
    const std::vector<int32_t> heights(flight.frameLoop.heightMapPixels,
                                       flight.frameLoop.heightMapPixels + 64 * 64);
    const std::vector<uint32_t> colours(flight.frameLoop.colourMapPixels,
                                        flight.frameLoop.colourMapPixels + 64 * 64);
    platform.calendarSeconds = 77;
    flight.frameLoop.newLandCountdown = 0;
    // The generator keeps the pipeline's block from the first landscape;
    // this one has to find the memory anew.
    flight.frameLoop.landGenerator->ReleasePeakScratch();
    scratch::FailAllocationsAfter(0);
    EXPECT_EQ(flight.Tick(), TickResult::Generated);
    scratch::FailAllocationsAfter(-1);
    EXPECT_EQ(flight.newLand.failedStep, 4);
    EXPECT_EQ(std::vector<int32_t>(flight.frameLoop.heightMapPixels, flight.frameLoop.heightMapPixels + 64 * 64),
              heights);
    EXPECT_EQ(std::vector<uint32_t>(flight.frameLoop.colourMapPixels, flight.frameLoop.colourMapPixels + 64 * 64),
              colours);
    const int blits = platform.blits;
    EXPECT_EQ(flight.Tick(), TickResult::DrewFrame);
    EXPECT_EQ(platform.blits, blits + 1);
}

TEST_F(FrameLoopTest, NewlandWaitOneGivesTwentyFiveFramesBetweenLands) {
    settings.newlandWait = 1;
    ASSERT_TRUE(Create());
    std::vector<TickResult> results;
    for (int i = 0; i < 53; ++i) results.push_back(flight.Tick());
    for (int i = 0; i < 53; ++i) {
        const bool generation = i == 0 || i == 26 || i == 52;
        EXPECT_EQ(results[i], generation ? TickResult::Generated : TickResult::DrewFrame) << i;
    }
    EXPECT_EQ(platform.blits, 50);
}

TEST_F(FrameLoopTest, HugeNewlandWaitSaturatesTheCountdown) {
    settings.newlandWait = 85899345;  // 2147483625 ticks: still fits
    ASSERT_TRUE(Create());
    flight.Tick();
    EXPECT_EQ(flight.frameLoop.newLandCountdown, 2147483625);

    for (int32_t wait : {85899346, INT32_MAX}) {
        flight.settings.newlandWait = wait;
        flight.frameLoop.newLandCountdown = 0;
        EXPECT_EQ(flight.Tick(), TickResult::Generated);
        EXPECT_EQ(flight.frameLoop.newLandCountdown, INT32_MAX) << wait;
        EXPECT_EQ(flight.Tick(), TickResult::DrewFrame);  // not a landscape per tick
    }
}

TEST_F(FrameLoopTest, AutopilotDirectionSwingsEvery256Frames) {
    ASSERT_TRUE(Create());
    flight.Tick();
    struct Case {
        int32_t frame;
        int32_t direction;
    };
    // Direction after drawing `frame`, having entered with the default -1.
    for (const Case& c : {Case{1023, -1}, Case{1024, 1}, Case{1279, 1}, Case{1280, -1},
                          Case{2047, -1}, Case{2048, 1}, Case{2304, -1}}) {
        flight.frameLoop.frameCounter = c.frame - 1;
        flight.frameLoop.autopilotDirection = c.frame == 1279 ? 1 : -1;
        ASSERT_EQ(flight.Tick(), TickResult::DrewFrame);
        EXPECT_EQ(flight.frameLoop.frameCounter, c.frame);
        EXPECT_EQ(flight.frameLoop.autopilotDirection, c.direction) << c.frame;
    }
}

TEST_F(FrameLoopTest, FrameCounterWrapsInsteadOfOverflowing) {
    ASSERT_TRUE(Create());
    flight.Tick();
    flight.frameLoop.frameCounter = INT32_MAX;
    ASSERT_EQ(flight.Tick(), TickResult::DrewFrame);
    EXPECT_EQ(flight.frameLoop.frameCounter, INT32_MIN);
    EXPECT_EQ(flight.frameLoop.autopilotDirection, 1);  // low 10 bits all zero
}

TEST_F(FrameLoopTest, SteeringIsHandedToTheCamera) {
    settings.autoPilotIntensity = 0;  // the turn command is then turnFilter decayed, >> 2
    ASSERT_TRUE(Create());
    flight.Tick();
    FlightView& view = *flight.frameLoop.flightView;
    struct Case {
        int32_t filter;
        int32_t turnCommand;
        int32_t headingRate;
    };
    int32_t prevTurn = 0;
    int32_t prevClimb = 0;
    for (const Case& c : {Case{-11, -3, -2}, Case{14, 3, 1}, Case{-11, -3, -2}}) {
        view.turnFilter = c.filter;
        const int32_t heading = view.heading;
        ASSERT_EQ(flight.Tick(), TickResult::DrewFrame);
        EXPECT_EQ(view.turnCommand, c.turnCommand);
        EXPECT_EQ(view.headingRate, c.headingRate);
        EXPECT_EQ(view.heading, (heading + c.headingRate + view.angleUnits) % view.angleUnits);
        EXPECT_EQ(view.bankAngle, (c.turnCommand + prevTurn + view.angleUnits) % view.angleUnits);
        EXPECT_EQ(flight.frameLoop.prevTurnCommand, c.turnCommand);
        EXPECT_EQ(view.climbRate, view.climbCommand);
        EXPECT_EQ(view.horizonRow, view.climbRate + prevClimb + flight.frameLoop.horizonBase);
        EXPECT_EQ(flight.frameLoop.prevClimbRate, view.climbRate);
        prevTurn = c.turnCommand;
        prevClimb = view.climbRate;
    }
}

TEST_F(FrameLoopTest, DestroyResetsTheFlightState) {
    ASSERT_TRUE(Create());
    flight.Tick();
    flight.Tick();
    flight.newLand.abortGeneration = 1;
    flight.Destroy();
    EXPECT_EQ(flight.frameLoop.flightView, nullptr);
    EXPECT_EQ(flight.frameLoop.framePixels, nullptr);
    EXPECT_EQ(flight.frameLoop.frameCounter, 0);
    EXPECT_EQ(flight.frameLoop.autopilotDirection, -1);
    EXPECT_FALSE(flight.frameLoop.ready);
    EXPECT_EQ(flight.newLand.abortGeneration, 0);
    EXPECT_EQ(flight.newLand.progressLevel, 255);
    EXPECT_EQ(flight.Tick(), TickResult::Skipped);
    flight.Destroy();  // twice is harmless
}

}  // namespace

namespace {

// The frame loop written out literally, step by step, on its own maps and
// view: the loop under test must give the same camera and the same frame.
struct LiteralLoop {
    Settings settings = SmallTestSettings();
    std::vector<int32_t> heights = std::vector<int32_t>(64 * 64);
    std::vector<uint32_t> colours = std::vector<uint32_t>(64 * 64);
    std::vector<uint32_t> frame = std::vector<uint32_t>(128 * 96);
    int32_t countdown = 0;

    void Run(int ticks, uint32_t landSeed, uint32_t viewSeed) {
        LandGenerator land(64, 64, heights.data(), colours.data(), 0, 255, nullptr);
        FlightView view(frame.data(), 128, 96, heights.data(), 64, 64, colours.data(), 64, 64,
                        settings.objectCount + 1, 8, viewSeed);
        view.speed = settings.flightSpeed;
        FrameSteering steering(settings.tilt, 128, settings.autoPilotIntensity);
        for (int t = 0; t < ticks; ++t) {
            if (--countdown < 0) {
                countdown = settings.newlandWait * 25;
                ASSERT_EQ(RunLandPipeline(land, landSeed, nullptr), 13);
                view.randomState = landSeed;
                view.waterLevel = 25;
                continue;
            }
            steering.Step(view);
            view.Render();
        }
        camera = {view.positionX, view.positionY, view.heading, view.altitude, view.bankAngle};
    }
    std::vector<int32_t> camera;
};

TEST_F(FrameLoopTest, MatchesTheLiteralLoop) {
    settings.tilt = 37;
    platform.calendarSeconds = 99;
    platform.millisecondTime = 5;
    ASSERT_TRUE(Create());
    for (int i = 0; i < 30; ++i) flight.Tick();
    const FlightView& view = *flight.frameLoop.flightView;
    const std::vector<int32_t> camera = {view.positionX, view.positionY, view.heading,
                                         view.altitude, view.bankAngle};
    const std::vector<uint32_t> frame(flight.frameLoop.framePixels,
                                      flight.frameLoop.framePixels + 128 * 96);
    const std::vector<int32_t> heights(flight.frameLoop.heightMapPixels,
                                       flight.frameLoop.heightMapPixels + 64 * 64);
    flight.Destroy();

    LiteralLoop literal;
    literal.settings.tilt = 37;
    literal.Run(30, 99, 5);
    EXPECT_EQ(literal.camera, camera);
    EXPECT_EQ(literal.heights, heights);
    EXPECT_EQ(literal.frame, frame);
}

}  // namespace

namespace {

// A whole small flight: two landscapes (Newland Wait 1) and 38 frames. The
// pictures of this flight were looked at (terrain below, sky above, rings);
// the checksums pin the hand-over from autopilot to camera to renderer.
TEST_F(FrameLoopTest, GoldenSmallFlight) {
    settings.newlandWait = 1;
    platform.calendarSeconds = 31;
    platform.millisecondTime = 17;
    ASSERT_TRUE(Create());
    for (int i = 0; i < 40; ++i) flight.Tick();
    EXPECT_EQ(platform.blits, 38);
    // The maps are the pipeline's for the calendar second.
    std::vector<int32_t> heights(64 * 64);
    std::vector<uint32_t> colours(64 * 64);
    LandGenerator land(64, 64, heights.data(), colours.data(), 0, 255, nullptr);
    ASSERT_EQ(RunLandPipeline(land, 31, nullptr), 13);
    EXPECT_TRUE(std::equal(heights.begin(), heights.end(), flight.frameLoop.heightMapPixels));
    EXPECT_TRUE(std::equal(colours.begin(), colours.end(), flight.frameLoop.colourMapPixels));

    EXPECT_EQ(Fnv1a(flight.frameLoop.framePixels, 128 * 96), 0x9f95d4f3a3e9071eull);
    EXPECT_EQ(Fnv1a(colours.data(), 64 * 64), 0x9a4d830679e31cc4ull);
    const FlightView& view = *flight.frameLoop.flightView;
    EXPECT_EQ(view.positionX, 60489);
    EXPECT_EQ(view.positionY, 3278);
    EXPECT_EQ(view.heading, 2465);
    EXPECT_EQ(view.altitude, 42);
}

}  // namespace

namespace {

// One flight's settings, client area and seeds.
struct FlightCase {
    Settings settings;
    int32_t clientWidth;
    int32_t clientHeight;
    uint32_t landSeed;
    uint32_t viewSeed;
};

// What one tick left: its result and the checksums of the frame and the
// height map.
struct TickRecord {
    TickResult result;
    uint64_t frame;
    uint64_t heights;
    bool operator==(const TickRecord& o) const {
        return result == o.result && frame == o.frame && heights == o.heights;
    }
};

TickRecord Record(const Flight& flight, TickResult result) {
    const FrameLoopState& s = flight.frameLoop;
    return {result, Fnv1a(s.framePixels, int64_t{flight.settings.outputWidth} * s.outputHeight),
            Fnv1a(reinterpret_cast<const uint32_t*>(s.heightMapPixels),
                  int64_t{s.landSide} * s.landSide)};
}

void Start(Flight& flight, TestPlatform& platform, const FlightCase& c) {
    platform.calendarSeconds = c.landSeed;
    platform.millisecondTime = c.viewSeed;
    ASSERT_TRUE(flight.Create(platform, c.settings, c.clientWidth, c.clientHeight));
}

std::vector<TickRecord> FlyAlone(const FlightCase& c, int ticks) {
    TestPlatform platform;
    Flight flight;
    Start(flight, platform, c);
    std::vector<TickRecord> records;
    for (int i = 0; i < ticks; ++i) records.push_back(Record(flight, flight.Tick()));
    return records;
}

TEST(Flights, InterleavedTickByTickEachGiveTheirFramesAlone) {
    FlightCase a{SmallTestSettings(), 128, 96, 31, 17};
    a.settings.newlandWait = 1;
    FlightCase b{SmallTestSettings(), 200, 150, 4242, 99};
    b.settings.landSize = 7;
    b.settings.outputWidth = 160;
    b.settings.objectCount = 5;
    b.settings.tilt = 20;
    b.settings.autoPilotIntensity = 80;
    b.settings.flightSpeed = 60;
    b.settings.newlandWait = 2;
    constexpr int kTicks = 70;  // three landscapes of a, two of b
    const std::vector<TickRecord> aloneA = FlyAlone(a, kTicks);
    const std::vector<TickRecord> aloneB = FlyAlone(b, kTicks);

    TestPlatform platformA;
    TestPlatform platformB;
    Flight flightA;
    Flight flightB;
    Start(flightA, platformA, a);
    Start(flightB, platformB, b);
    for (int i = 0; i < kTicks; ++i) {
        // b ticks first on odd ticks, so each flight sees the other both
        // before and after it.
        Flight& first = i % 2 ? flightB : flightA;
        Flight& second = i % 2 ? flightA : flightB;
        const TickResult r1 = first.Tick();
        const TickRecord record1 = Record(first, r1);
        const TickResult r2 = second.Tick();
        const TickRecord record2 = Record(second, r2);
        const TickRecord& ra = i % 2 ? record2 : record1;
        const TickRecord& rb = i % 2 ? record1 : record2;
        ASSERT_EQ(ra, aloneA[i]) << "flight a, tick " << i;
        ASSERT_EQ(rb, aloneB[i]) << "flight b, tick " << i;
    }
    // Both flew and made their own landscapes.
    EXPECT_EQ(platformA.blits, kTicks - 3);
    EXPECT_EQ(platformB.blits, kTicks - 2);
    EXPECT_NE(aloneA.back().frame, aloneB.back().frame);
}

}  // namespace
