// Missing scratch memory, aborts at every stage of the pipeline, and the
// pipeline at every land size: the maps stay intact and the arithmetic
// defined (the sanitizer build checks the latter).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "LandTestSupport.h"
#include "base/Scratch.h"
#include "land/LandPipeline.h"

using landtest::CountingProgress;
using landtest::pollCounter;
using landtest::ResetPolls;
using landtest::TestLand;

namespace {

struct Operation {
    const char* name;
    int32_t allocations;  // scratch buffers it obtains
    std::function<bool(LandGenerator&)> run;
};

std::vector<Operation> ScratchOperations() {
    return {
        {"GenerateHeights", 2, [](LandGenerator& l) { return l.GenerateHeights(); }},
        {"BlurColours", 1, [](LandGenerator& l) { return l.BlurColours(3, 2, true); }},
        {"BlurHeights", 1, [](LandGenerator& l) { return l.BlurHeights(0, 2); }},
        {"CarveFlowChannels", 3,
         [](LandGenerator& l) { return l.CarveFlowChannels(-8, -100, 16, 4, 3); }},
        {"ShadeSlopes", 2, [](LandGenerator& l) { return l.ShadeSlopes(20, 'r', 1, 0); }},
        {"CastShadows", 2, [](LandGenerator& l) { return l.CastShadows(-35, 5, 'r', 1024, 1, 0); }},
    };
}

TEST(LandScratch, EveryAllocationPointLeavesBothMapsAlone) {
    for (const Operation& op : ScratchOperations()) {
        TestLand t(32);
        t.SetHeights(landtest::RandomHeights(32, 32, 1, 500));
        std::vector<uint32_t> colours(t.colours.size());
        for (size_t i = 0; i < colours.size(); ++i) colours[i] = static_cast<uint32_t>(i * 977);
        t.SetColours(colours);
        t.land.SetSeed(3);
        const std::vector<int32_t> heights = t.heights;
        for (int32_t allowed = 0; allowed < op.allocations; ++allowed) {
            scratch::FailAllocationsAfter(allowed);
            const bool result = op.run(t.land);
            scratch::FailAllocationsAfter(-1);
            EXPECT_FALSE(result) << op.name << " " << allowed;
            EXPECT_EQ(t.heights, heights) << op.name << " " << allowed;
            EXPECT_EQ(t.colours, colours) << op.name << " " << allowed;
        }
        // With exactly that many allocations it runs to the end.
        scratch::FailAllocationsAfter(op.allocations);
        EXPECT_TRUE(op.run(t.land)) << op.name;
        scratch::FailAllocationsAfter(-1);
    }
}

// A step without its scratch memory stops the pipeline and is named; the
// steps that need memory fail in pipeline order as the allowance grows, and
// with enough of it nothing fails.
TEST(LandScratch, PipelineStopsAtTheStepWithoutMemory) {
    int32_t previous = 0;
    for (int32_t allowed = 0; allowed < 64; ++allowed) {
        TestLand t(64);
        int32_t failedStep = -1;
        scratch::FailAllocationsAfter(allowed);
        const int32_t result = RunLandPipeline(t.land, 5, nullptr, &failedStep);
        scratch::FailAllocationsAfter(-1);
        if (failedStep == 0) {
            EXPECT_EQ(result, 13) << allowed;
            EXPECT_GT(previous, 0);
            return;
        }
        // Without any memory nothing runs; later the step before the failed one
        // is the last.
        EXPECT_EQ(result, allowed == 0 ? 0 : failedStep - 1) << allowed;
        EXPECT_GE(failedStep, previous) << allowed;
        EXPECT_TRUE(failedStep == 4 || failedStep == 7 || failedStep == 8 || failedStep == 12 ||
                    failedStep == 13)
            << failedStep;
        EXPECT_STRNE(LandPipelineStepName(failedStep), "landscape");
        previous = failedStep;
    }
    ADD_FAILURE() << "the pipeline never ran to the end";
}

TEST(LandScratch, SizesBeyondTheLimitAreRefusedBeforeAllocating) {
    EXPECT_EQ(AllocateArray<ComplexCell>(int64_t{1} << 40), nullptr);
    EXPECT_EQ(AllocateArrayForOverwrite<ComplexCell>(-1), nullptr);
    ComplexCell* spectral4096 = AllocateArrayForOverwrite<ComplexCell>(int64_t{4096} * 4096);
    EXPECT_NE(spectral4096, nullptr);  // 256 MiB: within the limit
    FreeArray(spectral4096);
}

// Polls each pipeline step makes on a 64 x 64 map, in order.
struct StepPolls {
    int32_t step;
    int64_t polls;
};
const StepPolls kSteps64[] = {{1, 17}, {4, 258}, {5, 17},  {6, 0},   {7, 64},  {8, 192},
                              {9, 1},  {10, 17}, {11, 64}, {12, 64}, {13, 128}};

TEST(LandPipelineAbort, ReturnsTheStepThatSawTheAbort) {
    TestLand t(64, CountingProgress);
    ResetPolls();
    ASSERT_EQ(RunLandPipeline(t.land, 1, &pollCounter.abortFlag), 13);
    int64_t total = 0;
    for (const StepPolls& s : kSteps64) total += s.polls;
    ASSERT_EQ(pollCounter.polls, total);

    int64_t first = 1;
    for (const StepPolls& s : kSteps64) {
        for (int64_t n = first; n < first + s.polls; n += std::max<int64_t>(1, s.polls / 5)) {
            TestLand a(64, CountingProgress);
            std::vector<int32_t> initial(a.heights.size(), 123);
            a.SetHeights(initial);
            ResetPolls(n);
            EXPECT_EQ(RunLandPipeline(a.land, 1, &pollCounter.abortFlag), s.step) << n;
            if (n == 1) {
                EXPECT_EQ(a.heights, initial);  // FillMap polls before writing
            }
            if (s.step >= 8) {
                for (uint32_t c : a.colours) ASSERT_EQ(c >> 24, 0xFFu) << n;
            }
        }
        first += s.polls;
    }
    TestLand b(64, CountingProgress);
    ResetPolls(total + 1);
    EXPECT_EQ(RunLandPipeline(b.land, 1, &pollCounter.abortFlag), 13);
}

// Every operation of the pipeline, run to the end regardless of aborts, so
// that what an aborted step leaves (for instance a half-transformed
// synthesis with enormous heights) flows through all later passes.
void RunAllSteps(LandGenerator& land, uint32_t seed) {
    const int32_t side = land.width;
    land.FillMap(land.heightMap, 0);
    land.SetSeed(seed);
    land.noiseMode = 0;
    land.GenerateHeights();
    land.ScaleHeights(side * 2);
    land.ColourByHeight(256);
    land.BlurColours(3, false);
    land.CarveFlowChannels(-(side / 4), -100, 16, 4, 3);
    land.RebaseHeights(0);
    land.ScaleHeights(side >> 1);
    land.FloodToLevel(25);
    land.ShadeSlopes(20, 'r', 1, 0);
    land.CastShadows(-35, 5, 'r', 1024, 1, 0);
}

TEST(LandPipelineAbort, OneShotAbortsAnywhereLeaveDefinedMaps) {
    for (int32_t side : {64, 128}) {
        int64_t total = 0;
        {
            TestLand t(side, CountingProgress);
            ResetPolls();
            RunAllSteps(t.land, 9);
            total = pollCounter.polls;
        }
        for (int64_t n = 1; n <= total; n += side == 64 ? 9 : 61) {
            TestLand t(side, CountingProgress);
            ResetPolls(n, true);
            RunAllSteps(t.land, 9);
            for (uint32_t c : t.colours) ASSERT_EQ(c >> 24, 0xFFu) << n;
        }
    }
}

TEST(LandPipeline, EveryLandSizeGivesAFinishedLandscape) {
    // The sizes the saver offers that the golden checksums (6, 8, 10) leave
    // out; size 12 needs about 400 MiB.
    for (int32_t log2Side : {7, 9, 11, 12}) {
        const int32_t side = 1 << log2Side;
        TestLand t(side);
        ASSERT_EQ(RunLandPipeline(t.land, 1700000000u + log2Side, nullptr), 13);
        EXPECT_EQ(*std::min_element(t.heights.begin(), t.heights.end()), 25) << side;
        EXPECT_EQ(*std::max_element(t.heights.begin(), t.heights.end()), side / 2) << side;
        EXPECT_TRUE(std::all_of(t.colours.begin(), t.colours.end(), [](uint32_t c) {
            return (c >> 24) == 0xFFu;
        })) << side;
    }
}

}  // namespace
