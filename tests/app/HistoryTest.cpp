// The landscape history: one command a whole landscape, the last fifty kept.
#include <gtest/gtest.h>

#include <string>

#include "app/FrameLoop.h"
#include "app/History.h"
#include "tests/app/TestPlatform.h"

namespace {

TEST(History, EveryWholeLandscapeIsRecordedWithItsSeedsAndSettings) {
    TestPlatform platform;
    platform.calendarSeconds = 31;
    platform.millisecondTime = 17;
    Settings settings = SmallTestSettings();
    settings.newlandWait = 1;
    Flight flight;
    ASSERT_TRUE(flight.Create(platform, settings, 128, 96).ok());
    for (int i = 0; i < 27; ++i) flight.Tick();  // two landscapes
    ASSERT_EQ(platform.landscapes.size(), 2u);
    EXPECT_EQ(platform.landscapes[0].landSeed, 31u);
    EXPECT_EQ(platform.landscapes[0].viewSeed, 17u);
    EXPECT_EQ(flight.landSeed(), 31u);
    EXPECT_EQ(flight.viewSeed(), 17u);
    EXPECT_EQ(HistoryLine(platform.landscapes[1]),
              "glidescape-render --land-seed 31 --view-seed 17 --client 128x96 --land-size 6 "
              "--objects 2 --output-width 128 --newland-wait 1");
    // A landscape stopped by Shift is not one to fly again.
    platform.shiftHeld = true;
    for (int i = 0; i < 26; ++i) flight.Tick();
    EXPECT_EQ(platform.landscapes.size(), 2u);
}

TEST(History, KeepsTheLastLinesAndDropsBlankOnes) {
    std::string history;
    for (int i = 0; i < 60; ++i) history = AddHistoryLine(history, "line " + std::to_string(i));
    EXPECT_EQ(history.substr(0, 8), "line 10\n");
    EXPECT_EQ(history.size(), std::string("line 10\n").size() * 50);
    EXPECT_EQ(AddHistoryLine("a\r\n\n  \nb", "c", 2), "b\nc\n");
    EXPECT_EQ(AddHistoryLine("", "first"), "first\n");
}

}  // namespace
