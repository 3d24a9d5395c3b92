#include "x11/FlightLoop.h"

#include "app/FrameLoop.h"
#include "app/Settings.h"

bool StartFlight(SaverPlatform& platform, int32_t clientWidth, int32_t clientHeight) {
    if (FrameLoopCreate(platform, clientWidth, clientHeight)) return true;
    FrameLoopDestroy();
    return false;
}

bool TickFlight() {
    return FrameLoopTick() == TickResult::DrewFrame;
}

int32_t FlightFrameRows(int32_t clientWidth, int32_t clientHeight) {
    return ComputeOutputHeight(outputWidth, clientWidth, clientHeight);
}

void StopFlight() {
    FrameLoopDestroy();
}
