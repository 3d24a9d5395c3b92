// NewLand.h - the state of a flight's new-land pipeline and progress display.
//
// Flight::GenerateNewLand (app/NewLand.cpp) runs the fixed sequence of
// LandGenerator operations on the flight's maps, testing the abort flag after
// each; Flight::GenerationProgress is the generator's progress callback: it
// animates the progress screen (at most once per 128 ms of the platform's
// clock) and
// sets the abort flag when the platform reports Shift. The abort ends the
// generation in progress only; the flight flies on over the land as the
// aborted run left it, and the next countdown makes a new landscape.
//
// The land seed is the platform's calendar time in whole seconds; it also
// becomes the flight view's randomState once the pipeline got past setting
// it, and the view's waterLevel becomes 25 once the flooding ran. The
// platform shows the progress screen (SaverPlatform::ShowProgress).
#pragma once

#include <cstdint>

struct NewLandState {
    int32_t abortGeneration = 0;   // set by Shift; cleared as each generation starts
    int32_t progressLevel = 255;   // 0 ... 255
    int32_t progressStep = 7;      // flips sign at either end
    int64_t progressLastTick = 0;  // clock ms >> 7 at the last drawing
    int32_t failedStep = 0;        // the last generation's step without memory, 0: none
};
