// WebMain.cpp - the browser page's platform and the functions its script calls.
//
// The page (web/index.html) loads the settings through the same table and
// value reader as the INI file (a setting's text comes from the address or
// from localStorage), starts a flight on a client area of the window's CSS
// size and calls glidescape_tick every 40 ms from requestAnimationFrame.
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

#include "app/Platform.h"
#include "app/Settings.h"
#include "host/HostLogic.h"
#include "web/WebFlight.h"

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
// clang-format on

namespace {

// Time between yields to the browser during generation: short enough for a
// smooth page, long enough that the yields cost little of the generation.
constexpr double kYieldEveryMs = 25.0;

// The address's name of each setting, and the name the settings panel shows.
// A key of the table without a name here ("Monitors", which only the Windows
// saver reads) is neither read, shown nor stored by the page.
struct WebSetting {
    const char* key;
    const char* param;
    const char* label;
};
constexpr WebSetting kWebSettings[] = {
    {"Flight Speed", "speed", "Flying Speed"},
    {"Land Size", "land-size", "Land Size"},
    {"Object Count", "objects", "Object Count"},
    {"Output Width", "output-width", "Output Width"},
    {"Newland Wait", "newland-wait", "Seconds to New Land"},
    {"AutoPilot Intensity", "autopilot", "Autopilot Intensity"},
    {"Tilt", "tilt", "View Tilt"},
};

const WebSetting* FindWebSetting(const char* key) {
    for (const WebSetting& s : kWebSettings) {
        if (std::strcmp(s.key, key) == 0) return &s;
    }
    return nullptr;
}

// The INI file's reader: text that is not a decimal integer gives the default.
int32_t ReadPageSetting(const char* key, int32_t defaultValue, void*) {
    const WebSetting* web = FindWebSetting(key);
    if (web == nullptr) return defaultValue;
    char* text = PageSettingText(web->key, web->param);
    if (text == nullptr) return defaultValue;
    int32_t value = defaultValue;
    if (!hostlogic::ParseSettingText(text, &value)) value = defaultValue;
    std::free(text);
    return value;
}

// A seed: decimal digits only, 0 to 4294967295.
bool ParseSeed(const char* text, uint32_t* seed) {
    if (text == nullptr || *text == '\0') return false;
    uint64_t value = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') return false;
        value = value * 10 + static_cast<uint64_t>(*c - '0');
        if (value > UINT32_MAX) return false;
    }
    *seed = static_cast<uint32_t>(value);
    return true;
}

class WebPlatform final : public SaverPlatform {
public:
    void BlitFrame(const uint32_t* pixels, int32_t width, int32_t height) override {
        if (pixels == nullptr || width <= 0 || height <= 0) return;
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
            const uint32_t* in = pixels + static_cast<size_t>(row) * static_cast<size_t>(width);
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

    void DrawStatusText(const char* text, int32_t x, int32_t y, uint32_t colour) override {
        PageStatusText(text, x, y, colour);
    }

    // The generator's progress poll asks for Shift on every call, so this is
    // where a long generation gives the browser its turn.
    bool QueryShift() override {
        const double now = emscripten_get_now();
        if (now - lastYieldMs_ >= kYieldEveryMs) {
            emscripten_sleep(0);
            lastYieldMs_ = emscripten_get_now();
        }
        return PageQueryShift() != 0;
    }

    int32_t ProcessClockMs() override {
        return static_cast<int32_t>(
            static_cast<uint32_t>(static_cast<uint64_t>(emscripten_get_now())));
    }

    uint32_t CalendarSeconds() override {
        uint32_t seed = static_cast<uint32_t>(std::time(nullptr));
        if (hasLandSeed) {
            seed = landSeed;
        } else if (repeatLandOnce && hasLastLandSeed_) {
            seed = lastLandSeed_;
        }
        repeatLandOnce = false;
        lastLandSeed_ = seed;
        hasLastLandSeed_ = true;
        return seed;
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
    // The next landscape repeats the last one (a flight rebuilt for a new
    // window size keeps its land).
    bool repeatLandOnce = false;

private:
    uint32_t lastLandSeed_ = 0;
    bool hasLastLandSeed_ = false;
    std::unique_ptr<uint8_t[]> rgba_;
    size_t rgbaBytes_ = 0;
    double lastYieldMs_ = 0.0;
};

WebPlatform platform;
std::string jsonText;
char checksumText[17];

void AppendJsonString(std::string& out, const char* text) {
    out += '"';
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c == '"' || *c == '\\') out += '\\';
        out += *c;
    }
    out += '"';
}

}  // namespace

extern "C" {

// Reads the page's seven settings from the address and localStorage, then
// clamps.
EMSCRIPTEN_KEEPALIVE void glidescape_load_settings() {
    WebSettingsLoad(ReadPageSetting, nullptr);
}

// Restores every setting to its default (nothing is stored).
EMSCRIPTEN_KEEPALIVE void glidescape_restore_defaults() {
    WebSettingsRestoreDefaults();
}

// Sets one setting from text as the reader would, then clamps all.
EMSCRIPTEN_KEEPALIVE void glidescape_set_setting(const char* key, const char* text) {
    const SettingEntry* entry = FindSetting(key);
    if (entry == nullptr || text == nullptr || FindWebSetting(key) == nullptr) return;
    int32_t value = entry->defaultValue;
    if (!hostlogic::ParseSettingText(text, &value)) value = entry->defaultValue;
    WebSettingSet(static_cast<int>(entry - kSettings), value);
}

// Stores the page's seven (clamped) settings as the configuration dialog
// writes them: "%ld" text in the dialog's order.
EMSCRIPTEN_KEEPALIVE void glidescape_save_settings() {
    for (int index : kSettingsWriteOrder) {
        const SettingEntry& entry = kSettings[index];
        if (FindWebSetting(entry.key) == nullptr) continue;
        char text[16];
        std::snprintf(text, sizeof text, "%" PRId32, WebSettingValue(index));
        PageStoreSetting(entry.key, text);
    }
}

// A seed from text ("" or anything but 0 ... 4294967295 in decimal: the
// clock). which: 0 land, 1 view. Returns 1 when the text was a seed.
EMSCRIPTEN_KEEPALIVE int glidescape_set_seed(int which, const char* text) {
    uint32_t seed = 0;
    const bool has = ParseSeed(text, &seed);
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
// [{"key","param","label","min","max","default","value"}, ...] in reading
// order; max is null for no upper bound.
EMSCRIPTEN_KEEPALIVE const char* glidescape_settings_json() {
    jsonText = "[";
    for (int i = 0; i < kSettingCount; ++i) {
        const SettingEntry& entry = kSettings[i];
        const WebSetting* web = FindWebSetting(entry.key);
        if (web == nullptr) continue;
        if (jsonText.size() > 1) jsonText += ',';
        jsonText += "{\"key\":";
        AppendJsonString(jsonText, entry.key);
        jsonText += ",\"param\":";
        AppendJsonString(jsonText, web->param);
        jsonText += ",\"label\":";
        AppendJsonString(jsonText, web->label);
        jsonText += ",\"min\":" + std::to_string(entry.minimum);
        jsonText += ",\"max\":";
        jsonText += entry.maximum == INT32_MAX ? "null" : std::to_string(entry.maximum);
        jsonText += ",\"default\":" + std::to_string(entry.defaultValue);
        jsonText += ",\"value\":" + std::to_string(WebSettingValue(i)) + "}";
    }
    jsonText += "]";
    return jsonText.c_str();
}

// A new flight on a client area of the given CSS pixels; 1 when it can fly.
EMSCRIPTEN_KEEPALIVE int glidescape_start(int32_t clientWidth, int32_t clientHeight) {
    return WebFlightStart(platform, clientWidth, clientHeight) ? 1 : 0;
}

EMSCRIPTEN_KEEPALIVE void glidescape_stop() {
    WebFlightStop();
}

// The next flight's first landscape is the last one made (unless a land seed
// is set anyway).
EMSCRIPTEN_KEEPALIVE void glidescape_repeat_land() {
    platform.repeatLandOnce = true;
}

// One tick: 0 made land, 1 drew a frame, 2 did nothing.
EMSCRIPTEN_KEEPALIVE int glidescape_tick() {
    platform.StartTick();
    switch (WebFlightTick()) {
        case WebTick::Generated:
            return 0;
        case WebTick::DrewFrame:
            return 1;
        case WebTick::Skipped:
            break;
    }
    return 2;
}

EMSCRIPTEN_KEEPALIVE int32_t glidescape_output_width() {
    return WebSettingsOutputWidth();
}
EMSCRIPTEN_KEEPALIVE int32_t glidescape_output_height() {
    return WebFlightOutputHeight();
}
EMSCRIPTEN_KEEPALIVE int32_t glidescape_land_side() {
    return WebFlightLandSide();
}
EMSCRIPTEN_KEEPALIVE int glidescape_aborted() {
    return WebFlightAborted() ? 1 : 0;
}

// 64-bit FNV-1a of the frame's words as little-endian bytes in memory order
// (row 0 at the bottom), as 16 hex digits; "" without a flight. Equals the
// hash of glidescape-render's raw frame dump.
EMSCRIPTEN_KEEPALIVE const char* glidescape_frame_checksum() {
    const uint32_t* frame = WebFlightFrame();
    if (frame == nullptr) return "";
    const size_t count = static_cast<size_t>(WebSettingsOutputWidth()) *
                         static_cast<size_t>(WebFlightOutputHeight());
    uint64_t hash = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < count; ++i) {
        for (int byte = 0; byte < 4; ++byte) {
            hash ^= (frame[i] >> (8 * byte)) & 0xFFu;
            hash *= 0x100000001b3ull;
        }
    }
    std::snprintf(checksumText, sizeof checksumText, "%016" PRIx64, hash);
    return checksumText;
}

}  // extern "C"
