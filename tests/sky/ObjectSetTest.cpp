// Airborne objects: images, slots, placement, motion and footprints.
#include "sky/ObjectSet.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "base/Scratch.h"
#include "base/Units.h"
#include "sky/Image.h"
#include "tests/sky/SkyTestSupport.h"

namespace {

int32_t Sum(uint32_t p) {
    return static_cast<int32_t>(((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF));
}

TEST(FillDisc, SmallRadiiDrawAPlus) {
    for (int32_t radius : {1, 2}) {
        SCOPED_TRACE(radius);
        std::vector<uint32_t> image(8 * 8, 0);
        FillDisc(image.data(), 8, radius, 7u, 3, 4);
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
    FillDisc(image.data(), 32, 16, 1u, 15, 15);  // shrinks to 15
    EXPECT_EQ(image[0 + 15 * 32], 1u);
    EXPECT_EQ(image[30 + 15 * 32], 1u);
    EXPECT_EQ(image[31 + 15 * 32], 0u);
    EXPECT_EQ(image[15 + 0 * 32], 1u);
    EXPECT_EQ(image[0], 0u);

    std::vector<uint32_t> edge(16, 0);
    FillDisc(edge.data(), 4, 5, 1u, 0, 2);  // radius 0 at the edge: nothing
    for (uint32_t p : edge) EXPECT_EQ(p, 0u);
    FillDisc(edge.data(), 4, 3, 1u, 9, 9);  // outside the image: nothing
    for (uint32_t p : edge) EXPECT_EQ(p, 0u);
}

TEST(ClearDarkPixels, ClearsBelowTheThreshold) {
    uint32_t pixels[4] = {0xFF212121u, 0xFF222221u, 0xFF000000u, 0xFFFFFFFFu};
    ClearDarkPixels(pixels, 2, 2, 100);  // 99, 100, 0, 765
    EXPECT_EQ(pixels[0], 0u);
    EXPECT_EQ(pixels[1], 0xFF222221u);
    EXPECT_EQ(pixels[2], 0u);
    EXPECT_EQ(pixels[3], 0xFFFFFFFFu);
}

// An object set of `slots` slots built over a 64-cell world from `seed`.
struct Objects {
    explicit Objects(int32_t slots, uint32_t seed = 12345, int32_t groundHeight = 0)
        : world(64, groundHeight), state(seed) {
        set.SetSlotCount(slots);
        built = set.BuildObjectList(64, 64, 2560, state);
    }
    void Move() { set.MoveObjects(world.Land(), world.Trig()); }
    uint16_t Cell(int32_t cx, int32_t cy) const { return set.cellMap[cy * 64 + cx]; }
    int32_t Marked() const {
        int32_t marked = 0;
        for (int32_t i = 0; i < 64 * 64; ++i) marked += set.cellMap[i] != 0;
        return marked;
    }
    SkyWorld world;
    ObjectSet set;
    uint32_t state;
    bool built = false;
};

TEST(RingSprite, ImageForColour807060) {
    Objects objects(2);
    objects.set.MakeRingSprite(1, 80, 70, 60);
    const SkyObject& ring = objects.set.slots[1];
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
    Objects objects(2);
    objects.set.MakeRingSprite(1, 250, 200, 190);
    EXPECT_EQ(objects.set.slots[1].image[15 + 27 * 32], 0xFFFAC8BEu);
    objects.set.spriteSideDot = 0;
    objects.set.MakeRingSprite(1, 80, 70, 60);
    EXPECT_EQ(objects.set.slots[1].image[15 + 27 * 32], 0xFF50463Cu);
}

TEST(RingSprite, ImpossibleSizeLeavesTheRingInactive) {
    Objects objects(2);
    objects.set.spriteSizeExponent = 8;  // 256 slices would not fit the cell map's byte
    objects.set.MakeRingSprite(1, 80, 70, 60);
    EXPECT_EQ(objects.set.slots[1].image, nullptr);
    EXPECT_EQ(objects.set.slots[1].sliceCount, 0);
    EXPECT_EQ(objects.set.slots[1].active, 0);
}

TEST(SlotCount, IsClampedAndFreesTheList) {
    ObjectSet set;
    set.SetSlotCount(300);
    EXPECT_EQ(set.slotCount, ObjectSet::kMaxSlots);
    uint32_t state = 1;
    ASSERT_TRUE(set.BuildObjectList(64, 64, 2560, state));
    EXPECT_EQ(set.slots[253].kind, 1);
    set.SetSlotCount(-5);
    EXPECT_EQ(set.slotCount, 0);
    EXPECT_EQ(set.slots, nullptr);
    EXPECT_EQ(set.cellMap, nullptr);
    EXPECT_EQ(set.cellCount, 0);
}

TEST(SlotCount, OnlyTheStreakMarksNothing) {
    Objects objects(1);
    ASSERT_TRUE(objects.built);
    const SkyObject& streak = objects.set.slots[0];
    EXPECT_EQ(streak.kind, 0);
    EXPECT_EQ(streak.active, 0);
    EXPECT_EQ(streak.sliceLength, 3);
    EXPECT_EQ(streak.sliceCount, 32);
    EXPECT_EQ(streak.speed, 250);
    EXPECT_EQ(streak.altitude, 250);
    EXPECT_EQ(streak.image[0], 0xFF000000u);
    EXPECT_EQ(streak.image[1], 0xFFFFFFFFu);
    EXPECT_EQ(streak.image[2], 0xFF000000u);
    for (int frame = 0; frame < 5; ++frame) objects.Move();
    EXPECT_EQ(objects.Marked(), 0);
    EXPECT_EQ(streak.positionX, 0);
}

// The seed decides the placement: slot 0 draws colour triples, then every
// ring draws cellX, cellY, heading and colour triples until one is bright
// enough.
TEST(Placement, FollowsTheRandomSequence) {
    const uint32_t seed = 2024;
    Objects objects(9, seed);
    ASSERT_TRUE(objects.built);
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
        const SkyObject& o = objects.set.slots[slot];
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
    EXPECT_EQ(objects.state, state);
    EXPECT_EQ(objects.Marked(), 0);  // marked by the first MoveObjects
}

TEST(Placement, FailedMemoryLeavesNoListOrInactiveObjects) {
    for (int32_t n = 0; n < 2; ++n) {
        // The cell map, then the slot array.
        SCOPED_TRACE(n);
        ObjectSet set;
        set.SetSlotCount(5);
        uint32_t state = 3;
        scratch::FailAllocationsAfter(n);
        EXPECT_FALSE(set.BuildObjectList(64, 64, 2560, state));
        scratch::FailAllocationsAfter(-1);
        EXPECT_EQ(set.slots, nullptr);
        EXPECT_EQ(set.cellMap, nullptr);
        EXPECT_EQ(set.slotCount, 5);
    }
    // An image or footprint that cannot be had makes its object inactive.
    ObjectSet set;
    set.SetSlotCount(3);
    uint32_t state = 3;
    // The list (2), the streak's image and footprint (2), ring 1's image and
    // blur copy (2): ring 1's footprint is the first to fail.
    scratch::FailAllocationsAfter(2 + 2 + 2);
    ASSERT_TRUE(set.BuildObjectList(64, 64, 2560, state));
    scratch::FailAllocationsAfter(-1);
    for (int32_t slot = 1; slot < 3; ++slot) {
        const SkyObject& o = set.slots[slot];
        if (o.active != 0) {
            EXPECT_NE(o.image, nullptr);
            EXPECT_NE(o.footprint, nullptr);
        }
    }
    EXPECT_EQ(set.slots[1].active, 0);
}

// A set with two ring slots whose objects the tests place by hand.
struct Footprints : testing::Test {
    Footprints() : objects(3) {}
    void Place(int32_t slot, int32_t x, int32_t y, int32_t heading, int32_t speed) {
        SkyObject& o = objects.set.slots[slot];
        o.positionX = x;
        o.positionY = y;
        o.heading = heading;
        o.speed = speed;
    }
    SkyObject& Slot(int32_t slot) { return objects.set.slots[slot]; }
    uint16_t Cell(int32_t cx, int32_t cy) const { return objects.Cell(cx, cy); }
    Objects objects;
};

TEST_F(Footprints, FrontSliceAtThePositionTrailingBehind) {
    Slot(2).active = 0;
    Place(1, 20 * 1024 + 100, 5 * 1024 + 7, 0, 0);
    objects.Move();
    // Slice s lies at x - (31 - s) x 512; each cell keeps its lowest slice.
    EXPECT_EQ(Cell(20, 5), (1 << 8) + 31 + 1);
    for (int32_t c = 5; c <= 19; ++c) EXPECT_EQ(Cell(c, 5), (1 << 8) + 2 * c - 9 + 1) << c;
    EXPECT_EQ(Cell(4, 5), (1 << 8) + 0 + 1);
    EXPECT_EQ(objects.Marked(), 17);
    EXPECT_EQ(Slot(1).footprint[31], 5 * 64 + 20);
    EXPECT_EQ(Slot(1).footprint[0], 5 * 64 + 4);

    // Moving on clears the old marks: heading 0 at speed 26 is 1664 units.
    Slot(1).speed = 26;
    objects.Move();
    EXPECT_EQ(Slot(1).positionX, 20 * 1024 + 100 + 1664);
    // Now 740 units into cell 21: slices 31 and 30 share it, slice 0 is in 6.
    EXPECT_EQ(Cell(4, 5), 0);
    EXPECT_EQ(Cell(5, 5), 0);
    EXPECT_EQ(Cell(21, 5), (1 << 8) + 30 + 1);
    EXPECT_EQ(Cell(6, 5), (1 << 8) + 0 + 1);
    EXPECT_EQ(objects.Marked(), 16);
}

TEST_F(Footprints, WrapAcrossTheEdges) {
    Slot(2).active = 0;
    // Heading a quarter turn: moving toward -y; the trail runs toward +y.
    Place(1, 10 * 1024, 63 * 1024 + 1000, 640, 26);
    objects.Move();
    EXPECT_EQ(Slot(1).positionY, 63 * 1024 + 1000 - 1664);
    // Front at y = 63848 (row 62); slice s at y + (31 - s) x 512, wrapping.
    EXPECT_EQ(Cell(10, 62), (1 << 8) + 30 + 1);
    EXPECT_EQ(Cell(10, 63), (1 << 8) + 28 + 1);
    EXPECT_EQ(Cell(10, 0), (1 << 8) + 26 + 1);
    EXPECT_NE(Cell(10, 13), 0);
    EXPECT_EQ(Cell(10, 14), 0);
    // The front crosses the edge as well.
    Place(1, 63 * 1024 + 900, 7 * 1024, 0, 26);
    objects.Move();
    EXPECT_EQ(Slot(1).positionX, 900 + 1664 - 1024);
    EXPECT_EQ(Cell(1, 7), (1 << 8) + 30 + 1);
    EXPECT_EQ(Cell(0, 7), (1 << 8) + 28 + 1);
    EXPECT_EQ(Cell(63, 7), (1 << 8) + 26 + 1);
    EXPECT_EQ(Cell(10, 62), 0);  // the old footprint is gone
}

TEST_F(Footprints, LowerSlotWinsSharedCells) {
    Place(1, 30 * 1024, 9 * 1024, 0, 0);
    Place(2, 35 * 1024, 9 * 1024, 0, 0);
    for (int frame = 0; frame < 3; ++frame) {
        objects.Move();
        EXPECT_EQ(Cell(30, 9) >> 8, 1);
        EXPECT_EQ(Cell(25, 9) >> 8, 1);
        EXPECT_EQ(Cell(31, 9) >> 8, 2);
        EXPECT_EQ(Cell(35, 9) >> 8, 2);
    }
}

TEST_F(Footprints, AltitudeSettlesTenAboveTheGround) {
    std::vector<int32_t>& heights = objects.world.heights;
    heights.assign(heights.size(), 40);
    Slot(2).active = 0;
    Place(1, 30 * 1024, 30 * 1024, 0, 26);
    objects.Move();
    EXPECT_EQ(Slot(1).altitude, 50);  // lifted at once from 26
    Slot(1).altitude = 60;
    for (int frame = 0; frame < 9; ++frame) objects.Move();
    EXPECT_EQ(Slot(1).altitude, 51);
    for (int frame = 0; frame < 9; ++frame) objects.Move();
    EXPECT_EQ(Slot(1).altitude, 50);
    // Rising ground lifts it at once; the floor is the ground under the
    // middle slice (16), not under the front.
    heights.assign(heights.size(), 500);
    objects.Move();
    EXPECT_EQ(Slot(1).altitude, 510);
    Slot(1).speed = 0;
    const int32_t front = Slot(1).footprint[31];
    heights[static_cast<size_t>(front)] = 900;
    objects.Move();
    EXPECT_EQ(Slot(1).altitude, 510);
    heights[static_cast<size_t>(Slot(1).footprint[16])] = 700;
    objects.Move();
    EXPECT_EQ(Slot(1).altitude, 710);
}

TEST_F(Footprints, NothingMovesWithoutTablesOrOnAnotherMap) {
    Place(1, 30 * 1024, 9 * 1024, 0, 26);
    objects.set.MoveObjects(objects.world.Land(), TrigTables());
    EXPECT_EQ(Slot(1).positionX, 30 * 1024);
    SkyWorld larger(128);
    objects.set.MoveObjects(larger.Land(), larger.Trig());
    EXPECT_EQ(Slot(1).positionX, 30 * 1024);
    EXPECT_EQ(objects.Marked(), 0);
}

// The sample map keeps a mark exactly where the cell map is not 0, through
// moves, frames in between and their roll-back, objects made anew and the
// list's release, and its heights stay as they were.
TEST(SampleMap, MarksFollowEveryCellMapWrite) {
    Objects objects(9, 777);
    ASSERT_TRUE(objects.built);
    std::vector<uint16_t> samples(64 * 64);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint16_t>(i * 37 % 30000);
    const std::vector<uint16_t> heights = samples;
    objects.Move();
    objects.set.AttachSampleMap(samples.data(), 64 * 64);
    ASSERT_EQ(objects.set.sampleMap, samples.data());
    const auto agree = [&]() {
        for (size_t i = 0; i < samples.size(); ++i) {
            const bool marked = (samples[i] & ObjectSet::kSampleObjectMark) != 0;
            if (marked != (objects.set.cellMap[i] != 0) ||
                (samples[i] & ObjectSet::kSampleHeightMask) != heights[i]) {
                return false;
            }
        }
        return true;
    };
    EXPECT_TRUE(agree());
    EXPECT_GT(objects.Marked(), 0);
    for (int tick = 0; tick < 40; ++tick) {
        SCOPED_TRACE(tick);
        ASSERT_TRUE(objects.set.KeepPose());
        objects.Move();
        if (tick % 5 == 4) objects.Move();  // two moves: the kept pose is lost
        ASSERT_TRUE(agree());
        for (const int32_t fraction : {0, 20000, 65535}) {
            objects.set.ShowBetween(objects.world.Land(), objects.world.Trig(), fraction);
            ASSERT_TRUE(agree());
            objects.set.ShowPresent();
            ASSERT_TRUE(agree());
        }
    }
    // An object made anew clears its old footprint.
    uint32_t state = 5;
    objects.set.CreateObject(3, 1, 10, 10, 50, 0, 0, 1, 0, 0, 0, state);
    EXPECT_TRUE(agree());
    objects.Move();
    EXPECT_TRUE(agree());
    // The list released: no marks left. Made again on the same map: marked.
    objects.set.FreeObjectList();
    for (size_t i = 0; i < samples.size(); ++i) ASSERT_EQ(samples[i], heights[i]) << i;
    ASSERT_TRUE(objects.set.BuildObjectList(64, 64, 2560, state));
    objects.Move();
    EXPECT_TRUE(agree());
    // On a map of another size the sample map is let go with its marks
    // cleared, and not written again.
    ASSERT_TRUE(objects.set.BuildObjectList(32, 32, 2560, state));
    EXPECT_EQ(objects.set.sampleMap, nullptr);
    SkyWorld small(32);
    objects.set.MoveObjects(small.Land(), small.Trig());
    EXPECT_TRUE(samples == heights);
    objects.set.AttachSampleMap(samples.data(), 64 * 64);
    EXPECT_EQ(objects.set.sampleMap, nullptr);
}

TEST(ObjectsWithoutArrays, MoveObjectsDoesNothing) {
    SkyWorld world(64);
    ObjectSet set;
    set.MoveObjects(world.Land(), world.Trig());
    set.slotCount = 5;  // as after a failed object list
    set.MoveObjects(world.Land(), world.Trig());
    EXPECT_EQ(set.slots, nullptr);
}

}  // namespace
