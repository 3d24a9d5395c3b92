// Golden frames: the scripted camera paths of GoldenPaths.h drawn by Render
// on one thread; at every checkpoint the checksum, the bank angle and the
// plain reference renderer's frame over the same previous content.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "tests/view/GoldenPaths.h"

namespace {

TEST(RenderGolden, ScriptedPaths) {
    for (const GoldenPath& path : GoldenPaths()) {
        SCOPED_TRACE(path.name);
        GoldenFlight flight(path);
        FlightView& v = *flight.view;
        ASSERT_TRUE(v.CanRender());
        size_t next = 0;
        while (next < path.checkpoints.size()) {
            flight.camera.Step(v);
            const std::vector<uint32_t> before = flight.world.frame;
            v.Render();
            const GoldenCheckpoint& checkpoint = path.checkpoints[next];
            if (flight.camera.frame != checkpoint.frame) continue;
            ++next;
            const std::vector<uint32_t> drawn = flight.world.frame;
            EXPECT_EQ(Fnv1a64(drawn.data(), drawn.size()), checkpoint.checksum)
                << "frame " << checkpoint.frame;
            EXPECT_EQ(v.bankAngle, checkpoint.bankAngle) << "frame " << checkpoint.frame;
            // The reference draws the same picture over the same previous
            // content (the objects as Render left them).
            flight.world.frame = before;
            RenderReferenceScene(v);
            EXPECT_TRUE(flight.world.frame == drawn) << "frame " << checkpoint.frame;
            flight.world.frame = drawn;
        }
    }
}

}  // namespace
