// Terrain.h - what the sky layer reads of its owner's land and tables: the
// height map with its wrap limits, and the trigonometric tables.
//
// The flight view (view/FlightView.h) owns the maps' pointers and the tables
// and hands these small read-only views to the autopilot and the objects;
// the sky layer never sees the view itself.
//
// Units (base/Units.h): positions in 1/1024 cell, wrapping at xLimit and
// yLimit; angles in angle units, angleUnits per turn; heights in height-map
// units; cosTable and sinTable hold 1024 x cos and 1024 x (-sin) of each
// angle unit.
#pragma once

#include <cstdint>

#include "base/Units.h"

// The height map: row-major cells, cell (x, y) at x + y x width, wrapping in
// both directions.
struct Terrain {
    const int32_t* heights = nullptr;
    int32_t width = 0;   // cells per row, the row stride
    int32_t height = 0;  // rows
    int32_t xLimit = 0;  // width << 10: positions wrap in x here
    int32_t yLimit = 0;  // height << 10

    bool Usable() const {
        return heights != nullptr && width >= 1 && height >= 1 && xLimit >= 1 && yLimit >= 1;
    }
    int64_t CellCount() const { return static_cast<int64_t>(width) * height; }
    // The height at (x, y) in position units, both already inside the map.
    int32_t HeightAt(int32_t x, int32_t y) const {
        return heights[(y >> kPositionShift) * width + (x >> kPositionShift)];
    }
};

// The trigonometric tables, angleUnits entries each (null before the owner
// has built them).
struct TrigTables {
    const int32_t* cosTable = nullptr;  // 1024 x cos
    const int32_t* sinTable = nullptr;  // 1024 x (-sin)
    int32_t angleUnits = 0;

    bool Usable() const { return cosTable != nullptr && sinTable != nullptr && angleUnits >= 1; }
};
