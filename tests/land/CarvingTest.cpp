// Flow carving against the literal path tracing, and its limits.
#include <gtest/gtest.h>

#include <numeric>
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

// A smooth relief with pits, ridges and a flat zero plain, so that rays
// cross zero cells and pass their candidate on.
std::vector<int32_t> Relief(int32_t w, int32_t h, uint32_t seed) {
    std::vector<int32_t> heights = landtest::RandomHeights(w, h, seed, 400);
    reference::BlurHeights(heights, w, h, 0, 2);
    for (int32_t& v : heights) v = v < 190 ? 0 : v - 190;
    return heights;
}

// Flow counts as the generator sees them, unblurred: with depth gain 1024 a
// cell's height gains exactly its count over a run with gain 0, and a huge
// flow blur weight leaves counts unchanged.
std::vector<int32_t> GeneratorFlow(int32_t w, int32_t h, const std::vector<int32_t>& heights,
                                   int32_t maxSteps, int32_t probeLength) {
    TestLand a(w, h);
    TestLand b(w, h);
    a.SetHeights(heights);
    b.SetHeights(heights);
    a.land.CarveFlowChannels(1024, 0, maxSteps, probeLength, 1000000000);
    b.land.CarveFlowChannels(0, 0, maxSteps, probeLength, 1000000000);
    std::vector<int32_t> flow(heights.size());
    for (size_t i = 0; i < flow.size(); ++i) flow[i] = a.heights[i] - b.heights[i];
    return flow;
}

std::vector<int32_t> ScaledSmoothed(std::vector<int32_t> heights, int32_t w, int32_t h) {
    for (int32_t& v : heights) v *= 1024;
    reference::BlurHeights(heights, w, h, 0, 1);
    return heights;
}

TEST(CarveFlowChannels, MatchesTheLiteralTracingOnWholeMaps) {
    for (int32_t log2Side = 6; log2Side <= 8; ++log2Side) {
        const int32_t side = 1 << log2Side;
        for (uint32_t seed : {1u, 2u}) {
            TestLand t(side);
            t.SetHeights(Relief(side, side, seed * 31 + side));
            t.SetColours(RandomColours(t.colours.size(), seed));
            reference::Maps expected{side, side, t.heights, t.colours};
            reference::CarveFlowChannels(expected, -(side / 4), -100, 16, 4, 3);
            EXPECT_TRUE(t.land.CarveFlowChannels(-(side / 4), -100, 16, 4, 3));
            EXPECT_EQ(t.heights, expected.heights) << side << " " << seed;
            EXPECT_EQ(t.colours, expected.colours) << side << " " << seed;
        }
    }
}

TEST(CarveFlowChannels, MatchesTheLiteralTracingForOddArguments) {
    const int32_t sizes[][2] = {{64, 64}, {37, 23}, {5, 9}, {3, 3}, {1, 1}, {2, 40}};
    for (const auto& size : sizes) {
        const int32_t w = size[0];
        const int32_t h = size[1];
        const std::vector<int32_t> heights = Relief(w, h, static_cast<uint32_t>(w * h));
        const std::vector<int32_t> smoothed = ScaledSmoothed(heights, w, h);
        for (int32_t probe : {1, 2, 3, 4, 5, 0, -2, 40}) {
            for (int32_t maxSteps : {0, 1, 2, 3, 7, 16, 20, -1, 100}) {
                if (probe == 40 && maxSteps > 3) continue;  // slow literal path, same code
                const std::vector<int32_t> expected =
                    reference::FlowCounts(smoothed, w, h, maxSteps, probe);
                ASSERT_EQ(GeneratorFlow(w, h, heights, maxSteps, probe), expected)
                    << w << "x" << h << " probe " << probe << " steps " << maxSteps;
            }
        }
    }
}

TEST(CarveFlowChannels, NoStartContributesMoreThanMaxStepsPlusOneVisits) {
    const int32_t side = 32;
    const std::vector<int32_t> heights = Relief(side, side, 9);
    for (int32_t maxSteps : {0, 3, 16}) {
        const std::vector<int32_t> flow = GeneratorFlow(side, side, heights, maxSteps, 4);
        const int64_t total = std::accumulate(flow.begin(), flow.end(), int64_t{0});
        EXPECT_LE(total, int64_t{side} * side * (maxSteps + 1));
        EXPECT_GT(total, 0);
    }
    // A single slope: each start's path runs the full maxSteps + 1 moves.
    std::vector<int32_t> ramp(side * side);
    for (int32_t y = 0; y < side; ++y) {
        for (int32_t x = 0; x < side; ++x) ramp[x + y * side] = 1000 + 100 * std::abs(x - 16);
    }
    const std::vector<int32_t> flow = GeneratorFlow(side, side, ramp, 2, 1);
    EXPECT_LE(std::accumulate(flow.begin(), flow.end(), int64_t{0}), int64_t{side} * side * 3);
}

TEST(CarveFlowChannels, PathsThatCycleStopAfterMaxStepsPlusOneMoves) {
    // Two equal cells with a deep ground beyond each: with probe length 2
    // each moves to the other, forever.
    TestLand t(8, 1);
    const std::vector<int32_t> heights = {50, 50, 50, 10, 10, 50, 50, 50};
    const std::vector<int32_t> smoothed = ScaledSmoothed(heights, 8, 1);
    for (int32_t maxSteps : {0, 5, 30, 64, 65, 200}) {
        EXPECT_EQ(GeneratorFlow(8, 1, heights, maxSteps, 2),
                  reference::FlowCounts(smoothed, 8, 1, maxSteps, 2));
    }
}

TEST(CarveFlowChannels, FlatMapOnlyMarksTheColours) {
    TestLand t(16);
    t.heights.assign(t.heights.size(), 40);
    t.SetColours(RandomColours(t.colours.size(), 5));
    const std::vector<uint32_t> before = t.colours;
    EXPECT_TRUE(t.land.CarveFlowChannels(-256, -100, 16, 4, 3));
    for (int32_t h : t.heights) ASSERT_EQ(h, 40);
    for (size_t i = 0; i < before.size(); ++i) ASSERT_EQ(t.colours[i], before[i] | 0xFF000000u);
}

TEST(CarveFlowChannels, AbortStillAppliesTheCountsAndRestoresTheScale) {
    const int32_t side = 64;
    TestLand t(side, CountingProgress);
    t.SetHeights(Relief(side, side, 4));
    t.SetColours(RandomColours(t.colours.size(), 4));
    const std::vector<int32_t> heights = t.heights;

    ResetPolls();
    t.land.CarveFlowChannels(-16, -100, 16, 4, 3);
    EXPECT_EQ(pollCounter.polls, side * 3);  // two blurs and the tracing
    EXPECT_EQ(pollCounter.lastHint, side);

    // Abort at the first tracing column: no paths, the smoothed heights come
    // back at their normal scale and the colours only get their top byte.
    t.SetHeights(heights);
    const std::vector<uint32_t> colours = RandomColours(t.colours.size(), 4);
    t.SetColours(colours);
    ResetPolls(side + 1);
    EXPECT_FALSE(t.land.CarveFlowChannels(-16, -100, 16, 4, 3));
    std::vector<int32_t> expected = ScaledSmoothed(heights, side, side);
    for (int32_t& v : expected) v >>= 10;
    EXPECT_EQ(t.heights, expected);
    for (size_t i = 0; i < colours.size(); ++i) ASSERT_EQ(t.colours[i], colours[i] | 0xFF000000u);

    // Abort in the middle of the tracing: only paths from the first columns
    // count, applied unblurred.
    t.SetHeights(heights);
    t.SetColours(colours);
    ResetPolls(side + 11);
    t.land.CarveFlowChannels(1024, 0, 16, 4, 3);
    const std::vector<int32_t> all =
        reference::FlowCounts(ScaledSmoothed(heights, side, side), side, side, 16, 4);
    const std::vector<int32_t> firstTen =
        reference::FlowCounts(ScaledSmoothed(heights, side, side), side, side, 16, 4, 10);
    int64_t counted = 0;
    for (size_t i = 0; i < expected.size(); ++i) {
        const int32_t flow = t.heights[i] - expected[i];
        ASSERT_GE(flow, 0);
        ASSERT_LE(flow, all[i]);
        ASSERT_EQ(flow, firstTen[i]) << i;
        counted += flow;
    }
    EXPECT_GT(counted, 0);
    EXPECT_LE(counted, int64_t{10} * side * 17);
}

TEST(CarveFlowChannels, HugeHeightsAndGainsStayDefined) {
    TestLand t(16);
    t.SetHeights(landtest::RandomHeights(16, 16, 3, 2000000000));
    for (size_t i = 0; i < t.heights.size(); i += 2) t.heights[i] = -t.heights[i];
    t.SetColours(RandomColours(t.colours.size(), 1));
    t.land.CarveFlowChannels(-2147483647 - 1, 2147483647, 40, 4, 3);
    t.land.CarveFlowChannels(2147483647, -2147483647 - 1, 3, 9, -5);
    for (uint32_t c : t.colours) EXPECT_EQ(c >> 24, 0xFFu);
}

}  // namespace
