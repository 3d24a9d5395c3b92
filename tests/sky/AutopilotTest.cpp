// Autopilot: terrain following and hill-or-valley steering.
#include "sky/Autopilot.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "base/Units.h"
#include "tests/sky/SkyTestSupport.h"

namespace {

// A 64-cell world, the camera at its start (0, 0), heading 0, altitude 173.
struct AutopilotTest : testing::Test {
    AutopilotTest() : world(64) { camera.altitude = 173; }
    AutopilotCommands Steer(int32_t turnDirection, int32_t intensity) {
        return autopilot.SteerAutopilot(world.Land(), world.Trig(), camera, turnDirection,
                                        intensity);
    }
    void ResetFilters() { autopilot = Autopilot(); }
    SkyWorld world;
    Autopilot autopilot;
    CameraPose camera;
};

TEST_F(AutopilotTest, FirstFrameFromTheInitialFilters) {
    const AutopilotCommands c = Steer(-1, 30);
    EXPECT_EQ(c.climbCommand, -21);
    EXPECT_EQ(c.turnCommand, 0);  // flat land: nothing to steer by
    EXPECT_EQ(autopilot.altitudeFilter, 429 - (429 >> 3));
    EXPECT_EQ(autopilot.groundFilter, 527 - (527 >> 4));
}

TEST_F(AutopilotTest, FlatLandConvergesToTheClearance) {
    world.heights.assign(world.heights.size(), 60);
    camera.altitude = 100;
    autopilot.turnFilter = 333;
    AutopilotCommands c;
    for (int frame = 0; frame < 400; ++frame) c = Steer(-1, 30);
    EXPECT_EQ(c.climbCommand, 60 + 15 - 100);
    EXPECT_EQ(autopilot.turnFilter, 7);  // only decays
}

TEST_F(AutopilotTest, LooksTwentyCellsAheadAcrossTheEdge) {
    // Heading a quarter turn (-y) from row 5: the look-ahead row wraps to 49.
    world.Height(10, 49) = 200;
    camera.positionX = 10 * 1024 + 10;
    camera.positionY = 5 * 1024 + 10;
    camera.heading = 640;
    camera.altitude = 0;
    EXPECT_EQ(Steer(-1, 0).climbCommand, ((512 + 215) >> 4) - (256 >> 3));
    // FollowTerrain alone gives the same command from the same filters.
    ResetFilters();
    EXPECT_EQ(autopilot.FollowTerrain(world.Land(), world.Trig(), camera),
              ((512 + 215) >> 4) - (256 >> 3));
}

TEST_F(AutopilotTest, IntensityZeroDecays) {
    autopilot.turnFilter = -1000;
    AutopilotCommands c;
    for (int frame = 0; frame < 200; ++frame) c = Steer(-1, 0);
    EXPECT_EQ(autopilot.turnFilter, 0);
    EXPECT_EQ(c.turnCommand, 0);
    autopilot.turnFilter = 1000;
    for (int frame = 0; frame < 200; ++frame) c = Steer(-1, 0);
    EXPECT_EQ(autopilot.turnFilter, 7);
    EXPECT_EQ(c.turnCommand, 1);
}

TEST_F(AutopilotTest, ClampAndFold) {
    autopilot.turnFilter = 100000;            // 87500 >> 2 is far beyond a turn
    EXPECT_EQ(Steer(1, 30).turnCommand, -1);  // 2559, the shorter way round
    autopilot.turnFilter = -100000;
    EXPECT_EQ(Steer(1, 30).turnCommand, 1);
    autopilot.turnFilter = 6400;  // 5600 after the decay: 1400
    EXPECT_EQ(Steer(1, 30).turnCommand, 1400 - 2560);
}

// Hills lie in the rows north of the camera (smaller y), which the +I ray
// (heading + I, -sin < 0) crosses.
struct Steering : AutopilotTest {
    Steering() {
        for (int32_t y = 0; y < 32; ++y) {
            for (int32_t x = 0; x < 64; ++x) world.Height(x, y) = 100;
        }
        camera.positionX = 10 * 1024;
        camera.positionY = 40 * 1024;
        camera.heading = 0;
    }
};

TEST_F(Steering, TowardHillsOrValleys) {
    EXPECT_GT(Steer(1, 200).turnCommand, 0);
    ResetFilters();
    EXPECT_LT(Steer(-1, 200).turnCommand, 0);
}

TEST_F(Steering, IntensityAboveAQuarterTurnSamplesAtAQuarterTurn) {
    const int32_t quarter = Steer(1, 640).turnCommand;
    const int32_t filter = autopilot.turnFilter;
    ResetFilters();
    EXPECT_EQ(Steer(1, 5000).turnCommand, quarter);
    EXPECT_EQ(autopilot.turnFilter, filter);
    ResetFilters();
    Steer(1, 600);
    EXPECT_NE(autopilot.turnFilter, filter);
}

// The rays the plain way: positions reduced with a modulo at every sample.
int32_t ReferenceRaySum(const SkyWorld& w, const CameraPose& camera, int32_t direction) {
    const int64_t limit = static_cast<int64_t>(w.mapSide) << 10;
    int32_t sum = 0;
    for (int i = 1; i <= 10; ++i) {
        const int64_t sx =
            ((camera.positionX + w.cosTable[direction] * 4 * i) % limit + limit) % limit;
        const int64_t sy =
            ((camera.positionY + w.sinTable[direction] * 4 * i) % limit + limit) % limit;
        sum += w.heights[static_cast<size_t>((sy >> 10) * w.mapSide + (sx >> 10))];
    }
    return sum;
}

TEST_F(AutopilotTest, RaysWrapAcrossTheEdges) {
    uint32_t state = 5;
    for (int32_t& h : world.heights) h = LcgStep(state) % 300;
    const int32_t cases[][4] = {
        {1, 1, 300, 150}, {63, 62, 1500, 200}, {0, 0, 2000, 640}, {40, 3, 2559, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c[0] << "," << c[1] << " heading " << c[2]);
        camera.positionX = c[0] * 1024 + 512;
        camera.positionY = c[1] * 1024 + 512;
        camera.heading = c[2];
        autopilot.turnFilter = 0;
        Steer(1, c[3]);
        const int32_t minus = ReferenceRaySum(world, camera, (c[2] - c[3] + 2560) % 2560);
        const int32_t plus = ReferenceRaySum(world, camera, (c[2] + c[3]) % 2560);
        const int32_t input = plus - minus;
        EXPECT_EQ(autopilot.turnFilter, input - (input >> 3));
    }
}

TEST_F(AutopilotTest, HugeHeightsStayDefined) {
    world.heights.assign(world.heights.size(), std::numeric_limits<int32_t>::max());
    for (int32_t y = 0; y < 32; ++y) world.Height(5, y) = std::numeric_limits<int32_t>::min();
    for (int frame = 0; frame < 50; ++frame) {
        const AutopilotCommands c = Steer(frame % 2 ? 1 : -1, 200);
        ASSERT_GE(c.turnCommand, -1280);
        ASSERT_LE(c.turnCommand, 1280);
    }
}

TEST_F(AutopilotTest, WithoutTablesOrLandCommandsAreZero) {
    autopilot.turnFilter = 400;
    const AutopilotCommands noTables =
        autopilot.SteerAutopilot(world.Land(), TrigTables(), camera, 1, 30);
    EXPECT_EQ(noTables.turnCommand, 0);
    EXPECT_EQ(noTables.climbCommand, 0);
    const AutopilotCommands noLand =
        autopilot.SteerAutopilot(Terrain(), world.Trig(), camera, 1, 30);
    EXPECT_EQ(noLand.turnCommand, 0);
    EXPECT_EQ(noLand.climbCommand, 0);
    EXPECT_EQ(autopilot.turnFilter, 400);
    EXPECT_EQ(autopilot.altitudeFilter, 256);
    EXPECT_EQ(autopilot.groundFilter, 512);
}

}  // namespace
