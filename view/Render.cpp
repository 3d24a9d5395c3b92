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
// and the walk ends at the first position past the picture.
//
// Exactness: the frame equals, bit for bit, that of the plain reference
// renderer in tests/view/RenderReference.cpp. Values that can outgrow 32 bits
// (the ray steps of the outermost columns of very wide frames, the step
// products, the depth accumulator, projections of out-of-range heights) are
// computed in 64 bits; columns whose steps could cross more than one map
// side per sample take the general march.
#include "view/Render.h"

#include <cstdint>

#include "view/FlightView.h"

namespace {

constexpr int32_t kSpanCapacity = 1024;  // at most one span per sample
// Object images taller than this are not drawn: it keeps a span's texel
// arithmetic far inside 64 bits whatever the tables hold.
constexpr int32_t kMaxSliceLength = 1 << 16;

int64_t Modulo(int64_t value, int64_t divisor) {
    int64_t r = value % divisor;
    return r < 0 ? r + divisor : r;
}

int64_t FloorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

int64_t CeilDiv(int64_t a, int64_t b) { return -FloorDiv(-a, b); }

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
    Spans* spans;
};

// One column: its pixel walk and its ray.
class Column {
public:
    Column(const Scene& scene, int32_t px0, int32_t py0, int64_t inFirst, int64_t inEnd,
           int64_t skyStart)
        : s_(scene), px0_(px0), py0_(py0), inFirst_(inFirst), inEnd_(inEnd), sky_(skyStart) {}

    // Paints the counters [n0, n1) in land mode; false when the walk left the
    // picture (the column is finished).
    bool PaintLand(int64_t n0, int64_t n1, uint32_t colour) {
        const int64_t a = n0 > inFirst_ + 1 ? n0 : inFirst_ + 1;
        const int64_t b = n1 < inEnd_ ? n1 : inEnd_;
        if (a < b) {
            if (s_.spans->count != 0 && s_.spans->Touch(a, b)) {
                PaintSpans(a, b, true, [colour](int64_t) { return colour; });
            } else {
                PaintFlat(a, b, colour);
            }
        }
        return n1 <= inEnd_;
    }

    // The sky pass over the counters [n0, diagonal - 1).
    void PaintSky(int64_t n0, int64_t top) {
        int64_t t0 = sky_ - top;
        while (t0 < 0) t0 += s_.skyHeight;
        const int64_t last = s_.diagonal - 1;
        const int64_t a = n0 > inFirst_ ? n0 : inFirst_;
        const int64_t b = last < inEnd_ ? last : inEnd_;
        if (a >= b) return;
        // The texel of counter a: one texel per counter walked, stepping back
        // one row whenever the walk reaches the end of the sky.
        int64_t t = t0 + (a - n0);
        if (t >= s_.skySize) t = s_.skySize - s_.skyWidth + Modulo(t - s_.skySize, s_.skyWidth);
        const bool gapFirst = a > inFirst_;
        if (!s_.hasSky) {
            if (s_.spans->count != 0 && s_.spans->Touch(a, b)) {
                PaintSpans(a, b, gapFirst, [](int64_t) { return 0u; });
            } else {
                PaintSkyTexels(a, b, gapFirst, nullptr, 0);
            }
            return;
        }
        if (s_.spans->count != 0 && s_.spans->Touch(a, b)) {
            const uint32_t* sky = s_.sky;
            const int64_t size = s_.skySize, w = s_.skyWidth;
            PaintSpans(a, b, gapFirst, [&t, sky, size, w](int64_t) {
                const uint32_t texel = sky[t];
                t += 1;
                if (t == size) t -= w;
                return texel;
            });
        } else {
            PaintSkyTexels(a, b, gapFirst, s_.sky, t);
        }
    }

    // Water: the land colour halved plus the sky texel of row top halved.
    uint32_t Water(uint32_t land, int64_t top) const {
        if (!s_.hasSky) return (land >> 1) & 0x7F7F7F;
        int64_t w = sky_ - top;
        while (w < 0) w += s_.skyHeight;
        return ((land >> 1) & 0x7F7F7F) + ((s_.sky[w] >> 1) & 0x7F7F7F);
    }

private:
    // The pixel of counter n and the gap pixel of the diagonal move into it
    // (new row, old column) follow from the walk's linear position.
    void PaintFlat(int64_t a, int64_t b, uint32_t colour) {
        int32_t pxv = px0_ + static_cast<int32_t>(a) * s_.sb;
        int32_t pyv = py0_ + static_cast<int32_t>(a) * s_.cb;
        int32_t pr = (pyv - s_.cb) >> 10;
        int32_t pc = (pxv - s_.sb) >> 10;
        uint32_t* frame = s_.frame;
        const int32_t width = s_.width;
        for (int64_t n = a; n < b; ++n) {
            const int32_t r = pyv >> 10;
            const int32_t c = pxv >> 10;
            uint32_t* line = frame + static_cast<int64_t>(r) * width;
            line[c] = colour;
            if (r != pr && c != pc) line[pc] = colour;
            pr = r;
            pc = c;
            pxv += s_.sb;
            pyv += s_.cb;
        }
    }

    void PaintSkyTexels(int64_t a, int64_t b, bool gapFirst, const uint32_t* sky, int64_t t) {
        int32_t pxv = px0_ + static_cast<int32_t>(a) * s_.sb;
        int32_t pyv = py0_ + static_cast<int32_t>(a) * s_.cb;
        int32_t pr = gapFirst ? (pyv - s_.cb) >> 10 : pyv >> 10;
        int32_t pc = (pxv - s_.sb) >> 10;
        uint32_t* frame = s_.frame;
        const int32_t width = s_.width;
        for (int64_t n = a; n < b; ++n) {
            uint32_t colour = 0;
            if (sky != nullptr) {
                colour = sky[t];
                t += 1;
                if (t == s_.skySize) t -= s_.skyWidth;
            }
            const int32_t r = pyv >> 10;
            const int32_t c = pxv >> 10;
            uint32_t* line = frame + static_cast<int64_t>(r) * width;
            line[c] = colour;
            if (r != pr && c != pc) line[pc] = colour;
            pr = r;
            pc = c;
            pxv += s_.sb;
            pyv += s_.cb;
        }
    }

    template <typename Background>
    void PaintSpans(int64_t a, int64_t b, bool gapFirst, Background background) {
        int32_t pxv = px0_ + static_cast<int32_t>(a) * s_.sb;
        int32_t pyv = py0_ + static_cast<int32_t>(a) * s_.cb;
        int32_t pr = gapFirst ? (pyv - s_.cb) >> 10 : pyv >> 10;
        int32_t pc = (pxv - s_.sb) >> 10;
        uint32_t* frame = s_.frame;
        const int32_t width = s_.width;
        for (int64_t n = a; n < b; ++n) {
            const uint32_t colour = s_.spans->Paint(n, background(n));
            const int32_t r = pyv >> 10;
            const int32_t c = pxv >> 10;
            uint32_t* line = frame + static_cast<int64_t>(r) * width;
            line[c] = colour;
            if (r != pr && c != pc) line[pc] = colour;
            pr = r;
            pc = c;
            pxv += s_.sb;
            pyv += s_.cb;
        }
    }

    const Scene& s_;
    int32_t px0_, py0_;         // position of counter 0, 1/1024 pixel
    int64_t inFirst_, inEnd_;  // counters inside the picture
    int64_t sky_;              // sky texel of the column's horizon start
};

// Records the span of an object cell entered at depth index j.
void DiscoverSpan(const Scene& s, int64_t cell, int64_t j) {
    FlightView& v = *s.view;
    const int32_t entry = s.cellMap[cell];
    const int32_t slot = entry >> 8;
    const int32_t slice = (entry & 0xFF) - 1;
    Spans& spans = *s.spans;
    if (slot >= v.slotCount || spans.count >= kSpanCapacity) return;
    const SkyObject& o = v.objects[slot];
    const int64_t scale = s.depthScale[j];
    const int64_t start =
        s.diagonal - (((static_cast<int64_t>(s.altitude) - o.altitude) * scale) >> 10) -
        s.horizonRow;
    const int64_t end = ((o.sliceLength * scale) >> 10) + start;
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

struct Ray {
    int64_t x, y;         // position units
    int64_t dxBase, dyBase;
    int64_t base;         // ray-step units
};

// The general march: 64-bit positions that may cross several map sides per
// sample (the outermost columns of very wide frames) and clamped depth
// indices. Returns top, the highest row painted.
int32_t MarchGeneral(const Scene& s, Column& column, const Ray& ray) {
    int64_t dx = ray.dxBase, dy = ray.dyBase, step = ray.base;
    int64_t k = 1, g = 0, e = 0;
    int64_t x = ray.x, y = ray.y;
    int32_t top = s.diagonal;
    int64_t lastCell = -1;
    auto wrap = [](int64_t& value, int64_t limit) {
        if (value < 0) {
            value += limit;
        } else if (value >= limit) {
            value -= limit;
        } else {
            return false;
        }
        if (value < 0 || value >= limit) value = Modulo(value, limit);
        return true;
    };
    do {
        y += dy;
        if (wrap(y, s.yLimit)) lastCell = -1;
        x += dx;
        if (wrap(x, s.xLimit)) lastCell = -1;
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
            const uint32_t land = s.colours[cell];
            const uint32_t colour = h > s.waterLevel ? land : column.Water(land, top);
            const int64_t n0 = s.diagonal - top;
            top = static_cast<int32_t>(row);
            if (!column.PaintLand(n0, s.diagonal - row, colour)) {
                top = 0;
                e = s.maxDepth;
            }
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

// The march of every other column: every step stays below one map side, so
// one addition or subtraction wraps a coordinate, and depth indices stay
// inside the depth tables.
int32_t MarchFast(const Scene& s, Column& column, const Ray& ray) {
    int32_t dx = static_cast<int32_t>(ray.dxBase), dy = static_cast<int32_t>(ray.dyBase);
    int64_t step = ray.base;
    int64_t k = 1, g = 0, e = 0;
    int32_t x = static_cast<int32_t>(ray.x), y = static_cast<int32_t>(ray.y);
    int32_t top = s.diagonal;
    int64_t lastCell = -1;
    const int32_t xLimit = s.xLimit, yLimit = s.yLimit;
    const int32_t* heights = s.heights;
    const int32_t* depthScale = s.depthScale;
    const int64_t altitude = s.altitude;
    const int64_t maxDepth = s.maxDepth;
    do {
        y += dy;
        if (y < 0) {
            y += yLimit;
            lastCell = -1;
        } else if (y >= yLimit) {
            y -= yLimit;
            lastCell = -1;
        }
        x += dx;
        if (x < 0) {
            x += xLimit;
            lastCell = -1;
        } else if (x >= xLimit) {
            x -= xLimit;
            lastCell = -1;
        }
        const int64_t cell = static_cast<int64_t>(y >> 10) * s.mapStride + (x >> 10);
        const int64_t j = e >> 19;
        if (s.cellMap != nullptr && s.cellMap[cell] != 0 && cell != lastCell) {
            DiscoverSpan(s, cell, j);
            lastCell = cell;
        }
        const int32_t h = heights[cell];
        int64_t row = (((altitude - h) * depthScale[j]) >> 10) + s.horizonRow;
        if (row < top) {
            if (row < 0) {
                row = 0;
                e = maxDepth;
            }
            const uint32_t land = s.colours[cell];
            const uint32_t colour = h > s.waterLevel ? land : column.Water(land, top);
            const int64_t n0 = s.diagonal - top;
            top = static_cast<int32_t>(row);
            if (!column.PaintLand(n0, s.diagonal - row, colour)) return 0;
        }
        g += k;
        if (g > s.threshold) {
            k += 1;
            g = 0;
            dx += static_cast<int32_t>(ray.dxBase);
            dy += static_cast<int32_t>(ray.dyBase);
            step += ray.base;
        }
        e += step;
    } while (e < maxDepth);
    return top;
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
    Spans spans;  // scratch of the current column
    spans.count = 0;

    Scene s;
    s.view = &v;
    s.frame = v.frame;
    s.width = v.frameWidth;
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
            Ray ray;
            ray.base = v.rayStepTable[c] < 1 ? 1 : v.rayStepTable[c];
            ray.dxBase = (v.cosTable[az] * ray.base) >> 20;
            ray.dyBase = (v.sinTable[az] * ray.base) >> 20;
            ray.x = cameraX;
            ray.y = cameraY;
            spans.count = 0;
            Column column(s, startX, startY, inFirst, inEnd, sky);
            const int64_t reachX = (ray.dxBase < 0 ? -ray.dxBase : ray.dxBase) * maxLevel;
            const int64_t reachY = (ray.dyBase < 0 ? -ray.dyBase : ray.dyBase) * maxLevel;
            const bool fast = depthInTables && reachX < s.xLimit && reachY < s.yLimit;
            const int32_t top = fast ? MarchFast(s, column, ray) : MarchGeneral(s, column, ray);
            if (top > 1) column.PaintSky(diag - top, top);
        }
        skyRow -= 1;
        if (skyRow < 0) skyRow += s.skyHeight;
        startX -= s.cb;
        startY += s.sb;
    }
}

void FlightView::Render() {
    if (!CanRender()) return;
    MoveObjects();
    RenderLandscape(*this);
}
