// The flight view's hand-overs to the sky layer: the sky and the objects it
// builds on construction from its seed, the object count with the view
// distance, and the autopilot and object motion fed from its camera and
// tables.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "base/Units.h"
#include "sky/Autopilot.h"
#include "sky/ObjectSet.h"
#include "sky/SkyTexture.h"
#include "tests/view/ViewTestSupport.h"

namespace {

std::vector<uint32_t> Texels(const SkyTexture& sky) {
    return std::vector<uint32_t>(sky.pixels,
                                 sky.pixels + static_cast<int64_t>(sky.width) * sky.height);
}

TEST(SkyLayer, TheSeedBuildsTheSkyAndLeavesTheStateForTheObjects) {
    ViewWorld world(128, 96, 64);
    const uint32_t seed = 777;
    SkyTexture expected;
    uint32_t state = seed;
    ASSERT_TRUE(expected.BuildSkyTexture(8, state));

    auto bare = world.MakeView(0, seed);
    EXPECT_EQ(bare->randomState, seed);  // no objects: nothing else is drawn
    EXPECT_EQ(Texels(bare->sky), Texels(expected));
    auto withObjects = world.MakeView(7, seed);
    EXPECT_EQ(Texels(withObjects->sky), Texels(expected));
    EXPECT_EQ(withObjects->sky.enabled, 1);
    EXPECT_EQ(bare->sky.enabled, 0);
}

TEST(SkyLayer, TheObjectsArePlacedFromTheSeedOverTheMap) {
    ViewWorld world(128, 96, 64);
    const uint32_t seed = 2024;
    auto view = world.MakeView(9, seed);
    ObjectSet expected;
    expected.SetSlotCount(9);
    uint32_t state = seed;
    ASSERT_TRUE(expected.BuildObjectList(64, 64, view->angleUnits, state));
    EXPECT_EQ(view->randomState, state);
    ASSERT_EQ(view->objects.slotCount, 9);
    EXPECT_EQ(view->objects.cellCount, 64 * 64);
    for (int32_t slot = 0; slot < 9; ++slot) {
        SCOPED_TRACE(slot);
        const SkyObject& a = view->objects.slots[slot];
        const SkyObject& b = expected.slots[slot];
        EXPECT_EQ(a.positionX, b.positionX);
        EXPECT_EQ(a.positionY, b.positionY);
        EXPECT_EQ(a.heading, b.heading);
        EXPECT_EQ(a.kind, b.kind);
        EXPECT_EQ(a.active, b.active);
        ASSERT_EQ(a.sliceLength * a.sliceCount, b.sliceLength * b.sliceCount);
        EXPECT_EQ(std::vector<uint32_t>(a.image, a.image + a.sliceLength * a.sliceCount),
                  std::vector<uint32_t>(b.image, b.image + b.sliceLength * b.sliceCount));
    }
}

TEST(SkyLayer, SlotCountIsClampedAndCapsTheViewDistance) {
    ViewWorld world(128, 96, 64);
    auto view = world.MakeView(1);
    EXPECT_TRUE(view->SetObjectCount(300));
    EXPECT_EQ(view->objects.slotCount, 254);
    EXPECT_TRUE(view->CanRender());
    EXPECT_EQ(view->objects.slots[253].kind, 1);
    EXPECT_TRUE(view->SetViewDistance(5000));
    EXPECT_EQ(view->viewDistance, 4140);
    EXPECT_TRUE(view->SetObjectCount(-5));
    EXPECT_EQ(view->objects.slotCount, 0);
    EXPECT_EQ(view->objects.slots, nullptr);
    EXPECT_EQ(view->objects.cellMap, nullptr);
    EXPECT_TRUE(view->CanRender());
    // Without objects the view distance has no upper limit.
    EXPECT_TRUE(view->SetViewDistance(6000));
    EXPECT_EQ(view->viewDistance, 6000);
}

TEST(SkyLayer, NoSlotsLeaveTheSkySwitchOff) {
    ViewWorld world(128, 96, 64);
    auto view = world.MakeView(0);
    EXPECT_EQ(view->objects.slots, nullptr);
    EXPECT_EQ(view->objects.cellMap, nullptr);
    EXPECT_EQ(view->sky.enabled, 0);
    EXPECT_NE(view->sky.pixels, nullptr);  // built all the same
    view->MoveObjects();
    view->objects.slotCount = 5;  // as after a failed object list
    view->MoveObjects();
    EXPECT_TRUE(view->CanRender());  // drawn without objects
}

TEST(SkyLayer, TheAutopilotFliesFromTheViewsCameraAndTables) {
    ViewWorld world(512, 384, 64);
    uint32_t heights = 9;
    for (int32_t& h : world.heights) h = LcgStep(heights) % 200;
    auto view = world.MakeView(1);
    Autopilot twin;
    for (int32_t frame = 0; frame < 40; ++frame) {
        SCOPED_TRACE(frame);
        view->positionX = (frame * 3001) % view->xLimit;
        view->positionY = (frame * 7919) % view->yLimit;
        view->heading = (frame * 97) % view->angleUnits;
        view->altitude = 100 + frame;
        const int32_t direction = frame % 3 == 0 ? 1 : -1;
        view->SteerAutopilot(direction, 30);
        CameraPose camera;
        camera.positionX = view->positionX;
        camera.positionY = view->positionY;
        camera.heading = view->heading;
        camera.altitude = view->altitude;
        TrigTables trig;
        trig.cosTable = view->cosTable;
        trig.sinTable = view->sinTable;
        trig.angleUnits = view->angleUnits;
        Terrain land;
        land.heights = world.heights.data();
        land.width = land.height = 64;
        land.xLimit = land.yLimit = 64 << 10;
        const AutopilotCommands c = twin.SteerAutopilot(land, trig, camera, direction, 30);
        ASSERT_EQ(view->turnCommand, c.turnCommand);
        ASSERT_EQ(view->climbCommand, c.climbCommand);
        ASSERT_EQ(view->autopilot.turnFilter, twin.turnFilter);
    }
}

TEST(SkyLayer, WithoutTablesTheCommandsAreZero) {
    ViewWorld world(512, 384, 64);
    auto view = world.MakeView(3);
    view->buffersReady = false;
    view->autopilot.turnFilter = 400;
    view->turnCommand = 7;
    view->climbCommand = 7;
    view->SteerAutopilot(1, 30);
    EXPECT_EQ(view->turnCommand, 0);
    EXPECT_EQ(view->climbCommand, 0);
    EXPECT_EQ(view->autopilot.turnFilter, 400);
    EXPECT_EQ(view->autopilot.altitudeFilter, 256);
    // Nor do the objects move.
    const int32_t x = view->objects.slots[1].positionX;
    const int32_t y = view->objects.slots[1].positionY;
    view->MoveObjects();
    EXPECT_EQ(view->objects.slots[1].positionX, x);
    EXPECT_EQ(view->objects.slots[1].positionY, y);
}

}  // namespace
