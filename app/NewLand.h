// NewLand.h - the new-land pipeline and its progress display, portable.
//
// GenerateNewLand runs the fixed sequence of LandGenerator operations on the
// frame loop's maps, testing the abort flag after each; GenerationProgress is
// the generator's progress callback: it animates the progress texts (at most
// once per 128 ms of process clock) and sets the abort flag for good when the
// platform reports Shift.
//
// The land seed is the platform's calendar time in whole seconds; it also
// becomes the flight view's randomState once the pipeline got past setting
// it, and the view's waterLevel becomes 25 once the flooding ran. The texts
// are drawn through the platform at client pixels (5, 15), (5, 42), (5, 69);
// colours are 0x00RRGGBB.
#pragma once

#include <cstdint>

struct NewLandState {
    int32_t abortGeneration = 0;   // set by Shift, never cleared
    int32_t progressLevel = 255;   // 0 ... 255
    int32_t progressStep = 7;      // flips sign at either end
    int32_t progressLastTick = 0;  // process clock >> 7 at the last drawing
    int32_t failedStep = 0;        // the last generation's step without memory, 0: none
};

extern NewLandState newLand;

// Uses frameLoop's generator, view and platform; does nothing without them.
// Returns the pipeline step that could not get its memory (see
// land/LandPipeline.h; also kept in newLand.failedStep), 0 when none failed.
int32_t GenerateNewLand();
// The generator's ProgressCallback: nonzero means abort. The hint is ignored.
int32_t GenerationProgress(int32_t hint);
// Forwards to the frame loop's platform (nothing without one).
void DrawStatusText(const char* text, int32_t x, int32_t y, uint32_t colour);
