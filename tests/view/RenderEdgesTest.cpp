// What the renderer draws, checked from the rules themselves rather than
// against the reference: which columns and rows a frame paints, the first
// position of a column left to the previous frame, water mixing the land
// with the sky, rays that end above the frame, objects in front of land and
// sky. Every frame here is also compared with the reference.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "base/Scratch.h"
#include "tests/view/RenderTestSupport.h"

namespace {

using rendertest::CompareWithReference;

constexpr uint32_t kLand = 0x00FEFEFEu;
constexpr uint32_t kSkyTexel = 0xFF020202u;
constexpr uint32_t kWater = 0x00808080u;  // 0x7F7F7F + 0x010101

// Flat land of one height and one colour under a uniform sky.
struct FlatWorld {
    FlatWorld(int32_t width, int32_t height, int32_t side, int32_t ground, int32_t slots = 1)
        : world(width, height, side, ground) {
        std::fill(world.colours.begin(), world.colours.end(), kLand);
        view = world.MakeView(slots, 77);
        std::fill(view->sky.pixels, view->sky.pixels + view->sky.width * view->sky.height,
                  kSkyTexel);
        view->waterLevel = 25;
        view->altitude = ground + 20;
        view->positionX = (side / 2) << 10;
        view->positionY = (side / 2) << 10;
    }
    uint32_t Pixel(int32_t x, int32_t y) const {
        return world.frame[static_cast<size_t>(y) * world.frameWidth + x];
    }
    ViewWorld world;
    std::unique_ptr<FlightView> view;
};

// Pattern value of a pixel (CompareWithReference leaves the reference's
// frame, drawn over pattern 1).
uint32_t PatternAt(int32_t index) {
    return rendertest::Hash(static_cast<uint32_t>(index) + 1);
}

TEST(RenderEdges, UnbankedFramePaintsAllButTheBottomRow) {
    FlatWorld w(512, 384, 64, 40);
    FlightView& v = *w.view;
    v.horizonRow = 400;
    ASSERT_EQ(v.bankTable[0].edgeSkip, 65);
    ASSERT_EQ(CompareWithReference(v).count, 0);
    // The first position of each column inside the picture is its bottom
    // row, which the land does not paint; every other pixel is painted.
    for (int32_t x = 0; x < 512; ++x) {
        EXPECT_EQ(w.Pixel(x, 0), PatternAt(x)) << "x " << x;
        for (int32_t y = 1; y < 384; ++y) {
            const uint32_t p = w.Pixel(x, y);
            ASSERT_TRUE(p == kLand || p == kSkyTexel) << "x " << x << " y " << y;
        }
    }
    // Land below, sky above.
    EXPECT_EQ(w.Pixel(200, 1), kLand);
    EXPECT_EQ(w.Pixel(200, 383), kSkyTexel);
}

TEST(RenderEdges, FrameOf409RowsLeavesTheLeftColumn) {
    // Every column runs along exact pixel boundaries; the leftmost picture
    // column would be at x exactly 0, which counts as outside.
    FlatWorld w(512, 409, 64, 40);
    FlightView& v = *w.view;
    ASSERT_EQ(v.diagonal, 658);
    v.horizonRow = 400;
    ASSERT_EQ(CompareWithReference(v).count, 0);
    for (int32_t y = 0; y < 409; ++y) EXPECT_EQ(w.Pixel(0, y), PatternAt(y * 512)) << y;
    for (int32_t y = 1; y < 409; ++y) EXPECT_NE(w.Pixel(1, y), PatternAt(y * 512 + 1)) << y;
}

TEST(RenderEdges, CornerPixelNearTheDiagonalKeepsItsContent) {
    // Rows 1 and 0 of the rotated frame are never painted; near the angles at
    // which a column runs along the picture's diagonal, row 1 falls on the
    // top-left pixel.
    FlatWorld w(512, 384, 64, 30);
    FlightView& v = *w.view;
    v.altitude = 60;
    v.horizonRow = 500;  // sky over the whole top of the picture
    int32_t kept = 0;
    for (int32_t angle = 367; angle <= 389; ++angle) {
        v.SetBankAngle(angle);
        ASSERT_EQ(CompareWithReference(v).count, 0) << angle;
        if (w.Pixel(0, 383) == PatternAt(383 * 512)) ++kept;
    }
    EXPECT_GE(kept, 2);
    v.SetBankAngle(0);
    ASSERT_EQ(CompareWithReference(v).count, 0);
    EXPECT_EQ(w.Pixel(0, 383), kSkyTexel);
}

TEST(RenderEdges, WaterAtAndLandAboveTheWaterLevel) {
    for (int32_t ground : {25, 26}) {
        FlatWorld w(64, 48, 64, ground);
        FlightView& v = *w.view;
        v.horizonRow = 40;
        ASSERT_EQ(CompareWithReference(v).count, 0);
        // Halved land plus halved sky texel, top byte 0.
        EXPECT_EQ(w.Pixel(32, 1), ground == 25 ? kWater : kLand) << ground;
    }
}

TEST(RenderEdges, TerrainAboveTheFrameEndsTheRayWithoutSky) {
    // A wall of land across the whole map a few cells ahead reaches above
    // the top of the rotated frame in every column: no column shows sky.
    FlatWorld w(64, 48, 64, 30);
    FlightView& v = *w.view;
    for (int32_t y = 0; y < 64; ++y) w.world.Height(36, y) = 100000;
    v.heading = 0;  // toward +x
    v.positionX = 32 << 10;
    v.altitude = 50;
    v.horizonRow = 40;
    ASSERT_EQ(CompareWithReference(v).count, 0);
    for (uint32_t pixel : w.world.frame) EXPECT_NE(pixel, kSkyTexel);
    // Without the wall the sky shows.
    for (int32_t y = 0; y < 64; ++y) w.world.Height(36, y) = 30;
    ASSERT_EQ(CompareWithReference(v).count, 0);
    EXPECT_EQ(w.Pixel(32, 47), kSkyTexel);
}

TEST(RenderEdges, ObjectsShowOverLandAndSkyAndTransparentTexelsShowThrough) {
    FlatWorld w(128, 96, 64, 40, 3);
    FlightView& v = *w.view;
    v.heading = 0;
    v.altitude = 60;
    v.horizonRow = 60;
    constexpr uint32_t kRed = 0xFFFF0000u, kBlue = 0xFF0000FFu;
    SkyObject& near = v.objects.slots[1];
    SkyObject& far = v.objects.slots[2];
    const int32_t texels = near.sliceLength * near.sliceCount;
    ASSERT_GT(texels, 0);
    for (int32_t i = 0; i < texels; ++i) {
        near.image[i] = kRed;
        far.image[i] = kBlue;
    }
    // The farther ring right behind the nearer one.
    rendertest::PlaceObjectAhead(v, 1, 6, 0, 55);
    rendertest::PlaceObjectAhead(v, 2, 9, 0, 55);
    v.MoveObjects();
    auto count = [&](uint32_t colour) {
        int64_t n = 0;
        for (uint32_t pixel : w.world.frame) n += pixel == colour;
        return n;
    };
    ASSERT_EQ(CompareWithReference(v).count, 0);
    EXPECT_GT(count(kRed), 100);
    EXPECT_EQ(count(kBlue), 0);  // the nearest object wins
    // A transparent nearer object lets the farther one show through.
    for (int32_t i = 0; i < texels; ++i) near.image[i] = 0;
    ASSERT_EQ(CompareWithReference(v).count, 0);
    EXPECT_EQ(count(kRed), 0);
    EXPECT_GT(count(kBlue), 100);
    // And with both transparent, land and sky.
    for (int32_t i = 0; i < texels; ++i) far.image[i] = 0;
    ASSERT_EQ(CompareWithReference(v).count, 0);
    EXPECT_EQ(count(kBlue), 0);
    EXPECT_EQ(count(kLand) + count(kSkyTexel) + 128, static_cast<int64_t>(w.world.frame.size()));
}

TEST(RenderEdges, RenderMovesTheObjectsFirst) {
    FlatWorld w(64, 48, 64, 40, 2);
    FlightView& v = *w.view;
    const int32_t x = v.objects.slots[1].positionX, y = v.objects.slots[1].positionY;
    v.Render();
    EXPECT_TRUE(v.objects.slots[1].positionX != x || v.objects.slots[1].positionY != y);
    // The frame Render drew is the reference's for the moved objects.
    std::vector<uint32_t> drawn = w.world.frame;
    RenderReferenceScene(v);
    EXPECT_EQ(drawn, w.world.frame);
}

}  // namespace
