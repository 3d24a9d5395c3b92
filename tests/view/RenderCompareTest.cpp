// The production renderer against the plain reference renderer, frame by
// frame and pixel by pixel, over frame sizes, bank angles, headings, horizon
// rows, altitudes, water levels, objects and the out-of-range inputs the
// renderer must survive.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/Scratch.h"
#include "tests/view/RenderTestSupport.h"

namespace {

using rendertest::CompareWithReference;
using rendertest::Mismatch;

struct World {
    World(int32_t width, int32_t height, int32_t side, uint32_t seed, int32_t slots = 7)
        : world(width, height, side) {
        rendertest::FillSyntheticLand(side, seed, world.heights.data(), world.colours.data());
        view = world.MakeView(slots, seed);
        view->waterLevel = 25;
        view->positionX = (side / 3) << 10;
        view->positionY = (side / 5) << 10;
        view->altitude = world.heights[0] + 40;
        // As after a landscape: the march reads the sample map.
        EXPECT_TRUE(view->UpdateSampleMap());
    }
    // Lifts the camera clear of the ground under it, as Move does.
    void Settle(int32_t clearance = 15) {
        const int32_t under =
            world.heights[static_cast<size_t>(view->positionY >> 10) * world.mapSide +
                          (view->positionX >> 10)];
        if (view->altitude < under + clearance) view->altitude = under + clearance;
    }
    ViewWorld world;
    std::unique_ptr<FlightView> view;
};

std::string Describe(const FlightView& v, const Mismatch& m) {
    return "frame " + std::to_string(v.frameWidth) + "x" + std::to_string(v.frameHeight) +
           " bank " + std::to_string(v.bankAngle) + " heading " + std::to_string(v.heading) +
           " horizon " + std::to_string(v.horizonRow) + " altitude " + std::to_string(v.altitude) +
           ": " + std::to_string(m.count) + " pixels differ, first at x " +
           std::to_string(m.first % v.frameWidth) + " y " + std::to_string(m.first / v.frameWidth);
}

#define EXPECT_SAME_FRAME(view)                                   \
    do {                                                          \
        const Mismatch mismatch = CompareWithReference(view);     \
        EXPECT_EQ(mismatch.count, 0) << Describe(view, mismatch); \
    } while (0)

// With the sample map and, as for heights it cannot hold, without it.
TEST(RenderCompare, DefaultFrameSampledBankAngles) {
    for (const bool sampleMap : {true, false}) {
        SCOPED_TRACE(sampleMap ? "sample map" : "heights and cell map");
        World w(512, 384, 256, 11);
        FlightView& v = *w.view;
        ASSERT_TRUE(v.CanRender());
        if (!sampleMap) v.DropSampleMap();
        std::vector<int32_t> angles = {0,    1,    2,    3,    64,   639,  640,  641, 1279,
                                       1280, 1281, 1919, 1920, 1921, 2557, 2558, 2559};
        for (int32_t a = 360; a <= 396; ++a) angles.push_back(a);
        for (int32_t a = 5; a < 2560; a += kSanitizedBuild ? 211 : 37) angles.push_back(a);
        int32_t i = 0;
        for (int32_t angle : angles) {
            v.SetBankAngle(angle);
            v.heading = (angle * 7 + 100) % v.angleUnits;
            v.horizonRow = 400 + (i % 5) * 40 - 80;
            v.MoveObjects();
            w.Settle();
            EXPECT_SAME_FRAME(v);
            ++i;
        }
    }
}

// The sample map only for heights it can hold; objects made anew mark it
// again; anything else draws from the two maps.
TEST(RenderCompare, SampleMapOnlyWhereItHolds) {
    World w(256, 192, 128, 23);
    FlightView& v = *w.view;
    ASSERT_NE(v.sampleMap, nullptr);
    const auto marksAgree = [&v]() {
        for (int64_t c = 0; c < v.sampleMapCells; ++c) {
            const bool marked = (v.sampleMap[c] & ObjectSet::kSampleObjectMark) != 0;
            if (marked != (v.objects.cellMap[c] != 0) ||
                (v.sampleMap[c] & ObjectSet::kSampleHeightMask) != v.heightMap[c]) {
                return false;
            }
        }
        return true;
    };
    v.heading = 300;
    for (int frame = 0; frame < 8; ++frame) v.MoveObjects();
    EXPECT_TRUE(marksAgree());
    // Fewer objects, made anew on the same map: the old marks go.
    ASSERT_TRUE(v.SetObjectCount(3));
    v.MoveObjects();
    ASSERT_EQ(v.objects.sampleMap, v.sampleMap);
    EXPECT_TRUE(marksAgree());
    w.Settle();
    EXPECT_SAME_FRAME(v);
    // Heights beyond 15 bits or below 0: no sample map, the same frames.
    for (const int32_t odd : {32768, -1}) {
        const int32_t kept = w.world.heights[77];
        w.world.heights[77] = odd;
        EXPECT_FALSE(v.UpdateSampleMap());
        EXPECT_EQ(v.sampleMap, nullptr);
        EXPECT_EQ(v.objects.sampleMap, nullptr);
        EXPECT_SAME_FRAME(v);
        w.world.heights[77] = kept;
    }
    EXPECT_TRUE(v.UpdateSampleMap());
    EXPECT_TRUE(marksAgree());
    // No memory for it: none, and the frame as before.
    scratch::FailAllocationsAfter(0);
    EXPECT_FALSE(v.UpdateSampleMap());
    scratch::FailAllocationsAfter(-1);
    EXPECT_EQ(v.sampleMap, nullptr);
    EXPECT_SAME_FRAME(v);
}

TEST(RenderCompare, SmallFramesEveryBankAngle) {
    struct Size {
        int32_t width, height;
    };
    for (const Size size : {Size{64, 48}, Size{33, 57}, Size{5, 3}, Size{1, 1}}) {
        World w(size.width, size.height, 64, 5);
        FlightView& v = *w.view;
        ASSERT_TRUE(v.SetViewDistance(120));
        for (int32_t angle = 0; angle < v.angleUnits; angle += kSanitizedBuild ? 13 : 1) {
            v.SetBankAngle(angle);
            v.heading = (angle * 13) % v.angleUnits;
            v.horizonRow = v.diagonal / 2 + (angle % 7) - 3;
            w.Settle();
            EXPECT_SAME_FRAME(v);
        }
    }
}

TEST(RenderCompare, SizesTiltsHeadingsAndObjectsAhead) {
    struct Size {
        int32_t width, height;
    };
    // 512 wide on 1280 x 1024, odd sizes, 512 on 1920 x 1080, and a tall
    // wide frame.
    const std::vector<Size> sizes = {{512, 409}, {511, 377}, {513, 288}, {1200, 1687}};
    for (const Size size : sizes) {
        World w(size.width, size.height, 256, 21);
        FlightView& v = *w.view;
        const bool large = size.width * size.height > 1000000;
        // Horizon rows of tilts -128, 0 and 128 (base rows 144, 400, 656 at
        // width 512), one above the frame and one below it.
        const std::vector<int32_t> horizons = {144, 400, 656, -50, v.diagonal + 40};
        int32_t i = 0;
        for (int32_t horizon : horizons) {
            for (int32_t angle : {0, 5, 200, 1281, 2400}) {
                v.SetBankAngle(angle);
                const int32_t skip = v.bankTable[v.bankAngle].edgeSkip;
                // Headings below the edge skip start the sky rows negative.
                for (int32_t heading : {0, skip - 1, skip, 700, v.angleUnits - 1}) {
                    // A sample of the combinations (fewer for the large frame
                    // and under the sanitizers).
                    const int32_t every = (large ? 16 : 3) * (kSanitizedBuild ? 3 : 1);
                    if (i++ % every != 0) continue;
                    v.heading = heading;
                    v.horizonRow = horizon;
                    for (int32_t slot = 1; slot < v.objects.slotCount; ++slot) {
                        rendertest::PlaceObjectAhead(v, slot, 4 + 5 * slot, slot % 3 - 1,
                                                     v.altitude - 12 + slot);
                    }
                    v.MoveObjects();
                    w.Settle();
                    EXPECT_SAME_FRAME(v);
                }
            }
        }
    }
}

}  // namespace

TEST(RenderCompare, CameraOnTheMapEdgesInEveryDirection) {
    // Rays that start on the first or last position unit of a map side and
    // cross its edges at once, in every quadrant of headings, with objects
    // and without: the sample loop carries both coordinates in one register,
    // which holds only while a run stays inside the map. Horizon rows far
    // below the frame end the rays on terrain above its top; rows far above
    // it leave the picture early.
    for (const int32_t slots : {7, 0}) {
        World w(160, 120, 64, 37, slots);
        FlightView& v = *w.view;
        ASSERT_TRUE(v.SetViewDistance(300));
        const int32_t last = (64 << 10) - 1;
        int32_t i = 0;
        for (const int32_t x : {0, 1, last}) {
            for (const int32_t y : {0, last - 1, last}) {
                for (int32_t heading = 3; heading < v.angleUnits; heading += 317) {
                    v.positionX = x;
                    v.positionY = y;
                    v.heading = heading;
                    v.SetBankAngle((heading * 3) % v.angleUnits);
                    const int32_t horizons[] = {v.diagonal / 2, v.diagonal * 3, -v.diagonal};
                    v.horizonRow = horizons[i++ % 3];
                    if (v.objects.slotCount > 0) v.MoveObjects();
                    w.Settle();
                    EXPECT_SAME_FRAME(v);
                }
            }
        }
    }
}
