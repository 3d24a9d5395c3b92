// ReferenceLand.h - slow, literal versions of the land passes that the
// generator implements in a faster way (strips of columns, batched
// transforms, remembered descent moves). Each follows the plain loop order
// cell by cell, so tests can demand bit-identical maps from the fast code.
#pragma once

#include <cstdint>
#include <vector>

#include "land/LandGenerator.h"

namespace reference {

// A pair of maps with their side lengths.
struct Maps {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<int32_t> heights;
    std::vector<uint32_t> colours;
};

// Radix-2 transform of one array, in the literal operation order.
void Fft1D(int32_t direction, int32_t log2n, double* re, double* im);
// Columns one at a time, then rows one at a time (square power-of-two side).
// columns >= 0: only the first `columns` columns, and no rows (an abort).
void Fft2D(ComplexCell* cells, int32_t side, int32_t direction, int32_t columns = -1);
// Spectral synthesis of a square power-of-two map: raw heights, lowest 0.
// forwardColumns >= 0: the forward transform stops after that many columns.
std::vector<int32_t> SpectralHeights(int32_t side, uint32_t seed, double exponent,
                                     int32_t forwardColumns = -1);

void BlurHeights(std::vector<int32_t>& map, int32_t width, int32_t height, int32_t centreWeight,
                 int32_t passes);
void BlurColours(Maps& maps, int32_t centreWeight, int32_t passes, bool snapToPalette);
// Flow tracing only: the visit counts of the paths from the first
// startColumns columns (all when negative), before any blur.
std::vector<int32_t> FlowCounts(const std::vector<int32_t>& scaledHeights, int32_t width,
                                int32_t height, int32_t maxSteps, int32_t probeLength,
                                int32_t startColumns = -1);
void CarveFlowChannels(Maps& maps, int32_t depthGain, int32_t colourGain, int32_t maxSteps,
                       int32_t probeLength, int32_t flowBlurWeight);
void FloodToLevel(Maps& maps, int32_t level);
void ShadeSlopes(Maps& maps, int32_t strength, char direction, int32_t blurPasses,
                 int32_t blurWeight);
void CastShadows(Maps& maps, int32_t shadowDelta, int32_t litDelta, char direction,
                 int32_t dropPerCell, int32_t blurPasses, int32_t blurWeight);

// The whole new-land pipeline of a square map built from the passes above
// (and the generator's own rescaling and colouring helpers).
Maps Pipeline(int32_t side, uint32_t seed);

}  // namespace reference
