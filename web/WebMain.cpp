// WebMain.cpp - the browser page's platform and the functions its script calls.
//
// The page (web/index.html) makes one WebSaver (glidescape_create) and hands
// it to every other call: the saver's state lives in that one object, as a
// saver window's does. The page loads the settings through the same table
// and value reader as the INI file (a setting's text comes from the address
// or from localStorage), starts a flight on a client area of the window's
// CSS size, resizes it with the window (the land and the camera stay) and
// calls glidescape_tick every 40 ms from requestAnimationFrame.
// Land generation runs inside a tick; at the generator's progress poll the
// platform yields to the browser (Asyncify) about every 25 ms so the page
// stays responsive, draws the progress texts and sees Shift.
//
// Frames go to the page's canvas as RGBA, top row first. Seeds given on the
// page replace the calendar time (land) and the millisecond time (view), as
// glidescape-render's --land-seed and --view-seed do.
#include <emscripten.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string>

#include "app/CommandLine.h"
#include "app/FrameLoop.h"
#include "app/Pacing.h"
#include "app/Platform.h"
#include "app/Settings.h"

// The page's script, in web/index.html, implements these on the module.
// The bodies are JavaScript.
// clang-format off
EM_JS(void, PageBlit, (const uint8_t* rgba, int32_t width, int32_t height), {
    Module.page.blit(new Uint8ClampedArray(HEAPU8.buffer, rgba, width * height * 4), width, height);
});
EM_JS(void, PageStatusText, (const char* text, int32_t x, int32_t y, uint32_t colour),
      { Module.page.statusText(UTF8ToString(text), x, y, colour >>> 0); });
EM_JS(int32_t, PageQueryShift, (), { return Module.page.queryShift() ? 1 : 0; });
// The text stored for a setting: from the address under `param`, else from
// localStorage under the INI key; null when neither has it. Freed by the caller.
EM_JS(char*, PageSettingText, (const char* key, const char* param), {
    const text = Module.page.settingText(UTF8ToString(key), UTF8ToString(param));
    if (text === null) return 0;
    const size = lengthBytesUTF8(text) + 1;
    const copy = _malloc(size);
    if (copy) stringToUTF8(text, copy, size);
    return copy;
});
EM_JS(void, PageStoreSetting, (const char* key, const char* text),
      { Module.page.storeSetting(UTF8ToString(key), UTF8ToString(text)); });
EM_JS(int32_t, PageHidden, (), { return document.hidden ? 1 : 0; });
// Waits (yielding to the browser) until the page can be seen again.
EM_ASYNC_JS(void, PageWaitUntilVisible, (), { await Module.page.untilVisible(); });
// clang-format on

namespace {

// Time between yields to the browser during generation: short enough for a
// smooth page, long enough that the yields cost little of the generation.
constexpr double kYieldEveryMs = 25.0;

// A setting the page shows and stores: the table's settings that the page
// reads (null for the others, "Monitors" among them).
const SettingEntry* PageSetting(const char* key) {
    const SettingEntry* entry = FindSetting(key);
    return entry != nullptr && (entry->frontEnds & kWebPage) != 0 ? entry : nullptr;
}

// The INI file's reader: text that is not a decimal integer gives the default.
int32_t ReadPageSetting(const char* key, int32_t defaultValue, void*) {
    const SettingEntry* entry = PageSetting(key);
    if (entry == nullptr) return defaultValue;
    char* text = PageSettingText(entry->key, entry->option);
    if (text == nullptr) return defaultValue;
    int32_t value = defaultValue;
    if (!ParseSettingText(text, &value)) value = defaultValue;
    std::free(text);
    return value;
}

class WebPlatform final : public SaverPlatform {
public:
    void BlitFrame(const uint32_t* pixels, int32_t width, int32_t height, int32_t stride) override {
        if (pixels == nullptr || width <= 0 || height <= 0 || stride < width) return;
        // 4 bytes a pixel; a frame whose size does not fit (impossible within
        // the frame loop's limits) or whose copy cannot be had is not shown.
        const uint64_t bytes = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 4u;
        if (bytes > SIZE_MAX) return;
        if (bytes > rgbaBytes_) {
            std::unique_ptr<uint8_t[]> bigger(new (std::nothrow) uint8_t[bytes]);
            if (bigger == nullptr) return;
            rgba_ = std::move(bigger);
            rgbaBytes_ = static_cast<size_t>(bytes);
        }
        // The frame's row 0 is its bottom; the canvas wants the top row first.
        uint8_t* out = rgba_.get();
        for (int32_t row = height - 1; row >= 0; --row) {
            const uint32_t* in = pixels + static_cast<size_t>(row) * static_cast<size_t>(stride);
            for (int32_t x = 0; x < width; ++x) {
                const uint32_t p = in[x];
                out[0] = static_cast<uint8_t>(p >> 16);
                out[1] = static_cast<uint8_t>(p >> 8);
                out[2] = static_cast<uint8_t>(p);
                out[3] = 255;
                out += 4;
            }
        }
        PageBlit(rgba_.get(), width, height);
    }
    // The copy above reads any row length.
    bool TakesPaddedFrames() const override { return true; }

    void DrawStatusText(const char* text, int32_t x, int32_t y, uint32_t colour) override {
        PageStatusText(text, x, y, colour);
    }

    // The generator's progress poll asks for Shift on every call, so this is
    // where a long generation gives the browser its turn.
    bool QueryShift() override {
        const double now = emscripten_get_now();
        if (now - lastYieldMs_ >= kYieldEveryMs) {
            // A hidden page makes no land: the generation waits until the
            // page is seen again instead of running in the background.
            if (PageHidden() != 0) {
                PageWaitUntilVisible();
            } else {
                emscripten_sleep(0);
            }
            lastYieldMs_ = emscripten_get_now();
        }
        return PageQueryShift() != 0;
    }

    uint32_t CalendarSeconds() override {
        return hasLandSeed ? landSeed : static_cast<uint32_t>(std::time(nullptr));
    }

    uint32_t MillisecondTime() override {
        if (hasViewSeed) return viewSeed;
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        return static_cast<uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
    }

    void StartTick() { lastYieldMs_ = emscripten_get_now(); }

    bool hasLandSeed = false;
    uint32_t landSeed = 0;
    bool hasViewSeed = false;
    uint32_t viewSeed = 0;

private:
    std::unique_ptr<uint8_t[]> rgba_;
    size_t rgbaBytes_ = 0;
    double lastYieldMs_ = 0.0;
};

void AppendJsonString(std::string& out, const char* text) {
    out += '"';
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c == '"' || *c == '\\') out += '\\';
        out += *c;
    }
    out += '"';
}

}  // namespace

// Everything of the page's saver: its platform, the settings of its next
// flight and the flight.
struct WebSaver {
    WebPlatform platform;
    Settings settings;
    Flight flight;
    FramePacer pacer;
    int64_t refreshMicroseconds = kDefaultRefreshMicroseconds;  // as the page measures it
    bool onBattery = false;  // as the browser's battery says
    bool aborted = false;    // a Shift press stopped a landscape of this flight
    std::string json;      // the last glidescape_settings_json answer
    char checksum[17] = {};
};

namespace {

// Smooth motion, battery and the refresh rate decide the pacing.
void ApplyPowerPlan(WebSaver& saver) {
    const PowerPlan plan = PlanPower(saver.flight.settings, saver.onBattery);
    const bool smooth = plan.smooth && saver.flight.smooth();
    if (smooth != saver.pacer.smooth() ||
        saver.refreshMicroseconds != saver.pacer.refreshMicroseconds()) {
        saver.pacer.Configure(smooth, saver.refreshMicroseconds);
    }
    saver.pacer.SetVisible(plan.drawing);
    saver.flight.SetLandOnOneThread(plan.landOnOneThread);
}

}  // namespace

extern "C" {

// The page's saver, with the default settings; null without memory.
EMSCRIPTEN_KEEPALIVE WebSaver* glidescape_create() {
    return new (std::nothrow) WebSaver;
}

EMSCRIPTEN_KEEPALIVE void glidescape_destroy(WebSaver* saver) {
    delete saver;
}

// Reads the page's settings from the address and localStorage, then clamps.
EMSCRIPTEN_KEEPALIVE void glidescape_load_settings(WebSaver* saver) {
    saver->settings = LoadSettingsFrom(ReadPageSetting, nullptr);
}

// Restores every setting to its default (nothing is stored).
EMSCRIPTEN_KEEPALIVE void glidescape_restore_defaults(WebSaver* saver) {
    RestoreDefaultSettings(saver->settings);
}

// Sets one setting from text as the reader would, then clamps all.
EMSCRIPTEN_KEEPALIVE void glidescape_set_setting(WebSaver* saver, const char* key,
                                                 const char* text) {
    const SettingEntry* entry = PageSetting(key);
    if (entry == nullptr || text == nullptr) return;
    int32_t value = entry->defaultValue;
    if (!ParseSettingText(text, &value)) value = entry->defaultValue;
    saver->settings.*entry->field = value;
    ClampSettings(saver->settings);
}

// Stores the page's (clamped) settings as the configuration dialog writes
// them: "%ld" text in the dialog's order.
EMSCRIPTEN_KEEPALIVE void glidescape_save_settings(WebSaver* saver) {
    for (int index : kSettingsWriteOrder) {
        const SettingEntry& entry = kSettings[index];
        if ((entry.frontEnds & kWebPage) == 0) continue;
        char text[16];
        std::snprintf(text, sizeof text, "%" PRId32, saver->settings.*entry.field);
        PageStoreSetting(entry.key, text);
    }
}

// A seed from text ("" or anything but 0 ... 4294967295 in decimal: the
// clock). which: 0 land, 1 view. Returns 1 when the text was a seed.
EMSCRIPTEN_KEEPALIVE int glidescape_set_seed(WebSaver* saver, int which, const char* text) {
    uint32_t seed = 0;
    const bool has = ParseSeed(text, &seed);
    WebPlatform& platform = saver->platform;
    if (which == 0) {
        platform.hasLandSeed = has;
        platform.landSeed = seed;
    } else {
        platform.hasViewSeed = has;
        platform.viewSeed = seed;
    }
    return has ? 1 : 0;
}

// The page's settings with the current values, for its panel:
// [{"key","param","label","min","max","default","kind","choices","value"},
// ...] in reading order; max is null for no upper bound; kind is "number",
// "toggle" or "choice", and only a choice has choices (the names of its
// values from min up).
EMSCRIPTEN_KEEPALIVE const char* glidescape_settings_json(WebSaver* saver) {
    std::string& json = saver->json;
    json = "[";
    for (const SettingEntry& entry : kSettings) {
        if ((entry.frontEnds & kWebPage) == 0) continue;
        if (json.size() > 1) json += ',';
        json += "{\"key\":";
        AppendJsonString(json, entry.key);
        json += ",\"param\":";
        AppendJsonString(json, entry.option);
        json += ",\"label\":";
        AppendJsonString(json, entry.label);
        json += ",\"min\":" + std::to_string(entry.minimum);
        json += ",\"max\":";
        json += entry.maximum == INT32_MAX ? "null" : std::to_string(entry.maximum);
        json += ",\"default\":" + std::to_string(entry.defaultValue);
        json += ",\"kind\":";
        json += entry.kind == SettingKind::Toggle   ? "\"toggle\""
                : entry.kind == SettingKind::Choice ? "\"choice\""
                                                    : "\"number\"";
        if (entry.choices != nullptr) {
            json += ",\"choices\":[";
            for (const char* const* choice = entry.choices; *choice != nullptr; ++choice) {
                if (choice != entry.choices) json += ',';
                AppendJsonString(json, *choice);
            }
            json += "]";
        }
        json += ",\"value\":" + std::to_string(saver->settings.*entry.field) + "}";
    }
    json += "]";
    return json.c_str();
}

// A new flight on a client area of the given CSS pixels, as a fresh saver
// flies (the same frames as glidescape-render for the same seeds), made
// inline (the page has no threads); 1 when it can fly.
EMSCRIPTEN_KEEPALIVE int glidescape_start(WebSaver* saver, int32_t clientWidth,
                                          int32_t clientHeight) {
    saver->aborted = false;
    const bool flies =
        saver->flight.Create(saver->platform, saver->settings, clientWidth, clientHeight).ok();
    saver->pacer.Restart();
    ApplyPowerPlan(*saver);
    return flies ? 1 : 0;
}

// One animation frame at `nowMs` (requestAnimationFrame's time): the ticks
// that fell due, then the frame the display shows. Bit 0: a frame was
// drawn; bit 1: a landscape was made.
EMSCRIPTEN_KEEPALIVE int glidescape_refresh(WebSaver* saver, double nowMs) {
    saver->platform.StartTick();
    const RefreshOutcome outcome =
        RefreshFlights(saver->pacer, &saver->flight, 1, static_cast<int64_t>(nowMs * 1000.0));
    if (outcome.madeLand && saver->flight.newLand.abortGeneration != 0) saver->aborted = true;
    return (outcome.drawn > 0 ? 1 : 0) | (outcome.madeLand ? 2 : 0);
}

// The display's refresh period as the page measured it (milliseconds).
EMSCRIPTEN_KEEPALIVE void glidescape_set_refresh(WebSaver* saver, double periodMs) {
    const int64_t period = static_cast<int64_t>(periodMs * 1000.0);
    if (period <= 0) return;
    saver->refreshMicroseconds = period;
    ApplyPowerPlan(*saver);
}

// What the browser's battery says: 1 on battery, 0 on mains.
EMSCRIPTEN_KEEPALIVE void glidescape_set_power(WebSaver* saver, int onBattery) {
    saver->onBattery = onBattery != 0;
    ApplyPowerPlan(*saver);
}

// The seeds of the landscape flown now (0 before the first): which 0 land,
// 1 view. The page reads them as unsigned.
EMSCRIPTEN_KEEPALIVE uint32_t glidescape_seed(WebSaver* saver, int which) {
    return which == 0 ? saver->flight.landSeed() : saver->flight.viewSeed();
}

// The camera of the last frame shown: which 0 x, 1 y (position units),
// 2 heading (angle units), 3 altitude.
EMSCRIPTEN_KEEPALIVE int32_t glidescape_drawn_camera(WebSaver* saver, int which) {
    const Flight::Camera& camera = saver->flight.drawnCamera();
    switch (which) {
        case 0:
            return camera.positionX;
        case 1:
            return camera.positionY;
        case 2:
            return camera.heading;
        default:
            return camera.altitude;
    }
}

// A new client size for the flight: the land and the camera stay. 1 when it
// flies at that size.
EMSCRIPTEN_KEEPALIVE int glidescape_resize(WebSaver* saver, int32_t clientWidth,
                                           int32_t clientHeight) {
    return saver->flight.Resize(clientWidth, clientHeight).ok() ? 1 : 0;
}

EMSCRIPTEN_KEEPALIVE void glidescape_stop(WebSaver* saver) {
    saver->flight.Destroy();
}

// One tick: 0 made land, 1 drew a frame, 2 did nothing.
EMSCRIPTEN_KEEPALIVE int glidescape_tick(WebSaver* saver) {
    saver->platform.StartTick();
    switch (saver->flight.Tick()) {
        case TickResult::Generated:
            if (saver->flight.newLand.abortGeneration != 0) saver->aborted = true;
            return 0;
        case TickResult::DrewFrame:
            return 1;
        case TickResult::Flew:
            return saver->flight.Draw(0) ? 1 : 2;
        case TickResult::Generating:
        case TickResult::Skipped:
            break;
    }
    return 2;
}

EMSCRIPTEN_KEEPALIVE int32_t glidescape_output_width(WebSaver* saver) {
    return saver->settings.outputWidth;
}
EMSCRIPTEN_KEEPALIVE int32_t glidescape_output_height(WebSaver* saver) {
    return saver->flight.frameLoop.ready ? saver->flight.frameLoop.outputHeight : 0;
}
EMSCRIPTEN_KEEPALIVE int32_t glidescape_land_side(WebSaver* saver) {
    return saver->flight.frameLoop.ready ? saver->flight.frameLoop.landSide : 0;
}
EMSCRIPTEN_KEEPALIVE int glidescape_aborted(WebSaver* saver) {
    return saver->aborted || saver->flight.newLand.abortGeneration != 0 ? 1 : 0;
}

// 64-bit FNV-1a of the frame's words as little-endian bytes in memory order
// (row 0 at the bottom), as 16 hex digits; "" without a flight. Equals the
// hash of glidescape-render's raw frame dump.
EMSCRIPTEN_KEEPALIVE const char* glidescape_frame_checksum(WebSaver* saver) {
    const FrameLoopState& loop = saver->flight.frameLoop;
    if (!loop.ready || loop.framePixels == nullptr) return "";
    const auto width = static_cast<size_t>(saver->flight.settings.outputWidth);
    const auto stride = static_cast<size_t>(loop.frameStride);
    uint64_t hash = 0xcbf29ce484222325ull;
    // The rows' padding (see TakesPaddedFrames) is not part of the frame.
    for (size_t row = 0; row < static_cast<size_t>(loop.outputHeight); ++row) {
        const uint32_t* pixels = loop.framePixels + row * stride;
        for (size_t i = 0; i < width; ++i) {
            for (int byte = 0; byte < 4; ++byte) {
                hash ^= (pixels[i] >> (8 * byte)) & 0xFFu;
                hash *= 0x100000001b3ull;
            }
        }
    }
    std::snprintf(saver->checksum, sizeof saver->checksum, "%016" PRIx64, hash);
    return saver->checksum;
}

}  // extern "C"
