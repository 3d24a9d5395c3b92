// LandGenerator.h - fills a height map and a colour map with a landscape.
//
// The generator works on two square maps of width x height 32-bit cells that
// its creator owns (row-major, cell (x, y) at x + y * width, wrapping in both
// directions so the land is a torus):
//   height map  signed heights in height units; after the full new-land
//               pipeline the lowest cell is 25 (sea level) and the highest
//               is exactly land side / 2;
//   colour map  0x00RRGGBB from EarthPalette or the colour blur, 0xFFRRGGBB
//               once a cell has gone through AddToColour.
// Land sides are powers of two, 64 ... 4096 in the saver.
//
// Callers: the new-land pipeline (app/) runs FillMap, SetSeed,
// GenerateHeights, ScaleHeights, ColourByHeight, BlurColours,
// CarveFlowChannels, RebaseHeights, ScaleHeights, FloodToLevel, ShadeSlopes and
// CastShadows in that order; the flight view only reads the maps.
//
// Progress: long operations poll `progress` (per column, per scan line or
// per 256 cells), passing it `progressContext`, and stop when it returns
// nonzero; what each leaves behind is
// documented at the operation. A null callback never aborts.
//
// Memory: operations that need scratch memory obtain all of it before they
// change anything: spectral synthesis 16 bytes a cell (256 MiB at side
// 4096), flow carving three 4-byte maps, shading and shadows two, the blurs
// one. When it cannot be obtained they return false and leave both maps
// exactly as they were. Sizes are checked before allocating. The pipeline
// lends the passes one block of its peak size (LendScratchBlock) for the
// whole landscape, so each pass reuses pages already mapped instead of
// mapping and faulting in fresh maps of its own; the generator keeps that
// block from one landscape to the next (KeepPeakScratch).
//
// Abandon: a generation whose maps will be thrown away (the saver is
// closing) is stopped through abandonCheck, which may be called from any of
// the pool's threads. Unlike a poll it draws nothing and reads no keys, so
// the polls' cadence stays as it is; it is tested in the long stretches
// between polls (every few thousand cells), and an operation that finds it
// set returns false at once with its scratch released and the maps in no
// particular state (every cell written is still a plain value). The polls
// then report the abort too, so the pipeline ends within milliseconds.
//
// Results: the bool operations return true when they ran to completion and
// false when they could not start (no scratch memory, unsupported map shape)
// or a poll stopped them. Arithmetic on extreme cells (possible after an
// aborted synthesis) saturates at the int32 limits instead of overflowing;
// on every cell that fits, results are those of plain 32-bit arithmetic.
//
// Noise: each generator has its own LcgRandom state (noiseState,
// noiseAccumulator, noiseMode), so generators on different maps (or threads)
// never disturb each other's landscapes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "base/Scratch.h"
#include "base/ThreadPool.h"

// context: the generator's progressContext (the caller's own object).
using ProgressCallback = int32_t (*)(void* context, int32_t hint);
// True when the generation is to be given up; context as above. Called from
// the generator's and its pool's threads: it must be safe to call from any.
using AbandonCallback = bool (*)(void* context);

struct ComplexCell {
    double re;
    double im;
};

// 256 colours, 0x00RRGGBB, dark low ground (entry 0) to light high ground.
extern const uint32_t EarthPalette[256];

class LandGenerator {
public:
    using NoiseSource = int32_t (LandGenerator::*)();

    LandGenerator(int32_t width, int32_t height, int32_t* heightMap, uint32_t* colourMap,
                  int32_t minHeight, int32_t maxHeight, ProgressCallback progress,
                  void* progressContext = nullptr);
    virtual ~LandGenerator();
    LandGenerator(const LandGenerator&) = delete;
    LandGenerator& operator=(const LandGenerator&) = delete;

    // --- The record ---------------------------------------------------------
    ProgressCallback progress;  // may be null
    void* progressContext;      // handed to every progress call
    AbandonCallback abandonCheck = nullptr;  // may be null: never abandoned
    int32_t blockSize;          // midpoint-displacement grid extent and stride
    int32_t width;              // cells per row of both maps
    int32_t height;             // rows of both maps
    int32_t maxHeight;          // upper clamp of midpoint displacement
    int32_t minHeight;          // lower clamp; reference level of ScaleHeights
    int32_t* heightMap;
    uint32_t* colourMap;
    uint32_t seed;            // last seed given to SetSeed
    int32_t synthesisMethod;  // nonzero: spectral synthesis; 0: midpoint displacement
    double spectralExponent;  // power-law falloff exponent (2.2)
    NoiseSource noiseSource;  // NextNoise, NextNoiseAveraged or NextNoiseLowPass

    // Borrowed from the generator's owner, may be null: the passes that split
    // into independent lines, rows or transforms share them out over its
    // threads. Polls stay on the calling thread, in the same order, so the
    // maps (and what an abort leaves) are the same for every pool size.
    ThreadPool* threadPool = nullptr;

    // --- Scratch memory --------------------------------------------------------
    // Lends a block of `bytes` bytes (null: none) from which the passes take
    // their scratch maps while it is lent; the lender frees it after
    // lending null again, when no pass is running. A pass takes its maps
    // from the start of the block and gives them all back before it
    // returns; what does not fit is allocated as usual.
    void LendScratchBlock(void* block, int64_t bytes);
    // count elements of T, contents indeterminate, from the lent block or
    // AllocateArrayForOverwrite; null when not available (injected failures
    // count as for any allocation).
    template <typename T>
    T* TakeScratch(int64_t count);
    // Gives back what TakeScratch returned (null is fine) and sets it null.
    template <typename T>
    void GiveBackScratch(T*& array);
    // The pipeline's block of its peak size, kept from one landscape to the
    // next: the system maps a fresh block page by page as the passes first
    // touch it (65,536 page faults for the 256 MiB at side 4096, a third of
    // a second and more), a kept one is mapped already. It raises what the
    // generator holds between landscapes, not the peak. Returns the kept
    // block when it has at least `bytes` bytes, otherwise frees it and
    // allocates one (null, nothing kept, when that fails or the size is
    // beyond the allocation limit), whose pages the pool's threads then
    // touch, each a run of its own (abandon checks every 4 MiB). Freed by
    // ReleasePeakScratch and the destructor; neither may run while the
    // block is lent.
    void* KeepPeakScratch(int64_t bytes);
    void ReleasePeakScratch();
    // The kept block's pages go back to the system (through
    // scratchHooks.releasePages, when set) while it stays allocated: what a
    // flight holds between landscapes falls by the block's size, and the
    // next KeepPeakScratch touches the pages in again on the pool. The
    // pipeline calls it after its last step; contents are lost (every pass
    // writes its scratch before reading it).
    void ReleaseKeptPages();

    // Platform hooks for the kept block, set by the front end (null: not
    // used); the core itself stays portable. The block is allocated on a
    // kScratchBlockAlign boundary and a whole number of such units long.
    struct ScratchHooks {
        // On a fresh block before its pages are touched: e.g. ask for
        // large pages, so that the passes walking its 16 bytes a cell take
        // fewer page faults and address-translation misses.
        void (*adviseFresh)(void* block, std::size_t bytes) = nullptr;
        // Gives the block's pages back to the system; they read as zeros
        // or as their old contents afterwards.
        void (*releasePages)(void* block, std::size_t bytes) = nullptr;
    };
    ScratchHooks scratchHooks;
    static constexpr std::size_t kScratchBlockAlign = std::size_t{2} << 20;

    // --- Noise state -----------------------------------------------------------
    uint32_t noiseState;
    int32_t noiseAccumulator;
    int32_t noiseMode;  // 0 plain, 1 averaged, 2..31 low-pass shift (32+ act as 31)

    void ResetParameters();

    // True when abandonCheck says the maps are to be thrown away.
    bool Abandoned() const { return abandonCheck != nullptr && abandonCheck(progressContext); }

    // --- Noise ----------------------------------------------------------------
    void SetSeed(uint32_t newSeed);
    void SetNoiseMode(int32_t mode);
    int32_t NextNoise();
    int32_t NextNoiseAveraged();
    int32_t NextNoiseLowPass();

    // --- Map helpers (indices x + y * width; no wrapping, no bounds checks) ----
    void FillMap(int32_t* map, int32_t value);
    int32_t HighestHeight() const;
    int32_t LowestHeight() const;
    int32_t GetCell(const int32_t* map, int32_t x, int32_t y) const;
    void SetCell(int32_t* map, int32_t x, int32_t y, int32_t value) const;
    void CopyMap(const int32_t* source, int32_t* destination) const;
    static uint32_t AddToColour(uint32_t colour, int32_t delta);
    static void AddToColourAt(uint32_t* map, int32_t index, int32_t delta);

    // --- Height synthesis -------------------------------------------------------
    // Spectral synthesis (synthesisMethod != 0) needs a square map with a
    // power-of-two side; heights come out lowest 0. Midpoint displacement
    // fills the blockSize grid within minHeight ... maxHeight.
    bool GenerateHeights();
    bool GenerateHeightsSpectral();
    void GenerateHeightsMidpoint();
    // Columns (length height), then rows (length width); direction 1 forward
    // (scaled by 1 / n), -1 inverse. False, cells untouched, when a side is
    // not a power of two or scratch is missing; false on an abort.
    bool Fft2D(ComplexCell* cells, int32_t width, int32_t height, int32_t direction);
    // One line of 2^log2n points (log2n 0 ... 30), as each line of Fft2D;
    // false, the line untouched, when the twiddles' memory is missing.
    static bool Fft1D(int32_t direction, int32_t log2n, double* re, double* im);
    static int32_t SplitPowerOfTwo(int32_t n, int32_t* log2n);
    int32_t RebaseHeights(int32_t floor);
    // Highest height -> top, minHeight -> 0. A flat map (highest ==
    // minHeight) is not stretched: each cell becomes height - minHeight.
    void ScaleHeights(int32_t top);

    // --- Palette colouring and blurs -------------------------------------------
    // levels <= 256 (larger counts use entry 255 at most; below 1, entry 0).
    void ColourByHeight(int32_t levels);
    static int32_t NearestPaletteIndex(int32_t red, int32_t green, int32_t blue);
    bool BlurColours(int32_t centreWeight, int32_t passes, bool snapToPalette);
    bool BlurColours(int32_t centreWeight, bool snapToPalette);
    bool BlurHeights(int32_t centreWeight, int32_t passes);

    // --- Flow carving, flooding and lighting -----------------------------------
    // Directions: 'l' light from low x, 'r' high x, 'u' high y, 'd' low y;
    // other characters act as 'r' in ShadeSlopes and as 'd' in CastShadows.
    // A path moves at most max(maxSteps, 0) + 1 times; probeLength < 1 never
    // moves.
    bool CarveFlowChannels(int32_t depthGain, int32_t colourGain, int32_t maxSteps,
                           int32_t probeLength, int32_t flowBlurWeight);
    void FloodToLevel(int32_t level);
    bool ShadeSlopes(int32_t strength, char direction, int32_t blurPasses, int32_t blurWeight);
    bool CastShadows(int32_t shadowDelta, int32_t litDelta, char direction, int32_t dropPerCell,
                     int32_t blurPasses, int32_t blurWeight);

    // Columns (rows) transformed together by the column (row) pass of Fft2D.
    static constexpr int32_t kFftBatchColumns = 32;
    // Doubles of transform scratch one thread needs for lines of up to
    // `side` points: a batch's real and imaginary parts and the twiddles.
    static constexpr int64_t FftScratchDoubles(int64_t side) {
        return 2 * kFftBatchColumns * side + 2 * side;
    }
    // Passes that walk many rows test Abandoned() on the rows whose index
    // has these bits clear (one row in 64).
    static constexpr int32_t kRowCheckMask = 63;

private:
    bool InScratchBlock(const void* p) const;

    unsigned char* scratchBlock_ = nullptr;  // lent
    int64_t scratchBytes_ = 0;
    void* peakScratch_ = nullptr;  // kept (KeepPeakScratch)
    int64_t peakScratchBytes_ = 0;
    std::size_t peakScratchAllocated_ = 0;  // bytes, rounded up to kScratchBlockAlign
    bool peakPagesReleased_ = false;        // ReleaseKeptPages since the last touch
    int64_t scratchUsed_ = 0;   // bytes taken from the block's start
    int32_t scratchTaken_ = 0;  // maps taken and not given back

    // Columns handled between two rounds of polling: work runs in strips of
    // this many columns, row by row within the strip, after one poll per
    // column of the strip, so the memory is walked along its rows (a strip's
    // row of 32-bit cells fills a 4 KiB page).
    static constexpr int32_t kStripColumns = 1024;

    // Scan lines of CastShadows that one thread takes at a time.
    static constexpr int32_t kShadowBatchLines = 64;

    bool Poll(int32_t hint);  // true when progress asks for an abort
    // Polls once for each of count columns; returns how many of them may be
    // processed, fewer than count when a poll asked for the abort (which
    // sets *aborted).
    int32_t PollColumns(int32_t count, int32_t hint, bool* aborted);
    int64_t CellCount() const;
    // Adds every nonzero cell of a lighting delta map to its colour cell
    // (AddToColour), the threads taking shares of the rows; false when the
    // generation was abandoned on the way.
    bool ApplyDeltasOnThreads(const int32_t* delta);
    // BlurHeights on any map with the caller's scratch map (width x height
    // cells, contents ignored); false when a poll aborted it.
    bool BlurMap(int32_t* map, int32_t* scratchMap, int32_t centreWeight, int32_t passes);
    // Fft2D with the caller's scratch (FftScratchDoubles(max(width, height))
    // doubles); sides must already be checked.
    // fftScratch holds that much for each thread of the pool, scratchStride
    // doubles apart.
    bool Fft2DWithScratch(ComplexCell* cells, int32_t cellsWidth, int32_t cellsHeight,
                          int32_t direction, double* fftScratch, int64_t scratchStride);
    bool TransformLines(ComplexCell* cells, int32_t lines, int32_t length, int64_t lineStride,
                        int64_t pointStride, int32_t log2Length, int32_t direction, int32_t hint,
                        double* fftScratch, int64_t scratchStride);

    // Calls body(first, count, worker) for the batches of `batch` lines of
    // 0 ... lines - 1, after polling each line of a batch (PollColumns) on
    // the calling thread; up to one batch per thread runs at a time, worker
    // being the thread's index for its scratch. An abort stops after the
    // batch whose poll asked for it, with that batch cut short at the poll,
    // exactly as one batch after another would; false then, and when the
    // generation was abandoned. *linesDone (if given) is the end of the last
    // batch run.
    template <typename Body>
    bool ForEachBatch(int32_t lines, int32_t batch, int32_t hint, Body& body,
                      int32_t* linesDone = nullptr) {
        const int32_t threads = PoolSize(threadPool);
        int32_t firsts[ThreadPool::kMaxThreads];
        int32_t counts[ThreadPool::kMaxThreads];
        for (int32_t l0 = 0; l0 < lines;) {
            if (Abandoned()) return false;
            int32_t n = 0;
            bool aborted = false;
            while (n < threads && l0 < lines && !aborted) {
                firsts[n] = l0;
                counts[n] = PollColumns(lines - l0 < batch ? lines - l0 : batch, hint, &aborted);
                ++n;
                l0 += batch;
            }
            if (n == 1) {
                body(firsts[0], counts[0], 0);
            } else {
                auto task = [&](int32_t worker) {
                    if (worker < n) body(firsts[worker], counts[worker], worker);
                };
                threadPool->Run(task);
            }
            if (linesDone != nullptr) *linesDone = firsts[n - 1] + counts[n - 1];
            if (aborted) return false;
        }
        return true;
    }

    // Calls part(first, end, worker) once for each thread's share of
    // 0 ... count - 1 (contiguous, in order; worker 0 has the first), or once
    // for all of it without a pool.
    template <typename Part>
    void SplitRange(int32_t count, Part& part) const {
        const int32_t threads = PoolSize(threadPool);
        if (threads <= 1 || count < 2) {
            part(0, count, 0);
            return;
        }
        auto task = [&](int32_t worker) {
            const auto first = static_cast<int32_t>(int64_t{count} * worker / threads);
            const auto end = static_cast<int32_t>(int64_t{count} * (worker + 1) / threads);
            if (first < end) part(first, end, worker);
        };
        threadPool->Run(task);
    }

    // Blocks of 256 cells polled for in one round on the calling thread
    // before the threads take shares of them (ForEachBlockFromEnd).
    static constexpr int32_t kPolledBlocks = 1024;

    // Walks cells 0 ... count - 1 from the last down in blocks of 256 with
    // the polls of one thread doing so: one before the first block and one
    // after every full block. Between rounds of polls on this thread, the
    // threads take shares of the blocks polled for: cells(first, end) for
    // cells first ... end - 1, each cell on its own. An abort stops before
    // the block after the poll that asked for it; false then, and when the
    // generation was abandoned.
    template <typename Cells>
    bool ForEachBlockFromEnd(int64_t count, int32_t hint, Cells& cells) {
        if (count <= 0) return !Poll(hint);
        int64_t end = count;
        while (end > 0) {
            if (Abandoned()) return false;
            // The poll before a block is the one after the full block above.
            int64_t first = end;
            bool aborted = false;
            for (int32_t n = 0; n < kPolledBlocks && first > 0; ++n) {
                if (Poll(hint)) {
                    aborted = true;
                    break;
                }
                first -= first < 256 ? first : 256;
            }
            const int64_t span = end - first;
            const auto pieces = static_cast<int32_t>((span + 255) / 256);
            auto part = [&](int32_t a, int32_t b, int32_t) {
                cells(first + int64_t{a} * 256, std::min(end, first + int64_t{b} * 256));
            };
            if (pieces > 0) SplitRange(pieces, part);
            if (aborted) return false;
            end = first;
        }
        // The poll after the lowest block, when that block is full.
        return count % 256 != 0 || !Poll(hint);
    }
};

template <typename T>
T* LandGenerator::TakeScratch(int64_t count) {
    if (scratchBlock_ == nullptr || count < 0 ||
        static_cast<uint64_t>(count) > scratch::kMaxAllocationBytes / sizeof(T)) {
        return AllocateArrayForOverwrite<T>(count);
    }
    const int64_t bytes = std::max<int64_t>(count, 1) * static_cast<int64_t>(sizeof(T));
    const int64_t start = (scratchUsed_ + 63) & ~int64_t{63};  // cache-line aligned
    if (bytes > scratchBytes_ - start) return AllocateArrayForOverwrite<T>(count);
    if (!scratch::AllocationAllowed()) return scratch::CountFailure();
    scratchUsed_ = start + bytes;
    ++scratchTaken_;
    return static_cast<T*>(static_cast<void*>(scratchBlock_ + start));
}

template <typename T>
void LandGenerator::GiveBackScratch(T*& array) {
    if (array != nullptr && InScratchBlock(array)) {
        // The block is free again once the pass has given back all it took.
        if (--scratchTaken_ == 0) scratchUsed_ = 0;
        array = nullptr;
        return;
    }
    FreeArray(array);
}
