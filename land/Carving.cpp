// Carving.cpp - flow carving, flooding, slope shading and cast shadows.
//
// Carving and shadows work in heights scaled by 1024 (10 fractional bits).
// Every pass obtains all of its scratch maps before it changes anything, so
// a pass that cannot get its memory returns false with both maps untouched.
//
// Flow carving traces, from every cell, up to maxSteps + 1 moves of steepest
// descent. Tracing never changes the heights, so the move chosen from a cell
// is a property of that cell alone: it is decided once, on first use, and
// remembered in a map-sized table of next cells, which every later path
// through that cell reuses.
#include <algorithm>
#include <cstring>

#include "land/LandGenerator.h"
#include "land/LandMath.h"
#include "land/Scratch.h"
#include "land/Units.h"

using land_math::Asr64;
using land_math::ClampToInt32;
using land_math::Hint;

namespace {

constexpr int32_t kNotDecided = -2;  // next-cell table: not yet decided
constexpr int32_t kNoMove = -1;      // next-cell table: the path ends here

// Longest probe with precomputed ray offsets; longer probes take the
// literal route for every cell.
constexpr int32_t kMaxTableProbe = 32;

// Diagonal rays step 724/1024 of a cell (1024 / sqrt 2) per probe step from
// a start 300/1024 into the cell.
constexpr int64_t kDiagonalStart = 300;
constexpr int64_t kDiagonalStep = 724;

// Floor division by 1024 of a fixed-point offset.
constexpr int32_t FloorCells(int64_t fixed) { return static_cast<int32_t>(Asr64(fixed, 10)); }

// Decides the steepest-descent move from each cell of a map of scaled
// heights: the probe directions in order dx = -1, 0, 1 (outer), dy = -1, 0, 1
// (inner); the first strictly lowest ray sum below probeLength x the cell's
// own height wins; the move goes to the ray's candidate cell (the last cell
// reached while the running sum was still 0).
class DescentDecider {
public:
    DescentDecider(const int32_t* heights, int32_t mapWidth, int32_t mapHeight,
                   int32_t probeLength)
        : heights_(heights), width_(mapWidth), height_(mapHeight), probe_(probeLength) {
        useTable_ = probe_ >= 1 && probe_ <= kMaxTableProbe;
        if (!useTable_) return;
        int32_t d = 0;
        for (int32_t dx = -1; dx <= 1; ++dx) {
            for (int32_t dy = -1; dy <= 1; ++dy) {
                if (dx == 0 && dy == 0) continue;
                const bool diagonal = dx != 0 && dy != 0;
                for (int32_t k = 1; k <= probe_; ++k) {
                    const int32_t ox = diagonal ? FloorCells(kDiagonalStart + kDiagonalStep * k * dx)
                                                : k * dx;
                    const int32_t oy = diagonal ? FloorCells(kDiagonalStart + kDiagonalStep * k * dy)
                                                : k * dy;
                    offsetX_[d][k - 1] = ox;
                    offsetY_[d][k - 1] = oy;
                    offsetIndex_[d][k - 1] = ox + int64_t{oy} * width_;
                }
                ++d;
            }
        }
        // Offsets reach at most probeLength cells; a map side must exceed
        // twice that for one wrap step to suffice near the edges.
        interior_ = probe_ < width_ && probe_ < height_;
    }

    // Index of the cell the path moves to from (x, y), or kNoMove.
    int32_t Decide(int32_t x, int32_t y) const {
        if (!useTable_) return DecideLiteral(x, y);
        const int64_t p = x + int64_t{y} * width_;
        if (x >= probe_ && x < width_ - probe_ && y >= probe_ && y < height_ - probe_) {
            return DecideWith(p, [this, p](int32_t d, int32_t k) { return p + offsetIndex_[d][k]; });
        }
        if (!interior_) return DecideLiteral(x, y);
        return DecideWith(p, [this, x, y](int32_t d, int32_t k) {
            int32_t cx = x + offsetX_[d][k];
            int32_t cy = y + offsetY_[d][k];
            if (cx < 0) cx += width_;
            if (cx >= width_) cx -= width_;
            if (cy < 0) cy += height_;
            if (cy >= height_) cy -= height_;
            return cx + int64_t{cy} * width_;
        });
    }

private:
    template <typename CellOf>
    int32_t DecideWith(int64_t p, CellOf cellOf) const {
        int64_t best = int64_t{probe_} * heights_[p];
        int64_t chosen = kNoMove;
        for (int32_t d = 0; d < 8; ++d) {
            int64_t sum = 0;
            int64_t candidate = kNoMove;
            for (int32_t k = 0; k < probe_; ++k) {
                const int64_t cell = cellOf(d, k);
                if (sum == 0) candidate = cell;
                sum += heights_[cell];
            }
            if (sum < best) {
                best = sum;
                chosen = candidate;
            }
        }
        return static_cast<int32_t>(chosen);
    }

    // Any probe length, following the fixed-point walk step by step. A ray
    // that visits no cell (probeLength < 1) has no candidate, so choosing it
    // ends the path instead of moving to an undefined cell.
    int32_t DecideLiteral(int32_t x, int32_t y) const {
        const int64_t w = width_;
        const int64_t h = height_;
        auto wrap = [](int64_t v, int64_t limit) {
            v %= limit;
            return v < 0 ? v + limit : v;
        };
        int64_t best = int64_t{probe_} * heights_[x + y * w];
        int64_t chosen = kNoMove;
        for (int32_t dx = -1; dx <= 1; ++dx) {
            for (int32_t dy = -1; dy <= 1; ++dy) {
                if (dx == 0 && dy == 0) continue;
                int64_t sum = 0;
                int64_t candidate = kNoMove;
                int64_t fx = 1024 * int64_t{x} + kDiagonalStart;
                int64_t fy = 1024 * int64_t{y} + kDiagonalStart;
                for (int64_t k = 1; k <= probe_; ++k) {
                    int64_t cx;
                    int64_t cy;
                    if (dx == 0 || dy == 0) {
                        cx = wrap(x + k * dx, w);
                        cy = wrap(y + k * dy, h);
                    } else {
                        fx = wrap(fx + kDiagonalStep * dx, 1024 * w);
                        fy = wrap(fy + kDiagonalStep * dy, 1024 * h);
                        cx = fx >> 10;
                        cy = fy >> 10;
                    }
                    const int64_t cell = cx + cy * w;
                    if (sum == 0) candidate = cell;
                    sum += heights_[cell];
                }
                if (sum < best) {
                    best = sum;
                    chosen = candidate;
                }
            }
        }
        return static_cast<int32_t>(chosen);
    }

    const int32_t* heights_;
    int32_t width_;
    int32_t height_;
    int32_t probe_;
    bool useTable_ = false;
    bool interior_ = false;
    int32_t offsetX_[8][kMaxTableProbe] = {};
    int32_t offsetY_[8][kMaxTableProbe] = {};
    int64_t offsetIndex_[8][kMaxTableProbe] = {};
};

// Follows one path from start: at most maxMoves moves, each adding one visit
// to the cell entered. Saturate keeps counts within int32 when the total
// number of visits could exceed it.
template <bool Saturate>
void TracePath(int32_t start, int64_t maxMoves, int32_t mapWidth, const DescentDecider& decider,
               int32_t* next, int32_t* flowCount) {
    int32_t p = start;
    for (int64_t moves = 0; moves < maxMoves; ++moves) {
        int32_t n = next[p];
        if (n == kNotDecided) {
            n = decider.Decide(p % mapWidth, p / mapWidth);
            next[p] = n;
        }
        if (n < 0) return;
        if (!Saturate || flowCount[n] < 2147483647) ++flowCount[n];
        p = n;
    }
}

}  // namespace

// Returns false when its two scratch maps cannot be obtained (maps
// unchanged) or when a poll asked for an abort; after an abort the counts
// gathered so far are still applied and the heights are back at their
// normal scale.
bool LandGenerator::CarveFlowChannels(int32_t depthGain, int32_t colourGain, int32_t maxSteps,
                                      int32_t probeLength, int32_t flowBlurWeight) {
    const int64_t cells = CellCount();
    int32_t* flowCount = AllocateArrayForOverwrite<int32_t>(cells);
    int32_t* next = AllocateArrayForOverwrite<int32_t>(cells);
    if (flowCount == nullptr || next == nullptr) {
        FreeArray(flowCount);
        FreeArray(next);
        return false;
    }

    // Heights saturate at +-2^31 / 1024 instead of overflowing.
    for (int64_t i = cells - 1; i >= 0; --i) heightMap[i] = ClampToInt32(int64_t{heightMap[i]} * 1024);
    // The flow counts are not in use yet: their memory serves as the blur's
    // scratch map.
    bool complete = BlurMap(heightMap, flowCount, 0, 1);
    std::fill(flowCount, flowCount + cells, 0);
    std::fill(next, next + cells, kNotDecided);

    // A path makes at most maxSteps + 1 moves (at least one).
    const int64_t maxMoves = std::max<int64_t>(int64_t{maxSteps} + 1, 1);
    const bool saturate = maxMoves * cells > 2147483647;
    const DescentDecider decider(heightMap, width, height, probeLength);
    const int32_t hint = Hint(width);
    for (int32_t x0 = 0; x0 < width; x0 += kStripColumns) {
        bool aborted = false;
        const int32_t count = PollColumns(std::min(kStripColumns, width - x0), hint, &aborted);
        for (int32_t y = 0; y < height && count > 0; ++y) {
            const int32_t rowStart = y * width;
            for (int32_t x = x0; x < x0 + count; ++x) {
                if (saturate) {
                    TracePath<true>(rowStart + x, maxMoves, width, decider, next, flowCount);
                } else {
                    TracePath<false>(rowStart + x, maxMoves, width, decider, next, flowCount);
                }
            }
        }
        if (aborted) {
            complete = false;
            break;
        }
    }

    // The next-cell table is finished with: it becomes the flow blur's
    // scratch map.
    int32_t* heights = heightMap;
    heightMap = flowCount;
    complete = BlurMap(flowCount, next, flowBlurWeight, 1) && complete;
    heightMap = heights;

    for (int64_t i = cells - 1; i >= 0; --i) {
        const int64_t flow = flowCount[i];
        heightMap[i] = ClampToInt32(Asr64(flow * depthGain + heightMap[i], 10));
        colourMap[i] = AddToColour(colourMap[i], ClampToInt32(Asr64(flow * colourGain, 10)));
    }
    FreeArray(next);
    FreeArray(flowCount);
    return complete;
}

void LandGenerator::FloodToLevel(int32_t level) {
    const int32_t hint = Hint(width);
    for (int32_t x0 = 0; x0 < width; x0 += kStripColumns) {
        bool aborted = false;
        const int32_t count = PollColumns(std::min(kStripColumns, width - x0), hint, &aborted);
        for (int32_t y = 0; y < height && count > 0; ++y) {
            int32_t* row = heightMap + int64_t{y} * width + x0;
            for (int32_t i = 0; i < count; ++i) row[i] = std::max(row[i], level);
        }
        if (aborted) return;
    }
}

namespace {

// Adds every nonzero delta to its colour cell, last cell first.
void ApplyDeltas(const int32_t* delta, uint32_t* colourMap, int64_t cells) {
    for (int64_t i = cells - 1; i >= 0; --i) {
        if (delta[i] != 0) colourMap[i] = LandGenerator::AddToColour(colourMap[i], delta[i]);
    }
}

}  // namespace

// Returns false when its scratch maps cannot be obtained (maps unchanged)
// or when the blur was aborted (the deltas are then applied unblurred).
bool LandGenerator::ShadeSlopes(int32_t strength, char direction, int32_t blurPasses,
                                int32_t blurWeight) {
    const int64_t cells = CellCount();
    int32_t* delta = AllocateArrayForOverwrite<int32_t>(cells);
    int32_t* blurScratch = blurPasses > 0 ? AllocateArrayForOverwrite<int32_t>(cells) : nullptr;
    if (delta == nullptr || (blurPasses > 0 && blurScratch == nullptr)) {
        FreeArray(delta);
        FreeArray(blurScratch);
        return false;
    }

    const int64_t k = Asr(strength, 1);
    const bool vertical = direction == 'd' || direction == 'u';
    const int64_t gain = (direction == 'd' || direction == 'l') ? k : -k;
    for (int32_t y = 0; y < height; ++y) {
        const int32_t* row = heightMap + int64_t{y} * width;
        const int32_t* rowUp = heightMap + int64_t{y == 0 ? height - 1 : y - 1} * width;
        const int32_t* rowDown = heightMap + int64_t{y == height - 1 ? 0 : y + 1} * width;
        int32_t* out = delta + int64_t{y} * width;
        for (int32_t x = 0; x < width; ++x) {
            int64_t slope;
            if (vertical) {
                slope = int64_t{rowDown[x]} - rowUp[x];
            } else {
                const int32_t left = x == 0 ? width - 1 : x - 1;
                const int32_t right = x == width - 1 ? 0 : x + 1;
                slope = int64_t{row[right]} - row[left];
            }
            out[x] = ClampToInt32(gain * slope);
        }
    }

    bool complete = true;
    if (blurPasses > 0) {
        int32_t* heights = heightMap;
        heightMap = delta;
        complete = BlurMap(delta, blurScratch, blurWeight, blurPasses);
        heightMap = heights;
    }
    ApplyDeltas(delta, colourMap, cells);
    FreeArray(blurScratch);
    FreeArray(delta);
    return complete;
}

// Returns false when its scratch maps cannot be obtained (maps unchanged) or
// when a poll asked for an abort (the finished lines are then applied
// unblurred).
bool LandGenerator::CastShadows(int32_t shadowDelta, int32_t litDelta, char direction,
                                int32_t dropPerCell, int32_t blurPasses, int32_t blurWeight) {
    const int64_t cells = CellCount();
    int32_t* delta = AllocateArrayForOverwrite<int32_t>(cells);
    int32_t* blurScratch = blurPasses > 0 ? AllocateArrayForOverwrite<int32_t>(cells) : nullptr;
    if (delta == nullptr || (blurPasses > 0 && blurScratch == nullptr)) {
        FreeArray(delta);
        FreeArray(blurScratch);
        return false;
    }

    const int64_t low = LowestHeight();
    // Scan lines: rows for "l" (x rising) and "r" (x falling); columns for
    // "u" (y falling) and anything else (y rising). Lines go by rising index.
    const bool rows = direction == 'l' || direction == 'r';
    const int32_t lines = rows ? height : width;
    const int32_t length = rows ? width : height;
    int64_t step;
    if (direction == 'l') {
        step = 1;
    } else if (direction == 'r') {
        step = -1;
    } else if (direction == 'u') {
        step = -int64_t{width};
    } else {
        step = width;
    }
    auto lineStart = [&](int32_t line) -> int64_t {
        if (direction == 'l') return int64_t{line} * width;
        if (direction == 'r') return int64_t{line} * width + width - 1;
        if (direction == 'u') return line + int64_t{height - 1} * width;
        return line;
    };

    const int32_t hint = lines;
    bool complete = true;
    for (int32_t line = 0; line < lines; ++line) {
        if (Poll(hint)) {
            // Lines not reached stay without a delta.
            for (int32_t rest = line; rest < lines; ++rest) {
                int64_t p = lineStart(rest);
                for (int32_t i = 0; i < length; ++i, p += step) delta[p] = 0;
            }
            complete = false;
            break;
        }
        // Two sweeps, the second continuing the first's shadow line, so a
        // shadow cast across the wrapped edge reaches the line's start.
        int64_t shadow = low * 1024;
        for (int32_t sweep = 0; sweep < 2; ++sweep) {
            int64_t p = lineStart(line);
            for (int32_t i = 0; i < length; ++i, p += step) {
                const int64_t h = heightMap[p];
                shadow -= dropPerCell;
                if (h > Asr64(shadow, 10)) {
                    delta[p] = litDelta;
                    shadow = h * 1024;
                } else {
                    delta[p] = shadowDelta;
                }
            }
        }
    }

    if (blurPasses > 0) {
        int32_t* heights = heightMap;
        heightMap = delta;
        complete = BlurMap(delta, blurScratch, blurWeight, blurPasses) && complete;
        heightMap = heights;
    }
    ApplyDeltas(delta, colourMap, cells);
    FreeArray(blurScratch);
    FreeArray(delta);
    return complete;
}
