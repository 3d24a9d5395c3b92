// Airborne objects: slots, images, placement, motion and footprints.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "land/Scratch.h"
#include "land/Units.h"
#include "tests/view/ViewTestSupport.h"

namespace {

int32_t Sum(uint32_t p) {
    return static_cast<int32_t>(((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF));
}

TEST(FillDisc, SmallRadiiDrawAPlus) {
    for (int32_t radius : {1, 2}) {
        SCOPED_TRACE(radius);
        std::vector<uint32_t> image(8 * 8, 0);
        FlightView::FillDisc(image.data(), 8, radius, 7u, 3, 4);
        int32_t set = 0;
        for (uint32_t p : image) set += p == 7u;
        EXPECT_EQ(set, 5);
        for (int32_t index : {3 + 4 * 8, 2 + 4 * 8, 4 + 4 * 8, 3 + 3 * 8, 3 + 5 * 8}) {
            EXPECT_EQ(image[index], 7u) << index;
        }
    }
}

TEST(FillDisc, ShrinksToFitAndSkipsEvenRadii) {
    std::vector<uint32_t> image(32 * 32, 0);
    FlightView::FillDisc(image.data(), 32, 16, 1u, 15, 15);  // shrinks to 15
    EXPECT_EQ(image[0 + 15 * 32], 1u);
    EXPECT_EQ(image[30 + 15 * 32], 1u);
    EXPECT_EQ(image[31 + 15 * 32], 0u);
    EXPECT_EQ(image[15 + 0 * 32], 1u);
    EXPECT_EQ(image[0], 0u);

    std::vector<uint32_t> edge(16, 0);
    FlightView::FillDisc(edge.data(), 4, 5, 1u, 0, 2);  // radius 0 at the edge: nothing
    for (uint32_t p : edge) EXPECT_EQ(p, 0u);
    FlightView::FillDisc(edge.data(), 4, 3, 1u, 9, 9);  // outside the image: nothing
    for (uint32_t p : edge) EXPECT_EQ(p, 0u);
}

TEST(ClearDarkPixels, ClearsBelowTheThreshold) {
    uint32_t pixels[4] = {0xFF212121u, 0xFF222221u, 0xFF000000u, 0xFFFFFFFFu};
    FlightView::ClearDarkPixels(pixels, 2, 2, 100);  // 99, 100, 0, 765
    EXPECT_EQ(pixels[0], 0u);
    EXPECT_EQ(pixels[1], 0xFF222221u);
    EXPECT_EQ(pixels[2], 0u);
    EXPECT_EQ(pixels[3], 0xFFFFFFFFu);
}

TEST(RingSprite, ImageForColour807060) {
    ViewWorld world(128, 96, 64);
    auto view = world.MakeView(2);
    view->MakeRingSprite(1, 80, 70, 60);
    const SkyObject& ring = view->objects[1];
    ASSERT_NE(ring.image, nullptr);
    EXPECT_EQ(ring.sliceLength, 32);
    EXPECT_EQ(ring.sliceCount, 32);
    EXPECT_EQ(ring.kind, 1);
    EXPECT_EQ(ring.speed, 26);
    EXPECT_EQ(ring.climbRate, -1);
    auto at = [&](int32_t texel, int32_t slice) { return ring.image[texel + slice * 32]; };
    EXPECT_EQ(at(15, 15), 0xFF000000u | 80u << 16 | 70u << 8 | 60u);
    for (int32_t d = 3; d <= 8; ++d) {
        EXPECT_EQ(at(15 - d, 15), 0u) << d;
        EXPECT_EQ(at(15 + d, 15), 0u) << d;
    }
    EXPECT_EQ(at(0, 0), 0u);
    EXPECT_EQ(at(31, 0), 0u);
    EXPECT_EQ(at(0, 31), 0u);
    EXPECT_EQ(at(31, 31), 0u);
    EXPECT_EQ(at(15, 27), 0xFFFFFFFFu);  // side dot white: 80 + 70 + 60 < 640
    for (int32_t i = 0; i < 32 * 32; ++i) {
        ASSERT_TRUE(ring.image[i] == 0 ||
                    (ring.image[i] >> 24 == 0xFF && Sum(ring.image[i]) >= 100));
    }
}

TEST(RingSprite, BrightRingsKeepTheirColourOnTheSideDot) {
    ViewWorld world(128, 96, 64);
    auto view = world.MakeView(2);
    view->MakeRingSprite(1, 250, 200, 190);
    EXPECT_EQ(view->objects[1].image[15 + 27 * 32], 0xFFFAC8BEu);
    view->spriteSideDot = 0;
    view->MakeRingSprite(1, 80, 70, 60);
    EXPECT_EQ(view->objects[1].image[15 + 27 * 32], 0xFF50463Cu);
}

TEST(SlotCount, IsClamped) {
    ViewWorld world(128, 96, 64);
    auto view = world.MakeView(1);
    EXPECT_TRUE(view->SetObjectCount(300));
    EXPECT_EQ(view->slotCount, 254);
    EXPECT_TRUE(view->CanRender());
    EXPECT_EQ(view->objects[253].kind, 1);
    EXPECT_TRUE(view->SetObjectCount(-5));
    EXPECT_EQ(view->slotCount, 0);
    EXPECT_EQ(view->objects, nullptr);
    EXPECT_EQ(view->objectCellMap, nullptr);
    EXPECT_EQ(view->spanStep, nullptr);
    EXPECT_EQ(view->spanTexels, nullptr);
    EXPECT_TRUE(view->CanRender());
}

TEST(SlotCount, NoSlotsLeavesTheViewDistanceUncapped) {
    ViewWorld world(128, 96, 64);
    auto view = world.MakeView(0);
    EXPECT_EQ(view->objects, nullptr);
    EXPECT_EQ(view->objectCellMap, nullptr);
    EXPECT_EQ(view->skyEnabled, 0);
    EXPECT_TRUE(view->SetViewDistance(6000));
    EXPECT_EQ(view->viewDistance, 6000);
}

TEST(SlotCount, OnlyTheStreakMarksNothing) {
    ViewWorld world(128, 96, 64);
    auto view = world.MakeView(1);
    ASSERT_TRUE(view->CanRender());
    const SkyObject& streak = view->objects[0];
    EXPECT_EQ(streak.kind, 0);
    EXPECT_EQ(streak.active, 0);
    EXPECT_EQ(streak.sliceLength, 3);
    EXPECT_EQ(streak.sliceCount, 32);
    EXPECT_EQ(streak.speed, 250);
    EXPECT_EQ(streak.altitude, 250);
    EXPECT_EQ(streak.image[0], 0xFF000000u);
    EXPECT_EQ(streak.image[1], 0xFFFFFFFFu);
    EXPECT_EQ(streak.image[2], 0xFF000000u);
    for (int frame = 0; frame < 5; ++frame) view->MoveObjects();
    for (int32_t i = 0; i < 64 * 64; ++i) ASSERT_EQ(view->objectCellMap[i], 0) << i;
    EXPECT_EQ(streak.positionX, 0);
}

// The seed decides the placement: after the sky (which leaves the state
// alone), slot 0 draws colour triples, then every ring draws cellX, cellY,
// heading and colour triples until one is bright enough.
TEST(Placement, FollowsTheRandomSequence) {
    ViewWorld world(128, 96, 64);
    const uint32_t seed = 2024;
    auto view = world.MakeView(9, seed);
    uint32_t state = seed;
    auto colour = [&state]() {
        int32_t r, g, b;
        do {
            r = LcgStep(state) % 256;
            g = LcgStep(state) % 256;
            b = LcgStep(state) % 256;
        } while (r + g + b < 200);
        return 0xFF000000u | static_cast<uint32_t>(r) << 16 | static_cast<uint32_t>(g) << 8 |
               static_cast<uint32_t>(b);
    };
    colour();
    for (int32_t slot = 1; slot < 9; ++slot) {
        SCOPED_TRACE(slot);
        const int32_t cellX = LcgStep(state) % 64;
        const int32_t cellY = LcgStep(state) % 64;
        const int32_t heading = LcgStep(state) % 2560;
        const uint32_t expected = colour();
        const SkyObject& o = view->objects[slot];
        EXPECT_EQ(o.positionX, cellX << 10);
        EXPECT_EQ(o.positionY, cellY << 10);
        EXPECT_EQ(o.heading, heading);
        EXPECT_EQ(o.altitude, 26);
        EXPECT_EQ(o.active, 1);
        EXPECT_EQ(o.turnRate, 0);
        EXPECT_EQ(o.image[15 + 15 * 32], expected);
        EXPECT_GE(Sum(expected), 200);
        ASSERT_NE(o.footprint, nullptr);
        for (int32_t s = 0; s < 32; ++s) EXPECT_EQ(o.footprint[s], 0);
    }
    EXPECT_EQ(view->randomState, state);

    auto twin = world.MakeView(9, seed);
    for (int32_t slot = 0; slot < 9; ++slot) {
        EXPECT_EQ(twin->objects[slot].positionX, view->objects[slot].positionX);
        EXPECT_EQ(twin->objects[slot].heading, view->objects[slot].heading);
        EXPECT_EQ(std::vector<uint32_t>(twin->objects[slot].image, twin->objects[slot].image + 96),
                  std::vector<uint32_t>(view->objects[slot].image, view->objects[slot].image + 96));
    }
}

// A view with two ring slots whose objects the tests place by hand.
struct Footprints : testing::Test {
    Footprints() : world(128, 96, 64), view(world.MakeView(3)) {}
    void Place(int32_t slot, int32_t x, int32_t y, int32_t heading, int32_t speed) {
        SkyObject& o = view->objects[slot];
        o.positionX = x;
        o.positionY = y;
        o.heading = heading;
        o.speed = speed;
    }
    uint16_t Cell(int32_t cx, int32_t cy) const { return view->objectCellMap[cy * 64 + cx]; }
    ViewWorld world;
    std::unique_ptr<FlightView> view;
};

TEST_F(Footprints, FrontSliceAtThePositionTrailingBehind) {
    view->objects[2].active = 0;
    Place(1, 20 * 1024 + 100, 5 * 1024 + 7, 0, 0);
    view->MoveObjects();
    // Slice s lies at x - (31 - s) x 512; each cell keeps its lowest slice.
    EXPECT_EQ(Cell(20, 5), (1 << 8) + 31 + 1);
    for (int32_t c = 5; c <= 19; ++c) EXPECT_EQ(Cell(c, 5), (1 << 8) + 2 * c - 9 + 1) << c;
    EXPECT_EQ(Cell(4, 5), (1 << 8) + 0 + 1);
    int32_t marked = 0;
    for (int32_t i = 0; i < 64 * 64; ++i) marked += view->objectCellMap[i] != 0;
    EXPECT_EQ(marked, 17);
    EXPECT_EQ(view->objects[1].footprint[31], 5 * 64 + 20);
    EXPECT_EQ(view->objects[1].footprint[0], 5 * 64 + 4);

    // Moving on clears the old marks: heading 0 at speed 26 is 1664 units.
    view->objects[1].speed = 26;
    view->MoveObjects();
    EXPECT_EQ(view->objects[1].positionX, 20 * 1024 + 100 + 1664);
    // Now 740 units into cell 21: slices 31 and 30 share it, slice 0 is in 6.
    EXPECT_EQ(Cell(4, 5), 0);
    EXPECT_EQ(Cell(5, 5), 0);
    EXPECT_EQ(Cell(21, 5), (1 << 8) + 30 + 1);
    EXPECT_EQ(Cell(6, 5), (1 << 8) + 0 + 1);
    marked = 0;
    for (int32_t i = 0; i < 64 * 64; ++i) marked += view->objectCellMap[i] != 0;
    EXPECT_EQ(marked, 16);
}

TEST_F(Footprints, WrapAcrossTheEdges) {
    view->objects[2].active = 0;
    // Heading a quarter turn: moving toward -y; the trail runs toward +y.
    Place(1, 10 * 1024, 63 * 1024 + 1000, 640, 26);
    view->MoveObjects();
    EXPECT_EQ(view->objects[1].positionY, 63 * 1024 + 1000 - 1664);
    // Front at y = 63848 (row 62); slice s at y + (31 - s) x 512, wrapping.
    EXPECT_EQ(Cell(10, 62), (1 << 8) + 30 + 1);
    EXPECT_EQ(Cell(10, 63), (1 << 8) + 28 + 1);
    EXPECT_EQ(Cell(10, 0), (1 << 8) + 26 + 1);
    EXPECT_NE(Cell(10, 13), 0);
    EXPECT_EQ(Cell(10, 14), 0);
    // The front crosses the edge as well.
    Place(1, 63 * 1024 + 900, 7 * 1024, 0, 26);
    view->MoveObjects();
    EXPECT_EQ(view->objects[1].positionX, 900 + 1664 - 1024);
    EXPECT_EQ(Cell(1, 7), (1 << 8) + 30 + 1);
    EXPECT_EQ(Cell(0, 7), (1 << 8) + 28 + 1);
    EXPECT_EQ(Cell(63, 7), (1 << 8) + 26 + 1);
    EXPECT_EQ(Cell(10, 62), 0);  // the old footprint is gone
}

TEST_F(Footprints, LowerSlotWinsSharedCells) {
    Place(1, 30 * 1024, 9 * 1024, 0, 0);
    Place(2, 35 * 1024, 9 * 1024, 0, 0);
    for (int frame = 0; frame < 3; ++frame) {
        view->MoveObjects();
        EXPECT_EQ(Cell(30, 9) >> 8, 1);
        EXPECT_EQ(Cell(25, 9) >> 8, 1);
        EXPECT_EQ(Cell(31, 9) >> 8, 2);
        EXPECT_EQ(Cell(35, 9) >> 8, 2);
    }
}

TEST_F(Footprints, AltitudeSettlesTenAboveTheGround) {
    world.heights.assign(world.heights.size(), 40);
    view->objects[2].active = 0;
    Place(1, 30 * 1024, 30 * 1024, 0, 26);
    view->MoveObjects();
    EXPECT_EQ(view->objects[1].altitude, 50);  // lifted at once from 26
    view->objects[1].altitude = 60;
    for (int frame = 0; frame < 9; ++frame) view->MoveObjects();
    EXPECT_EQ(view->objects[1].altitude, 51);
    for (int frame = 0; frame < 9; ++frame) view->MoveObjects();
    EXPECT_EQ(view->objects[1].altitude, 50);
    // Rising ground lifts it at once; the floor is the ground under the
    // middle slice (16), not under the front.
    world.heights.assign(world.heights.size(), 500);
    view->MoveObjects();
    EXPECT_EQ(view->objects[1].altitude, 510);
    view->objects[1].speed = 0;
    const int32_t front = view->objects[1].footprint[31];
    world.heights[static_cast<size_t>(front)] = 900;
    view->MoveObjects();
    EXPECT_EQ(view->objects[1].altitude, 510);
    world.heights[static_cast<size_t>(view->objects[1].footprint[16])] = 700;
    view->MoveObjects();
    EXPECT_EQ(view->objects[1].altitude, 710);
}

TEST(ObjectsWithoutArrays, MoveObjectsDoesNothing) {
    ViewWorld world(128, 96, 64);
    auto view = world.MakeView(0);
    view->MoveObjects();
    view->slotCount = 5;  // as after a failed object list
    view->MoveObjects();
    EXPECT_FALSE(view->CanRender());
}

}  // namespace
