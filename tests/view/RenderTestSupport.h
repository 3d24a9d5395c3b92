// RenderTestSupport.h - synthetic land, object placement and frame
// comparison for the renderer tests and the renderer benchmark.
//
// The synthetic land is value noise over the wrapping map: heights 25 (the
// flooded sea) up to about side / 2, colours by height with a little grain,
// so that rays see hills, valleys and water as they do over generated land.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "tests/view/RenderReference.h"
#include "tests/view/ViewTestSupport.h"
#include "view/FlightView.h"
#include "view/Render.h"

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitizedBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitizedBuild = true;
#else
constexpr bool kSanitizedBuild = false;
#endif
#else
constexpr bool kSanitizedBuild = false;
#endif

namespace rendertest {

inline uint32_t Hash(uint32_t a) {
    a ^= a >> 16;
    a *= 0x7FEB352Du;
    a ^= a >> 15;
    a *= 0x846CA68Bu;
    a ^= a >> 16;
    return a;
}

// Heights 25 ... about side / 2 (sea cells exactly 25), wrapping value noise.
inline void FillSyntheticLand(int32_t side, uint32_t seed, int32_t* heights, uint32_t* colours) {
    std::vector<int64_t> sum(static_cast<size_t>(side) * side, 0);
    int32_t amplitude = 1024;
    for (int32_t cellsPerKnot = side >= 64 ? side / 4 : side; cellsPerKnot >= 2;
         cellsPerKnot /= 2) {
        const int32_t knots = side / cellsPerKnot;
        auto knot = [&](int32_t kx, int32_t ky) {
            kx = (kx % knots + knots) % knots;
            ky = (ky % knots + knots) % knots;
            return static_cast<int64_t>(Hash(seed * 7919u +
                                             static_cast<uint32_t>(cellsPerKnot) * 104729u +
                                             static_cast<uint32_t>(ky * knots + kx)) %
                                        2001u) -
                   1000;
        };
        for (int32_t y = 0; y < side; ++y) {
            for (int32_t x = 0; x < side; ++x) {
                const int32_t kx = x / cellsPerKnot, ky = y / cellsPerKnot;
                const int64_t fx = x % cellsPerKnot, fy = y % cellsPerKnot;
                const int64_t top = knot(kx, ky) * (cellsPerKnot - fx) + knot(kx + 1, ky) * fx;
                const int64_t bottom =
                    knot(kx, ky + 1) * (cellsPerKnot - fx) + knot(kx + 1, ky + 1) * fx;
                const int64_t value = (top * (cellsPerKnot - fy) + bottom * fy) /
                                      (static_cast<int64_t>(cellsPerKnot) * cellsPerKnot);
                sum[static_cast<size_t>(y) * side + x] += value * amplitude / 1024;
            }
        }
        amplitude = amplitude * 5 / 9;
    }
    int64_t low = sum[0], high = sum[0];
    for (int64_t v : sum) {
        if (v < low) low = v;
        if (v > high) high = v;
    }
    const int64_t range = high > low ? high - low : 1;
    const int64_t top = side / 2 > 40 ? side / 2 : 40;
    for (size_t i = 0; i < sum.size(); ++i) {
        // A third of the range lies below sea level.
        int64_t h = (sum[i] - low) * (top + top / 2) / range - top / 2 + 25;
        if (h < 25) h = 25;
        heights[i] = static_cast<int32_t>(h);
        const uint32_t grain = Hash(static_cast<uint32_t>(i) ^ seed) & 0x0F;
        const uint32_t level = static_cast<uint32_t>((h - 25) * 200 / top);
        const uint32_t red = 40 + level / 2 + grain;
        const uint32_t green = 90 + level / 3 + grain;
        const uint32_t blue = 30 + level / 4;
        colours[i] = (red << 16) | (green << 8) | blue;
    }
}

// A recognisable previous content, so pixels a frame leaves alone show.
inline void FillPattern(std::vector<uint32_t>& frame, uint32_t seed) {
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = Hash(static_cast<uint32_t>(i) + seed);
}

// Puts ring object `slot` at the cell `cells` ahead of the camera, `side`
// cells to the right, heading across the view, at `altitude` (re-marked by
// the next MoveObjects).
inline void PlaceObjectAhead(FlightView& view, int32_t slot, int32_t cells, int32_t side,
                             int32_t altitude) {
    SkyObject& o = view.objects.slots[slot];
    const int32_t h = view.heading;
    const int32_t across = (h + view.angleUnits / 4) % view.angleUnits;
    int64_t x = view.positionX + static_cast<int64_t>(view.cosTable[h]) * cells +
                static_cast<int64_t>(view.cosTable[across]) * side;
    int64_t y = view.positionY + static_cast<int64_t>(view.sinTable[h]) * cells +
                static_cast<int64_t>(view.sinTable[across]) * side;
    x = ((x % view.xLimit) + view.xLimit) % view.xLimit;
    y = ((y % view.yLimit) + view.yLimit) % view.yLimit;
    o.positionX = static_cast<int32_t>(x);
    o.positionY = static_cast<int32_t>(y);
    o.heading = across;
    o.altitude = altitude;
}

struct Mismatch {
    int64_t count = 0;
    int64_t first = -1;
    uint32_t expected = 0, actual = 0;
};

// Renders the current state with the production renderer and with the
// reference, both over the same previous content; returns the differences.
inline Mismatch CompareWithReference(FlightView& view, uint32_t patternSeed = 1) {
    const size_t size = static_cast<size_t>(view.frameWidth) * view.frameHeight;
    std::vector<uint32_t> pattern(size);
    FillPattern(pattern, patternSeed);
    std::memcpy(view.frame, pattern.data(), size * 4);
    RenderLandscape(view);
    std::vector<uint32_t> actual(view.frame, view.frame + size);
    std::memcpy(view.frame, pattern.data(), size * 4);
    RenderReferenceScene(view);
    Mismatch m;
    for (size_t i = 0; i < size; ++i) {
        if (actual[i] != view.frame[i]) {
            if (m.count++ == 0) {
                m.first = static_cast<int64_t>(i);
                m.expected = view.frame[i];
                m.actual = actual[i];
            }
        }
    }
    return m;
}

}  // namespace rendertest
