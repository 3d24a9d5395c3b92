#include "x11/X11Options.h"

#include <cstring>

#include "app/CommandLine.h"
#include "app/Settings.h"

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

struct TargetOption {
    const char* name;
    X11Target target;
};

constexpr TargetOption kTargetOptions[] = {
    {"window", X11Target::OwnWindow},       {"fullscreen", X11Target::FullScreen},
    {"root", X11Target::Root},              {"background", X11Target::Background},
    {"overlay", X11Target::Overlay},
};

const X11Target* FindTargetOption(const std::string& option) {
    for (const TargetOption& entry : kTargetOptions) {
        if (option == entry.name) return &entry.target;
    }
    return nullptr;
}

bool IsSet(const char* value) {
    return value != nullptr && value[0] != '\0';
}

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

std::string X11Usage() {
    return std::string(
               "Usage: glidescape [options]\n"
               "Flies over fractal landscapes: a screen saver for X11 (XScreenSaver, MATE)\n"
               "and Wayland, and a live wallpaper on Wayland.\n"
               "\n"
               "Where it draws:\n"
               "  -window             a window of its own (default); a key, a click or moving\n"
               "                      the pointer ends it\n"
               "  -geometry WxH[+X+Y] size (and place, on X11) of that window (1024x768)\n"
               "  -fullscreen         its own window over the whole screen, pointer hidden;\n"
               "                      a key, a click or moving the pointer ends it\n"
               "  -root               X11: the root window, or the window in\n"
               "                      $XSCREENSAVER_WINDOW (the default when that is set)\n"
               "  -window-id ID       X11: a given window (decimal or 0x hex)\n"
               "  -background         Wayland: a live wallpaper on every output, each with a\n"
               "                      landscape of its own; input passes through\n"
               "  -overlay            Wayland: a screen saver over every output; a key, a\n"
               "                      click or moving the pointer ends it\n"
               "                      (started with $WAYLAND_SOCKET by a screen locker and no\n"
               "                      such option, it is the locker's background)\n"
               "  -x11, -wayland      the window system (default: X11 for -root, -window-id\n"
               "                      or $XSCREENSAVER_WINDOW, else Wayland where\n"
               "                      $WAYLAND_DISPLAY or $WAYLAND_SOCKET is set)\n"
               "  -display NAME       X11: the X display ($DISPLAY)\n"
               "\n"
               "Settings (override ~/.config/glidescape/Glidescp.ini; out-of-range values\n"
               "fall back to the default):\n") +
           SettingsUsage(kLinuxSaver, "-") +
           "\n"
           "Seeds for reproducible flights (Wayland outputs add their index):\n"
           "  -land-seed S        land seed instead of the calendar time (0..4294967295)\n"
           "  -view-seed S        view seed instead of the millisecond time\n"
           "\n"
           "  -tick-stats         at the end, print the time per frame tick (render, scale\n"
           "                      and put) on stderr\n"
           "  -timing FILE        write a line per frame shown into FILE: monotonic\n"
           "                      microseconds, tick, fraction, camera x y heading altitude\n"
           "  -help               this text\n"
           "  -version            the program's version\n"
           "While a landscape is made, Shift aborts it.\n";
}

bool ResolveBackend(X11Options& options, const LaunchEnvironment& environment,
                    std::string& error) {
    error.clear();
    const X11Target target = options.target;
    const bool needsX11 = options.targetGiven &&
                          (target == X11Target::Root || target == X11Target::WindowId);
    const bool needsWayland = options.targetGiven && (target == X11Target::Background ||
                                                      target == X11Target::Overlay);
    const char* targetName = target == X11Target::Root       ? "-root"
                             : target == X11Target::WindowId ? "-window-id"
                             : target == X11Target::Overlay  ? "-overlay"
                                                             : "-background";
    if (needsX11 && options.backend == SaverBackend::Wayland) {
        error = std::string(targetName) + " draws on an X window: not with -wayland";
        return false;
    }
    if (needsWayland && options.backend == SaverBackend::X11) {
        error = std::string(targetName) + " needs Wayland: not with -x11";
        return false;
    }
    if (needsX11) {
        options.backend = SaverBackend::X11;
        return true;
    }
    if (needsWayland) {
        options.backend = SaverBackend::Wayland;
        return true;
    }
    const bool daemonWindow = IsSet(environment.xscreensaverWindow);
    const bool lockerSocket = IsSet(environment.waylandSocket);
    if (options.backend == SaverBackend::Auto) {
        if (!options.targetGiven && daemonWindow) {
            options.backend = SaverBackend::X11;
        } else if (!options.display.empty()) {
            options.backend = SaverBackend::X11;
        } else if (lockerSocket || IsSet(environment.waylandDisplay)) {
            options.backend = SaverBackend::Wayland;
        } else {
            options.backend = SaverBackend::X11;
        }
    }
    if (!options.targetGiven) {
        if (options.backend == SaverBackend::X11 && daemonWindow) options.target = X11Target::Root;
        if (options.backend == SaverBackend::Wayland && lockerSocket) {
            options.target = X11Target::LockPlugin;
        }
    }
    return true;
}

namespace {

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
        const X11Target* target = FindTargetOption(option);
        if (target != nullptr) {
            options.target = *target;
            options.targetGiven = true;
            continue;
        }
        if (option == "tick-stats") {
            options.tickStats = true;
            continue;
        }
        if (option == "x11" || option == "wayland") {
            options.backend = option == "x11" ? SaverBackend::X11 : SaverBackend::Wayland;
            continue;
        }

        const SettingOption named = FindSettingOption(option.c_str(), kLinuxSaver);
        if (named.entry != nullptr && !named.takesValue) {
            options.settings.SetValue(*named.entry, named.value);
            continue;
        }
        const SettingEntry* setting = named.entry;
        const bool takesValue = setting != nullptr || option == "window-id" ||
                                option == "geometry" || option == "display" ||
                                option == "land-seed" || option == "view-seed" ||
                                option == "timing";
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
            if (!options.settings.Set(*setting, value)) return fail("is not a whole number");
        } else if (option == "window-id") {
            if (!ParseWindowId(value, &options.windowId)) {
                return fail("is not a window id (decimal or 0x hex, not 0)");
            }
            options.target = X11Target::WindowId;
            options.targetGiven = true;
        } else if (option == "geometry") {
            if (!ParseGeometry(value, options)) {
                return fail("is not a size WxH[+X+Y] (1 to 65535 pixels a side)");
            }
        } else if (option == "timing") {
            if (value[0] == '\0') return fail("is not a file name");
            options.timingFile = value;
        } else if (option == "display") {
            if (value[0] == '\0') return fail("is not a display name");
            options.display = value;
        } else {
            uint32_t seed = 0;
            if (!ParseSeed(value, &seed)) return fail("is not a seed (0 to 4294967295)");
            if (option == "land-seed") {
                options.hasLandSeed = true;
                options.landSeed = seed;
            } else {
                options.hasViewSeed = true;
                options.viewSeed = seed;
            }
        }
    }
    return X11ParseResult::Run;
}

}  // namespace
