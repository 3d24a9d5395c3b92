// Autopilot.cpp - terrain following and hill-or-valley steering (see
// Autopilot.h). Filters and commands are 32-bit with arithmetic shifts;
// sums that could leave 32 bits over extreme heights saturate instead.
#include "sky/Autopilot.h"

#include <cstdint>

#include "base/Saturate.h"
#include "base/Units.h"

namespace {

bool CanSample(const Terrain& land, const TrigTables& trig) {
    return land.Usable() && trig.Usable();
}

// Sum of ten heights 4, 8, ..., 40 cells from the camera along direction.
int64_t SumAlongRay(const Terrain& land, const TrigTables& trig, const CameraPose& camera,
                    int32_t direction) {
    int32_t x = camera.positionX;
    int32_t y = camera.positionY;
    int64_t sum = 0;
    for (int32_t i = 0; i < 10; ++i) {
        y = WrapCoordinate(static_cast<int64_t>(y) + trig.sinTable[direction] * 4, land.yLimit);
        x = WrapCoordinate(static_cast<int64_t>(x) + trig.cosTable[direction] * 4, land.xLimit);
        sum += land.HeightAt(x, y);
    }
    return sum;
}

}  // namespace

int32_t Autopilot::FollowTerrain(const Terrain& land, const TrigTables& trig,
                                 const CameraPose& camera) {
    if (!CanSample(land, trig)) return 0;
    const int32_t h = WrapAngle(camera.heading, trig.angleUnits);
    const int32_t x =
        WrapCoordinate(static_cast<int64_t>(camera.positionX) + trig.cosTable[h] * 20, land.xLimit);
    const int32_t y =
        WrapCoordinate(static_cast<int64_t>(camera.positionY) + trig.sinTable[h] * 20, land.yLimit);
    const int32_t ground = land.HeightAt(x, y);

    altitudeFilter = SaturateInt32(static_cast<int64_t>(altitudeFilter) + camera.altitude);
    groundFilter = SaturateInt32(static_cast<int64_t>(groundFilter) + ground + terrainClearance);
    const int32_t climbCommand =
        SaturateInt32(static_cast<int64_t>(Asr(groundFilter, 4)) - Asr(altitudeFilter, 3));
    altitudeFilter -= Asr(altitudeFilter, 3);
    groundFilter -= Asr(groundFilter, 4);
    return climbCommand;
}

AutopilotCommands Autopilot::SteerAutopilot(const Terrain& land, const TrigTables& trig,
                                            const CameraPose& camera, int32_t turnDirection,
                                            int32_t intensity) {
    AutopilotCommands commands;
    commands.climbCommand = FollowTerrain(land, trig, camera);
    if (!CanSample(land, trig)) return commands;
    const int32_t units = trig.angleUnits;
    int32_t& turnCommand = commands.turnCommand;
    if (intensity < 1) {
        // Steering off: the turn dies away (a small positive remainder stays).
        turnFilter -= Asr(turnFilter, 3);
        turnCommand = Asr(turnFilter, 2);
        return commands;
    }
    const int32_t offset = intensity < Asr(units, 2) ? intensity : Asr(units, 2);
    const int32_t h = WrapAngle(camera.heading, units);
    const int64_t sumMinus = SumAlongRay(land, trig, camera, WrapAngle(h - offset, units));
    const int64_t sumPlus = SumAlongRay(land, trig, camera, WrapAngle(h + offset, units));

    const int64_t input = static_cast<int64_t>(SaturateInt32(sumPlus - sumMinus)) * turnDirection;
    turnFilter = SaturateInt32(static_cast<int64_t>(turnFilter) + input);
    turnFilter -= Asr(turnFilter, 3);
    turnCommand = Asr(turnFilter, 2);

    if (turnCommand >= units) {
        turnCommand = units - 1;
    } else if (turnCommand <= -units) {
        turnCommand = 1 - units;
    }
    // The shorter way round.
    if (turnCommand > Asr(units, 1)) {
        turnCommand -= units;
    } else if (turnCommand < -Asr(units, 1)) {
        turnCommand += units;
    }
    return commands;
}
