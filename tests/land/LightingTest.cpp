// Flooding, slope shading and cast shadows.
#include <gtest/gtest.h>

#include <vector>

#include "LandTestSupport.h"
#include "ReferenceLand.h"
#include "land/LandGenerator.h"

using landtest::CountingProgress;
using landtest::pollCounter;
using landtest::RandomColours;
using landtest::ResetPolls;
using landtest::TestLand;

namespace {

constexpr uint32_t kGrey = 0x00808080u;

// Shadow deltas before blurring, read back from a grey map.
std::vector<int32_t> ShadowDeltas(TestLand& t, char direction) {
    t.SetColours(std::vector<uint32_t>(t.colours.size(), kGrey));
    t.land.CastShadows(-35, 5, direction, 1024, 0, 0);
    std::vector<int32_t> deltas(t.colours.size());
    for (size_t i = 0; i < deltas.size(); ++i) {
        deltas[i] = static_cast<int32_t>(t.colours[i] & 0xFF) - 0x80;
    }
    return deltas;
}

TEST(FloodToLevel, RaisesOnlyCellsAtOrBelowTheLevel) {
    TestLand t(32, 16);
    std::vector<int32_t> heights(t.heights.size());
    for (size_t i = 0; i < heights.size(); ++i) heights[i] = static_cast<int32_t>(i);  // 0 ... 511
    t.SetHeights(heights);
    t.land.FloodToLevel(25);
    for (size_t i = 0; i < heights.size(); ++i) EXPECT_EQ(t.heights[i], i <= 25 ? 25 : heights[i]);
}

TEST(FloodToLevel, AbortLeavesTheColumnsBeforeItFlooded) {
    TestLand t(70, 3, CountingProgress);
    ResetPolls(66);
    t.land.FloodToLevel(25);
    EXPECT_EQ(pollCounter.lastHint, 70);
    for (int32_t y = 0; y < 3; ++y) {
        for (int32_t x = 0; x < 70; ++x) EXPECT_EQ(t.heights[x + y * 70], x < 65 ? 25 : 0);
    }
}

TEST(ShadeSlopes, FlatMapChangesNothing) {
    TestLand t(16);
    t.SetHeights(std::vector<int32_t>(t.heights.size(), 300));
    t.SetColours(RandomColours(t.colours.size(), 1));
    const std::vector<uint32_t> before = t.colours;
    EXPECT_TRUE(t.land.ShadeSlopes(20, 'r', 1, 0));
    EXPECT_EQ(t.colours, before);
}

TEST(ShadeSlopes, StrengthHalvesWithAnArithmeticShift) {
    // A ramp rising by 1 a cell toward high x (wrapping at the edge is
    // away from the cells checked): 'l' adds k x 2.
    for (const auto& [strength, k] : {std::pair{21, 10}, std::pair{-21, -11}, std::pair{20, 10}}) {
        TestLand t(16, 1);
        std::vector<int32_t> ramp(16);
        for (int32_t x = 0; x < 16; ++x) ramp[x] = x;
        t.SetHeights(ramp);
        t.SetColours(std::vector<uint32_t>(16, kGrey));
        t.land.ShadeSlopes(strength, 'l', 0, 0);
        EXPECT_EQ(static_cast<int32_t>(t.colours[5] & 0xFF), 0x80 + 2 * k) << strength;
        // "r" and any other character light from high x: the opposite sign.
        t.SetColours(std::vector<uint32_t>(16, kGrey));
        t.land.ShadeSlopes(strength, 'x', 0, 0);
        EXPECT_EQ(static_cast<int32_t>(t.colours[5] & 0xFF), 0x80 - 2 * k) << strength;
    }
}

TEST(ShadeSlopes, MatchesTheLiteralPassInEveryDirection) {
    for (char direction : {'l', 'r', 'u', 'd', 'x'}) {
        for (int32_t passes : {0, 1, 2}) {
            TestLand t(33, 20);
            t.SetHeights(landtest::RandomHeights(33, 20, 8, 60));
            t.SetColours(RandomColours(t.colours.size(), 2));
            reference::Maps expected{33, 20, t.heights, t.colours};
            reference::ShadeSlopes(expected, 20, direction, passes, 1);
            EXPECT_TRUE(t.land.ShadeSlopes(20, direction, passes, 1));
            EXPECT_EQ(t.colours, expected.colours) << direction << passes;
        }
    }
}

TEST(ShadeSlopes, AbortedBlurAppliesTheDeltasUnblurred) {
    TestLand t(16, CountingProgress);
    t.SetHeights(landtest::RandomHeights(16, 16, 4, 60));
    t.SetColours(RandomColours(t.colours.size(), 3));
    reference::Maps expected{16, 16, t.heights, t.colours};
    reference::ShadeSlopes(expected, 20, 'r', 0, 0);
    ResetPolls(1);
    EXPECT_FALSE(t.land.ShadeSlopes(20, 'r', 1, 0));
    EXPECT_EQ(pollCounter.polls, 1);
    EXPECT_EQ(t.colours, expected.colours);
}

TEST(CastShadows, FlatMapIsLitEverywhere) {
    TestLand t(16);
    t.SetHeights(std::vector<int32_t>(t.heights.size(), 25));
    t.SetColours(std::vector<uint32_t>(t.colours.size(), kGrey));
    EXPECT_TRUE(t.land.CastShadows(-35, 5, 'r', 1024, 1, 0));
    for (uint32_t c : t.colours) EXPECT_EQ(c, 0xFF858585u);
}

TEST(CastShadows, APeakShadowsTheGroundAwayFromTheLight) {
    TestLand t(128, 4);
    std::vector<int32_t> heights(t.heights.size(), 25);
    heights[100 + 2 * 128] = 35;
    t.SetHeights(heights);
    const std::vector<int32_t> deltas = ShadowDeltas(t, 'r');
    for (int32_t y = 0; y < 4; ++y) {
        for (int32_t x = 0; x < 128; ++x) {
            const bool shadowed = y == 2 && x >= 90 && x <= 99;
            EXPECT_EQ(deltas[x + y * 128], shadowed ? -35 : 5) << x << "," << y;
        }
    }
    // Blurred: the middle of the shadow ends at -34 per channel (the mean
    // of its rows rounds up), here with one shadowed row among three.
    t.SetColours(std::vector<uint32_t>(t.colours.size(), kGrey));
    t.land.CastShadows(-35, 5, 'r', 1024, 1, 0);
    const int32_t mean = static_cast<int32_t>((2 * 3 * 5 + 3 * -35) * (1.0 / 9) + 0.5);
    EXPECT_EQ(static_cast<int32_t>(t.colours[95 + 2 * 128] & 0xFF), 0x80 + mean);
}

TEST(CastShadows, ShadowsWrapAcrossTheEdge) {
    // Light from high x; a peak at column 3 shadows columns 2 ... 0 and,
    // through the wrap, the high-x end of the row in the second sweep.
    TestLand t(64, 1);
    std::vector<int32_t> heights(64, 25);
    heights[3] = 35;
    t.SetHeights(heights);
    const std::vector<int32_t> deltas = ShadowDeltas(t, 'r');
    for (int32_t x = 0; x < 64; ++x) {
        const bool shadowed = x <= 2 || x >= 57;  // ten cells: 2, 1, 0, 63 ... 57
        EXPECT_EQ(deltas[x], shadowed ? -35 : 5) << x;
    }
}

TEST(CastShadows, DirectionsPickTheirScanLines) {
    // A peak in the middle of a 16 x 16 map shadows the side away from the
    // light; an unknown direction acts as "d" (light from low y).
    TestLand t(16);
    std::vector<int32_t> heights(256, 25);
    heights[8 + 8 * 16] = 28;
    t.SetHeights(heights);
    struct Expect {
        char direction;
        int32_t dx, dy;  // step away from the light
    };
    for (const Expect& e : {Expect{'l', 1, 0}, Expect{'r', -1, 0}, Expect{'u', 0, -1},
                            Expect{'d', 0, 1}, Expect{'x', 0, 1}}) {
        const std::vector<int32_t> deltas = ShadowDeltas(t, e.direction);
        for (int32_t i = 1; i <= 3; ++i) {
            EXPECT_EQ(deltas[(8 + i * e.dx) + (8 + i * e.dy) * 16], -35) << e.direction << i;
        }
        EXPECT_EQ(deltas[(8 + 4 * e.dx) + (8 + 4 * e.dy) * 16], 5) << e.direction;
        EXPECT_EQ(deltas[(8 - e.dx) + (8 - e.dy) * 16], 5) << e.direction;
    }
}

TEST(CastShadows, MatchesTheLiteralPass) {
    for (char direction : {'l', 'r', 'u', 'd', 'q'}) {
        for (int32_t drop : {1024, 300, 5000}) {
            TestLand t(40, 24);
            t.SetHeights(landtest::RandomHeights(40, 24, drop, 90));
            t.SetColours(RandomColours(t.colours.size(), 7));
            reference::Maps expected{40, 24, t.heights, t.colours};
            reference::CastShadows(expected, -35, 5, direction, drop, 2, 1);
            EXPECT_TRUE(t.land.CastShadows(-35, 5, direction, drop, 2, 1));
            EXPECT_EQ(t.colours, expected.colours) << direction << drop;
        }
    }
}

TEST(CastShadows, AbortAppliesTheFinishedLinesUnblurred) {
    TestLand t(16, CountingProgress);
    t.SetHeights(landtest::RandomHeights(16, 16, 6, 40));
    t.SetColours(std::vector<uint32_t>(256, kGrey));
    reference::Maps all{16, 16, t.heights, t.colours};
    reference::CastShadows(all, -35, 5, 'r', 1024, 0, 0);
    ResetPolls(6);  // rows 0 ... 4 done
    EXPECT_FALSE(t.land.CastShadows(-35, 5, 'r', 1024, 1, 0));
    EXPECT_EQ(pollCounter.polls, 6 + 1);  // and the blur's first poll
    for (int32_t i = 0; i < 256; ++i) {
        EXPECT_EQ(t.colours[i], i < 5 * 16 ? all.colours[i] : kGrey) << i;
    }
}

TEST(CastShadows, HugeHeightsAndDropsStayDefined) {
    TestLand t(16);
    std::vector<int32_t> heights = landtest::RandomHeights(16, 16, 3, 2000000000);
    heights[7] = -2147483647 - 1;
    heights[8] = 2147483647;
    t.SetHeights(heights);
    for (int32_t drop : {-2147483647 - 1, 2147483647, 0}) {
        t.land.CastShadows(-2147483647 - 1, 2147483647, 'r', drop, 1, 2147483647);
        t.land.ShadeSlopes(2147483647, 'u', 1, 0);
        t.land.ShadeSlopes(-2147483647 - 1, 'l', 1, 0);
    }
    for (uint32_t c : t.colours) EXPECT_EQ(c >> 24, 0xFFu);
}

}  // namespace
