// The renderer on several threads against one thread and against the plain
// reference renderer: the golden paths (GoldenPaths.h) at 1, 2, 3 and 8 threads give the
// pinned checksums and, frame by frame, the single-threaded frame; random
// small scenes (frame sizes, seeds, banks, headings, horizon rows, 0 to 255
// objects) give the reference's frame.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/ThreadPool.h"
#include "tests/view/GoldenPaths.h"
#include "tests/view/RenderTestSupport.h"
#include "view/Render.h"

namespace {

#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadSanitizer = true;
#else
constexpr bool kThreadSanitizer = false;
#endif
// Fewer cases where the sanitizers make every frame several times slower.
constexpr bool kSlowBuild = kSanitizedBuild || kThreadSanitizer;

// Flies a golden path with the view's renderer on `threads` threads; every
// few frames the same scene is drawn again on one thread over the same
// previous content and must match.
void FlyGolden(const GoldenPath& path, int32_t threads) {
    GoldenFlight flight(path);
    FlightView& v = *flight.view;
    ASSERT_TRUE(v.CanRender());
    ThreadPool pool(threads);
    ASSERT_EQ(pool.size(), threads);
    v.threadPool = &pool;
    size_t checkpoints = path.checkpoints.size();
    // Under the sanitizers the paths stop after frame 40.
    while (kSlowBuild && checkpoints > 0 && path.checkpoints[checkpoints - 1].frame > 40) {
        --checkpoints;
    }
    std::vector<uint32_t>& frame = flight.world.frame;
    size_t next = 0;
    while (next < checkpoints) {
        flight.camera.Step(v);
        const std::vector<uint32_t> before = frame;
        v.Render();
        const int32_t f = flight.camera.frame;
        if (f % (kSlowBuild ? 20 : 7) == 0) {
            const std::vector<uint32_t> drawn = frame;
            frame = before;
            v.threadPool = nullptr;
            RenderLandscape(v);
            v.threadPool = &pool;
            EXPECT_TRUE(frame == drawn) << "frame " << f << ", " << threads << " threads";
            frame = drawn;
        }
        const GoldenCheckpoint& checkpoint = path.checkpoints[next];
        if (f != checkpoint.frame) continue;
        ++next;
        EXPECT_EQ(Fnv1a64(frame.data(), frame.size()), checkpoint.checksum)
            << path.name << ", frame " << f << ", " << threads << " threads";
    }
}

TEST(RenderThreads, GoldenPathsAtOneTwoThreeAndEightThreads) {
    for (const GoldenPath& path : GoldenPaths()) {
        for (int32_t threads : {1, 2, 3, 8}) {
            // One thread is the plain march, which the other builds test.
            if (kSlowBuild && threads == 1) continue;
            FlyGolden(path, threads);
        }
    }
}

TEST(RenderThreads, RandomScenesMatchThePlainRenderer) {
    std::mt19937 random(20261208u);
    auto uniform = [&random](int32_t low, int32_t high) {
        return std::uniform_int_distribution<int32_t>(low, high)(random);
    };
    ThreadPool pools[] = {ThreadPool(2), ThreadPool(3), ThreadPool(8)};
    const int32_t scenes = kSlowBuild ? 24 : 60;
    for (int32_t scene = 0; scene < scenes; ++scene) {
        const int32_t side = 1 << uniform(6, 8);
        const int32_t width = uniform(1, 3) == 1 ? uniform(1, 160) : uniform(128, 700);
        const int32_t height =
            uniform(1, 3) == 1 ? uniform(1, 200) : width * uniform(40, 110) / 100;
        const int32_t objects = uniform(0, 3) == 0 ? 255 : uniform(0, 40);
        const uint32_t seed = static_cast<uint32_t>(uniform(1, 1 << 30));
        ViewWorld world(width, height < 1 ? 1 : height, side);
        rendertest::FillSyntheticLand(side, seed, world.heights.data(), world.colours.data());
        auto view = world.MakeView(objects + 1, seed);
        FlightView& v = *view;
        ASSERT_TRUE(v.CanRender());
        v.waterLevel = 25 + uniform(-5, 10);
        v.positionX = uniform(0, v.xLimit - 1);
        v.positionY = uniform(0, v.yLimit - 1);
        const int32_t under =
            world.heights[static_cast<size_t>(v.positionY >> 10) * side + (v.positionX >> 10)];
        v.altitude = under + uniform(2, 120);
        // Banks mostly near level, as the autopilot flies, and sometimes any.
        const int32_t bank = uniform(0, 3) == 0 ? uniform(0, v.angleUnits - 1)
                                                : (uniform(-80, 80) + v.angleUnits) % v.angleUnits;
        v.SetBankAngle(bank);
        v.heading = uniform(0, v.angleUnits - 1);
        // Horizon rows of tilts -128 ... 128, and beyond the frame.
        v.horizonRow = v.diagonal / 2 + uniform(-v.diagonal / 2 - 20, v.diagonal / 2 + 20);
        for (int32_t slot = 1; slot < v.objects.slotCount; ++slot) {
            rendertest::PlaceObjectAhead(v, slot, uniform(2, 60), uniform(-8, 8),
                                         v.altitude + uniform(-30, 10));
        }
        v.MoveObjects();
        for (ThreadPool& pool : pools) {
            v.threadPool = &pool;
            const rendertest::Mismatch m = rendertest::CompareWithReference(v, seed);
            EXPECT_EQ(m.count, 0) << "scene " << scene << ": " << width << "x" << height << " side "
                                  << side << " objects " << objects << " bank " << bank << ", "
                                  << pool.size() << " threads, first at " << m.first;
        }
    }
}

TEST(RenderThreads, HeavyBankedFrameWithManyObjects) {
    // A frame wide enough for 8 chunks of many blocks, banked both ways, with
    // every object slot in use ahead of the camera.
    ViewWorld world(1400, 1000, 256);
    rendertest::FillSyntheticLand(256, 77, world.heights.data(), world.colours.data());
    auto view = world.MakeView(256, 77);
    FlightView& v = *view;
    ASSERT_TRUE(v.CanRender());
    v.waterLevel = 25;
    v.positionX = 100 << 10;
    v.positionY = 60 << 10;
    v.altitude = world.heights[60 * 256 + 100] + 30;
    ThreadPool pool(8);
    v.threadPool = &pool;
    for (int32_t bank : {0, 37, v.angleUnits - 37, v.angleUnits / 8}) {
        v.SetBankAngle(bank);
        v.heading = bank * 3 % v.angleUnits;
        v.horizonRow = v.diagonal / 2 + 100;
        for (int32_t slot = 1; slot < v.objects.slotCount; ++slot) {
            rendertest::PlaceObjectAhead(v, slot, 3 + slot % 50, slot % 11 - 5,
                                         v.altitude - 20 + slot % 25);
        }
        v.MoveObjects();
        const rendertest::Mismatch m = rendertest::CompareWithReference(v, 3);
        EXPECT_EQ(m.count, 0) << "bank " << bank << ", first at " << m.first;
    }
}

}  // namespace
