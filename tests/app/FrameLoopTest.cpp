// The frame loop: output height and horizon formulas, creation and its
// failures, the tick schedule and the per-frame steering hand-over.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>
#include <cstdint>
#include <vector>

#include "app/FrameLoop.h"
#include "app/NewLand.h"
#include "app/Pacing.h"
#include "app/Settings.h"
#include "base/Scratch.h"
#include "land/LandGenerator.h"
#include "land/LandPipeline.h"
#include "tests/app/TestPlatform.h"
#include "view/FlightView.h"

namespace {

class FrameLoopTest : public ::testing::Test {
protected:
    void TearDown() override {
        flight.Destroy();
        EXPECT_EQ(platform.pixelsLive, 0) << "pixel buffers leaked";
        scratch::FailAllocationsAfter(-1);
    }
    bool Create() { return flight.Create(platform, settings, 128, 96).ok(); }

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
    EXPECT_EQ(view.objects.slotCount, settings.objectCount + 1);
    EXPECT_EQ(view.sky.width, 256);
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
    EXPECT_EQ(flight.frameLoop.flightView->objects.slotCount, 7);
}

TEST_F(FrameLoopTest, TheViewSeedIsTheMillisecondTime) {
    // The constructor's seed alone decides sky and objects.
    platform.millisecondTime = 99;
    ASSERT_TRUE(Create());
    std::vector<uint32_t> sky(flight.frameLoop.flightView->sky.pixels,
                              flight.frameLoop.flightView->sky.pixels + 256 * 256);
    const uint32_t state = flight.frameLoop.flightView->randomState;
    flight.Destroy();
    ASSERT_TRUE(Create());
    EXPECT_TRUE(std::equal(sky.begin(), sky.end(), flight.frameLoop.flightView->sky.pixels));
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
    // buffers, the fourth the generator, the fifth the view. A flight that
    // cannot fly says why and holds nothing.
    for (int allowed = 3; allowed <= 4; ++allowed) {
        SCOPED_TRACE(allowed);
        scratch::FailAllocationsAfter(allowed);
        const FlightStatus status = flight.Create(platform, settings, 128, 96);
        scratch::FailAllocationsAfter(-1);
        EXPECT_EQ(status.problem, FlightProblem::NoMemory);
        EXPECT_EQ(status.Text(), "Land Size 6 needs more memory than is free");
        EXPECT_EQ(flight.frameLoop.landGenerator, nullptr);
        EXPECT_EQ(flight.frameLoop.flightView, nullptr);
        EXPECT_EQ(platform.pixelsLive, 0);
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
        const bool created = flight.Create(p, settings, 128, 96).ok();
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
    EXPECT_EQ(std::vector<int32_t>(flight.frameLoop.heightMapPixels,
                                   flight.frameLoop.heightMapPixels + 64 * 64),
              heights);
    EXPECT_EQ(std::vector<uint32_t>(flight.frameLoop.colourMapPixels,
                                    flight.frameLoop.colourMapPixels + 64 * 64),
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

// The hand-over from the autopilot to the camera, worked out by hand from
// the rules: over flat ground at height 0 with the autopilot's filters at
// their start (altitude x 8 = 256, target x 16 = 512) and the camera at 173,
// the first climb command is (512 + 15) >> 4 - (256 + 173) >> 3 = -21; with
// intensity 0 the turn command is the decayed turn filter >> 2.
TEST_F(FrameLoopTest, SteeringIsHandedToTheCamera) {
    settings.autoPilotIntensity = 0;
    ASSERT_TRUE(Create());
    ASSERT_EQ(flight.Tick(), TickResult::Generated);
    const FrameLoopState& s = flight.frameLoop;
    std::fill(s.heightMapPixels, s.heightMapPixels + 64 * 64, 0);
    FlightView& view = *s.flightView;
    ASSERT_EQ(view.angleUnits, 2560);
    ASSERT_EQ(s.horizonBase, 100);  // 128 x 0.78125
    view.autopilot.altitudeFilter = 256;
    view.autopilot.groundFilter = 512;
    view.altitude = 173;
    view.heading = 1;

    // -11 decays to -9: turn -3, heading rate -3 >> 1 = -2, heading 1 - 2
    // wraps to 2559, bank -3 + 0 wraps to 2557; climb -21, horizon
    // -21 + 0 + 100.
    view.autopilot.turnFilter = -11;
    ASSERT_EQ(flight.Tick(), TickResult::DrewFrame);
    EXPECT_EQ(view.turnCommand, -3);
    EXPECT_EQ(view.headingRate, -2);
    EXPECT_EQ(view.heading, 2559);
    EXPECT_EQ(view.bankAngle, 2557);
    EXPECT_EQ(view.climbCommand, -21);
    EXPECT_EQ(view.climbRate, -21);
    EXPECT_EQ(view.horizonRow, 79);
    EXPECT_EQ(view.altitude, 152);

    // 14 decays to 13: turn 3, heading rate 1, heading wraps to 0, bank
    // 3 - 3 = 0. The filters went on to 376 and 495: climb
    // (495 + 15) >> 4 - (376 + 152) >> 3 = 31 - 66 = -35, horizon
    // -35 - 21 + 100 = 44.
    view.autopilot.turnFilter = 14;
    ASSERT_EQ(flight.Tick(), TickResult::DrewFrame);
    EXPECT_EQ(view.turnCommand, 3);
    EXPECT_EQ(view.headingRate, 1);
    EXPECT_EQ(view.heading, 0);
    EXPECT_EQ(view.bankAngle, 0);
    EXPECT_EQ(view.climbCommand, -35);
    EXPECT_EQ(view.horizonRow, 44);
    EXPECT_EQ(view.altitude, 117);
}

// What a window size gives, and why a flight cannot fly, in one line.
TEST_F(FrameLoopTest, StatusSaysWhyAFlightCannotFly) {
    FlightStatus status = flight.Create(platform, settings, 3000, 2);
    EXPECT_EQ(status.problem, FlightProblem::FrameRows);
    EXPECT_EQ(status.Text(),
              "output width 128 on a 3000x2 client gives 0 frame rows (1 to 16384 can be drawn)");
    settings.outputWidth = 3000;
    status = flight.Create(platform, settings, 1, 2000000000);
    EXPECT_EQ(status.frameRows, INT64_C(6000000000000));
    EXPECT_EQ(status.problem, FlightProblem::FrameRows);
    status = flight.Create(platform, SmallTestSettings(), 128, 96);
    EXPECT_TRUE(status.ok());
    EXPECT_EQ(status.Text(), "");
}

// A resized flight flies on over its land from where it was: after the
// resize it draws exactly what a flight made at the new size from the start
// draws (the camera, the autopilot and the objects do not depend on the
// frame's rows), once both frames start from black at the same tick (a
// frame keeps what no column paints).
TEST_F(FrameLoopTest, ResizeKeepsTheLandAndTheCameraAndRemakesOnlyTheFrame) {
    platform.calendarSeconds = 31;
    platform.millisecondTime = 17;
    ASSERT_TRUE(Create());  // 128 x 96
    for (int i = 0; i < 6; ++i) flight.Tick();
    const std::vector<int32_t> heights(flight.frameLoop.heightMapPixels,
                                       flight.frameLoop.heightMapPixels + 64 * 64);
    const int requests = platform.pixelRequests;
    ASSERT_TRUE(flight.Resize(256, 128).ok());  // 128 / 256 x 128 = 64 rows
    EXPECT_EQ(platform.pixelRequests, requests + 1);
    EXPECT_EQ(platform.pixelsLive, 3);
    EXPECT_EQ(flight.frameLoop.outputHeight, 64);
    EXPECT_EQ(flight.frameLoop.flightView->frameHeight, 64);
    EXPECT_TRUE(std::equal(heights.begin(), heights.end(), flight.frameLoop.heightMapPixels));
    for (int i = 0; i < 5; ++i) ASSERT_EQ(flight.Tick(), TickResult::DrewFrame);

    TestPlatform other;
    other.calendarSeconds = 31;
    other.millisecondTime = 17;
    Flight fresh;
    ASSERT_TRUE(fresh.Create(other, settings, 256, 128).ok());
    for (int i = 0; i < 6; ++i) fresh.Tick();
    std::fill(fresh.frameLoop.framePixels, fresh.frameLoop.framePixels + 128 * 64, 0u);
    for (int i = 0; i < 5; ++i) fresh.Tick();
    EXPECT_EQ(Fnv1a(flight.frameLoop.framePixels, 128 * 64),
              Fnv1a(fresh.frameLoop.framePixels, 128 * 64));
    EXPECT_EQ(flight.frameLoop.flightView->positionX, fresh.frameLoop.flightView->positionX);
    EXPECT_EQ(flight.frameLoop.frameCounter, fresh.frameLoop.frameCounter);

    // The same rows on another client: only the destination changes.
    ASSERT_TRUE(flight.Resize(512, 256).ok());
    EXPECT_EQ(platform.pixelRequests, requests + 1);
    EXPECT_EQ(flight.frameLoop.clientWidth, 512);
}

// A platform that takes padded frames gets rows 16 pixels longer for widths
// whose rows would share cache sets (128 here, not 200) and plain ones otherwise;
// the view draws straight into them. Every frame shows the same picture as
// a flight with contiguous rows, ticks, in-between frames and a resize
// alike, and the padding is never drawn on.
TEST(PaddedFrames, ShowTheSamePicturesAsContiguousOnes) {
    for (const int32_t width : {128, 200}) {
        SCOPED_TRACE(width);
        Settings settings = SmallTestSettings();
        settings.outputWidth = width;
        settings.smoothMotion = 1;
        TestPlatform plainPlatform;
        TestPlatform paddedPlatform;
        paddedPlatform.paddedFrames = true;
        for (TestPlatform* p : {&plainPlatform, &paddedPlatform}) {
            p->calendarSeconds = 31;
            p->millisecondTime = 17;
        }
        Flight plain;
        Flight padded;
        ASSERT_TRUE(plain.Create(plainPlatform, settings, width, 96).ok());
        ASSERT_TRUE(padded.Create(paddedPlatform, settings, width, 96).ok());
        const int32_t stride = width == 128 ? 144 : width;
        ASSERT_EQ(padded.frameLoop.frameStride, stride);
        ASSERT_EQ(plain.frameLoop.frameStride, width);
        ASSERT_EQ(FrameStride(paddedPlatform, width), stride);
        // The padding starts out as a colour no frame has.
        auto markPadding = [&] {
            const FrameLoopState& s = padded.frameLoop;
            for (int32_t r = 0; r < s.outputHeight; ++r) {
                std::fill(s.framePixels + static_cast<int64_t>(r) * stride + width,
                          s.framePixels + static_cast<int64_t>(r + 1) * stride, 0x12345678u);
            }
        };
        auto samePictures = [&](const char* when) {
            const FrameLoopState& a = plain.frameLoop;
            const FrameLoopState& b = padded.frameLoop;
            ASSERT_EQ(paddedPlatform.blitStride, stride) << when;
            ASSERT_EQ(paddedPlatform.blitPixels, b.framePixels) << when;
            ASSERT_EQ(plainPlatform.blitStride, width) << when;
            for (int32_t r = 0; r < a.outputHeight; ++r) {
                const uint32_t* rowA = a.framePixels + static_cast<int64_t>(r) * width;
                const uint32_t* rowB = b.framePixels + static_cast<int64_t>(r) * stride;
                ASSERT_TRUE(std::equal(rowA, rowA + width, rowB)) << when << ", row " << r;
                ASSERT_TRUE(std::all_of(rowB + width, rowB + stride,
                                        [](uint32_t p) { return p == 0x12345678u; }))
                    << when << ", row " << r;
            }
        };
        markPadding();
        int drawn = 0;
        for (int tick = 0; tick < 40; ++tick) {
            if (tick == 20) {
                // Another client size: a new frame of 64 rows, padded alike.
                ASSERT_TRUE(plain.Resize(2 * width, 128).ok());
                ASSERT_TRUE(padded.Resize(2 * width, 128).ok());
                ASSERT_EQ(padded.frameLoop.outputHeight, 64);
                ASSERT_EQ(padded.frameLoop.flightView->frameStride, stride);
                markPadding();
            }
            const TickResult a = plain.Tick();
            ASSERT_EQ(padded.Tick(), a) << tick;
            if (a != TickResult::Flew) continue;
            for (const int32_t fraction : {0, 20000, 50000}) {
                ASSERT_TRUE(plain.Draw(fraction));
                ASSERT_TRUE(padded.Draw(fraction));
                samePictures(fraction == 0 ? "a tick's frame" : "an in-between frame");
                ++drawn;
            }
        }
        EXPECT_GT(drawn, 60);
        plain.Destroy();
        padded.Destroy();
        EXPECT_EQ(paddedPlatform.pixelsLive, 0);
    }
}

TEST_F(FrameLoopTest, AResizeThatCannotBeHadKeepsTheOldFrameFlying) {
    ASSERT_TRUE(Create());
    flight.Tick();
    uint32_t* frame = flight.frameLoop.framePixels;
    EXPECT_EQ(flight.Resize(3000, 2).problem, FlightProblem::FrameRows);
    platform.failPixelsAt = platform.pixelRequests;
    EXPECT_EQ(flight.Resize(128, 64).problem, FlightProblem::NoMemory);
    EXPECT_EQ(flight.frameLoop.framePixels, frame);
    EXPECT_EQ(flight.frameLoop.outputHeight, 96);
    EXPECT_EQ(flight.Tick(), TickResult::DrewFrame);
    EXPECT_EQ(platform.blitHeight, 96);
}

TEST_F(FrameLoopTest, AFlightThatCouldNotFlyIsMadeAnewByAResize) {
    EXPECT_FALSE(flight.Create(platform, settings, 0, 0).ok());
    EXPECT_EQ(flight.Resize(128, 96).problem, FlightProblem::NoProblem);
    EXPECT_TRUE(flight.frameLoop.ready);
    EXPECT_EQ(flight.Tick(), TickResult::Generated);
    flight.Destroy();
    // After a Destroy there is nothing to make anew.
    EXPECT_FALSE(flight.Resize(128, 96).ok());
    EXPECT_FALSE(flight.frameLoop.ready);
}

// Small frames are drawn on one thread, big ones on the pool; landscapes are
// made on the pool either way, and a resize that crosses the size moves the
// frames over.
TEST_F(FrameLoopTest, SmallFramesAreDrawnOnOneThread) {
    ASSERT_TRUE(flight.Create(platform, settings, 128, 96, 2).ok());
    ASSERT_NE(flight.frameLoop.threadPool, nullptr);
    EXPECT_EQ(flight.frameLoop.flightView->threadPool, nullptr);
    EXPECT_EQ(flight.frameLoop.landGenerator->threadPool, flight.frameLoop.threadPool);
    flight.Destroy();
    settings.outputWidth = 1024;
    ASSERT_TRUE(flight.Create(platform, settings, 1024, 768, 2).ok());
    EXPECT_EQ(flight.frameLoop.flightView->threadPool, flight.frameLoop.threadPool);
    // 1024 x 200 frame rows: small again.
    ASSERT_TRUE(flight.Resize(1024, 200).ok());
    EXPECT_EQ(flight.frameLoop.outputHeight, 200);
    EXPECT_EQ(flight.frameLoop.flightView->threadPool, nullptr);
    ASSERT_TRUE(flight.Resize(1024, 768).ok());
    EXPECT_EQ(flight.frameLoop.flightView->threadPool, flight.frameLoop.threadPool);
}

// On battery the landscapes are made on one thread: the same land.
TEST_F(FrameLoopTest, LandOnOneThreadIsTheSameLand) {
    platform.calendarSeconds = 31;
    ASSERT_TRUE(flight.Create(platform, settings, 128, 96, 2).ok());
    flight.SetLandOnOneThread(true);
    ASSERT_EQ(flight.Tick(), TickResult::Generated);
    EXPECT_EQ(flight.frameLoop.landGenerator->threadPool, nullptr);
    const std::vector<int32_t> heights(flight.frameLoop.heightMapPixels,
                                       flight.frameLoop.heightMapPixels + 64 * 64);
    ASSERT_TRUE(flight.Create(platform, settings, 128, 96, 2).ok());
    flight.SetLandOnOneThread(false);  // mains power again
    ASSERT_EQ(flight.Tick(), TickResult::Generated);
    EXPECT_EQ(flight.frameLoop.landGenerator->threadPool, flight.frameLoop.threadPool);
    EXPECT_TRUE(std::equal(heights.begin(), heights.end(), flight.frameLoop.heightMapPixels));
}

// Smooth motion at 60 Hz, paced by hand: 25 ticks and 60 frames a second;
// after a landscape the screen keeps its picture until the first frame tick.
TEST_F(FrameLoopTest, SmoothFlightsDrawAtEveryRefreshAndTickAt25Hz) {
    settings.smoothMotion = 1;
    ASSERT_TRUE(Create());
    ASSERT_TRUE(flight.smooth());
    FramePacer pacer;
    pacer.Configure(true, 16667);
    RefreshOutcome first = RefreshFlights(pacer, &flight, 1, 0);
    EXPECT_TRUE(first.madeLand);
    EXPECT_EQ(first.drawn, 0);
    EXPECT_EQ(platform.blits, 0);
    int64_t ticks = first.ticks;
    for (int64_t now = 16667; now < 1000000; now += 16667) {
        ticks += RefreshFlights(pacer, &flight, 1, now).ticks;
    }
    EXPECT_EQ(ticks, 25);
    // Every refresh once the first frame tick flew (at 40 ms).
    EXPECT_EQ(platform.blits, 60 - 3);
    // Without smooth motion: a frame per frame tick.
    TestPlatform other;  // outlives the flight, which releases its buffers through it
    Flight plain;
    Settings off = settings;
    off.smoothMotion = 0;
    ASSERT_TRUE(plain.Create(other, off, 128, 96).ok());
    FramePacer tickPacer;
    tickPacer.Configure(false, 16667);
    for (int64_t now = 0; now < 1000000; now += 16667) RefreshFlights(tickPacer, &plain, 1, now);
    EXPECT_EQ(other.blits, 24);
}

// Smooth motion's frames at a tick are the ticks' own frames: a smooth
// flight and one without, over random settings, seeds and land modes, draw
// the same frame at every tick (over the same previous content; a frame
// keeps what no column paints), however many frames the smooth one drew in
// between and whether or not it flew ahead.
TEST(SmoothFlights, FractionZeroIsEveryTicksFrameAndInBetweenFramesChangeNothing) {
    std::mt19937 random(20261209);
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        Settings settings = SmallTestSettings();
        settings.newlandWait = 1 + static_cast<int32_t>(random() % 2);
        settings.objectCount = static_cast<int32_t>(random() % 30);
        settings.flightSpeed = static_cast<int32_t>(random() % 101);
        settings.autoPilotIntensity = static_cast<int32_t>(random() % 201);
        settings.tilt = static_cast<int32_t>(random() % 257) - 128;
        const Generation generation = round % 2 ? Generation::Worker : Generation::Inline;
        TestPlatform plainPlatform;
        TestPlatform smoothPlatform;
        for (TestPlatform* p : {&plainPlatform, &smoothPlatform}) {
            p->calendarSeconds = static_cast<uint32_t>(random());
            p->millisecondTime = static_cast<uint32_t>(random());
        }
        smoothPlatform.calendarSeconds = plainPlatform.calendarSeconds;
        smoothPlatform.millisecondTime = plainPlatform.millisecondTime;
        Flight plain;
        Flight smooth;
        ASSERT_TRUE(plain.Create(plainPlatform, settings, 128, 96, 2, generation).ok());
        Settings smoothSettings = settings;
        smoothSettings.smoothMotion = 1;
        ASSERT_TRUE(smooth.Create(smoothPlatform, smoothSettings, 128, 96, 2, generation).ok());
        int compared = 0;
        for (int tick = 0; tick < 70; ++tick) {
            const uint32_t pattern = static_cast<uint32_t>(random());
            std::fill(plain.frameLoop.framePixels, plain.frameLoop.framePixels + 128 * 96, pattern);
            // A pacer that draws one frame a tick (on battery) now and then:
            // the smooth flight stops flying ahead and starts again.
            smooth.SetLookAhead(tick >= 64 || random() % 3 != 0);
            TickResult plainResult = plain.Tick();
            TickResult smoothResult = smooth.Tick();
            while (plainResult == TickResult::Generating || smoothResult == TickResult::Generating) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                if (plainResult == TickResult::Generating) plainResult = plain.Tick();
                if (smoothResult == TickResult::Generating) smoothResult = smooth.Tick();
            }
            ASSERT_EQ(plainResult == TickResult::DrewFrame, smoothResult == TickResult::Flew)
                << tick;
            if (plainResult != TickResult::DrewFrame) continue;
            std::fill(smooth.frameLoop.framePixels, smooth.frameLoop.framePixels + 128 * 96,
                      pattern);
            ASSERT_TRUE(smooth.Draw(0));
            ASSERT_TRUE(std::equal(plain.frameLoop.framePixels,
                                   plain.frameLoop.framePixels + 128 * 96,
                                   smooth.frameLoop.framePixels))
                << "tick " << tick;
            ++compared;
            for (int i = static_cast<int>(random() % 4); i > 0; --i) {
                smooth.Draw(static_cast<int32_t>(random() % 65536));
            }
        }
        EXPECT_GT(compared, 40);
        const FlightView& a = *plain.frameLoop.flightView;
        const FlightView& b = *smooth.frameLoop.flightView;
        // The smooth flight is one tick ahead: the plain one catches up.
        if (plain.Tick() == TickResult::DrewFrame) {
            EXPECT_EQ(std::vector<int32_t>({a.positionX, a.positionY, a.heading, a.altitude}),
                      std::vector<int32_t>({b.positionX, b.positionY, b.heading, b.altitude}));
        }
    }
}

// The eight frames across one tick of a small flight (docs/in-between-
// frames.png shows the same across a tick of a default flight): pinned after
// looking at them: land and sky move on a little each frame; a ring that
// almost touches the camera shifts by its cells, as it does between ticks.
TEST(SmoothFlights, GoldenFramesBetweenTwoTicks) {
    TestPlatform platform;
    platform.calendarSeconds = 31;
    platform.millisecondTime = 17;
    Settings settings = SmallTestSettings();
    settings.smoothMotion = 1;
    Flight flight;
    ASSERT_TRUE(flight.Create(platform, settings, 128, 96).ok());
    for (int i = 0; i < 30; ++i) flight.Tick();
    std::vector<uint64_t> checksums;
    for (int i = 0; i < 8; ++i) {
        std::fill(flight.frameLoop.framePixels, flight.frameLoop.framePixels + 128 * 96, 0u);
        ASSERT_TRUE(flight.Draw(i * 8192));
        checksums.push_back(Fnv1a(flight.frameLoop.framePixels, 128 * 96));
    }
    const std::vector<uint64_t> pinned = {
        0x02cf6f559427a652ull, 0x77a30aafffa52c9full, 0x5af971bd8e22d72aull,
        0x871e7f169abf02a3ull, 0x90a2f2795db6756cull, 0x8ae72ab19caaddbaull,
        0x1f20684fbf2a1c87ull, 0xabb8fdc436bd26dfull,
    };
    EXPECT_EQ(checksums, pinned);
    // Every one differs from the others: the frames move on.
    for (size_t i = 1; i < checksums.size(); ++i) EXPECT_NE(checksums[i], checksums[i - 1]);
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
