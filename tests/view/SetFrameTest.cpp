// A view moved to another frame (a resized window): the same pictures as a
// fresh view of that size with the same seed, camera and objects, and no
// trace of the old frame when the new tables cannot be had.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
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

// A frame whose rows are longer than its width: the same pictures as a
// frame with contiguous rows, over the same previous content, and the ends
// of its rows never drawn on. A frame given DrawingStride's rows is drawn
// in place (no padded copy); one whose longer rows still share cache sets
// (200 pixels on rows of 256) goes through the copy, in and out by its rows.
TEST(SetFrame, FramesWithLongerRowsShowTheSamePictures) {
    struct Case {
        Size size;
        int32_t stride;
        bool inPlace;
    };
    const Case cases[] = {{{512, 384}, FlightView::DrawingStride(512), true},
                          {{500, 375}, FlightView::DrawingStride(500), true},
                          {{200, 150}, 256, false}};
    EXPECT_EQ(FlightView::DrawingStride(512), 528);
    EXPECT_EQ(FlightView::DrawingStride(500), 500);
    Land land;
    for (const Case& c : cases) {
        const Size size = c.size;
        SCOPED_TRACE(testing::Message()
                     << size.width << "x" << size.height << " on rows of " << c.stride);
        std::vector<uint32_t> plainFrame, unused;
        auto plain = land.MakeView(plainFrame, size);
        auto strided = land.MakeView(unused, size);
        constexpr uint32_t kMarker = 0x5EEDF00Du;
        std::vector<uint32_t> rows(static_cast<size_t>(c.stride) * size.height, kMarker);
        ASSERT_TRUE(strided->SetFrame(rows.data(), size.width, size.height, c.stride));
        ASSERT_EQ(strided->frameStride, c.stride);
        CameraPath plainPath, stridedPath;
        plainPath.Start(*plain);
        stridedPath.Start(*strided);
        for (int32_t f = 0; f < 8; ++f) {
            plainPath.Step(*plain);
            stridedPath.Step(*strided);
            std::vector<uint32_t> background(plainFrame.size());
            rendertest::FillPattern(background, static_cast<uint32_t>(f));
            plainFrame = background;
            for (int32_t r = 0; r < size.height; ++r) {
                std::copy(background.begin() + static_cast<std::ptrdiff_t>(r) * size.width,
                          background.begin() + static_cast<std::ptrdiff_t>(r + 1) * size.width,
                          rows.begin() + static_cast<std::ptrdiff_t>(r) * c.stride);
            }
            plain->Render();
            strided->Render();
            for (int32_t r = 0; r < size.height; ++r) {
                const auto row = rows.begin() + static_cast<std::ptrdiff_t>(r) * c.stride;
                ASSERT_TRUE(
                    std::equal(row, row + size.width,
                               plainFrame.begin() + static_cast<std::ptrdiff_t>(r) * size.width))
                    << "frame " << f << ", row " << r;
                ASSERT_TRUE(std::all_of(row + size.width, row + c.stride,
                                        [](uint32_t p) { return p == kMarker; }))
                    << "frame " << f << ", row " << r;
            }
        }
        EXPECT_EQ(strided->paddedFrame == nullptr, c.inPlace);
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
