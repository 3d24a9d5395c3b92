#include "x11/X11Saver.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <pthread.h>
#include <semaphore.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "app/Closing.h"
#include "app/CommandLine.h"
#include "app/FrameLoop.h"
#include "app/Pacing.h"
#include "app/Settings.h"
#include "app/TimingLog.h"
#include "x11/HistoryFile.h"
#include "x11/PowerSupply.h"
#include "x11/X11Pacing.h"
#include "x11/X11Platform.h"

namespace {

// A window being resized by hand sends many sizes; the flight is rebuilt
// once the size has held this long.
constexpr int64_t kResizeSettleMicroseconds = 200000;
// A refresh event that has not come this long after it was asked for means
// a server whose Present clock does not run: timers pace from then on.
constexpr int64_t kPresentPatienceMicroseconds = 250000;
// The display's power and the visibility are looked at this often even when
// nothing else wakes the saver (and a hidden saver wakes no more often).
constexpr int64_t kPowerCheckMicroseconds = 1000000;
// A refresh event whose time lies further from now than this (a server on
// another machine, or one that was stopped) is taken as happening now.
constexpr int64_t kLatestRefreshMicroseconds = 100000;

// How long a stop request may wait for the X server before the process
// ends without it. Screen lockers send SIGTERM and expect the saver gone
// within a second; a server that does not answer (stopped, or hung) would
// otherwise hold it in Xlib for as long as it does not.
constexpr long kStopGraceNanoseconds = 400000000;

volatile sig_atomic_t stopRequested = 0;
sem_t stopPosted;  // posted by every stop request, for the watchdog

// The display a signal left open: the connection closes with the process
// and the server then frees all of ours; XCloseDisplay would first wait for
// an answer from a server that may not give one. (Kept here, the display is
// still reachable at the end, so leak checkers do not count it.)
Display* volatile displayLeftOpen = nullptr;
// Set once nothing the saver still does waits for the server: from then
// on the process ends on its own (freeing a big land may take a while on a
// busy machine, but needs no server).
std::atomic<bool> doneWithServer{false};

void RequestStop(int) {
    stopRequested = 1;
    sem_post(&stopPosted);  // async-signal-safe
}

// Runs on a thread of its own from before the display is opened: once a
// stop was requested and the saver still waits for the server after the
// grace time, the server does not answer. The process then ends with 0 all
// the same, leaving no shared segment behind.
void* StopWatchdog(void*) {
    while (sem_wait(&stopPosted) != 0) {
    }
    timespec grace{0, kStopGraceNanoseconds};
    while (nanosleep(&grace, &grace) != 0 && errno == EINTR) {
    }
    if (doneWithServer.load()) return nullptr;
    X11RemoveUnmarkedSegment();
    static const char kLine[] = "glidescape: the X server does not answer; ending without it\n";
    if (write(STDERR_FILENO, kLine, sizeof kLine - 1) < 0) {
        // Nothing more to be done: the process ends anyway.
    }
    _exit(0);
}

void StartStopWatchdog() {
    static bool started = false;
    if (started || sem_init(&stopPosted, 0, 0) != 0) return;
    started = true;
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return;
    // It sleeps and calls a few system functions: a small stack keeps it
    // out of the way under a tight memory limit.
    pthread_attr_setstacksize(&attributes, 256 * 1024);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    // The signals go to the other threads; the handler wakes this one.
    sigset_t stops;
    sigset_t previous;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stops, &previous);
    pthread_t thread;
    // Without the thread (no memory for it) the saver still ends on a
    // signal, only not while the server does not answer.
    (void)pthread_create(&thread, &attributes, StopWatchdog, nullptr);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    pthread_attr_destroy(&attributes);
}

void InstallSignalHandlers() {
    StartStopWatchdog();
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: the wait for the next tick returns at once
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

std::string WindowText(unsigned long id) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%lx", id);
    return text;
}

struct OwnWindow {
    Window window = 0;
    Cursor blankCursor = 0;
    Atom deleteWindow = 0;
};

// Our own top-level window, mapped; 0 when it cannot be made.
OwnWindow MakeOwnWindow(Display* display, const X11Options& options) {
    OwnWindow own;
    const int screen = DefaultScreen(display);
    const Window root = RootWindow(display, screen);
    const bool full = options.target == X11Target::FullScreen;
    const int x = full || !options.hasPosition ? 0 : options.windowX;
    const int y = full || !options.hasPosition ? 0 : options.windowY;
    const auto width =
        static_cast<unsigned>(full ? DisplayWidth(display, screen) : options.windowWidth);
    const auto height =
        static_cast<unsigned>(full ? DisplayHeight(display, screen) : options.windowHeight);

    XSetWindowAttributes attributes{};
    attributes.background_pixel = BlackPixel(display, screen);
    attributes.event_mask = KeyPressMask | ButtonPressMask | PointerMotionMask |
                            StructureNotifyMask | ExposureMask | VisibilityChangeMask;
    own.window = XCreateWindow(display, root, x, y, width, height, 0, CopyFromParent, InputOutput,
                               CopyFromParent, CWBackPixel | CWEventMask, &attributes);
    if (own.window == 0) return own;

    XStoreName(display, own.window, "Glidescape");
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    const char title[] = "Glidescape";
    XChangeProperty(display, own.window, netName, utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title),
                    static_cast<int>(sizeof title - 1));
    char className[] = "Glidescape";
    char instanceName[] = "glidescape";
    XClassHint classHint{instanceName, className};
    XSetClassHint(display, own.window, &classHint);
    XSizeHints sizeHints{};
    sizeHints.flags = USSize | (options.hasPosition && !full ? USPosition : 0);
    sizeHints.x = x;
    sizeHints.y = y;
    sizeHints.width = static_cast<int>(width);
    sizeHints.height = static_cast<int>(height);
    XSetWMNormalHints(display, own.window, &sizeHints);
    own.deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, own.window, &own.deleteWindow, 1);

    if (full) {
        // Asked for before mapping, the window manager maps it full screen
        // and undecorated right away; without one it already covers the
        // screen at (0, 0).
        const Atom state = XInternAtom(display, "_NET_WM_STATE", False);
        const Atom fullScreen = XInternAtom(display, "_NET_WM_STATE_FULLSCREEN", False);
        XChangeProperty(display, own.window, state, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&fullScreen), 1);
        const char empty[1] = {0};
        const Pixmap blank = XCreateBitmapFromData(display, own.window, empty, 1, 1);
        XColor black{};
        own.blankCursor = XCreatePixmapCursor(display, blank, blank, &black, &black, 0, 0);
        XFreePixmap(display, blank);
        XDefineCursor(display, own.window, own.blankCursor);
    }
    XMapRaised(display, own.window);
    return own;
}

// Where the target window comes from: ours, $XSCREENSAVER_WINDOW, the
// root window, or -window-id.
bool FindForeignWindow(Display* display, const X11Options& options, Window* window,
                       std::string& error) {
    if (options.target == X11Target::WindowId) {
        *window = options.windowId;
        return true;
    }
    const char* fromDaemon = std::getenv("XSCREENSAVER_WINDOW");
    if (fromDaemon != nullptr && fromDaemon[0] != '\0') {
        uint32_t id = 0;
        if (!ParseWindowId(fromDaemon, &id)) {
            error = std::string("XSCREENSAVER_WINDOW '") + fromDaemon + "' is not a window id";
            return false;
        }
        *window = id;
        return true;
    }
    *window = DefaultRootWindow(display);
    return true;
}

class Saver {
public:
    Saver(Display* display, const X11Options& options, const Settings& settings, std::FILE* errors)
        : display_(display), options_(options), settings_(settings), errors_(errors) {}

    int Run();

private:
    void Fail(const std::string& message) { PrintErrorLine(errors_, "glidescape", message); }
    void HandleEvent(const XEvent& event);
    void ApplySize(int32_t width, int32_t height);
    // Black, and the line that says why the window does not fly (if any).
    void ShowProblem();
    // Settles a pending size and retries a flight that lacked memory.
    void Housekeeping(int64_t now);
    // The power plan, the display's power, the window's visibility and the
    // refresh source into the pacer.
    void UpdatePacing(int64_t now);
    bool PresentPaces() const { return usePresent_ && pacer_.smooth(); }
    // One refresh at `at` (monotonic microseconds): the ticks that fell due
    // and the frame the pacer asks for.
    void Refresh(int64_t at);
    // Waits for the server or the next deadline.
    void Wait(int64_t now);
    void Finish();

    Display* display_;
    const X11Options& options_;
    const Settings settings_;
    std::FILE* errors_;
    bool ownsWindow_ = false;
    OwnWindow own_;
    Window window_ = 0;
    X11Platform* platform_ = nullptr;
    // The one flight of this window; its land is made on a worker thread,
    // so the window keeps answering (and a signal or a close ends the saver
    // at once) while a big one is made.
    Flight flight_;
    bool quit_ = false;
    bool flying_ = false;
    int32_t width_ = 0;  // the size the image was made for
    int32_t height_ = 0;
    std::string problem_;       // why the window does not fly; empty: no word
    int64_t retryAtUs_ = -1;    // when a flight that lacked memory is tried again
    bool sizePending_ = false;
    int32_t pendingWidth_ = 0;
    int32_t pendingHeight_ = 0;
    int64_t pendingSince_ = 0;
    bool pointerKnown_ = false;
    ScreenPoint pointer_{0, 0};  // where the pointer was first seen
    int64_t frameTicks_ = 0;
    int64_t frameMicroseconds_ = 0;
    int64_t longestFrameMicroseconds_ = 0;

    // Pacing: when to tick and draw, and whether anybody can see it.
    FramePacer pacer_;
    PresentClock present_;
    bool usePresent_ = false;
    bool refreshDue_ = false;  // a Present refresh event came
    int64_t refreshAtUs_ = 0;  // its time
    int64_t refreshUs_ = 0;    // the monitor's refresh period (RandR); 0: unknown
    int64_t wakeAtUs_ = 0;     // the next timer refresh
    int64_t powerCheckAtUs_ = 0;
    int64_t ticksRun_ = 0;
    bool viewable_ = false;  // mapped (and its parents too, as far as we know)
    bool obscured_ = false;  // fully covered by other windows
    DisplayPower displayPower_;
    PowerSupplyWatch powerSupply_{PowerSupplyFolder(std::getenv("GLIDESCAPE_POWER_SUPPLY_DIR"))};
    TimingLog timing_;
};

void Saver::HandleEvent(const XEvent& event) {
    switch (event.type) {
        case KeyPress:
        case ButtonPress:
            if (ownsWindow_) quit_ = true;
            break;
        case MotionNotify:
            if (!ownsWindow_) break;
            if (!pointerKnown_) {
                pointer_ = {event.xmotion.x_root, event.xmotion.y_root};
                pointerKnown_ = true;
            } else if (MouseDriftCloses(pointer_, {event.xmotion.x_root, event.xmotion.y_root})) {
                quit_ = true;
            }
            break;
        case ClientMessage:
            if (ownsWindow_ && static_cast<Atom>(event.xclient.data.l[0]) == own_.deleteWindow) {
                quit_ = true;
            }
            break;
        case DestroyNotify:
            if (event.xdestroywindow.window == window_) quit_ = true;
            break;
        case UnmapNotify:
            if (event.xunmap.window != window_) break;
            viewable_ = false;
            UpdatePacing(MonotonicMicroseconds());
            break;
        case VisibilityNotify:
            if (event.xvisibility.window != window_) break;
            // Only a viewable window gets these.
            viewable_ = true;
            obscured_ = event.xvisibility.state == VisibilityFullyObscured;
            UpdatePacing(MonotonicMicroseconds());
            break;
        case MapNotify:
        case ConfigureNotify:
            if (event.xany.window != window_) break;
            if (event.type == MapNotify && !viewable_) {
                viewable_ = true;
                UpdatePacing(MonotonicMicroseconds());
            }
            if (event.type == ConfigureNotify) {
                pendingWidth_ = event.xconfigure.width;
                pendingHeight_ = event.xconfigure.height;
            } else {
                XWindowAttributes attributes{};
                if (XGetWindowAttributes(display_, window_, &attributes) == 0) break;
                pendingWidth_ = attributes.width;
                pendingHeight_ = attributes.height;
            }
            if (pendingWidth_ != width_ || pendingHeight_ != height_) {
                sizePending_ = true;
                pendingSince_ = MonotonicMicroseconds();
            }
            break;
        case Expose:
            // Frames repaint everything 25 times a second; a window that
            // cannot fly is kept black, with the line that says why.
            if (!flying_ && event.xexpose.count == 0) ShowProblem();
            break;
        default:
            break;
    }
}

void Saver::ApplySize(int32_t width, int32_t height) {
    width_ = width;
    height_ = height;
    retryAtUs_ = -1;
    if (!platform_->SetClientSize(width, height)) {
        flight_.Destroy();
        flying_ = false;
        problem_ = "a " + std::to_string(width) + "x" + std::to_string(height) +
                   " picture needs more memory than is free";
    } else {
        // A flight that flies keeps its land and its camera; one that could
        // not fly (the first size, or one without memory) is made anew.
        const FlightStatus status =
            flight_.frameLoop.ready
                ? flight_.Resize(width, height)
                : flight_.Create(*platform_, settings_, width, height, 0, Generation::Worker);
        flying_ = flight_.frameLoop.ready;
        problem_ = flying_ ? std::string() : status.Text();
        if (!flying_ && status.problem == FlightProblem::NoMemory) {
            // Tried again when the next landscape would be due.
            const int64_t waitSeconds = settings_.newlandWait < 1 ? 1 : settings_.newlandWait;
            retryAtUs_ = MonotonicMicroseconds() + waitSeconds * 1000000;
        }
    }
    if (!flying_) ShowProblem();
}

void Saver::ShowProblem() {
    platform_->Clear();
    if (!problem_.empty()) platform_->ShowMessage(problem_.c_str());
}

void Saver::Housekeeping(int64_t now) {
    if (sizePending_ && now - pendingSince_ >= kResizeSettleMicroseconds) {
        sizePending_ = false;
        ApplySize(pendingWidth_, pendingHeight_);
        UpdatePacing(MonotonicMicroseconds());
    }
    if (!flying_ && retryAtUs_ >= 0 && now >= retryAtUs_) {
        ApplySize(width_, height_);
        UpdatePacing(MonotonicMicroseconds());
    }
}

void Saver::UpdatePacing(int64_t now) {
    const bool displayOn = displayPower_.On(now);
    const bool onBattery = powerSupply_.OnBattery(now);
    const PowerPlan plan = PlanPower(settings_, onBattery);
    const bool wasDrawing = pacer_.visible();
    const bool drawing = ApplyPacing(pacer_, plan, flight_.smooth(), refreshUs_,
                                     viewable_ && !obscured_ && displayOn);
    flight_.SetLandOnOneThread(plan.landOnOneThread);
    // Seen again: the schedule starts afresh at once (the pacer restarted);
    // a refresh asked for long ago (an unmapped window's may never come) is
    // asked for anew, so it is not taken for a clock that does not run.
    if (drawing && !wasDrawing) {
        wakeAtUs_ = now;
        if (PresentPaces() && present_.pending()) present_.Request(true);
    }
    timing_.Pacing(PresentPaces() ? "present" : "timer", pacer_.refreshMicroseconds(),
                   pacer_.smooth(), drawing);
}

void Saver::Refresh(int64_t at) {
    const int64_t start = MonotonicMicroseconds();
    const RefreshOutcome outcome = RefreshFlights(pacer_, &flight_, 1, at);
    ticksRun_ += outcome.ticks;
    const int64_t end = MonotonicMicroseconds();
    if (outcome.drawn > 0) {
        timing_.Frame(at, ticksRun_, outcome.fraction, flight_.drawnCamera());
        if (!outcome.madeLand) {
            const int64_t spent = end - start;
            ++frameTicks_;
            frameMicroseconds_ += spent;
            if (spent > longestFrameMicroseconds_) longestFrameMicroseconds_ = spent;
        }
    }
    wakeAtUs_ = pacer_.NextWakeUp(end);
}

void Saver::Wait(int64_t now) {
    int64_t deadline = powerCheckAtUs_;
    if (sizePending_ && pendingSince_ + kResizeSettleMicroseconds < deadline) {
        deadline = pendingSince_ + kResizeSettleMicroseconds;
    }
    if (!flying_ && retryAtUs_ >= 0 && retryAtUs_ < deadline) deadline = retryAtUs_;
    if (flying_ && pacer_.visible()) {
        // With the Present clock the server's event wakes the saver; the
        // deadline only watches for a clock that does not run.
        const int64_t refresh =
            PresentPaces() ? present_.requestedAt() + kPresentPatienceMicroseconds : wakeAtUs_;
        if (refresh < deadline) deadline = refresh;
    }
    if (deadline <= now) return;
    const int64_t wait = deadline - now;
    timespec timeout{static_cast<time_t>(wait / 1000000), static_cast<long>(wait % 1000000) * 1000};
    pollfd connection{ConnectionNumber(display_), POLLIN, 0};
    ppoll(&connection, 1, &timeout, nullptr);
}

int Saver::Run() {
    ownsWindow_ =
        options_.target == X11Target::OwnWindow || options_.target == X11Target::FullScreen;
    if (ownsWindow_) {
        own_ = MakeOwnWindow(display_, options_);
        if (own_.window == 0) {
            Fail("cannot make a window");
            return 1;
        }
        window_ = own_.window;
        // Where the pointer is now is where it was first seen.
        Window rootReturn = 0;
        Window childReturn = 0;
        int rootX = 0;
        int rootY = 0;
        int windowX = 0;
        int windowY = 0;
        unsigned int mask = 0;
        if (XQueryPointer(display_, DefaultRootWindow(display_), &rootReturn, &childReturn, &rootX,
                          &rootY, &windowX, &windowY, &mask)) {
            pointer_ = {rootX, rootY};
            pointerKnown_ = true;
        }
    } else {
        std::string error;
        if (!FindForeignWindow(display_, options_, &window_, error)) {
            Fail(error);
            return 1;
        }
        XSelectInput(display_, window_, StructureNotifyMask | ExposureMask);
        XSync(display_, False);
    }

    X11Platform::Seeds seeds;
    seeds.hasLandSeed = options_.hasLandSeed;
    seeds.landSeed = options_.landSeed;
    seeds.hasViewSeed = options_.hasViewSeed;
    seeds.viewSeed = options_.viewSeed;
    X11Platform platform(display_, window_, seeds, &stopRequested, errors_);
    platform.SetHistoryFile(HistoryFilePath(std::getenv("XDG_STATE_HOME"), std::getenv("HOME")));
    platform_ = &platform;
    if (!platform.Open()) {
        Fail(X11LastBadWindow() == window_ || !ownsWindow_
                 ? "window " + WindowText(window_) + " does not exist or has no TrueColor visual"
                 : std::string("the window has no TrueColor visual"));
        platform_ = nullptr;
        Finish();
        return 1;
    }
    if (!ownsWindow_) {
        // Somebody else's window has its size already; ours gets it when
        // it is mapped.
        XWindowAttributes attributes{};
        XGetWindowAttributes(display_, window_, &attributes);
        pendingWidth_ = attributes.width;
        pendingHeight_ = attributes.height;
        sizePending_ = true;
        pendingSince_ = MonotonicMicroseconds() - kResizeSettleMicroseconds;
    }

    if (!options_.timingFile.empty()) {
        std::string error;
        if (!timing_.Open(options_.timingFile, error)) {
            Fail(error);
            platform_ = nullptr;
            platform.Close();
            Finish();
            return 1;
        }
    }
    // Somebody else's window is seen when it is mapped; ours once the
    // server says it was mapped.
    if (!ownsWindow_) {
        XWindowAttributes attributes{};
        viewable_ = XGetWindowAttributes(display_, window_, &attributes) != 0 &&
                    attributes.map_state == IsViewable;
    }
    XSelectInput(display_, window_,
                 ownsWindow_ ? KeyPressMask | ButtonPressMask | PointerMotionMask |
                                   StructureNotifyMask | ExposureMask | VisibilityChangeMask
                             : StructureNotifyMask | ExposureMask | VisibilityChangeMask);
    // Smooth motion follows the Present extension's refresh events where
    // the server has them, else a timer at the monitor's refresh rate.
    refreshUs_ = X11RefreshMicroseconds(display_, window_);
    // (GLIDESCAPE_NO_PRESENT set and not empty: the timer, for servers
    // whose Present clock misbehaves, and for the tests: Xvfb always has it.)
    const char* noPresent = std::getenv("GLIDESCAPE_NO_PRESENT");
    usePresent_ =
        (noPresent == nullptr || noPresent[0] == '\0') && present_.Open(display_, window_);
    displayPower_.Open(display_, std::getenv("GLIDESCAPE_DPMS_FILE"));
    int64_t now = MonotonicMicroseconds();
    powerCheckAtUs_ = now;
    UpdatePacing(now);

    while (!quit_ && stopRequested == 0) {
        while (!quit_ && XPending(display_) > 0) {
            XEvent event{};
            XNextEvent(display_, &event);
            int64_t ust = 0;
            if (present_.Completed(event, &ust)) {
                refreshDue_ = true;
                refreshAtUs_ = ust;
                continue;
            }
            HandleEvent(event);
        }
        // Drawing on a window that went away is how some screen lockers
        // end their savers.
        if (X11LastBadWindow() == window_) quit_ = true;
        if (quit_ || stopRequested != 0) break;
        now = MonotonicMicroseconds();
        Housekeeping(now);
        if (now >= powerCheckAtUs_) {
            powerCheckAtUs_ = now + kPowerCheckMicroseconds;
            UpdatePacing(now);
        }
        if (flying_ && pacer_.visible()) {
            if (PresentPaces()) {
                if (refreshDue_) {
                    refreshDue_ = false;
                    const int64_t at =
                        refreshAtUs_ <= now && now - refreshAtUs_ <= kLatestRefreshMicroseconds
                            ? refreshAtUs_
                            : now;
                    // The next refresh is asked for before this one's frame
                    // is drawn, so its event comes on time however long the
                    // drawing takes.
                    present_.Request();
                    Refresh(at);
                }
                if (!present_.pending()) {
                    present_.Request();
                } else if (MonotonicMicroseconds() - present_.requestedAt() >
                           kPresentPatienceMicroseconds) {
                    // The server's clock does not run: a timer from now on.
                    usePresent_ = false;
                    present_.Close();
                    timing_.Note("the Present clock gave no refresh: timers pace");
                    wakeAtUs_ = now;
                    UpdatePacing(now);
                }
            } else if (now >= wakeAtUs_) {
                // On time (a timer wakes a little late), the refresh is the
                // one that was due; late by more, it is now.
                const int64_t late = now - wakeAtUs_;
                Refresh(late <= pacer_.refreshMicroseconds() / 2 ? wakeAtUs_ : now);
            }
        } else {
            refreshDue_ = false;
        }
        if (XPending(display_) > 0) continue;
        Wait(MonotonicMicroseconds());
    }

    if (options_.tickStats && errors_ != nullptr) {
        const double mean =
            frameTicks_ > 0 ? static_cast<double>(frameMicroseconds_) / frameTicks_ / 1000.0 : 0.0;
        const double blit = frameTicks_ > 0 ? static_cast<double>(platform.blitMicroseconds()) /
                                                  frameTicks_ / 1000.0
                                            : 0.0;
        std::fprintf(errors_,
                     "glidescape: %lld frame ticks at %dx%d (frame %dx%d, %s): mean %.2f ms "
                     "(scale + put %.2f ms), longest %.2f ms\n",
                     static_cast<long long>(frameTicks_), width_, height_, settings_.outputWidth,
                     flight_.frameLoop.outputHeight,
                     platform.UsesSharedMemory() ? "MIT-SHM" : "XPutImage", mean, blit,
                     static_cast<double>(longestFrameMicroseconds_) / 1000.0);
    }
    // A signal asks for a prompt end, and the server may be the reason for
    // it (a stopped server, a locker that gave up on it): nothing more that
    // needs its answer. Our window goes with the connection.
    const bool signalled = stopRequested != 0;
    if (signalled) doneWithServer.store(true);
    flight_.Destroy();
    platform_ = nullptr;
    if (signalled) {
        platform.Abandon();
        return 0;
    }
    platform.Close();
    Finish();
    return 0;
}

void Saver::Finish() {
    if (own_.window != 0) XDestroyWindow(display_, own_.window);
    if (own_.blankCursor != 0) XFreeCursor(display_, own_.blankCursor);
    own_ = OwnWindow{};
    XSync(display_, False);
}

}  // namespace

int RunX11Saver(const X11Options& options, const Settings& settings, std::FILE* errors) {
    stopRequested = 0;
    InstallSignalHandlers();
    const char* name = options.display.empty() ? nullptr : options.display.c_str();
    Display* display = XOpenDisplay(name);
    if (display == nullptr) {
        if (errors != nullptr) {
            const char* shown = name != nullptr ? name : std::getenv("DISPLAY");
            std::fprintf(errors, "glidescape: cannot open display '%s'\n",
                         shown != nullptr ? shown : "");
        }
        return 1;
    }
    InstallX11ErrorHandlers();
    int code = 0;
    {
        Saver saver(display, options, settings, errors);
        code = saver.Run();
    }
    if (doneWithServer.load()) {
        displayLeftOpen = display;
    } else {
        XCloseDisplay(display);
        doneWithServer.store(true);
    }
    return code;
}
