#include "x11/FlightLoop.h"

#include "app/FrameLoop.h"

namespace {

Flight flight;

}  // namespace

bool StartFlight(SaverPlatform& platform, const Settings& settings, int32_t clientWidth,
                 int32_t clientHeight) {
    if (flight.Create(platform, settings, clientWidth, clientHeight)) return true;
    flight.Destroy();
    return false;
}

bool TickFlight() {
    return flight.Tick() == TickResult::DrewFrame;
}

int32_t FlightFrameRows(const Settings& settings, int32_t clientWidth, int32_t clientHeight) {
    return ComputeOutputHeight(settings.outputWidth, clientWidth, clientHeight);
}

void StopFlight() {
    flight.Destroy();
}
