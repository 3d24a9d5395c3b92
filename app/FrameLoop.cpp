#include "app/FrameLoop.h"

#include "app/Pacing.h"

#include <chrono>
#include <cstdint>
#include <new>

#include "base/Scratch.h"
#include "base/ThreadPool.h"
#include "base/Units.h"
#include "land/LandGenerator.h"
#include "view/FlightView.h"
#include "view/Render.h"

namespace {

// Timer ticks per second of "Newland Wait".
constexpr int64_t kTicksPerSecond = 25;

uint32_t* AsWords(int32_t* cells) {
    return reinterpret_cast<uint32_t*>(cells);
}

void ReleaseBuffer(SaverPlatform* platform, uint32_t*& pixels) {
    if (pixels != nullptr && platform != nullptr) platform->ReleasePixels(pixels);
    pixels = nullptr;
}

// Ticks until the next landscape. A wait below one second (the dialog stores
// 0 for an empty field) would make a landscape on every tick and never show a
// frame, so the wait is at least one second; the stored setting is left as it
// is. A wait whose product with 25 leaves 32 bits saturates instead of
// wrapping into a negative countdown.
int32_t NewLandTicks(int32_t waitSeconds) {
    const int64_t ticks = static_cast<int64_t>(waitSeconds) * kTicksPerSecond;
    if (ticks < kTicksPerSecond) return static_cast<int32_t>(kTicksPerSecond);
    if (ticks > INT32_MAX) return INT32_MAX;
    return static_cast<int32_t>(ticks);
}

}  // namespace

int32_t ComputeOutputHeight(int32_t width, int32_t clientWidth, int32_t clientHeight) {
    if (width <= 0 || clientWidth <= 0 || clientHeight <= 0) return 0;
    // Quotient first, then the product, both in double: the rounding of the
    // quotient decides cases such as 512 on 1280 x 1024 (409, not 410).
    const double quotient = static_cast<double>(width) / static_cast<double>(clientWidth);
    const double rows = quotient * static_cast<double>(clientHeight);
    if (!(rows < 2147483648.0)) return 0;  // no frame that tall can be had
    return static_cast<int32_t>(rows);
}

int64_t ComputeFrameRows(int32_t width, int32_t clientWidth, int32_t clientHeight) {
    if (width <= 0 || clientWidth <= 0 || clientHeight <= 0) return 0;
    const double quotient = static_cast<double>(width) / static_cast<double>(clientWidth);
    return static_cast<int64_t>(quotient * static_cast<double>(clientHeight));
}

std::string FlightStatus::Text() const {
    switch (problem) {
        case FlightProblem::NoProblem:
            break;
        case FlightProblem::FrameRows:
            return "output width " + std::to_string(outputWidth) + " on a " +
                   std::to_string(clientWidth) + "x" + std::to_string(clientHeight) +
                   " client gives " + std::to_string(frameRows) + " frame rows (1 to " +
                   std::to_string(kMaxOutputHeight) + " can be drawn)";
        case FlightProblem::NoMemory:
            return "Land Size " + std::to_string(landSize) + " needs more memory than is free";
    }
    return std::string();
}

int32_t FrameStride(const SaverPlatform& platform, int32_t width) {
    return platform.TakesPaddedFrames() ? FlightView::DrawingStride(width) : width;
}

int32_t ComputeHorizonBase(int32_t tiltSetting, int32_t width) {
    // tilt x width is an integer product (formed in 64 bits so that values
    // outside the settings' ranges cannot overflow; identical inside them).
    const double tiltPart =
        static_cast<double>(static_cast<int64_t>(tiltSetting) * width) * 0.00390625;
    const double basePart = static_cast<double>(width) * 0.78125;
    return static_cast<int32_t>(tiltPart + basePart);
}

Flight::~Flight() {
    Destroy();
}

bool Flight::CreateSaverObjects() {
    FrameLoopState& s = frameLoop;
    if (s.platform == nullptr) return false;
    const int32_t landSize = settings.landSize;
    const int32_t outputWidth = settings.outputWidth;
    // Clamped to 6 ... 12 by the store; anything else would shift out of
    // range or ask for absurd maps.
    if (landSize < 0 || landSize > 15) return false;
    s.landSide = 1 << landSize;
    s.heightMapPixels =
        reinterpret_cast<int32_t*>(s.platform->CreatePixels(s.landSide, s.landSide));
    s.colourMapPixels = s.platform->CreatePixels(s.landSide, s.landSide);
    s.frameStride = FrameStride(*s.platform, outputWidth);
    s.framePixels = s.platform->CreatePixels(s.frameStride, s.outputHeight);

    // The generator and the view dereference the buffers they are given, so
    // they are only made on buffers that exist.
    if (s.heightMapPixels != nullptr && s.colourMapPixels != nullptr &&
        scratch::AllocationAllowed()) {
        s.landGenerator = new (std::nothrow)
            LandGenerator(s.landSide, s.landSide, s.heightMapPixels, s.colourMapPixels, 0, 255,
                          &Flight::GenerationProgress, this);
    }
    if (s.heightMapPixels != nullptr && s.colourMapPixels != nullptr && s.framePixels != nullptr &&
        scratch::AllocationAllowed()) {
        viewSeed_ = s.platform->MillisecondTime();
        s.flightView = new (std::nothrow)
            FlightView(s.framePixels, outputWidth, s.outputHeight, s.heightMapPixels, s.landSide,
                       s.landSide, s.colourMapPixels, s.landSide, s.landSide,
                       settings.objectCount + 1, 8, viewSeed_);
    }
    if (s.flightView != nullptr) {
        s.flightView->speed = settings.flightSpeed;
        s.flightView->frameStride = s.frameStride;
    }
    // A pool that cannot be made leaves everything on this thread.
    s.threadPool = new (std::nothrow) ThreadPool(s.threads);
    ChooseFrameThreads();
    if (s.landGenerator != nullptr) {
        s.landGenerator->scratchHooks = s.platform->LandScratchHooks();
        s.landGenerator->threadPool = s.threadPool;
        s.landGenerator->abandonCheck = &Flight::WorkerAbandoned;
    }
    return s.landGenerator != nullptr && s.flightView != nullptr;
}

void Flight::ChooseFrameThreads() {
    FrameLoopState& s = frameLoop;
    if (s.flightView == nullptr) return;
    const int64_t pixels = static_cast<int64_t>(settings.outputWidth) * s.outputHeight;
    s.flightView->threadPool = pixels <= kOneThreadFramePixels ? nullptr : s.threadPool;
}

FlightStatus Flight::StatusFor(FlightProblem problem, int32_t clientWidth,
                               int32_t clientHeight) const {
    FlightStatus status;
    status.problem = problem;
    status.outputWidth = settings.outputWidth;
    status.clientWidth = clientWidth;
    status.clientHeight = clientHeight;
    status.frameRows = ComputeFrameRows(settings.outputWidth, clientWidth, clientHeight);
    status.landSize = settings.landSize;
    return status;
}

FlightStatus Flight::Create(SaverPlatform& platform, const Settings& flightSettings,
                            int32_t clientWidth, int32_t clientHeight, int32_t threads,
                            Generation generation) {
    Destroy();  // start from the initial state
    created_ = true;
    platform_ = &platform;
    threads_ = threads;
    generation_ = generation;
    smooth_ = flightSettings.smoothMotion != 0;
    // The loaders clamp already; a front end that set a field directly must
    // not get shifts or slot counts out of range either.
    settings = flightSettings;
    ClampSettings(settings);
    FrameLoopState& s = frameLoop;
    s.platform = &platform;
    s.threads = threads;
    s.clientWidth = clientWidth;
    s.clientHeight = clientHeight;
    // A client area without width or height gives no frame to draw into;
    // neither does one so flat that the output height truncates to 0.
    s.outputHeight = ComputeOutputHeight(settings.outputWidth, clientWidth, clientHeight);
    if (s.outputHeight <= 0 || s.outputHeight > kMaxOutputHeight) {
        Release();
        return StatusFor(FlightProblem::FrameRows, clientWidth, clientHeight);
    }
    const bool created = CreateSaverObjects();
    s.horizonBase = ComputeHorizonBase(settings.tilt, settings.outputWidth);
    s.ready = created;
    if (!created) {
        Release();
        return StatusFor(FlightProblem::NoMemory, clientWidth, clientHeight);
    }
    return FlightStatus{};
}

FlightStatus Flight::Resize(int32_t clientWidth, int32_t clientHeight) {
    FrameLoopState& s = frameLoop;
    if (!s.ready) {
        if (!created_ || platform_ == nullptr) {
            return StatusFor(FlightProblem::FrameRows, clientWidth, clientHeight);
        }
        const Settings kept = settings;
        return Create(*platform_, kept, clientWidth, clientHeight, threads_, generation_);
    }
    const int32_t rows = ComputeOutputHeight(settings.outputWidth, clientWidth, clientHeight);
    if (rows <= 0 || rows > kMaxOutputHeight) {
        return StatusFor(FlightProblem::FrameRows, clientWidth, clientHeight);
    }
    if (rows != s.outputHeight) {
        uint32_t* frame = s.platform->CreatePixels(s.frameStride, rows);
        if (frame == nullptr) return StatusFor(FlightProblem::NoMemory, clientWidth, clientHeight);
        FlightView& view = *s.flightView;
        // The tables follow the frame's size; the camera, the sky, the
        // objects and the autopilot stay. Tables that cannot be had now are
        // set up again at the next frame tick.
        view.SetFrame(frame, settings.outputWidth, rows, s.frameStride);
        ReleaseBuffer(s.platform, s.framePixels);
        s.framePixels = frame;
        s.outputHeight = rows;
        ChooseFrameThreads();
    }
    s.clientWidth = clientWidth;
    s.clientHeight = clientHeight;
    return FlightStatus{};
}

TickResult Flight::Tick() {
    FrameLoopState& s = frameLoop;
    if (!s.ready) return TickResult::Skipped;

    if (onWorker_) {
        if (!WorkerDone()) {
            AnimateProgress();
            (void)QueryShiftAbort();
            return TickResult::Generating;
        }
        // The landscape is there: this tick counts and flies as the first
        // tick after an inline generation does.
        FinishWorker();
    }

    if (ahead_) {
        // Smooth motion: this tick flew at the last one (see LookAhead); its
        // frame is the kept pose's now, and the next tick flies ahead.
        ahead_ = false;
        LookAhead();
        return TickResult::Flew;
    }

    --s.newLandCountdown;
    if (s.newLandCountdown < 0) {
        if (s.flightView != nullptr) {
            s.flightView->ForgetPose();
            // The heights are about to change under the march's copy.
            s.flightView->DropSampleMap();
        }
        // Clears the key's mark of an earlier press, so that only a press
        // during generation aborts it.
        (void)s.platform->QueryShift();
        s.newLandCountdown = NewLandTicks(settings.newlandWait);
        ChooseLandThreads();
        if (generation_ != Generation::Worker || !StartWorker()) GenerateNewLand();
        return TickResult::Generated;
    }
    if (!s.landMade) {
        const FlightStatus status = StatusFor(FlightProblem::NoMemory, s.clientWidth, s.clientHeight);
        s.platform->ShowMessage(status.Text().c_str());
        return TickResult::Skipped;
    }

    FlightView& view = *s.flightView;
    // The autopilot reads the tables before Move would retry their set-up, so
    // the retry comes first; a view that still cannot draw (tables or sky
    // missing) skips the whole frame and the camera waits. A view whose objects
    // could not be set up flies on without them.
    if (!view.buffersReady) view.SetUpBuffers();
    if (!view.CanRender()) return TickResult::Skipped;

    FlyOneTick();
    if (smooth_) {
        LookAhead();
        return TickResult::Flew;
    }
    RenderLandscape(view);
    NoteDrawnCamera(view.CameraBetween(0));
    s.platform->BlitFrame(s.framePixels, view.frameWidth, view.frameHeight, s.frameStride);
    return TickResult::DrewFrame;
}

void Flight::FlyOneTick() {
    FrameLoopState& s = frameLoop;
    FlightView& view = *s.flightView;
    // Wraps after 2^32 frames (years of flight) instead of overflowing.
    s.frameCounter = static_cast<int32_t>(static_cast<uint32_t>(s.frameCounter) + 1u);
    if ((s.frameCounter & 0xFF) == 0) {
        // +1 for the first 256 frames of every block of 1024, else -1.
        s.autopilotDirection = (s.frameCounter & 0x300) == 0 ? 1 : -1;
    }
    view.SteerAutopilot(s.autopilotDirection, settings.autoPilotIntensity);
    view.headingRate = Asr(view.turnCommand, 1);
    view.climbRate = view.climbCommand;
    view.SetBankAngle(view.turnCommand + s.prevTurnCommand);
    s.prevTurnCommand = view.turnCommand;
    view.horizonRow = view.climbRate + s.prevClimbRate + s.horizonBase;
    s.prevClimbRate = view.climbRate;
    view.Move();
    // The objects move with the tick (then the renderer draws).
    view.MoveObjects();
    posed_ = true;
}

void Flight::LookAhead() {
    FrameLoopState& s = frameLoop;
    FlightView& view = *s.flightView;
    // Frames between this tick and the next need the next tick's pose. It is
    // flown now, exactly as that tick would fly it, unless no frames come in
    // between, that tick makes a landscape (the land must not change under
    // the frames of this one) or this one cannot be kept: then the frames
    // show this tick's pose.
    if (!lookAhead_ || s.newLandCountdown < 1 || !view.CanRender() || !view.KeepPose()) {
        view.ForgetPose();
        return;
    }
    --s.newLandCountdown;
    FlyOneTick();
    ahead_ = true;
}
void Flight::NoteDrawnCamera(const FlightView::Camera& camera) {
    drawnCamera_ = {camera.positionX, camera.positionY, camera.heading, camera.altitude};
}

void Flight::ChooseLandThreads() {
    LandGenerator* generator = frameLoop.landGenerator;
    if (generator != nullptr) {
        generator->threadPool = landOnOneThread_ ? nullptr : frameLoop.threadPool;
    }
}

bool Flight::Draw(int32_t fraction) {
    FrameLoopState& s = frameLoop;
    if (!s.ready || !s.landMade || onWorker_ || !posed_) return false;
    FlightView& view = *s.flightView;
    if (!view.CanRender()) return false;
    // Without a kept pose (the next tick makes land) the view draws the
    // present, which is then this tick's pose.
    view.RenderBetween(fraction);
    NoteDrawnCamera(view.CameraBetween(fraction));
    s.platform->BlitFrame(s.framePixels, view.frameWidth, view.frameHeight, s.frameStride);
    return true;
}

void Flight::Destroy() {
    Release();
    created_ = false;
}

void Flight::Release() {
    // The worker writes into the maps and calls the generator: it stops at
    // its next poll and is waited for before anything goes away.
    StopWorker();
    FrameLoopState& s = frameLoop;
    delete s.flightView;
    s.flightView = nullptr;
    delete s.landGenerator;
    s.landGenerator = nullptr;
    delete s.threadPool;
    s.threadPool = nullptr;
    uint32_t* heights = AsWords(s.heightMapPixels);
    ReleaseBuffer(s.platform, heights);
    ReleaseBuffer(s.platform, s.colourMapPixels);
    ReleaseBuffer(s.platform, s.framePixels);
    // Resetting lets a front end create the flight again from the initial
    // state.
    s = FrameLoopState{};
    newLand = NewLandState{};
    posed_ = false;
    ahead_ = false;
    landSeed_ = 0;
    viewSeed_ = 0;
}

RefreshOutcome RefreshFlights(FramePacer& pacer, Flight* flights, int32_t count, int64_t now) {
    RefreshOutcome outcome;
    const PacerStep step = pacer.OnRefresh(now);
    outcome.ticks = step.ticks;
    const auto start = std::chrono::steady_clock::now();
    for (int32_t i = 0; i < count; ++i) {
        Flight& flight = flights[i];
        if (!flight.frameLoop.ready) continue;
        flight.SetLookAhead(pacer.smooth());
        bool drew = false;
        for (int32_t t = 0; t < step.ticks; ++t) {
            const TickResult result = flight.Tick();
            outcome.madeLand = outcome.madeLand || result == TickResult::Generated;
            drew = result == TickResult::DrewFrame || (drew && result != TickResult::Generated);
        }
        if (step.draw && flight.smooth()) {
            outcome.fraction = pacer.smooth() ? step.fraction : 0;
            drew = flight.Draw(outcome.fraction);
        }
        outcome.drawn += drew ? 1 : 0;
    }
    if (outcome.drawn > 0 && !outcome.madeLand) {
        outcome.drawMicroseconds = std::chrono::duration_cast<std::chrono::microseconds>(
                                       std::chrono::steady_clock::now() - start)
                                       .count();
        pacer.DrawTook(outcome.drawMicroseconds);
    }
    return outcome;
}
