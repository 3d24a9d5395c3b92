// SkyTestSupport.h - a small world for the sky layer's tests: a wrapping
// height map with its limits, and trigonometric tables made the plain way
// (1024 x cos and 1024 x (-sin) of each angle unit, truncated toward zero),
// independent of the flight view that builds the real ones.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "sky/Terrain.h"

struct SkyWorld {
    explicit SkyWorld(int32_t side, int32_t groundHeight = 0, int32_t angleUnits = 2560)
        : mapSide(side),
          units(angleUnits),
          heights(static_cast<size_t>(side) * side, groundHeight),
          cosTable(static_cast<size_t>(angleUnits)),
          sinTable(static_cast<size_t>(angleUnits)) {
        const double pi = 3.14159265358979323846;
        for (int32_t j = 0; j < angleUnits; ++j) {
            const double a = 2.0 * pi * j / angleUnits;
            cosTable[static_cast<size_t>(j)] = static_cast<int32_t>(std::cos(a) * 1024.0);
            sinTable[static_cast<size_t>(j)] = static_cast<int32_t>(-std::sin(a) * 1024.0);
        }
    }

    Terrain Land() const {
        Terrain land;
        land.heights = heights.data();
        land.width = mapSide;
        land.height = mapSide;
        land.xLimit = mapSide << 10;
        land.yLimit = mapSide << 10;
        return land;
    }
    TrigTables Trig() const {
        TrigTables trig;
        trig.cosTable = cosTable.data();
        trig.sinTable = sinTable.data();
        trig.angleUnits = units;
        return trig;
    }
    int32_t& Height(int32_t x, int32_t y) { return heights[static_cast<size_t>(y) * mapSide + x]; }

    int32_t mapSide;
    int32_t units;
    std::vector<int32_t> heights;
    std::vector<int32_t> cosTable;
    std::vector<int32_t> sinTable;
};
