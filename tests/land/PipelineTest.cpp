// The complete land pipeline: agreement with the literal reference passes,
// the invariants of a finished landscape, golden checksums and the abort
// step numbers.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "LandTestSupport.h"
#include "ReferenceLand.h"
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
        for (uint32_t seed : {1u, 12345u, 0xDEADBEEFu}) {
            TestLand t(side);
            ASSERT_EQ(RunLandPipeline(t.land, seed, nullptr), 13);
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
        {10, 1, 0xe919743daf3d8865ull, 0x4e4f33ec84fd8c57ull},
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

}  // namespace
