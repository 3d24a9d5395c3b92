// Failed allocations during construction and afterwards: no crash, no leak
// (the sanitizer build checks both), and CanRender() says whether the view
// may be drawn.
#include <gtest/gtest.h>

#include <cstdint>

#include "base/Scratch.h"
#include "tests/view/ViewTestSupport.h"

namespace {

struct FailureOff {
    ~FailureOff() { scratch::FailAllocationsAfter(-1); }
};

// Every nonzero cell names an active object that has an image and slice.
void ExpectMarksAreDrawable(const FlightView& view) {
    const ObjectSet& objects = view.objects;
    if (objects.cellMap == nullptr) return;
    for (int32_t i = 0; i < view.heightMapWidth * view.heightMapHeight; ++i) {
        const uint16_t v = objects.cellMap[i];
        if (v == 0) continue;
        const int32_t slot = v >> 8;
        const int32_t slice = (v & 0xFF) - 1;
        ASSERT_LT(slot, objects.slotCount);
        const SkyObject& o = objects.slots[slot];
        ASSERT_NE(o.active, 0);
        ASSERT_NE(o.image, nullptr);
        ASSERT_LT(slice, o.sliceCount);
    }
}

void ExpectConsistent(const FlightView& view) {
    const bool tables = view.buffersReady && view.cosTable && view.sinTable && view.rayStepTable &&
                        view.depthScale && view.depthScaleInverse && view.bankTable;
    // A view whose object list could not be obtained is drawn without objects.
    EXPECT_EQ(view.CanRender(), tables && view.sky.pixels != nullptr);
    if (view.objects.slots == nullptr) {
        EXPECT_EQ(view.objects.cellMap, nullptr);
        return;
    }
    for (int32_t slot = 0; slot < view.objects.slotCount; ++slot) {
        const SkyObject& o = view.objects.slots[slot];
        if (o.active != 0) {
            EXPECT_NE(o.image, nullptr) << slot;
            EXPECT_NE(o.footprint, nullptr) << slot;
            EXPECT_GE(o.sliceCount, 1) << slot;
        }
        if (o.image == nullptr) {
            EXPECT_EQ(o.sliceCount, 0) << slot;
        }
    }
}

TEST(Allocation, EveryFailurePointDuringConstruction) {
    FailureOff off;
    ViewWorld world(512, 384, 64);
    for (int32_t y = 0; y < 64; ++y) {
        for (int32_t x = 0; x < 64; ++x) world.Height(x, y) = (x * 7 + y * 3) % 90;
    }
    int32_t renderableWithLostRings = 0;
    bool complete = false;
    for (int32_t n = 0; n <= 60 && !complete; ++n) {
        SCOPED_TRACE(n);
        scratch::FailAllocationsAfter(n);
        auto view = world.MakeView(7, 31);
        scratch::FailAllocationsAfter(-1);
        ExpectConsistent(*view);

        int32_t activeRings = 0;
        if (view->objects.slots != nullptr) {
            for (int32_t slot = 1; slot < view->objects.slotCount; ++slot) {
                activeRings += view->objects.slots[slot].active != 0;
            }
        }

        // Fly a few frames the way the frame loop does; the tables come back
        // through Move once memory is there again.
        for (int frame = 0; frame < 4; ++frame) {
            if (frame == 1) scratch::FailAllocationsAfter(0);
            view->SteerAutopilot(-1, 30);
            view->headingRate = view->turnCommand >> 1;
            view->climbRate = view->climbCommand;
            view->SetBankAngle(view->turnCommand);
            view->Move();
            if (frame == 1) scratch::FailAllocationsAfter(-1);
            if (frame == 3 && view->CanRender()) {
                view->Render();  // moves the objects first
            } else {
                view->MoveObjects();
            }
            ExpectMarksAreDrawable(*view);
        }
        ExpectConsistent(*view);
        EXPECT_TRUE(view->buffersReady);
        complete = view->CanRender() && activeRings == 6;
        if (view->CanRender() && activeRings < 6) ++renderableWithLostRings;
    }
    EXPECT_TRUE(complete) << "construction needs more than 60 allocations";
    EXPECT_GT(renderableWithLostRings, 0) << "no run lost a ring image or footprint";
}

TEST(Allocation, FailedObjectListKeepsTheSlotCount) {
    FailureOff off;
    ViewWorld world(512, 384, 64);
    auto view = world.MakeView(7, 31);
    scratch::FailAllocationsAfter(1);  // the cell map, not the slots
    EXPECT_FALSE(view->SetObjectCount(9));
    scratch::FailAllocationsAfter(-1);
    EXPECT_EQ(view->objects.slotCount, 9);
    EXPECT_EQ(view->objects.slots, nullptr);
    EXPECT_EQ(view->objects.cellMap, nullptr);
    // The landscape is still drawn, as if there were no objects.
    ASSERT_TRUE(view->CanRender());
    world.frame.assign(world.frame.size(), 0x12345678u);
    view->Render();
    int32_t painted = 0;
    for (uint32_t pixel : world.frame) painted += pixel != 0x12345678u;
    EXPECT_GT(painted, 512 * 384 / 2);
    EXPECT_TRUE(view->SetObjectCount(9));
    EXPECT_TRUE(view->CanRender());
}

TEST(Allocation, FailedSkyFailsTheObjectList) {
    FailureOff off;
    ViewWorld world(512, 384, 64);
    auto view = world.MakeView(0, 31);
    view->ResetDefaults();
    view->frame = world.frame.data();
    view->frameWidth = 512;
    view->frameHeight = 384;
    view->heightMap = world.heights.data();
    view->colourMap = world.colours.data();
    view->heightMapWidth = view->heightMapHeight = 64;
    view->colourMapWidth = view->colourMapHeight = 64;
    scratch::FailAllocationsAfter(0);
    EXPECT_FALSE(view->SetObjectCount(3));
    scratch::FailAllocationsAfter(-1);
    EXPECT_EQ(view->objects.slots, nullptr);
    EXPECT_EQ(view->sky.pixels, nullptr);
    EXPECT_TRUE(view->SetUpBuffers());
    EXPECT_FALSE(view->CanRender());
    EXPECT_TRUE(view->SetObjectCount(3));
    EXPECT_TRUE(view->CanRender());
}

}  // namespace
