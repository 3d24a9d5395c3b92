// Frames between ticks: drawn from the kept pose toward the present, the
// kept pose's own frame at fraction 0, and nothing of the view changed by
// drawing them. Checked against a twin view that flies the same path one
// step behind and never draws in between.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "tests/view/GoldenPaths.h"
#include "view/Render.h"

namespace {

// Everything of a view that a tick leaves behind.
struct ViewState {
    std::vector<int32_t> camera;
    std::vector<int32_t> objects;
    std::vector<uint16_t> cells;

    bool operator==(const ViewState& o) const {
        return camera == o.camera && objects == o.objects && cells == o.cells;
    }
};

ViewState StateOf(const FlightView& v) {
    ViewState state;
    state.camera = {v.positionX, v.positionY, v.altitude, v.heading, v.bankAngle, v.horizonRow,
                    static_cast<int32_t>(v.randomState)};
    for (int32_t slot = 0; slot < v.objects.slotCount; ++slot) {
        const SkyObject& o = v.objects.slots[slot];
        state.objects.insert(state.objects.end(),
                             {o.positionX, o.positionY, o.altitude, o.heading, o.active});
        for (int32_t s = 0; s < o.sliceCount && o.footprint != nullptr; ++s) {
            state.objects.push_back(o.footprint[s]);
        }
    }
    state.cells.assign(v.objects.cellMap, v.objects.cellMap + v.objects.cellCount);
    return state;
}

// One tick of the scripted path: the camera's next pose and the objects'
// move.
void Step(GoldenFlight& flight) {
    flight.camera.Step(*flight.view);
    flight.view->MoveObjects();
}

TEST(BetweenFrames, FractionZeroIsTheKeptTicksFrameAndDrawingChangesNothing) {
    std::mt19937 random(20261209);
    for (const GoldenPath& path : GoldenPaths()) {
        SCOPED_TRACE(path.name);
        GoldenFlight smooth(path);  // keeps each pose and draws in between
        GoldenFlight twin(path);    // one tick behind, never draws in between
        Step(smooth);
        Step(twin);
        for (int tick = 1; tick <= 60; ++tick) {
            SCOPED_TRACE(tick);
            // Over the same previous content, the twin's tick frame and the
            // smooth view's fraction 0 (it is one tick ahead).
            rendertest::FillPattern(twin.world.frame, static_cast<uint32_t>(tick));
            RenderLandscape(*twin.view);
            ASSERT_TRUE(smooth.view->KeepPose());
            Step(smooth);
            rendertest::FillPattern(smooth.world.frame, static_cast<uint32_t>(tick));
            smooth.view->RenderBetween(0);
            ASSERT_TRUE(smooth.world.frame == twin.world.frame);
            // Frames in between, any number, change nothing but pixels.
            const ViewState before = StateOf(*smooth.view);
            const int count = static_cast<int>(random() % 4);
            for (int i = 0; i < count; ++i) {
                smooth.view->RenderBetween(static_cast<int32_t>(random() % kFractionOne));
            }
            ASSERT_TRUE(StateOf(*smooth.view) == before);
            Step(twin);
            ASSERT_TRUE(StateOf(*smooth.view) == StateOf(*twin.view));
        }
    }
}

TEST(BetweenFrames, InBetweenFramesMoveTheCameraAndTheRingsPartWay) {
    const GoldenPath& path = GoldenPaths()[0];
    GoldenFlight flight(path);
    FlightView& v = *flight.view;
    Step(flight);
    ASSERT_TRUE(v.KeepPose());
    const int32_t fromX = v.positionX;
    Step(flight);
    // Halfway: the frame differs from both ends, and its camera lies between.
    std::vector<std::vector<uint32_t>> frames;
    for (const int32_t fraction : {0, kFractionOne / 2, kFractionOne - 1}) {
        rendertest::FillPattern(flight.world.frame, 7);
        v.RenderBetween(fraction);
        frames.push_back(flight.world.frame);
    }
    EXPECT_NE(frames[0], frames[1]);
    EXPECT_NE(frames[1], frames[2]);
    const int32_t half = InterpolateWrapped(fromX, v.positionX, kFractionOne / 2, v.xLimit);
    EXPECT_NE(half, fromX);
    EXPECT_NE(half, v.positionX);
    // Without a kept pose (or after more than one move) the present is drawn.
    v.ForgetPose();
    rendertest::FillPattern(flight.world.frame, 7);
    v.RenderBetween(kFractionOne / 2);
    const std::vector<uint32_t> forgotten = flight.world.frame;
    rendertest::FillPattern(flight.world.frame, 7);
    RenderLandscape(v);
    EXPECT_TRUE(forgotten == flight.world.frame);
    ASSERT_TRUE(v.KeepPose());
    Step(flight);
    Step(flight);
    rendertest::FillPattern(flight.world.frame, 7);
    v.RenderBetween(kFractionOne / 2);
    EXPECT_TRUE(forgotten != flight.world.frame);
    const std::vector<uint32_t> twoMoves = flight.world.frame;
    rendertest::FillPattern(flight.world.frame, 7);
    RenderLandscape(v);
    EXPECT_TRUE(twoMoves == flight.world.frame);
}

}  // namespace
