// The front-end kit's window logic: which monitors get a flight, their
// seeds, and the pointer drift that closes a saver.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "app/Closing.h"
#include "app/Monitors.h"

TEST(MouseDrift, FourPixelsStaysFivePixelsCloses) {
    const ScreenPoint at{500, 400};
    EXPECT_FALSE(MouseDriftCloses(at, {500, 400}));
    EXPECT_FALSE(MouseDriftCloses(at, {504, 400}));
    EXPECT_FALSE(MouseDriftCloses(at, {498, 398}));
    EXPECT_FALSE(MouseDriftCloses(at, {497, 401}));
    EXPECT_TRUE(MouseDriftCloses(at, {505, 400}));
    EXPECT_TRUE(MouseDriftCloses(at, {500, 395}));
    EXPECT_TRUE(MouseDriftCloses(at, {497, 402}));
}

TEST(MouseDrift, SmallMovesAddUpAgainstTheRecordedPosition) {
    // The host keeps the recorded position until a close: 3 then 2 more.
    const ScreenPoint recorded{10, 10};
    EXPECT_FALSE(MouseDriftCloses(recorded, {13, 10}));
    EXPECT_TRUE(MouseDriftCloses(recorded, {15, 10}));
}

TEST(MouseDrift, ExtremeCoordinatesDoNotOverflow) {
    EXPECT_TRUE(MouseDriftCloses({INT32_MIN, INT32_MIN}, {INT32_MAX, INT32_MAX}));
    EXPECT_TRUE(MouseDriftCloses({INT32_MAX, 0}, {INT32_MIN, 0}));
    EXPECT_FALSE(MouseDriftCloses({INT32_MIN, INT32_MAX}, {INT32_MIN + 2, INT32_MAX - 2}));
}

namespace {

std::string Areas(const FlightPlan& plan) {
    std::string text;
    for (int32_t i = 0; i < plan.count; ++i) {
        const PixelRect& a = plan.areas[i];
        text += (i > 0 ? " " : "") + std::to_string(a.left) + "," + std::to_string(a.top) + "," +
                std::to_string(a.right) + "," + std::to_string(a.bottom);
    }
    return text;
}

// Two heads side by side, as Xephyr gives them: 800 x 600 primary at the
// origin, 640 x 480 to its right.
const MonitorArea kTwoHeads[] = {{{0, 0, 800, 600}, true}, {{800, 0, 1440, 480}, false}};
const PixelRect kTwoHeadsWindow = {0, 0, 1440, 600};

}  // namespace

TEST(PlanFlights, OneMonitorGivesOneFlightOnTheWholeWindowInEveryMode) {
    const MonitorArea one[] = {{{0, 0, 1024, 768}, true}};
    for (int32_t mode : {0, 1, 2}) {
        EXPECT_EQ(Areas(PlanFlights({0, 0, 1024, 768}, one, 1, mode)), "0,0,1024,768") << mode;
    }
    // No monitors known: the whole window, as before monitors were counted.
    EXPECT_EQ(Areas(PlanFlights({0, 0, 1024, 768}, nullptr, 0, 0)), "0,0,1024,768");
}

TEST(PlanFlights, ModesSplitTwoHeads) {
    EXPECT_EQ(Areas(PlanFlights(kTwoHeadsWindow, kTwoHeads, 2, 0)), "0,0,800,600 800,0,1440,480");
    EXPECT_EQ(Areas(PlanFlights(kTwoHeadsWindow, kTwoHeads, 2, 1)), "0,0,800,600");
    EXPECT_EQ(Areas(PlanFlights(kTwoHeadsWindow, kTwoHeads, 2, 2)), "0,0,1440,600");
    // Out of range counts as a flight on each monitor.
    for (int32_t mode : {-1, 3, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(Areas(PlanFlights(kTwoHeadsWindow, kTwoHeads, 2, mode)),
                  "0,0,800,600 800,0,1440,480")
            << mode;
    }
}

TEST(PlanFlights, PrimaryComesFirstThenTheOthersInTheirOrder) {
    // The primary is the third monitor listed; one monitor sits left of it,
    // so the virtual screen starts at a negative x. Areas are window pixels.
    const MonitorArea monitors[] = {{{-1280, 0, 0, 1024}, false},
                                    {{1920, 0, 3200, 1024}, false},
                                    {{0, 0, 1920, 1080}, true},
                                    {{0, 1080, 1920, 2160}, false}};
    const PixelRect window = {-1280, 0, 3200, 2160};
    EXPECT_EQ(Areas(PlanFlights(window, monitors, 4, 0)),
              "1280,0,3200,1080 0,0,1280,1024 3200,0,4480,1024 1280,1080,3200,2160");
    EXPECT_EQ(Areas(PlanFlights(window, monitors, 4, 1)), "1280,0,3200,1080");
    EXPECT_EQ(Areas(PlanFlights(window, monitors, 4, 2)), "0,0,4480,2160");
    // Without a primary flag the first listed monitor leads.
    const MonitorArea unflagged[] = {{{0, 0, 800, 600}, false}, {{800, 0, 1440, 480}, false}};
    EXPECT_EQ(Areas(PlanFlights(kTwoHeadsWindow, unflagged, 2, 1)), "0,0,800,600");
    const MonitorArea secondPrimary[] = {{{0, 0, 800, 600}, false}, {{800, 0, 1440, 480}, true}};
    EXPECT_EQ(Areas(PlanFlights(kTwoHeadsWindow, secondPrimary, 2, 0)),
              "800,0,1440,480 0,0,800,600");
}

TEST(PlanFlights, MonitorsAreClippedToTheWindowAndMirrorsFlyOnce) {
    // A mirrored display repeats the primary's rectangle; a monitor outside
    // the window gets nothing; one half inside gets its inside half.
    const MonitorArea monitors[] = {{{0, 0, 800, 600}, true},
                                    {{0, 0, 800, 600}, false},
                                    {{5000, 0, 6000, 600}, false},
                                    {{700, -100, 1600, 500}, false}};
    EXPECT_EQ(Areas(PlanFlights({0, 0, 1440, 600}, monitors, 4, 0)), "0,0,800,600 700,0,1440,500");
    // The primary outside the window: mode 1 flies on the first monitor
    // inside it; nothing inside at all gives the whole window.
    const MonitorArea outside[] = {{{5000, 0, 6000, 600}, true}, {{800, 0, 1440, 480}, false}};
    EXPECT_EQ(Areas(PlanFlights(kTwoHeadsWindow, outside, 2, 1)), "800,0,1440,480");
    EXPECT_EQ(Areas(PlanFlights(kTwoHeadsWindow, outside, 1, 0)), "0,0,1440,600");
}

TEST(PlanFlights, AtMostSixteenFlights) {
    MonitorArea many[20];
    for (int32_t i = 0; i < 20; ++i) many[i] = {{i * 100, 0, i * 100 + 100, 100}, i == 0};
    const FlightPlan plan = PlanFlights({0, 0, 2000, 100}, many, 20, 0);
    ASSERT_EQ(plan.count, kMaxFlights);
    EXPECT_EQ(plan.areas[15].left, 1500);
    EXPECT_EQ(plan.areas[15].right, 1600);
}

TEST(PlanFlights, DegenerateWindowsAndExtremeCoordinates) {
    EXPECT_EQ(PlanFlights({0, 0, 0, 600}, kTwoHeads, 2, 0).count, 0);
    EXPECT_EQ(PlanFlights({10, 10, 5, 600}, kTwoHeads, 2, 0).count, 0);
    EXPECT_EQ(PlanFlights({0, 0, 1440, 600}, kTwoHeads, -3, 0).count, 1);
    // Sides beyond 32 bits have no window coordinates (and must not
    // overflow on the way).
    EXPECT_EQ(PlanFlights({INT32_MIN, 0, INT32_MAX, 600}, kTwoHeads, 2, 0).count, 0);
    const MonitorArea huge[] = {{{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}, true}};
    const PixelRect window = {-1000000000, -5, 1000000000, 5};
    EXPECT_EQ(Areas(PlanFlights(window, huge, 1, 0)), "0,0,2000000000,10");
}

TEST(OffsetSeed, FlightZeroKeepsTheSeedOthersAddTheirIndexWrapping) {
    EXPECT_EQ(OffsetSeed(1234u, 0), 1234u);
    EXPECT_EQ(OffsetSeed(1234u, 3), 1237u);
    EXPECT_EQ(OffsetSeed(0xFFFFFFFFu, 2), 1u);
}
