// RenderOptions.h - command line of glidescape-render.
//
// ParseRenderOptions turns argv into RenderOptions; the settings options are
// those of the settings table that the renderer reads, kept as
// SettingOverrides (RunRender applies them over the defaults and clamps them
// as the settings store does), every other value is checked here. Errors are
// one line naming the option.
#pragma once

#include <cstdint>
#include <string>

#include "app/Settings.h"
#include "render/VideoWriter.h"

// The frame loop's ticks a second (one every 40 ms): the flight's speed.
constexpr int32_t kTicksPerSecond = 25;

struct RenderOptions {
    // Settings; unset ones keep the store's defaults.
    SettingOverrides settings;

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

    // Every frame as one video frame of 1/fps seconds (render/VideoWriter.h).
    std::string video;
    // Frames the loop draws a tick; the video's rate is framesPerTick x 25,
    // so that the flight keeps its speed.
    int32_t framesPerTick = 1;
    int32_t fps = kTicksPerSecond;
    bool hasFps = false;
    bool hasSize = false;  // else the frame's own size
    VideoSize size;
    bool smoothScale = false;  // libswscale's filter instead of the savers' stretch
};

enum class ParseResult { Run, Help, Version, Error };

// On Error, `error` holds one line (without newline) naming the option.
ParseResult ParseRenderOptions(int argc, const char* const* argv, RenderOptions& options,
                               std::string& error);

std::string RenderUsage();
