// HeightSynthesis.cpp - raw relief: spectral synthesis through a 2-D FFT,
// midpoint displacement on the wrapped grid, and the rebase/rescale passes.
//
// Spectral synthesis shapes white noise (one NextNoise draw a cell, 0 ...
// 1048575) by a power-law falloff 1 / |f|^spectralExponent and transforms it
// back; heights come out in noise units, lowest 0. Every floating-point step
// keeps one fixed order of operations so the heights are identical on every
// build; the power comes from PortablePow, since the C libraries' pow differ
// in their last bits between runtimes.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>
#include <utility>

#include "base/PortableMath.h"
#include "base/Scratch.h"
#include "base/Units.h"
#include "land/LandGenerator.h"
#include "land/LandMath.h"
#include "land/LineTransform.h"

using land_math::Hint;

namespace {

// Rows (points side by side) are copied between the map and the
// interleaved scratch a tile of kLineTile points at a time, line by line
// inside a tile: each line is read and written along its cells while the
// tile of the scratch stays in cache.
constexpr int64_t kLineTile = 16;

// ScatterRows for the last transform (an inverse one, unscaled): each
// point's real part, rounded to the nearest height (+0.5, truncated), into
// `count` rows of heights.
void ScatterRowHeights(const double* re, int64_t length, int32_t count, int32_t* first,
                       int64_t lineStride) {
    for (int64_t i0 = 0; i0 < length; i0 += kLineTile) {
        const int64_t i1 = std::min(i0 + kLineTile, length);
        for (int32_t b = 0; b < count; ++b) {
            int32_t* line = first + b * lineStride;
            for (int64_t i = i0; i < i1; ++i) line[i] = TruncateToInt32(re[i * count + b] + 0.5);
        }
    }
}

// Rows into the interleaved scratch of line_transform: point i of row b to
// position ReverseBits(i) of lane b, so the copy does Fft1D's bit-reversal
// permutation on the way.
void GatherRows(const ComplexCell* first, int64_t lineStride, int64_t length, int32_t log2n,
                int32_t count, double* re, double* im) {
    for (int64_t i0 = 0; i0 < length; i0 += kLineTile) {
        const int64_t i1 = std::min(i0 + kLineTile, length);
        for (int64_t i = i0; i < i1; ++i) {
            const int64_t to = int64_t{line_transform::ReverseBits(static_cast<uint32_t>(i), log2n)} *
                               count;
            for (int32_t b = 0; b < count; ++b) {
                const ComplexCell& c = first[b * lineStride + i];
                re[to + b] = c.re;
                im[to + b] = c.im;
            }
        }
    }
}

// The transform's last step on the way out: a forward transform (scale
// true) divides every value by the length n, as x * (1 / n), which is the
// same correctly rounded value as x / n since n is a power of two.
void ScatterRows(const double* re, const double* im, int64_t length, int32_t count, bool scale,
                 ComplexCell* first, int64_t lineStride) {
    const double inverse = 1.0 / static_cast<double>(length);
    for (int64_t i0 = 0; i0 < length; i0 += kLineTile) {
        const int64_t i1 = std::min(i0 + kLineTile, length);
        for (int32_t b = 0; b < count; ++b) {
            ComplexCell* line = first + b * lineStride;
            for (int64_t i = i0; i < i1; ++i) {
                line[i].re = scale ? re[i * count + b] * inverse : re[i * count + b];
                line[i].im = scale ? im[i * count + b] * inverse : im[i * count + b];
            }
        }
    }
}

// Column passes walk the map kPrefetchRows rows ahead of the copy: each
// row's piece of a batch is on a page of its own, which the processor's
// own prefetching does not foresee. A hint only; no effect on results.
constexpr int64_t kPrefetchRows = 8;
inline void PrefetchCells(const ComplexCell* cells, int32_t count) {
#if defined(__GNUC__)
    for (int32_t b = 0; b < count; b += 4) __builtin_prefetch(cells + b);
#else
    (void)cells;
    (void)count;
#endif
}

// Columns: point i of the batch's lines are side by side in row i.
void GatherColumns(const ComplexCell* first, int64_t pointStride, int64_t length, int32_t log2n,
                   int32_t count, double* re, double* im) {
    for (int64_t i = 0; i < length; ++i) {
        const ComplexCell* point = first + i * pointStride;
        if (i + kPrefetchRows < length) PrefetchCells(point + kPrefetchRows * pointStride, count);
        const int64_t to =
            int64_t{line_transform::ReverseBits(static_cast<uint32_t>(i), log2n)} * count;
        for (int32_t b = 0; b < count; ++b) {
            re[to + b] = point[b].re;
            im[to + b] = point[b].im;
        }
    }
}

void ScatterColumns(const double* re, const double* im, int64_t length, int32_t count, bool scale,
                    ComplexCell* first, int64_t pointStride) {
    const double inverse = 1.0 / static_cast<double>(length);
    for (int64_t i = 0; i < length; ++i) {
        ComplexCell* point = first + i * pointStride;
        if (i + kPrefetchRows < length) PrefetchCells(point + kPrefetchRows * pointStride, count);
        const double* r = re + i * count;
        const double* m = im + i * count;
        if (scale) {
            for (int32_t b = 0; b < count; ++b) {
                point[b].re = r[b] * inverse;
                point[b].im = m[b] * inverse;
            }
        } else {
            for (int32_t b = 0; b < count; ++b) {
                point[b].re = r[b];
                point[b].im = m[b];
            }
        }
    }
}

// The butterflies of `count` gathered lines, with the twiddles made into
// `twiddles` (line_transform::TwiddleDoubles(log2n) doubles).
void TransformGathered(int32_t direction, int32_t log2n, int32_t count, double* re, double* im,
                       double* twiddles) {
    if (count < 1) return;
    line_transform::MakeTwiddles(direction, log2n, twiddles);
    line_transform::Butterflies(log2n, count, twiddles, re, im);
}

// Lines transformed together: as many as keep the interleaved scratch (16
// bytes per point and line) within kBatchBytes, the cache the butterflies
// run in; at least 4, at most LandGenerator::kFftBatchColumns.
constexpr int64_t kBatchBytes = 2 * 1024 * 1024;
int32_t BatchLines(int32_t length) {
    int32_t lines = LandGenerator::kFftBatchColumns;
    while (lines > 4 && int64_t{lines} * length * 16 > kBatchBytes) lines /= 2;
    return lines;
}

// Both sides positive powers of two (1 counts: 2^0).
bool PowerOfTwoSides(int32_t width, int32_t height, int32_t* log2Width, int32_t* log2Height) {
    if (width < 1 || height < 1) return false;
    return LandGenerator::SplitPowerOfTwo(width, log2Width) == 0 &&
           LandGenerator::SplitPowerOfTwo(height, log2Height) == 0;
}

}  // namespace

bool LandGenerator::GenerateHeights() {
    SetNoiseMode(noiseMode);
    if (synthesisMethod != 0) return GenerateHeightsSpectral();
    GenerateHeightsMidpoint();
    return true;
}

int32_t LandGenerator::SplitPowerOfTwo(int32_t n, int32_t* log2n) {
    int32_t shifts = 0;
    for (int32_t rest = n >> 1; rest > 0; rest >>= 1) ++shifts;
    *log2n = shifts;
    return n - (int32_t{1} << shifts);
}

bool LandGenerator::Fft1D(int32_t direction, int32_t log2n, double* re, double* im) {
    if (log2n < 0 || log2n > 30) return false;
    std::unique_ptr<double[]> twiddles(new (std::nothrow)
                                           double[line_transform::TwiddleDoubles(log2n)]);
    if (!twiddles) return false;
    const int64_t n = int64_t{1} << log2n;
    for (int64_t i = 0; i < n; ++i) {
        const int64_t j = line_transform::ReverseBits(static_cast<uint32_t>(i), log2n);
        if (i < j) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
    }
    TransformGathered(direction, log2n, 1, re, im, twiddles.get());
    if (direction == 1) {
        // n is a power of two, so x * (1 / n) is the same correctly rounded
        // value as x / n.
        const double inverse = 1.0 / static_cast<double>(n);
        for (int64_t i = 0; i < n; ++i) {
            re[i] *= inverse;
            im[i] *= inverse;
        }
    }
    return true;
}

bool LandGenerator::Fft2D(ComplexCell* cells, int32_t cellsWidth, int32_t cellsHeight,
                          int32_t direction) {
    int32_t log2Width = 0;
    int32_t log2Height = 0;
    if (!PowerOfTwoSides(cellsWidth, cellsHeight, &log2Width, &log2Height)) return false;
    const int64_t stride = FftScratchDoubles(std::max(cellsWidth, cellsHeight));
    double* fftScratch = TakeScratch<double>(stride * PoolSize(threadPool));
    if (fftScratch == nullptr) return false;
    const bool complete =
        Fft2DWithScratch(cells, cellsWidth, cellsHeight, direction, fftScratch, stride);
    GiveBackScratch(fftScratch);
    return complete;
}

// Columns (length cellsHeight) first, then rows (length cellsWidth); one poll
// per column and per row. An abort leaves the columns or rows before it
// transformed and the rest as they were.
bool LandGenerator::Fft2DWithScratch(ComplexCell* cells, int32_t cellsWidth, int32_t cellsHeight,
                                     int32_t direction, double* fftScratch, int64_t scratchStride) {
    int32_t log2Width = 0;
    int32_t log2Height = 0;
    PowerOfTwoSides(cellsWidth, cellsHeight, &log2Width, &log2Height);
    const int32_t hint = Hint(int64_t{width} * 4);
    // Columns: line x has its points cellsWidth cells apart; rows: line y
    // has them side by side.
    if (!TransformLines(cells, cellsWidth, cellsHeight, 1, cellsWidth, log2Height, direction, hint,
                        fftScratch, scratchStride)) {
        return false;
    }
    return TransformLines(cells, cellsHeight, cellsWidth, cellsWidth, 1, log2Width, direction, hint,
                          fftScratch, scratchStride);
}

// Transforms `lines` lines of `length` points, line l's point i at
// cells[l * lineStride + i * pointStride], polling once per line. Lines go
// a batch at a time through the interleaved scratch (a batch per thread at
// once, each in its own scratch); an abort leaves the lines before it
// transformed and returns false.
bool LandGenerator::TransformLines(ComplexCell* cells, int32_t lines, int32_t length,
                                   int64_t lineStride, int64_t pointStride, int32_t log2Length,
                                   int32_t direction, int32_t hint, double* fftScratch,
                                   int64_t scratchStride) {
    const int32_t batch = BatchLines(length);
    auto transform = [&](int32_t l0, int32_t count, int32_t worker) {
        if (Abandoned()) return;
        double* re = fftScratch + worker * scratchStride;
        double* im = re + int64_t{batch} * length;
        double* twiddles = im + int64_t{batch} * length;
        ComplexCell* first = cells + l0 * lineStride;
        if (pointStride == 1) {
            GatherRows(first, lineStride, length, log2Length, count, re, im);
        } else {
            GatherColumns(first, pointStride, length, log2Length, count, re, im);
        }
        TransformGathered(direction, log2Length, count, re, im, twiddles);
        if (pointStride == 1) {
            ScatterRows(re, im, length, count, direction == 1, first, lineStride);
        } else {
            ScatterColumns(re, im, length, count, direction == 1, first, pointStride);
        }
    };
    return ForEachBatch(lines, batch, hint, transform);
}

// Needs a square map with a power-of-two side. Returns false, with the height
// map unchanged, when the map is not such a map, when the scratch memory
// (16 bytes a cell) cannot be obtained, or on an abort at the first poll;
// an abort inside a transform still writes (partly transformed) heights.
bool LandGenerator::GenerateHeightsSpectral() {
    if (Poll(Hint(int64_t{width} * 4))) return false;
    int32_t log2Width = 0;
    int32_t log2Height = 0;
    if (width != height || !PowerOfTwoSides(width, height, &log2Width, &log2Height)) return false;

    const int64_t cells = CellCount();
    ComplexCell* spectrum = TakeScratch<ComplexCell>(cells);
    if (spectrum == nullptr) return false;
    // One batch's scratch for each thread.
    const int64_t stride = FftScratchDoubles(width);
    double* fftScratch = TakeScratch<double>(stride * PoolSize(threadPool));
    if (fftScratch == nullptr) {
        GiveBackScratch(spectrum);
        return false;
    }

    // The noise is parked in the height map (which the synthesis rewrites
    // at its end) as 4-byte draws and enters the spectrum through the
    // forward transform's column pass, which reads the columns from there;
    // the columns it does not reach (after an abort) take the plain noise.
    // Gives up a generation that is being thrown away.
    auto abandon = [&]() {
        GiveBackScratch(fftScratch);
        GiveBackScratch(spectrum);
        return false;
    };
    SetSeed(seed);
    if (noiseSource == &LandGenerator::NextNoise) {
        // Plain draws are one LCG stream: each thread fills its share of the
        // rows from the state the stream has reached at the share's start.
        const uint32_t start = noiseState;
        auto noiseRows = [&](int32_t yFirst, int32_t yEnd, int32_t) {
            uint32_t state = LcgJump(start, static_cast<uint64_t>(yFirst) * width);
            for (int32_t y = yFirst; y < yEnd; ++y) {
                if ((y & kRowCheckMask) == 0 && Abandoned()) return;
                int32_t* row = heightMap + int64_t{y} * width;
                for (int32_t x = 0; x < width; ++x) row[x] = LcgStep(state);
            }
        };
        SplitRange(height, noiseRows);
        if (Abandoned()) return abandon();
        noiseState = LcgJump(start, static_cast<uint64_t>(cells));
    } else {
        for (int64_t row = 0; row < cells; row += width) {
            if (Abandoned()) return abandon();
            for (int64_t i = row; i < row + width; ++i) heightMap[i] = (this->*noiseSource)();
        }
    }
    const int32_t hint = Hint(int64_t{width} * 4);
    const int32_t columnBatch = BatchLines(height);
    int32_t columnsDone = 0;
    auto forwardColumns = [&](int32_t x0, int32_t count, int32_t worker) {
        if (Abandoned()) return;
        double* re = fftScratch + worker * stride;
        double* im = re + int64_t{columnBatch} * height;
        double* twiddles = im + int64_t{columnBatch} * height;
        for (int64_t y = 0; y < height; ++y) {
            const int32_t* noise = heightMap + y * width + x0;
            const int64_t to =
                int64_t{line_transform::ReverseBits(static_cast<uint32_t>(y), log2Height)} * count;
            for (int32_t b = 0; b < count; ++b) {
                re[to + b] = static_cast<double>(noise[b]);
                im[to + b] = 0.0;
            }
        }
        TransformGathered(1, log2Height, count, re, im, twiddles);
        const double inverse = 1.0 / static_cast<double>(height);
        for (int64_t y = 0; y < height; ++y) {
            // The first pass over fresh scratch faults its pages in: slow.
            if ((y & kRowCheckMask) == 0 && Abandoned()) return;
            ComplexCell* point = spectrum + y * width + x0;
            for (int32_t b = 0; b < count; ++b) {
                point[b].re = re[y * count + b] * inverse;
                point[b].im = im[y * count + b] * inverse;
            }
        }
    };
    bool complete = ForEachBatch(width, columnBatch, hint, forwardColumns, &columnsDone);
    if (Abandoned()) return abandon();
    if (complete) {
        complete = TransformLines(spectrum, height, width, width, 1, log2Width, 1, hint, fftScratch,
                                  stride);
    } else {
        for (int64_t y = 0; y < height; ++y) {
            for (int64_t x = columnsDone; x < width; ++x) {
                spectrum[y * width + x].re = static_cast<double>(heightMap[y * width + x]);
                spectrum[y * width + x].im = 0.0;
            }
        }
    }

    // Power-law filter centred on (hw, hh). The divisor depends only on
    // |dx| and |dy|, so it is computed once for each pair and used for the
    // (up to) four cells that share it: rowDivisor[|dx|] for rows hh +- |dy|.
    const int32_t hw = width >> 1;
    const int32_t hh = height >> 1;
    // Each b writes rows hh + b and hh - b only, so the threads take shares
    // of b, each with its own rowDivisor (hw + 1 values in its scratch).
    auto filter = [&](int32_t bFirst, int32_t bEnd, int32_t worker) {
        double* rowDivisor = fftScratch + worker * stride;
        for (int32_t b = bFirst; b < bEnd; ++b) {
            if (Abandoned()) return;
            for (int32_t a = 0; a <= hw; ++a) {
                const int32_t dy = (a == 0 && b == 0) ? 1 : b;
                const double d = std::sqrt(static_cast<double>(a * a + dy * dy));
                rowDivisor[a] = PortablePow(d, spectralExponent);
            }
            const int32_t rows[2] = {hh + b, hh - b};
            const int32_t rowCount = (b == 0) ? 1 : 2;
            for (int32_t r = 0; r < rowCount; ++r) {
                const int32_t y = rows[r];
                if (y < 0 || y >= height) continue;
                ComplexCell* row = spectrum + int64_t{y} * width;
                for (int32_t x = 0; x < width; ++x) {
                    const double divisor = rowDivisor[std::abs(x - hw)];
                    row[x].re = row[x].re / divisor;
                    row[x].im = row[x].im / divisor;
                }
            }
        }
    };
    if (Abandoned()) return abandon();
    SplitRange(hh + 1, filter);

    // Quadrant swap: (x, y) <-> (x + hw, y + hh) for the left half and
    // (x, y) <-> (x - hw, y + hh) for the right half of the top rows.
    auto swapRows = [&](int32_t yFirst, int32_t yEnd, int32_t) {
        for (int32_t y = yFirst; y < yEnd; ++y) {
            if (Abandoned()) return;
            ComplexCell* top = spectrum + int64_t{y} * width;
            ComplexCell* bottom = spectrum + int64_t{y + hh} * width;
            std::swap_ranges(top, top + hw, bottom + hw);
            std::swap_ranges(top + hw, top + width, bottom);
        }
    };
    if (Abandoned()) return abandon();
    SplitRange(hh, swapRows);
    if (Abandoned()) return abandon();

    // The inverse transform, with its row pass writing the heights straight
    // from the scratch instead of back into the spectrum; the rows it does
    // not reach (after an abort) take the spectrum as it stands.
    bool inverse =
        TransformLines(spectrum, width, height, 1, width, log2Height, -1, hint, fftScratch, stride);
    int32_t rowsDone = 0;
    if (inverse) {
        const int32_t batch = BatchLines(width);
        auto inverseRows = [&](int32_t y0, int32_t count, int32_t worker) {
            if (Abandoned()) return;
            double* re = fftScratch + worker * stride;
            double* im = re + int64_t{batch} * width;
            double* twiddles = im + int64_t{batch} * width;
            GatherRows(spectrum + int64_t{y0} * width, width, width, log2Width, count, re, im);
            TransformGathered(-1, log2Width, count, re, im, twiddles);
            ScatterRowHeights(re, width, count, heightMap + int64_t{y0} * width, width);
        };
        inverse = ForEachBatch(height, batch, hint, inverseRows, &rowsDone);
    }
    complete = inverse && complete;
    if (Abandoned()) return abandon();
    for (int64_t i = int64_t{rowsDone} * width; i < cells; ++i) {
        heightMap[i] = TruncateToInt32(spectrum[i].re + 0.5);
    }
    GiveBackScratch(fftScratch);
    GiveBackScratch(spectrum);
    RebaseHeights(0);
    return complete;
}

// Fills the blockSize x blockSize grid (row stride blockSize) level by level;
// corner (0, 0) keeps its value. Heights stay within minHeight ... maxHeight.
void LandGenerator::GenerateHeightsMidpoint() {
    // A side below 2 leaves blockSize larger than the map.
    if (blockSize > width || blockSize > height) return;
    SetSeed(seed);
    int32_t log2Block = 0;
    SplitPowerOfTwo(blockSize, &log2Block);
    const int32_t hint = Hint(int64_t{blockSize} + log2Block - 1);
    const int64_t lowest = minHeight;
    const int64_t highest = maxHeight;
    const int64_t stride = blockSize;
    int32_t* grid = heightMap;
    auto at = [grid, stride](int32_t x, int32_t y) -> int32_t& { return grid[x + y * stride]; };
    auto clampHeight = [lowest, highest](int64_t v) { return std::clamp(v, lowest, highest); };

    int32_t step = blockSize;
    int64_t range = (highest - lowest) * 2;
    while (step > 1) {
        if (Poll(hint)) return;
        const int32_t half = step >> 1;
        const int64_t halfRange = range >> 1;
        for (int32_t x0 = 0; x0 < blockSize; x0 += step) {
            int32_t x1 = x0 + step;
            if (x1 >= blockSize) x1 -= blockSize;
            for (int32_t y0 = 0; y0 < blockSize; y0 += step) {
                int32_t y1 = y0 + step;
                if (y1 >= blockSize) y1 -= blockSize;
                const int64_t a = at(x0, y0);
                const int64_t b = at(x1, y0);
                const int64_t c = at(x0, y1);
                const int64_t d = at(x1, y1);
                const int64_t r1 = int64_t{(this->*noiseSource)()} % (range + 1);
                const int64_t r2 = int64_t{(this->*noiseSource)()} % (range + 1);
                const int64_t r3 = int64_t{(this->*noiseSource)()} % (range + 1);
                const int64_t r4 = int64_t{(this->*noiseSource)()} % (range + 1);
                const int64_t r5 = int64_t{(this->*noiseSource)()} % (range + 1);
                const int64_t top = clampHeight(r1 + ((a + b) >> 1) - halfRange);
                const int64_t bottom = clampHeight(r2 + ((c + d) >> 1) - halfRange);
                const int64_t right = clampHeight(r3 + ((b + d) >> 1) - halfRange);
                const int64_t left = clampHeight(r4 + ((a + c) >> 1) - halfRange);
                const int64_t centre =
                    clampHeight(r5 + ((top + bottom + right + left) >> 2) - halfRange);
                at(x0 + half, y0) = static_cast<int32_t>(top);
                at(x0 + half, y1) = static_cast<int32_t>(bottom);
                at(x0, y0 + half) = static_cast<int32_t>(left);
                at(x1, y0 + half) = static_cast<int32_t>(right);
                at(x0 + half, y0 + half) = static_cast<int32_t>(centre);
            }
        }
        step /= 2;
        range /= 2;
    }
}

int32_t LandGenerator::RebaseHeights(int32_t floor) {
    if (Poll(Hint(width))) return 0;
    const int32_t low = LowestHeight();
    if (Abandoned()) return low;
    const int64_t shift = int64_t{low} - floor;
    auto shiftRows = [&](int32_t yFirst, int32_t yEnd, int32_t) {
        for (int32_t y = yFirst; y < yEnd; ++y) {
            if ((y & kRowCheckMask) == 0 && Abandoned()) return;
            int32_t* row = heightMap + int64_t{y} * width;
            for (int32_t x = 0; x < width; ++x) row[x] = SaturateInt32(row[x] - shift);
        }
    };
    SplitRange(height, shiftRows);
    return low;
}

// A flat map (highest == minHeight) has no relief to stretch: the factor is
// then 1, so every cell just becomes height - minHeight.
void LandGenerator::ScaleHeights(int32_t top) {
    const int64_t range = int64_t{HighestHeight()} - minHeight;
    const double factor =
        range == 0 ? 1.0
                   : static_cast<double>(int64_t{top} - minHeight) / static_cast<double>(range);
    const int64_t cells = CellCount();
    const int64_t lowest = minHeight;
    auto scale = [&](int64_t first, int64_t end) {
        for (int64_t i = end - 1; i >= first; --i) {
            heightMap[i] =
                TruncateToInt32(static_cast<double>(heightMap[i] - lowest) * factor + 0.5);
        }
    };
    ForEachBlockFromEnd(cells, Hint(cells / 256), scale);
}
