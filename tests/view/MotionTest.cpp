// Camera motion: turning, flying over the wrapping land, ceiling and floor.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "base/Scratch.h"
#include "tests/view/ViewTestSupport.h"

namespace {

struct Motion : testing::Test {
    Motion() : world(512, 384, 64), view(world.MakeView(1)) {
        view->climbRate = 0;
        view->speed = 25;
    }
    ViewWorld world;
    std::unique_ptr<FlightView> view;
};

TEST_F(Motion, HeadingAndBankWrap) {
    view->heading = 1;
    view->headingRate = -3;
    view->speed = 0;
    ASSERT_TRUE(view->Move());
    EXPECT_EQ(view->heading, 2560 - 2);
    view->SetBankAngle(-1);
    EXPECT_EQ(view->bankAngle, 2559);
    view->SetBankAngle(3 * 2560 + 5);
    EXPECT_EQ(view->bankAngle, 5);
    view->SetBankAngle(std::numeric_limits<int32_t>::min());
    EXPECT_GE(view->bankAngle, 0);
    EXPECT_LT(view->bankAngle, 2560);
    view->headingRate = std::numeric_limits<int32_t>::max();
    ASSERT_TRUE(view->Move());
    EXPECT_EQ(view->heading, static_cast<int32_t>((2558 + 2147483647LL) % 2560));
}

TEST_F(Motion, FliesAlongTheHeading) {
    view->positionX = 5000;
    view->positionY = 7000;
    ASSERT_TRUE(view->Move());
    EXPECT_EQ(view->positionX, 6600);
    EXPECT_EQ(view->positionY, 7000);
    view->heading = 640;
    ASSERT_TRUE(view->Move());
    EXPECT_EQ(view->positionX, 6600);
    EXPECT_EQ(view->positionY, 5400);
}

TEST_F(Motion, WrapsAtExactlyTheLimit) {
    view->positionX = view->xLimit - 1600;
    ASSERT_TRUE(view->Move());
    EXPECT_EQ(view->positionX, 0);
    view->heading = 1920;  // three quarters: +y
    view->positionY = view->yLimit - 1600;
    ASSERT_TRUE(view->Move());
    EXPECT_EQ(view->positionY, 0);
    view->heading = 1280;  // -x
    view->positionX = 100;
    ASSERT_TRUE(view->Move());
    EXPECT_EQ(view->positionX, view->xLimit - 1500);
}

TEST_F(Motion, CeilingAndFloor) {
    view->altitude = 5360;
    view->climbRate = 10;
    ASSERT_TRUE(view->Move());
    EXPECT_EQ(view->altitude, 5362);

    world.heights.assign(world.heights.size(), 40);
    view->altitude = 50;
    view->climbRate = -100;
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(view->Move());
        ASSERT_EQ(view->altitude, 45);
    }
    // New, higher land: the camera is lifted at the next Move, in one frame;
    // the floor wins over the ceiling.
    world.heights.assign(world.heights.size(), 6000);
    ASSERT_TRUE(view->Move());
    EXPECT_EQ(view->altitude, 6005);
    // Heights of an aborted synthesis stay defined.
    world.heights.assign(world.heights.size(), std::numeric_limits<int32_t>::max());
    ASSERT_TRUE(view->Move());
    EXPECT_EQ(view->altitude, std::numeric_limits<int32_t>::max());
}

TEST_F(Motion, AbsurdSpeedsStayOnTheMap) {
    view->speed = std::numeric_limits<int32_t>::max();
    view->heading = 100;
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(view->Move());
        ASSERT_GE(view->positionX, 0);
        ASSERT_LT(view->positionX, view->xLimit);
        ASSERT_GE(view->positionY, 0);
        ASSERT_LT(view->positionY, view->yLimit);
    }
}

TEST_F(Motion, RetriesTheTablesAndStaysStillWhileTheyFail) {
    view->buffersReady = false;
    view->positionX = 3000;
    scratch::FailAllocationsAfter(2);
    EXPECT_FALSE(view->Move());
    scratch::FailAllocationsAfter(-1);
    EXPECT_EQ(view->positionX, 3000);
    EXPECT_FALSE(view->CanRender());
    EXPECT_TRUE(view->Move());
    EXPECT_EQ(view->positionX, 4600);
    EXPECT_TRUE(view->CanRender());
}

}  // namespace
