// RenderThreads.cpp - the frame's columns split over the view's thread pool,
// and the padded copy of frames whose rows alias in the cache.
//
// Threads: the columns, in their order, are split into one chunk of neighbouring
// columns per thread (at least kBlockSize columns each); every thread marches
// and writes its chunk exactly as a single thread would. Only the first few
// columns of a chunk can share pixels with the last few of the chunk before
// it (columns i < j meet only for j - i <= 2, see WriteBlock; kBoundary
// keeps a margin of one), and a single thread would have written the later
// chunk's pixels last. So each chunk publishes its first columns' geometry as
// soon as its first group is marched, and the thread of the chunk before
// leaves every pixel those columns write to them: no pixel is written by two
// threads, and each gets the value it gets from one thread.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <thread>

#include "base/Scratch.h"
#include "base/ThreadPool.h"
#include "view/FlightView.h"
#include "view/RenderInternal.h"

namespace render {

constexpr int32_t kBoundary = 3;

struct Boundary {
    std::atomic<int32_t> ready;  // 1 once head is filled in
    int32_t count;
    PendingColumn head[kBoundary];  // the chunk's first painting columns
};

ThreadedFrame::~ThreadedFrame() {
    FreeArray(jobs);
    FreeArray(colours);
    FreeArray(boundaries);
    FreeArray(skips);
}

bool ThreadedFrame::Allocate(int32_t threadCount, int32_t diagonalColumns) {
    threads = threadCount;
    diagonal = diagonalColumns;
    skipCapacity = static_cast<int64_t>(kBoundary) * 2 * diagonal;
    jobs = AllocateArray<ColumnJob>(diagonal);
    if (jobs == nullptr) return false;
    colours =
        AllocateArrayForOverwrite<uint32_t>(static_cast<int64_t>(threads) * kBlockSize * diagonal);
    if (colours == nullptr) return false;
    boundaries = AllocateArray<Boundary>(threads);
    if (boundaries == nullptr) return false;
    skips = AllocateArrayForOverwrite<int64_t>(threads * skipCapacity);
    return skips != nullptr;
}

void ThreadedFrame::Render(const Scene& s, ThreadPool& pool) {
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

void ThreadedFrame::RenderChunk(int32_t t) {
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
int32_t ThreadedFrame::ListNextChunkPixels(const Scene& s, int32_t next, int64_t* pixels) {
    Boundary& b = boundaries[next];
    while (b.ready.load(std::memory_order_acquire) == 0) std::this_thread::yield();
    int32_t count = 0;
    for (int32_t i = 0; i < b.count; ++i) count += ListPixels(s, b.head[i], pixels + count);
    std::sort(pixels, pixels + count);
    return count;
}

// Rows a multiple of 256 bytes apart (frames 512, 768 or 1024 pixels wide,
// say) fall into at most 16 of the 64 sets of a 48 KiB first-level data
// cache: a 512-pixel row is 32 lines long, so a frame column's pixels take
// turns in two sets and the write-out's stretch of 128 rows evicts its own
// lines at nearly every pixel. Such frames are drawn into a copy whose rows
// are one line (kRowPadding pixels) longer, an odd number of lines, so that
// consecutive rows use every set; the copy is filled from the frame first,
// since a frame need not paint every pixel, and copied back afterwards. An
// owner that can take such rows gives the frame itself longer rows
// (FlightView::DrawingStride), which saves both copies.
bool RowsAlias(int32_t width) {
    return (static_cast<int64_t>(width) * 4) % 256 == 0;
}

}  // namespace render

int32_t FlightView::DrawingStride(int32_t width) {
    if (width < 1 || width > INT32_MAX - render::kRowPadding) return width;
    return render::RowsAlias(width) ? width + render::kRowPadding : width;
}

namespace render {

uint32_t* PaddedFrame(FlightView& v, int64_t stride) {
    const int64_t pixels = stride * v.frameHeight;
    if (v.paddedFrame != nullptr && v.paddedFramePixels == pixels) return v.paddedFrame;
    FreeArray(v.paddedFrame);
    v.paddedFramePixels = 0;
    v.paddedFrame = AllocateArrayForOverwrite<uint32_t>(pixels);
    if (v.paddedFrame != nullptr) v.paddedFramePixels = pixels;
    return v.paddedFrame;
}

void CopyRows(uint32_t* to, int64_t toStride, const uint32_t* from, int64_t fromStride,
              int64_t width, int64_t firstRow, int64_t endRow) {
    for (int64_t r = firstRow; r < endRow; ++r) {
        std::memcpy(to + r * toStride, from + r * fromStride, static_cast<std::size_t>(width) * 4);
    }
}

}  // namespace render
