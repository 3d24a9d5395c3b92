// RenderMarch.cpp - marching a group of ray columns over the wrapping height
// map: each sample projects the height of the cell under it onto the column
// and, when it rises above everything nearer, sets the colours of the pixel
// counters up to its row (land, or water mirroring the sky); objects found
// along the ray are painted into the counters painted after them; the sky
// fills what is left above.
//
// Speed: the march takes its samples in runs that cannot wrap, widen or end
// (no tests but the object cell map and the projection; see TakeSamples);
// neighbouring columns are marched as a group, a stretch of samples of each
// in turn, so that their rays find the cells they share still in the cache
// (see MarchGroup). Only the painting of object spans goes pixel by pixel as
// written in the reference. Columns whose steps could cross more than one
// map side per sample take the general march (MarchGeneral), in 64 bits.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/Units.h"
#include "sky/ObjectSet.h"
#include "view/RenderInternal.h"

namespace render {
namespace {

// Object images taller than this are not drawn: it keeps a span's texel
// arithmetic far inside 64 bits whatever the tables hold.
constexpr int32_t kMaxSliceLength = 1 << 16;

// Records the span of an object cell entered at depth index j.
RENDER_NOINLINE void DiscoverSpan(const Scene& s, int64_t cell, int64_t j) {
    const int32_t entry = s.cellMap[cell];
    const int32_t slot = entry >> 8;
    const int32_t slice = (entry & 0xFF) - 1;
    Spans& spans = *s.spans;
    if (slot >= s.slotCount || spans.count >= kSpanCapacity) return;
    const SkyObject& o = s.objects[slot];
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

// Brings a ray coordinate (position units) that has just taken a step back
// into [0, limit); true when it wrapped. One side's addition or subtraction
// serves for steps shorter than a side, the remainder for longer ones.
inline bool WrapRay(int64_t& value, int64_t limit) {
    if (value >= 0 && value < limit) return false;
    value = WrapCoordinate(value, static_cast<int32_t>(limit));
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
        if (WrapRay(y, s.yLimit)) lastCell = -1;
        x += dx;
        if (WrapRay(x, s.xLimit)) lastCell = -1;
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

// The longest run of samples TakeSamples is asked to take (MarchFast keeps
// its runs within it): its notes of painting samples have room for a run.
constexpr int64_t kRunLength = 256;
// The painting pass writes fills of up to this many counters at once.
constexpr int64_t kShortFill = 16;

// Takes the samples of the run until its depth accumulator reaches eEnd.
// Stops early at a sample that enters a new object cell, or paints while
// spans are active, or ends the ray by painting (its product below
// run.leaveProduct): its position is then taken but nothing else done, its
// depth step not yet added, and its cell is returned. Returns -1 when the
// run is complete.
//
// Both coordinates of the ray travel in one register, xy = y x 2^32 + x:
// within a run 0 <= x < xLimit < 2^31 at every sample, so adding
// dxy = dy x 2^32 + dx (dx of either sign) gives (y + dy) x 2^32 + (x + dx)
// with the new x again in the low 32 bits and y in the high ones. Two
// registers fewer keep the loop's state out of memory.
//
// Which samples paint is as hard to predict as the land, and a mispredicted
// branch throws away the loads of the samples after it. So the loop only
// notes the samples that paint, without a branch, and they are painted in
// order once the loop is done. topProduct is always a multiple of 1024, so
// a sample paints exactly when its product rounded down to one is below
// it, and that rounded product is the new topProduct. A sample that would
// leave the run (painting below leaveProduct) is tested on its own.
//
// With kSampleMap one 2-byte word a sample holds both the object mark and
// the height (see FlightView::sampleMap).
template <bool kObjects, bool kSampleMap>
RENDER_NOINLINE int64_t TakeSamples(Run& run, int64_t eEnd) {
    int64_t xy = run.y * (int64_t{1} << 32) + run.x, e = run.e;
    const int64_t dxy = run.dy * (int64_t{1} << 32) + run.dx, step = run.step;
    int64_t topProduct = run.topProduct;
    const int32_t* heights = run.heights;
    const uint16_t* sampleMap = run.sampleMap;
    const int32_t* depthScale = run.depthScale;
    const uint16_t* cellMap = run.cellMap;
    const uint32_t* mapColours = run.mapColours;
    const int64_t stride = run.stride, altitude = run.altitude;
    // min(leaveProduct, topProduct) keeps its value for the whole call:
    // without spans topProduct never falls below leaveProduct while the ray
    // goes on (a sample that paints there ends it), and with spans every
    // sample that paints stops the run before topProduct changes.
    const int64_t stopProduct = run.leaveProduct < topProduct ? run.leaveProduct : topProduct;
    int64_t stop = -1;
    int64_t paintCells[kRunLength];
    int64_t paintProducts[kRunLength];
    int64_t painted = 0;
    do {
        xy += dxy;
        const int64_t c = (xy >> 42) * stride + (static_cast<uint32_t>(xy) >> 10);
        int32_t h;
        if (kSampleMap) {
            const int32_t word = sampleMap[c];
            if (kObjects && word >= ObjectSet::kSampleObjectMark && c != run.lastCell) {
                stop = c;
                break;
            }
            h = word & ObjectSet::kSampleHeightMask;
        } else {
            if (kObjects && cellMap[c] != 0 && c != run.lastCell) {
                stop = c;
                break;
            }
            h = heights[c];
        }
        const int64_t product = (altitude - h) * depthScale[e >> 19];
        if (product < stopProduct) {
            stop = c;
            break;
        }
        const int64_t floored = product & ~int64_t{1023};  // (product >> 10) x 1024
        paintCells[painted] = c;
        paintProducts[painted] = floored;
        // The painting pass reads this cell's colour if it paints. Between
        // frames (40 ms apart, or a refresh) the colour map leaves the cache,
        // and its lines, read only after the run, stalled that pass: asked
        // for here, every sample's line is on its way by then. Asking only
        // for the painting samples' lines (a conditional address) costs more
        // than it saves.
        RENDER_PREFETCH(mapColours + c);
        painted += floored < topProduct ? 1 : 0;
        topProduct = floored < topProduct ? floored : topProduct;
        e += step;
    } while (e != eEnd);
    // The painting pass. Counters outside the picture are filled too; they
    // are never written to the frame. The run's fields are read into locals
    // once: the compiler cannot tell that the colours written here leave
    // them alone.
    uint32_t* colours = run.colours;
    const int64_t horizonRow = run.horizonRow, diagonal = run.diagonal;
    const int32_t waterLevel = run.waterLevel;
    int64_t top = run.top;
    for (int64_t i = 0; i < painted; ++i) {
        const int64_t c = paintCells[i];
        const int64_t row = (paintProducts[i] >> 10) + horizonRow;
        uint32_t colour = mapColours[c];
        const int32_t h = kSampleMap ? sampleMap[c] & ObjectSet::kSampleHeightMask : heights[c];
        if (h <= waterLevel) {
            colour = WaterColour(colour, run.sky, run.skyStart, run.skyHeight, top);
        }
        // Most fills are a few counters, and a loop that stops at another
        // count each time mispredicts its end, so a short fill writes
        // kShortFill counters at once. The counters past n1 are painted
        // again (by the next samples or the sky pass) or lie outside the
        // stretch the write-out reads (see MarchAndCollectGroup); the
        // column's colours end at diagonal.
        const int64_t from = diagonal - top, n1 = diagonal - row;
        if (n1 - from <= kShortFill && from + kShortFill <= diagonal) {
            for (int64_t k = 0; k < kShortFill; ++k) colours[from + k] = colour;
        } else {
            for (int64_t m = from; m < n1; ++m) colours[m] = colour;
        }
        top = row;
    }
    run.top = static_cast<int32_t>(top);
    run.x = static_cast<uint32_t>(xy);
    run.y = xy >> 32;
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

// A sample of a run whose row is r paints there unless the spans are
// active (painting then goes through them), r <= 0 (the ray ends) or
// diagonal - r > inEnd (the walk leaves the picture); both ends come to
// r < max(1, diagonal - inEnd), that is to a product below
// (max(1, diagonal - inEnd) - horizonRow) x 1024 (row = (product >> 10) +
// horizonRow).
void SetLeaveProduct(Run& run, bool spansActive) {
    if (spansActive) {
        run.leaveProduct = INT64_MAX;
        return;
    }
    const int64_t lowest = run.diagonal - run.inEnd > 1 ? run.diagonal - run.inEnd : 1;
    run.leaveProduct = (lowest - run.horizonRow) * 1024;
}

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
    run.sampleMap = s.sampleMap;
    run.depthScale = s.depthScale;
    run.cellMap = s.cellMap;
    run.stride = s.mapStride;
    run.altitude = s.altitude;
    run.waterLevel = s.waterLevel;
    run.horizonRow = s.horizonRow;
    run.diagonal = s.diagonal;
    run.inEnd = column.inEnd;
    run.mapColours = s.colours;
    run.colours = column.colours;
    run.sky = s.sky;  // null without a sky
    run.skyStart = column.sky;
    run.skyHeight = s.skyHeight;
    SetLeaveProduct(run, false);
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
            SetLeaveProduct(run, s.spans->count != 0);
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
                const int64_t cell = run.sampleMap != nullptr
                                         ? TakeSamples<kObjects, true>(run, eEnd)
                                         : TakeSamples<kObjects, false>(run, eEnd);
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
        if (WrapRay(run.y, yLimit)) run.lastCell = -1;
        run.x += run.dx;
        if (WrapRay(run.x, xLimit)) run.lastCell = -1;
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

}  // namespace

// Marches a group of neighbouring columns and their sky passes. Their rays
// run side by side over the same cells, so the group advances together, a
// stretch of kGroupStretch samples per column at a time, while those cells
// are still in the cache. A ray that finds an object is marched to its end at
// once, and its sky pass made, since the spans of one column are kept at a
// time; every column starts with no spans.
void MarchGroup(const Scene& s, ColumnJob* jobs, int32_t count) {
    constexpr int64_t kGroupStretch = 64;
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

}  // namespace render
