// Carving.cpp - flow carving, flooding, slope shading and cast shadows.
//
// Carving and shadows work in heights scaled by 1024 (10 fractional bits).
// Every pass obtains all of its scratch maps before it changes anything, so
// a pass that cannot get its memory returns false with both maps untouched.
//
// Flow carving traces, from every cell, up to maxSteps + 1 moves of steepest
// descent. Tracing never changes the heights, so the move chosen from a cell
// is a property of that cell alone: it is decided once for every cell into a
// map-sized table of next cells. The paths then advance together, one move
// per sweep over the map, carrying path counts from cell to cell, instead of
// being followed one by one.
#include <algorithm>
#include <cstring>

#include "base/Scratch.h"
#include "base/Units.h"
#include "land/LandGenerator.h"
#include "land/LandMath.h"

using land_math::Asr64;
using land_math::Hint;

namespace {

constexpr int32_t kNoMove = -1;  // next-cell table: the path ends here

// Move codes: 0 for no move, otherwise 1 + (dx + kMaxCodedReach) x
// (2 kMaxCodedReach + 1) + (dy + kMaxCodedReach) for a move by (dx, dy)
// cells, |dx| and |dy| at most kMaxCodedReach.
constexpr int32_t kMaxCodedReach = 7;
constexpr int32_t kCodeSpan = 2 * kMaxCodedReach + 1;
constexpr uint8_t kNoMoveCode = 0;

constexpr uint8_t MoveCode(int32_t dx, int32_t dy) {
    return static_cast<uint8_t>(1 + (dx + kMaxCodedReach) * kCodeSpan + (dy + kMaxCodedReach));
}
constexpr int32_t CodeDx(uint8_t code) {
    return (code - 1) / kCodeSpan - kMaxCodedReach;
}
constexpr int32_t CodeDy(uint8_t code) {
    return (code - 1) % kCodeSpan - kMaxCodedReach;
}

// Longest probe with precomputed ray offsets; longer probes take the
// literal route for every cell.
constexpr int32_t kMaxTableProbe = 32;

// Diagonal rays step 724/1024 of a cell (1024 / sqrt 2) per probe step from
// a start 300/1024 into the cell.
constexpr int64_t kDiagonalStart = 300;
constexpr int64_t kDiagonalStep = 724;

// LandGenerator::AddToColour, the same arithmetic, in line for the per-cell
// loops of this file.
inline uint32_t AddToColourInline(uint32_t colour, int32_t delta) {
    const int32_t d = std::clamp(delta, -255, 255);
    const int32_t red = std::clamp(static_cast<int32_t>((colour >> 16) & 0xFFu) + d, 0, 255);
    const int32_t green = std::clamp(static_cast<int32_t>((colour >> 8) & 0xFFu) + d, 0, 255);
    const int32_t blue = std::clamp(static_cast<int32_t>(colour & 0xFFu) + d, 0, 255);
    return 0xFF000000u | static_cast<uint32_t>(red << 16 | green << 8 | blue);
}

// Interior cells decided together when the ray sums fit in int32.
constexpr int32_t kDecideChunk = 16;

// Floor division by 1024 of a fixed-point offset.
constexpr int32_t FloorCells(int64_t fixed) {
    return static_cast<int32_t>(Asr64(fixed, 10));
}

// Decides the steepest-descent move from each cell of a map of scaled
// heights: the probe directions in order dx = -1, 0, 1 (outer), dy = -1, 0, 1
// (inner); the first strictly lowest ray sum below probeLength x the cell's
// own height wins; the move goes to the ray's candidate cell (the last cell
// reached while the running sum was still 0).
class DescentDecider {
public:
    DescentDecider(const int32_t* heights, int32_t mapWidth, int32_t mapHeight, int32_t probeLength)
        : heights_(heights), width_(mapWidth), height_(mapHeight), probe_(probeLength) {
        useTable_ = probe_ >= 1 && probe_ <= kMaxTableProbe;
        if (!useTable_) return;
        int32_t d = 0;
        for (int32_t dx = -1; dx <= 1; ++dx) {
            for (int32_t dy = -1; dy <= 1; ++dy) {
                if (dx == 0 && dy == 0) continue;
                const bool diagonal = dx != 0 && dy != 0;
                for (int32_t k = 1; k <= probe_; ++k) {
                    const int32_t ox =
                        diagonal ? FloorCells(kDiagonalStart + kDiagonalStep * k * dx) : k * dx;
                    const int32_t oy =
                        diagonal ? FloorCells(kDiagonalStart + kDiagonalStep * k * dy) : k * dy;
                    offsetX_[d][k - 1] = ox;
                    offsetY_[d][k - 1] = oy;
                    offsetIndex_[d][k - 1] = ox + int64_t{oy} * width_;
                    const bool coded = ox >= -kMaxCodedReach && ox <= kMaxCodedReach &&
                                       oy >= -kMaxCodedReach && oy <= kMaxCodedReach;
                    codeOf_[d][k - 1] = coded ? MoveCode(ox, oy) : kNoMoveCode;
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
        if (!useTable_ || (!interior_ && !Inside(x, y))) return DecideLiteral(x, y);
        const int32_t move = Choose(x, y);
        if (move < 0) return kNoMove;
        const int32_t d = move / kMaxTableProbe;
        const int32_t k = move % kMaxTableProbe;
        if (Inside(x, y)) return static_cast<int32_t>(x + int64_t{y} * width_ + offsetIndex_[d][k]);
        return static_cast<int32_t>(WrappedCell(x, y, d, k));
    }

    // True when the offsets of ray cells fit a move code (see MoveCode).
    bool CodesMoves() const { return useTable_ && interior_ && probe_ <= kMaxCodedReach; }

    // The moves from cells xa ... xb - 1 of row y as cell offset codes into
    // codes[xa ...]; needs CodesMoves().
    void DecideCodes(int32_t y, int32_t xa, int32_t xb, uint8_t* codes) const {
        const int64_t rowStart = int64_t{y} * width_;
        const bool insideRow = y >= probe_ && y < height_ - probe_;
        int32_t x = xa;
        while (x < xb) {
            if (insideRow && narrowSums_ && x >= probe_ && x + kDecideChunk <= width_ - probe_ &&
                x + kDecideChunk <= xb) {
                DecideChunk(rowStart + x, codes + x);
                x += kDecideChunk;
                continue;
            }
            int32_t move;
            if (insideRow && probe_ == 4 && x >= probe_ && x < width_ - probe_) {
                move = ChooseInterior<4>(rowStart + x);
            } else {
                move = Choose(x, y);
            }
            codes[x] =
                move < 0 ? kNoMoveCode : codeOf_[move / kMaxTableProbe][move % kMaxTableProbe];
            ++x;
        }
    }

    // Call once the heights are final: with probe length 4 and every height
    // within +-(2^29 - 1), ray sums and 4 x a height fit in int32, and the
    // interior cells are decided kDecideChunk at a time in 32-bit lanes.
    // lowest, highest: the lowest and highest height.
    void CheckNarrowSums(int32_t lowest, int32_t highest) {
        narrowSums_ = CodesMoves() && probe_ == 4 && std::min(lowest, 0) > -(1 << 29) &&
                      std::max(highest, 0) < (1 << 29);
    }

private:
    bool Inside(int32_t x, int32_t y) const {
        return x >= probe_ && x < width_ - probe_ && y >= probe_ && y < height_ - probe_;
    }

    // ChooseInterior<4> for kDecideChunk neighbouring interior cells from p
    // on, as move codes: the same sums, comparisons and candidates in int32
    // lanes (exact under narrowSums_), in loops of fixed length that only
    // write local arrays, which the compiler vectorises.
    void DecideChunk(int64_t p, uint8_t* codes) const {
        const int32_t* h = heights_ + p;
        int32_t best[kDecideChunk];
        int32_t chosen[kDecideChunk];
        for (int32_t i = 0; i < kDecideChunk; ++i) {
            best[i] = 4 * h[i];
            chosen[i] = kNoMoveCode;
        }
        for (int32_t d = 0; d < 8; ++d) {
            const int32_t* ray0 = h + offsetIndex_[d][0];
            const int32_t* ray1 = h + offsetIndex_[d][1];
            const int32_t* ray2 = h + offsetIndex_[d][2];
            const int32_t* ray3 = h + offsetIndex_[d][3];
            const int32_t code0 = codeOf_[d][0];
            const int32_t code1 = codeOf_[d][1];
            const int32_t code2 = codeOf_[d][2];
            const int32_t code3 = codeOf_[d][3];
            for (int32_t i = 0; i < kDecideChunk; ++i) {
                const int32_t s1 = ray0[i];
                const int32_t s2 = s1 + ray1[i];
                const int32_t s3 = s2 + ray2[i];
                const int32_t sum = s3 + ray3[i];
                const int32_t candidate =
                    s3 == 0 ? code3 : (s2 == 0 ? code2 : (s1 == 0 ? code1 : code0));
                const bool lower = sum < best[i];
                best[i] = lower ? sum : best[i];
                chosen[i] = lower ? candidate : chosen[i];
            }
        }
        for (int32_t i = 0; i < kDecideChunk; ++i) codes[i] = static_cast<uint8_t>(chosen[i]);
    }

    int64_t WrappedCell(int32_t x, int32_t y, int32_t d, int32_t k) const {
        int32_t cx = x + offsetX_[d][k];
        int32_t cy = y + offsetY_[d][k];
        if (cx < 0) cx += width_;
        if (cx >= width_) cx -= width_;
        if (cy < 0) cy += height_;
        if (cy >= height_) cy -= height_;
        return cx + int64_t{cy} * width_;
    }

    // The winning ray d and its candidate step k as d * kMaxTableProbe + k,
    // or -1 for no move. Needs the offset tables and, near the edges,
    // interior_.
    int32_t Choose(int32_t x, int32_t y) const {
        const int64_t p = x + int64_t{y} * width_;
        if (Inside(x, y)) {
            // The new-land pipeline probes 4 cells: unrolled.
            if (probe_ == 4) return ChooseInterior<4>(p);
            return ChooseInterior<0>(p);
        }
        return ChooseWith(p,
                          [this, x, y](int32_t d, int32_t k) { return WrappedCell(x, y, d, k); });
    }

    template <int32_t kProbe>
    int32_t ChooseInterior(int64_t p) const {
        const int32_t probe = kProbe > 0 ? kProbe : probe_;
        const int32_t* h = heights_ + p;
        int64_t best = int64_t{probe} * h[0];
        int32_t chosen = -1;
        for (int32_t d = 0; d < 8; ++d) {
            const int64_t* offsets = offsetIndex_[d];
            int32_t candidate;
            int64_t sum;
            if (kProbe == 4) {
                // The ray's running sums before its 2nd, 3rd and 4th cells.
                const int64_t s1 = h[offsets[0]];
                const int64_t s2 = s1 + h[offsets[1]];
                const int64_t s3 = s2 + h[offsets[2]];
                sum = s3 + h[offsets[3]];
                candidate = s3 == 0 ? 3 : (s2 == 0 ? 2 : (s1 == 0 ? 1 : 0));
            } else {
                candidate = 0;
                sum = h[offsets[0]];
                for (int32_t k = 1; k < probe; ++k) {
                    if (sum == 0) candidate = k;
                    sum += h[offsets[k]];
                }
            }
            if (sum < best) {
                best = sum;
                chosen = d * kMaxTableProbe + candidate;
            }
        }
        return chosen;
    }

    template <typename CellOf>
    int32_t ChooseWith(int64_t p, CellOf cellOf) const {
        int64_t best = int64_t{probe_} * heights_[p];
        int32_t chosen = -1;
        for (int32_t d = 0; d < 8; ++d) {
            int64_t sum = 0;
            int32_t candidate = 0;
            for (int32_t k = 0; k < probe_; ++k) {
                if (sum == 0) candidate = k;
                sum += heights_[cellOf(d, k)];
            }
            if (sum < best) {
                best = sum;
                chosen = d * kMaxTableProbe + candidate;
            }
        }
        return chosen;
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
    uint8_t codeOf_[8][kMaxTableProbe] = {};  // MoveCode of each offset that has one
    bool narrowSums_ = false;
};

// Bit of a target's pull mask for a move by (dx, dy), |dx|, |dy| <= 1, not
// both 0: the probe order of the directions.
constexpr uint32_t NeighbourBit(int32_t dx, int32_t dy) {
    const int32_t d = (dx + 1) * 3 + (dy + 1);
    return uint32_t{1} << (d > 4 ? d - 1 : d);
}

// Sum of the neighbours of target x whose moves its mask names; the source
// of a move by (dx, dy) into (x, y) is (x - dx, y - dy). up, mid, down: the
// source rows y - 1, y, y + 1; left, right: the wrapped columns x - 1, x + 1.
inline int32_t PullCell(const int32_t* up, const int32_t* mid, const int32_t* down,
                        const uint8_t* bits, int32_t x, int32_t left, int32_t right) {
    const int32_t m = bits[x];
    return (down[right] & -(m & 1)) + (mid[right] & -((m >> 1) & 1)) +
           (up[right] & -((m >> 2) & 1)) + (down[x] & -((m >> 3) & 1)) + (up[x] & -((m >> 4) & 1)) +
           (down[left] & -((m >> 5) & 1)) + (mid[left] & -((m >> 6) & 1)) +
           (up[left] & -((m >> 7) & 1));
}

// PullCell for kPullChunk targets away from the row ends: a loop of fixed
// length that only reads memory, which the compiler vectorises.
constexpr int32_t kPullChunk = 16;
inline void PullChunk(const int32_t* up, const int32_t* mid, const int32_t* down,
                      const uint8_t* bits, int32_t start, int32_t* out) {
    int32_t sums[kPullChunk];
    for (int32_t i = 0; i < kPullChunk; ++i) {
        sums[i] = start + PullCell(up, mid, down, bits, i, i - 1, i + 1);
    }
    std::memcpy(out, sums, sizeof(sums));
}

// Flow counts from move codes, for walks of at most 64 moves whose counts
// fit in int32 (maxMoves x cells <= 2^31 - 1). With P moving every path one
// step on and s marking the start cells (the columns before tracedColumns),
// the counts are P s + ... + P^K s, K = maxMoves: E := s, then K - 1 times
// E := s + P E, and finally P E. P is applied by pulling: each cell adds up
// the neighbours that move into it, as its mask says; moves longer than one
// cell (rays across cells of height 0) are pushed separately. Integer sums,
// so the order does not matter.
//
// moves: cells move codes per source cell, then room for cells masks.
// splitRows(count, part) calls part(first, end, worker) for shares of the
// rows 0 ... count - 1 (on the generator's threads): every target row of a
// pull reads only the previous move's counts.
// Returns whichever of a and b holds the counts; the other is free. Null
// when the generation was abandoned.
template <typename SplitRows>
int32_t* PullFlowCounts(const LandGenerator& land, uint8_t* moves, int32_t* a, int32_t* b,
                        int32_t w, int32_t h, int32_t tracedColumns, int64_t maxMoves,
                        SplitRows& splitRows) {
    // Every 64th row tests whether the generation is being thrown away.
    auto abandonedAt = [&land](int32_t y) {
        return (y & LandGenerator::kRowCheckMask) == 0 && land.Abandoned();
    };
    const int64_t cells = int64_t{w} * h;
    uint8_t* code = moves;
    uint8_t* mask = moves + cells;
    auto wrap = [](int32_t v, int32_t limit) {
        return v < 0 ? v + limit : (v >= limit ? v - limit : v);
    };
    // Each target gathers its mask from the codes of its eight neighbours
    // (rows of targets are independent); then, in a second round, the
    // sources of those moves drop their codes, leaving only the longer
    // moves, whose rows each thread notes.
    auto maskRows = [&](int32_t yFirst, int32_t yEnd, int32_t) {
        for (int32_t y = yFirst; y < yEnd; ++y) {
            if (abandonedAt(y)) return;
            // Sources of moves with dy = 1, 0, -1 into row y.
            const uint8_t* rows[3] = {code + int64_t{wrap(y - 1, h)} * w, code + int64_t{y} * w,
                                      code + int64_t{wrap(y + 1, h)} * w};
            uint8_t* out = mask + int64_t{y} * w;
            for (int32_t x = 0; x < w; ++x) {
                // Sources of moves with dx = 1, 0, -1 into column x.
                const int32_t columns[3] = {wrap(x - 1, w), x, wrap(x + 1, w)};
                uint32_t bits = 0;
                for (int32_t dx = -1; dx <= 1; ++dx) {
                    for (int32_t dy = -1; dy <= 1; ++dy) {
                        if (dx == 0 && dy == 0) continue;
                        if (rows[1 - dy][columns[1 - dx]] == MoveCode(dx, dy)) {
                            bits |= NeighbourBit(dx, dy);
                        }
                    }
                }
                out[x] = static_cast<uint8_t>(bits);
            }
        }
    };
    splitRows(h, maskRows);
    if (land.Abandoned()) return nullptr;
    int32_t firstFar[ThreadPool::kMaxThreads];
    int32_t lastFar[ThreadPool::kMaxThreads];
    std::fill(firstFar, firstFar + ThreadPool::kMaxThreads, h);
    std::fill(lastFar, lastFar + ThreadPool::kMaxThreads, -1);
    auto dropNearMoves = [&](int32_t yFirst, int32_t yEnd, int32_t worker) {
        for (int32_t y = yFirst; y < yEnd; ++y) {
            if (abandonedAt(y)) return;
            uint8_t* row = code + int64_t{y} * w;
            for (int32_t x = 0; x < w; ++x) {
                const uint8_t c = row[x];
                if (c == kNoMoveCode) continue;
                const int32_t dx = CodeDx(c);
                const int32_t dy = CodeDy(c);
                if (dx >= -1 && dx <= 1 && dy >= -1 && dy <= 1) {
                    row[x] = kNoMoveCode;
                } else {
                    firstFar[worker] = std::min(firstFar[worker], y);
                    lastFar[worker] = y;
                }
            }
        }
    };
    splitRows(h, dropNearMoves);
    if (land.Abandoned()) return nullptr;
    const int32_t firstFarRow = *std::min_element(firstFar, firstFar + ThreadPool::kMaxThreads);
    const int32_t lastFarRow = *std::max_element(lastFar, lastFar + ThreadPool::kMaxThreads);

    int32_t* source = a;
    int32_t* target = b;
    auto startRows = [&](int32_t yFirst, int32_t yEnd, int32_t) {
        for (int32_t y = yFirst; y < yEnd; ++y) {
            int32_t* row = source + int64_t{y} * w;
            for (int32_t x = 0; x < w; ++x) row[x] = x < tracedColumns ? 1 : 0;
        }
    };
    splitRows(h, startRows);
    if (land.Abandoned()) return nullptr;
    for (int64_t move = 1; move <= maxMoves; ++move) {
        auto pullRows = [&](int32_t yFirst, int32_t yEnd, int32_t) {
            for (int32_t y = yFirst; y < yEnd; ++y) {
                if (abandonedAt(y)) return;
                const int32_t* up = source + int64_t{wrap(y - 1, h)} * w;
                const int32_t* mid = source + int64_t{y} * w;
                const int32_t* down = source + int64_t{wrap(y + 1, h)} * w;
                const uint8_t* bits = mask + int64_t{y} * w;
                int32_t* out = target + int64_t{y} * w;
                // Start cells add their own path, except in the last move.
                const int32_t start = move < maxMoves ? 1 : 0;
                auto startAt = [start, tracedColumns](int32_t x) {
                    return x < tracedColumns ? start : 0;
                };
                out[0] = startAt(0) + PullCell(up, mid, down, bits, 0, w - 1, w > 1 ? 1 : 0);
                int32_t x = 1;
                for (; x + kPullChunk < w; x += kPullChunk) {
                    const bool straddles = x < tracedColumns && x + kPullChunk > tracedColumns;
                    PullChunk(up + x, mid + x, down + x, bits + x, straddles ? 0 : startAt(x),
                              out + x);
                    for (int32_t i = x; straddles && i < tracedColumns; ++i) out[i] += start;
                }
                for (; x < w - 1; ++x)
                    out[x] = startAt(x) + PullCell(up, mid, down, bits, x, x - 1, x + 1);
                if (w > 1)
                    out[w - 1] = startAt(w - 1) + PullCell(up, mid, down, bits, w - 1, w - 2, 0);
            }
        };
        splitRows(h, pullRows);
        if (land.Abandoned()) return nullptr;
        // Moves across cells of height 0 land anywhere: pushed by this
        // thread alone, after the pulls.
        for (int32_t y = firstFarRow; y <= lastFarRow; ++y) {
            const int64_t rowStart = int64_t{y} * w;
            for (int32_t x = 0; x < w; ++x) {
                const uint8_t c = code[rowStart + x];
                if (c == kNoMoveCode) continue;
                const int32_t tx = wrap(x + CodeDx(c), w);
                const int32_t ty = wrap(y + CodeDy(c), h);
                target[tx + int64_t{ty} * w] += source[rowStart + x];
            }
        }
        std::swap(source, target);
    }
    return source;
}

// Flow counts for any walk: the paths advance together, one move per sweep
// over the map, carrying path counts from cell to cell. next: the next cell
// of every cell (kNoMove for none) and one spare cell; counts, following:
// cells + 1 each. Returns whichever of the two holds the counts, null when
// the generation was abandoned.
int32_t* SweepFlowCounts(const LandGenerator& land, int32_t* next, int32_t* counts,
                         int32_t* following, int32_t width, int32_t height, int32_t tracedColumns,
                         int64_t maxMoves, bool saturate) {
    const int64_t cells = int64_t{width} * height;
    // With P moving every path one step on and s marking the start cells,
    // the flow counts are P s + P^2 s + ... + P^K s for K = maxSteps + 1
    // moves (at least one), evaluated as P (s + P (s + ... P s)): K sweeps,
    // each moving (s + counts) one step on. Paths that end move to the extra
    // cell `sink`, which is never counted. All terms are non-negative, so
    // saturating sums give the exact counts clamped to int32.
    const int64_t sink = cells;
    for (int64_t p = 0; p < cells; ++p) {
        if (next[p] < 0) next[p] = static_cast<int32_t>(sink);
    }
    std::fill(counts, counts + cells + 1, 0);
    std::fill(following, following + cells + 1, 0);
    // A long walk can settle early: once every path has ended the counts no
    // longer change. Checking for that needs the previous counts, so long
    // walks clear them only after comparing.
    const bool checkSettled = maxMoves > 64;
    auto moveOn = [&](int64_t p, int32_t start) {
        const int32_t paths = counts[p];
        // Reading a count also clears it, so this map is all zero when it
        // becomes the next sweep's target.
        if (!checkSettled) counts[p] = 0;
        int32_t& target = following[next[p]];
        if (saturate) {
            target = SaturateInt32(int64_t{target} + paths + start);
        } else {
            target += paths + start;
        }
    };
    // Rows y and y + height / 2 are swept side by side: their targets lie
    // far apart, so the two chains of additions overlap instead of queuing
    // behind each other. The sums do not depend on the order.
    const int32_t halfRows = height / 2;
    for (int64_t move = 1; move <= maxMoves; ++move) {
        for (int32_t y = 0; y < halfRows; ++y) {
            if ((y & LandGenerator::kRowCheckMask) == 0 && land.Abandoned()) return nullptr;
            const int64_t rowA = int64_t{y} * width;
            const int64_t rowB = int64_t{y + halfRows} * width;
            for (int32_t x = 0; x < width; ++x) {
                const int32_t start = x < tracedColumns ? 1 : 0;
                moveOn(rowA + x, start);
                moveOn(rowB + x, start);
            }
        }
        for (int32_t y = 2 * halfRows; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) moveOn(int64_t{y} * width + x, x < tracedColumns);
        }
        following[sink] = 0;
        bool settled = false;
        if (checkSettled) {
            settled = std::equal(counts, counts + cells, following);
            std::fill(counts, counts + cells, 0);
        }
        std::swap(counts, following);
        if (settled) break;
    }
    return counts;
}
}  // namespace

// Returns false when its three scratch maps cannot be obtained (maps
// unchanged) or when a poll asked for an abort; after an abort the counts
// gathered so far are still applied and the heights are back at their
// normal scale.
bool LandGenerator::CarveFlowChannels(int32_t depthGain, int32_t colourGain, int32_t maxSteps,
                                      int32_t probeLength, int32_t flowBlurWeight) {
    const int64_t cells = CellCount();
    DescentDecider decider(heightMap, width, height, probeLength);
    const int64_t maxMoves = std::max<int64_t>(int64_t{maxSteps} + 1, 1);
    const bool saturate = maxMoves * cells > 2147483647;
    // Short walks over moves that fit a code gather the counts by pulling
    // (PullFlowCounts): moves holds one code and one mask byte per cell.
    // Otherwise next holds the next cell of every cell, and counts and
    // following take the flow sweeps below (one extra cell each for paths
    // that have ended).
    const bool pull = decider.CodesMoves() && maxMoves <= 64 && !saturate;
    uint8_t* moves = pull ? TakeScratch<uint8_t>(2 * cells) : nullptr;
    int32_t* next = pull ? nullptr : TakeScratch<int32_t>(cells + 1);
    int32_t* counts = TakeScratch<int32_t>(cells + 1);
    int32_t* following = TakeScratch<int32_t>(cells + 1);
    if ((moves == nullptr && next == nullptr) || counts == nullptr || following == nullptr) {
        GiveBackScratch(moves);
        GiveBackScratch(next);
        GiveBackScratch(counts);
        GiveBackScratch(following);
        return false;
    }
    // Gives up a generation that is being thrown away.
    auto abandon = [&]() {
        GiveBackScratch(moves);
        GiveBackScratch(next);
        GiveBackScratch(counts);
        GiveBackScratch(following);
        return false;
    };

    // Cell by cell, so the threads take shares of the rows.
    auto splitRows = [this](int32_t count, auto& part) { SplitRange(count, part); };
    // Heights saturate at +-2^31 / 1024 instead of overflowing.
    auto scaleRows = [&](int32_t yFirst, int32_t yEnd, int32_t) {
        for (int32_t y = yEnd - 1; y >= yFirst; --y) {
            if ((y & kRowCheckMask) == 0 && Abandoned()) return;
            const int64_t rowStart = int64_t{y} * width;
            for (int64_t i = rowStart + width - 1; i >= rowStart; --i) {
                heightMap[i] = SaturateInt32(int64_t{heightMap[i]} * 1024);
            }
        }
    };
    SplitRange(height, scaleRows);
    if (Abandoned()) return abandon();
    // The flow counts are not in use yet: their memory serves as the blur's
    // scratch map.
    bool complete = BlurMap(heightMap, counts, 0, 1);
    if (Abandoned()) return abandon();
    if (pull) decider.CheckNarrowSums(LowestHeight(), HighestHeight());

    // Paths start from the cells of the columns traced before an abort; the
    // moves are decided for every cell, since paths leave those columns.
    auto decideRow = [&](int32_t y, int32_t xa, int32_t xb) {
        const int64_t rowStart = int64_t{y} * width;
        if (pull) {
            decider.DecideCodes(y, xa, xb, moves + rowStart);
        } else {
            for (int32_t x = xa; x < xb; ++x) next[rowStart + x] = decider.Decide(x, y);
        }
    };
    // A move depends only on the heights: the threads take shares of the
    // rows of columns xa ... xb - 1.
    auto decideColumns = [&](int32_t xa, int32_t xb) {
        auto decideRows = [&](int32_t yFirst, int32_t yEnd, int32_t) {
            for (int32_t y = yFirst; y < yEnd; ++y) {
                if ((y & kRowCheckMask) == 0 && Abandoned()) return;
                decideRow(y, xa, xb);
            }
        };
        if (xa < xb) SplitRange(height, decideRows);
    };
    const int32_t hint = Hint(width);
    int32_t tracedColumns = 0;
    for (int32_t x0 = 0; x0 < width; x0 += kStripColumns) {
        bool aborted = false;
        const int32_t count = PollColumns(std::min(kStripColumns, width - x0), hint, &aborted);
        decideColumns(x0, x0 + count);
        if (Abandoned()) return abandon();
        tracedColumns = x0 + count;
        if (aborted) {
            complete = false;
            break;
        }
    }
    decideColumns(tracedColumns, width);
    if (Abandoned()) return abandon();

    int32_t* flow;
    if (pull) {
        flow = PullFlowCounts(*this, moves, counts, following, width, height, tracedColumns,
                              maxMoves, splitRows);
    } else {
        flow = SweepFlowCounts(*this, next, counts, following, width, height, tracedColumns,
                               maxMoves, saturate);
    }
    if (flow == nullptr) return abandon();
    GiveBackScratch(moves);
    GiveBackScratch(next);
    // The other count map is finished with: it becomes the flow blur's
    // scratch map.
    int32_t* spare = flow == counts ? following : counts;
    int32_t* heights = heightMap;
    heightMap = flow;
    complete = BlurMap(flow, spare, flowBlurWeight, 1) && complete;
    heightMap = heights;
    if (Abandoned()) return abandon();

    auto applyRows = [&](int32_t yFirst, int32_t yEnd, int32_t) {
        for (int32_t y = yEnd - 1; y >= yFirst; --y) {
            if ((y & kRowCheckMask) == 0 && Abandoned()) return;
            const int64_t rowStart = int64_t{y} * width;
            for (int64_t i = rowStart + width - 1; i >= rowStart; --i) {
                const int64_t visits = flow[i];
                heightMap[i] = SaturateInt32(Asr64(visits * depthGain + heightMap[i], 10));
                colourMap[i] =
                    AddToColourInline(colourMap[i], SaturateInt32(Asr64(visits * colourGain, 10)));
            }
        }
    };
    SplitRange(height, applyRows);
    if (Abandoned()) return abandon();
    GiveBackScratch(counts);
    GiveBackScratch(following);
    return complete;
}

void LandGenerator::FloodToLevel(int32_t level) {
    const int32_t hint = Hint(width);
    for (int32_t x0 = 0; x0 < width; x0 += kStripColumns) {
        bool aborted = false;
        const int32_t count = PollColumns(std::min(kStripColumns, width - x0), hint, &aborted);
        auto floodRows = [&](int32_t yFirst, int32_t yEnd, int32_t) {
            for (int32_t y = yFirst; y < yEnd && count > 0; ++y) {
                int32_t* row = heightMap + int64_t{y} * width + x0;
                for (int32_t i = 0; i < count; ++i) row[i] = std::max(row[i], level);
            }
        };
        SplitRange(height, floodRows);
        if (aborted) return;
    }
}

namespace {

// Adds every nonzero delta of cells first ... end - 1 to its colour cell,
// last cell first.
void ApplyDeltas(const int32_t* delta, uint32_t* colourMap, int64_t first, int64_t end) {
    for (int64_t i = end - 1; i >= first; --i) {
        if (delta[i] != 0) colourMap[i] = AddToColourInline(colourMap[i], delta[i]);
    }
}

// The delta map of a lighting step and, with blur passes, the blur's
// scratch map; false (nothing held) when either cannot be obtained.
bool AllocateDeltaMaps(LandGenerator& land, int64_t cells, int32_t blurPasses, int32_t*& delta,
                       int32_t*& blurScratch) {
    delta = land.TakeScratch<int32_t>(cells);
    blurScratch = blurPasses > 0 ? land.TakeScratch<int32_t>(cells) : nullptr;
    if (delta == nullptr || (blurPasses > 0 && blurScratch == nullptr)) {
        land.GiveBackScratch(delta);
        land.GiveBackScratch(blurScratch);
        return false;
    }
    return true;
}

}  // namespace

bool LandGenerator::ApplyDeltasOnThreads(const int32_t* delta) {
    auto applyRows = [&](int32_t yFirst, int32_t yEnd, int32_t) {
        // Row by row from the last, so that a generation being thrown away
        // stops here too.
        for (int32_t y = yEnd - 1; y >= yFirst; --y) {
            if ((y & kRowCheckMask) == 0 && Abandoned()) return;
            ApplyDeltas(delta, colourMap, int64_t{y} * width, int64_t{y + 1} * width);
        }
    };
    SplitRange(height, applyRows);
    return !Abandoned();
}

// Returns false when its scratch maps cannot be obtained (maps unchanged)
// or when the blur was aborted (the deltas are then applied unblurred).
bool LandGenerator::ShadeSlopes(int32_t strength, char direction, int32_t blurPasses,
                                int32_t blurWeight) {
    const int64_t cells = CellCount();
    int32_t* delta = nullptr;
    int32_t* blurScratch = nullptr;
    if (!AllocateDeltaMaps(*this, cells, blurPasses, delta, blurScratch)) return false;
    // Gives up a generation that is being thrown away.
    auto abandon = [&]() {
        GiveBackScratch(blurScratch);
        GiveBackScratch(delta);
        return false;
    };

    const int64_t k = Asr(strength, 1);
    const bool vertical = direction == 'd' || direction == 'u';
    const int64_t gain = (direction == 'd' || direction == 'l') ? k : -k;
    // Each row of deltas reads only the heights: the threads take shares.
    auto shadeRows = [&](int32_t yFirst, int32_t yEnd, int32_t) {
        for (int32_t y = yFirst; y < yEnd; ++y) {
            if ((y & kRowCheckMask) == 0 && Abandoned()) return;
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
                out[x] = SaturateInt32(gain * slope);
            }
        }
    };
    SplitRange(height, shadeRows);
    if (Abandoned()) return abandon();

    bool complete = true;
    if (blurPasses > 0) {
        int32_t* heights = heightMap;
        heightMap = delta;
        complete = BlurMap(delta, blurScratch, blurWeight, blurPasses);
        heightMap = heights;
    }
    if (!ApplyDeltasOnThreads(delta)) return abandon();
    GiveBackScratch(blurScratch);
    GiveBackScratch(delta);
    return complete;
}

// Returns false when its scratch maps cannot be obtained (maps unchanged) or
// when a poll asked for an abort (the finished lines are then applied
// unblurred).
bool LandGenerator::CastShadows(int32_t shadowDelta, int32_t litDelta, char direction,
                                int32_t dropPerCell, int32_t blurPasses, int32_t blurWeight) {
    const int64_t cells = CellCount();
    int32_t* delta = nullptr;
    int32_t* blurScratch = nullptr;
    if (!AllocateDeltaMaps(*this, cells, blurPasses, delta, blurScratch)) return false;
    // Gives up a generation that is being thrown away.
    auto abandon = [&]() {
        GiveBackScratch(blurScratch);
        GiveBackScratch(delta);
        return false;
    };

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

    // Lines are independent: after each line's poll on this thread, the
    // threads take batches of them.
    auto castLines = [&](int32_t first, int32_t count, int32_t) {
        for (int32_t line = first; line < first + count; ++line) {
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
    };
    int32_t linesDone = 0;
    bool complete = ForEachBatch(lines, kShadowBatchLines, lines, castLines, &linesDone);
    if (Abandoned()) return abandon();
    // Lines not reached stay without a delta.
    for (int32_t rest = linesDone; rest < lines; ++rest) {
        int64_t p = lineStart(rest);
        for (int32_t i = 0; i < length; ++i, p += step) delta[p] = 0;
    }

    if (blurPasses > 0) {
        int32_t* heights = heightMap;
        heightMap = delta;
        complete = BlurMap(delta, blurScratch, blurWeight, blurPasses) && complete;
        heightMap = heights;
    }
    if (!ApplyDeltasOnThreads(delta)) return abandon();
    GiveBackScratch(blurScratch);
    GiveBackScratch(delta);
    return complete;
}
