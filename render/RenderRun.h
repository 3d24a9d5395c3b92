// RenderRun.h - glidescape-render's run: the saver's frame loop on a
// platform without a window.
//
// RenderPlatform gives the frame loop plain pixel memory, fixed or live
// seeds, a never-pressed Shift key and, on stderr when that is a terminal, a
// small activity bar while land is made and, for a video, a bar of the ticks
// done. Each blit may also save the frame as a PNG and add it to the video.
// RunRender applies the options to the settings, creates the loop, runs the
// ticks (the first one makes the land), writes the outputs and tears the
// loop down again.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "app/Platform.h"
#include "render/RenderOptions.h"
#include "render/VideoWriter.h"

class RenderPlatform : public SaverPlatform {
public:
    explicit RenderPlatform(const RenderOptions& options, std::FILE* progressOut);

    // Frames come with contiguous rows (stride == width): the platform does
    // not take padded ones.
    void BlitFrame(const uint32_t* pixels, int32_t width, int32_t height, int32_t stride) override;
    // No window: texts are not drawn; the progress screen moves a marker
    // along a bar on the terminal instead.
    void DrawStatusText(const char*, int32_t, int32_t, uint32_t) override {}
    void ShowProgress(const ProgressScreen& screen) override;
    bool QueryShift() override { return false; }
    uint32_t CalendarSeconds() override;
    uint32_t MillisecondTime() override;
    LandGenerator::ScratchHooks LandScratchHooks() override;

    // Every later frame goes into `video` too (null: none).
    void SetVideo(VideoWriter* video) { video_ = video; }
    // The video's bar: `tick` of `ticks` done.
    void ShowVideoProgress(int32_t tick, int32_t ticks);
    // Ends the bar's line, if one was drawn.
    void EndProgress();

    int32_t framesShown() const { return framesShown_; }
    const std::string& writeError() const { return writeError_; }

private:
    const RenderOptions& options_;
    // Replaces the bar's line with `text`.
    void DrawBar(const std::string& text);

    std::FILE* progressOut_;  // null: no bars
    VideoWriter* video_ = nullptr;
    std::string barDrawn_;  // the line on the terminal; empty: none
    int32_t framesShown_ = 0;
    std::string writeError_;  // first failed frame write
};

// Exit code: 0 done, 1 the loop could not be created, a file not written or
// the video not encoded (message on `errors`). `errors` may be null.
int RunRender(const RenderOptions& options, std::FILE* errors);
