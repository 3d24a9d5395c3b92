// Lookup tables, sizes, view distance and random numbers of the FlightView.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "base/PortableMath.h"
#include "base/Scratch.h"
#include "base/Units.h"
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

namespace {

// The ray step of column i the plain way, in 64 bits so that the wide
// frames' outermost columns can be compared with the saturated table.
int64_t ReferenceRayStep(int32_t baseStep, int32_t i, int32_t diagonal, int32_t angleUnits) {
    const double pi = 3.14159265358979323846;
    const double angle =
        static_cast<double>(i) * 2.0 * pi / angleUnits - diagonal * pi / angleUnits;
    const double c = PortableCos(angle);
    if (c <= 0.0) return std::numeric_limits<int64_t>::max();
    const double value = static_cast<double>(baseStep) * 1024.0 / c + 0.5;
    if (value >= 9.2e18) return std::numeric_limits<int64_t>::max();
    return static_cast<int64_t>(value);
}

void ExpectTablesMatchReference(const FlightView& view) {
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    int32_t wrongColumn = -1;
    for (int32_t i = 0; i < view.diagonal && wrongColumn < 0; ++i) {
        const int64_t expected = ReferenceRayStep(view.baseStep, i, view.diagonal, view.angleUnits);
        if (view.rayStepTable[i] != (expected > kMax ? kMax : expected)) wrongColumn = i;
    }
    ASSERT_EQ(wrongColumn, -1);
    const int64_t depth =
        static_cast<int64_t>(view.rayStepTable[view.diagonal >> 1]) * (view.viewDistance - 1);
    ASSERT_EQ(view.maxRayDepth, depth > kMax ? kMax : depth);
    // The renderer never reaches column diagonal, and draws some columns.
    int32_t wrongBank = -1;
    for (int32_t j = 0; j < view.angleUnits && wrongBank < 0; ++j) {
        const int32_t skip = view.bankTable[j].edgeSkip;
        if (skip < 1 || 2 * skip >= view.diagonal) wrongBank = j;
    }
    ASSERT_EQ(wrongBank, -1);
}

TEST(Tables, RayStepsMatchTheDirectFormula) {
    ViewWorld world(512, 384, 64);
    auto view = world.MakeView();
    ExpectTablesMatchReference(*view);
}

// "Output Width" 3000 on a 1920 x 1080 client: the outermost columns look
// nearly 90 degrees aside and their steps no longer fit in 32 bits.
TEST(Tables, VeryWideFrameSaturatesOuterSteps) {
    ViewWorld world(3000, 1687, 64);
    auto view = world.MakeView();
    ASSERT_TRUE(view->buffersReady);
    EXPECT_EQ(view->diagonal, 3444);
    EXPECT_EQ(view->angleUnits, 2 * 3444);
    EXPECT_EQ(view->rayStepTable[0], std::numeric_limits<int32_t>::max());
    EXPECT_EQ(view->rayStepTable[view->diagonal >> 1], 512000);
    ExpectTablesMatchReference(*view);
}

// "Output Width" across its valid range (sampled, every width near the top)
// on typical clients, the frame height as the frame loop derives it: the
// tables stay exact where they fit, and the sanitizer build checks that
// nothing overflows on the way.
TEST(Tables, OutputWidthsOnCommonClients) {
    ViewWorld world(128, 96, 64);
    auto view = world.MakeView(0);
    const int32_t clients[][2] = {
        {1920, 1080}, {1024, 768}, {1280, 1024}, {152, 112}, {1080, 1920}};
    for (const auto& client : clients) {
        for (int32_t width = 128; width <= 3000; width += (width < 2980 ? 31 : 1)) {
            SCOPED_TRACE(testing::Message() << width << " on " << client[0] << "x" << client[1]);
            view->frameWidth = width;
            view->frameHeight =
                static_cast<int32_t>(static_cast<double>(width) / client[0] * client[1]);
            view->angleUnits = kDefaultAngleUnits;  // as a fresh view has it
            ASSERT_TRUE(view->SetUpBuffers());
            ASSERT_EQ(view->rayStepTable[view->diagonal >> 1], 512000);
            ASSERT_GE(view->angleUnits, 2 * view->diagonal);
            ExpectTablesMatchReference(*view);
        }
    }
}

TEST(Tables, AngleUnitsAreNeverLowered) {
    ViewWorld world(1024, 768, 64);
    auto view = world.MakeView(0);
    ASSERT_EQ(view->angleUnits, 2566);
    view->frameWidth = 512;
    view->frameHeight = 384;
    ASSERT_TRUE(view->SetUpBuffers());
    EXPECT_EQ(view->diagonal, 643);
    EXPECT_EQ(view->angleUnits, 2566);
}

TEST(Tables, BadSizesLeaveTheViewUnready) {
    ViewWorld world(512, 384, 64);
    auto view = world.MakeView();
    ASSERT_TRUE(view->CanRender());
    view->frameHeight = 0;
    EXPECT_FALSE(view->SetUpBuffers());
    EXPECT_FALSE(view->buffersReady);
    EXPECT_FALSE(view->CanRender());
    view->frameHeight = 384;
    EXPECT_TRUE(view->SetUpBuffers());
    EXPECT_TRUE(view->CanRender());

    // The renderer reads both maps with one stride.
    view->colourMapWidth = 32;
    EXPECT_FALSE(view->SetUpBuffers());
    view->colourMapWidth = 64;
    // Sides whose 32-bit table arithmetic would overflow.
    view->frameWidth = 40000;
    EXPECT_FALSE(view->SetUpBuffers());
    view->frameWidth = 512;
    EXPECT_TRUE(view->SetUpBuffers());
    // Cell indices of maps with more than 2^31 cells would overflow 32 bits
    // (the sizes only; the maps are not read).
    view->heightMapWidth = view->colourMapWidth = 65536;
    view->heightMapHeight = view->colourMapHeight = 32768;
    EXPECT_FALSE(view->SetUpBuffers());
    view->heightMapHeight = view->colourMapHeight = 32767;
    EXPECT_TRUE(view->SetUpBuffers());
}

TEST(ViewDistance, ClampsAndCaps) {
    ViewWorld world(512, 384, 64);
    auto withObjects = world.MakeView(7);
    EXPECT_TRUE(withObjects->SetViewDistance(30));
    EXPECT_EQ(withObjects->viewDistance, 40);
    EXPECT_EQ(withObjects->maxRayDepth, 512000 * 39);
    EXPECT_TRUE(withObjects->SetViewDistance(4150));
    EXPECT_EQ(withObjects->viewDistance, 4150);
    EXPECT_TRUE(withObjects->SetViewDistance(5000));
    EXPECT_EQ(withObjects->viewDistance, 4140);
    EXPECT_EQ(withObjects->depthScale[4139], 400000 / 4140);

    // Without objects there is no upper limit.
    auto without = world.MakeView(0);
    EXPECT_TRUE(without->SetViewDistance(5000));
    EXPECT_EQ(without->viewDistance, 5000);
}

TEST(ViewDistance, CurrentDistanceRebuildsNothing) {
    ViewWorld world(512, 384, 64);
    auto view = world.MakeView();
    scratch::FailAllocationsAfter(0);
    EXPECT_TRUE(view->SetViewDistance(1000));
    scratch::FailAllocationsAfter(-1);
    EXPECT_TRUE(view->buffersReady);
}

TEST(ViewDistance, FailureRestoresTheLastGoodDistance) {
    ViewWorld world(512, 384, 64);
    auto view = world.MakeView(0);
    EXPECT_TRUE(view->SetViewDistance(2000));
    EXPECT_EQ(view->lastGoodViewDistance, 2000);
    // Too many depth entries to allocate.
    EXPECT_FALSE(view->SetViewDistance(1 << 30));
    EXPECT_EQ(view->viewDistance, 2000);
    EXPECT_TRUE(view->buffersReady);
    EXPECT_EQ(view->maxRayDepth, 512000 * 1999);
}

// Long view distances without objects: the ray depth limit saturates, and
// the depth scale runs out at depthScaleNumerator entries.
TEST(ViewDistance, LongDistancesStayDefined) {
    ViewWorld world(512, 384, 64);
    auto view = world.MakeView(0);
    EXPECT_TRUE(view->SetViewDistance(4195));
    EXPECT_EQ(view->maxRayDepth, 512000 * 4194);
    EXPECT_TRUE(view->SetViewDistance(4196));
    EXPECT_EQ(view->maxRayDepth, std::numeric_limits<int32_t>::max());
    EXPECT_TRUE(view->SetViewDistance(400010));
    EXPECT_EQ(view->depthScale[399999], 1);
    EXPECT_EQ(view->depthScaleInverse[399999], 1048576);
    EXPECT_EQ(view->depthScale[400009], 0);
    EXPECT_EQ(view->depthScaleInverse[400009], 1048576);
}

TEST(Random, NextRandomIsTheLcgStep) {
    ViewWorld world(512, 384, 64);
    auto view = world.MakeView(0);
    view->randomState = 1;
    EXPECT_EQ(view->NextRandom(), static_cast<int32_t>((214013u + 2531011u) >> 12));
    EXPECT_EQ(view->randomState, 214013u + 2531011u);
    view->randomState = 0xFFFFFFFFu;
    const uint32_t next = 0xFFFFFFFFu * 214013u + 2531011u;
    EXPECT_EQ(view->NextRandom(), static_cast<int32_t>(next >> 12));
    for (int i = 0; i < 1000; ++i) {
        const int32_t r = view->NextRandom();
        ASSERT_GE(r, 0);
        ASSERT_LT(r, 1 << 20);
    }
}

TEST(Construction, DefaultsAfterConstruction) {
    ViewWorld world(512, 384, 64);
    auto view = world.MakeView(7, 99);
    EXPECT_EQ(view->waterLevel, 0);
    EXPECT_EQ(view->stepGrowthThreshold, 255);
    EXPECT_EQ(view->climbRate, -1);
    EXPECT_EQ(view->speed, 50);
    EXPECT_EQ(view->groundClearance, 5);
    EXPECT_EQ(view->altitude, 173);
    EXPECT_EQ(view->autopilot.terrainClearance, 15);
    EXPECT_EQ(view->sky.enabled, 1);
    EXPECT_EQ(view->objects.slotCount, 7);
    EXPECT_EQ(view->viewDistance, 1000);
    EXPECT_EQ(view->baseStep, 500);
    EXPECT_EQ(view->depthScaleNumerator, 400000);
    EXPECT_EQ(view->frame, world.frame.data());
    EXPECT_EQ(view->heightMap, world.heights.data());
    EXPECT_EQ(view->colourMap, world.colours.data());
    EXPECT_TRUE(view->CanRender());
}

TEST(Construction, DestructionLeavesMapsAndFrameAlone) {
    ViewWorld world(512, 384, 64, 33);
    world.frame.assign(world.frame.size(), 0xDEADBEEFu);
    {
        auto view = world.MakeView();
        ASSERT_TRUE(view->CanRender());
    }
    for (uint32_t pixel : world.frame) ASSERT_EQ(pixel, 0xDEADBEEFu);
    for (int32_t height : world.heights) ASSERT_EQ(height, 33);
    for (uint32_t colour : world.colours) ASSERT_EQ(colour, 0x00406080u);
}

TEST(Construction, ResetDefaultsReleasesWhatTheViewOwns) {
    ViewWorld world(512, 384, 64);
    auto view = world.MakeView();
    view->ResetDefaults();  // the sanitizer build checks that nothing leaks
    EXPECT_EQ(view->sky.pixels, nullptr);
    EXPECT_EQ(view->objects.slots, nullptr);
    EXPECT_EQ(view->objects.cellMap, nullptr);
    EXPECT_EQ(view->cosTable, nullptr);
    EXPECT_FALSE(view->CanRender());
}

}  // namespace

namespace {

// Every table entry in one number, for comparing builds and platforms. The
// values were checked against the direct formulas above and the known
// entries, and agree between the native and the Windows x86-64 build.
uint64_t TablesChecksum(const FlightView& view) {
    std::vector<uint32_t> words;
    auto add = [&words](const int32_t* table, int32_t count) {
        for (int32_t i = 0; i < count; ++i) words.push_back(static_cast<uint32_t>(table[i]));
    };
    add(view.cosTable, view.angleUnits);
    add(view.sinTable, view.angleUnits);
    add(view.rayStepTable, view.diagonal);
    add(view.depthScale, view.viewDistance);
    add(view.depthScaleInverse, view.viewDistance);
    for (int32_t j = 0; j < view.angleUnits; ++j) {
        words.push_back(static_cast<uint32_t>(view.bankTable[j].startX));
        words.push_back(static_cast<uint32_t>(view.bankTable[j].startY));
        words.push_back(view.bankTable[j].edgeSkip);
    }
    return Fnv1a64(words.data(), words.size());
}

TEST(Tables, GoldenChecksums) {
    ViewWorld common(512, 384, 64);
    EXPECT_EQ(TablesChecksum(*common.MakeView(0)), 0xa93b68ced42f1ddaull);
    ViewWorld wide(3000, 1687, 64);
    EXPECT_EQ(TablesChecksum(*wide.MakeView(0)), 0xd1484088779e961cull);
}

}  // namespace
