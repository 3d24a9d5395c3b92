// FrameLoop.h - the saver's frame loop and its module state, portable.
//
// One saver window per process, so the state is module-level. A front end:
//   1. loads the settings (LoadSettingsFrom / the platform's LoadSettings),
//   2. calls FrameLoopCreate with its platform and client size,
//   3. calls FrameLoopTick every 40 ms (the first tick makes the land),
//   4. calls FrameLoopDestroy when its window goes away.
// FrameLoopCreate returns false when the saver cannot fly (a client area
// without width or height, an output height that truncates to 0 or exceeds
// the 16384 rows the view can draw, a buffer, the generator or the view
// missing); ticks then do nothing. Nothing is built on a missing buffer.
//
// Timing: "Newland Wait" x 25 ticks between landscapes, at least 25 (a wait
// of 0 still flies one second per landscape), saturated at INT32_MAX ticks.
// A frame tick whose view cannot draw (its tables or sky could not be set up;
// the tables are retried at every frame tick, before the autopilot reads
// them) is skipped whole: no steering, no motion, no blit, and the frame
// counter stays. A view without its objects flies on without them.
//
// Memory: a generation that runs out of memory (GenerateNewLand's result)
// leaves the land as the pipeline left it; the loop flies on over it and tries
// again when the next landscape is due. Until a first landscape was made,
// frame ticks draw one line instead ("Land Size N needs more memory than is
// free") and are skipped.
#pragma once

#include <cstdint>

#include "app/Platform.h"

class FlightView;
class LandGenerator;
class ThreadPool;

struct FrameLoopState {
    SaverPlatform* platform = nullptr;
    int32_t clientWidth = 0;  // destination of every blit
    int32_t clientHeight = 0;
    int32_t outputHeight = 0;  // rows of the frame (columns: outputWidth)
    int32_t landSide = 0;      // 1 << landSize
    int32_t* heightMapPixels = nullptr;
    uint32_t* colourMapPixels = nullptr;
    uint32_t* framePixels = nullptr;
    LandGenerator* landGenerator = nullptr;
    FlightView* flightView = nullptr;
    int32_t threads = 0;               // pool size asked for; 0: the machine's cores
    ThreadPool* threadPool = nullptr;  // lent to the generator and the view; may be null
    int32_t newLandCountdown = 0;
    int32_t frameCounter = 0;
    int32_t autopilotDirection = -1;
    int32_t horizonBase = 0;
    int32_t prevTurnCommand = 0;
    int32_t prevClimbRate = 0;
    bool ready = false;     // everything exists: ticks may fly
    bool landMade = false;  // a generation ran without running out of memory
};

extern FrameLoopState frameLoop;

// What one tick did.
enum class TickResult {
    Generated,  // made (or tried to make, if aborted) a landscape; drew nothing
    DrewFrame,  // flew one frame and blitted it
    Skipped,    // nothing: the loop cannot fly, or the view cannot draw yet
};

// Output height for a client area: width / clientWidth x clientHeight in
// double, quotient first, truncated (512 on 1280 x 1024 gives 409); 0 when a
// side is not positive or the result does not fit 32 bits.
int32_t ComputeOutputHeight(int32_t width, int32_t clientWidth, int32_t clientHeight);
// Base horizon row (rows of the rotated frame): tilt x width / 256 +
// width x 0.78125, truncated (512 with tilt 0 gives 400).
int32_t ComputeHorizonBase(int32_t tiltSetting, int32_t width);

// Uses the current settings (load them first; values out of range get their
// fall-backs here too). Starts from the initial state
// (destroys a loop that still exists). The platform must outlive the loop.
// threads: the land passes and the frames run on that many threads (below
// 1: the machine's cores); the pictures are the same for every count.
bool FrameLoopCreate(SaverPlatform& platform, int32_t clientWidth, int32_t clientHeight,
                     int32_t threads = 0);
// The three buffers, the thread pool (without it everything runs on the
// calling thread), the generator and the view; true when the buffers, the
// generator and the view exist.
bool CreateSaverObjects();
TickResult FrameLoopTick();
// Releases the view, the generator and the three buffers (through the
// platform) and resets the frame loop's and the new-land pipeline's state.
void FrameLoopDestroy();
