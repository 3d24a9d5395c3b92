// Motion.cpp - camera motion: once per frame the camera turns by
// headingRate, flies 64 x speed position units along the new heading over
// the wrapping land, climbs by climbRate up to the ceiling of 5362 height
// units and stays groundClearance above the cell under it. SetBankAngle
// sets the picture's bank. Called by the frame loop after the autopilot and
// before Render.
#include <cstdint>

#include "base/Saturate.h"
#include "base/Units.h"
#include "view/FlightView.h"

namespace {
// Highest camera altitude, height units: keeps (altitude - height) x
// depthScale[0] within 32 bits in the renderer.
constexpr int32_t kAltitudeCeiling = 5362;
}  // namespace

bool FlightView::Move() {
    if (!buffersReady && !SetUpBuffers()) return false;
    heading = WrapAngle(static_cast<int64_t>(heading) + headingRate, angleUnits);
    positionX = WrapCoordinate(positionX + ((static_cast<int64_t>(cosTable[heading]) * speed) >> 4),
                               xLimit);
    positionY = WrapCoordinate(positionY + ((static_cast<int64_t>(sinTable[heading]) * speed) >> 4),
                               yLimit);

    int64_t newAltitude = static_cast<int64_t>(altitude) + climbRate;
    if (newAltitude > kAltitudeCeiling) newAltitude = kAltitudeCeiling;
    // The floor wins over the ceiling where both apply.
    const int64_t floor =
        static_cast<int64_t>(heightMap[(positionY >> kPositionShift) * heightMapWidth +
                                       (positionX >> kPositionShift)]) +
        groundClearance;
    if (newAltitude < floor) newAltitude = floor;
    altitude = SaturateInt32(newAltitude);
    return true;
}

void FlightView::SetBankAngle(int32_t angle) {
    bankAngle = WrapAngle(angle, angleUnits);
}
