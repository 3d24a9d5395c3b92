// RenderInternal.h - what the files of the landscape renderer share: the
// frame-wide constants of one Render (Scene), a column and its ray, the
// object spans found along a ray, the march's state, a marched column
// waiting to be written out, and the entry points of each part.
//
//   view/Render.cpp          set-up: the scene, the columns and their rays,
//                            the order of the groups; FlightView::Render
//   view/RenderMarch.cpp     marching a group of columns: land, water, spans,
//                            sky, into each column's colours by pixel counter
//   view/RenderWriteOut.cpp  writing a group's colours into the frame
//   view/RenderThreads.cpp   the columns split over the view's thread pool,
//                            and the padded copy of frames whose rows alias
//
// The hot loops (the sample loop, the write-out of a column) each live
// inside one file; the calls between the files come once per group of
// columns or once per frame.
//
// Units: map positions in 1/1024 cell; pixel positions of the walk in
// 1/1024 pixel (x right, y up, frame row 0 at the bottom); the depth
// accumulator E in ray-step units, depth index j = E >> 19; object texel
// accumulators in 1/1024 texel. Private to view/.
#pragma once

#include <cstdint>

#include "sky/SkyObject.h"

class FlightView;
class ThreadPool;

#if defined(__GNUC__)
// The sample loop gets its own register allocation instead of sharing the
// column loop's.
#define RENDER_NOINLINE __attribute__((noinline))
// Asks for the line at p to be read into the cache ahead of its use; a hint
// only (never faults, changes no value).
#define RENDER_PREFETCH(p) __builtin_prefetch(p)
#else
#define RENDER_NOINLINE
#define RENDER_PREFETCH(p) static_cast<void>(p)
#endif

namespace render {

constexpr int32_t kSpanCapacity = 1024;  // at most one span per sample
// Columns marched before they are written into the frame together.
constexpr int32_t kBlockSize = 32;

inline int64_t Modulo(int64_t value, int64_t divisor) {
    int64_t r = value % divisor;
    return r < 0 ? r + divisor : r;
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
    uint32_t* frame;
    int32_t width;
    const int32_t* heights;
    // The heights with the object marks (FlightView::sampleMap), or null:
    // the march then reads heights and cellMap.
    const uint16_t* sampleMap;
    const uint32_t* colours;
    const uint16_t* cellMap;   // null without objects
    const SkyObject* objects;  // slotCount slots (with a cell map)
    int32_t slotCount;
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

struct Ray {
    int64_t x, y;  // position units
    int64_t dxBase, dyBase;
    int64_t base;  // ray-step units
};

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
    const uint16_t* sampleMap;  // null: heights and cellMap
    const int32_t* depthScale;
    const uint16_t* cellMap;
    int64_t stride;
    int64_t altitude;
    // For the samples that paint.
    int32_t top;
    // A painting sample whose product lies below this leaves the run: spans
    // found (painting goes through them: INT64_MAX), or the ray ends there.
    int64_t leaveProduct;
    int32_t waterLevel;
    int32_t horizonRow;
    int32_t diagonal;
    int64_t inEnd;
    const uint32_t* mapColours;
    uint32_t* colours;    // the column's colours by counter
    const uint32_t* sky;  // null without a sky
    int64_t skyStart, skyHeight;
};

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

// --- Entry points of the parts -------------------------------------------------

// Marches a group of neighbouring columns and their sky passes into their
// colours (view/RenderMarch.cpp).
void MarchGroup(const Scene& s, ColumnJob* jobs, int32_t count);

// Writes a block of marched columns into the frame (view/RenderWriteOut.cpp).
void WriteBlock(const Scene& s, PendingColumn* block, int32_t count);
// The pixels (row x width + column) a marched column writes, in the order
// of its walk, into `pixels` (room for 2 x (end - first) entries); returns
// their count.
int32_t ListPixels(const Scene& s, const PendingColumn& w, int64_t* pixels);
// Marches a group of columns and lists those that painted in `block`;
// returns their count.
int32_t MarchAndCollectGroup(const Scene& s, ColumnJob* jobs, int32_t count, PendingColumn* block);
// Marches a group of columns and writes those that painted into the frame
// as one block.
void MarchAndWriteGroup(const Scene& s, ColumnJob* jobs, int32_t count, PendingColumn* block);

// Several threads (view/RenderThreads.cpp): the columns, in their order, are
// split into one chunk of neighbouring columns per thread, each marched and
// written as one thread would (see there for how neighbouring chunks share
// the pixels between them).
struct Boundary;

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

    ~ThreadedFrame();
    // The scratch of a frame of `diagonal` columns on `threadCount` threads;
    // false when it cannot be had.
    bool Allocate(int32_t threadCount, int32_t diagonalColumns);
    // Marches and writes every job over the pool.
    void Render(const Scene& s, ThreadPool& pool);

private:
    void RenderChunk(int32_t t);
    int32_t ListNextChunkPixels(const Scene& s, int32_t next, int64_t* pixels);
};

// Frames whose rows alias in the first-level data cache are drawn into a
// padded copy (view/RenderThreads.cpp).
constexpr int32_t kRowPadding = 16;  // pixels added to each row of the copy
bool RowsAlias(int32_t width);
// The view's padded copy for its frame, or null when it cannot be had.
uint32_t* PaddedFrame(FlightView& v, int64_t stride);
// Copies the rows [firstRow, endRow) of width pixels between frames of
// different strides.
void CopyRows(uint32_t* to, int64_t toStride, const uint32_t* from, int64_t fromStride,
              int64_t width, int64_t firstRow, int64_t endRow);

}  // namespace render
