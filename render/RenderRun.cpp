#include "render/RenderRun.h"
#include "render/ScratchPages.h"

#include <unistd.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <thread>

#include "app/CommandLine.h"
#include "app/FrameLoop.h"
#include "app/NewLand.h"
#include "app/Settings.h"
#include "base/Scratch.h"
#include "land/LandPipeline.h"
#include "render/ImageWriter.h"
#include "render/OutputFile.h"

namespace {

// The wait between ticks that find the worker still making the land: the
// progress bar stays lively and the waiting costs nothing.
constexpr int kWorkerWaitMs = 5;

// The message for a landscape step that lacked memory.
std::string LandMemoryError(const Flight& flight, const Settings& settings) {
    const std::string side = std::to_string(flight.frameLoop.landSide);
    return std::string("not enough memory for the ") +
           LandPipelineStepName(flight.newLand.failedStep) + " of a " + side + " x " + side +
           " landscape (land size " + std::to_string(settings.landSize) + ")";
}

void Report(std::FILE* errors, const std::string& message) {
    PrintErrorLine(errors, "glidescape-render", message);
}

}  // namespace

RenderPlatform::RenderPlatform(const RenderOptions& options, std::FILE* progressOut)
    : options_(options), progressOut_(progressOut) {}

void RenderPlatform::BlitFrame(const uint32_t* pixels, int32_t width, int32_t height,
                               int32_t stride) {
    // Frames and videos are written with contiguous rows, and this platform
    // never asks for others (TakesPaddedFrames).
    if (stride != width) {
        writeError_ = "a frame with rows longer than its width";
        return;
    }
    // The land is made: its bar goes (the video's stays).
    if (barDrawn_.rfind("Making land", 0) == 0) EndProgress();
    ++framesShown_;
    if (!writeError_.empty()) return;
    std::string error;
    if (!options_.pngDir.empty() && framesShown_ % options_.pngEvery == 0) {
        char name[32];
        std::snprintf(name, sizeof name, "/frame-%06d.png", framesShown_);
        if (!WriteFramePng(options_.pngDir + name, pixels, width, height, error)) {
            writeError_ = error;
            return;
        }
    }
    if (video_ != nullptr && !video_->AddFrame(pixels, width, height, error)) writeError_ = error;
}

void RenderPlatform::DrawBar(const std::string& text) {
    if (progressOut_ == nullptr || text == barDrawn_) return;
    // Blanks over what a longer line left.
    const int tail =
        static_cast<int>(barDrawn_.size() > text.size() ? barDrawn_.size() - text.size() : 0);
    std::fprintf(progressOut_, "\r%s%*s", text.c_str(), tail, "");
    if (tail > 0) std::fprintf(progressOut_, "\r%s", text.c_str());
    std::fflush(progressOut_);
    barDrawn_ = text;
}

void RenderPlatform::ShowVideoProgress(int32_t tick, int32_t ticks) {
    if (progressOut_ == nullptr || ticks <= 0) return;
    constexpr int kBarWidth = 30;
    const auto filled = static_cast<int>(int64_t{tick} * kBarWidth / ticks);
    const auto percent = static_cast<int>(int64_t{tick} * 100 / ticks);
    std::string text = "Writing video [";
    text.append(static_cast<size_t>(filled), '#');
    text.append(static_cast<size_t>(kBarWidth - filled), '-');
    text += "] " + std::to_string(percent) + "%";
    DrawBar(text);
}

void RenderPlatform::ShowProgress(const ProgressScreen& screen) {
    // The progress screen's level sweeps up and down about every 128 ms; it
    // moves a marker along a bar.
    if (progressOut_ == nullptr || screen.part != ProgressScreen::Part::Animation) return;
    constexpr int kBarWidth = 30;
    const int position = (255 - screen.level) * (kBarWidth - 1) / 255;
    std::string text = "Making land [";
    for (int i = 0; i < kBarWidth; ++i) text += i == position ? '#' : '-';
    DrawBar(text + "]");
}

void RenderPlatform::EndProgress() {
    if (barDrawn_.empty()) return;
    std::fprintf(progressOut_, "\r%*s\r", static_cast<int>(barDrawn_.size()), "");
    std::fflush(progressOut_);
    barDrawn_.clear();
}

uint32_t RenderPlatform::CalendarSeconds() {
    if (options_.hasLandSeed) return options_.landSeed;
    return static_cast<uint32_t>(std::time(nullptr));
}

LandGenerator::ScratchHooks RenderPlatform::LandScratchHooks() { return SystemScratchHooks(); }

uint32_t RenderPlatform::MillisecondTime() {
    if (options_.hasViewSeed) return options_.viewSeed;
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

int RunRender(const RenderOptions& options, std::FILE* errors) {
    Settings settings;
    options.settings.ApplyTo(settings);
    // One frame a tick, each drawn by its tick; with --subframes the frames
    // in between drawn after it.
    settings.smoothMotion = options.framesPerTick > 1 ? 1 : 0;
    std::FILE* progressOut = errors != nullptr && isatty(fileno(errors)) != 0 ? errors : nullptr;
    RenderPlatform platform(options, progressOut);
    Flight flight;

    const FlightStatus status = flight.Create(
        platform, settings, options.clientWidth, options.clientHeight, options.threads,
        options.workerGeneration ? Generation::Worker : Generation::Inline);
    if (!status.ok()) {
        Report(errors, status.Text());
        return 1;
    }
    // Folders made for the frames go again when the run fails while they are empty.
    MadeFolders pngFolders;
    std::string error;
    if (!options.pngDir.empty() && !pngFolders.Make(options.pngDir, error)) {
        flight.Destroy();
        Report(errors, error);
        return 1;
    }
    // Encoded as the frames come; a failed run abandons it with its
    // temporary file.
    VideoWriter video;
    if (!options.video.empty()) {
        const VideoSize frame{flight.settings.outputWidth, flight.frameLoop.outputHeight};
        if (!video.Open(options.video, *VideoFormatFor(options.video), frame,
                        options.hasSize ? options.size : frame, options.fps, options.smoothScale,
                        error)) {
            flight.Destroy();
            Report(errors, error);
            return 1;
        }
        platform.SetVideo(&video);
    }
    // The saver flies on with whatever memory gives; the renderer promises
    // the same picture as any other run or none: a landscape step, the view
    // or any part of the sky and objects without its memory ends the run.
    scratch::ResetFailureCount();
    for (int32_t tick = 0; tick < options.ticks && platform.writeError().empty();) {
        const TickResult result = flight.Tick();
        if (result == TickResult::Generating) {
            // Ticks that only wait for the worker do not count, so both ways
            // of making the land give the same ticks and frames.
            std::this_thread::sleep_for(std::chrono::milliseconds(kWorkerWaitMs));
            continue;
        }
        ++tick;
        if (result == TickResult::Flew) {
            // Smooth motion: the tick's frame, then the frames in between.
            for (int32_t i = 0; i < options.framesPerTick; ++i) {
                flight.Draw(static_cast<int32_t>(int64_t{i} * kFractionOne / options.framesPerTick));
            }
        }
        if (!options.video.empty()) platform.ShowVideoProgress(tick, options.ticks);
        if (flight.newLand.failedStep != 0) {
            error = LandMemoryError(flight, settings);
            break;
        }
        if (result == TickResult::Skipped) {
            error = "not enough memory for the view's tables or sky";
            break;
        }
    }
    // A landscape the last tick started is finished as the inline run
    // finished it within that tick.
    flight.FinishGeneration();
    if (error.empty() && flight.newLand.failedStep != 0) error = LandMemoryError(flight, settings);
    platform.EndProgress();
    if (error.empty() && scratch::FailureCount() != 0) {
        error = "not enough memory for the sky, the airborne objects or the frames";
    }
    if (error.empty()) error = platform.writeError();
    if (error.empty() && !options.video.empty()) video.Finish(error);
    const bool anyOutput = !options.frameOut.empty() || !options.heightsOut.empty() ||
                           !options.coloursOut.empty() || !options.pngDir.empty() ||
                           !options.video.empty();
    const std::string frameOut = anyOutput ? options.frameOut : std::string("glidescape.png");
    const FrameLoopState& s = flight.frameLoop;
    if (error.empty() && !frameOut.empty()) {
        WriteFrame(frameOut, s.framePixels, settings.outputWidth, s.outputHeight, error);
    }
    if (error.empty() && !options.heightsOut.empty()) {
        WriteHeights(options.heightsOut, s.heightMapPixels, s.landSide, s.landSide, error);
    }
    if (error.empty() && !options.coloursOut.empty()) {
        WriteColours(options.coloursOut, s.colourMapPixels, s.landSide, s.landSide, error);
    }
    flight.Destroy();
    if (!error.empty()) {
        Report(errors, error);
        return 1;
    }
    pngFolders.Keep();
    return 0;
}
