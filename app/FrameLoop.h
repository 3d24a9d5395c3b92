// FrameLoop.h - one flight: the saver's frame loop and new-land pipeline on
// one window (or one monitor's part of it), portable.
//
// Each Flight owns its maps, frame, generator and view and keeps all of its
// state in itself, so several flights can run in one process (one per
// monitor, or a test beside another). A front end:
//   1. loads the settings (LoadSettingsFrom / the platform's LoadSettings),
//   2. calls Create with its platform, the settings and its client size,
//   3. calls Tick every 40 ms (the first tick makes the land),
//   4. calls Resize when its client area changes size,
//   5. calls Destroy (or destroys the Flight) when its window goes away.
// Create says why a flight cannot fly (FlightStatus: a client area that gives
// no frame rows or more than the 16384 the view can draw, or a buffer, the
// generator or the view missing); ticks then do nothing. Nothing is built on
// a missing buffer.
//
// Resize keeps the land, the view's camera, sky and objects and the loop's
// counters: only the frame (and the view's tables, when the frame's rows
// change) are made anew, so a resized window flies on where it was.
//
// Generation: inline (the landscape is made inside the tick; deterministic,
// and the only way where there are no threads, as in WebAssembly) or on a
// worker thread (one at a time per flight): the tick that starts the worker
// returns at once, every later tick until the worker is done only updates the
// progress texts (at the same 128 ms cadence) and reads Shift, and the first
// tick after the worker finished takes its result and flies on. The maps, the
// view's randomState and waterLevel and every later frame are exactly those
// of the inline pipeline. Where the platform has no thread to give, the
// landscape is made inline. Destroy during a generation abandons it: the
// worker stops within milliseconds (at its next poll or abandon check, see
// land/LandGenerator.h) and is waited for; the half-made maps are freed.
//
// Timing: "Newland Wait" x 25 ticks between landscapes, at least 25 (a wait
// of 0 still flies one second per landscape), saturated at INT32_MAX ticks;
// ticks that find the worker still busy do not count. A frame tick whose view
// cannot draw (its tables or sky could not be set up; the tables are retried
// at every frame tick, before the autopilot reads them) is skipped whole: no
// steering, no motion, no blit, and the frame counter stays. A view without
// its objects flies on without them.
//
// Memory: a generation that runs out of memory (newLand.failedStep) leaves
// the land as the pipeline left it; the loop flies on over it and tries again
// when the next landscape is due. Until a first landscape was made, frame
// ticks draw one line instead ("Land Size N needs more memory than is free")
// and are skipped. The generator keeps its scratch block (16 bytes a cell)
// from one landscape to the next, so a flight holds it while it flies.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "app/NewLand.h"
#include "app/Platform.h"
#include "app/Settings.h"
#include "view/FlightView.h"

class LandGenerator;
class ThreadPool;

struct FrameLoopState {
    SaverPlatform* platform = nullptr;
    int32_t clientWidth = 0;  // destination of every blit
    int32_t clientHeight = 0;
    int32_t outputHeight = 0;  // rows of the frame (columns: settings.outputWidth)
    int32_t landSide = 0;      // 1 << landSize
    int32_t* heightMapPixels = nullptr;
    uint32_t* colourMapPixels = nullptr;
    uint32_t* framePixels = nullptr;
    // Pixels between the frame's rows: settings.outputWidth, or a few more
    // when the platform takes padded frames (FrameStride).
    int32_t frameStride = 0;
    LandGenerator* landGenerator = nullptr;
    FlightView* flightView = nullptr;
    int32_t threads = 0;               // pool size asked for; 0: the machine's cores
    ThreadPool* threadPool = nullptr;  // lent to the generator and the view; may be null
    int32_t newLandCountdown = 0;
    int32_t frameCounter = 0;
    int32_t autopilotDirection = -1;
    int32_t horizonBase = 0;
    int32_t prevTurnCommand = 0;
    int32_t prevClimbRate = 0;
    bool ready = false;     // everything exists: ticks may fly
    bool landMade = false;  // a generation ran without running out of memory
};

// Why a flight cannot fly.
enum class FlightProblem {
    NoProblem,
    FrameRows,  // the client area gives no frame rows, or more than the view can draw
    NoMemory,   // a land map, the frame, the generator or the view could not be had
};

struct FlightStatus {
    FlightProblem problem = FlightProblem::NoProblem;
    int32_t outputWidth = 0;
    int32_t clientWidth = 0;
    int32_t clientHeight = 0;
    int64_t frameRows = 0;  // what the client area gives, even beyond 32 bits
    int32_t landSize = 0;

    bool ok() const { return problem == FlightProblem::NoProblem; }
    explicit operator bool() const { return ok(); }
    // One line without a newline: "output width 512 on a 3000x2 client gives
    // 0 frame rows (1 to 16384 can be drawn)", or "Land Size 12 needs more
    // memory than is free"; empty when the flight flies.
    std::string Text() const;
};

// What one tick did.
enum class TickResult {
    Generated,   // made (or tried to make, if aborted) a landscape, or started
                 // the worker on one; drew nothing
    Generating,  // the worker is still making the landscape: progress only
    DrewFrame,   // flew one frame and blitted it
    Flew,        // smooth motion: flew one tick; Draw shows it
    Skipped,     // nothing: the loop cannot fly, or the view cannot draw yet
};

// Where a flight makes its landscapes.
enum class Generation {
    Inline,  // inside the tick
    Worker,  // on a thread of the flight's own
};

// Output height for a client area: width / clientWidth x clientHeight in
// double, quotient first, truncated (512 on 1280 x 1024 gives 409); 0 when a
// side is not positive or the result does not fit 32 bits.
int32_t ComputeOutputHeight(int32_t width, int32_t clientWidth, int32_t clientHeight);
// The same in 64 bits, for messages: the true row count of any client area
// (exact while width x height < 2^53).
int64_t ComputeFrameRows(int32_t width, int32_t clientWidth, int32_t clientHeight);
// The most frame rows a flight draws.
constexpr int32_t kMaxOutputHeight = 16384;
// Frames of at most this many pixels are drawn on one thread (the landscapes
// are still made on the flight's pool): one thread draws them in a few
// milliseconds, and splitting them costs more processor time than it saves
// (the hand-over, waiting for the slowest share, the shares' boundaries:
// some 4 to 13 % more per default frame at 25 frames a second, see
// bench/README.md). The pictures are the same either way.
constexpr int64_t kOneThreadFramePixels = 512 * 512;
// The row length of a flight's frame `width` pixels wide on `platform`: the
// view's DrawingStride when the platform takes padded frames, else width.
int32_t FrameStride(const SaverPlatform& platform, int32_t width);
// Base horizon row (rows of the rotated frame): tilt x width / 256 +
// width x 0.78125, truncated (512 with tilt 0 gives 400).
int32_t ComputeHorizonBase(int32_t tiltSetting, int32_t width);

class Flight {
public:
    Flight() = default;
    ~Flight();
    Flight(const Flight&) = delete;
    Flight& operator=(const Flight&) = delete;

    // Takes a clamped copy of the settings and starts from the initial state
    // (destroys what an earlier Create built). The platform must outlive the
    // flight or its next Destroy. threads: the land passes and the frames run
    // on that many threads (below 1: the machine's cores); the pictures are
    // the same for every count. A flight that cannot fly holds nothing.
    FlightStatus Create(SaverPlatform& platform, const Settings& settings, int32_t clientWidth,
                        int32_t clientHeight, int32_t threads = 0,
                        Generation generation = Generation::Inline);
    // A new client size. A flight that flies keeps everything but its frame,
    // which is made anew when the size gives other frame rows (when that
    // frame cannot be had, or the size gives no rows, the flight keeps its
    // old frame, stretched, and says why); a flight that could not fly is
    // created anew for the size (after a Create, with its arguments).
    FlightStatus Resize(int32_t clientWidth, int32_t clientHeight);
    // The three buffers, the thread pool (without it everything runs on the
    // calling thread), the generator and the view; true when the buffers, the
    // generator and the view exist.
    bool CreateSaverObjects();
    TickResult Tick();
    // Smooth motion ("Smooth Motion" 1 at Create): ticks fly without drawing,
    // and the front end draws at the display's pace with Draw. Otherwise
    // every frame tick draws its frame, as the saver always did.
    bool smooth() const { return smooth_; }
    // A smooth flight flies each tick one tick ahead for the frames in
    // between. A front end whose pacer draws one frame a tick (on battery)
    // turns that off: Draw then shows each tick's own frame and a tick costs
    // what it costs without smooth motion. The flight is the same either way.
    void SetLookAhead(bool lookAhead) { lookAhead_ = lookAhead; }
    // Draws and shows the frame `fraction` (in 1/65536, 0 ... 65535) of the
    // way from the last tick's frame to the next one; 0 is the tick's frame,
    // bit for bit. Changes nothing of the flight. False when there is
    // nothing to draw (no landscape yet, a view that cannot draw).
    bool Draw(int32_t fraction);

    // The camera of the last frame drawn (for timing logs and test hooks):
    // position units, angle units, height units.
    struct Camera {
        int32_t positionX = 0;
        int32_t positionY = 0;
        int32_t heading = 0;
        int32_t altitude = 0;
    };
    const Camera& drawnCamera() const { return drawnCamera_; }

    // The seeds of the landscape flown now (0, 0 before the first): its
    // land seed and the view's seed.
    uint32_t landSeed() const { return landSeed_; }
    uint32_t viewSeed() const { return viewSeed_; }

    // Landscapes made from now on use one thread (on battery) or the
    // flight's pool; the pictures are the same either way. A landscape
    // being made keeps its threads.
    void SetLandOnOneThread(bool oneThread) { landOnOneThread_ = oneThread; }
    // Releases the view, the generator and the three buffers (through the
    // platform) and resets the frame loop's and the new-land pipeline's state.
    void Destroy();
    // Tells a running worker to give its generation up (within milliseconds,
    // at its next poll or abandon check) and returns at once; Destroy then
    // waits for it (the maps are in no particular state: only Destroy may
    // follow). A window with several flights asks them all first, so that
    // their workers stop side by side.
    void RequestStop();

    // --- New-land pipeline (app/NewLand.cpp) ----------------------------------
    // Runs the land pipeline on this flight's generator and view; does nothing
    // without them.
    void GenerateNewLand();
    // The progress callback of this flight's generator: nonzero means abort.
    // The hint is ignored. The context is the Flight.
    static int32_t GenerationProgress(void* flight, int32_t hint);

    // Waits for a running worker and takes its landscape as the next tick
    // would, without counting a tick (a front end that reads the maps right
    // after the tick that started the worker); nothing without a worker.
    void FinishGeneration() { FinishWorker(); }
    // True from the tick that started the worker until the tick that takes
    // its result (the worker itself may already be done).
    bool WorkerRunning() const { return onWorker_; }
    // True once the running worker has finished its pipeline.
    bool WorkerDone() const { return worker_.done.load(std::memory_order_acquire); }
    // Test seam: the next worker acts on an abort at its poll number `poll`
    // (from 1) as on Shift; 0 never.
    void AbortWorkerAtPoll(int64_t poll) { worker_.abortAtPoll = poll; }
    // Test seam: the next worker is abandoned, as on a close, at its abandon
    // check number `check` (from 1); 0 never. Its maps are then in no
    // particular state: the flight is to be destroyed, not flown.
    void AbandonWorkerAtCheck(int64_t check) { worker_.abandonAtCheck = check; }
    // Test seam: the same at the worker's poll number `poll` (from 1).
    void AbandonWorkerAtPoll(int64_t poll) { worker_.abandonAtPoll = poll; }
    // Abandon checks of the last worker (valid once it is done).
    int64_t WorkerAbandonChecks() const { return worker_.checks.load(std::memory_order_relaxed); }
    // Progress calls of the last worker (valid once it is done).
    int64_t WorkerPolls() const { return worker_.polls; }

    Settings settings;  // clamped at Create
    FrameLoopState frameLoop;
    NewLandState newLand;

private:
    // The worker's state. The window thread writes the plain fields before
    // the worker starts and reads them after it has joined; while it runs,
    // only `abort` and `abandon` (window to worker), `checks` (among the
    // worker's and the pool's threads) and `done` (worker to window) are
    // shared.
    struct Worker {
        void* thread = nullptr;   // the platform's handle
        uint32_t seed = 0;        // the land seed, read on the window thread
        int32_t lastStep = 0;     // the pipeline's result
        int32_t failedStep = 0;   // the step that could not get its memory, 0: none
        int32_t abortSeen = 0;    // the worker's abort flag, tested between steps
        int64_t polls = 0;        // progress calls so far
        int64_t abortAtPoll = 0;  // test seam
        int64_t abandonAtCheck = 0;  // test seam
        int64_t abandonAtPoll = 0;   // test seam
        std::atomic<int32_t> abort{0};
        std::atomic<bool> abandon{false};  // the maps will be thrown away
        std::atomic<int64_t> checks{0};    // abandon checks so far
        std::atomic<bool> done{false};
    };

    int32_t Progress();
    int32_t WorkerPoll();
    void AnimateProgress();
    bool QueryShiftAbort();
    bool StartWorker();
    void FinishWorker();
    void StopWorker();
    // Applies a finished generation on the window thread: the view's seed and
    // sea level, and whether the flight now has a landscape to fly over.
    void TakeLandResult(uint32_t seed, int32_t lastStep, int32_t failedStep);
    static void RunWorker(void* flight);
    // The abandon check of this flight's generator (any thread).
    static bool WorkerAbandoned(void* flight);

    // Destroy without forgetting Create's arguments.
    void Release();
    FlightStatus StatusFor(FlightProblem problem, int32_t clientWidth, int32_t clientHeight) const;

    // Create's arguments, for a Resize of a flight that could not fly.
    SaverPlatform* platform_ = nullptr;
    int32_t threads_ = 0;
    bool created_ = false;  // Create was called since the last Destroy
    // The generator's threads for the landscape about to be made.
    void ChooseLandThreads();
    // The view's threads for the frame's size (kOneThreadFramePixels).
    void ChooseFrameThreads();
    void NoteDrawnCamera(const FlightView::Camera& camera);
    // One frame tick's flight: the autopilot's commands into the camera's
    // rates, bank and horizon, the camera's move and the objects' move.
    void FlyOneTick();
    // Smooth motion: keeps this tick's pose and flies the next tick now when
    // it is a frame tick, so that Draw can draw the frames in between.
    void LookAhead();

    Generation generation_ = Generation::Inline;
    bool smooth_ = false;
    bool landOnOneThread_ = false;
    uint32_t landSeed_ = 0;
    uint32_t viewSeed_ = 0;
    // A frame tick flew since the last landscape: there is a frame to draw
    // (after a landscape the screen keeps its last picture until then).
    bool posed_ = false;
    // Smooth motion: the view holds the next tick's pose, flown ahead, and
    // keeps this tick's (the frames in between run from it to the next).
    bool ahead_ = false;
    bool lookAhead_ = true;
    Camera drawnCamera_;
    bool onWorker_ = false;  // a worker was started and not yet joined
    Worker worker_;
};

// What one refresh of a front end did (see RefreshFlights).
struct RefreshOutcome {
    int32_t ticks = 0;   // ticks run (per flight)
    int32_t drawn = 0;   // frames drawn and shown, over all flights
    int32_t fraction = 0;  // where between two ticks they were drawn (0: a tick's frame)
    bool madeLand = false;
    int64_t drawMicroseconds = 0;
};

// One refresh of a front end's flights, paced by `pacer` (app/Pacing.h): the
// ticks that fell due, then each flight's frame at the pacer's fraction (the
// tick's own frame while the pacer is not smooth); the drawing time goes back
// to the pacer. Flights with smooth motion off draw in their ticks.
class FramePacer;
RefreshOutcome RefreshFlights(FramePacer& pacer, Flight* flights, int32_t count, int64_t now);
