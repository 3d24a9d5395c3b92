// Autopilot.cpp - terrain following and hill-or-valley steering.
//
// Once per frame, before the camera moves, the frame loop calls
// SteerAutopilot; it writes climbCommand (height units to climb this frame)
// and turnCommand (angle units to turn, within half a turn either way when
// steering is on). The three filters are process-wide: they start with the
// program (256, 512, 0) and carry over between frames, landscapes and views.
//
// Terrain following aims at terrainClearance (15) above the ground 20 cells
// ahead; steering compares the heights along two rays of ten samples 4 to 40
// cells out, intensity angle units either side of the heading. The map is a
// torus: look-ahead points and rays wrap at its edges.
//
// Without tables (a failed set-up) both commands are 0 and the filters keep
// their values.
#include <cstdint>

#include "land/Units.h"
#include "sky/CoreMath.h"
#include "view/FlightView.h"

namespace {

bool CanSample(const FlightView& view) {
    return view.buffersReady && view.cosTable != nullptr && view.sinTable != nullptr &&
           view.heightMap != nullptr && view.xLimit >= 1 && view.yLimit >= 1;
}

// Height at (x, y) in position units, both already inside the map.
int32_t HeightAt(const FlightView& view, int32_t x, int32_t y) {
    return view.heightMap[(y >> kPositionShift) * view.heightMapWidth + (x >> kPositionShift)];
}

// Sum of ten heights 4, 8, ..., 40 cells from the camera along direction.
int64_t SumAlongRay(const FlightView& view, int32_t direction) {
    int32_t x = view.positionX;
    int32_t y = view.positionY;
    int64_t sum = 0;
    for (int32_t i = 0; i < 10; ++i) {
        y = coremath::WrapCoordinate(static_cast<int64_t>(y) + view.sinTable[direction] * 4,
                                     view.yLimit);
        x = coremath::WrapCoordinate(static_cast<int64_t>(x) + view.cosTable[direction] * 4,
                                     view.xLimit);
        sum += HeightAt(view, x, y);
    }
    return sum;
}

}  // namespace

void FlightView::FollowTerrain() {
    if (!CanSample(*this)) {
        climbCommand = 0;
        return;
    }
    const int32_t h = coremath::WrapAngle(heading, angleUnits);
    const int32_t x =
        coremath::WrapCoordinate(static_cast<int64_t>(positionX) + cosTable[h] * 20, xLimit);
    const int32_t y =
        coremath::WrapCoordinate(static_cast<int64_t>(positionY) + sinTable[h] * 20, yLimit);
    const int32_t ground = HeightAt(*this, x, y);

    altitudeFilter = coremath::SaturateInt32(static_cast<int64_t>(altitudeFilter) + altitude);
    groundFilter =
        coremath::SaturateInt32(static_cast<int64_t>(groundFilter) + ground + terrainClearance);
    climbCommand = coremath::SaturateInt32(static_cast<int64_t>(Asr(groundFilter, 4)) -
                                           Asr(altitudeFilter, 3));
    altitudeFilter -= Asr(altitudeFilter, 3);
    groundFilter -= Asr(groundFilter, 4);
}

void FlightView::SteerAutopilot(int32_t turnDirection, int32_t intensity) {
    FollowTerrain();
    if (!CanSample(*this)) {
        turnCommand = 0;
        return;
    }
    if (intensity < 1) {
        // Steering off: the turn dies away (a small positive remainder stays).
        turnFilter -= Asr(turnFilter, 3);
        turnCommand = Asr(turnFilter, 2);
        return;
    }
    const int32_t offset = intensity < Asr(angleUnits, 2) ? intensity : Asr(angleUnits, 2);
    const int32_t h = coremath::WrapAngle(heading, angleUnits);
    const int64_t sumMinus = SumAlongRay(*this, coremath::WrapAngle(h - offset, angleUnits));
    const int64_t sumPlus = SumAlongRay(*this, coremath::WrapAngle(h + offset, angleUnits));

    const int64_t input =
        static_cast<int64_t>(coremath::SaturateInt32(sumPlus - sumMinus)) * turnDirection;
    turnFilter = coremath::SaturateInt32(static_cast<int64_t>(turnFilter) + input);
    turnFilter -= Asr(turnFilter, 3);
    turnCommand = Asr(turnFilter, 2);

    if (turnCommand >= angleUnits) {
        turnCommand = angleUnits - 1;
    } else if (turnCommand <= -angleUnits) {
        turnCommand = 1 - angleUnits;
    }
    // The shorter way round.
    if (turnCommand > Asr(angleUnits, 1)) {
        turnCommand -= angleUnits;
    } else if (turnCommand < -Asr(angleUnits, 1)) {
        turnCommand += angleUnits;
    }
}
