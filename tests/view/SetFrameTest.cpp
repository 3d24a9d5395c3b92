// A view moved to another frame (a resized window): the same pictures as a
// fresh view of that size with the same seed, camera and objects, and no
// trace of the old frame when the new tables cannot be had.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "base/Scratch.h"
#include "tests/view/CameraPath.h"
#include "tests/view/RenderTestSupport.h"

namespace {

struct Size {
    int32_t width, height;
};

constexpr uint32_t kSeed = 4321;
constexpr int32_t kSide = 256;
constexpr int32_t kSlots = 8;

// Synthetic land shared by every view of a test.
struct Land {
    Land() : heights(kSide * kSide), colours(kSide * kSide) {
        rendertest::FillSyntheticLand(kSide, 99, heights.data(), colours.data());
    }
    std::unique_ptr<FlightView> MakeView(std::vector<uint32_t>& frame, Size size) {
        frame.assign(static_cast<size_t>(size.width) * size.height, 0);
        auto view = std::make_unique<FlightView>(frame.data(), size.width, size.height,
                                                 heights.data(), kSide, kSide, colours.data(),
                                                 kSide, kSide, kSlots, 8, kSeed);
        view->waterLevel = 25;
        return view;
    }
    std::vector<int32_t> heights;
    std::vector<uint32_t> colours;
};

// Renders the path's next frame on both views over the same previous content.
void StepBoth(CameraPath& a, FlightView& va, CameraPath& b, FlightView& vb, uint32_t pattern) {
    a.Step(va);
    b.Step(vb);
    ASSERT_EQ(va.frameWidth, vb.frameWidth);
    const size_t pixels = static_cast<size_t>(va.frameWidth) * va.frameHeight;
    std::vector<uint32_t> background(pixels);
    rendertest::FillPattern(background, pattern);
    std::copy(background.begin(), background.end(), va.frame);
    std::copy(background.begin(), background.end(), vb.frame);
    // Both steer too, so that the autopilots' filters must agree as well.
    va.SteerAutopilot(-1, 30);
    vb.SteerAutopilot(-1, 30);
    va.Render();
    vb.Render();
}

void ExpectSameState(const FlightView& a, const FlightView& b) {
    EXPECT_EQ(a.angleUnits, b.angleUnits);
    EXPECT_EQ(a.diagonal, b.diagonal);
    EXPECT_EQ(a.autopilot.altitudeFilter, b.autopilot.altitudeFilter);
    EXPECT_EQ(a.autopilot.groundFilter, b.autopilot.groundFilter);
    EXPECT_EQ(a.autopilot.turnFilter, b.autopilot.turnFilter);
    EXPECT_EQ(a.randomState, b.randomState);
    for (int32_t slot = 0; slot < kSlots; ++slot) {
        EXPECT_EQ(a.objects.slots[slot].positionX, b.objects.slots[slot].positionX) << slot;
        EXPECT_EQ(a.objects.slots[slot].positionY, b.objects.slots[slot].positionY) << slot;
        EXPECT_EQ(a.objects.slots[slot].altitude, b.objects.slots[slot].altitude) << slot;
    }
}

TEST(SetFrame, MovedViewDrawsWhatAFreshViewDraws) {
    // Sizes whose diagonal keeps angleUnits at 2560 (aliasing rows and not,
    // larger and smaller, and back).
    const Size sizes[] = {{512, 384}, {640, 480}, {500, 375}, {1024, 600}, {96, 64}, {512, 384}};
    Land land;
    std::vector<uint32_t> frames[2];
    auto moved = land.MakeView(frames[0], sizes[0]);
    CameraPath movedPath;
    movedPath.Start(*moved);
    int32_t current = 0;
    for (size_t i = 1; i < sizeof sizes / sizeof sizes[0]; ++i) {
        const Size size = sizes[i];
        SCOPED_TRACE(testing::Message() << size.width << "x" << size.height);
        // A fresh view at the new size, flown over the same frames so far
        // (its objects and autopilot then stand where the moved view's do).
        std::vector<uint32_t> freshFrame;
        auto fresh = land.MakeView(freshFrame, size);
        CameraPath freshPath;
        freshPath.Start(*fresh);
        while (freshPath.frame < movedPath.frame) {
            freshPath.Step(*fresh);
            fresh->SteerAutopilot(-1, 30);
            fresh->Render();
        }
        // The old frame goes away as a resize's old bitmap would.
        std::vector<uint32_t>& next = frames[1 - current];
        next.assign(static_cast<size_t>(size.width) * size.height, 0);
        uint32_t* const sky = moved->sky.pixels;
        ASSERT_TRUE(moved->SetFrame(next.data(), size.width, size.height));
        frames[current] = std::vector<uint32_t>();
        current = 1 - current;
        EXPECT_EQ(moved->sky.pixels, sky);  // the sky is kept, not rebuilt
        ASSERT_TRUE(moved->CanRender());
        ASSERT_EQ(moved->angleUnits, 2560);
        for (int32_t f = 0; f < 6; ++f) {
            StepBoth(movedPath, *moved, freshPath, *fresh, static_cast<uint32_t>(f));
            ASSERT_TRUE(next == freshFrame) << "frame " << movedPath.frame;
        }
        ExpectSameState(*moved, *fresh);
        // And the reference renderer draws the moved view's frame too.
        const rendertest::Mismatch m = rendertest::CompareWithReference(*moved, 7);
        EXPECT_EQ(m.count, 0) << "first at " << m.first;
    }
}

TEST(SetFrame, FailedSetUpLeavesTheViewNotRenderableOnTheNewFrame) {
    Land land;
    std::vector<uint32_t> first;
    auto view = land.MakeView(first, {512, 384});
    CameraPath path;
    path.Start(*view);
    path.Step(*view);
    view->Render();  // obtains the padded copy of a 512-wide frame
    ASSERT_NE(view->paddedFrame, nullptr);
    // The six tables, each in turn.
    for (int32_t n = 0; n < 6; ++n) {
        SCOPED_TRACE(n);
        auto old = std::make_unique<std::vector<uint32_t>>(640 * 480, 0x0BADF00Du);
        std::vector<uint32_t> next(640 * 480, 0x12345678u);
        if (n > 0) {
            ASSERT_TRUE(view->SetFrame(old->data(), 640, 480));
        }
        scratch::FailAllocationsAfter(n);
        EXPECT_FALSE(view->SetFrame(next.data(), 640, 480));
        scratch::FailAllocationsAfter(-1);
        old.reset();  // the sanitizer build catches any later use
        EXPECT_EQ(view->frame, next.data());
        EXPECT_EQ(view->frameWidth, 640);
        EXPECT_FALSE(view->buffersReady);
        EXPECT_FALSE(view->CanRender());
        view->Render();
        RenderLandscape(*view);
        for (uint32_t pixel : next) ASSERT_EQ(pixel, 0x12345678u);
        // The next Move sets the tables up again and the view draws.
        EXPECT_TRUE(view->Move());
        EXPECT_TRUE(view->CanRender());
        view->Render();
        int32_t painted = 0;
        for (uint32_t pixel : next) painted += pixel != 0x12345678u;
        EXPECT_GT(painted, 640 * 480 / 2);
        // Leave the view on a frame that outlives this round.
        ASSERT_TRUE(view->SetFrame(first.data(), 512, 384));
    }
}

TEST(SetFrame, SizesTheViewCannotDrawLeaveItNotRenderable) {
    Land land;
    std::vector<uint32_t> frame;
    auto view = land.MakeView(frame, {512, 384});
    std::vector<uint32_t> other(4, 0x12345678u);
    EXPECT_FALSE(view->SetFrame(other.data(), 0, 4));
    EXPECT_FALSE(view->CanRender());
    view->Render();
    RenderLandscape(*view);  // tables of the old size are not used
    EXPECT_FALSE(view->SetFrame(nullptr, 2, 2));
    EXPECT_FALSE(view->Move());
    for (uint32_t pixel : other) EXPECT_EQ(pixel, 0x12345678u);
    EXPECT_TRUE(view->SetFrame(other.data(), 2, 2));
    EXPECT_TRUE(view->CanRender());
}

}  // namespace
