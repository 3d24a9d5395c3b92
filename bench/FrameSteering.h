// FrameSteering.h - the frame loop's steering of one frame, for the renderer
// benchmark's flights, which fly as the saver flies but call the renderer
// (or the plain reference renderer) themselves. The tests check the frame
// loop's steering against worked-out numbers (tests/app/FrameLoopTest.cpp)
// and fly scripted camera paths for the renderer (tests/view/CameraPath.h).
#pragma once

#include <cstdint>

#include "view/FlightView.h"

// The frame loop's steering of one frame, up to and including Move: the
// autopilot's commands become the heading rate, the climb rate, the bank
// angle (the sum of the last two turn commands) and the horizon row; the
// autopilot turns the other way every 256 frames, to the right in one of
// four. Frames are counted from 1.
struct FrameSteering {
    FrameSteering(int32_t tiltSetting, int32_t frameWidth, int32_t autopilotIntensity = 30)
        : horizonBase(static_cast<int32_t>(
              static_cast<double>(tiltSetting * frameWidth) * 0.00390625 + frameWidth * 0.78125)),
          intensity(autopilotIntensity) {}

    void Step(FlightView& v) {
        ++frameCounter;
        if ((frameCounter & 0xFF) == 0) direction = ((frameCounter >> 8) & 3) == 0 ? 1 : -1;
        v.SteerAutopilot(direction, intensity);
        v.headingRate = v.turnCommand >> 1;
        v.climbRate = v.climbCommand;
        v.SetBankAngle(v.turnCommand + prevTurnCommand);
        prevTurnCommand = v.turnCommand;
        v.horizonRow = v.climbRate + prevClimbRate + horizonBase;
        prevClimbRate = v.climbRate;
        v.Move();
    }

    int32_t horizonBase;
    int32_t intensity;
    int32_t frameCounter = 0;
    int32_t direction = -1;
    int32_t prevTurnCommand = 0;
    int32_t prevClimbRate = 0;
};
