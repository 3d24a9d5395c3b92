// WebFlight.h - the page's one use of the portable frame loop.
//
// Everything the page needs from app/FrameLoop.h (its one Flight) and
// app/Settings.h (its Settings value) goes through these few calls, so a change of the frame loop's
// interface is adapted here and nowhere else. Called from web/WebMain.cpp only, on the browser's
// main thread.
#pragma once

#include <cstdint>

#include "app/Platform.h"
#include "app/Settings.h"

// The settings of the next flight, by index into kSettings (reading order).
// Loading and setting clamp as the INI reader does.
void WebSettingsLoad(SettingReader read, void* context);
void WebSettingsRestoreDefaults();
int32_t WebSettingValue(int index);
void WebSettingSet(int index, int32_t value);
int32_t WebSettingsOutputWidth();

// Builds a new flight for a client area of clientWidth x clientHeight CSS
// pixels with the settings above. False when it cannot
// fly (see Flight::Create); a flight that existed is gone either way.
bool WebFlightStart(SaverPlatform& platform, int32_t clientWidth, int32_t clientHeight);
void WebFlightStop();

enum class WebTick { Generated, DrewFrame, Skipped };
// One 40 ms tick; a generation tick may yield to the browser inside.
WebTick WebFlightTick();

// The frame of the flight: outputWidth x outputHeight words, row 0 at the
// bottom; null without a flight.
const uint32_t* WebFlightFrame();
int32_t WebFlightOutputHeight();  // 0 without a flight
int32_t WebFlightLandSide();      // cells per side, 0 without a flight
// True once Shift stopped a landscape of this flight.
bool WebFlightAborted();
