// Autopilot.h - terrain following and hill-or-valley steering.
//
// Once per frame, before the camera moves, the flight view hands the
// autopilot the land, its tables and the camera; SteerAutopilot returns
// climbCommand (height units to climb this frame) and turnCommand (angle
// units to turn, within half a turn either way when steering is on). The
// three filters carry over between frames and landscapes for the life of the
// autopilot (one per view); they start at 256, 512 and 0.
//
// Terrain following aims at terrainClearance (15) above the ground 20 cells
// ahead; steering compares the heights along two rays of ten samples 4 to 40
// cells out, intensity angle units either side of the heading. The map is a
// torus: look-ahead points and rays wrap at its edges.
//
// Callers: FlightView::SteerAutopilot (view/FlightView.h), which the frame
// loop calls every frame.
#pragma once

#include <cstdint>

#include "sky/Terrain.h"

// The camera as the autopilot reads it: position units, angle units (any
// value: brought into the turn here), height units.
struct CameraPose {
    int32_t positionX = 0;
    int32_t positionY = 0;
    int32_t heading = 0;
    int32_t altitude = 0;
};

struct AutopilotCommands {
    int32_t turnCommand = 0;
    int32_t climbCommand = 0;
};

class Autopilot {
public:
    int32_t altitudeFilter = 256;   // smoothed altitude x 8
    int32_t groundFilter = 512;     // smoothed target height x 16
    int32_t turnFilter = 0;         // smoothed steering input x 4
    int32_t terrainClearance = 15;  // height above the ground ahead to aim for

    // Terrain following, then steering: turnDirection +1 turns toward the
    // side whose rays sum higher (hills), -1 toward the lower (valleys);
    // intensity is the half-angle between the rays (steering off below 1,
    // at most a quarter turn). Without usable land or tables both commands
    // are 0 and the filters keep their values.
    AutopilotCommands SteerAutopilot(const Terrain& land, const TrigTables& trig,
                                     const CameraPose& camera, int32_t turnDirection,
                                     int32_t intensity);
    // The climb command alone (updates the altitude and ground filters); 0
    // without usable land or tables.
    int32_t FollowTerrain(const Terrain& land, const TrigTables& trig, const CameraPose& camera);
};
