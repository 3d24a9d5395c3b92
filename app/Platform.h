// Platform.h - what the portable frame loop needs from the platform it runs on.
//
// The frame loop (app/FrameLoop.cpp) and the new-land pipeline
// (app/NewLand.cpp) hold all of the saver's logic; each front end (the Win32
// saver, the Linux saver, the headless renderer, the tests) supplies one
// SaverPlatform and nothing more.
//
// All calls come from the thread that runs the frame loop; the land worker
// (StartWorker) never calls the platform.
#pragma once

#include <chrono>
#include <cstdint>

#include "app/Settings.h"
#include "land/LandGenerator.h"

// A whole landscape and the flight over it: enough to fly it again.
struct LandscapeRecord {
    uint32_t landSeed = 0;
    uint32_t viewSeed = 0;
    Settings settings;
    int32_t clientWidth = 0;
    int32_t clientHeight = 0;
};

// What the progress screen shows: animated texts redrawn at most every
// 128 ms while a landscape is made, and a last text once Shift stops it.
struct ProgressScreen {
    enum class Part {
        Animation,  // "Glidescape, by Quillon" in grey `level`, the Shift hint,
                    // "Processing..." in red 255 - `level`
        Stopping,   // "Processing... Stopping" over "Processing..."
    };
    Part part = Part::Animation;
    int32_t level = 255;  // 0 ... 255, sweeping up and down
};

class SaverPlatform {
public:
    SaverPlatform();
    virtual ~SaverPlatform();

    // Pixel memory for a land map or the frame: width x height 32-bit words,
    // zeroed, row 0 first. Null when it cannot be had. The default uses plain
    // memory; the Win32 saver makes 32-bit DIB sections so it can StretchBlt
    // the frame.
    virtual uint32_t* CreatePixels(int32_t width, int32_t height);
    virtual void ReleasePixels(uint32_t* pixels);

    // Shows a finished frame (width x height, row 0 at the bottom, rows
    // `stride` pixels apart), stretched onto the whole client area.
    virtual void BlitFrame(const uint32_t* pixels, int32_t width, int32_t height,
                           int32_t stride) = 0;

    // True when BlitFrame takes frames whose rows are longer than their width.
    // The frame loop then gives frames whose rows would share the sets of the
    // first-level data cache a few pixels more per row
    // (FlightView::DrawingStride), and the view draws straight into them
    // instead of into a padded copy that is copied in and out every frame.
    // The default (false) keeps every frame's rows contiguous.
    virtual bool TakesPaddedFrames() const;

    // Draws text at (x, y) client pixels from the top left, glyphs only, in
    // colour 0x00RRGGBB.
    virtual void DrawStatusText(const char* text, int32_t x, int32_t y, uint32_t colour) = 0;

    // The progress screen while a landscape is made (see ProgressScreen).
    // The default draws its texts with DrawStatusText; a platform without a
    // window shows it its own way.
    virtual void ShowProgress(const ProgressScreen& screen);

    // One line over the picture (a flight that cannot get its memory, say).
    // The default draws it in grey at (5, 15) with DrawStatusText.
    virtual void ShowMessage(const char* text);

    // True when Shift is down now or was pressed since the last query.
    virtual bool QueryShift() = 0;

    // Monotonic wall-clock milliseconds since this platform was made (it
    // paces the progress screen). The default reads the standard library's
    // steady clock.
    virtual int64_t ClockMs();

    // The calendar time in whole seconds (C's time()): the land seed.
    virtual uint32_t CalendarSeconds() = 0;

    // The system's millisecond time: the flight view's seed.
    virtual uint32_t MillisecondTime() = 0;

    // A landscape was made whole: a front end may keep its seeds so that it
    // can be flown again (see app/History.h). The default keeps nothing.
    virtual void LandscapeMade(const LandscapeRecord& record);

    // Runs run(context) on a new thread and returns a handle for JoinWorker,
    // or null when no thread can be had (the caller then runs the work
    // inline). The default uses the C++ library's threads where it has them
    // and returns null where it has none (WebAssembly without pthreads, the
    // MinGW win32 thread model); the Win32 saver uses the system's threads.
    virtual void* StartWorker(void (*run)(void* context), void* context);
    // Waits until the worker of `handle` has returned, then releases it.
    virtual void JoinWorker(void* handle);

    // The land generator's hooks for its scratch block (large pages for a
    // fresh block, its pages given back between landscapes; see
    // LandGenerator::ScratchHooks). The default sets none: the block then
    // keeps its pages from one landscape to the next.
    virtual LandGenerator::ScratchHooks LandScratchHooks();

private:
    std::chrono::steady_clock::time_point start_;
};

// The texts of a progress screen, as the windowed platforms draw them.
void DrawProgressTexts(SaverPlatform& platform, const ProgressScreen& screen);
