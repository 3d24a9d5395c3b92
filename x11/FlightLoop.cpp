#include "x11/FlightLoop.h"

#include "app/FrameLoop.h"

namespace {

Flight flight;

}  // namespace

bool StartFlight(SaverPlatform& platform, const Settings& settings, int32_t clientWidth,
                 int32_t clientHeight) {
    // The land is made on a worker thread: the window keeps answering (and
    // a signal or a close ends the saver at once) while a big one is made.
    if (flight.Create(platform, settings, clientWidth, clientHeight, 0, Generation::Worker)) {
        return true;
    }
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
