// Render.cpp - the banked column ray marcher that draws the land, water,
// objects and sky into the frame.
//
// The picture is a square rotated frame of diagonal x diagonal pixels,
// centred on the output frame and turned by the bank angle; each of its
// columns is one ray marched over the wrapping height map. A sample paints
// the column from the highest row painted so far up to its own projected
// row, so every row of a column is painted at most once. Whatever is left
// above is sky, and water mixes the land colour with the sky continued
// below the horizon. Objects are marks in the object cell map; a ray that
// enters a marked cell records a span that is painted into the pixels the
// ray paints afterwards.
//
// Units: map positions in 1/1024 cell; pixel positions of the walk in
// 1/1024 pixel (x right, y up, frame row 0 at the bottom); the depth
// accumulator E in ray-step units, depth index j = E >> 19; object texel
// accumulators in 1/1024 texel.
//
// Speed: a column's walk crosses the picture on one stretch of pixel
// counters [inFirst, inEnd), found once per column from the walk's linear
// position, so the march never tests a pixel against the picture. The first
// position inside the picture is not painted by the land (only by the sky),
// and the walk ends at the first position past the picture. The march takes
// its samples in runs that cannot wrap, widen or end (no tests but the
// object cell map and the projection), and sets the colours of the column's
// pixel counters in a buffer. Neighbouring columns are marched as a group,
// a stretch of samples of each in turn, so that their rays find the cells
// they share still in the cache (see MarchGroup); each group is then written
// into the frame as one block, in an order that keeps every pixel's writes
// in the original order (see WriteBlock). Only the painting of object spans
// goes pixel by pixel as written in the reference.
//
// Scratch: one buffer of kBlockSize x diagonal colours per call (allocated
// with AllocateArray; when that fails the frame is left as it was) and the
// spans of the current column on the stack. The view's own span arrays are
// not used. Frames whose rows alias in the first-level cache are drawn into
// the view's padded copy of the frame (kept from frame to frame; without it
// they are drawn in place, the same bits, more slowly; see RowsAlias).
//
// Exactness: the frame equals, bit for bit, that of the plain reference
// renderer in tests/view/RenderReference.cpp. Values that can outgrow 32 bits
// (the ray steps of the outermost columns of very wide frames, the step
// products, the depth accumulator, projections of out-of-range heights) are
// computed in 64 bits; columns whose steps could cross more than one map
// side per sample take the general march.
#include "view/Render.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <thread>

#include "land/Scratch.h"
#include "land/ThreadPool.h"
#include "view/FlightView.h"

#if defined(__GNUC__)
// The sample loop gets its own register allocation instead of sharing the
// column loop's.
#define RENDER_NOINLINE __attribute__((noinline))
#else
#define RENDER_NOINLINE
#endif

namespace {

constexpr int32_t kMaxFrameSide = 16384;
constexpr int32_t kSpanCapacity = 1024;  // at most one span per sample
// Columns marched before they are written into the frame together.
constexpr int32_t kBlockSize = 32;
// The write-out of a block (see WriteBlock): counters per stretch, and the
// counters by which each column trails the one marched before it.
constexpr int32_t kStretch = 128;
constexpr int32_t kLag = 4;
// Frame rows ahead of a column's run whose cache lines are asked for before
// the run writes them.
constexpr int64_t kPrefetchRows = 64;
// Object images taller than this are not drawn: it keeps a span's texel
// arithmetic far inside 64 bits whatever the tables hold.
constexpr int32_t kMaxSliceLength = 1 << 16;

// Asks for the cache line at byte address `address` ahead of a write. Only a
// hint: the address may lie outside the frame (it is never dereferenced, and
// it is formed as an integer, not by pointer arithmetic past the frame).
inline void PrefetchForWrite(uintptr_t address) {
#if defined(__GNUC__)
    __builtin_prefetch(reinterpret_cast<const void*>(address), 1);
#else
    (void)address;
#endif
}

int64_t Modulo(int64_t value, int64_t divisor) {
    int64_t r = value % divisor;
    return r < 0 ? r + divisor : r;
}

int64_t FloorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

int64_t CeilDiv(int64_t a, int64_t b) {
    return -FloorDiv(-a, b);
}

// The counters n >= 0 for which lo <= a + n * d <= hi, as [first, end);
// empty when first >= end.
void LinearRange(int64_t a, int64_t d, int64_t lo, int64_t hi, int64_t& first, int64_t& end) {
    if (d == 0) {
        if (a >= lo && a <= hi) return;
        first = 1;
        end = 0;
        return;
    }
    int64_t from, to;  // inclusive
    if (d > 0) {
        from = CeilDiv(lo - a, d);
        to = FloorDiv(hi - a, d);
    } else {
        from = CeilDiv(hi - a, d);
        to = FloorDiv(lo - a, d);
    }
    if (from > first) first = from;
    if (to + 1 < end) end = to + 1;
}

struct Spans {
    int32_t count;
    int64_t step[kSpanCapacity];
    int64_t texel[kSpanCapacity];  // 1/1024 texel
    int64_t start[kSpanCapacity];  // pixel counter of the next unpainted pixel
    int64_t end[kSpanCapacity];
    int64_t length[kSpanCapacity];
    const uint32_t* texels[kSpanCapacity];

    // True when some span may cover a counter in [a, b).
    bool Touch(int64_t a, int64_t b) const {
        for (int32_t l = 0; l < count; ++l) {
            if (start[l] < b && end[l] > a) return true;
        }
        return false;
    }

    // The pixel at counter n over background, nearest object first; moves
    // every span it consults past n.
    uint32_t Paint(int64_t n, uint32_t background) {
        for (int32_t l = 0; l < count; ++l) {
            if (n < start[l] || n >= end[l]) continue;
            // Pixels of the span hidden by nearer land catch up here, one
            // step short.
            if (n > start[l]) texel[l] += (n - start[l] - 1) * step[l];
            start[l] = n + 1;
            const int64_t index = texel[l] >> 10;
            const uint32_t t = (index >= 0 && index < length[l]) ? texels[l][index] : 0;
            texel[l] += step[l];
            if (t != 0) return t;
        }
        return background;
    }
};

// Frame-wide constants of one Render.
struct Scene {
    FlightView* view;
    uint32_t* frame;
    int32_t width;
    const int32_t* heights;
    const uint32_t* colours;
    const uint16_t* cellMap;  // null without objects
    int32_t mapStride;
    int32_t xLimit, yLimit;
    int32_t diagonal;
    int32_t altitude;
    int32_t horizonRow;
    int32_t waterLevel;
    const int32_t* depthScale;
    const int32_t* depthScaleInverse;
    int32_t viewDistance;
    int64_t maxDepth;
    int64_t threshold;
    bool hasSky;
    const uint32_t* sky;
    int64_t skyWidth, skyHeight, skySize;
    int32_t cb, sb;  // one pixel up a column, 1/1024 pixel
    // With |sb| < cb (the picture banked by less than 45 degrees), from a
    // pixel position whose fraction (1/1024 pixel) is f, the walk stays in
    // its frame column for columnSteps[f of px] - 1 more counters and moves
    // up one frame row at each of the next rowSteps[f of py] - 1 counters
    // (INT32_MAX: for the whole column, as with sb = 0 or cb = 1024).
    bool runs;
    const int32_t* columnSteps;
    const int32_t* rowSteps;
    Spans* spans;
};

// One column of the rotated frame. Its pixel walk puts counter n at
// (px0 + n x sb, py0 + n x cb) in 1/1024 pixel, that is on frame row
// (py >> 10) and column (px >> 10), and paints, after a diagonal move into
// counter n, the gap pixel (new row, old column) as well. Counters
// [inFirst, inEnd) lie inside the picture.
//
// The march and the sky pass first set the colours of the counters they
// paint in `colours` (objects applied, in the order of the walk); one pass
// then writes the painted stretch of counters into the frame.
struct Column {
    int32_t px0, py0;
    int64_t inFirst, inEnd;
    int64_t sky;        // sky texel of the column's start row
    uint32_t* colours;  // by pixel counter, diagonal entries
};

// Records the span of an object cell entered at depth index j.
RENDER_NOINLINE void DiscoverSpan(const Scene& s, int64_t cell, int64_t j) {
    FlightView& v = *s.view;
    const int32_t entry = s.cellMap[cell];
    const int32_t slot = entry >> 8;
    const int32_t slice = (entry & 0xFF) - 1;
    Spans& spans = *s.spans;
    if (slot >= v.slotCount || spans.count >= kSpanCapacity) return;
    const SkyObject& o = v.objects[slot];
    const int64_t scale = s.depthScale[j];
    const int64_t start = s.diagonal -
                          (((static_cast<int64_t>(s.altitude) - o.altitude) * scale) >> 10) -
                          s.horizonRow;
    const int64_t end = ((o.sliceLength * scale) >> 10) + start;
    // A span that no pixel counter of the column reaches is never painted.
    if (o.image == nullptr || slice >= o.sliceCount || o.sliceLength < 1 ||
        o.sliceLength > kMaxSliceLength || end <= start || end <= 0 || start > s.diagonal) {
        return;
    }
    const int32_t l = spans.count++;
    spans.step[l] = s.depthScaleInverse[j];
    spans.start[l] = start;
    spans.end[l] = end;
    spans.texel[l] = 0;
    spans.length[l] = o.sliceLength;
    spans.texels[l] = o.image + static_cast<int64_t>(slice) * o.sliceLength;
}

// The sky texel shown on row `row` of a column whose start row shows texel
// skyStart: each row down the column is one texel back, within a sky row.
inline int64_t SkyTexelOnRow(int64_t skyStart, int64_t row, int64_t skyHeight) {
    int64_t t = skyStart - row;
    while (t < 0) t += skyHeight;
    return t;
}

// Water: the land colour halved plus, halved, the sky texel that the sky
// pass would show on row top (sky null: no sky).
inline uint32_t WaterColour(uint32_t land, const uint32_t* sky, int64_t skyStart, int64_t skyHeight,
                            int64_t top) {
    const uint32_t colour = (land >> 1) & 0x7F7F7F;
    if (sky == nullptr) return colour;
    return colour + ((sky[SkyTexelOnRow(skyStart, top, skyHeight)] >> 1) & 0x7F7F7F);
}

// The colour of a land segment that starts at row top over a cell of height
// h: the cell's own colour above the water level, water at or below it.
inline uint32_t SegmentColour(const Scene& s, const Column& column, int64_t cell, int32_t h,
                              int64_t top) {
    const uint32_t land = s.colours[cell];
    if (h > s.waterLevel) return land;
    return WaterColour(land, s.sky, column.sky, s.skyHeight, top);
}

// The land segment of counters [n0, n1). The first counter inside the
// picture is not painted by the land, and spans only see painted pixels.
void FillLand(const Scene& s, const Column& column, int64_t n0, int64_t n1, uint32_t colour) {
    const int64_t a = n0 > column.inFirst + 1 ? n0 : column.inFirst + 1;
    const int64_t b = n1 < column.inEnd ? n1 : column.inEnd;
    uint32_t* colours = column.colours;
    if (s.spans->count != 0 && s.spans->Touch(a, b)) {
        for (int64_t n = a; n < b; ++n) colours[n] = s.spans->Paint(n, colour);
        return;
    }
    for (int64_t n = a; n < b; ++n) colours[n] = colour;
}

struct Ray {
    int64_t x, y;  // position units
    int64_t dxBase, dyBase;
    int64_t base;  // ray-step units
};

// Brings a ray coordinate (position units) that has just taken a step back
// into [0, limit); true when it wrapped. One side's addition or subtraction
// serves for steps shorter than a side, the remainder for longer ones.
bool WrapCoordinate(int64_t& value, int64_t limit) {
    if (value < 0) {
        value += limit;
    } else if (value >= limit) {
        value -= limit;
    } else {
        return false;
    }
    if (value < 0 || value >= limit) value = Modulo(value, limit);
    return true;
}

// The general march: 64-bit positions that may cross several map sides per
// sample (the outermost columns of very wide frames) and clamped depth
// indices. Returns top, the highest row painted (0 when the walk left the
// picture).
int32_t MarchGeneral(const Scene& s, const Column& column, const Ray& ray) {
    int64_t dx = ray.dxBase, dy = ray.dyBase, step = ray.base;
    int64_t k = 1, g = 0, e = 0;
    int64_t x = ray.x, y = ray.y;
    int32_t top = s.diagonal;
    int64_t lastCell = -1;
    do {
        y += dy;
        if (WrapCoordinate(y, s.yLimit)) lastCell = -1;
        x += dx;
        if (WrapCoordinate(x, s.xLimit)) lastCell = -1;
        const int64_t cell = (y >> 10) * s.mapStride + (x >> 10);
        int64_t j = e >> 19;
        if (j >= s.viewDistance) j = s.viewDistance - 1;
        if (s.cellMap != nullptr && cell != lastCell && s.cellMap[cell] != 0) {
            DiscoverSpan(s, cell, j);
            lastCell = cell;
        }
        const int32_t h = s.heights[cell];
        int64_t row =
            (((static_cast<int64_t>(s.altitude) - h) * s.depthScale[j]) >> 10) + s.horizonRow;
        if (row < 0) {
            row = 0;
            e = s.maxDepth;
        }
        if (row < top) {
            const uint32_t colour = SegmentColour(s, column, cell, h, top);
            const int64_t n0 = s.diagonal - top;
            const int64_t n1 = s.diagonal - row;
            FillLand(s, column, n0, n1, colour);
            top = static_cast<int32_t>(row);
            if (n1 > column.inEnd) return 0;  // the walk left the picture
        }
        g += k;
        if (g > s.threshold) {
            k += 1;
            g = 0;
            dx += ray.dxBase;
            dy += ray.dyBase;
            step += ray.base;
        }
        e += step;
    } while (e < s.maxDepth);
    return top;
}

// A run of samples that neither wraps, nor ends the ray, nor widens the step
// before its last sample. Its loop tests nothing but the object cell map and
// the projection and calls nothing, so that its state stays in registers;
// the samples that paint fill their counters in place.
struct Run {
    // Position units; the fields of x and y are kept apart so that the
    // compiler keeps them in plain registers.
    int64_t x, dx, e, y, dy;
    int64_t step;        // depth accumulator e and its step
    int64_t topProduct;  // (top - horizonRow) x 1024
    int64_t lastCell;
    const int32_t* heights;
    const int32_t* depthScale;
    const uint16_t* cellMap;
    int64_t stride;
    int64_t altitude;
    // For the samples that paint.
    int32_t top;
    bool spansActive;  // spans found: painting goes through them
    int32_t waterLevel;
    int32_t horizonRow;
    int32_t diagonal;
    int64_t inEnd;
    const uint32_t* mapColours;
    uint32_t* colours;    // the column's colours by counter
    const uint32_t* sky;  // null without a sky
    int64_t skyStart, skyHeight;
};

// Takes the samples of the run until its depth accumulator reaches eEnd.
// Stops early at a sample that enters a new object cell, or paints while
// spans are active, or ends the ray by painting: its position is then taken
// but nothing else done, its depth step not yet added, and its cell is
// returned. Returns -1 when the run is complete.
template <bool kObjects>
RENDER_NOINLINE int64_t TakeSamples(Run& run, int64_t eEnd) {
    int64_t x = run.x, y = run.y, e = run.e;
    const int64_t dx = run.dx, dy = run.dy, step = run.step;
    int64_t topProduct = run.topProduct;
    const int32_t* heights = run.heights;
    const int32_t* depthScale = run.depthScale;
    const uint16_t* cellMap = run.cellMap;
    const int64_t stride = run.stride, altitude = run.altitude;
    int64_t stop = -1;
    do {
        y += dy;
        x += dx;
        const int64_t c = (y >> 10) * stride + (x >> 10);
        if (kObjects && cellMap[c] != 0 && c != run.lastCell) {
            stop = c;
            break;
        }
        const int32_t h = heights[c];
        const int64_t product = (altitude - h) * depthScale[e >> 19];
        if (product < topProduct) {
            const int64_t row = (product >> 10) + run.horizonRow;
            const int64_t n1 = run.diagonal - row;
            if ((kObjects && run.spansActive) || row <= 0 || n1 > run.inEnd) {
                stop = c;
                break;
            }
            uint32_t colour = run.mapColours[c];
            if (h <= run.waterLevel) {
                colour = WaterColour(colour, run.sky, run.skyStart, run.skyHeight, run.top);
            }
            // Counters outside the picture are filled too; they are never
            // written to the frame.
            uint32_t* colours = run.colours;
            for (int64_t m = run.diagonal - run.top; m < n1; ++m) colours[m] = colour;
            run.top = static_cast<int32_t>(row);
            topProduct = (row - run.horizonRow) * 1024;
        }
        e += step;
    } while (e != eEnd);
    run.x = x;
    run.y = y;
    run.e = e;
    run.topProduct = topProduct;
    return stop;
}

// A sample of the fast march that paints: fills the counters from top to
// its row and lowers top. Returns the new (top - horizonRow) x 1024, or
// kRayEnded when this sample is the ray's last (row above the frame's top,
// or the walk left the picture), top then being 0. (A row of exactly 0 ends
// the ray too: nothing is left to paint above it.)
constexpr int64_t kRayEnded = INT64_MIN;

template <bool kObjects>
int64_t PaintSample(const Scene& s, const Column& column, int64_t cell, int32_t h, int64_t product,
                    int32_t& top) {
    int64_t row = (product >> 10) + s.horizonRow;
    if (row < 0) row = 0;
    const uint32_t colour = SegmentColour(s, column, cell, h, top);
    const int64_t n0 = s.diagonal - top;
    const int64_t n1 = s.diagonal - row;
    if (kObjects) {
        FillLand(s, column, n0, n1, colour);
    } else {
        // Counters outside the picture are filled too; they are never
        // written to the frame.
        uint32_t* colours = column.colours;
        for (int64_t n = n0; n < n1; ++n) colours[n] = colour;
    }
    top = static_cast<int32_t>(row);
    if (row == 0 || n1 > column.inEnd) {
        top = 0;
        return kRayEnded;
    }
    return (row - s.horizonRow) * 1024;
}

// The number of steps of d from position p that stay inside [0, limit), at
// most n.
int64_t SamplesBefore(int64_t p, int64_t d, int64_t limit, int64_t n) {
    int64_t inside = n;
    if (d > 0) {
        inside = (limit - 1 - p) / d;
    } else if (d < 0) {
        inside = p / -d;
    }
    return inside < n ? inside : n;
}

// The march of every other column: every step stays below one map side, so
// one addition or subtraction wraps a coordinate, and depth indices stay
// inside the depth tables.
//
// A sample paints when its row ((altitude - h) x depthScale[j] >> 10) +
// horizonRow lies above top, that is when the product itself lies below
// (top - horizonRow) x 1024, so the row is only formed for the samples that
// paint. The step widens after a count of samples per level: trunc(threshold
// / k) + 1 at level k.
//
// The march can stop after a budget of samples and go on later (see
// MarchGroup): its whole state is kept here.
struct FastMarch {
    Run run;
    int64_t k;          // step level
    int64_t remaining;  // samples left at this level
};

void StartFastMarch(const Scene& s, const Column& column, const Ray& ray, FastMarch& m) {
    Run& run = m.run;
    run.x = ray.x;
    run.y = ray.y;
    run.dx = ray.dxBase;
    run.dy = ray.dyBase;
    run.e = 0;
    run.step = ray.base;
    run.top = s.diagonal;
    run.topProduct = (static_cast<int64_t>(run.top) - s.horizonRow) * 1024;
    run.lastCell = -1;
    run.heights = s.heights;
    run.depthScale = s.depthScale;
    run.cellMap = s.cellMap;
    run.stride = s.mapStride;
    run.altitude = s.altitude;
    run.spansActive = false;
    run.waterLevel = s.waterLevel;
    run.horizonRow = s.horizonRow;
    run.diagonal = s.diagonal;
    run.inEnd = column.inEnd;
    run.mapColours = s.colours;
    run.colours = column.colours;
    run.sky = s.sky;  // null without a sky
    run.skyStart = column.sky;
    run.skyHeight = s.skyHeight;
    m.k = 1;
    m.remaining = s.threshold < 0 ? 1 : s.threshold + 1;
}

// Takes up to `budget` more samples (all of them once the ray has found an
// object: the column's spans are the only ones there are). Returns top as
// MarchGeneral when the ray has ended, or kMarchGoesOn.
constexpr int32_t kMarchGoesOn = -1;

template <bool kObjects>
RENDER_NOINLINE int32_t MarchFast(const Scene& s, const Column& column, const Ray& ray,
                                  FastMarch& m, int64_t budget) {
    constexpr int64_t kRunLength = 256;
    Run& run = m.run;
    int64_t& k = m.k;
    int64_t& remaining = m.remaining;
    const int64_t xLimit = s.xLimit, yLimit = s.yLimit;
    const int64_t maxDepth = s.maxDepth;

    // The rest of a sample whose position is taken: object cell, projection,
    // painting. False when the ray ends.
    auto finishSample = [&](int64_t cell) {
        if (kObjects && run.cellMap[cell] != 0 && cell != run.lastCell) {
            DiscoverSpan(s, cell, run.e >> 19);
            run.lastCell = cell;
            run.spansActive = s.spans->count != 0;
        }
        const int32_t h = run.heights[cell];
        const int64_t product = (run.altitude - h) * run.depthScale[run.e >> 19];
        if (product < run.topProduct) {
            run.topProduct = PaintSample<kObjects>(s, column, cell, h, product, run.top);
            if (run.topProduct == kRayEnded) return false;
        }
        return true;
    };
    auto widen = [&]() {
        k += 1;
        remaining = s.threshold < 0 ? 1 : s.threshold / k + 1;
        run.dx += ray.dxBase;
        run.dy += ray.dyBase;
        run.step += ray.base;
    };

    for (;;) {
        if (s.spans->count != 0) budget = INT64_MAX;
        if (budget <= 0) return kMarchGoesOn;
        int64_t n = remaining < kRunLength ? remaining : kRunLength;
        if (n > budget) n = budget;
        const int64_t xEnd = run.x + n * run.dx, yEnd = run.y + n * run.dy;
        if (xEnd < 0 || xEnd >= xLimit || yEnd < 0 || yEnd >= yLimit ||
            run.e + (n - 1) * run.step >= maxDepth) {
            // Near a map edge or the ray's end: the run stops before the
            // sample that wraps, and with the ray's last sample.
            n = SamplesBefore(run.x, run.dx, xLimit, n);
            n = SamplesBefore(run.y, run.dy, yLimit, n);
            const int64_t last = (maxDepth - run.e - 1) / run.step + 1;
            if (last < n) n = last;
        }
        if (n > 0) {
            const int64_t eEnd = run.e + n * run.step;
            for (;;) {
                const int64_t cell = TakeSamples<kObjects>(run, eEnd);
                if (cell < 0) break;
                if (!finishSample(cell)) return run.top;
                run.e += run.step;
                if (run.e == eEnd) break;
            }
            budget -= n;
            remaining -= n;
            if (remaining == 0) {
                // The run's last sample widened the step before its depth
                // step.
                widen();
                run.e += ray.base;
            }
            if (run.e >= maxDepth) return run.top;
            continue;
        }
        // The sample that wraps, with every test; a wrap forgets the last
        // object cell.
        run.y += run.dy;
        if (WrapCoordinate(run.y, yLimit)) run.lastCell = -1;
        run.x += run.dx;
        if (WrapCoordinate(run.x, xLimit)) run.lastCell = -1;
        if (!finishSample((run.y >> 10) * run.stride + (run.x >> 10))) return run.top;
        budget -= 1;
        if (--remaining == 0) widen();
        run.e += run.step;
        if (run.e >= maxDepth) return run.top;
    }
}

// The sky pass over the counters [diagonal - top, diagonal - 1): the sky
// texel of counter n is one further along the sky buffer than that of
// counter n - 1, stepping back one row at the end of the buffer.
void FillSky(const Scene& s, const Column& column, int64_t top) {
    const int64_t n0 = s.diagonal - top;
    const int64_t a = n0 > column.inFirst ? n0 : column.inFirst;
    const int64_t last = s.diagonal - 1;
    const int64_t b = last < column.inEnd ? last : column.inEnd;
    if (a >= b) return;
    uint32_t* colours = column.colours;
    const bool spans = s.spans->count != 0 && s.spans->Touch(a, b);
    if (!s.hasSky) {
        for (int64_t n = a; n < b; ++n) colours[n] = spans ? s.spans->Paint(n, 0u) : 0u;
        return;
    }
    int64_t t = SkyTexelOnRow(column.sky, top, s.skyHeight) + (a - n0);
    if (t >= s.skySize) t = s.skySize - s.skyWidth + Modulo(t - s.skySize, s.skyWidth);
    int64_t n = a;
    while (n < b) {
        const int64_t run = s.skySize - t < b - n ? s.skySize - t : b - n;
        if (spans) {
            for (int64_t i = 0; i < run; ++i) colours[n + i] = s.spans->Paint(n + i, s.sky[t + i]);
        } else {
            std::memcpy(colours + n, s.sky + t, static_cast<std::size_t>(run) * 4);
        }
        n += run;
        t += run;
        if (t == s.skySize) t -= s.skyWidth;
    }
}

// A column of a group: its ray, its march and, once the ray has ended, top
// (the highest row the land painted).
struct ColumnJob {
    Column column;
    Ray ray;
    int32_t index;  // place in the order of the columns, 0 first
    bool fast;
    FastMarch march;
    int32_t top;
    bool done;
};

// Marches a group of neighbouring columns and their sky passes. Their rays
// run side by side over the same cells, so the group advances together, a
// stretch of kGroupStretch samples per column at a time, while those cells
// are still in the cache. A ray that finds an object is marched to its end at
// once, and its sky pass made, since the spans of one column are kept at a
// time; every column starts with no spans.
void MarchGroup(const Scene& s, ColumnJob* jobs, int32_t count) {
    constexpr int64_t kGroupStretch = 32;
    auto finish = [&s](ColumnJob& job, int32_t top) {
        job.top = top;
        if (top > 1) FillSky(s, job.column, top);
        s.spans->count = 0;
        job.done = true;
    };
    int32_t active = 0;
    for (int32_t i = 0; i < count; ++i) {
        ColumnJob& job = jobs[i];
        job.done = false;
        if (job.fast) {
            StartFastMarch(s, job.column, job.ray, job.march);
            ++active;
        } else {
            finish(job, MarchGeneral(s, job.column, job.ray));
        }
    }
    while (active != 0) {
        for (int32_t i = 0; i < count; ++i) {
            ColumnJob& job = jobs[i];
            if (job.done) continue;
            const int32_t top =
                s.cellMap != nullptr
                    ? MarchFast<true>(s, job.column, job.ray, job.march, kGroupStretch)
                    : MarchFast<false>(s, job.column, job.ray, job.march, kGroupStretch);
            if (top == kMarchGoesOn) continue;
            finish(job, top);
            --active;
        }
    }
}

// A marched column waiting to be written into the frame: its painted
// counters [first, end) with their colours, and its walk's progress.
struct PendingColumn {
    int32_t px0, py0;  // position of counter 0, 1/1024 pixel
    int32_t inFirst;   // first counter inside the picture
    int32_t first, end;
    const uint32_t* colours;
    // Pixels (row x width + column) that a later thread writes, sorted:
    // this column leaves them alone (null: writes all of its pixels).
    const int64_t* skip;
    int32_t skipCount;
    int32_t index;  // the column's place in the order of the columns
    // The walk: next counter n, its position (pxv, pyv), and the frame row
    // r, column c and pixel p of counter n - 1.
    int32_t n;
    int32_t pxv, pyv;
    int32_t r, c;
    uint32_t* p;
};

// Starts a column's write-out with its first painted counter. That counter
// gets the gap pixel of a diagonal move only when the walk was inside the
// picture before it.
void StartColumn(const Scene& s, PendingColumn& w) {
    const int32_t sb = s.sb, cb = s.cb;
    w.pxv = w.px0 + w.first * sb;
    w.pyv = w.py0 + w.first * cb;
    w.r = w.pyv >> 10;
    w.c = w.pxv >> 10;
    w.p = s.frame + static_cast<int64_t>(w.r) * s.width + w.c;
    const uint32_t value = w.colours[w.first];
    *w.p = value;
    if (w.first > w.inFirst) {
        const int32_t pr = (w.pyv - cb) >> 10, pc = (w.pxv - sb) >> 10;
        if (w.r != pr && w.c != pc) w.p[pc - w.c] = value;
    }
    w.pxv += sb;
    w.pyv += cb;
    w.n = w.first + 1;
}

// Writes the column's counters up to (not including) stop. Counter n lies on
// frame row (pyv >> 10) and column (pxv >> 10); the walk moves its pixel by
// at most one row and one column per counter, and a diagonal move also
// paints the gap pixel (new row, old column) after the pixel itself.
void WriteCounters(const Scene& s, PendingColumn& w, int32_t stop) {
    const int32_t sb = s.sb, cb = s.cb;
    const int64_t width = s.width;
    const uintptr_t prefetchBytes = static_cast<uintptr_t>(kPrefetchRows * width * 4);
    const uint32_t* colours = w.colours;
    int32_t n = w.n, pxv = w.pxv, pyv = w.pyv, r = w.r, c = w.c;
    uint32_t* p = w.p;
    if (s.runs) {
        while (n < stop) {
            // Up one row per counter in the same frame column until the
            // next counter that changes column or stays in its row.
            const int32_t fx = (pxv - sb) & 1023, fy = (pyv - cb) & 1023;
            const int32_t steps =
                s.columnSteps[fx] < s.rowSteps[fy] ? s.columnSteps[fx] : s.rowSteps[fy];
            const int32_t plain = steps - 1 < stop - n ? steps - 1 : stop - n;
            for (int32_t i = 0; i < plain; ++i) {
                p += width;
                // The line kPrefetchRows further up: the first column of a
                // block to get there finds it on its way, the others in
                // the cache.
                PrefetchForWrite(reinterpret_cast<uintptr_t>(p) + prefetchBytes);
                *p = colours[n + i];
            }
            n += plain;
            pxv += plain * sb;
            pyv += plain * cb;
            r += plain;
            if (n >= stop) break;
            const int32_t nr = pyv >> 10, nc = pxv >> 10;
            const uint32_t value = colours[n];
            if (nr != r) p += width;
            p += nc - c;
            *p = value;
            if (nr != r && nc != c) p[c - nc] = value;
            r = nr;
            c = nc;
            pxv += sb;
            pyv += cb;
            ++n;
        }
    } else {
        uint32_t* frame = s.frame;
        for (; n < stop; ++n) {
            const uint32_t value = colours[n];
            const int32_t nr = pyv >> 10;
            const int32_t nc = pxv >> 10;
            uint32_t* line = frame + nr * width;
            line[nc] = value;
            if (nr != r && nc != c) line[c] = value;
            r = nr;
            c = nc;
            pxv += sb;
            pyv += cb;
        }
        p = frame + r * width + c;
    }
    w.n = n;
    w.pxv = pxv;
    w.pyv = pyv;
    w.r = r;
    w.c = c;
    w.p = p;
}

// True when the pixel belongs to a later thread's column.
inline bool Skipped(const PendingColumn& w, int64_t pixel) {
    return std::binary_search(w.skip, w.skip + w.skipCount, pixel);
}

// StartColumn and WriteCounters, pixel by pixel, for a column that leaves
// the pixels in its skip list alone.
void StartColumnFiltered(const Scene& s, PendingColumn& w) {
    const int32_t sb = s.sb, cb = s.cb;
    const int64_t width = s.width;
    w.pxv = w.px0 + w.first * sb;
    w.pyv = w.py0 + w.first * cb;
    w.r = w.pyv >> 10;
    w.c = w.pxv >> 10;
    const uint32_t value = w.colours[w.first];
    const int64_t pixel = w.r * width + w.c;
    if (!Skipped(w, pixel)) s.frame[pixel] = value;
    if (w.first > w.inFirst) {
        const int32_t pr = (w.pyv - cb) >> 10, pc = (w.pxv - sb) >> 10;
        const int64_t gap = w.r * width + pc;
        if (w.r != pr && w.c != pc && !Skipped(w, gap)) s.frame[gap] = value;
    }
    w.p = s.frame + pixel;
    w.pxv += sb;
    w.pyv += cb;
    w.n = w.first + 1;
}

void WriteCountersFiltered(const Scene& s, PendingColumn& w, int32_t stop) {
    const int32_t sb = s.sb, cb = s.cb;
    const int64_t width = s.width;
    int32_t n = w.n, pxv = w.pxv, pyv = w.pyv, r = w.r, c = w.c;
    for (; n < stop; ++n) {
        const uint32_t value = w.colours[n];
        const int32_t nr = pyv >> 10;
        const int32_t nc = pxv >> 10;
        const int64_t pixel = nr * width + nc;
        if (!Skipped(w, pixel)) s.frame[pixel] = value;
        const int64_t gap = nr * width + c;
        if (nr != r && nc != c && !Skipped(w, gap)) s.frame[gap] = value;
        r = nr;
        c = nc;
        pxv += sb;
        pyv += cb;
    }
    w.n = n;
    w.pxv = pxv;
    w.pyv = pyv;
    w.r = r;
    w.c = c;
    w.p = s.frame + r * width + c;
}

// The pixels (row x width + column) a marched column writes, in the order
// of its walk, into `pixels` (room for 2 x (end - first) entries); returns
// their count.
int32_t ListPixels(const Scene& s, const PendingColumn& w, int64_t* pixels) {
    const int32_t sb = s.sb, cb = s.cb;
    const int64_t width = s.width;
    int32_t count = 0;
    int32_t pxv = w.px0 + w.first * sb, pyv = w.py0 + w.first * cb;
    int32_t r = pyv >> 10, c = pxv >> 10;
    pixels[count++] = r * width + c;
    if (w.first > w.inFirst) {
        const int32_t pr = (pyv - cb) >> 10, pc = (pxv - sb) >> 10;
        if (r != pr && c != pc) pixels[count++] = r * width + pc;
    }
    for (int32_t n = w.first + 1; n < w.end; ++n) {
        pxv += sb;
        pyv += cb;
        const int32_t nr = pyv >> 10, nc = pxv >> 10;
        pixels[count++] = nr * width + nc;
        if (nr != r && nc != c) pixels[count++] = nr * width + c;
        r = nr;
        c = nc;
    }
    return count;
}

// Writes a block of marched columns into the frame. Column by column, the
// frame would be written one pixel per cache line; instead the block's
// columns advance together, each a stretch of kStretch counters at a time
// and each kLag counters behind the one marched before it: counter n of
// column i is written in stretch (n + i x kLag) / kStretch, and within a
// stretch the columns go in the order they were marched.
//
// The order still gives every pixel its writes in the order of the columns
// (and of the counters within a column). A write of counter n of column i
// lands in a pixel that holds a point within |sb| <= 1024 units, along x, of
// the grid point g(i, n) = start + i x (-cb, sb) + n x (sb, cb); two writes
// to one pixel thus have grid points less than 1024 x sqrt(2) + 1024 units
// apart. Grid steps are at least 1022 units long and at right angles, so
// columns i < j meet in a pixel only for j - i <= 2 and counters m >= n - 2
// (m >= n - 1 when j - i = 2), while the lag puts counter n of column i
// before counter n + kLag x (j - i) of column j. Any lag of 3 or more and
// any stretch length keep the order, whatever the block size.
//
// Sizes: longer stretches mean fewer interruptions of a column's runs (each
// resumption costs table look-ups), and more columns per block mean more of
// each frame cache line written while it is held; 32 columns of 128
// counters measured fastest on large frames, with the block's colours
// (32 x diagonal x 4 bytes, 440 KB at diagonal 3443) still inside a
// 512 KB second-level cache.
void WriteBlock(const Scene& s, PendingColumn* block, int32_t count) {
    int64_t from = INT64_MAX, to = INT64_MIN;
    for (int32_t i = 0; i < count; ++i) {
        const int64_t lo = (block[i].first + static_cast<int64_t>(i) * kLag) / kStretch;
        const int64_t hi = (block[i].end + static_cast<int64_t>(i) * kLag) / kStretch + 1;
        if (lo < from) from = lo;
        if (hi > to) to = hi;
        block[i].n = block[i].first;
    }
    for (int64_t q = from; q < to; ++q) {
        for (int32_t i = 0; i < count; ++i) {
            PendingColumn& w = block[i];
            int64_t stop = (q + 1) * kStretch - static_cast<int64_t>(i) * kLag;
            if (stop > w.end) stop = w.end;
            if (stop <= w.n) continue;
            if (w.skip != nullptr) {
                if (w.n == w.first) StartColumnFiltered(s, w);
                WriteCountersFiltered(s, w, static_cast<int32_t>(stop));
                continue;
            }
            if (w.n == w.first) StartColumn(s, w);
            WriteCounters(s, w, static_cast<int32_t>(stop));
        }
    }
}

// Marches a group of columns and lists those that painted in `block`;
// returns their count. The painted counters of each column form one
// stretch: the land's from just after the first counter inside the picture
// (or the sky's from that counter, when the land never reached it), up to
// the end of the sky pass, or to where the walk left the picture. (top is 0
// both when the walk left the picture and when the land reached row 0.)
int32_t MarchAndCollectGroup(const Scene& s, ColumnJob* jobs, int32_t count, PendingColumn* block) {
    MarchGroup(s, jobs, count);
    const int64_t diag = s.diagonal;
    int32_t pending = 0;
    for (int32_t i = 0; i < count; ++i) {
        const ColumnJob& job = jobs[i];
        const Column& column = job.column;
        const int64_t landEnd = diag - job.top;
        const int64_t paintedEnd = job.top > 1 ? diag - 1 : landEnd;
        const int64_t end = paintedEnd < column.inEnd ? paintedEnd : column.inEnd;
        const int64_t first = landEnd > column.inFirst ? column.inFirst + 1 : column.inFirst;
        if (first >= end) continue;
        PendingColumn& w = block[pending++];
        w.px0 = column.px0;
        w.py0 = column.py0;
        w.inFirst = static_cast<int32_t>(column.inFirst);
        w.first = static_cast<int32_t>(first);
        w.end = static_cast<int32_t>(end);
        w.colours = column.colours;
        w.skip = nullptr;
        w.skipCount = 0;
        w.index = job.index;
    }
    return pending;
}

// Marches a group of columns and writes those that painted into the frame
// as one block.
void MarchAndWriteGroup(const Scene& s, ColumnJob* jobs, int32_t count, PendingColumn* block) {
    const int32_t pending = MarchAndCollectGroup(s, jobs, count, block);
    if (pending != 0) WriteBlock(s, block, pending);
}

// The highest step level any ray of base step at least minBase reaches
// before its depth accumulator ends the ray (an upper bound).
int64_t MaxLevel(int64_t minBase, int64_t maxDepth, int64_t threshold) {
    int64_t e = 0, k = 1;
    while (e < maxDepth) {
        const int64_t samples = threshold < 0 ? 1 : threshold / k + 1;
        const int64_t stride = k * minBase;
        const int64_t needed = (maxDepth - e + stride - 1) / stride;
        if (samples - 1 >= needed) break;
        e += (samples - 1) * stride + (k + 1) * minBase;
        k += 1;
    }
    return k + 1;
}

// --- Several threads ---------------------------------------------------------
//
// The columns, in their order, are split into one chunk of neighbouring
// columns per thread (at least kBlockSize columns each); every thread marches
// and writes its chunk exactly as a single thread would. Only the first few
// columns of a chunk can share pixels with the last few of the chunk before
// it (columns i < j meet only for j - i <= 2, see WriteBlock; kBoundary
// keeps a margin of one), and a single thread would have written the later
// chunk's pixels last. So each chunk publishes its first columns' geometry as
// soon as its first group is marched, and the thread of the chunk before
// leaves every pixel those columns write to them: no pixel is written by two
// threads, and each gets the value it gets from one thread.
constexpr int32_t kBoundary = 3;

struct Boundary {
    std::atomic<int32_t> ready;  // 1 once head is filled in
    int32_t count;
    PendingColumn head[kBoundary];  // the chunk's first painting columns
};

struct ThreadedFrame {
    int32_t threads = 0;
    int32_t diagonal = 0;
    ColumnJob* jobs = nullptr;  // every column that enters the picture, in order
    int32_t jobCount = 0;
    int32_t chunks = 0;
    uint32_t* colours = nullptr;     // a block's colours per thread
    Boundary* boundaries = nullptr;  // per chunk
    int64_t* skips = nullptr;        // a skip list per chunk, skipCapacity entries
    int64_t skipCapacity = 0;
    const Scene* scene = nullptr;

    ~ThreadedFrame() {
        FreeArray(jobs);
        FreeArray(colours);
        FreeArray(boundaries);
        FreeArray(skips);
    }

    bool Allocate(const FlightView& v) {
        threads = PoolSize(v.threadPool);
        diagonal = v.diagonal;
        skipCapacity = static_cast<int64_t>(kBoundary) * 2 * diagonal;
        jobs = AllocateArray<ColumnJob>(diagonal);
        if (jobs == nullptr) return false;
        colours = AllocateArrayForOverwrite<uint32_t>(static_cast<int64_t>(threads) * kBlockSize *
                                                      diagonal);
        if (colours == nullptr) return false;
        boundaries = AllocateArray<Boundary>(threads);
        if (boundaries == nullptr) return false;
        skips = AllocateArrayForOverwrite<int64_t>(threads * skipCapacity);
        return skips != nullptr;
    }

    void Render(const Scene& s, ThreadPool& pool) {
        if (jobCount == 0) return;
        scene = &s;
        chunks = jobCount / kBlockSize;
        if (chunks > threads) chunks = threads;
        if (chunks < 1) chunks = 1;
        auto task = [this](int32_t worker) {
            if (worker < chunks) RenderChunk(worker);
        };
        pool.Run(task);
    }

    void RenderChunk(int32_t t) {
        Scene s = *scene;
        Spans spans;
        spans.count = 0;
        s.spans = &spans;
        const int32_t from = static_cast<int32_t>(static_cast<int64_t>(jobCount) * t / chunks);
        const int32_t to = static_cast<int32_t>(static_cast<int64_t>(jobCount) * (t + 1) / chunks);
        const bool hasNext = t + 1 < chunks;
        const int32_t nextFirst = hasNext ? jobs[to].index : INT32_MAX;
        uint32_t* own = colours + static_cast<int64_t>(t) * kBlockSize * diagonal;
        bool published = t == 0;
        int64_t* skip = skips + t * skipCapacity;
        int32_t skipCount = -1;  // not yet listed
        PendingColumn block[kBlockSize];
        for (int32_t g = from; g < to; g += kBlockSize) {
            const int32_t count = to - g < kBlockSize ? to - g : kBlockSize;
            for (int32_t i = 0; i < count; ++i) {
                jobs[g + i].column.colours = own + static_cast<int64_t>(i) * diagonal;
            }
            const int32_t pending = MarchAndCollectGroup(s, jobs + g, count, block);
            if (!published) {
                Boundary& b = boundaries[t];
                const int32_t previousLast = jobs[from - 1].index;
                b.count = 0;
                for (int32_t i = 0; i < pending && b.count < kBoundary; ++i) {
                    if (block[i].index <= previousLast + kBoundary) b.head[b.count++] = block[i];
                }
                b.ready.store(1, std::memory_order_release);
                published = true;
            }
            for (int32_t i = 0; i < pending && hasNext; ++i) {
                if (block[i].index < nextFirst - kBoundary) continue;
                if (skipCount < 0) skipCount = ListNextChunkPixels(s, t + 1, skip);
                block[i].skip = skip;
                block[i].skipCount = skipCount;
            }
            if (pending != 0) WriteBlock(s, block, pending);
        }
    }

    // Waits for chunk `next` to publish its first columns and lists, sorted,
    // the pixels they write.
    int32_t ListNextChunkPixels(const Scene& s, int32_t next, int64_t* pixels) {
        Boundary& b = boundaries[next];
        while (b.ready.load(std::memory_order_acquire) == 0) std::this_thread::yield();
        int32_t count = 0;
        for (int32_t i = 0; i < b.count; ++i) count += ListPixels(s, b.head[i], pixels + count);
        std::sort(pixels, pixels + count);
        return count;
    }
};

// Rows a multiple of 256 bytes apart (frames 512, 768 or 1024 pixels wide,
// say) fall into at most 16 of the 64 sets of a 48 KiB first-level data
// cache: a 512-pixel row is 32 lines long, so a frame column's pixels take
// turns in two sets and the write-out's stretch of 128 rows evicts its own
// lines at nearly every pixel. Such frames are drawn into a copy whose rows
// are one line (kRowPadding pixels) longer, an odd number of lines, so that
// consecutive rows use every set; the copy is filled from the frame first,
// since a frame need not paint every pixel, and copied back afterwards.
constexpr int32_t kRowPadding = 16;

bool RowsAlias(int32_t width) {
    return (static_cast<int64_t>(width) * 4) % 256 == 0;
}

// The view's padded copy for its frame, or null when it cannot be had.
uint32_t* PaddedFrame(FlightView& v, int64_t stride) {
    const int64_t pixels = stride * v.frameHeight;
    if (v.paddedFrame != nullptr && v.paddedFramePixels == pixels) return v.paddedFrame;
    FreeArray(v.paddedFrame);
    v.paddedFramePixels = 0;
    v.paddedFrame = AllocateArrayForOverwrite<uint32_t>(pixels);
    if (v.paddedFrame != nullptr) v.paddedFramePixels = pixels;
    return v.paddedFrame;
}

// Copies the rows [from, to) of width pixels between frames of different
// strides.
void CopyRows(uint32_t* to, int64_t toStride, const uint32_t* from, int64_t fromStride,
              int64_t width, int64_t firstRow, int64_t endRow) {
    for (int64_t r = firstRow; r < endRow; ++r) {
        std::memcpy(to + r * toStride, from + r * fromStride, static_cast<std::size_t>(width) * 4);
    }
}

}  // namespace

void RenderLandscape(FlightView& v) {
    if (v.cosTable == nullptr || v.sinTable == nullptr || v.rayStepTable == nullptr ||
        v.depthScale == nullptr || v.depthScaleInverse == nullptr || v.bankTable == nullptr ||
        v.frame == nullptr || v.heightMap == nullptr || v.colourMap == nullptr) {
        return;
    }
    if (v.frameWidth < 1 || v.frameHeight < 1 || v.heightMapWidth < 1 || v.xLimit < 1 ||
        v.yLimit < 1 || v.angleUnits < 1 || v.diagonal < 1 || v.viewDistance < 1) {
        return;
    }
    // The pixel walk's 1/1024-pixel positions stay inside 32 bits for frames
    // the view accepts (sides up to 16384).
    if (v.frameWidth > kMaxFrameSide || v.frameHeight > kMaxFrameSide ||
        v.diagonal > 2 * kMaxFrameSide) {
        return;
    }
    // With more than one thread, the columns are split over the pool (see
    // ThreadedFrame); when its scratch cannot be had, one thread draws the
    // same frame.
    ThreadedFrame threaded;
    const bool useThreads = PoolSize(v.threadPool) > 1 && threaded.Allocate(v);
    // Colours by counter for a block of columns; without them this frame
    // is not drawn (the previous one stays).
    uint32_t* colours =
        useThreads ? nullptr
                   : AllocateArray<uint32_t>(static_cast<int64_t>(kBlockSize) * v.diagonal);
    if (!useThreads && colours == nullptr) return;
    PendingColumn block[kBlockSize];
    // Scratch of the current column.
    Spans spans;
    spans.count = 0;

    Scene s;
    s.view = &v;
    s.frame = v.frame;
    s.width = v.frameWidth;
    if (RowsAlias(v.frameWidth)) {
        const int64_t stride = static_cast<int64_t>(v.frameWidth) + kRowPadding;
        uint32_t* padded = PaddedFrame(v, stride);
        if (padded != nullptr) {
            CopyRows(padded, stride, v.frame, v.frameWidth, v.frameWidth, 0, v.frameHeight);
            s.frame = padded;
            s.width = static_cast<int32_t>(stride);
        }
    }
    s.heights = v.heightMap;
    s.colours = v.colourMap;
    const bool hasObjects = v.objects != nullptr && v.objectCellMap != nullptr && v.slotCount > 0;
    s.cellMap = hasObjects ? v.objectCellMap : nullptr;
    s.mapStride = v.heightMapWidth;
    s.xLimit = v.xLimit;
    s.yLimit = v.yLimit;
    s.diagonal = v.diagonal;
    s.altitude = v.altitude;
    s.horizonRow = v.horizonRow;
    s.waterLevel = v.waterLevel;
    s.depthScale = v.depthScale;
    s.depthScaleInverse = v.depthScaleInverse;
    s.viewDistance = v.viewDistance;
    s.maxDepth = v.maxRayDepth;
    s.threshold = v.stepGrowthThreshold;
    s.hasSky = v.sky != nullptr && v.skyWidth >= 1 && v.skyHeight >= 1;
    s.sky = s.hasSky ? v.sky : nullptr;
    s.skyWidth = s.hasSky ? v.skyWidth : 1;
    s.skyHeight = s.hasSky ? v.skyHeight : 1;
    s.skySize = s.skyWidth * s.skyHeight;
    s.spans = &spans;

    const int32_t diag = v.diagonal;
    const int32_t units = v.angleUnits;
    const int32_t heading = static_cast<int32_t>(Modulo(v.heading, units));
    const int32_t b = static_cast<int32_t>(Modulo(v.bankAngle, units));
    const int64_t cameraX = Modulo(v.positionX, v.xLimit);
    const int64_t cameraY = Modulo(v.positionY, v.yLimit);
    s.cb = v.cosTable[b];
    s.sb = v.sinTable[b];
    int32_t columnSteps[1024], rowSteps[1024];
    s.runs = s.cb > 0 && s.cb <= 1024 && (s.sb < 0 ? -s.sb : s.sb) < s.cb;
    s.columnSteps = columnSteps;
    s.rowSteps = rowSteps;
    if (s.runs) {
        const int32_t across = s.sb < 0 ? -s.sb : s.sb;
        const int32_t lag = 1024 - s.cb;  // fraction lost per counter
        for (int32_t f = 0; f < 1024; ++f) {
            if (across == 0) {
                columnSteps[f] = INT32_MAX;
            } else {
                columnSteps[f] = s.sb > 0 ? (1024 - f + across - 1) / across : f / across + 1;
            }
            rowSteps[f] = lag == 0 ? INT32_MAX : f / lag + 1;
        }
    }
    int32_t skip = v.bankTable[b].edgeSkip;
    if (skip < 1) skip = 1;
    int32_t startX = v.bankTable[b].startX - skip * s.cb;
    int32_t startY = v.bankTable[b].startY + skip * s.sb;
    int64_t skyRow = heading - skip;
    if (skyRow >= s.skyHeight) skyRow = Modulo(skyRow, s.skyHeight);
    const int64_t elevationBase = Modulo(v.horizonRow, s.skyWidth);

    // Columns whose steps stay below a map side in both coordinates at the
    // highest level their rays reach, with depth indices inside the tables,
    // take the fast march.
    int64_t minBase = INT64_MAX;
    for (int32_t i = 0; i < diag; ++i) {
        const int64_t base = v.rayStepTable[i] < 1 ? 1 : v.rayStepTable[i];
        if (base < minBase) minBase = base;
    }
    const int64_t maxLevel = MaxLevel(minBase, s.maxDepth, s.threshold);
    const bool depthInTables = s.maxDepth < 1 || ((s.maxDepth - 1) >> 19) < s.viewDistance;

    const int64_t xMax = static_cast<int64_t>(v.frameWidth) * 1024 - 1;
    const int64_t yMax = static_cast<int64_t>(v.frameHeight) * 1024 - 1;

    // Columns are marched in groups of up to kBlockSize (see MarchGroup) and
    // each group is then written into the frame as one block.
    ColumnJob jobs[kBlockSize];
    int32_t jobCount = 0;
    for (int32_t c = diag - skip; c >= skip + 1; --c) {
        // The stretch of pixel counters inside the picture; a column that
        // never enters it leaves no trace.
        int64_t inFirst = 0, inEnd = diag;
        LinearRange(startX, s.sb, 1, xMax, inFirst, inEnd);
        LinearRange(startY, s.cb, 1, yMax, inFirst, inEnd);
        if (inFirst < inEnd) {
            int64_t sky = skyRow * s.skyWidth + elevationBase;
            while (sky >= s.skySize) sky -= s.skyHeight;
            while (sky < 0) sky += s.skyHeight;

            int32_t az = c - (diag >> 1) + heading;
            if (az >= units) {
                az -= units;
            } else if (az < 0) {
                az += units;
            }
            ColumnJob& job = useThreads ? threaded.jobs[threaded.jobCount++] : jobs[jobCount];
            job.index = diag - skip - c;
            Ray& ray = job.ray;
            ray.base = v.rayStepTable[c] < 1 ? 1 : v.rayStepTable[c];
            ray.dxBase = (v.cosTable[az] * ray.base) >> 20;
            ray.dyBase = (v.sinTable[az] * ray.base) >> 20;
            ray.x = cameraX;
            ray.y = cameraY;
            // (A thread gives its columns their colours as it marches them.)
            uint32_t* columnColours =
                useThreads ? nullptr : colours + static_cast<int64_t>(jobCount) * diag;
            job.column = Column{startX, startY, inFirst, inEnd, sky, columnColours};
            const int64_t reachX = (ray.dxBase < 0 ? -ray.dxBase : ray.dxBase) * maxLevel;
            const int64_t reachY = (ray.dyBase < 0 ? -ray.dyBase : ray.dyBase) * maxLevel;
            job.fast = depthInTables && reachX < s.xLimit && reachY < s.yLimit;
            if (!useThreads) ++jobCount;
        }
        skyRow -= 1;
        if (skyRow < 0) skyRow += s.skyHeight;
        startX -= s.cb;
        startY += s.sb;
        if (jobCount == kBlockSize) {
            MarchAndWriteGroup(s, jobs, jobCount, block);
            jobCount = 0;
        }
    }
    if (jobCount != 0) MarchAndWriteGroup(s, jobs, jobCount, block);
    FreeArray(colours);
    if (useThreads) threaded.Render(s, *v.threadPool);
    if (s.frame != v.frame) {
        CopyRows(v.frame, v.frameWidth, s.frame, s.width, v.frameWidth, 0, v.frameHeight);
    }
}

void FlightView::Render() {
    if (!CanRender()) return;
    MoveObjects();
    RenderLandscape(*this);
}
