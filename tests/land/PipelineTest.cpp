// The complete land pipeline: agreement with the literal reference passes,
// the invariants of a finished landscape, golden checksums and the abort
// step numbers.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "LandTestSupport.h"
#include "ReferenceLand.h"
#include "base/ThreadPool.h"
#include "land/LandPipeline.h"

using landtest::Fnv1a;
using landtest::TestLand;

namespace {

void ExpectFinishedLandscape(const TestLand& t, int32_t side) {
    EXPECT_EQ(*std::min_element(t.heights.begin(), t.heights.end()), 25);
    EXPECT_EQ(*std::max_element(t.heights.begin(), t.heights.end()), side / 2);
    for (uint32_t c : t.colours) ASSERT_EQ(c >> 24, 0xFFu);
}

TEST(LandPipeline, MatchesLiteralPassesBitForBit) {
    for (int32_t log2Side = 6; log2Side <= 8; ++log2Side) {
        const int32_t side = 1 << log2Side;
        // One generator for the three seeds: the later landscapes reuse the
        // scratch block, holding what the one before left in it.
        TestLand t(side);
        const void* block = nullptr;
        for (uint32_t seed : {1u, 12345u, 0xDEADBEEFu}) {
            ASSERT_EQ(RunLandPipeline(t.land, seed, nullptr), 13);
            if (block == nullptr) block = t.land.KeepPeakScratch(1);
            EXPECT_EQ(t.land.KeepPeakScratch(1), block);
            const reference::Maps expected = reference::Pipeline(side, seed);
            ASSERT_EQ(t.heights, expected.heights) << "side " << side << " seed " << seed;
            ASSERT_EQ(t.colours, expected.colours) << "side " << side << " seed " << seed;
        }
    }
}

TEST(LandPipeline, FinishedLandscapeInvariantsAndGoldenChecksums) {
    struct Golden {
        int32_t log2Side;
        uint32_t seed;
        uint64_t heights;
        uint64_t colours;
    };
    const Golden goldens[] = {
        {6, 1, 0x1283a1a911f07bf6ull, 0x4f30bdb429e6270aull},
        {8, 1, 0xd18adb97b2834effull, 0xd8540b54b5bea822ull},
        {8, 1700000000, 0x97bb1dfb12c6cdd4ull, 0x7e9ac5e13efd15b7ull},
        {10, 1700000000, 0x86e191d6bc0fe6b1ull, 0x25ac66a41f99c0f0ull},
    };
    for (const Golden& g : goldens) {
        const int32_t side = 1 << g.log2Side;
        TestLand t(side);
        ASSERT_EQ(RunLandPipeline(t.land, g.seed, nullptr), 13);
        ExpectFinishedLandscape(t, side);
        const std::string name = "land" + std::to_string(side) + "_" + std::to_string(g.seed);
        landtest::WritePicture((name + "_h").c_str(), t.heights, side, side);
        landtest::WritePicture((name + "_c").c_str(), t.colours, side, side);
        const uint64_t h = Fnv1a(t.heights.data(), t.heights.size());
        const uint64_t c = Fnv1a(t.colours.data(), t.colours.size());
        EXPECT_EQ(h, g.heights) << name;
        EXPECT_EQ(c, g.colours) << name;
    }
}

// A generation given up (the saver closing) at its n-th abandon check: the
// pipeline ends there, without another round of polls or checks through the
// rest of the step, and without finishing the steps after it. The sanitizer
// build checks that nothing leaks and no cell overflows on the way out.
struct AbandonProbe {
    std::atomic<int64_t> checks{0};
    std::atomic<int64_t> polls{0};
    int64_t abandonAt = 0;  // 0: never
    std::atomic<int64_t> pollsAfter{0};
    std::atomic<int64_t> checksAfter{0};

    static bool Check(void* context) {
        auto& p = *static_cast<AbandonProbe*>(context);
        const int64_t n = p.checks.fetch_add(1) + 1;
        const bool abandoned = p.abandonAt > 0 && n >= p.abandonAt;
        if (abandoned && n > p.abandonAt) p.checksAfter.fetch_add(1);
        return abandoned;
    }
    // Polls never abort here: only the abandon checks may stop the run.
    static int32_t Progress(void* context, int32_t) {
        auto& p = *static_cast<AbandonProbe*>(context);
        p.polls.fetch_add(1);
        if (p.abandonAt > 0 && p.checks.load() >= p.abandonAt) p.pollsAfter.fetch_add(1);
        return 0;
    }
};

TEST(LandPipeline, AbandonedAtAnyCheckEndsThere) {
    const int32_t side = 64;
    for (int32_t threads : {1, 3}) {
        SCOPED_TRACE(threads);
        ThreadPool pool(threads);
        std::vector<int32_t> heights(side * side);
        std::vector<uint32_t> colours(side * side);
        int64_t total = 0;
        {
            AbandonProbe probe;
            LandGenerator land(side, side, heights.data(), colours.data(), 0, 255,
                               &AbandonProbe::Progress, &probe);
            land.threadPool = &pool;
            land.abandonCheck = &AbandonProbe::Check;
            ASSERT_EQ(RunLandPipeline(land, 99, nullptr), 13);
            total = probe.checks.load();
        }
        // Every step but the plain fill and flood has checks of its own.
        ASSERT_GT(total, 100);
        int32_t lastStep = 0;
        for (int64_t at = 1; at <= total; ++at) {
            AbandonProbe probe;
            probe.abandonAt = at;
            LandGenerator land(side, side, heights.data(), colours.data(), 0, 255,
                               &AbandonProbe::Progress, &probe);
            land.threadPool = &pool;
            land.abandonCheck = &AbandonProbe::Check;
            int32_t failedStep = -1;
            const int32_t step = RunLandPipeline(land, 99, nullptr, &failedStep);
            ASSERT_LE(step, 13) << at;        // an abandon in step 13 still ends at 13
            ASSERT_GE(step, lastStep) << at;  // later checks stop later steps
            lastStep = step;
            EXPECT_EQ(failedStep, 0) << at;  // giving up is not a lack of memory
            // At most the poll that was under way and the checks on the way
            // out (one for each pool thread and each enclosing operation); a
            // pass that ran on would poll or check again and again.
            EXPECT_LE(probe.pollsAfter.load(), 1) << at;
            EXPECT_LE(probe.checksAfter.load(), threads + 4) << at;
        }
        EXPECT_EQ(lastStep, 13);
    }
}

}  // namespace

namespace {

// Scratch-block hooks that record their calls; the release scribbles over
// the block, harder on the passes than the zeros the system gives back.
struct HookLog {
    int32_t advised = 0;
    int32_t released = 0;
    bool aligned = true;
    void* lastBlock = nullptr;
};
HookLog hookLog;

void RecordAdvice(void* block, std::size_t bytes) {
    ++hookLog.advised;
    hookLog.lastBlock = block;
    hookLog.aligned = hookLog.aligned &&
                      reinterpret_cast<std::uintptr_t>(block) % LandGenerator::kScratchBlockAlign == 0 &&
                      bytes % LandGenerator::kScratchBlockAlign == 0;
}

void ScribbleRelease(void* block, std::size_t bytes) {
    ++hookLog.released;
    hookLog.aligned = hookLog.aligned && block == hookLog.lastBlock &&
                      bytes % LandGenerator::kScratchBlockAlign == 0;
    std::memset(block, 0xA5, bytes);
}

}  // namespace

// With the hooks set, the block is advised once when it is made, its pages
// are given back after every landscape, and the landscapes stay those of a
// generator without hooks, bit for bit, on one thread and on three.
TEST(LandPipeline, ScratchHooksAdviseOnceReleaseAfterEachLandscapeAndKeepTheMaps) {
    for (int32_t threads : {1, 3}) {
        ThreadPool pool(threads);
        TestLand plain(128);
        TestLand hooked(128);
        plain.land.threadPool = &pool;
        hooked.land.threadPool = &pool;
        hooked.land.scratchHooks.adviseFresh = &RecordAdvice;
        hooked.land.scratchHooks.releasePages = &ScribbleRelease;
        hookLog = HookLog{};
        for (uint32_t seed : {11u, 12u, 11u}) {
            ASSERT_EQ(RunLandPipeline(plain.land, seed, nullptr), 13);
            ASSERT_EQ(RunLandPipeline(hooked.land, seed, nullptr), 13);
            EXPECT_TRUE(plain.heights == hooked.heights) << "seed " << seed;
            EXPECT_TRUE(plain.colours == hooked.colours) << "seed " << seed;
        }
        EXPECT_EQ(hookLog.advised, 1);
        EXPECT_EQ(hookLog.released, 3);
        EXPECT_TRUE(hookLog.aligned);
        // A larger landscape makes a new block, advised in its turn.
        TestLand larger(256);
        larger.land.scratchHooks = hooked.land.scratchHooks;
        ASSERT_EQ(RunLandPipeline(larger.land, 5u, nullptr), 13);
        EXPECT_EQ(hookLog.advised, 2);
        EXPECT_EQ(hookLog.released, 4);
    }
}
