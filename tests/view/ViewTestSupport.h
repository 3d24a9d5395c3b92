// ViewTestSupport.h - a frame and two land maps that outlive a FlightView,
// and small helpers shared by the view tests.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "view/FlightView.h"

struct ViewWorld {
    ViewWorld(int32_t width, int32_t height, int32_t side, int32_t groundHeight = 0)
        : frameWidth(width),
          frameHeight(height),
          mapSide(side),
          frame(static_cast<size_t>(width) * height, 0),
          heights(static_cast<size_t>(side) * side, groundHeight),
          colours(static_cast<size_t>(side) * side, 0x00406080u) {}

    std::unique_ptr<FlightView> MakeView(int32_t objectSlots = 7, uint32_t seed = 12345,
                                         int32_t skyExponent = 8) {
        return std::make_unique<FlightView>(frame.data(), frameWidth, frameHeight, heights.data(),
                                            mapSide, mapSide, colours.data(), mapSide, mapSide,
                                            objectSlots, skyExponent, seed);
    }

    int32_t& Height(int32_t x, int32_t y) { return heights[static_cast<size_t>(y) * mapSide + x]; }

    int32_t frameWidth;
    int32_t frameHeight;
    int32_t mapSide;
    std::vector<uint32_t> frame;
    std::vector<int32_t> heights;
    std::vector<uint32_t> colours;
};

// FNV-1a 64 over 32-bit words, low byte first.
inline uint64_t Fnv1a64(const uint32_t* words, size_t count) {
    uint64_t hash = 14695981039346656037ull;
    for (size_t i = 0; i < count; ++i) {
        for (int b = 0; b < 4; ++b) {
            hash ^= (words[i] >> (8 * b)) & 0xFFu;
            hash *= 1099511628211ull;
        }
    }
    return hash;
}

// A view's autopilot filters as a new view has them, for tests that steer
// one view from several starts.
inline void ResetAutopilotFilters(FlightView& view) {
    view.altitudeFilter = 256;
    view.groundFilter = 512;
    view.turnFilter = 0;
}

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
