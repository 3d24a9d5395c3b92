// Palette colouring and the two blur filters.
#include <gtest/gtest.h>

#include <set>
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

TEST(EarthPalette, HasTheKnownEndsAndDistinctEntries) {
    EXPECT_EQ(EarthPalette[0], 0x291F17u);
    EXPECT_EQ(EarthPalette[128], 0x834D32u);
    EXPECT_EQ(EarthPalette[254], 0xC9A78Bu);
    EXPECT_EQ(EarthPalette[255], 0xCE825Cu);
    EXPECT_EQ(EarthPalette[100], 0x7A452Bu);
    EXPECT_EQ(EarthPalette[200], 0xAA6649u);
    std::set<uint32_t> distinct(EarthPalette, EarthPalette + 256);
    EXPECT_EQ(distinct.size(), 256u);
    for (uint32_t c : EarthPalette) EXPECT_EQ(c >> 24, 0u);
    EXPECT_EQ(landtest::Fnv1a(EarthPalette, 256), 0x93bb90f582c04e85ull);
}

TEST(ColourByHeight, PicksEntriesByHeight) {
    TestLand t(4, 1);
    t.SetHeights(std::vector<int32_t>{0, 1024, 2048, 512});
    t.land.ColourByHeight(256);
    EXPECT_EQ(t.colours[0], 0x291F17u);
    EXPECT_EQ(t.colours[1], 0x834D32u);
    EXPECT_EQ(t.colours[2], 0xCE825Cu);
    EXPECT_EQ(t.colours[3], EarthPalette[64]);

    t.SetHeights(std::vector<int32_t>{5, 5, 5, 5});
    t.land.ColourByHeight(256);
    for (uint32_t c : t.colours) EXPECT_EQ(c, EarthPalette[0]);

    // Fewer levels use the bottom of the palette; out-of-range level
    // counts never index outside it.
    t.SetHeights(std::vector<int32_t>{0, 1024, 2048, 512});
    t.land.ColourByHeight(4);
    EXPECT_EQ(t.colours[2], EarthPalette[3]);
    t.land.ColourByHeight(1000);
    EXPECT_EQ(t.colours[2], EarthPalette[255]);
    EXPECT_EQ(t.colours[3], EarthPalette[250]);
    t.land.ColourByHeight(0);
    for (uint32_t c : t.colours) EXPECT_EQ(c, EarthPalette[0]);
    t.land.ColourByHeight(-7);
    for (uint32_t c : t.colours) EXPECT_EQ(c, EarthPalette[0]);
    t.SetHeights(std::vector<int32_t>{-2147483647 - 1, 2147483647, 0, 1});
    t.land.ColourByHeight(256);
    EXPECT_EQ(t.colours[0], EarthPalette[0]);
    EXPECT_EQ(t.colours[1], EarthPalette[255]);
}

TEST(NearestPaletteIndex, FindsTheClosestFirstEntry) {
    for (int32_t i = 0; i < 256; ++i) {
        const uint32_t c = EarthPalette[i];
        EXPECT_EQ(LandGenerator::NearestPaletteIndex(c >> 16 & 0xFF, c >> 8 & 0xFF, c & 0xFF), i);
    }
    EXPECT_EQ(LandGenerator::NearestPaletteIndex(0, 0, 0), 0);
    EXPECT_EQ(LandGenerator::NearestPaletteIndex(255, 255, 255), 254);
}

TEST(BlurColours, UniformMapKeepsItsChannelsAndClearsTheTopByte) {
    TestLand t(8);
    t.colours.assign(t.colours.size(), 0xFF123456u);
    EXPECT_TRUE(t.land.BlurColours(3, false));
    for (uint32_t c : t.colours) EXPECT_EQ(c, 0x00123456u);
}

TEST(BlurColours, MatchesTheLiteralFilter) {
    struct Case {
        int32_t w, h, centreWeight, passes;
        bool snap;
    };
    const Case cases[] = {{64, 64, 3, 1, false}, {70, 33, 0, 2, false}, {1, 5, 3, 1, false},
                          {5, 1, -3, 1, false},  {130, 3, 3, 3, true},  {16, 16, 200, 0, false},
                          {8, 8, -9, 1, false}};
    for (const Case& c : cases) {
        TestLand t(c.w, c.h);
        t.SetColours(RandomColours(t.colours.size(), c.w * 7u + c.h, true));
        reference::Maps expected{c.w, c.h, t.heights, t.colours};
        if (c.centreWeight != -9) {
            reference::BlurColours(expected, c.centreWeight, c.passes, c.snap);
        }
        EXPECT_TRUE(t.land.BlurColours(c.centreWeight, c.passes, c.snap));
        if (c.centreWeight != -9) {
            EXPECT_EQ(t.colours, expected.colours) << c.w << "x" << c.h;
        } else {
            // Weight -9 divides by zero: channels saturate instead.
            for (uint32_t colour : t.colours) EXPECT_EQ(colour >> 24, 0u);
        }
    }
}

TEST(BlurColours, AbortLeavesLaterColumnsAsTheyWere) {
    TestLand t(70, 10, CountingProgress);
    t.SetColours(RandomColours(t.colours.size(), 3, true));
    const std::vector<uint32_t> before = t.colours;
    reference::Maps blurred{70, 10, t.heights, t.colours};
    reference::BlurColours(blurred, 3, 1, false);
    ResetPolls(67);  // columns 0 ... 65 blurred
    EXPECT_FALSE(t.land.BlurColours(3, false));
    EXPECT_EQ(pollCounter.lastHint, 70);
    for (int32_t y = 0; y < 10; ++y) {
        for (int32_t x = 0; x < 70; ++x) {
            const size_t i = x + y * 70;
            ASSERT_EQ(t.colours[i], x < 66 ? blurred.colours[i] : before[i]) << x << "," << y;
        }
    }
    // Two passes with a one-shot abort at the first poll: the first pass
    // ends there, the second runs in full.
    t.SetColours(before);
    ResetPolls(1, true);
    t.land.BlurColours(3, 2, false);
    EXPECT_EQ(pollCounter.polls, 1 + 70);
    EXPECT_EQ(pollCounter.lastHint, 140);
}

TEST(BlurHeights, SpreadsASpikeOverItsWrappedNeighbours) {
    for (int32_t spike : {0, 5 + 5 * 8, 63}) {
        TestLand t(8);
        t.heights[spike] = 900;
        EXPECT_TRUE(t.land.BlurHeights(0, 1));
        const int32_t sx = spike % 8;
        const int32_t sy = spike / 8;
        for (int32_t y = 0; y < 8; ++y) {
            for (int32_t x = 0; x < 8; ++x) {
                const int32_t dx = (x - sx + 9) % 8;  // 1 when x == sx, 0 or 2 beside it
                const int32_t dy = (y - sy + 9) % 8;
                const bool near = dx <= 2 && dy <= 2;
                EXPECT_EQ(t.heights[x + y * 8], near ? 100 : 0) << spike << ": " << x << "," << y;
            }
        }
    }
}

TEST(BlurHeights, RoundsNegativeMeansUpAndHandlesOddArguments) {
    TestLand t(8);
    t.heights.assign(64, -35);
    t.land.BlurHeights(0, 1);
    for (int32_t h : t.heights) EXPECT_EQ(h, -34);
    t.heights.assign(64, 35);
    t.land.BlurHeights(0, 3);
    for (int32_t h : t.heights) EXPECT_EQ(h, 35);

    t.SetHeights(landtest::RandomHeights(8, 8, 1, 1000));
    const std::vector<int32_t> before = t.heights;
    EXPECT_TRUE(t.land.BlurHeights(5, 0));
    EXPECT_EQ(t.heights, before);
    t.land.BlurHeights(-4, 1);
    std::vector<int32_t> expected = before;
    reference::BlurHeights(expected, 8, 8, 0, 1);
    EXPECT_EQ(t.heights, expected);
}

TEST(BlurHeights, MatchesTheLiteralFilter) {
    const int32_t sizes[][2] = {{64, 64}, {65, 7}, {1, 1}, {1, 9}, {9, 1}, {2, 2}, {200, 3}};
    for (const auto& size : sizes) {
        for (int32_t weight : {0, 3, 17}) {
            TestLand t(size[0], size[1]);
            t.SetHeights(landtest::RandomHeights(size[0], size[1], weight + 11, 2000000));
            for (size_t i = 0; i < t.heights.size(); i += 3) t.heights[i] = -t.heights[i];
            std::vector<int32_t> expected = t.heights;
            reference::BlurHeights(expected, size[0], size[1], weight, 2);
            t.land.BlurHeights(weight, 2);
            EXPECT_EQ(t.heights, expected) << size[0] << "x" << size[1] << " w" << weight;
        }
    }
    // Cells beyond the range where every sum of (w + 9) cells fits in 32 bits.
    TestLand t(40, 6);
    t.SetHeights(landtest::RandomHeights(40, 6, 5, 2000000));
    t.heights[17] = 300000000;
    t.heights[100] = -300000000;
    std::vector<int32_t> expected = t.heights;
    reference::BlurHeights(expected, 40, 6, 3, 1);
    t.land.BlurHeights(3, 1);
    EXPECT_EQ(t.heights, expected);
}

TEST(BlurHeights, ExtremeValuesSaturate) {
    TestLand t(4);
    t.heights.assign(16, 2147483647);
    t.land.BlurHeights(2147483647, 1);
    for (int32_t h : t.heights) EXPECT_EQ(h, 2147483647);
    t.heights.assign(16, -2147483647 - 1);
    t.land.BlurHeights(0, 1);
    for (int32_t h : t.heights) EXPECT_EQ(h, -2147483647);
}

TEST(BlurHeights, AbortKeepsTheMapAndLaterPassesOnlyPoll) {
    TestLand t(20, 6, CountingProgress);
    t.SetHeights(landtest::RandomHeights(20, 6, 2, 1000));
    const std::vector<int32_t> before = t.heights;
    ResetPolls(5);
    EXPECT_FALSE(t.land.BlurHeights(0, 3));
    EXPECT_EQ(t.heights, before);
    EXPECT_EQ(pollCounter.polls, 5 + 1 + 1);  // later passes stop at their first poll
    EXPECT_EQ(pollCounter.lastHint, 60);

    // A one-shot abort: the later passes poll every column but still may
    // not change the map.
    ResetPolls(5, true);
    EXPECT_FALSE(t.land.BlurHeights(0, 3));
    EXPECT_EQ(t.heights, before);
    EXPECT_EQ(pollCounter.polls, 5 + 20 + 20);

    // A completed first pass stays when the second is aborted.
    ResetPolls(21);
    t.land.BlurHeights(0, 2);
    std::vector<int32_t> expected = before;
    reference::BlurHeights(expected, 20, 6, 0, 1);
    EXPECT_EQ(t.heights, expected);
}

}  // namespace
