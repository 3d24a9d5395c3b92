// Height synthesis: the transforms against a direct DFT and the literal
// version, spectral and midpoint synthesis, rebasing and rescaling.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "LandTestSupport.h"
#include "ReferenceLand.h"
#include "base/Scratch.h"
#include "land/LandGenerator.h"
#include "land/LineTransform.h"

using landtest::CountingProgress;
using landtest::pollCounter;
using landtest::ResetPolls;
using landtest::TestLand;
using landtest::WildCells;

namespace {

std::vector<ComplexCell> RandomCells(int32_t count, uint32_t seed) {
    std::vector<ComplexCell> cells(count);
    uint32_t state = seed;
    for (ComplexCell& c : cells) {
        state = state * 1664525u + 1013904223u;
        c.re = static_cast<double>(state >> 8) / 65536.0 - 128.0;
        state = state * 1664525u + 1013904223u;
        c.im = static_cast<double>(state >> 8) / 65536.0 - 128.0;
    }
    return cells;
}

// Direct DFT along one axis of a w x h array: forward (direction 1) uses
// e^(-i...) and divides by the length, inverse uses e^(+i...) unscaled.
std::vector<ComplexCell> DirectDft(const std::vector<ComplexCell>& in, int32_t w, int32_t h,
                                   bool alongColumns, int32_t direction) {
    std::vector<ComplexCell> out(in.size());
    const int32_t n = alongColumns ? h : w;
    const int32_t lines = alongColumns ? w : h;
    const double sign = direction == 1 ? -1.0 : 1.0;
    for (int32_t line = 0; line < lines; ++line) {
        for (int32_t k = 0; k < n; ++k) {
            long double re = 0;
            long double im = 0;
            for (int32_t j = 0; j < n; ++j) {
                const ComplexCell& c = alongColumns ? in[line + j * w] : in[j + line * w];
                const long double angle = sign * 2.0L * 3.14159265358979323846264338L *
                                          static_cast<long double>((int64_t{j} * k) % n) / n;
                re += c.re * std::cos(angle) - c.im * std::sin(angle);
                im += c.re * std::sin(angle) + c.im * std::cos(angle);
            }
            if (direction == 1) {
                re /= n;
                im /= n;
            }
            ComplexCell& o = alongColumns ? out[line + k * w] : out[k + line * w];
            o.re = static_cast<double>(re);
            o.im = static_cast<double>(im);
        }
    }
    return out;
}

void ExpectNear(const std::vector<ComplexCell>& a, const std::vector<ComplexCell>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        ASSERT_NEAR(a[i].re, b[i].re, 1e-9) << i;
        ASSERT_NEAR(a[i].im, b[i].im, 1e-9) << i;
    }
}

bool SameBits(const std::vector<ComplexCell>& a, const std::vector<ComplexCell>& b) {
    return a.size() == b.size() &&
           std::memcmp(a.data(), b.data(), a.size() * sizeof(ComplexCell)) == 0;
}

TEST(LandTransform, SplitPowerOfTwo) {
    int32_t log2n = -1;
    EXPECT_EQ(LandGenerator::SplitPowerOfTwo(1024, &log2n), 0);
    EXPECT_EQ(log2n, 10);
    EXPECT_EQ(LandGenerator::SplitPowerOfTwo(1000, &log2n), 488);
    EXPECT_EQ(log2n, 9);
    EXPECT_EQ(LandGenerator::SplitPowerOfTwo(1, &log2n), 0);
    EXPECT_EQ(log2n, 0);
    EXPECT_EQ(LandGenerator::SplitPowerOfTwo(4096, &log2n), 0);
    EXPECT_EQ(log2n, 12);
}

TEST(LandTransform, EightPointImpulseGivesAFlatSpectrum) {
    double re[8] = {1, 0, 0, 0, 0, 0, 0, 0};
    double im[8] = {};
    EXPECT_TRUE(LandGenerator::Fft1D(1, 3, re, im));
    for (int32_t i = 0; i < 8; ++i) {
        EXPECT_EQ(re[i], 0.125);
        EXPECT_EQ(im[i], 0.0);
    }
}

TEST(LandTransform, Fft1DMatchesADirectDftAndTheLiteralVersion) {
    for (int32_t log2n = 0; log2n <= 7; ++log2n) {
        const int32_t n = 1 << log2n;
        for (int32_t direction : {1, -1}) {
            const std::vector<ComplexCell> input = RandomCells(n, 17u + log2n);
            std::vector<double> re(n);
            std::vector<double> im(n);
            std::vector<double> refRe(n);
            std::vector<double> refIm(n);
            for (int32_t i = 0; i < n; ++i) {
                refRe[i] = re[i] = input[i].re;
                refIm[i] = im[i] = input[i].im;
            }
            LandGenerator::Fft1D(direction, log2n, re.data(), im.data());
            reference::Fft1D(direction, log2n, refRe.data(), refIm.data());
            std::vector<ComplexCell> got(n);
            for (int32_t i = 0; i < n; ++i) got[i] = {re[i], im[i]};
            ExpectNear(got, DirectDft(input, n, 1, false, direction));
            EXPECT_EQ(re, refRe);
            EXPECT_EQ(im, refIm);
        }
    }
}

TEST(LandTransform, Fft2DMatchesDirectDftsIncludingNonSquareMaps) {
    TestLand t(8);
    const int32_t sizes[][2] = {{1, 1}, {2, 8}, {8, 2}, {16, 4}, {32, 32}};
    for (const auto& size : sizes) {
        const int32_t w = size[0];
        const int32_t h = size[1];
        for (int32_t direction : {1, -1}) {
            std::vector<ComplexCell> cells = RandomCells(w * h, 3u + w + h);
            const std::vector<ComplexCell> expected =
                DirectDft(DirectDft(cells, w, h, true, direction), w, h, false, direction);
            ASSERT_TRUE(t.land.Fft2D(cells.data(), w, h, direction));
            ExpectNear(cells, expected);
        }
    }
}

TEST(LandTransform, Fft2DIsBitIdenticalToColumnByColumnTransforms) {
    for (int32_t side : {1, 2, 4, 8, 16, 32, 64, 128}) {
        TestLand t(side);
        for (int32_t direction : {1, -1}) {
            std::vector<ComplexCell> cells = RandomCells(side * side, 5u + side);
            std::vector<ComplexCell> expected = cells;
            reference::Fft2D(expected.data(), side, direction);
            ASSERT_TRUE(t.land.Fft2D(cells.data(), side, side, direction));
            EXPECT_TRUE(SameBits(cells, expected)) << side;
        }
    }
}

TEST(LandTransform, Fft2DRefusesSidesThatAreNotPowersOfTwo) {
    TestLand t(8);
    std::vector<ComplexCell> cells = RandomCells(1000 * 2, 9);
    const std::vector<ComplexCell> before = cells;
    EXPECT_FALSE(t.land.Fft2D(cells.data(), 1000, 2, 1));
    EXPECT_FALSE(t.land.Fft2D(cells.data(), 2, 1000, 1));
    EXPECT_FALSE(t.land.Fft2D(cells.data(), 0, 2, 1));
    EXPECT_TRUE(SameBits(cells, before));
}

TEST(LandTransform, Fft2DStopsAtAnAbortAndWithoutScratch) {
    TestLand t(16, CountingProgress);
    std::vector<ComplexCell> cells = RandomCells(16 * 16, 4);
    const std::vector<ComplexCell> before = cells;
    ResetPolls();
    EXPECT_TRUE(t.land.Fft2D(cells.data(), 16, 16, 1));
    EXPECT_EQ(pollCounter.polls, 32);  // one per column and per row
    EXPECT_EQ(pollCounter.lastHint, 16 * 4);

    // An abort at column 5: columns 0 ... 4 transformed, the rest untouched.
    cells = before;
    ResetPolls(6);
    EXPECT_FALSE(t.land.Fft2D(cells.data(), 16, 16, 1));
    std::vector<ComplexCell> expected = before;
    for (int32_t x = 0; x < 5; ++x) {
        std::vector<double> re(16);
        std::vector<double> im(16);
        for (int32_t y = 0; y < 16; ++y) {
            re[y] = expected[x + y * 16].re;
            im[y] = expected[x + y * 16].im;
        }
        reference::Fft1D(1, 4, re.data(), im.data());
        for (int32_t y = 0; y < 16; ++y) expected[x + y * 16] = {re[y], im[y]};
    }
    EXPECT_TRUE(SameBits(cells, expected));

    cells = before;
    ResetPolls();
    scratch::FailAllocationsAfter(0);
    EXPECT_FALSE(t.land.Fft2D(cells.data(), 16, 16, 1));
    scratch::FailAllocationsAfter(-1);
    EXPECT_TRUE(SameBits(cells, before));
    EXPECT_EQ(pollCounter.polls, 0);
}

TEST(LandSpectral, MatchesTheLiteralSynthesisAndRepeats) {
    for (int32_t side : {1, 2, 4, 8, 16, 32, 64, 128, 256}) {
        for (uint32_t seed : {1u, 99u}) {
            TestLand t(side);
            t.land.SetSeed(seed);
            ASSERT_TRUE(t.land.GenerateHeights());
            EXPECT_EQ(t.heights, reference::SpectralHeights(side, seed, 2.2)) << side;
            EXPECT_EQ(t.land.LowestHeight(), 0);
            const std::vector<int32_t> first = t.heights;
            // The synthesis re-applies the stored seed.
            t.land.NextNoise();
            ASSERT_TRUE(t.land.GenerateHeights());
            EXPECT_EQ(t.heights, first);
        }
    }
    TestLand t(64);
    t.land.SetSeed(3);
    t.land.spectralExponent = 1.5;
    t.land.GenerateHeights();
    EXPECT_EQ(t.heights, reference::SpectralHeights(64, 3, 1.5));
}

TEST(LandSpectral, PollsAndAbortsAsDocumented) {
    TestLand t(16, CountingProgress);
    t.land.SetSeed(1);
    ResetPolls();
    t.land.GenerateHeights();
    // Start, two transforms of 16 columns and 16 rows, the rebase.
    EXPECT_EQ(pollCounter.polls, 1 + 2 * 32 + 1);

    t.heights.assign(t.heights.size(), 7);
    ResetPolls(1);
    EXPECT_FALSE(t.land.GenerateHeights());
    for (int32_t h : t.heights) ASSERT_EQ(h, 7);

    // Aborted inside the first transform: heights are still written (the
    // rebase then stops at its poll).
    ResetPolls(3);
    t.land.GenerateHeights();
    EXPECT_NE(t.heights, std::vector<int32_t>(t.heights.size(), 7));

    // A single abort at row 5 of the last row pass: rows 0 ... 4 come out
    // as in a full run (up to the rebase's shift), the later rows are only
    // transformed along their columns.
    ResetPolls();
    t.land.GenerateHeights();
    const std::vector<int32_t> full = t.heights;
    ResetPolls(1 + 32 + 16 + 6, true);
    EXPECT_FALSE(t.land.GenerateHeights());
    const int32_t shift = t.heights[0] - full[0];
    for (size_t i = 0; i < 5 * 16; ++i) ASSERT_EQ(t.heights[i] - full[i], shift) << i;
    bool laterRowsDiffer = false;
    for (size_t i = 5 * 16; i < full.size(); ++i)
        laterRowsDiffer |= t.heights[i] - full[i] != shift;
    EXPECT_TRUE(laterRowsDiffer);

    // A single abort at column 5 of the first column pass: the other
    // columns keep their plain noise, the rows are not transformed.
    ResetPolls(1 + 6, true);
    EXPECT_FALSE(t.land.GenerateHeights());
    EXPECT_EQ(t.heights, reference::SpectralHeights(16, 1, 2.2, 5));
}

TEST(LandSpectral, UnsupportedShapesAndMissingScratchLeaveTheMapAlone) {
    TestLand oblong(16, 8);
    oblong.heights.assign(oblong.heights.size(), 3);
    EXPECT_FALSE(oblong.land.GenerateHeights());
    for (int32_t h : oblong.heights) ASSERT_EQ(h, 3);
    TestLand odd(12);
    EXPECT_FALSE(odd.land.GenerateHeights());

    TestLand t(32);
    t.heights.assign(t.heights.size(), 3);
    for (int32_t allowed = 0; allowed < 2; ++allowed) {
        scratch::FailAllocationsAfter(allowed);
        EXPECT_FALSE(t.land.GenerateHeights());
        scratch::FailAllocationsAfter(-1);
        for (int32_t h : t.heights) ASSERT_EQ(h, 3);
    }
}

TEST(LandMidpoint, StaysWithinTheLimitsAndWritesTheWholeGrid) {
    TestLand t(64);
    t.land.synthesisMethod = 0;
    t.land.SetSeed(1234);
    t.heights.assign(t.heights.size(), -1);
    t.heights[0] = 0;
    t.land.GenerateHeights();
    for (int32_t h : t.heights) {
        ASSERT_GE(h, 0);
        ASSERT_LE(h, 255);
    }
    const std::vector<int32_t> first = t.heights;
    t.land.GenerateHeights();
    EXPECT_EQ(t.heights, first);

    // The first level's single square wraps onto itself: its top and left
    // midpoints are overwritten by bottom and right, all from corner (0, 0).
    TestLand small(2);
    small.land.synthesisMethod = 0;
    small.land.SetSeed(1);
    small.land.GenerateHeights();
    EXPECT_EQ(small.heights[0], 0);
}

TEST(LandMidpoint, FirstLevelFollowsTheDrawOrder) {
    // Side 2: one level, step 2, half 1, range 510, halfRange 255.
    TestLand t(2);
    t.land.synthesisMethod = 0;
    t.land.SetSeed(77);
    t.land.GenerateHeights();
    t.land.SetSeed(77);
    int64_t r[5];
    for (int64_t& v : r) v = t.land.NextNoise() % 511;
    auto clamp = [](int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, 0, 255)); };
    const int32_t top = clamp(r[0] - 255);
    const int32_t bottom = clamp(r[1] - 255);
    const int32_t right = clamp(r[2] - 255);
    const int32_t left = clamp(r[3] - 255);
    const int32_t centre = clamp(r[4] + ((top + bottom + right + left) >> 2) - 255);
    EXPECT_EQ(t.heights[1], bottom);  // (1, 0): top, then bottom at y1 = 0
    EXPECT_EQ(t.heights[2], right);   // (0, 1): left, then right at x1 = 0
    EXPECT_EQ(t.heights[3], centre);
}

TEST(LandMidpoint, PollsOncePerLevelAndKeepsFinishedLevels) {
    TestLand t(16, CountingProgress);
    t.land.synthesisMethod = 0;
    t.land.SetSeed(1);
    ResetPolls();
    t.land.GenerateHeights();
    EXPECT_EQ(pollCounter.polls, 4);
    EXPECT_EQ(pollCounter.lastHint, 16 + 4 - 1);
    const std::vector<int32_t> full = t.heights;

    t.heights.assign(t.heights.size(), 0);
    ResetPolls(2);
    t.land.GenerateHeights();
    // Only the first level (cells at multiples of 8) is written.
    for (int32_t y = 0; y < 16; ++y) {
        for (int32_t x = 0; x < 16; ++x) {
            const int32_t v = t.heights[x + y * 16];
            EXPECT_EQ(v, (x % 8 == 0 && y % 8 == 0) ? full[x + y * 16] : 0) << x << "," << y;
        }
    }
}

TEST(LandRescale, RebaseAndScaleExamples) {
    TestLand t(4);
    for (size_t i = 0; i < t.heights.size(); ++i) t.heights[i] = static_cast<int32_t>(i) * 10 - 37;
    const std::vector<int32_t> before = t.heights;
    EXPECT_EQ(t.land.RebaseHeights(0), -37);
    for (size_t i = 0; i < t.heights.size(); ++i) EXPECT_EQ(t.heights[i], before[i] + 37);

    // Lowest 0, highest 150: scaled to 2048.
    t.land.ScaleHeights(2048);
    EXPECT_EQ(t.land.HighestHeight(), 2048);
    EXPECT_EQ(t.heights[0], 0);
    EXPECT_EQ(t.heights[1], static_cast<int32_t>(10 * (2048.0 / 150.0) + 0.5));
}

TEST(LandRescale, ScaleHeightsOnAFlatMapKeepsItFlat) {
    TestLand t(4);
    t.heights.assign(t.heights.size(), 0);
    t.land.ScaleHeights(2048);
    for (int32_t h : t.heights) EXPECT_EQ(h, 0);
    // Highest equal to minHeight, some cells below it: shifted, not scaled.
    LandGenerator low(4, 4, t.heights.data(), t.colours.data(), 10, 255, nullptr);
    t.heights.assign(t.heights.size(), 10);
    t.heights[3] = 4;
    low.ScaleHeights(500);
    EXPECT_EQ(t.heights[3], -5);  // -6 + 0.5 truncated toward zero
    EXPECT_EQ(t.heights[0], 0);
}

TEST(LandRescale, ExtremeHeightsSaturateInsteadOfOverflowing) {
    TestLand t(4);
    t.heights.assign(t.heights.size(), 0);
    t.heights[0] = -2147483647 - 1;
    t.heights[1] = 2147483647;
    EXPECT_EQ(t.land.RebaseHeights(100), -2147483647 - 1);
    EXPECT_EQ(t.heights[0], 100);
    EXPECT_EQ(t.heights[1], 2147483647);
    t.land.ScaleHeights(-2147483647 - 1);
    EXPECT_EQ(t.heights[1], -2147483647);  // -2^31 + 0.5 truncated
    t.land.ScaleHeights(2147483647);
    t.land.minHeight = -2147483647 - 1;
    t.land.ScaleHeights(2147483647);
}

TEST(LandRescale, PollingAndAborts) {
    TestLand t(32, CountingProgress);
    t.SetHeights(landtest::RandomHeights(32, 32, 5, 1000));
    const std::vector<int32_t> before = t.heights;
    ResetPolls(1);
    EXPECT_EQ(t.land.RebaseHeights(0), 0);
    EXPECT_EQ(t.heights, before);
    EXPECT_EQ(pollCounter.lastHint, 32);

    // Aborted at the second poll: only the last 256 cells are scaled.
    ResetPolls(2);
    t.land.ScaleHeights(2000);
    EXPECT_EQ(pollCounter.lastHint, 4);
    for (size_t i = 0; i < 768; ++i) ASSERT_EQ(t.heights[i], before[i]);
    EXPECT_NE(std::vector<int32_t>(t.heights.begin() + 768, t.heights.end()),
              std::vector<int32_t>(before.begin() + 768, before.end()));
}

}  // namespace

// Each kernel the build has (the baseline one, and where the processor runs
// them the wider ones) on interleaved lines in bit-reversed order, against
// Fft1D on each line alone.
TEST(LandTransform, EveryKernelGivesTheLiteralBits) {
    using line_transform::Kernel;
    int32_t kernelsRun = 0;
    for (Kernel kernel : {Kernel::kBaseline, Kernel::kAvx2, Kernel::kAvx512}) {
        for (int32_t log2n : {0, 1, 2, 3, 5, 6, 7, 9, 10, 12}) {
            for (int32_t count : {1, 3, 4, 8, 16, 32}) {
                const int32_t n = 1 << log2n;
                const std::vector<ComplexCell> input =
                    WildCells(int64_t{n} * count, static_cast<uint32_t>(log2n * 64 + count));
                for (int32_t direction : {1, -1}) {
                    std::vector<double> re(static_cast<size_t>(n) * count);
                    std::vector<double> im(re.size());
                    for (int32_t i = 0; i < n; ++i) {
                        const uint32_t to = line_transform::ReverseBits(i, log2n);
                        for (int32_t b = 0; b < count; ++b) {
                            re[to * count + b] = input[i * count + b].re;
                            im[to * count + b] = input[i * count + b].im;
                        }
                    }
                    std::vector<double> twiddles(line_transform::TwiddleDoubles(log2n));
                    line_transform::MakeTwiddles(direction, log2n, twiddles.data());
                    if (!line_transform::ButterfliesWith(kernel, log2n, count, twiddles.data(),
                                                         re.data(), im.data())) {
                        continue;
                    }
                    ++kernelsRun;
                    for (int32_t b = 0; b < count; ++b) {
                        std::vector<double> lineRe(n), lineIm(n);
                        for (int32_t i = 0; i < n; ++i) {
                            lineRe[i] = input[i * count + b].re;
                            lineIm[i] = input[i * count + b].im;
                        }
                        // Fft1D unscaled: the inverse direction's arithmetic
                        // matches except for the final division by n.
                        reference::Fft1D(direction, log2n, lineRe.data(), lineIm.data());
                        const double scale = direction == 1 ? static_cast<double>(n) : 1.0;
                        bool same = true;
                        for (int32_t i = 0; i < n && same; ++i) {
                            // x / n * n is x again, sign of zero included
                            // (n a power of two, no underflow at these
                            // magnitudes).
                            const double wantRe = lineRe[i] * scale;
                            const double wantIm = lineIm[i] * scale;
                            same = std::memcmp(&re[i * count + b], &wantRe, 8) == 0 &&
                                   std::memcmp(&im[i * count + b], &wantIm, 8) == 0;
                        }
                        EXPECT_TRUE(same) << "kernel " << static_cast<int>(kernel) << " n " << n
                                          << " lanes " << count << " line " << b;
                    }
                }
            }
        }
    }
    EXPECT_GT(kernelsRun, 0);
}
