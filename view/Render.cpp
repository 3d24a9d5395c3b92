// Render.cpp - the banked column ray marcher that draws the land, water,
// objects and sky into the frame: its set-up (the scene, the columns and
// their rays) and FlightView::Render. The march, the write-out and the
// threads are in the files named in view/RenderInternal.h.
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
// spans of the current column on the stack. Frames whose rows alias in the
// first-level cache are drawn into the view's padded copy of the frame (kept
// from frame to frame; without it they are drawn in place, the same bits,
// more slowly; see RowsAlias).
//
// Exactness: the frame equals, bit for bit, that of the plain reference
// renderer in tests/view/RenderReference.cpp. Values that can outgrow 32 bits
// (the ray steps of the outermost columns of very wide frames, the step
// products, the depth accumulator, projections of out-of-range heights) are
// computed in 64 bits; columns whose steps could cross more than one map
// side per sample take the general march.
#include "view/Render.h"

#include <cstdint>

#include "base/Scratch.h"
#include "base/ThreadPool.h"
#include "view/FlightView.h"
#include "view/RenderInternal.h"

using namespace render;

namespace {

constexpr int32_t kMaxFrameSide = 16384;

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
    // Tables left from an earlier size (a set-up that failed) do not fit.
    if (!v.buffersReady || v.cosTable == nullptr || v.sinTable == nullptr ||
        v.rayStepTable == nullptr || v.depthScale == nullptr || v.depthScaleInverse == nullptr ||
        v.bankTable == nullptr || v.frame == nullptr || v.heightMap == nullptr ||
        v.colourMap == nullptr) {
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
    const bool useThreads =
        PoolSize(v.threadPool) > 1 && threaded.Allocate(PoolSize(v.threadPool), v.diagonal);
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
    s.frame = v.frame;
    // A frame given longer rows (FlightView::DrawingStride) is drawn in place.
    const int32_t frameStride = v.frameStride > v.frameWidth ? v.frameStride : v.frameWidth;
    s.width = frameStride;
    if (RowsAlias(frameStride)) {
        const int64_t stride = static_cast<int64_t>(v.frameWidth) + kRowPadding;
        uint32_t* padded = PaddedFrame(v, stride);
        if (padded != nullptr) {
            CopyRows(padded, stride, v.frame, frameStride, v.frameWidth, 0, v.frameHeight);
            s.frame = padded;
            s.width = static_cast<int32_t>(stride);
        }
    }
    s.heights = v.heightMap;
    s.colours = v.colourMap;
    const bool hasObjects =
        v.objects.slots != nullptr && v.objects.cellMap != nullptr && v.objects.slotCount > 0 &&
        v.objects.cellCount == static_cast<int64_t>(v.heightMapWidth) * v.heightMapHeight;
    s.cellMap = hasObjects ? v.objects.cellMap : nullptr;
    // The sample map stands for both maps only while the objects keep their
    // marks in it.
    const bool hasSampleMap =
        v.sampleMap != nullptr &&
        v.sampleMapCells == static_cast<int64_t>(v.heightMapWidth) * v.heightMapHeight &&
        (!hasObjects || v.objects.sampleMap == v.sampleMap);
    s.sampleMap = hasSampleMap ? v.sampleMap : nullptr;
    s.objects = hasObjects ? v.objects.slots : nullptr;
    s.slotCount = hasObjects ? v.objects.slotCount : 0;
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
    s.hasSky = v.sky.pixels != nullptr && v.sky.width >= 1 && v.sky.height >= 1;
    s.sky = s.hasSky ? v.sky.pixels : nullptr;
    s.skyWidth = s.hasSky ? v.sky.width : 1;
    s.skyHeight = s.hasSky ? v.sky.height : 1;
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
        CopyRows(v.frame, frameStride, s.frame, s.width, v.frameWidth, 0, v.frameHeight);
    }
}

void FlightView::Render() {
    if (!CanRender()) return;
    MoveObjects();
    RenderLandscape(*this);
}
