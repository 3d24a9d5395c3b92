// Failed allocations during construction and afterwards: no crash, no leak
// (the sanitizer build checks both), and CanRender() says whether the view
// may be drawn.
#include <gtest/gtest.h>

#include <cstdint>

#include "land/Scratch.h"
#include "tests/view/ViewTestSupport.h"

namespace {

struct FailureOff {
    ~FailureOff() { scratch::FailAllocationsAfter(-1); }
};

// Every nonzero cell names an active object that has an image and slice.
void ExpectMarksAreDrawable(const FlightView& view) {
    if (view.objectCellMap == nullptr) return;
    for (int32_t i = 0; i < view.heightMapWidth * view.heightMapHeight; ++i) {
        const uint16_t v = view.objectCellMap[i];
        if (v == 0) continue;
        const int32_t slot = v >> 8;
        const int32_t slice = (v & 0xFF) - 1;
        ASSERT_LT(slot, view.slotCount);
        const SkyObject& o = view.objects[slot];
        ASSERT_NE(o.active, 0);
        ASSERT_NE(o.image, nullptr);
        ASSERT_LT(slice, o.sliceCount);
    }
}

void ExpectConsistent(const FlightView& view) {
    const bool tables = view.buffersReady && view.cosTable && view.sinTable && view.rayStepTable &&
                        view.depthScale && view.depthScaleInverse && view.bankTable;
    const bool objectsThere = view.slotCount == 0 || (view.objects && view.objectCellMap &&
                                                      view.spanStep && view.spanTexels);
    EXPECT_EQ(view.CanRender(), tables && view.sky != nullptr && objectsThere);
    if (view.objects == nullptr) {
        EXPECT_EQ(view.objectCellMap, nullptr);
        EXPECT_EQ(view.spanStep, nullptr);
        return;
    }
    for (int32_t slot = 0; slot < view.slotCount; ++slot) {
        const SkyObject& o = view.objects[slot];
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
        if (view->objects != nullptr) {
            for (int32_t slot = 1; slot < view->slotCount; ++slot) {
                activeRings += view->objects[slot].active != 0;
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
    scratch::FailAllocationsAfter(3);  // the cell map and two span arrays
    EXPECT_FALSE(view->SetObjectCount(9));
    scratch::FailAllocationsAfter(-1);
    EXPECT_EQ(view->slotCount, 9);
    EXPECT_EQ(view->objects, nullptr);
    EXPECT_EQ(view->objectCellMap, nullptr);
    EXPECT_FALSE(view->CanRender());
    view->MoveObjects();
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
    EXPECT_EQ(view->objects, nullptr);
    EXPECT_EQ(view->sky, nullptr);
    EXPECT_TRUE(view->SetUpBuffers());
    EXPECT_FALSE(view->CanRender());
    EXPECT_TRUE(view->SetObjectCount(3));
    EXPECT_TRUE(view->CanRender());
}

}  // namespace
