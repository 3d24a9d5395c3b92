// The renderer on the inputs that would overflow or run out of its tables
// if computed plainly in 32 bits: very wide frames at every bank angle,
// saturated ray depths, heights and camera values far outside the usual
// range, a missing sky, objects without images, views that cannot render.
// Each case compares the production renderer with the reference (both
// must stay silent under the sanitizers) and checks what was drawn.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "base/Scratch.h"
#include "tests/view/RenderTestSupport.h"

namespace {

using rendertest::CompareWithReference;
using rendertest::Mismatch;

constexpr int32_t kInt32Max = std::numeric_limits<int32_t>::max();
constexpr int32_t kInt32Min = std::numeric_limits<int32_t>::min();

struct World {
    World(int32_t width, int32_t height, int32_t side, uint32_t seed, int32_t slots = 7)
        : world(width, height, side) {
        rendertest::FillSyntheticLand(side, seed, world.heights.data(), world.colours.data());
        view = world.MakeView(slots, seed);
        view->waterLevel = 25;
        view->positionX = (side / 2) << 10;
        view->positionY = (side / 3) << 10;
        view->altitude = 200;
    }
    ViewWorld world;
    std::unique_ptr<FlightView> view;
};

std::string Where(const FlightView& v, const Mismatch& m) {
    return std::to_string(v.frameWidth) + "x" + std::to_string(v.frameHeight) + " bank " +
           std::to_string(v.bankAngle) + " heading " + std::to_string(v.heading) + ": " +
           std::to_string(m.count) + " pixels differ, first " + std::to_string(m.first);
}

// Pixels of the frame that differ from the pattern CompareWithReference
// starts from.
int64_t PaintedPixels(const FlightView& v) {
    std::vector<uint32_t> pattern(static_cast<size_t>(v.frameWidth) * v.frameHeight);
    rendertest::FillPattern(pattern, 1);
    int64_t painted = 0;
    for (size_t i = 0; i < pattern.size(); ++i) painted += v.frame[i] != pattern[i];
    return painted;
}

TEST(RenderFaults, WideFramesAtEveryBankAngle) {
    // Output widths on a 4:3 client from 864 up overflow 32 bits in the
    // outermost columns at large bank angles; 3000 on 1920 x 1080 makes the
    // diagonal 3445, beyond the ray steps that fit 32 bits.
    struct Size {
        int32_t width, height;
    };
    const std::vector<Size> sizes = {{864, 648}, {1200, 1687}, {2048, 1536}, {3000, 1687}};
    for (const Size size : sizes) {
        World w(size.width, size.height, 64, 3);
        FlightView& v = *w.view;
        ASSERT_TRUE(v.CanRender());
        ASSERT_TRUE(v.SetViewDistance(40));  // short rays keep the sweep quick
        if (v.diagonal > 1280) {
            EXPECT_EQ(v.angleUnits, 2 * v.diagonal);
            EXPECT_EQ(v.rayStepTable[0], kInt32Max);  // saturated by the tables
        }
        // Fewer angles for the largest frames under the sanitizers.
        const bool large = kSanitizedBuild && size.width * size.height > 2000000;
        const int32_t stride = kSanitizedBuild ? v.angleUnits / 3 + 1 : v.angleUnits / 9 + 1;
        std::vector<int32_t> angles;
        for (int32_t a = large ? v.angleUnits / 2 : 0; a < v.angleUnits; a += stride) {
            angles.push_back(a);
        }
        // Near the diagonals, where the outermost columns cross the picture.
        for (int32_t eighth = 1; eighth < 8; eighth += large ? 4 : 2) {
            angles.push_back(v.angleUnits * eighth / 8);
            angles.push_back(v.angleUnits * eighth / 8 + 7);
        }
        for (int32_t angle : angles) {
            v.SetBankAngle(angle);
            v.heading = (angle * 3) % v.angleUnits;
            v.horizonRow = v.diagonal / 2;
            v.MoveObjects();
            const Mismatch m = CompareWithReference(v);
            EXPECT_EQ(m.count, 0) << Where(v, m);
        }
    }
}

TEST(RenderFaults, SaturatedRayDepth) {
    // Without objects the view distance has no upper limit; from about 4195
    // on the ray depth saturates at the 32-bit limit.
    World w(96, 72, 256, 9, 0);
    FlightView& v = *w.view;
    for (int32_t distance : {4196, 9000}) {
        ASSERT_TRUE(v.SetViewDistance(distance));
        ASSERT_TRUE(v.CanRender());
        EXPECT_EQ(v.maxRayDepth, kInt32Max);
        for (int32_t angle : {0, 150, 2400}) {
            v.SetBankAngle(angle);
            v.heading = angle;
            const Mismatch m = CompareWithReference(v);
            EXPECT_EQ(m.count, 0) << Where(v, m);
            EXPECT_GT(PaintedPixels(v), 96 * 72 / 2);
        }
    }
}

TEST(RenderFaults, HeightsAndCameraFarOutOfRange) {
    // An aborted synthesis leaves heights of any size; callers may set the
    // camera fields to anything. The projection stays defined and the two
    // renderers agree.
    World w(128, 96, 64, 4);
    FlightView& v = *w.view;
    const int32_t extremes[] = {kInt32Max, kInt32Min, 1 << 30, -(1 << 30), 5362, -5362};
    for (size_t i = 0; i < w.world.heights.size(); i += 7) {
        w.world.heights[i] = extremes[(i / 7) % 6];
    }
    v.MoveObjects();  // objects settle on the extreme heights
    const int32_t altitudes[] = {kInt32Max, kInt32Min, 0, 5362};
    const int32_t horizons[] = {kInt32Max, kInt32Min, -100000, 64, 100000};
    const int32_t waters[] = {kInt32Min, 25, kInt32Max};
    int32_t i = 0;
    for (int32_t altitude : altitudes) {
        for (int32_t horizon : horizons) {
            v.altitude = altitude;
            v.horizonRow = horizon;
            v.waterLevel = waters[i % 3];
            v.SetBankAngle(i * 211);
            v.heading = (i * 97) % v.angleUnits;
            const Mismatch m = CompareWithReference(v);
            EXPECT_EQ(m.count, 0) << Where(v, m) << " altitude " << altitude << " horizon "
                                  << horizon;
            ++i;
        }
    }
}

TEST(RenderFaults, CameraFieldsOutsideTheirRanges) {
    World w(80, 60, 64, 8);
    FlightView& v = *w.view;
    v.heading = -5;
    v.bankAngle = 3 * v.angleUnits + 17;
    v.positionX = -1;
    v.positionY = v.yLimit + 5000;
    Mismatch m = CompareWithReference(v);
    EXPECT_EQ(m.count, 0) << Where(v, m);
    v.heading = kInt32Max;
    v.bankAngle = kInt32Min;
    v.positionX = kInt32Min;
    v.positionY = kInt32Max;
    m = CompareWithReference(v);
    EXPECT_EQ(m.count, 0) << Where(v, m);
}

TEST(RenderFaults, MissingSkyPaintsBlack) {
    World w(64, 48, 64, 6);
    FlightView& v = *w.view;
    v.altitude = 400;  // plenty of sky
    v.sky.Release();
    // Render refuses a view without its sky ...
    EXPECT_FALSE(v.CanRender());
    rendertest::FillPattern(w.world.frame, 1);
    v.Render();
    EXPECT_EQ(PaintedPixels(v), 0);
    // ... and the renderer below it paints the sky black and mirrors
    // nothing in water.
    const Mismatch m = CompareWithReference(v);
    EXPECT_EQ(m.count, 0) << Where(v, m);
    int64_t black = 0;
    for (uint32_t pixel : w.world.frame) black += pixel == 0;
    EXPECT_GT(black, 64 * 48 / 10);
}

TEST(RenderFaults, ObjectsWithoutImagesAreNotDrawn) {
    World w(160, 120, 128, 12);
    FlightView& v = *w.view;
    v.heading = 0;
    v.altitude = w.world.heights[0] + 30;
    for (int32_t slot = 1; slot < v.objects.slotCount; ++slot) {
        rendertest::PlaceObjectAhead(v, slot, 8 + 3 * slot, slot % 3 - 1, v.altitude - 10);
    }
    v.MoveObjects();
    Mismatch m = CompareWithReference(v);
    EXPECT_EQ(m.count, 0) << Where(v, m);
    // Take the images away after the objects were marked.
    for (int32_t slot = 1; slot < v.objects.slotCount; slot += 2) {
        FreeArray(v.objects.slots[slot].image);
    }
    v.objects.slots[2].sliceLength = 0;
    m = CompareWithReference(v);
    EXPECT_EQ(m.count, 0) << Where(v, m);
}

TEST(RenderFaults, ObjectCellMapEverywhereCapsTheSpans) {
    // Every cell marked and no step widening: a ray meets a new object cell
    // every other sample, more than the 1024 spans a ray can hold.
    World w(24, 18, 64, 2);
    FlightView& v = *w.view;
    v.stepGrowthThreshold = 1 << 30;
    v.altitude = 2000;
    for (size_t i = 0; i < w.world.heights.size(); ++i) {
        v.objects.cellMap[i] = static_cast<uint16_t>((1 << 8) + 1 + (i % 32));
    }
    v.objects.slots[1].altitude = 1990;
    ASSERT_TRUE(v.SetViewDistance(4150));
    const Mismatch m = CompareWithReference(v);
    EXPECT_EQ(m.count, 0) << Where(v, m);
}

TEST(RenderFaults, ViewThatCannotRenderLeavesTheFrame) {
    ViewWorld world(64, 48, 64);
    for (int32_t allowed : {0, 1, 3, 5, 8}) {
        scratch::FailAllocationsAfter(allowed);
        auto view = world.MakeView(7, 1);
        scratch::FailAllocationsAfter(-1);
        if (view->CanRender()) continue;
        rendertest::FillPattern(world.frame, 1);
        view->Render();
        EXPECT_EQ(PaintedPixels(*view), 0) << "allocations allowed " << allowed;
    }
}

TEST(RenderFaults, FailedScratchLeavesTheFrameUntilTheNextCall) {
    World w(64, 48, 64, 10);
    FlightView& v = *w.view;
    rendertest::FillPattern(w.world.frame, 1);
    scratch::FailAllocationsAfter(0);
    RenderLandscape(v);
    scratch::FailAllocationsAfter(-1);
    EXPECT_EQ(PaintedPixels(v), 0);
    const Mismatch m = CompareWithReference(v);
    EXPECT_EQ(m.count, 0) << Where(v, m);
    EXPECT_GT(PaintedPixels(v), 64 * 47);
}

TEST(RenderFaults, FailedPaddedCopyDrawsTheFrameInPlace) {
    // Rows of 64 pixels are 256 bytes apart: the frame is drawn through the
    // view's padded copy when it can be had. The block's colours are
    // obtained first, the copy after them.
    World w(64, 48, 64, 10);
    FlightView& v = *w.view;
    rendertest::FillPattern(w.world.frame, 1);
    RenderReferenceScene(v);
    const std::vector<uint32_t> expected = w.world.frame;
    rendertest::FillPattern(w.world.frame, 1);
    scratch::FailAllocationsAfter(1);
    RenderLandscape(v);
    scratch::FailAllocationsAfter(-1);
    EXPECT_EQ(v.paddedFrame, nullptr);
    EXPECT_TRUE(w.world.frame == expected);
    // The next frame gets its copy and draws the same.
    const Mismatch m = CompareWithReference(v);
    EXPECT_EQ(m.count, 0) << Where(v, m);
    EXPECT_NE(v.paddedFrame, nullptr);
}

}  // namespace
