// Golden frames: land made by the new-land pipeline, flown as the frame loop
// flies it (autopilot, bank from the last two turn commands, horizon from
// the tilt and the climb), drawn by Render. The checksums (FNV-1a 64 of the
// frame words) were pinned after looking at the frames: land with slope
// shading and shadows, water mirroring the starry, cloudy sky, rings gliding
// above the ground, banking in turns, a raised and a lowered horizon. At
// every checkpoint the plain reference renderer draws the same frame.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "land/LandGenerator.h"
#include "land/LandPipeline.h"
#include "tests/view/RenderTestSupport.h"

namespace {

struct Checkpoint {
    int32_t frame;
    uint64_t checksum;
    int32_t bankAngle;  // as flown, to show the frame is banked as intended
};

struct GoldenFlight {
    int32_t width, height;
    int32_t landSize;
    int32_t objectCount;
    int32_t tilt;
    uint32_t landSeed, viewSeed;
    std::vector<Checkpoint> checkpoints;
};

void Fly(const GoldenFlight& flight) {
    const int32_t side = 1 << flight.landSize;
    ViewWorld world(flight.width, flight.height, side);
    LandGenerator land(side, side, world.heights.data(), world.colours.data(), 0, 255, nullptr);
    ASSERT_EQ(RunLandPipeline(land, flight.landSeed, nullptr), 13);
    auto view = world.MakeView(flight.objectCount + 1, flight.viewSeed);
    FlightView& v = *view;
    ASSERT_TRUE(v.CanRender());
    // What the frame loop and the new-land pipeline set.
    v.speed = 25;
    v.randomState = flight.landSeed;
    v.waterLevel = kLandWaterLevel;
    FrameSteering steering(flight.tilt, flight.width);
    size_t next = 0;
    for (int32_t frame = 1; next < flight.checkpoints.size(); ++frame) {
        steering.Step(v);
        v.Render();
        const Checkpoint& checkpoint = flight.checkpoints[next];
        if (frame != checkpoint.frame) continue;
        ++next;
        EXPECT_EQ(Fnv1a64(world.frame.data(), world.frame.size()), checkpoint.checksum)
            << "frame " << frame << " of land " << flight.landSeed;
        EXPECT_EQ(v.bankAngle, checkpoint.bankAngle) << "frame " << frame;
        // The reference draws the same picture over the same previous
        // content; the flight then goes on from the production frame.
        const std::vector<uint32_t> drawn = world.frame;
        RenderReferenceScene(v);
        EXPECT_TRUE(world.frame == drawn) << "frame " << frame;
        world.frame = drawn;
    }
}

TEST(RenderGolden, DefaultFrameOverWaterAndHills) {
    // 512 x 384 (Output Width 512 on 1024 x 768), 6 rings, tilt 0. Frame 180
    // looks over a lake mirroring the stars.
    Fly({512,
         384,
         9,
         6,
         0,
         1234,
         99,
         {{60, 0xc22be16d14c0c676ull, 2548},
          {120, 0x1e30b61a5c1bb48cull, 6},
          {180, 0x67452af40ab82441ull, 76}}});
}

TEST(RenderGolden, ManyRingsRaisedTilt) {
    // Tilt 64 puts the horizon low: mostly sky, 40 rings over the hills.
    Fly({400,
         300,
         8,
         40,
         64,
         777,
         5,
         {{40, 0x6ccd775f43d70739ull, 2474}, {80, 0xa32dc0a4d182e030ull, 2500}}});
}

TEST(RenderGolden, WideFrameLoweredTilt) {
    // 512 x 288 (Output Width 512 on 1920 x 1080), tilt -64: mostly land.
    Fly({512, 288, 8, 12, -64, 31337, 2024, {{160, 0xb33ce77d147e5cb4ull, 49}}});
}

}  // namespace
