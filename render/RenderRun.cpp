#include "render/RenderRun.h"

#include <unistd.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>
#include <thread>

#include "app/FrameLoop.h"
#include "app/NewLand.h"
#include "app/Settings.h"
#include "land/LandPipeline.h"
#include "land/Scratch.h"
#include "render/ImageWriter.h"

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
    if (errors != nullptr) {
        std::fprintf(errors, "glidescape-render: %s\n", OneLine(message).c_str());
    }
}

// Puts every given option into its setting; ClampSettings then treats them
// exactly as values read from the INI file.
Settings ApplySettings(const RenderOptions& o) {
    Settings s;
    if (o.hasLandSize) s.landSize = o.landSize;
    if (o.hasOutputWidth) s.outputWidth = o.outputWidth;
    if (o.hasObjects) s.objectCount = o.objects;
    if (o.hasSpeed) s.flightSpeed = o.speed;
    if (o.hasAutopilot) s.autoPilotIntensity = o.autopilot;
    if (o.hasTilt) s.tilt = o.tilt;
    if (o.hasNewlandWait) s.newlandWait = o.newlandWait;
    ClampSettings(s);
    return s;
}

}  // namespace

RenderPlatform::RenderPlatform(const RenderOptions& options, std::FILE* progressOut)
    : options_(options), progressOut_(progressOut) {}

void RenderPlatform::BlitFrame(const uint32_t* pixels, int32_t width, int32_t height) {
    EndProgress();
    ++framesShown_;
    if (options_.pngDir.empty() || !writeError_.empty()) return;
    if (framesShown_ % options_.pngEvery != 0) return;
    char name[32];
    std::snprintf(name, sizeof name, "/frame-%06d.png", framesShown_);
    std::string error;
    if (!WriteFramePng(options_.pngDir + name, pixels, width, height, error)) writeError_ = error;
}

void RenderPlatform::DrawStatusText(const char* text, int32_t, int32_t, uint32_t colour) {
    // The progress screen redraws "Processing..." about every 128 ms with a
    // red level that sweeps up and down; it moves a marker along a bar.
    if (progressOut_ == nullptr || std::strcmp(text, "Processing...") != 0) return;
    constexpr int kBarWidth = 30;
    const int position = static_cast<int>(((colour >> 16) & 0xFF) * (kBarWidth - 1) / 255);
    char bar[kBarWidth + 1];
    for (int i = 0; i < kBarWidth; ++i) bar[i] = i == position ? '#' : '-';
    bar[kBarWidth] = '\0';
    std::fprintf(progressOut_, "\rMaking land [%s]", bar);
    std::fflush(progressOut_);
    progressDrawn_ = true;
}

void RenderPlatform::EndProgress() {
    if (!progressDrawn_) return;
    std::fprintf(progressOut_, "\r%*s\r", 45, "");
    std::fflush(progressOut_);
    progressDrawn_ = false;
}

int32_t RenderPlatform::ProcessClockMs() {
    const std::clock_t ticks = std::clock();
    const auto ms = static_cast<int64_t>(ticks) * 1000 / CLOCKS_PER_SEC;
    return static_cast<int32_t>(static_cast<uint32_t>(ms));
}

uint32_t RenderPlatform::CalendarSeconds() {
    if (options_.hasLandSeed) return options_.landSeed;
    return static_cast<uint32_t>(std::time(nullptr));
}

uint32_t RenderPlatform::MillisecondTime() {
    if (options_.hasViewSeed) return options_.viewSeed;
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

int RunRender(const RenderOptions& options, std::FILE* errors) {
    const Settings settings = ApplySettings(options);
    std::FILE* progressOut = errors != nullptr && isatty(fileno(errors)) != 0 ? errors : nullptr;
    RenderPlatform platform(options, progressOut);
    Flight flight;

    if (!flight.Create(platform, settings, options.clientWidth, options.clientHeight,
                       options.threads,
                       options.workerGeneration ? Generation::Worker : Generation::Inline)) {
        // The true row count, even where it does not fit the frame loop's
        // 32 bits: the frame loop's formula (quotient first) in double, where
        // width x height < 2^53 is exact.
        const int64_t rows = options.clientWidth <= 0 || options.clientHeight <= 0
                                 ? 0
                                 : static_cast<int64_t>(static_cast<double>(settings.outputWidth) /
                                                        static_cast<double>(options.clientWidth) *
                                                        static_cast<double>(options.clientHeight));
        flight.Destroy();
        const std::string client =
            std::to_string(options.clientWidth) + "x" + std::to_string(options.clientHeight);
        if (rows <= 0 || rows > 16384) {
            Report(errors, "output width " + std::to_string(settings.outputWidth) + " on a " +
                               client + " client gives " + std::to_string(rows) +
                               " frame rows (1 to 16384 can be drawn)");
        } else {
            Report(errors, "not enough memory for the land maps, the frame or the view");
        }
        return 1;
    }
    if (!options.pngDir.empty()) {
        std::error_code failure;
        std::filesystem::create_directories(options.pngDir, failure);
        if (failure) {
            flight.Destroy();
            Report(errors, "cannot make folder " + options.pngDir + ": " + failure.message());
            return 1;
        }
    }
    // The saver flies on with whatever memory gives; the renderer promises
    // the same picture as any other run or none: a landscape step, the view
    // or any part of the sky and objects without its memory ends the run.
    scratch::ResetFailureCount();
    std::string error;
    for (int32_t tick = 0; tick < options.ticks && platform.writeError().empty();) {
        const TickResult result = flight.Tick();
        if (result == TickResult::Generating) {
            // Ticks that only wait for the worker do not count, so both ways
            // of making the land give the same ticks and frames.
            std::this_thread::sleep_for(std::chrono::milliseconds(kWorkerWaitMs));
            continue;
        }
        ++tick;
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
    const bool anyOutput = !options.frameOut.empty() || !options.heightsOut.empty() ||
                           !options.coloursOut.empty() || !options.pngDir.empty();
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
    return 0;
}
