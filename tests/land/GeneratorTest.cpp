// The generator record, the land noise source and the map helpers.
#include <gtest/gtest.h>

#include <vector>

#include "LandTestSupport.h"
#include "base/Scratch.h"
#include "land/LandGenerator.h"

using landtest::CountingProgress;
using landtest::pollCounter;
using landtest::ResetPolls;
using landtest::TestLand;

namespace {

TEST(LandGenerator, BlockSizeIsTheLargestPowerOfTwoFittingTheShorterSide) {
    EXPECT_EQ(TestLand(1024).land.blockSize, 1024);
    EXPECT_EQ(TestLand(64).land.blockSize, 64);
    EXPECT_EQ(TestLand(1024, 512).land.blockSize, 512);
    EXPECT_EQ(TestLand(100, 3000).land.blockSize, 64);
    EXPECT_EQ(TestLand(1).land.blockSize, 2);
    // No allocation needed for these: the constructor only computes.
    LandGenerator big(4096, 4096, nullptr, nullptr, 0, 255, nullptr);
    EXPECT_EQ(big.blockSize, 4096);
    LandGenerator huge(8192, 8192, nullptr, nullptr, 0, 255, nullptr);
    EXPECT_EQ(huge.blockSize, 2);
}

TEST(LandGenerator, ConstructionFixesAnEmptyHeightRangeAndResetsParameters) {
    LandGenerator land(64, 64, nullptr, nullptr, 300, 255, nullptr);
    EXPECT_EQ(land.maxHeight, 301);
    EXPECT_EQ(land.minHeight, 300);
    EXPECT_EQ(land.noiseMode, 0);
    EXPECT_EQ(land.synthesisMethod, -1);
    EXPECT_EQ(land.spectralExponent, 2.2);
    EXPECT_EQ(land.noiseSource, &LandGenerator::NextNoise);
    LandGenerator top(64, 64, nullptr, nullptr, 2147483647, 0, nullptr);
    EXPECT_EQ(top.maxHeight, 2147483647);
}

TEST(LandNoise, SeedOneGivesTheKnownSequenceAndRepeats) {
    LandGenerator land(64, 64, nullptr, nullptr, 0, 255, nullptr);
    land.SetSeed(1);
    EXPECT_EQ(land.seed, 1u);
    EXPECT_EQ(land.NextNoise(), 670);
    EXPECT_EQ(land.NextNoise(), 819775);
    land.SetSeed(1);
    EXPECT_EQ(land.NextNoise(), 670);
    EXPECT_EQ(land.NextNoise(), 819775);
}

TEST(LandNoise, EachGeneratorDrawsItsOwnSequence) {
    LandGenerator a(64, 64, nullptr, nullptr, 0, 255, nullptr);
    LandGenerator b(64, 64, nullptr, nullptr, 0, 255, nullptr);
    a.SetNoiseMode(1);
    a.SetSeed(1);
    b.SetSeed(2);
    std::vector<int32_t> interleavedA;
    for (int i = 0; i < 100; ++i) {
        interleavedA.push_back(a.NextNoiseAveraged());
        b.NextNoise();
    }
    LandGenerator alone(64, 64, nullptr, nullptr, 0, 255, nullptr);
    alone.SetSeed(1);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(alone.NextNoiseAveraged(), interleavedA[i]) << i;
}

TEST(LandNoise, ModesSelectTheirDraws) {
    LandGenerator land(64, 64, nullptr, nullptr, 0, 255, nullptr);
    land.SetNoiseMode(-5);
    EXPECT_EQ(land.noiseMode, 0);
    EXPECT_EQ(land.noiseSource, &LandGenerator::NextNoise);
    land.SetNoiseMode(1);
    EXPECT_EQ(land.noiseSource, &LandGenerator::NextNoiseAveraged);
    land.SetNoiseMode(2);
    EXPECT_EQ(land.noiseSource, &LandGenerator::NextNoiseLowPass);

    // Averaged: (accumulator + r) >> 1 with the accumulator starting at the seed.
    land.SetSeed(1);
    EXPECT_EQ(land.NextNoiseAveraged(), (1 + 670) >> 1);
    EXPECT_EQ(land.NextNoiseAveraged(), ((1 + 670) / 2 + 819775) >> 1);

    // Low-pass with shift 2: t = acc + r; acc = t - (t >> 2); result acc >> 2.
    land.SetNoiseMode(2);
    land.SetSeed(1);
    int32_t acc = 1;
    for (int32_t r : {670, 819775}) {
        const int32_t t = acc + r;
        acc = t - (t >> 2);
        EXPECT_EQ(land.NextNoiseLowPass(), acc >> 2);
    }
}

TEST(LandNoise, ModesOf32OrMoreActAs31AndNeverOverflow) {
    LandGenerator land(64, 64, nullptr, nullptr, 0, 255, nullptr);
    land.SetNoiseMode(40);
    EXPECT_EQ(land.noiseMode, 31);
    EXPECT_EQ(land.noiseSource, &LandGenerator::NextNoiseLowPass);
    // A seed near 2^31 makes both filters pass the 32-bit range at once; the
    // accumulator wraps (low-pass) or halves first (averaged), never
    // overflowing (the sanitizer build checks).
    for (int32_t mode : {1, 2, 12, 20, 31}) {
        land.SetNoiseMode(mode);
        land.SetSeed(0x7FFFFFF0u);
        for (int32_t i = 0; i < 5000; ++i) (land.*land.noiseSource)();
    }
    // Stored directly, bypassing SetNoiseMode: still a valid shift.
    land.noiseMode = 99;
    land.SetSeed(5);
    land.NextNoiseLowPass();
    land.noiseMode = -3;
    land.NextNoiseLowPass();
    land.ResetParameters();
}

TEST(LandColour, AddToColourClampsEachChannelAndSetsTheTopByte) {
    EXPECT_EQ(LandGenerator::AddToColour(0x00102030u, 250), 0xFFFFFFFFu);
    EXPECT_EQ(LandGenerator::AddToColour(0x00102030u, -300), 0xFF000000u);
    EXPECT_EQ(LandGenerator::AddToColour(0x00102030u, 0), 0xFF102030u);
    EXPECT_EQ(LandGenerator::AddToColour(0xAB102030u, 0x10), 0xFF203040u);
    EXPECT_EQ(LandGenerator::AddToColour(0x00102030u, 2147483647), 0xFFFFFFFFu);
    EXPECT_EQ(LandGenerator::AddToColour(0x00FFFFFFu, -2147483647 - 1), 0xFF000000u);
    uint32_t map[2] = {0x00102030u, 0x00405060u};
    LandGenerator::AddToColourAt(map, 1, -0x40);
    EXPECT_EQ(map[0], 0x00102030u);
    EXPECT_EQ(map[1], 0xFF001020u);
}

TEST(LandMaps, HelpersIndexRowMajorAndFindExtremes) {
    TestLand t(8, 4);
    t.land.SetCell(t.heights.data(), 3, 2, 77);
    EXPECT_EQ(t.heights[3 + 2 * 8], 77);
    EXPECT_EQ(t.land.GetCell(t.heights.data(), 3, 2), 77);
    t.heights[5] = -9;
    EXPECT_EQ(t.land.HighestHeight(), 77);
    EXPECT_EQ(t.land.LowestHeight(), -9);
    std::vector<int32_t> copy(32, 1);
    t.land.CopyMap(t.heights.data(), copy.data());
    EXPECT_EQ(copy, t.heights);

    LandGenerator empty(0, 0, nullptr, nullptr, 0, 255, nullptr);
    EXPECT_EQ(empty.HighestHeight(), -2147483647);
    EXPECT_EQ(empty.LowestHeight(), 2147483647);
}

TEST(LandMaps, FillMapPollsEvery256CellsAndStopsAtAnAbort) {
    TestLand t(32, 32, CountingProgress);  // 1024 cells
    ResetPolls();
    t.land.FillMap(t.heights.data(), 5);
    for (int32_t v : t.heights) ASSERT_EQ(v, 5);
    // Before the first write and after each 256 writes.
    EXPECT_EQ(pollCounter.polls, 1 + 1024 / 256);
    EXPECT_EQ(pollCounter.lastHint, 1024 / 256);

    ResetPolls(1);
    t.land.FillMap(t.heights.data(), 9);
    for (int32_t v : t.heights) ASSERT_EQ(v, 5);

    // An abort at the second poll: the last 256 cells are written.
    ResetPolls(2);
    t.land.FillMap(t.heights.data(), 9);
    for (size_t i = 0; i < t.heights.size(); ++i) ASSERT_EQ(t.heights[i], i >= 768 ? 9 : 5) << i;
}

TEST(LandScratch, PassesShareTheLentBlockAndFallBackBeyondIt) {
    TestLand t(64);
    LandGenerator& land = t.land;
    std::vector<unsigned char> block(1000);
    const auto inBlock = [&](const void* p) {
        const auto* c = static_cast<const unsigned char*>(p);
        return c >= block.data() && c < block.data() + block.size();
    };
    land.LendScratchBlock(block.data(), static_cast<int64_t>(block.size()));
    // Two maps of one pass lie in the block without overlapping.
    int32_t* a = land.TakeScratch<int32_t>(100);
    int32_t* b = land.TakeScratch<int32_t>(100);
    ASSERT_TRUE(inBlock(a) && inBlock(b));
    EXPECT_GE(reinterpret_cast<const unsigned char*>(b), reinterpret_cast<unsigned char*>(a + 100));
    // What no longer fits comes from the heap, and goes back there.
    int32_t* c = land.TakeScratch<int32_t>(100);
    ASSERT_NE(c, nullptr);
    EXPECT_FALSE(inBlock(c));
    land.GiveBackScratch(c);
    EXPECT_EQ(c, nullptr);
    // Once a pass has given everything back, the next starts at the block's start again.
    land.GiveBackScratch(b);
    land.GiveBackScratch(a);
    int32_t* again = land.TakeScratch<int32_t>(200);
    EXPECT_EQ(static_cast<void*>(again), static_cast<void*>(block.data()));
    land.GiveBackScratch(again);
    // Injected allocation failures reach takes from the block too.
    scratch::FailAllocationsAfter(0);
    int32_t* failed = land.TakeScratch<int32_t>(10);
    scratch::FailAllocationsAfter(-1);
    EXPECT_EQ(failed, nullptr);
    land.LendScratchBlock(nullptr, 0);
}

}  // namespace
