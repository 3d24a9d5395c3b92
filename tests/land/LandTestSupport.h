// LandTestSupport.h - maps, generators and progress callbacks for the land
// tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "land/LandGenerator.h"

namespace landtest {

// Progress callback (its context a PollCounter) that counts its polls and, from the poll numbered
// abortAt on (1-based; 0: never), returns nonzero; with oneShot only that
// poll does. It also sets abortFlag, as the application's callback does.
struct PollCounter {
    int64_t polls = 0;
    int64_t abortAt = 0;
    bool oneShot = false;
    int32_t abortFlag = 0;
    int32_t lastHint = 0;
};
extern PollCounter pollCounter;
int32_t CountingProgress(void* counter, int32_t hint);
void ResetPolls(int64_t abortAt = 0, bool oneShot = false);

// Two maps of side x side cells and a generator over them.
struct TestLand {
    explicit TestLand(int32_t side, ProgressCallback progress = nullptr)
        : TestLand(side, side, progress) {}
    TestLand(int32_t w, int32_t h, ProgressCallback progress = nullptr)
        : heights(static_cast<size_t>(w) * h, 0),
          colours(static_cast<size_t>(w) * h, 0),
          land(w, h, heights.data(), colours.data(), 0, 255, progress, &pollCounter) {}
    // The generator keeps pointers into the vectors: replace their contents
    // only through these (never by assigning a new vector).
    void SetHeights(const std::vector<int32_t>& values) {
        ASSERT_EQ(values.size(), heights.size());
        std::copy(values.begin(), values.end(), heights.begin());
    }
    void SetColours(const std::vector<uint32_t>& values) {
        ASSERT_EQ(values.size(), colours.size());
        std::copy(values.begin(), values.end(), colours.begin());
    }
    std::vector<int32_t> heights;
    std::vector<uint32_t> colours;
    LandGenerator land;
};

// FNV-1a 64 over the bytes of 32-bit words.
uint64_t Fnv1a(const void* words, size_t count);

// Reproducible colours: 24 random bits a cell (0x00RRGGBB), or all 32 bits
// when randomTopByte (for passes that must ignore the top byte).
std::vector<uint32_t> RandomColours(size_t count, uint32_t seed, bool randomTopByte = false);

// A reproducible rough height map (values 0 ... range - 1).
std::vector<int32_t> RandomHeights(int32_t w, int32_t h, uint32_t seed, int32_t range);

// Reproducible transform input: values over many magnitudes, with exact
// zeros of both signs among them.
std::vector<ComplexCell> WildCells(int64_t count, uint32_t seed);

// Writes a grey (heights) or colour picture when LAND_TEST_PICTURES names a
// folder; nothing otherwise.
void WritePicture(const char* name, const std::vector<int32_t>& heights, int32_t w, int32_t h);
void WritePicture(const char* name, const std::vector<uint32_t>& colours, int32_t w, int32_t h);

}  // namespace landtest
