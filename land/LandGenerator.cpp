// LandGenerator.cpp - the generator record, the land noise source and the map
// helpers. Height synthesis, colouring and carving live in their own files.
#include "land/LandGenerator.h"

#include <algorithm>
#include <cassert>
#include <limits>
#include <new>

#include "base/Units.h"
#include "land/LandMath.h"

using land_math::Hint;
using land_math::WrapToInt32;

namespace {

// Largest 2^n (n = 12 ... 1) with min(width, height) / 2^n == 1; 2 otherwise.
int32_t ComputeBlockSize(int32_t mapWidth, int32_t mapHeight) {
    const int32_t side = std::min(mapWidth, mapHeight);
    for (int32_t n = 12; n >= 1; --n) {
        if (side / (int32_t{1} << n) == 1) return int32_t{1} << n;
    }
    return 2;
}

// The low-pass shift must stay a valid shift count for 32-bit values.
constexpr int32_t kMaxNoiseMode = 31;

}  // namespace

LandGenerator::LandGenerator(int32_t mapWidth, int32_t mapHeight, int32_t* heights,
                             uint32_t* colours, int32_t lowest, int32_t highest,
                             ProgressCallback callback, void* callbackContext)
    : progress(callback),
      progressContext(callbackContext),
      blockSize(ComputeBlockSize(mapWidth, mapHeight)),
      width(mapWidth),
      height(mapHeight),
      maxHeight(highest),
      minHeight(lowest),
      heightMap(heights),
      colourMap(colours),
      seed(0),
      synthesisMethod(-1),
      spectralExponent(2.2),
      noiseSource(&LandGenerator::NextNoise),
      noiseState(0),
      noiseAccumulator(0),
      noiseMode(0) {
    if (maxHeight <= minHeight) {
        maxHeight = minHeight < std::numeric_limits<int32_t>::max() ? minHeight + 1 : minHeight;
    }
    ResetParameters();
}

LandGenerator::~LandGenerator() {
    ReleasePeakScratch();
}

void LandGenerator::ResetParameters() {
    noiseSource = &LandGenerator::NextNoise;
    noiseMode = 0;
    synthesisMethod = -1;
    spectralExponent = 2.2;
}

bool LandGenerator::Poll(int32_t hint) {
    return progress != nullptr && progress(progressContext, hint) != 0;
}

int32_t LandGenerator::PollColumns(int32_t count, int32_t hint, bool* aborted) {
    for (int32_t i = 0; i < count; ++i) {
        if (Poll(hint)) {
            *aborted = true;
            return i;
        }
    }
    return count;
}

void LandGenerator::LendScratchBlock(void* block, int64_t bytes) {
    assert(scratchTaken_ == 0 && "scratch block changed while a pass holds part of it");
    scratchBlock_ = static_cast<unsigned char*>(block);
    scratchBytes_ = block == nullptr ? 0 : bytes;
    scratchUsed_ = 0;
}

namespace {
// Bytes between two touches: the smallest page size in use.
constexpr int64_t kTouchStride = 4096;
// Pages touched between two abandon checks.
constexpr int64_t kTouchRun = 1024;
}  // namespace

void* LandGenerator::KeepPeakScratch(int64_t bytes) {
    if (peakScratch_ != nullptr && peakScratchBytes_ >= bytes && !peakPagesReleased_) {
        return peakScratch_;
    }
    if (peakScratch_ == nullptr || peakScratchBytes_ < bytes) {
        ReleasePeakScratch();
        if (bytes < 0 || static_cast<uint64_t>(bytes) > scratch::kMaxAllocationBytes) return nullptr;
        if (scratch::AllocationsFailing()) return nullptr;
        const std::size_t allocated = (static_cast<std::size_t>(bytes) + kScratchBlockAlign - 1) /
                                      kScratchBlockAlign * kScratchBlockAlign;
        peakScratch_ = ::operator new(std::max<std::size_t>(allocated, kScratchBlockAlign),
                                      std::align_val_t{kScratchBlockAlign}, std::nothrow);
        if (peakScratch_ == nullptr) return nullptr;
        peakScratchBytes_ = bytes;
        peakScratchAllocated_ = std::max<std::size_t>(allocated, kScratchBlockAlign);
        if (scratchHooks.adviseFresh != nullptr) {
            scratchHooks.adviseFresh(peakScratch_, peakScratchAllocated_);
        }
    }
    peakPagesReleased_ = false;
    // The system maps a fresh block page by page at the first touch of each.
    // The passes touch it in their own order, several threads often in one
    // page at once (a column pass writes a little of every row); touching it
    // here first, each thread a run of pages of its own, maps it faster.
    auto* bytePointer = static_cast<unsigned char*>(peakScratch_);
    const int64_t pages = (bytes + kTouchStride - 1) / kTouchStride;
    const int64_t runs = (pages + kTouchRun - 1) / kTouchRun;
    auto touch = [&](int32_t first, int32_t end, int32_t) {
        for (int64_t r = first; r < end; ++r) {
            if (Abandoned()) return;
            const int64_t last = std::min(pages, (r + 1) * kTouchRun);
            for (int64_t page = r * kTouchRun; page < last; ++page) {
                bytePointer[page * kTouchStride] = 0;
            }
        }
    };
    SplitRange(static_cast<int32_t>(runs), touch);
    return peakScratch_;
}

void LandGenerator::ReleaseKeptPages() {
    assert((peakScratch_ == nullptr || scratchBlock_ != peakScratch_) &&
           "kept scratch block's pages released while it is lent");
    if (peakScratch_ == nullptr || scratchHooks.releasePages == nullptr) return;
    scratchHooks.releasePages(peakScratch_, peakScratchAllocated_);
    peakPagesReleased_ = true;
}

void LandGenerator::ReleasePeakScratch() {
    assert((peakScratch_ == nullptr || scratchBlock_ != peakScratch_) &&
           "kept scratch block released while it is lent");
    if (peakScratch_ != nullptr) {
        ::operator delete(peakScratch_, std::align_val_t{kScratchBlockAlign});
    }
    peakScratch_ = nullptr;
    peakScratchBytes_ = 0;
    peakScratchAllocated_ = 0;
    peakPagesReleased_ = false;
}

bool LandGenerator::InScratchBlock(const void* p) const {
    const auto address = reinterpret_cast<std::uintptr_t>(p);
    const auto first = reinterpret_cast<std::uintptr_t>(scratchBlock_);
    return scratchBlock_ != nullptr && address >= first &&
           address - first < static_cast<std::uintptr_t>(scratchBytes_);
}

int64_t LandGenerator::CellCount() const {
    return land_math::CellCount(width, height);
}

// --- Noise ------------------------------------------------------------------

void LandGenerator::SetSeed(uint32_t newSeed) {
    noiseState = newSeed;
    noiseAccumulator = WrapToInt32(newSeed);
    seed = newSeed;
}

// Modes above 31 would shift 32-bit values by 32 or more; they act as 31,
// the slowest low-pass filter.
void LandGenerator::SetNoiseMode(int32_t mode) {
    noiseMode = std::clamp(mode, 0, kMaxNoiseMode);
    if (noiseMode == 0) {
        noiseSource = &LandGenerator::NextNoise;
    } else if (noiseMode == 1) {
        noiseSource = &LandGenerator::NextNoiseAveraged;
    } else {
        noiseSource = &LandGenerator::NextNoiseLowPass;
    }
}

int32_t LandGenerator::NextNoise() {
    return LcgStep(noiseState);
}

int32_t LandGenerator::NextNoiseAveraged() {
    const int32_t r = NextNoise();
    // The sum can pass 2^31 when the seed made the accumulator large; its
    // half always fits again.
    noiseAccumulator = static_cast<int32_t>(land_math::Asr64(int64_t{noiseAccumulator} + r, 1));
    return noiseAccumulator;
}

int32_t LandGenerator::NextNoiseLowPass() {
    const int32_t r = NextNoise();
    // noiseMode may have been stored directly, bypassing SetNoiseMode.
    const int32_t s = std::clamp(noiseMode, 0, kMaxNoiseMode);
    // Long shifts let the accumulator outgrow 32 bits; it wraps like a 32-bit
    // register instead of overflowing.
    const int32_t t =
        WrapToInt32(static_cast<uint32_t>(noiseAccumulator) + static_cast<uint32_t>(r));
    noiseAccumulator = WrapToInt32(static_cast<uint32_t>(t) - static_cast<uint32_t>(Asr(t, s)));
    return Asr(noiseAccumulator, s);
}

// --- Map helpers --------------------------------------------------------------

void LandGenerator::FillMap(int32_t* map, int32_t value) {
    const int64_t cells = CellCount();
    auto fill = [map, value](int64_t first, int64_t end) {
        std::fill(map + first, map + end, value);
    };
    ForEachBlockFromEnd(cells, Hint(cells / 256), fill);
}

namespace {

// The index of the first cell of a row.
constexpr int64_t RowCells(int32_t row, int32_t width) {
    return int64_t{row} * width;
}

}  // namespace

int32_t LandGenerator::HighestHeight() const {
    // Each thread finds the highest of its rows; the highest of those wins.
    int32_t highest[ThreadPool::kMaxThreads];
    std::fill(highest, highest + ThreadPool::kMaxThreads, -2147483647);
    auto rows = [&](int32_t yFirst, int32_t yEnd, int32_t worker) {
        int32_t h = -2147483647;
        for (int64_t i = RowCells(yFirst, width); i < RowCells(yEnd, width); ++i) {
            h = std::max(h, heightMap[i]);
        }
        highest[worker] = h;
    };
    SplitRange(height, rows);
    return *std::max_element(highest, highest + ThreadPool::kMaxThreads);
}

int32_t LandGenerator::LowestHeight() const {
    int32_t lowest[ThreadPool::kMaxThreads];
    std::fill(lowest, lowest + ThreadPool::kMaxThreads, 2147483647);
    auto rows = [&](int32_t yFirst, int32_t yEnd, int32_t worker) {
        int32_t l = 2147483647;
        for (int64_t i = RowCells(yFirst, width); i < RowCells(yEnd, width); ++i) {
            l = std::min(l, heightMap[i]);
        }
        lowest[worker] = l;
    };
    SplitRange(height, rows);
    return *std::min_element(lowest, lowest + ThreadPool::kMaxThreads);
}

int32_t LandGenerator::GetCell(const int32_t* map, int32_t x, int32_t y) const {
    return map[x + int64_t{y} * width];
}

void LandGenerator::SetCell(int32_t* map, int32_t x, int32_t y, int32_t value) const {
    map[x + int64_t{y} * width] = value;
}

void LandGenerator::CopyMap(const int32_t* source, int32_t* destination) const {
    std::copy(source, source + CellCount(), destination);
}

uint32_t LandGenerator::AddToColour(uint32_t colour, int32_t delta) {
    // Any delta beyond +-255 saturates every channel alike, so clamping it
    // first keeps the sums small without changing a result.
    const int32_t d = std::clamp(delta, -255, 255);
    const int32_t red = std::clamp(static_cast<int32_t>((colour >> 16) & 0xFFu) + d, 0, 255);
    const int32_t green = std::clamp(static_cast<int32_t>((colour >> 8) & 0xFFu) + d, 0, 255);
    const int32_t blue = std::clamp(static_cast<int32_t>(colour & 0xFFu) + d, 0, 255);
    return 0xFF000000u | static_cast<uint32_t>(red << 16 | green << 8 | blue);
}

void LandGenerator::AddToColourAt(uint32_t* map, int32_t index, int32_t delta) {
    map[index] = AddToColour(map[index], delta);
}
