#include "web/WebFlight.h"

#include "app/FrameLoop.h"
#include "app/NewLand.h"
#include "view/FlightView.h"

void WebSettingsLoad(SettingReader read, void* context) {
    LoadSettingsFrom(read, context);
}

void WebSettingsRestoreDefaults() {
    RestoreDefaultSettings();
}

int32_t WebSettingValue(int index) {
    if (index < 0 || index >= kSettingCount) return 0;
    return *kSettings[index].variable;
}

void WebSettingSet(int index, int32_t value) {
    if (index < 0 || index >= kSettingCount) return;
    *kSettings[index].variable = value;
    ClampSettings();
}

int32_t WebSettingsOutputWidth() {
    return outputWidth;
}

bool WebFlightStart(SaverPlatform& platform, int32_t clientWidth, int32_t clientHeight) {
    // A saver process flies once; the page starts many flights, each of which
    // must fly as a fresh process would (the same frames as glidescape-render
    // for the same seeds), so the view's process-wide filters start over.
    FlightView::altitudeFilter = 256;
    FlightView::groundFilter = 512;
    FlightView::turnFilter = 0;
    FlightView::lastGoodViewDistance = 0;
    if (FrameLoopCreate(platform, clientWidth, clientHeight)) return true;
    FrameLoopDestroy();
    return false;
}

void WebFlightStop() {
    FrameLoopDestroy();
}

WebTick WebFlightTick() {
    switch (FrameLoopTick()) {
        case TickResult::Generated:
            return WebTick::Generated;
        case TickResult::DrewFrame:
            return WebTick::DrewFrame;
        case TickResult::Skipped:
            break;
    }
    return WebTick::Skipped;
}

const uint32_t* WebFlightFrame() {
    return frameLoop.ready ? frameLoop.framePixels : nullptr;
}

int32_t WebFlightOutputHeight() {
    return frameLoop.ready ? frameLoop.outputHeight : 0;
}

int32_t WebFlightLandSide() {
    return frameLoop.ready ? frameLoop.landSide : 0;
}

bool WebFlightAborted() {
    return newLand.abortGeneration != 0;
}
