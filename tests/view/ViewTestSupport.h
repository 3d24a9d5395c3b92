// ViewTestSupport.h - a frame and two land maps that outlive a FlightView,
// and small helpers shared by the view tests.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "tests/base/Checksum.h"
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
