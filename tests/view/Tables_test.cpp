// Lookup tables, sizes, view distance and random numbers of the FlightView.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "land/Scratch.h"
#include "land/Units.h"
#include "tests/view/ViewTestSupport.h"

namespace {

TEST(Tables, DiagonalAndAngleUnits) {
    ViewWorld small(512, 384, 64);
    auto view = small.MakeView();
    ASSERT_TRUE(view->buffersReady);
    EXPECT_EQ(view->diagonal, 643);
    EXPECT_EQ(view->angleUnits, 2560);
    EXPECT_EQ(view->halfFrameWidth, 256);
    EXPECT_EQ(view->halfFrameHeight, 192);
    EXPECT_EQ(view->xLimit, 64 << 10);
    EXPECT_EQ(view->yLimit, 64 << 10);

    ViewWorld large(1024, 768, 64);
    auto wide = large.MakeView();
    ASSERT_TRUE(wide->buffersReady);
    EXPECT_EQ(wide->diagonal, 1283);
    EXPECT_EQ(wide->angleUnits, 2566);
}

TEST(Tables, RayStepsHorizonAndDepth) {
    ViewWorld world(512, 384, 64);
    auto view = world.MakeView();
    EXPECT_EQ(view->rayStepTable[0], 726758);
    EXPECT_EQ(view->rayStepTable[321], 512000);
    EXPECT_EQ(view->rayStepTable[642], 724968);
    EXPECT_EQ(view->horizonRow, 321);
    EXPECT_EQ(view->maxRayDepth, 511488000);
}

TEST(Tables, DepthScales) {
    ViewWorld world(512, 384, 64);
    auto view = world.MakeView();
    ASSERT_EQ(view->viewDistance, 1000);
    EXPECT_EQ(view->depthScale[0], 400000);
    EXPECT_EQ(view->depthScale[1], 200000);
    EXPECT_EQ(view->depthScale[2], 133333);
    EXPECT_EQ(view->depthScale[999], 400);
    EXPECT_EQ(view->depthScaleInverse[0], 2);
    EXPECT_EQ(view->depthScaleInverse[1], 5);
    EXPECT_EQ(view->depthScaleInverse[2], 7);
    EXPECT_EQ(view->depthScaleInverse[999], 2621);
}

TEST(Tables, BankEntries) {
    ViewWorld world(512, 384, 64);
    auto view = world.MakeView();
    struct Expected {
        int32_t angle, startX, startY, edgeSkip;
    };
    const Expected cases[] = {{0, 591360, -132607, 65},
                              {64, 638807, -77054, 39},
                              {640, 591359, 525824, 129},
                              {1280, -67072, 525824, 65}};
    for (const Expected& e : cases) {
        SCOPED_TRACE(e.angle);
        EXPECT_EQ(view->bankTable[e.angle].startX, e.startX);
        EXPECT_EQ(view->bankTable[e.angle].startY, e.startY);
        EXPECT_EQ(view->bankTable[e.angle].edgeSkip, e.edgeSkip);
    }
}

TEST(Tables, TrigonometryTruncatesTowardZero) {
    ViewWorld world(512, 384, 64);
    auto view = world.MakeView();
    EXPECT_EQ(view->cosTable[0], 1024);
    EXPECT_EQ(view->sinTable[0], 0);
    EXPECT_EQ(view->cosTable[1], 1023);
    EXPECT_EQ(view->sinTable[1], -2);
    EXPECT_EQ(view->cosTable[640], 0);
    EXPECT_EQ(view->sinTable[640], -1024);
    EXPECT_EQ(view->cosTable[1280], -1024);
    EXPECT_EQ(view->sinTable[1280], 0);
}

}  // namespace
