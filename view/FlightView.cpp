// FlightView.cpp - the view record, its construction and destruction, the
// lookup tables (trigonometry, ray steps, depth scales, bank corners), the
// view distance, the view's random numbers, a new frame, and the hand-overs
// to the sky layer (autopilot, object set).
//
// Tables are rebuilt whole by SetUpBuffers whenever a size or the view
// distance changes; the renderer then works from them with integer
// arithmetic only. All floating point here runs once per set-up, in double
// precision, in a fixed order of operations (the build forbids contraction),
// so the tables are the same bits on every build. Sine and cosine come from
// PortableSin/PortableCos: the C libraries' differ in their last bits, and a
// tiny cosine's sign decides entries such as a bank corner's truncation.
#include "view/FlightView.h"

#include "view/Render.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "base/PortableMath.h"
#include "base/Saturate.h"
#include "base/Scratch.h"
#include "base/Units.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int32_t kInt32Max = std::numeric_limits<int32_t>::max();

// Sizes beyond these would overflow the 32-bit table arithmetic (the sum of
// squares of the frame sides, frameWidth x 512, positions of side << 10);
// the saver uses frames up to 3000 pixels wide and maps up to 4096 cells.
// Maps must also have fewer than 2^31 cells (32-bit cell indices).
constexpr int32_t kMaxFrameSide = 16384;
constexpr int32_t kMaxMapSide = 1 << 16;

}  // namespace

FlightView::FlightView(uint32_t* frame_, int32_t frameWidth_, int32_t frameHeight_,
                       int32_t* heightMap_, int32_t heightMapWidth_, int32_t heightMapHeight_,
                       uint32_t* colourMap_, int32_t colourMapWidth_, int32_t colourMapHeight_,
                       int32_t objectSlots, int32_t skySizeExponent, uint32_t seed)
    : rayStepTable(nullptr),
      cosTable(nullptr),
      sinTable(nullptr),
      depthScale(nullptr),
      depthScaleInverse(nullptr),
      bankTable(nullptr) {
    ResetDefaults();
    frameWidth = frameWidth_;
    frame = frame_;
    heightMapWidth = heightMapWidth_;
    frameHeight = frameHeight_;
    frameStride = frameWidth_;
    heightMap = heightMap_;
    colourMapWidth = colourMapWidth_;
    heightMapHeight = heightMapHeight_;
    colourMap = colourMap_;
    colourMapHeight = colourMapHeight_;
    randomState = seed;
    // Construction always yields the view; a failed part leaves CanRender()
    // false, and Move retries the tables every frame. The sky leaves
    // randomState as it found it, so the objects are placed from the seed.
    sky.BuildSkyTexture(skySizeExponent, randomState);
    SetObjectCount(objectSlots);
    SetUpBuffers();
}

FlightView::~FlightView() {
    ReleaseOwned();
}

void FlightView::ReleaseOwned() {
    FreeArray(sinTable);
    FreeArray(cosTable);
    FreeArray(rayStepTable);
    FreeArray(depthScale);
    FreeArray(depthScaleInverse);
    FreeArray(bankTable);
    sky.Release();
    objects.FreeObjectList();
    DropSampleMap();
    FreeArray(paddedFrame);
    paddedFramePixels = 0;
}

void FlightView::DropSampleMap() {
    objects.AttachSampleMap(nullptr, 0);
    FreeArray(sampleMap);
    sampleMap = nullptr;
    sampleMapCells = 0;
}

bool FlightView::UpdateSampleMap() {
    DropSampleMap();
    if (heightMap == nullptr || heightMapWidth < 1 || heightMapHeight < 1) return false;
    const int64_t cells = static_cast<int64_t>(heightMapWidth) * heightMapHeight;
    // Every height is checked before the memory is asked for: a map that
    // cannot be held in 15 bits is drawn from the heights themselves.
    for (int64_t cell = 0; cell < cells; ++cell) {
        const int32_t h = heightMap[cell];
        if (h < 0 || h > ObjectSet::kSampleHeightMask) return false;
    }
    uint16_t* map = AllocateArrayForOverwrite<uint16_t>(cells);
    if (map == nullptr) return false;
    for (int64_t cell = 0; cell < cells; ++cell) map[cell] = static_cast<uint16_t>(heightMap[cell]);
    sampleMap = map;
    sampleMapCells = cells;
    objects.AttachSampleMap(sampleMap, sampleMapCells);
    return true;
}

void FlightView::ResetDefaults() {
    // Releases what the view owns first, so that resetting a live view
    // leaves nothing behind (the constructor starts with every owned
    // pointer null).
    ReleaseOwned();

    waterLevel = 0;
    stepGrowthThreshold = 255;
    randomState = 0;
    colourMap = nullptr;
    colourMapWidth = 0;
    colourMapHeight = 0;
    heightMap = nullptr;
    heightMapWidth = 0;
    heightMapHeight = 0;
    frame = nullptr;
    frameWidth = 0;
    frameStride = 0;
    frameHeight = 0;
    diagonal = 0;
    headingRate = 0;
    climbRate = -1;
    speed = 50;
    groundClearance = 5;
    horizonRow = 200;
    altitude = 173;
    heading = 0;
    bankAngle = 0;
    positionY = 0;
    positionX = 0;
    depthScaleNumerator = 400000;
    angleUnits = kDefaultAngleUnits;
    viewDistance = 1000;
    baseStep = 500;
    buffersReady = false;
    halfFrameWidth = 0;
    halfFrameHeight = 0;
    yLimit = 0;
    xLimit = 0;
    maxRayDepth = 0;
    turnCommand = 0;
    climbCommand = 0;
    sky.enabled = 0;
    objects.slotCount = 0;
    objects.spriteSizeExponent = 5;
    objects.spriteSideDot = 1;
    objects.objectSpeed = 26;
    objects.streakSpeed = 250;
    autopilot.terrainClearance = 15;
}

bool FlightView::SetUpBuffers() {
    buffersReady = false;
    if (colourMapWidth < 1 || colourMapHeight < 1 || heightMapWidth < 1 || heightMapHeight < 1 ||
        frameWidth < 1 || frameHeight < 1) {
        return false;
    }
    // Beyond the sizes above the 32-bit table arithmetic would overflow;
    // the renderer reads both maps with one stride and one pair of limits,
    // so they must agree.
    if (frameWidth > kMaxFrameSide || frameHeight > kMaxFrameSide || colourMapWidth > kMaxMapSide ||
        colourMapHeight > kMaxMapSide || heightMapWidth != colourMapWidth ||
        heightMapHeight != colourMapHeight) {
        return false;
    }
    if (frame == nullptr || heightMap == nullptr || colourMap == nullptr) return false;
    // Cell indices (row x width + column) are formed in 32 bits.
    if (static_cast<int64_t>(colourMapWidth) * colourMapHeight > kInt32Max) return false;

    const int64_t sumOfSquares = static_cast<int64_t>(frameHeight) * frameHeight +
                                 static_cast<int64_t>(frameWidth) * frameWidth;
    diagonal = static_cast<int32_t>(std::sqrt(static_cast<double>(sumOfSquares)) + 3.0);
    if (angleUnits < 2 * diagonal) angleUnits = 2 * diagonal;

    yLimit = colourMapHeight << kPositionShift;
    xLimit = colourMapWidth << kPositionShift;
    halfFrameWidth = frameWidth >> 1;
    halfFrameHeight = frameHeight >> 1;

    FreeArray(sinTable);
    FreeArray(cosTable);
    FreeArray(rayStepTable);
    FreeArray(depthScale);
    FreeArray(depthScaleInverse);
    FreeArray(bankTable);

    sinTable = AllocateArray<int32_t>(angleUnits);
    if (sinTable == nullptr) return false;
    cosTable = AllocateArray<int32_t>(angleUnits);
    if (cosTable == nullptr) return false;
    rayStepTable = AllocateArray<int32_t>(diagonal);
    if (rayStepTable == nullptr) return false;
    depthScale = AllocateArray<int32_t>(viewDistance);
    if (depthScale == nullptr) return false;
    depthScaleInverse = AllocateArray<int32_t>(viewDistance);
    if (depthScaleInverse == nullptr) return false;
    bankTable = AllocateArray<BankEntry>(angleUnits);
    if (bankTable == nullptr) return false;

    if (!BuildTables()) return false;
    buffersReady = true;
    return true;
}

bool FlightView::BuildTables() {
    int32_t n = angleUnits;
    if (diagonal > n) n = diagonal;
    if (viewDistance > n) n = viewDistance;

    const double halfDiagonalScaled = 512.0 * diagonal;
    const int32_t frameCornerX = frameWidth << 9;
    const int32_t frameCornerY = frameHeight << 9;
    const int32_t g = diagonal * 512;

    for (int32_t j = 0; j < n; ++j) {
        if (j < angleUnits) {
            const double a = static_cast<double>(angleUnits - j) * 2.0 * kPi / angleUnits;
            const double c = PortableCos(a);
            const double s = PortableSin(a);
            cosTable[j] = static_cast<int32_t>(c * 1024.0);
            sinTable[j] = static_cast<int32_t>(s * 1024.0);

            bankTable[j].startX =
                static_cast<int32_t>(static_cast<double>(frameCornerX) - halfDiagonalScaled * s +
                                     halfDiagonalScaled * c);
            bankTable[j].startY =
                static_cast<int32_t>(static_cast<double>(frameCornerY) - halfDiagonalScaled * c -
                                     halfDiagonalScaled * s);

            // The columns at both ends whose whole length misses the picture
            // are skipped: m is the nearest approach of a frame corner to
            // the rotated frame's edge.
            const int32_t e = sinTable[j] * halfFrameHeight;
            const int32_t f = cosTable[j] * halfFrameWidth;
            int32_t m = g + e + f;
            if (g + e - f < m) m = g + e - f;
            if (g - e + f < m) m = g - e + f;
            if (g - e - f < m) m = g - e - f;
            bankTable[j].edgeSkip = static_cast<uint16_t>(Asr(m + 511, 10));
        }
        if (j < viewDistance) {
            depthScale[j] = TruncateToInt32(depthScaleNumerator / (j + 1.0));
            // Beyond depthScaleNumerator depth indices the scale truncates to
            // 0; those entries take the inverse of the smallest scale, 1.
            const int32_t divisor = depthScale[j] >= 1 ? depthScale[j] : 1;
            depthScaleInverse[j] = 1048576 / divisor;
        }
    }
    BuildRayStepTable();
    return true;
}

void FlightView::BuildRayStepTable() {
    if (rayStepTable == nullptr || diagonal < 1) return;
    const double stepScaled = static_cast<double>(baseStep) * 1024.0;
    for (int32_t i = 0; i < diagonal; ++i) {
        const double angle =
            static_cast<double>(i) * 2.0 * kPi / angleUnits - diagonal * kPi / angleUnits;
        const double c = PortableCos(angle);
        // Very wide frames (angleUnits = 2 x diagonal) put the outermost
        // columns at nearly 90 degrees, where 1/cos no longer fits in 32
        // bits; such steps saturate, and a column at or past 90 degrees
        // never advances along the view axis, so it gets the longest step.
        if (!(c > 0.0)) {
            rayStepTable[i] = kInt32Max;
            continue;
        }
        rayStepTable[i] = TruncateToInt32(stepScaled / c + 0.5);
    }
    horizonRow = diagonal >> 1;
    // Long view distances without objects make the product exceed 32 bits;
    // the saturated value still ends every ray.
    maxRayDepth = SaturateInt32(static_cast<int64_t>(rayStepTable[diagonal >> 1]) *
                                (static_cast<int64_t>(viewDistance) - 1));
}

bool FlightView::SetViewDistance(int32_t distance) {
    if (lastGoodViewDistance == 0) lastGoodViewDistance = viewDistance;
    if (objects.slotCount != 0 && distance > 4150) {
        distance = 4140;
    } else if (distance < 40) {
        distance = 40;
    }
    if (distance == viewDistance) return true;
    viewDistance = distance;
    if (!SetUpBuffers()) {
        viewDistance = lastGoodViewDistance;
        SetUpBuffers();
        return false;
    }
    lastGoodViewDistance = viewDistance;
    return true;
}

int32_t FlightView::NextRandom() {
    return LcgStep(randomState);
}

bool FlightView::CanRender() const {
    if (!buffersReady || sinTable == nullptr || cosTable == nullptr || rayStepTable == nullptr ||
        depthScale == nullptr || depthScaleInverse == nullptr || bankTable == nullptr) {
        return false;
    }
    // Every column reads the sky (and water mirrors it).
    if (sky.pixels == nullptr || sky.width < 1 || sky.height < 1) return false;
    if (frame == nullptr || heightMap == nullptr || colourMap == nullptr) return false;
    // An object list that could not be obtained (slotCount kept, no arrays)
    // is drawn as a view without objects: MoveObjects and the renderer skip
    // them.
    return true;
}

bool FlightView::SetFrame(uint32_t* frame_, int32_t frameWidth_, int32_t frameHeight_,
                          int32_t stride) {
    // The old frame may be gone as soon as this returns: from here on only
    // the new one is drawn into, whether or not the tables can be set up.
    frame = frame_;
    frameWidth = frameWidth_;
    frameHeight = frameHeight_;
    frameStride = stride > frameWidth_ ? stride : frameWidth_;
    // The padded copy has the old frame's size; the next frame that needs
    // one obtains it anew.
    FreeArray(paddedFrame);
    paddedFramePixels = 0;
    return SetUpBuffers();
}

Terrain FlightView::LandTerrain() const {
    Terrain land;
    land.heights = heightMap;
    land.width = heightMapWidth;
    land.height = heightMapHeight;
    land.xLimit = xLimit;
    land.yLimit = yLimit;
    return land;
}

TrigTables FlightView::Trig() const {
    TrigTables trig;
    if (!buffersReady) return trig;
    trig.cosTable = cosTable;
    trig.sinTable = sinTable;
    trig.angleUnits = angleUnits;
    return trig;
}

void FlightView::SteerAutopilot(int32_t turnDirection, int32_t intensity) {
    CameraPose camera;
    camera.positionX = positionX;
    camera.positionY = positionY;
    camera.heading = heading;
    camera.altitude = altitude;
    const AutopilotCommands commands =
        autopilot.SteerAutopilot(LandTerrain(), Trig(), camera, turnDirection, intensity);
    turnCommand = commands.turnCommand;
    climbCommand = commands.climbCommand;
}

bool FlightView::SetObjectCount(int32_t slots) {
    objects.SetSlotCount(slots);
    // The view distance cap depends on whether there are objects.
    SetViewDistance(viewDistance);
    if (objects.slotCount == 0) return true;
    // A sky that failed to build earlier is retried here as well.
    if ((sky.enabled == 0 || sky.pixels == nullptr) && !sky.EnableSky(1, randomState)) {
        return false;
    }
    // Footprint cells are indexed with the colour map's width into a map of
    // the height map's size: both must agree.
    if (colourMapWidth != heightMapWidth || colourMapHeight != heightMapHeight) return false;
    return objects.BuildObjectList(heightMapWidth, heightMapHeight, angleUnits, randomState);
}

void FlightView::MoveObjects() {
    // Without tables (buffersReady false) the set does nothing; with them
    // both maps agree in size.
    objects.MoveObjects(LandTerrain(), Trig());
}

FlightView::KeptCamera FlightView::CameraNow() const {
    return {positionX, positionY, altitude, heading, bankAngle, horizonRow};
}

void FlightView::PutCamera(const KeptCamera& camera) {
    positionX = camera.positionX;
    positionY = camera.positionY;
    altitude = camera.altitude;
    heading = camera.heading;
    bankAngle = camera.bankAngle;
    horizonRow = camera.horizonRow;
}

bool FlightView::KeepPose() {
    keptPose_ = false;
    // Objects that exist must come along, or the frames would show them at
    // the present while the camera is at the past.
    const bool objectsKept = objects.KeepPose();
    if (!objectsKept && objects.slots != nullptr && objects.cellMap != nullptr) return false;
    keptCamera_ = CameraNow();
    keptPose_ = true;
    return true;
}

void FlightView::ForgetPose() {
    keptPose_ = false;
    objects.ForgetPose();
}

FlightView::Camera FlightView::CameraBetween(int32_t fraction) const {
    if (fraction < 0) fraction = 0;
    if (fraction >= kFractionOne) fraction = kFractionOne - 1;
    const KeptCamera present = CameraNow();
    if (!keptPose_ || angleUnits < 1 || xLimit < 1 || yLimit < 1) return present;
    const KeptCamera& from = keptCamera_;
    KeptCamera shown;
    shown.positionX = InterpolateWrapped(from.positionX, present.positionX, fraction, xLimit);
    shown.positionY = InterpolateWrapped(from.positionY, present.positionY, fraction, yLimit);
    shown.altitude = Interpolate(from.altitude, present.altitude, fraction);
    shown.heading = InterpolateWrapped(from.heading, present.heading, fraction, angleUnits);
    shown.bankAngle = InterpolateWrapped(from.bankAngle, present.bankAngle, fraction, angleUnits);
    shown.horizonRow = Interpolate(from.horizonRow, present.horizonRow, fraction);
    return shown;
}

void FlightView::RenderBetween(int32_t fraction) {
    if (fraction < 0) fraction = 0;
    if (fraction >= kFractionOne) fraction = kFractionOne - 1;
    const bool objectsKept = objects.HasKeptPose();
    // More than one move since the pose was kept: only the present is known.
    if (!keptPose_ || (!objectsKept && objects.slots != nullptr && objects.cellMap != nullptr) ||
        angleUnits < 1 || xLimit < 1 || yLimit < 1) {
        RenderLandscape(*this);
        return;
    }
    const KeptCamera present = CameraNow();
    PutCamera(CameraBetween(fraction));
    if (objectsKept) objects.ShowBetween(LandTerrain(), Trig(), fraction);
    RenderLandscape(*this);
    if (objectsKept) objects.ShowPresent();
    PutCamera(present);
}
