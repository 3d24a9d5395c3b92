// LandPipeline.h - the land generator's part of the new-land pipeline.
//
// RunLandPipeline makes a complete landscape in the generator's two maps,
// with land.width as the land side S (a power of two, 64 ... 4096 in the
// saver). The steps are numbered as the application's GenerateNewLand
// numbers them:
//    1  FillMap(heightMap, 0)                                   then test
//    2  SetSeed(seed)   (the application also copies the seed into the
//                        flight view's randomState)
//    3  noiseMode 0, synthesisMethod -1, spectralExponent 2.2
//    4  GenerateHeights                                          then test
//    5  ScaleHeights(2 S)                                        then test
//    6  ColourByHeight(256)                                      then test
//    7  BlurColours(3, no palette snap)                          then test
//    8  CarveFlowChannels(-(S / 4), -100, 16, 4, 3)              then test
//    9  RebaseHeights(0)                                         then test
//   10  ScaleHeights(S >> 1)                                     then test
//   11  FloodToLevel(25)   (the application sets waterLevel 25)  then test
//   12  ShadeSlopes(20, 'r', 1, 0)                              then test
//   13  CastShadows(-35, 5, 'r', 1024, 1, 0)
// "Then test": when abortFlag is not null and *abortFlag is nonzero, the
// pipeline returns the number of the step just finished. It returns 13 when
// every step ran. So the caller sets the flight view's randomState when the
// result is >= 2 and its waterLevel to 25 when the result is >= 11.
//
// abortFlag is normally the flag that the generator's progress callback
// sets; a null abortFlag never aborts. A generation that the generator's
// abandonCheck gives up stops at the test after the step it was in, with
// the maps in no particular state.
//
// Memory: before step 1 the pipeline obtains the largest scratch block it
// will need (the synthesis, 16 bytes a cell), or finds it kept in the
// generator from the last landscape, and lends it to the passes for their
// scratch maps until it returns; the generator keeps it for the next one
// (LandGenerator::KeepPeakScratch). When it cannot be had, no step runs, the
// maps stay as they were, the result is 0 and *failedStep 4.
// A step that still cannot obtain its scratch memory (4, 7, 8, 12 or 13)
// leaves its maps as they were and stops the pipeline: the result is the
// step before it and *failedStep names it. *failedStep is 0 when nothing
// failed; failedStep may be null.
#pragma once

#include <cstdint>

#include "land/LandGenerator.h"

// Sea level the pipeline floods to; the flight view draws it as water.
constexpr int32_t kLandWaterLevel = 25;

int32_t RunLandPipeline(LandGenerator& land, uint32_t seed, const int32_t* abortFlag,
                        int32_t* failedStep = nullptr);

// What a failed step makes, for messages: "height synthesis", "colour blur",
// "flow carving", "slope shading", "cast shadows" ("landscape" otherwise).
const char* LandPipelineStepName(int32_t step);
