// The block write-out of the production renderer against the plain reference
// renderer: frame widths around multiples of the block and stretch sizes, so
// that blocks end part-filled and columns cross stretch boundaries at every
// phase; bank angles at 0 and either side of it (the walk's runs), at and
// around 45 degrees (where the runs give way to the pixel-by-pixel walk),
// and upside down or on the side; rays that end at their first sample (the
// sky's long columns, written nearly whole) as well as full rays; widths
// whose rows alias in the cache.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/view/RenderTestSupport.h"

namespace {

using rendertest::CompareWithReference;
using rendertest::Mismatch;

struct Size {
    int32_t width, height;
};

std::string Describe(const FlightView& v, const Mismatch& m, bool shortRays) {
    return "frame " + std::to_string(v.frameWidth) + "x" + std::to_string(v.frameHeight) +
           " bank " + std::to_string(v.bankAngle) + (shortRays ? " short rays" : " full rays") +
           ": " + std::to_string(m.count) + " pixels differ, first at x " +
           std::to_string(m.first % v.frameWidth) + " y " + std::to_string(m.first / v.frameWidth);
}

// Bank angles in the view's angle units: small ones both ways, the last
// angles below 45 degrees and the first above, and the quarter turns.
std::vector<int32_t> WriteOutAngles(const FlightView& v) {
    const int32_t u = v.angleUnits;
    const int32_t eighth = u / 8;
    std::vector<int32_t> angles = {0, 1, 2, 7, 30, u - 1, u - 3, u - 30, u / 2, u / 4, 3 * u / 4};
    for (int32_t d : {-1, 0, 1}) {
        angles.push_back(eighth + d);
        angles.push_back(u - eighth + d);
        angles.push_back(3 * eighth + d);
    }
    return angles;
}

void CompareSizes(const std::vector<Size>& sizes, uint32_t seed) {
    for (const Size size : sizes) {
        ViewWorld world(size.width, size.height, 128);
        rendertest::FillSyntheticLand(128, seed, world.heights.data(), world.colours.data());
        std::unique_ptr<FlightView> view = world.MakeView(5, seed);
        FlightView& v = *view;
        ASSERT_TRUE(v.CanRender());
        v.waterLevel = 25;
        v.positionX = 40 << 10;
        v.positionY = 90 << 10;
        v.altitude = world.heights[90 * 128 + 40] + 30;
        const int32_t fullDepth = v.maxRayDepth;
        int32_t i = 0;
        for (int32_t angle : WriteOutAngles(v)) {
            v.SetBankAngle(angle);
            v.heading = (angle * 11 + 300) % v.angleUnits;
            // The horizon inside the picture, and off either end of it.
            const int32_t horizons[] = {v.diagonal / 2, v.diagonal / 3, -20, v.diagonal + 20};
            v.horizonRow = horizons[i++ % 4];
            for (bool shortRays : {false, true}) {
                // Every ray's first sample reaches this depth.
                v.maxRayDepth = shortRays ? 1 : fullDepth;
                const Mismatch m = CompareWithReference(v, seed + static_cast<uint32_t>(i));
                EXPECT_EQ(m.count, 0) << Describe(v, m, shortRays);
            }
            v.maxRayDepth = fullDepth;
        }
    }
}

TEST(RenderWriteOut, WidthsAroundBlockMultiples) {
    // Narrow frames whose diagonals leave part-filled last blocks, and tall
    // ones whose columns run through several stretches.
    std::vector<Size> sizes = {{31, 200}, {32, 301}, {33, 17}, {97, 260}};
    if (!kSanitizedBuild) {
        sizes.push_back({64, 64});
        sizes.push_back({65, 129});
    }
    CompareSizes(sizes, 3);
}

TEST(RenderWriteOut, RowsThatAliasInTheCache) {
    // Widths of a multiple of 64 pixels put rows a multiple of 256 bytes
    // apart: these frames are drawn into a copy with longer rows and copied
    // back, over content the frame does not paint.
    std::vector<Size> sizes = {{128, 40}, {192, 150}};
    if (!kSanitizedBuild) sizes.push_back({512, 70});
    CompareSizes(sizes, 5);
}

TEST(RenderWriteOut, WideFramesOfManyBlocks) {
    // Wide and short: most columns enter and leave through the long sides,
    // so their painted counters start and end at every phase of a stretch.
    std::vector<Size> sizes = {{400, 90}};
    if (!kSanitizedBuild) sizes.push_back({333, 257});
    CompareSizes(sizes, 8);
}

}  // namespace
