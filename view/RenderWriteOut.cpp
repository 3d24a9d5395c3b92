// RenderWriteOut.cpp - writing marched columns into the frame.
//
// A column's pixel counter n lies at (px0 + n x sb, py0 + n x cb) in 1/1024
// pixel, on frame row (py >> 10) and column (px >> 10); the walk moves its
// pixel by at most one row and one column per counter, and a diagonal move
// also paints the gap pixel (new row, old column), so that a banked column
// leaves no gaps. The columns of a group are written together as one block,
// in an order that keeps every pixel's writes in the order of the columns
// (see WriteBlock).
#include <algorithm>
#include <cstdint>

#include "view/RenderInternal.h"

namespace render {
namespace {

// The write-out of a block (see WriteBlock): counters per stretch, and the
// counters by which each column trails the one marched before it.
constexpr int32_t kStretch = 128;
constexpr int32_t kLag = 4;
// Frame rows ahead of a column's run whose cache lines are asked for before
// the run writes them.
constexpr int64_t kPrefetchRows = 64;

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
            // Two counters a turn: the loop's own arithmetic is most of
            // what a counter costs here.
            const uint32_t* from = colours + n;
            int32_t i = 0;
            for (; i + 1 < plain; i += 2) {
                uint32_t* const lower = p + width;
                p = lower + width;
                // The lines kPrefetchRows further up: the first column of a
                // block to get there finds them on its way, the others in
                // the cache.
                PrefetchForWrite(reinterpret_cast<uintptr_t>(lower) + prefetchBytes);
                PrefetchForWrite(reinterpret_cast<uintptr_t>(p) + prefetchBytes);
                *lower = from[i];
                *p = from[i + 1];
            }
            if (i < plain) {
                p += width;
                PrefetchForWrite(reinterpret_cast<uintptr_t>(p) + prefetchBytes);
                *p = from[i];
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

}  // namespace

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

}  // namespace render
