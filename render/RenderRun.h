// RenderRun.h - glidescape-render's run: the saver's frame loop on a
// platform without a window.
//
// RenderPlatform gives the frame loop plain pixel memory, fixed or live
// seeds, a never-pressed Shift key and, while land is made, a small activity
// bar on stderr when that is a terminal. Each blit may also save the frame
// as a PNG. RunRender applies the options to the settings, creates the loop,
// runs the ticks (the first one makes the land), writes the outputs and
// tears the loop down again.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "app/Platform.h"
#include "render/RenderOptions.h"

class RenderPlatform : public SaverPlatform {
public:
    explicit RenderPlatform(const RenderOptions& options, std::FILE* progressOut);

    void BlitFrame(const uint32_t* pixels, int32_t width, int32_t height) override;
    void DrawStatusText(const char* text, int32_t x, int32_t y, uint32_t colour) override;
    bool QueryShift() override { return false; }
    int32_t ProcessClockMs() override;
    uint32_t CalendarSeconds() override;
    uint32_t MillisecondTime() override;

    // Ends the activity bar's line, if one was drawn.
    void EndProgress();

    int32_t framesShown() const { return framesShown_; }
    const std::string& writeError() const { return writeError_; }

private:
    const RenderOptions& options_;
    std::FILE* progressOut_;  // null: no activity bar
    bool progressDrawn_ = false;
    int32_t framesShown_ = 0;
    std::string writeError_;  // first failed frame write
};

// Exit code: 0 done, 1 the loop could not be created or a file not written
// (message on `errors`). `errors` may be null.
int RunRender(const RenderOptions& options, std::FILE* errors);
