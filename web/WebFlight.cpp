#include "web/WebFlight.h"

#include "app/FrameLoop.h"

namespace {

// The page's settings and its one flight. Each WebFlightStart creates the
// flight anew, so it flies as a fresh saver would (the same frames as
// glidescape-render for the same seeds).
Settings settings;
Flight flight;
bool aborted = false;  // a Shift press stopped a landscape of this flight

}  // namespace

void WebSettingsLoad(SettingReader read, void* context) {
    settings = LoadSettingsFrom(read, context);
}

void WebSettingsRestoreDefaults() {
    RestoreDefaultSettings(settings);
}

int32_t WebSettingValue(int index) {
    if (index < 0 || index >= kSettingCount) return 0;
    return settings.*kSettings[index].field;
}

void WebSettingSet(int index, int32_t value) {
    if (index < 0 || index >= kSettingCount) return;
    settings.*kSettings[index].field = value;
    ClampSettings(settings);
}

int32_t WebSettingsOutputWidth() {
    return settings.outputWidth;
}

bool WebFlightStart(SaverPlatform& platform, int32_t clientWidth, int32_t clientHeight) {
    aborted = false;
    // Inline generation: the page has no threads.
    if (flight.Create(platform, settings, clientWidth, clientHeight)) return true;
    flight.Destroy();
    return false;
}

void WebFlightStop() {
    flight.Destroy();
}

WebTick WebFlightTick() {
    switch (flight.Tick()) {
        case TickResult::Generated:
            if (flight.newLand.abortGeneration != 0) aborted = true;
            return WebTick::Generated;
        case TickResult::DrewFrame:
            return WebTick::DrewFrame;
        case TickResult::Generating:
        case TickResult::Skipped:
            break;
    }
    return WebTick::Skipped;
}

const uint32_t* WebFlightFrame() {
    return flight.frameLoop.ready ? flight.frameLoop.framePixels : nullptr;
}

int32_t WebFlightOutputHeight() {
    return flight.frameLoop.ready ? flight.frameLoop.outputHeight : 0;
}

int32_t WebFlightLandSide() {
    return flight.frameLoop.ready ? flight.frameLoop.landSide : 0;
}

bool WebFlightAborted() {
    return aborted || flight.newLand.abortGeneration != 0;
}
