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
// per 256 cells) and stop when it returns nonzero; what each leaves behind is
// documented at the operation. A null callback never aborts.
//
// Memory: operations that need scratch memory obtain at most one map-sized
// buffer at a time (spectral synthesis: 16 bytes a cell). When it cannot be
// obtained they return false and leave both maps exactly as they were.
//
// Noise: one process-wide LcgRandom state (noiseState, noiseAccumulator,
// noiseMode) shared by every generator; only one generator may run at a time.
#pragma once

#include <cstdint>

using ProgressCallback = int32_t (*)(int32_t hint);

struct ComplexCell {
    double re;
    double im;
};

// 256 colours, 0x00RRGGBB, dark low ground (entry 0) to light high ground.
extern const uint32_t EarthPalette[256];

class LandGenerator {
public:
    using NoiseSource = int32_t (*)();

    LandGenerator(int32_t width, int32_t height, int32_t* heightMap, uint32_t* colourMap,
                  int32_t minHeight, int32_t maxHeight, ProgressCallback progress);
    virtual ~LandGenerator();
    LandGenerator(const LandGenerator&) = delete;
    LandGenerator& operator=(const LandGenerator&) = delete;

    // --- The record ---------------------------------------------------------
    ProgressCallback progress;  // may be null
    int32_t blockSize;          // midpoint-displacement grid extent and stride
    int32_t width;              // cells per row of both maps
    int32_t height;             // rows of both maps
    int32_t maxHeight;          // upper clamp of midpoint displacement
    int32_t minHeight;          // lower clamp; reference level of ScaleHeights
    int32_t* heightMap;
    uint32_t* colourMap;
    uint32_t seed;              // last seed given to SetSeed
    int32_t synthesisMethod;    // nonzero: spectral synthesis; 0: midpoint displacement
    double spectralExponent;    // power-law falloff exponent (2.2)
    NoiseSource noiseSource;    // NextNoise, NextNoiseAveraged or NextNoiseLowPass

    // --- Module-level noise state, shared by every generator ------------------
    static uint32_t noiseState;
    static int32_t noiseAccumulator;
    static int32_t noiseMode;  // 0 plain, 1 averaged, 2..31 low-pass shift

    void ResetParameters();

    // --- Noise ----------------------------------------------------------------
    void SetSeed(uint32_t newSeed);
    void SetNoiseMode(int32_t mode);
    static int32_t NextNoise();
    static int32_t NextNoiseAveraged();
    static int32_t NextNoiseLowPass();

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
    bool GenerateHeights();
    bool GenerateHeightsSpectral();
    void GenerateHeightsMidpoint();
    bool Fft2D(ComplexCell* cells, int32_t width, int32_t height, int32_t direction);
    static bool Fft1D(int32_t direction, int32_t log2n, double* re, double* im);
    static int32_t SplitPowerOfTwo(int32_t n, int32_t* log2n);
    int32_t RebaseHeights(int32_t floor);
    void ScaleHeights(int32_t top);

    // --- Palette colouring and blurs -------------------------------------------
    void ColourByHeight(int32_t levels);
    static int32_t NearestPaletteIndex(int32_t red, int32_t green, int32_t blue);
    bool BlurColours(int32_t centreWeight, int32_t passes, bool snapToPalette);
    bool BlurColours(int32_t centreWeight, bool snapToPalette);
    bool BlurHeights(int32_t centreWeight, int32_t passes);

    // --- Flow carving, flooding and lighting -----------------------------------
    bool CarveFlowChannels(int32_t depthGain, int32_t colourGain, int32_t maxSteps,
                           int32_t probeLength, int32_t flowBlurWeight);
    void FloodToLevel(int32_t level);
    bool ShadeSlopes(int32_t strength, char direction, int32_t blurPasses, int32_t blurWeight);
    bool CastShadows(int32_t shadowDelta, int32_t litDelta, char direction, int32_t dropPerCell,
                     int32_t blurPasses, int32_t blurWeight);

private:
    // Columns handled between two rounds of polling: work runs in strips of
    // this many columns, row by row within the strip, after one poll per
    // column of the strip, so the memory is walked along its rows.
    static constexpr int32_t kStripColumns = 64;
    // Columns transformed together by the column pass of Fft2D.
    static constexpr int32_t kFftBatch = 8;

    bool Poll(int32_t hint);  // true when progress asks for an abort
    // Polls once for each of count columns; returns how many of them may be
    // processed, fewer than count when a poll asked for the abort (which
    // sets *aborted).
    int32_t PollColumns(int32_t count, int32_t hint, bool* aborted);
    int64_t CellCount() const;
    // BlurHeights on any map with the caller's scratch map (width x height
    // cells, contents ignored); false when a poll aborted it.
    bool BlurMap(int32_t* map, int32_t* scratchMap, int32_t centreWeight, int32_t passes);
    // Fft2D with the caller's scratch (2 x kFftBatch x max(width, height)
    // doubles); sides must already be checked.
    bool Fft2DWithScratch(ComplexCell* cells, int32_t cellsWidth, int32_t cellsHeight,
                          int32_t direction, double* fftScratch);
};
