// X11Options.h - the command line of the Linux saver `glidescape`, and
// whether it runs on X11 or on Wayland.
//
// Options follow the X screen-saver convention: one dash (two are accepted
// too), the value as the next argument. ParseX11Options is pure (no X, no
// output, no exit) so the tests and the fuzzer can call it directly; main
// maps its result to an exit code.
//
// The settings options are those of the settings table that the Linux saver
// reads, kept as SettingOverrides (applied over the INI file's values and
// clamped exactly like them); a value that is not a signed decimal integer is
// an error. Seeds are 0 to 4294967295; window ids are decimal or 0x
// hexadecimal, 1 to 0xFFFFFFFF.
#pragma once

#include "app/Settings.h"

#include <cstdint>
#include <string>

// Where the saver draws. The first four exist on X11; OwnWindow and
// FullScreen on Wayland too (an xdg_toplevel); the last three on Wayland only.
enum class X11Target {
    OwnWindow,   // -window: a window of our own (the default)
    FullScreen,  // -fullscreen: our own window over the whole screen
    Root,        // -root: the root window, or $XSCREENSAVER_WINDOW
    WindowId,    // -window-id ID: a window somebody else made
    Background,  // -background: a live wallpaper on every output (layer shell)
    Overlay,     // -overlay: a screen saver over every output (layer shell)
    LockPlugin,  // started by a screen locker with $WAYLAND_SOCKET: the
                 // locker's background on every output, no input
};

// The window system: -x11, -wayland, or chosen from the target and the
// environment (ResolveBackend).
enum class SaverBackend { Auto, X11, Wayland };

struct X11Options {
    X11Target target = X11Target::OwnWindow;
    bool targetGiven = false;  // an option named the target
    SaverBackend backend = SaverBackend::Auto;
    uint32_t windowId = 0;       // with WindowId
    int32_t windowWidth = 1024;  // with OwnWindow (-geometry)
    int32_t windowHeight = 768;
    bool hasPosition = false;  // -geometry WxH+X+Y
    int32_t windowX = 0;
    int32_t windowY = 0;
    std::string display;     // -display NAME; empty: $DISPLAY
    bool tickStats = false;  // -tick-stats: time per frame tick on stderr at the end
    std::string timingFile;  // -timing FILE: a line per frame shown (app/TimingLog.h)

    // Settings options; unset ones keep what the INI file says.
    SettingOverrides settings;

    // Seeds; unset ones come from the clocks.
    bool hasLandSeed = false;
    uint32_t landSeed = 0;  // every landscape's seed instead of the calendar time
    bool hasViewSeed = false;
    uint32_t viewSeed = 0;  // the flight view's seed instead of the millisecond time
};

enum class X11ParseResult { Run, Help, Version, Error };

// On Error, `error` holds one line (without newline) naming the option.
X11ParseResult ParseX11Options(int argc, const char* const* argv, X11Options& options,
                               std::string& error);

// A window id: decimal or 0x/0X hexadecimal digits only, 1 to 0xFFFFFFFF.
bool ParseWindowId(const char* text, uint32_t* id);

// The -help text.
std::string X11Usage();

// The environment variables that choose the window system (null when unset).
struct LaunchEnvironment {
    const char* waylandSocket = nullptr;       // WAYLAND_SOCKET: a connection handed over
    const char* waylandDisplay = nullptr;      // WAYLAND_DISPLAY
    const char* xscreensaverWindow = nullptr;  // XSCREENSAVER_WINDOW
};

// Decides the window system and, when no option named one, the target:
//   - -root and -window-id draw on an X window, -background and -overlay on
//     Wayland outputs; naming the other window system with them is an error;
//   - without a target option, $XSCREENSAVER_WINDOW (a screen saver daemon
//     such as MATE's starts its programs so, without arguments) means X11 and
//     -root, $WAYLAND_SOCKET means Wayland and LockPlugin;
//   - otherwise $WAYLAND_SOCKET or $WAYLAND_DISPLAY means Wayland, and X11
//     where neither is set or -display names an X display.
// -x11 and -wayland override the environment. Empty variables count as
// unset. On success `options.backend` is X11 or Wayland; false with one line
// in `error` for a contradiction (exit code 2).
bool ResolveBackend(X11Options& options, const LaunchEnvironment& environment,
                    std::string& error);
