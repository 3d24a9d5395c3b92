// RenderOptions.h - command line of glidescape-render.
//
// ParseRenderOptions turns argv into RenderOptions; the settings options are
// kept as given (RunRender clamps them as the settings store does), every
// other value is checked here. Errors are one line naming the option.
#pragma once

#include <cstdint>
#include <string>

struct RenderOptions {
    // Settings; unset ones keep the store's defaults.
    bool hasLandSize = false;
    int32_t landSize = 0;
    bool hasOutputWidth = false;
    int32_t outputWidth = 0;
    bool hasObjects = false;
    int32_t objects = 0;
    bool hasSpeed = false;
    int32_t speed = 0;
    bool hasAutopilot = false;
    int32_t autopilot = 0;
    bool hasTilt = false;
    int32_t tilt = 0;
    bool hasNewlandWait = false;
    int32_t newlandWait = 0;

    // Seeds; unset ones come from the clocks as in the saver.
    bool hasLandSeed = false;
    uint32_t landSeed = 0;  // replaces the calendar time for every generation
    bool hasViewSeed = false;
    uint32_t viewSeed = 0;  // replaces the millisecond time

    int32_t clientWidth = 1024;  // the window the output height is computed for
    int32_t clientHeight = 768;
    int32_t ticks = 250;  // timer ticks, generation ticks included
    int32_t threads = 0;  // land and frame threads, 1 ... 64; 0: the machine's cores
    // Landscapes made on a worker thread while the ticks wait (as in the
    // savers) instead of inside the tick; the pictures are the same.
    bool workerGeneration = false;

    std::string frameOut;  // .png: picture; else raw little-endian words
    std::string heightsOut;
    std::string coloursOut;
    std::string pngDir;  // every pngEvery-th frame as DIR/frame-NNNNNN.png
    int32_t pngEvery = 1;
    bool hasPngEvery = false;
};

enum class ParseResult { Run, Help, Version, Error };

// On Error, `error` holds one line (without newline) naming the option.
ParseResult ParseRenderOptions(int argc, const char* const* argv, RenderOptions& options,
                               std::string& error);

const char* RenderUsage();

// `text` with every control character (a newline in a path, say) written as
// \xHH, so that a message naming it stays one line.
std::string OneLine(const std::string& text);
