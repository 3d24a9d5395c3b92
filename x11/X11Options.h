// X11Options.h - the command line of the Linux saver `glidescape`.
//
// Options follow the X screen-saver convention: one dash (two are accepted
// too), the value as the next argument. ParseX11Options is pure (no X, no
// output, no exit) so the tests and the fuzzer can call it directly; main
// maps its result to an exit code.
//
// The settings options are kept as given (ApplyOptionSettings puts them into
// the settings table, which clamps them exactly like values from the INI
// file); a value that is not a signed decimal integer is an error. Seeds are
// 0 to 4294967295; window ids are decimal or 0x hexadecimal, 1 to 0xFFFFFFFF.
#pragma once

#include "app/Settings.h"

#include <cstdint>
#include <string>

enum class X11Target {
    OwnWindow,   // -window: a window of our own (the default)
    FullScreen,  // -fullscreen: our own window over the whole screen
    Root,        // -root: the root window, or $XSCREENSAVER_WINDOW
    WindowId,    // -window-id ID: a window somebody else made
};

struct X11Options {
    X11Target target = X11Target::OwnWindow;
    uint32_t windowId = 0;       // with WindowId
    int32_t windowWidth = 1024;  // with OwnWindow (-geometry)
    int32_t windowHeight = 768;
    bool hasPosition = false;  // -geometry WxH+X+Y
    int32_t windowX = 0;
    int32_t windowY = 0;
    std::string display;     // -display NAME; empty: $DISPLAY
    bool tickStats = false;  // -tick-stats: time per frame tick on stderr at the end

    // The seven settings; unset ones keep what the INI file says.
    bool hasSpeed = false;
    int32_t speed = 0;
    bool hasLandSize = false;
    int32_t landSize = 0;
    bool hasObjects = false;
    int32_t objects = 0;
    bool hasOutputWidth = false;
    int32_t outputWidth = 0;
    bool hasNewlandWait = false;
    int32_t newlandWait = 0;
    bool hasAutopilot = false;
    int32_t autopilot = 0;
    bool hasTilt = false;
    int32_t tilt = 0;

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

// Puts every given settings option into `settings` and clamps them (call
// after loading the INI file).
void ApplyOptionSettings(const X11Options& options, Settings& settings);

const char* X11Usage();
