// The land passes on several threads against one thread and the plain
// passes: whole pipelines at 1, 2, 3 and 8 threads (the golden checksums,
// the plain pipeline on small maps with random seeds), pipelines aborted at
// random polls, and the threaded passes alone on random maps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "base/ThreadPool.h"
#include "base/Units.h"
#include "land/LandGenerator.h"
#include "land/LandPipeline.h"
#include "tests/land/LandTestSupport.h"
#include "tests/land/ReferenceLand.h"

namespace {

using landtest::Fnv1a;
using landtest::TestLand;
using landtest::WildCells;

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr bool kSlowBuild = true;
#else
constexpr bool kSlowBuild = false;
#endif

TEST(LandThreads, GoldenPipelinesAtOneTwoThreeAndEightThreads) {
    struct Golden {
        int32_t log2Side;
        uint32_t seed;
        uint64_t heights;
        uint64_t colours;
    };
    // The checksums of tests/land/PipelineTest.cpp.
    const Golden goldens[] = {
        {6, 1, 0x1283a1a911f07bf6ull, 0x4f30bdb429e6270aull},
        {8, 1700000000, 0x97bb1dfb12c6cdd4ull, 0x7e9ac5e13efd15b7ull},
        {10, 1700000000, 0x86e191d6bc0fe6b1ull, 0x25ac66a41f99c0f0ull},
    };
    for (const Golden& g : goldens) {
        if (kSlowBuild && g.log2Side > 8) continue;
        for (int32_t threads : {1, 2, 3, 8}) {
            ThreadPool pool(threads);
            TestLand t(1 << g.log2Side);
            t.land.threadPool = &pool;
            ASSERT_EQ(RunLandPipeline(t.land, g.seed, nullptr), 13);
            EXPECT_EQ(Fnv1a(t.heights.data(), t.heights.size()), g.heights)
                << "side " << (1 << g.log2Side) << ", " << threads << " threads";
            EXPECT_EQ(Fnv1a(t.colours.data(), t.colours.size()), g.colours)
                << "side " << (1 << g.log2Side) << ", " << threads << " threads";
        }
    }
}

TEST(LandThreads, RandomSeedsMatchThePlainPipeline) {
    std::mt19937 random(808u);
    ThreadPool pools[] = {ThreadPool(2), ThreadPool(3), ThreadPool(8)};
    for (int32_t i = 0; i < (kSlowBuild ? 3 : 8); ++i) {
        const int32_t side = 1 << std::uniform_int_distribution<int32_t>(6, 8)(random);
        const uint32_t seed = static_cast<uint32_t>(random());
        const reference::Maps expected = reference::Pipeline(side, seed);
        ThreadPool& pool = pools[i % 3];
        TestLand t(side);
        t.land.threadPool = &pool;
        ASSERT_EQ(RunLandPipeline(t.land, seed, nullptr), 13);
        EXPECT_TRUE(t.heights == expected.heights)
            << "side " << side << " seed " << seed << ", " << pool.size() << " threads";
        EXPECT_TRUE(t.colours == expected.colours)
            << "side " << side << " seed " << seed << ", " << pool.size() << " threads";
    }
}

TEST(LandThreads, AbortsLeaveWhatOneThreadLeaves) {
    // The same poll stops the same work: the maps, the step the pipeline
    // stopped at and the polls made agree with one thread's.
    std::mt19937 random(4242u);
    const int32_t side = 128;
    landtest::ResetPolls();
    {
        TestLand t(side, landtest::CountingProgress);
        ASSERT_EQ(RunLandPipeline(t.land, 99, nullptr), 13);
    }
    const int64_t totalPolls = landtest::pollCounter.polls;
    ThreadPool pool(3);
    for (int32_t i = 0; i < (kSlowBuild ? 4 : 12); ++i) {
        const int64_t abortAt = std::uniform_int_distribution<int64_t>(1, totalPolls)(random);
        int32_t steps[2];
        int64_t polls[2];
        std::vector<int32_t> heights[2];
        std::vector<uint32_t> colours[2];
        for (int32_t k = 0; k < 2; ++k) {
            landtest::ResetPolls(abortAt);
            TestLand t(side, landtest::CountingProgress);
            if (k == 1) t.land.threadPool = &pool;
            steps[k] = RunLandPipeline(t.land, 99, &landtest::pollCounter.abortFlag);
            polls[k] = landtest::pollCounter.polls;
            heights[k] = t.heights;
            colours[k] = t.colours;
        }
        EXPECT_EQ(steps[1], steps[0]) << "abort at poll " << abortAt;
        EXPECT_EQ(polls[1], polls[0]) << "abort at poll " << abortAt;
        EXPECT_TRUE(heights[1] == heights[0]) << "abort at poll " << abortAt;
        EXPECT_TRUE(colours[1] == colours[0]) << "abort at poll " << abortAt;
    }
    landtest::ResetPolls();
}

TEST(LandThreads, ThreadedPassesMatchThePlainPasses) {
    ThreadPool pool(3);
    for (const int32_t side : {64, 256}) {
        // Colour blur with palette snapping and height blur on random maps.
        {
            reference::Maps maps;
            maps.width = maps.height = side;
            maps.heights = landtest::RandomHeights(side, side, 5, 4000);
            maps.colours = landtest::RandomColours(static_cast<size_t>(side) * side, 6);
            TestLand t(side);
            t.land.threadPool = &pool;
            t.SetHeights(maps.heights);
            t.SetColours(maps.colours);
            ASSERT_TRUE(t.land.BlurColours(2, 2, true));
            ASSERT_TRUE(t.land.BlurHeights(1, 3));
            reference::BlurColours(maps, 2, 2, true);
            reference::BlurHeights(maps.heights, side, side, 1, 3);
            EXPECT_TRUE(t.colours == maps.colours) << "side " << side;
            EXPECT_TRUE(t.heights == maps.heights) << "side " << side;
        }
        // A forward and an inverse 2-D transform of random cells.
        std::mt19937 random(static_cast<uint32_t>(side));
        std::uniform_real_distribution<double> value(-1000.0, 1000.0);
        std::vector<ComplexCell> cells(static_cast<size_t>(side) * side);
        for (ComplexCell& c : cells) c = {value(random), value(random)};
        for (int32_t direction : {1, -1}) {
            std::vector<ComplexCell> expected = cells;
            reference::Fft2D(expected.data(), side, direction);
            std::vector<ComplexCell> actual = cells;
            TestLand t(side);
            t.land.threadPool = &pool;
            ASSERT_TRUE(t.land.Fft2D(actual.data(), side, side, direction));
            bool same = true;
            for (size_t i = 0; i < cells.size(); ++i) {
                same = same && actual[i].re == expected[i].re && actual[i].im == expected[i].im;
            }
            EXPECT_TRUE(same) << "side " << side << " direction " << direction;
        }
    }
}

TEST(LandThreads, CarvingAndLightingMatchThePlainPassesAtEveryThreadCount) {
    // Square and oblong maps, rough and nearly flat heights (cells of
    // height 0 make the long moves across them), every light direction and
    // walks that take both ways of gathering the flow counts.
    struct Case {
        int32_t width;
        int32_t height;
        int32_t range;
        int32_t maxSteps;
        int32_t probeLength;
    };
    const Case cases[] = {{64, 64, 4000, 16, 4},
                          {96, 40, 2, 16, 4},
                          {128, 128, 300, 80, 3},
                          {40, 72, 900, 5, 9},
                          {256, 256, 60000, 16, 4}};
    ThreadPool pools[] = {ThreadPool(1), ThreadPool(2), ThreadPool(3), ThreadPool(8)};
    const char directions[] = {'l', 'r', 'u', 'd'};
    uint32_t seed = 31;
    for (const Case& c : cases) {
        reference::Maps start;
        start.width = c.width;
        start.height = c.height;
        start.heights = landtest::RandomHeights(c.width, c.height, ++seed, c.range);
        start.colours = landtest::RandomColours(static_cast<size_t>(c.width) * c.height, ++seed);
        const char direction = directions[seed % 4];
        reference::Maps expected = start;
        reference::CarveFlowChannels(expected, -(c.width / 4), -100, c.maxSteps, c.probeLength, 3);
        reference::ShadeSlopes(expected, 20, direction, 1, 0);
        reference::CastShadows(expected, -35, 5, direction, 1024, 1, 0);
        for (ThreadPool& pool : pools) {
            TestLand t(c.width, c.height);
            t.land.threadPool = &pool;
            t.SetHeights(start.heights);
            t.SetColours(start.colours);
            ASSERT_TRUE(
                t.land.CarveFlowChannels(-(c.width / 4), -100, c.maxSteps, c.probeLength, 3));
            ASSERT_TRUE(t.land.ShadeSlopes(20, direction, 1, 0));
            ASSERT_TRUE(t.land.CastShadows(-35, 5, direction, 1024, 1, 0));
            EXPECT_TRUE(t.heights == expected.heights)
                << c.width << " x " << c.height << ", " << pool.size() << " threads";
            EXPECT_TRUE(t.colours == expected.colours)
                << c.width << " x " << c.height << ", light '" << direction << "', " << pool.size()
                << " threads";
        }
    }
}

TEST(LandThreads, NoiseStreamJumpsAheadExactly) {
    // The threads' shares of the noise start where single steps would be.
    for (const uint32_t seed : {0u, 1u, 1700000000u, 0xFFFFFFFFu}) {
        uint32_t stepped = seed;
        for (uint64_t n = 0; n <= 5000; ++n) {
            ASSERT_EQ(LcgJump(seed, n), stepped) << "seed " << seed << ", " << n << " steps";
            LcgStep(stepped);
        }
    }
    // The whole period is 2^32 steps.
    EXPECT_EQ(LcgJump(12345u, uint64_t{1} << 32), 12345u);
    // The noise after a synthesis continues the stream where one thread
    // leaves it.
    ThreadPool pool(3);
    TestLand one(64);
    TestLand three(64);
    three.land.threadPool = &pool;
    for (TestLand* t : {&one, &three}) {
        t->land.SetSeed(77);
        ASSERT_TRUE(t->land.GenerateHeights());
    }
    EXPECT_EQ(three.land.noiseState, one.land.noiseState);
    EXPECT_TRUE(three.heights == one.heights);
}

TEST(LandThreads, BlockPolledPassesStopWhereOneThreadStops) {
    // Filling and scaling poll every 256 cells from the last cell down; the
    // threads share the blocks between rounds of polls. Maps of a whole
    // number of blocks and not, over one round and several, aborted at the
    // polls around the rounds' edges, leave what one thread leaves.
    ThreadPool pool(3);
    for (const auto& size : {std::pair<int32_t, int32_t>{40, 72}, {512, 512}, {600, 500}}) {
        const int32_t w = size.first;
        const int32_t h = size.second;
        const int64_t blocks = (int64_t{w} * h + 255) / 256;
        for (const int64_t abortAt : {int64_t{0}, int64_t{1}, int64_t{2}, int64_t{1024},
                                      int64_t{1025}, int64_t{1026}, blocks, blocks + 1}) {
            for (const bool scale : {false, true}) {
                std::vector<int32_t> heights[2];
                int64_t polls[2];
                for (int32_t k = 0; k < 2; ++k) {
                    TestLand t(w, h, landtest::CountingProgress);
                    if (k == 1) t.land.threadPool = &pool;
                    t.SetHeights(landtest::RandomHeights(w, h, 3, 5000));
                    landtest::ResetPolls(abortAt);
                    if (scale) {
                        t.land.ScaleHeights(1234);
                    } else {
                        t.land.FillMap(t.land.heightMap, 7);
                    }
                    polls[k] = landtest::pollCounter.polls;
                    heights[k] = t.heights;
                }
                EXPECT_EQ(polls[1], polls[0])
                    << w << " x " << h << ", scale " << scale << ", abort at poll " << abortAt;
                EXPECT_TRUE(heights[1] == heights[0])
                    << w << " x " << h << ", scale " << scale << ", abort at poll " << abortAt;
            }
        }
    }
    landtest::ResetPolls();
}

}  // namespace

namespace {

// Fft2D spelled out for any power-of-two shape: every column, then every
// row, through the literal Fft1D.
void LiteralFft2D(std::vector<ComplexCell>& cells, int32_t w, int32_t h, int32_t direction) {
    auto log2 = [](int32_t n) {
        int32_t l = 0;
        while ((1 << (l + 1)) <= n) ++l;
        return l;
    };
    std::vector<double> re(std::max(w, h));
    std::vector<double> im(std::max(w, h));
    for (int32_t x = 0; x < w; ++x) {
        for (int32_t y = 0; y < h; ++y) {
            re[y] = cells[x + int64_t{y} * w].re;
            im[y] = cells[x + int64_t{y} * w].im;
        }
        reference::Fft1D(direction, log2(h), re.data(), im.data());
        for (int32_t y = 0; y < h; ++y) cells[x + int64_t{y} * w] = {re[y], im[y]};
    }
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            re[x] = cells[x + int64_t{y} * w].re;
            im[x] = cells[x + int64_t{y} * w].im;
        }
        reference::Fft1D(direction, log2(w), re.data(), im.data());
        for (int32_t x = 0; x < w; ++x) cells[x + int64_t{y} * w] = {re[x], im[x]};
    }
}


}  // namespace

// The batched transform (lines side by side in the vector lanes, three
// levels a sweep, bit reversal and scaling folded into the copies) against
// the literal one, bit for bit: long and short lines, batches cut short,
// lanes that are not a multiple of the vector width, every thread count.
TEST(LandThreads, BatchedTransformIsBitIdenticalAtLargeAndOblongShapes) {
    const int32_t shapes[][2] = {{256, 256}, {1024, 1024}, {4096, 16}, {16, 4096}, {2048, 8},
                                 {8, 2048},  {512, 2},     {2, 512},   {64, 1024}, {1024, 1},
                                 {1, 1024},  {128, 32}};
    ThreadPool pools[] = {ThreadPool(2), ThreadPool(3), ThreadPool(8)};
    uint32_t seed = 77;
    for (const auto& shape : shapes) {
        const int32_t w = shape[0];
        const int32_t h = shape[1];
        for (int32_t direction : {1, -1}) {
            const std::vector<ComplexCell> input = WildCells(int64_t{w} * h, ++seed);
            std::vector<ComplexCell> expected = input;
            LiteralFft2D(expected, w, h, direction);
            for (int32_t p = -1; p < 3; ++p) {  // one thread, then 2, 3 and 8
                TestLand t(8);
                if (p >= 0) t.land.threadPool = &pools[p];
                std::vector<ComplexCell> cells = input;
                ASSERT_TRUE(t.land.Fft2D(cells.data(), w, h, direction));
                EXPECT_TRUE(std::memcmp(cells.data(), expected.data(), cells.size() * sizeof(ComplexCell)) == 0)
                    << w << " x " << h << " direction " << direction << " pool " << p;
            }
        }
    }
}

