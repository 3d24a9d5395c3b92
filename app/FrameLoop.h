// FrameLoop.h - the saver's frame loop and its module state, portable.
//
// One saver window per process, so the state is module-level. A front end:
//   1. loads the settings (LoadSettingsFrom / the platform's LoadSettings),
//   2. calls FrameLoopCreate with its platform and client size,
//   3. calls FrameLoopTick every 40 ms (the first tick makes the land),
//   4. calls FrameLoopDestroy when its window goes away.
// FrameLoopCreate returns false when the saver cannot fly (a zero-sized client
// area, a buffer, the generator or the view missing); ticks then do nothing.
#pragma once

#include <cstdint>

#include "app/Platform.h"

class FlightView;
class LandGenerator;

struct FrameLoopState {
    SaverPlatform* platform = nullptr;
    int32_t clientWidth = 0;   // destination of every blit
    int32_t clientHeight = 0;
    int32_t outputHeight = 0;  // rows of the frame (columns: outputWidth)
    int32_t landSide = 0;      // 1 << landSize
    int32_t* heightMapPixels = nullptr;
    uint32_t* colourMapPixels = nullptr;
    uint32_t* framePixels = nullptr;
    LandGenerator* landGenerator = nullptr;
    FlightView* flightView = nullptr;
    int32_t newLandCountdown = 0;
    int32_t frameCounter = 0;
    int32_t autopilotDirection = -1;
    int32_t horizonBase = 0;
    int32_t prevTurnCommand = 0;
    int32_t prevClimbRate = 0;
    bool ready = false;  // everything exists: ticks may fly
};

extern FrameLoopState frameLoop;

enum class TickResult { Generated, DrewFrame, Skipped };

// Output height for a client area: outputWidth / clientWidth x clientHeight,
// truncated; 0 when it cannot be computed.
int32_t ComputeOutputHeight(int32_t width, int32_t clientWidth, int32_t clientHeight);
// Base horizon row from the tilt setting.
int32_t ComputeHorizonBase(int32_t tiltSetting, int32_t width);

bool FrameLoopCreate(SaverPlatform& platform, int32_t clientWidth, int32_t clientHeight);
bool CreateSaverObjects();
TickResult FrameLoopTick();
void FrameLoopDestroy();  // releases everything and resets the module state
