#include "app/NewLand.h"

#include "app/FrameLoop.h"
#include "base/Units.h"
#include "land/LandGenerator.h"
#include "land/LandPipeline.h"
#include "view/FlightView.h"

namespace {

constexpr int32_t kFirstPipelineStepWithSeed = 2;  // the seed is set in step 2
constexpr int32_t kFloodStep = 11;                 // the water level is set in step 11
constexpr int32_t kLastPipelineStep = 13;          // a whole landscape
constexpr int32_t kSeaLevel = 25;

}  // namespace

void Flight::GenerateNewLand() {
    LandGenerator* generator = frameLoop.landGenerator;
    SaverPlatform* platform = frameLoop.platform;
    if (generator == nullptr || platform == nullptr) return;

    // A Shift press ends the generation it interrupts, not every later one:
    // the next landscape is made when the countdown runs out again.
    newLand.abortGeneration = 0;
    // Two landscapes made within the same second are identical.
    const uint32_t seed = platform->CalendarSeconds();
    const int32_t lastStep = RunLandPipeline(*generator, seed, &newLand.abortGeneration,
                                             &newLand.failedStep);
    TakeLandResult(seed, lastStep, newLand.failedStep);
}

void Flight::TakeLandResult(uint32_t seed, int32_t lastStep, int32_t failedStep) {
    FlightView* view = frameLoop.flightView;
    newLand.failedStep = failedStep;
    posed_ = false;
    if (failedStep == 0) frameLoop.landMade = true;
    // The pipeline's land steps do not read these two view fields, so setting
    // them afterwards equals setting them at their steps, for an aborted run
    // too: the seed once step 2 ran, the sea level once step 11 ran.
    if (view != nullptr) {
        if (lastStep >= kFirstPipelineStepWithSeed) view->randomState = seed;
        if (lastStep >= kFloodStep) view->waterLevel = kSeaLevel;
        // The march's copy of the heights, whatever the pipeline left.
        view->UpdateSampleMap();
    }
    if (lastStep >= kFirstPipelineStepWithSeed) landSeed_ = seed;
    // A whole landscape can be flown again from its seeds.
    if (lastStep == kLastPipelineStep && failedStep == 0 && frameLoop.platform != nullptr) {
        LandscapeRecord record;
        record.landSeed = seed;
        record.viewSeed = viewSeed_;
        record.settings = settings;
        record.clientWidth = frameLoop.clientWidth;
        record.clientHeight = frameLoop.clientHeight;
        frameLoop.platform->LandscapeMade(record);
    }
}

int32_t Flight::GenerationProgress(void* flight, int32_t /*hint*/) {
    Flight& f = *static_cast<Flight*>(flight);
    // onWorker_ is set before the worker starts and cleared after it joined,
    // so the worker reads it safely.
    return f.onWorker_ ? f.WorkerPoll() : f.Progress();
}

int32_t Flight::Progress() {
    if (frameLoop.platform == nullptr) return newLand.abortGeneration;
    AnimateProgress();
    (void)QueryShiftAbort();
    return newLand.abortGeneration;
}

void Flight::AnimateProgress() {
    SaverPlatform* platform = frameLoop.platform;
    NewLandState& s = newLand;
    // Draws at most once per 128 ms of the clock.
    const int64_t tick = platform->ClockMs() >> 7;
    if (tick != s.progressLastTick) {
        s.progressLastTick = platform->ClockMs() >> 7;
        const int32_t before = s.progressLevel;
        s.progressLevel += s.progressStep;
        if (s.progressLevel > 255 || s.progressLevel < 0) {
            // Each end value is drawn on two updates in a row.
            s.progressStep = -s.progressStep;
            s.progressLevel = before;
        }
        ProgressScreen screen;
        screen.level = s.progressLevel;
        platform->ShowProgress(screen);
    }
}

bool Flight::QueryShiftAbort() {
    if (!frameLoop.platform->QueryShift()) return false;
    newLand.abortGeneration = 1;
    worker_.abort.store(1, std::memory_order_relaxed);
    ProgressScreen screen;
    screen.part = ProgressScreen::Part::Stopping;
    screen.level = newLand.progressLevel;
    frameLoop.platform->ShowProgress(screen);
    return true;
}

// --- The worker ------------------------------------------------------------

bool Flight::StartWorker() {
    SaverPlatform* platform = frameLoop.platform;
    if (frameLoop.landGenerator == nullptr || platform == nullptr) return false;
    newLand.abortGeneration = 0;
    Worker& w = worker_;
    w.seed = platform->CalendarSeconds();
    w.lastStep = 0;
    w.failedStep = 0;
    w.abortSeen = 0;
    w.polls = 0;
    w.abort.store(0, std::memory_order_relaxed);
    w.abandon.store(false, std::memory_order_relaxed);
    w.checks.store(0, std::memory_order_relaxed);
    w.done.store(false, std::memory_order_relaxed);
    onWorker_ = true;
    w.thread = platform->StartWorker(&Flight::RunWorker, this);
    if (w.thread == nullptr) onWorker_ = false;
    return onWorker_;
}

void Flight::RunWorker(void* flight) {
    Flight& f = *static_cast<Flight*>(flight);
    Worker& w = f.worker_;
    w.lastStep =
        RunLandPipeline(*f.frameLoop.landGenerator, w.seed, &w.abortSeen, &w.failedStep);
    // Publishes the maps and lastStep to the window thread.
    w.done.store(true, std::memory_order_release);
}

int32_t Flight::WorkerPoll() {
    Worker& w = worker_;
    ++w.polls;
    if (w.abortAtPoll > 0 && w.polls >= w.abortAtPoll) w.abort.store(1, std::memory_order_relaxed);
    if (w.abandonAtPoll > 0 && w.polls >= w.abandonAtPoll) {
        w.abandon.store(true, std::memory_order_relaxed);
    }
    // Once seen, the abort holds for the rest of this generation, as Shift
    // does inline.
    if (w.abort.load(std::memory_order_relaxed) != 0 || w.abandon.load(std::memory_order_relaxed)) {
        w.abortSeen = 1;
    }
    return w.abortSeen;
}

bool Flight::WorkerAbandoned(void* flight) {
    Worker& w = static_cast<Flight*>(flight)->worker_;
    if (w.abandonAtCheck > 0 &&
        w.checks.fetch_add(1, std::memory_order_relaxed) + 1 >= w.abandonAtCheck) {
        w.abandon.store(true, std::memory_order_relaxed);
    }
    return w.abandon.load(std::memory_order_relaxed);
}

void Flight::FinishWorker() {
    if (!onWorker_) return;
    frameLoop.platform->JoinWorker(worker_.thread);
    worker_.thread = nullptr;
    onWorker_ = false;
    TakeLandResult(worker_.seed, worker_.lastStep, worker_.failedStep);
}

void Flight::RequestStop() {
    if (!onWorker_) return;
    // Destroy follows: the generation is given up wherever it is.
    worker_.abandon.store(true, std::memory_order_relaxed);
    worker_.abort.store(1, std::memory_order_relaxed);
}

void Flight::StopWorker() {
    if (!onWorker_) return;
    // The maps go away with the flight: the worker gives the generation up
    // wherever it is instead of finishing the step it is in.
    worker_.abandon.store(true, std::memory_order_relaxed);
    worker_.abort.store(1, std::memory_order_relaxed);
    frameLoop.platform->JoinWorker(worker_.thread);
    worker_.thread = nullptr;
    onWorker_ = false;
}


