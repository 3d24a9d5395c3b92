// Autopilot: terrain following and hill-or-valley steering.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "land/Units.h"
#include "tests/view/ViewTestSupport.h"

namespace {

struct Autopilot : testing::Test {
    Autopilot() : world(512, 384, 64), view(world.MakeView(1)) {}
    ViewWorld world;
    std::unique_ptr<FlightView> view;
};

TEST_F(Autopilot, FirstFrameFromTheInitialFilters) {
    view->SteerAutopilot(-1, 30);
    EXPECT_EQ(view->climbCommand, -21);
    EXPECT_EQ(view->turnCommand, 0);  // flat land: nothing to steer by
    EXPECT_EQ(view->altitudeFilter, 429 - (429 >> 3));
    EXPECT_EQ(view->groundFilter, 527 - (527 >> 4));
}

TEST_F(Autopilot, FlatLandConvergesToTheClearance) {
    world.heights.assign(world.heights.size(), 60);
    view->altitude = 100;
    view->turnFilter = 333;
    for (int frame = 0; frame < 400; ++frame) view->SteerAutopilot(-1, 30);
    EXPECT_EQ(view->climbCommand, 60 + 15 - 100);
    EXPECT_EQ(view->turnFilter, 7);  // only decays
}

TEST_F(Autopilot, LooksTwentyCellsAheadAcrossTheEdge) {
    // Heading a quarter turn (-y) from row 5: the look-ahead row wraps to 49.
    world.Height(10, 49) = 200;
    view->positionX = 10 * 1024 + 10;
    view->positionY = 5 * 1024 + 10;
    view->heading = 640;
    view->altitude = 0;
    view->SteerAutopilot(-1, 0);
    EXPECT_EQ(view->climbCommand, ((512 + 215) >> 4) - (256 >> 3));
}

TEST_F(Autopilot, IntensityZeroDecays) {
    view->turnFilter = -1000;
    for (int frame = 0; frame < 200; ++frame) view->SteerAutopilot(-1, 0);
    EXPECT_EQ(view->turnFilter, 0);
    EXPECT_EQ(view->turnCommand, 0);
    view->turnFilter = 1000;
    for (int frame = 0; frame < 200; ++frame) view->SteerAutopilot(-1, 0);
    EXPECT_EQ(view->turnFilter, 7);
    EXPECT_EQ(view->turnCommand, 1);
}

TEST_F(Autopilot, ClampAndFold) {
    view->turnFilter = 100000;  // 87500 >> 2 is far beyond a turn
    view->SteerAutopilot(1, 30);
    EXPECT_EQ(view->turnCommand, -1);  // 2559, the shorter way round
    view->turnFilter = -100000;
    view->SteerAutopilot(1, 30);
    EXPECT_EQ(view->turnCommand, 1);
    view->turnFilter = 6400;  // 5600 after the decay: 1400
    view->SteerAutopilot(1, 30);
    EXPECT_EQ(view->turnCommand, 1400 - 2560);
}

// Hills lie in the rows north of the camera (smaller y), which the +I ray
// (heading + I, -sin < 0) crosses.
struct Steering : Autopilot {
    Steering() {
        for (int32_t y = 0; y < 32; ++y) {
            for (int32_t x = 0; x < 64; ++x) world.Height(x, y) = 100;
        }
        view->positionX = 10 * 1024;
        view->positionY = 40 * 1024;
        view->heading = 0;
    }
};

TEST_F(Steering, TowardHillsOrValleys) {
    view->SteerAutopilot(1, 200);
    EXPECT_GT(view->turnCommand, 0);
    ResetAutopilotFilters(*view);
    view->SteerAutopilot(-1, 200);
    EXPECT_LT(view->turnCommand, 0);
}

TEST_F(Steering, IntensityAboveAQuarterTurnSamplesAtAQuarterTurn) {
    view->SteerAutopilot(1, 640);
    const int32_t quarter = view->turnCommand;
    const int32_t filter = view->turnFilter;
    ResetAutopilotFilters(*view);
    view->SteerAutopilot(1, 5000);
    EXPECT_EQ(view->turnCommand, quarter);
    EXPECT_EQ(view->turnFilter, filter);
    ResetAutopilotFilters(*view);
    view->SteerAutopilot(1, 600);
    EXPECT_NE(view->turnFilter, filter);
}

// The rays the plain way: positions reduced with a modulo at every sample.
int32_t ReferenceRaySum(const FlightView& v, const ViewWorld& w, int32_t direction) {
    int64_t x = v.positionX;
    int64_t y = v.positionY;
    int32_t sum = 0;
    for (int i = 1; i <= 10; ++i) {
        const int64_t sx = ((x + v.cosTable[direction] * 4 * i) % v.xLimit + v.xLimit) % v.xLimit;
        const int64_t sy = ((y + v.sinTable[direction] * 4 * i) % v.yLimit + v.yLimit) % v.yLimit;
        sum += w.heights[static_cast<size_t>((sy >> 10) * w.mapSide + (sx >> 10))];
    }
    return sum;
}

TEST_F(Autopilot, RaysWrapAcrossTheEdges) {
    uint32_t state = 5;
    for (int32_t& h : world.heights) h = LcgStep(state) % 300;
    const int32_t cases[][4] = {
        {1, 1, 300, 150}, {63, 62, 1500, 200}, {0, 0, 2000, 640}, {40, 3, 2559, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c[0] << "," << c[1] << " heading " << c[2]);
        view->positionX = c[0] * 1024 + 512;
        view->positionY = c[1] * 1024 + 512;
        view->heading = c[2];
        view->turnFilter = 0;
        view->SteerAutopilot(1, c[3]);
        const int32_t minus = ReferenceRaySum(*view, world, (c[2] - c[3] + 2560) % 2560);
        const int32_t plus = ReferenceRaySum(*view, world, (c[2] + c[3]) % 2560);
        const int32_t input = plus - minus;
        EXPECT_EQ(view->turnFilter, input - (input >> 3));
    }
}

TEST_F(Autopilot, HugeHeightsStayDefined) {
    world.heights.assign(world.heights.size(), std::numeric_limits<int32_t>::max());
    for (int32_t y = 0; y < 32; ++y) world.Height(5, y) = std::numeric_limits<int32_t>::min();
    for (int frame = 0; frame < 50; ++frame) {
        view->SteerAutopilot(frame % 2 ? 1 : -1, 200);
        ASSERT_GE(view->turnCommand, -1280);
        ASSERT_LE(view->turnCommand, 1280);
    }
}

TEST_F(Autopilot, WithoutTablesCommandsAreZero) {
    view->buffersReady = false;
    view->turnFilter = 400;
    view->SteerAutopilot(1, 30);
    EXPECT_EQ(view->turnCommand, 0);
    EXPECT_EQ(view->climbCommand, 0);
    EXPECT_EQ(view->turnFilter, 400);
    EXPECT_EQ(view->altitudeFilter, 256);
}

}  // namespace
