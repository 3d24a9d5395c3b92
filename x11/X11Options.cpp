#include "x11/X11Options.h"

#include <cstring>

#include "app/Settings.h"
#include "host/HostLogic.h"

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Unsigned decimal digits only, at most `maximum`.
bool ParseUnsigned(const char* text, uint64_t maximum, uint64_t* value) {
    if (!IsDigit(*text)) return false;
    uint64_t result = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (!IsDigit(*p)) return false;
        result = result * 10u + static_cast<uint64_t>(*p - '0');
        if (result > maximum) return false;
    }
    *value = result;
    return true;
}

// A side of -geometry: 1 to 65535 pixels.
bool ParseSide(const std::string& text, int32_t* side) {
    uint64_t value = 0;
    if (!ParseUnsigned(text.c_str(), 65535u, &value) || value == 0) return false;
    *side = static_cast<int32_t>(value);
    return true;
}

// An offset of -geometry: a sign and decimal digits, at most 65535 either way.
bool ParseOffset(const std::string& text, int32_t* offset) {
    if (text.size() < 2 || (text[0] != '+' && text[0] != '-')) return false;
    uint64_t value = 0;
    if (!ParseUnsigned(text.c_str() + 1, 65535u, &value)) return false;
    *offset = text[0] == '-' ? -static_cast<int32_t>(value) : static_cast<int32_t>(value);
    return true;
}

// WxH, optionally followed by +X+Y (either sign).
bool ParseGeometry(const std::string& text, X11Options& options) {
    const auto x = text.find_first_of("xX");
    if (x == std::string::npos) return false;
    const auto offsets = text.find_first_of("+-", x + 1);
    const std::string height =
        text.substr(x + 1, offsets == std::string::npos ? std::string::npos : offsets - x - 1);
    if (!ParseSide(text.substr(0, x), &options.windowWidth) ||
        !ParseSide(height, &options.windowHeight)) {
        return false;
    }
    if (offsets == std::string::npos) {
        options.hasPosition = false;
        return true;
    }
    const auto second = text.find_first_of("+-", offsets + 1);
    if (second == std::string::npos) return false;
    if (!ParseOffset(text.substr(offsets, second - offsets), &options.windowX) ||
        !ParseOffset(text.substr(second), &options.windowY)) {
        return false;
    }
    options.hasPosition = true;
    return true;
}

struct SettingOption {
    const char* name;  // without dashes
    bool X11Options::*has;
    int32_t X11Options::*value;
};

const SettingOption kSettingOptions[] = {
    {"speed", &X11Options::hasSpeed, &X11Options::speed},
    {"land-size", &X11Options::hasLandSize, &X11Options::landSize},
    {"objects", &X11Options::hasObjects, &X11Options::objects},
    {"output-width", &X11Options::hasOutputWidth, &X11Options::outputWidth},
    {"newland-wait", &X11Options::hasNewlandWait, &X11Options::newlandWait},
    {"autopilot", &X11Options::hasAutopilot, &X11Options::autopilot},
    {"tilt", &X11Options::hasTilt, &X11Options::tilt},
};

}  // namespace

bool ParseWindowId(const char* text, uint32_t* id) {
    if (text == nullptr) return false;
    uint64_t value = 0;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        const char* p = text + 2;
        if (*p == '\0') return false;
        for (; *p != '\0'; ++p) {
            const int digit = HexDigit(*p);
            if (digit < 0) return false;
            value = value * 16u + static_cast<uint64_t>(digit);
            if (value > UINT32_MAX) return false;
        }
    } else if (!ParseUnsigned(text, UINT32_MAX, &value)) {
        return false;
    }
    if (value == 0) return false;
    *id = static_cast<uint32_t>(value);
    return true;
}

const char* X11Usage() {
    return "Usage: glidescape [options]\n"
           "Flies over fractal landscapes; an X screen saver.\n"
           "\n"
           "Where it draws:\n"
           "  -window             a window of its own (default); a key, a click or moving\n"
           "                      the pointer ends it\n"
           "  -geometry WxH[+X+Y] size (and place) of that window (1024x768)\n"
           "  -fullscreen         its own window over the whole screen, pointer hidden;\n"
           "                      a key, a click or moving the pointer ends it\n"
           "  -root               the root window, or the window in $XSCREENSAVER_WINDOW\n"
           "  -window-id ID       a given window (decimal or 0x hex)\n"
           "  -display NAME       the X display ($DISPLAY)\n"
           "\n"
           "Settings (override ~/.config/glidescape/Glidescp.ini; out-of-range values\n"
           "fall back to the default):\n"
           "  -speed N            flight speed, 0..100 (25)\n"
           "  -land-size N        land side 2^N cells, 6..12 (10)\n"
           "  -objects N          airborne objects, 0..255 (6)\n"
           "  -output-width N     frame columns, 128..3000 (512)\n"
           "  -newland-wait N     seconds between landscapes, 0 and above (1200)\n"
           "  -autopilot N        autopilot intensity, 0..200 (30)\n"
           "  -tilt N             view tilt, -128..128 (0)\n"
           "\n"
           "Seeds for reproducible flights:\n"
           "  -land-seed S        land seed instead of the calendar time (0..4294967295)\n"
           "  -view-seed S        view seed instead of the millisecond time\n"
           "\n"
           "  -tick-stats         at the end, print the time per frame tick (render, scale\n"
           "                      and put) on stderr\n"
           "  -help               this text\n"
           "  -version            the program's version\n"
           "While a landscape is made, Shift aborts it.\n";
}

namespace {

// Control characters of an argument (a newline, say) as \xHH, so that a
// message naming it stays one line.
std::string OneLine(const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    std::string line;
    for (const char c : text) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 0x20 || code == 0x7F) {
            line += "\\x";
            line += kHex[code >> 4];
            line += kHex[code & 0xF];
        } else {
            line += c;
        }
    }
    return line;
}

X11ParseResult ParseArguments(int argc, const char* const* argv, X11Options& options,
                              std::string& error);

}  // namespace

X11ParseResult ParseX11Options(int argc, const char* const* argv, X11Options& options,
                               std::string& error) {
    const X11ParseResult result = ParseArguments(argc, argv, options, error);
    if (result == X11ParseResult::Error) error = OneLine(error);
    return result;
}

namespace {

X11ParseResult ParseArguments(int argc, const char* const* argv, X11Options& options,
                              std::string& error) {
    options = X11Options{};
    error.clear();
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i] != nullptr ? argv[i] : "";
        // One dash or two, as the user likes.
        const char* name = argument;
        if (name[0] == '-') ++name;
        if (name[0] == '-') ++name;
        if (name == argument || name[0] == '\0') {
            error = std::string("unexpected argument '") + argument + "' (see -help)";
            return X11ParseResult::Error;
        }
        const std::string option(name);

        if (option == "help" || option == "h") return X11ParseResult::Help;
        if (option == "version") return X11ParseResult::Version;
        if (option == "window") {
            options.target = X11Target::OwnWindow;
            continue;
        }
        if (option == "fullscreen") {
            options.target = X11Target::FullScreen;
            continue;
        }
        if (option == "tick-stats") {
            options.tickStats = true;
            continue;
        }
        if (option == "root") {
            options.target = X11Target::Root;
            continue;
        }

        const SettingOption* setting = nullptr;
        for (const SettingOption& candidate : kSettingOptions) {
            if (option == candidate.name) setting = &candidate;
        }
        const bool takesValue = setting != nullptr || option == "window-id" ||
                                option == "geometry" || option == "display" ||
                                option == "land-seed" || option == "view-seed";
        if (!takesValue) {
            error = std::string("unknown option '") + argument + "' (see -help)";
            return X11ParseResult::Error;
        }
        if (i + 1 >= argc || argv[i + 1] == nullptr) {
            error = std::string(argument) + ": needs a value";
            return X11ParseResult::Error;
        }
        const char* value = argv[++i];
        auto fail = [&](const char* what) {
            error = std::string(argument) + ": '" + value + "' " + what;
            return X11ParseResult::Error;
        };

        if (setting != nullptr) {
            // The INI file's own reader: the same numbers mean the same here.
            int32_t number = 0;
            const hostlogic::SettingText read = hostlogic::ReadSettingText(value, &number);
            if (read == hostlogic::SettingText::NotANumber) return fail("is not a whole number");
            // Beyond 32 bits falls back like any value out of range: INT32_MIN
            // lies outside every setting's range.
            if (read == hostlogic::SettingText::OutOfRange) number = INT32_MIN;
            options.*(setting->has) = true;
            options.*(setting->value) = number;
        } else if (option == "window-id") {
            if (!ParseWindowId(value, &options.windowId)) {
                return fail("is not a window id (decimal or 0x hex, not 0)");
            }
            options.target = X11Target::WindowId;
        } else if (option == "geometry") {
            if (!ParseGeometry(value, options)) {
                return fail("is not a size WxH[+X+Y] (1 to 65535 pixels a side)");
            }
        } else if (option == "display") {
            if (value[0] == '\0') return fail("is not a display name");
            options.display = value;
        } else {
            uint64_t seed = 0;
            if (!ParseUnsigned(value, UINT32_MAX, &seed)) {
                return fail("is not a seed (0 to 4294967295)");
            }
            if (option == "land-seed") {
                options.hasLandSeed = true;
                options.landSeed = static_cast<uint32_t>(seed);
            } else {
                options.hasViewSeed = true;
                options.viewSeed = static_cast<uint32_t>(seed);
            }
        }
    }
    return X11ParseResult::Run;
}

}  // namespace

void ApplyOptionSettings(const X11Options& options, Settings& settings) {
    if (options.hasSpeed) settings.flightSpeed = options.speed;
    if (options.hasLandSize) settings.landSize = options.landSize;
    if (options.hasObjects) settings.objectCount = options.objects;
    if (options.hasOutputWidth) settings.outputWidth = options.outputWidth;
    if (options.hasNewlandWait) settings.newlandWait = options.newlandWait;
    if (options.hasAutopilot) settings.autoPilotIntensity = options.autopilot;
    if (options.hasTilt) settings.tilt = options.tilt;
    ClampSettings(settings);
}
