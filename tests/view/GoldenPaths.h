// GoldenPaths.h - the golden frames of the renderer: scripted camera paths
// (tests/view/CameraPath.h) over synthetic land (RenderTestSupport.h), each
// with the checksums (FNV-1a 64 of the frame words) of a few of its frames.
//
// Pinned after every checkpoint frame matched the plain reference renderer
// (tests/view/RenderReference.cpp) and after looking at the frames: rolling
// green and brown land with lakes mirroring the starry, cloudy sky, rings
// crossing land, water and sky, near and far, level and banked frames
// (gently, past a quarter turn and upside down), horizons above and below
// the frame's middle, and the camera crossing both map edges at frame 2.
//
// Used by tests/view/RenderGoldenTest.cpp (one thread) and
// tests/view/RenderThreadsTest.cpp (1, 2, 3 and 8 threads).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tests/view/CameraPath.h"
#include "tests/view/RenderTestSupport.h"

struct GoldenCheckpoint {
    int32_t frame;
    uint64_t checksum;
    int32_t bankAngle;  // as scripted, to show the frame is banked as intended
};

struct GoldenPath {
    const char* name;
    int32_t width, height;
    int32_t side;  // of the map
    int32_t slots;
    int32_t ringsAhead;
    uint32_t landSeed, viewSeed;
    std::vector<GoldenCheckpoint> checkpoints;
};

inline const std::vector<GoldenPath>& GoldenPaths() {
    static const std::vector<GoldenPath> paths = {
        // The saver's default frame (Output Width 512 on 1024 x 768), 6 rings.
        {"default frame",
         512,
         384,
         512,
         7,
         3,
         1234,
         99,
         {{2, 0x43971b7d095c911full, 48},
          {21, 0xf29341a86091a4dcull, 489},
          {56, 0x565e07969aa7eaf2ull, 1304},
          {70, 0x7f43a765ee47373bull, 1630}}},
        // 40 rings, 8 of them kept ahead of the camera.
        {"many rings",
         400,
         300,
         256,
         41,
         8,
         777,
         5,
         {{14, 0x78ac86a4bc187b3full, 326},
          {35, 0x9704955b16dca350ull, 815},
          {53, 0xf1a3cfba484fb2dbull, 80}}},
        // Output Width 512 on 1920 x 1080, 12 rings.
        {"wide frame",
         512,
         288,
         256,
         13,
         4,
         31337,
         2024,
         {{16, 0x710e167298994bdcull, 2504},
          {28, 0x4ed9228b57788477ull, 652},
          {49, 0xc40b72c79ac3af5cull, 1141},
          {56, 0x42ebb0f27d4cd623ull, 1304}}},
    };
    return paths;
}

// A view over the path's land, its camera at the path's start.
struct GoldenFlight {
    explicit GoldenFlight(const GoldenPath& path) : world(path.width, path.height, path.side) {
        rendertest::FillSyntheticLand(path.side, path.landSeed, world.heights.data(),
                                      world.colours.data());
        view = world.MakeView(path.slots, path.viewSeed);
        view->waterLevel = 25;
        // As after a landscape: the march reads the sample map.
        EXPECT_TRUE(view->UpdateSampleMap());
        camera.ringsAhead = path.ringsAhead;
        camera.Start(*view);
    }
    ViewWorld world;
    std::unique_ptr<FlightView> view;
    CameraPath camera;
};
