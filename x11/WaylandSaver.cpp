#include "x11/WaylandSaver.h"

#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/signalfd.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/Closing.h"
#include "app/CommandLine.h"
#include "app/FrameLoop.h"
#include "app/Pacing.h"
#include "app/TimingLog.h"
#include "x11/HistoryFile.h"
#include "x11/PowerSupply.h"
#include "x11/TextPainter.h"
#include "x11/WaylandPlatform.h"
#include "xdg-shell-client-protocol.h"
// The layer shell names an argument `namespace`, a C++ keyword; clang warns
// about a macro hiding a keyword.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wkeyword-macro"
#endif
#define namespace layer_namespace
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#undef namespace
#if defined(__clang__)
#pragma clang diagnostic pop
#endif

namespace {

// Pixel size of the progress texts and messages.
constexpr int32_t kTextPixels = 15;
// Highest interface versions this client knows.
constexpr uint32_t kCompositorVersion = 4;
constexpr uint32_t kSeatVersion = 5;
constexpr uint32_t kOutputVersion = 4;
constexpr uint32_t kLayerShellVersion = 4;
constexpr uint32_t kWmBaseVersion = 1;

int64_t NowMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

enum class Mode {
    Background,  // background layer of every output, no input
    Overlay,     // overlay layer of every output, input closes
    Window,      // one xdg_toplevel, input closes
};

class Saver;

// One surface with its flight: an output's layer surface, or the window.
struct View {
    Saver* saver = nullptr;
    // The output (none for the window).
    wl_output* output = nullptr;
    uint32_t outputGlobal = 0;
    uint32_t outputVersion = 0;
    int32_t index = 0;  // the seeds' offset
    std::string name;
    int32_t outputX = 0;  // the output's place, for pointer positions
    int32_t outputY = 0;
    int32_t modeWidth = 0;
    int32_t modeHeight = 0;
    int64_t refreshMicroseconds = 0;  // 0: not said
    bool outputDone = false;  // its first description is complete
    bool gone = false;        // closed by the compositor or removed: reaped after dispatch

    wl_surface* surface = nullptr;
    zwlr_layer_surface_v1* layer = nullptr;
    xdg_surface* xdgSurface = nullptr;
    xdg_toplevel* toplevel = nullptr;
    wl_callback* frameCallback = nullptr;
    bool configured = false;
    int32_t pendingWidth = 0;  // from xdg_toplevel.configure
    int32_t pendingHeight = 0;
    int32_t width = 0;  // the size the picture is made for
    int32_t height = 0;

    // The platform outlives the flight that draws on it.
    std::unique_ptr<WaylandPlatform> platform;
    Flight flight;
    bool flying = false;
    std::string problem;     // why it does not fly; empty: no word
    int64_t retryAtUs = -1;  // when a flight that lacked memory is tried again
    // When to tick and draw; a refresh is due at wakeAtUs once the frame
    // callback of the last picture has come.
    FramePacer pacer;
    int64_t wakeAtUs = 0;
    int64_t ticksRun = 0;  // for the timing log

    int64_t frameTicks = 0;
    int64_t frameMicroseconds = 0;
    int64_t longestFrameMicroseconds = 0;
};

class Saver {
public:
    Saver(const X11Options& options, const Settings& settings, std::FILE* errors)
        : options_(options), settings_(settings), errors_(errors) {}
    ~Saver();
    Saver(const Saver&) = delete;
    Saver& operator=(const Saver&) = delete;

    int Run();

    // --- Listeners (static trampolines below call these) ---
    void Global(wl_registry* registry, uint32_t name, const char* interface, uint32_t version);
    void GlobalRemove(uint32_t name);
    void SeatCapabilities(uint32_t capabilities);
    void Keymap(uint32_t format, int fd, uint32_t size);
    void Key(uint32_t state);
    void Modifiers(uint32_t depressed, uint32_t latched, uint32_t locked, uint32_t group);
    void KeyboardLeft();
    void PointerEnter(uint32_t serial, wl_surface* surface, wl_fixed_t x, wl_fixed_t y);
    void PointerLeave(wl_surface* surface);
    void PointerMotion(wl_fixed_t x, wl_fixed_t y);
    void Button(uint32_t state);
    void Configured(View& view, int32_t width, int32_t height);
    void FrameDone(View& view);
    void CloseRequested() { quit_ = true; }

    xdg_wm_base* wmBase() const { return wmBase_; }

private:
    void Fail(const std::string& message) { PrintErrorLine(errors_, "glidescape", message); }
    bool InputCloses() const { return mode_ == Mode::Overlay || mode_ == Mode::Window; }
    bool HidesCursor() const {
        return mode_ == Mode::Overlay ||
               (mode_ == Mode::Window && options_.target == X11Target::FullScreen);
    }
    int32_t FreeIndex() const;
    View& AddView();
    void MakeSurface(View& view);
    void DestroyView(View& view);
    void ReapViews();
    void ApplySize(View& view);
    void ShowProblem(View& view);
    void Present(View& view);
    static bool MayRefresh(const View& view) {
        return view.configured && view.frameCallback == nullptr &&
               view.platform->HasFreeBuffer();
    }
    void Refresh(View& view);
    // Smooth motion, the output's refresh and the battery into the view's
    // pacer (app/Pacing.h).
    void UpdatePacing(View& view);
    // Reads the power supplies (at most every 10 s) and re-paces the views
    // when the machine went on or off its battery.
    void CheckBattery(int64_t now);
    void ForgetKeyboard();
    void PointerAt(int32_t x, int32_t y);
    // Waits for the compositor, a signal or the next due tick; false when the
    // connection is lost.
    bool WaitAndDispatch();
    // Until the compositor has answered everything sent so far, or a signal
    // came; false when the connection is lost.
    bool Roundtrip();
    void ReportLost();
    void PrintTickStats() const;

    const X11Options& options_;
    const Settings settings_;
    std::FILE* errors_;
    Mode mode_ = Mode::Window;
    int signalFd_ = -1;
    bool quit_ = false;
    bool setUp_ = false;  // the first round trips are done: new outputs get surfaces at once

    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    wl_compositor* compositor_ = nullptr;
    uint32_t compositorVersion_ = 0;
    wl_shm* shm_ = nullptr;
    xdg_wm_base* wmBase_ = nullptr;
    zwlr_layer_shell_v1* layerShell_ = nullptr;
    wl_seat* seat_ = nullptr;
    uint32_t seatGlobal_ = 0;
    uint32_t seatVersion_ = 0;
    wl_keyboard* keyboard_ = nullptr;
    wl_pointer* pointer_ = nullptr;

    xkb_context* xkbContext_ = nullptr;
    xkb_keymap* keymap_ = nullptr;
    xkb_state* xkbState_ = nullptr;
    KeyboardShift shift_;

    View* pointerFocus_ = nullptr;
    bool pointerKnown_ = false;
    ScreenPoint pointerFirst_{0, 0};  // where the pointer was first seen

    TextPainter text_;
    std::vector<std::unique_ptr<View>> views_;

    PowerSupplyWatch powerSupply_{PowerSupplyFolder(std::getenv("GLIDESCAPE_POWER_SUPPLY_DIR"))};
    bool onBattery_ = false;
    TimingLog timing_;
};

// --- Listener tables ------------------------------------------------------------------------

void OnGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
              uint32_t version) {
    static_cast<Saver*>(data)->Global(registry, name, interface, version);
}

void OnGlobalRemove(void* data, wl_registry*, uint32_t name) {
    static_cast<Saver*>(data)->GlobalRemove(name);
}

const wl_registry_listener kRegistryListener = {OnGlobal, OnGlobalRemove};

void OnPing(void*, xdg_wm_base* wmBase, uint32_t serial) {
    xdg_wm_base_pong(wmBase, serial);
}

const xdg_wm_base_listener kWmBaseListener = {OnPing};

void OnOutputGeometry(void* data, wl_output*, int32_t x, int32_t y, int32_t, int32_t, int32_t,
                      const char*, const char*, int32_t) {
    auto* view = static_cast<View*>(data);
    view->outputX = x;
    view->outputY = y;
}

void OnOutputMode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height,
                  int32_t refresh) {
    auto* view = static_cast<View*>(data);
    if ((flags & WL_OUTPUT_MODE_CURRENT) != 0) {
        view->modeWidth = width;
        view->modeHeight = height;
        view->refreshMicroseconds = refresh > 0 ? 1000000000 / refresh : 0;  // from millihertz
    }
}

void OnOutputDone(void* data, wl_output*) {
    static_cast<View*>(data)->outputDone = true;
}

void OnOutputScale(void*, wl_output*, int32_t) {}

void OnOutputName(void* data, wl_output*, const char* name) {
    if (name != nullptr) static_cast<View*>(data)->name = name;
}

void OnOutputDescription(void*, wl_output*, const char*) {}

const wl_output_listener kOutputListener = {OnOutputGeometry, OnOutputMode, OnOutputDone,
                                            OnOutputScale,    OnOutputName, OnOutputDescription};

void OnLayerConfigure(void* data, zwlr_layer_surface_v1* layer, uint32_t serial, uint32_t width,
                      uint32_t height) {
    auto* view = static_cast<View*>(data);
    zwlr_layer_surface_v1_ack_configure(layer, serial);
    // Anchored to every edge with no size of its own, the surface is as big
    // as the output; a compositor that says 0 leaves it to us.
    int32_t w = static_cast<int32_t>(std::min<uint32_t>(width, INT32_MAX));
    int32_t h = static_cast<int32_t>(std::min<uint32_t>(height, INT32_MAX));
    if (w == 0 || h == 0) {
        w = view->modeWidth;
        h = view->modeHeight;
    }
    view->saver->Configured(*view, w, h);
}

void OnLayerClosed(void* data, zwlr_layer_surface_v1*) {
    static_cast<View*>(data)->gone = true;
}

const zwlr_layer_surface_v1_listener kLayerListener = {OnLayerConfigure, OnLayerClosed};

void OnXdgSurfaceConfigure(void* data, xdg_surface* surface, uint32_t serial) {
    auto* view = static_cast<View*>(data);
    xdg_surface_ack_configure(surface, serial);
    view->saver->Configured(*view, view->pendingWidth, view->pendingHeight);
}

const xdg_surface_listener kXdgSurfaceListener = {OnXdgSurfaceConfigure};

void OnToplevelConfigure(void* data, xdg_toplevel*, int32_t width, int32_t height, wl_array*) {
    auto* view = static_cast<View*>(data);
    view->pendingWidth = width;
    view->pendingHeight = height;
}

void OnToplevelClose(void* data, xdg_toplevel*) {
    static_cast<View*>(data)->saver->CloseRequested();
}

void OnToplevelBounds(void*, xdg_toplevel*, int32_t, int32_t) {}
void OnToplevelCapabilities(void*, xdg_toplevel*, wl_array*) {}

const xdg_toplevel_listener kToplevelListener = {OnToplevelConfigure, OnToplevelClose,
                                                 OnToplevelBounds, OnToplevelCapabilities};

void OnFrameDone(void* data, wl_callback*, uint32_t) {
    auto* view = static_cast<View*>(data);
    view->saver->FrameDone(*view);
}

const wl_callback_listener kFrameListener = {OnFrameDone};

void OnSyncDone(void* data, wl_callback*, uint32_t) {
    *static_cast<bool*>(data) = true;
}

const wl_callback_listener kSyncListener = {OnSyncDone};

void OnSeatCapabilities(void* data, wl_seat*, uint32_t capabilities) {
    static_cast<Saver*>(data)->SeatCapabilities(capabilities);
}

void OnSeatName(void*, wl_seat*, const char*) {}

const wl_seat_listener kSeatListener = {OnSeatCapabilities, OnSeatName};

void OnKeymap(void* data, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size) {
    static_cast<Saver*>(data)->Keymap(format, fd, size);
}

void OnKeyboardEnter(void*, wl_keyboard*, uint32_t, wl_surface*, wl_array*) {}

void OnKeyboardLeave(void* data, wl_keyboard*, uint32_t, wl_surface*) {
    static_cast<Saver*>(data)->KeyboardLeft();
}

void OnKey(void* data, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t state) {
    static_cast<Saver*>(data)->Key(state);
}

void OnModifiers(void* data, wl_keyboard*, uint32_t, uint32_t depressed, uint32_t latched,
                 uint32_t locked, uint32_t group) {
    static_cast<Saver*>(data)->Modifiers(depressed, latched, locked, group);
}

void OnRepeatInfo(void*, wl_keyboard*, int32_t, int32_t) {}

const wl_keyboard_listener kKeyboardListener = {OnKeymap, OnKeyboardEnter, OnKeyboardLeave,
                                                OnKey,    OnModifiers,     OnRepeatInfo};

void OnPointerEnter(void* data, wl_pointer*, uint32_t serial, wl_surface* surface, wl_fixed_t x,
                    wl_fixed_t y) {
    static_cast<Saver*>(data)->PointerEnter(serial, surface, x, y);
}

void OnPointerLeave(void* data, wl_pointer*, uint32_t, wl_surface* surface) {
    static_cast<Saver*>(data)->PointerLeave(surface);
}

void OnPointerMotion(void* data, wl_pointer*, uint32_t, wl_fixed_t x, wl_fixed_t y) {
    static_cast<Saver*>(data)->PointerMotion(x, y);
}

void OnButton(void* data, wl_pointer*, uint32_t, uint32_t, uint32_t, uint32_t state) {
    static_cast<Saver*>(data)->Button(state);
}

void OnAxis(void*, wl_pointer*, uint32_t, uint32_t, wl_fixed_t) {}
void OnPointerFrame(void*, wl_pointer*) {}
void OnAxisSource(void*, wl_pointer*, uint32_t) {}
void OnAxisStop(void*, wl_pointer*, uint32_t, uint32_t) {}
void OnAxisDiscrete(void*, wl_pointer*, uint32_t, int32_t) {}
void OnAxisValue120(void*, wl_pointer*, uint32_t, int32_t) {}

const wl_pointer_listener kPointerListener = {
    OnPointerEnter, OnPointerLeave, OnPointerMotion, OnButton,       OnAxis,
    OnPointerFrame, OnAxisSource,   OnAxisStop,      OnAxisDiscrete, OnAxisValue120};

// --- Saver ----------------------------------------------------------------------------------

void Saver::Global(wl_registry* registry, uint32_t name, const char* interface,
                   uint32_t version) {
    const std::string kind(interface);
    if (kind == wl_compositor_interface.name && compositor_ == nullptr) {
        compositorVersion_ = std::min(version, kCompositorVersion);
        compositor_ = static_cast<wl_compositor*>(
            wl_registry_bind(registry, name, &wl_compositor_interface, compositorVersion_));
    } else if (kind == wl_shm_interface.name && shm_ == nullptr) {
        shm_ = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
    } else if (kind == xdg_wm_base_interface.name && wmBase_ == nullptr) {
        wmBase_ = static_cast<xdg_wm_base*>(
            wl_registry_bind(registry, name, &xdg_wm_base_interface, kWmBaseVersion));
        xdg_wm_base_add_listener(wmBase_, &kWmBaseListener, this);
    } else if (kind == zwlr_layer_shell_v1_interface.name && layerShell_ == nullptr) {
        layerShell_ = static_cast<zwlr_layer_shell_v1*>(
            wl_registry_bind(registry, name, &zwlr_layer_shell_v1_interface,
                             std::min(version, kLayerShellVersion)));
    } else if (kind == wl_seat_interface.name && seat_ == nullptr) {
        seatVersion_ = std::min(version, kSeatVersion);
        seatGlobal_ = name;
        seat_ = static_cast<wl_seat*>(
            wl_registry_bind(registry, name, &wl_seat_interface, seatVersion_));
        wl_seat_add_listener(seat_, &kSeatListener, this);
    } else if (kind == wl_output_interface.name && mode_ != Mode::Window) {
        View& view = AddView();
        view.outputGlobal = name;
        view.outputVersion = std::min(version, kOutputVersion);
        view.name = "output " + std::to_string(view.index);
        view.output = static_cast<wl_output*>(
            wl_registry_bind(registry, name, &wl_output_interface, view.outputVersion));
        wl_output_add_listener(view.output, &kOutputListener, &view);
        if (setUp_) MakeSurface(view);
    }
}

void Saver::GlobalRemove(uint32_t name) {
    for (auto& view : views_) {
        if (view->output != nullptr && view->outputGlobal == name) view->gone = true;
    }
    if (seat_ != nullptr && name == seatGlobal_) {
        ForgetKeyboard();
        if (pointer_ != nullptr) wl_pointer_destroy(pointer_);
        pointer_ = nullptr;
        pointerFocus_ = nullptr;
        wl_seat_destroy(seat_);
        seat_ = nullptr;
    }
}

int32_t Saver::FreeIndex() const {
    // The lowest index no view holds: outputs that come and go keep the
    // indices (and so the seeds) of those that stay.
    for (int32_t index = 0;; ++index) {
        bool taken = false;
        for (const auto& view : views_) taken = taken || view->index == index;
        if (!taken) return index;
    }
}

View& Saver::AddView() {
    auto view = std::make_unique<View>();
    view->saver = this;
    view->index = FreeIndex();
    FlightSeeds seeds;
    seeds.hasLandSeed = options_.hasLandSeed;
    seeds.landSeed = options_.landSeed;
    seeds.hasViewSeed = options_.hasViewSeed;
    seeds.viewSeed = options_.viewSeed;
    seeds.index = view->index;
    view->platform = std::make_unique<WaylandPlatform>(shm_, text_.IsOpen() ? &text_ : nullptr,
                                                       &shift_, seeds, errors_);
    view->platform->SetHistoryFile(
        HistoryFilePath(std::getenv("XDG_STATE_HOME"), std::getenv("HOME")));
    views_.push_back(std::move(view));
    return *views_.back();
}

void Saver::MakeSurface(View& view) {
    if (view.surface != nullptr || compositor_ == nullptr) return;
    view.surface = wl_compositor_create_surface(compositor_);
    wl_surface_set_user_data(view.surface, &view);
    if (!InputCloses()) {
        // A wallpaper takes no input: the pointer and the keys go past it.
        wl_region* empty = wl_compositor_create_region(compositor_);
        wl_surface_set_input_region(view.surface, empty);
        wl_region_destroy(empty);
    }
    if (mode_ == Mode::Window) {
        view.xdgSurface = xdg_wm_base_get_xdg_surface(wmBase_, view.surface);
        xdg_surface_add_listener(view.xdgSurface, &kXdgSurfaceListener, &view);
        view.toplevel = xdg_surface_get_toplevel(view.xdgSurface);
        xdg_toplevel_add_listener(view.toplevel, &kToplevelListener, &view);
        xdg_toplevel_set_title(view.toplevel, "Glidescape");
        xdg_toplevel_set_app_id(view.toplevel, "glidescape");
        if (options_.target == X11Target::FullScreen) {
            xdg_toplevel_set_fullscreen(view.toplevel, nullptr);
        }
    } else {
        const uint32_t layer = mode_ == Mode::Overlay ? ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY
                                                      : ZWLR_LAYER_SHELL_V1_LAYER_BACKGROUND;
        view.layer = zwlr_layer_shell_v1_get_layer_surface(layerShell_, view.surface, view.output,
                                                           layer, "glidescape");
        zwlr_layer_surface_v1_add_listener(view.layer, &kLayerListener, &view);
        zwlr_layer_surface_v1_set_anchor(view.layer, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP |
                                                         ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                                                         ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT |
                                                         ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
        zwlr_layer_surface_v1_set_size(view.layer, 0, 0);
        // Over panels and docks too, and pushed aside by none.
        zwlr_layer_surface_v1_set_exclusive_zone(view.layer, -1);
        zwlr_layer_surface_v1_set_keyboard_interactivity(
            view.layer, mode_ == Mode::Overlay
                            ? ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_EXCLUSIVE
                            : ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE);
    }
    // The first commit has no buffer: the compositor answers with the size.
    wl_surface_commit(view.surface);
}

void Saver::DestroyView(View& view) {
    // The worker stops and is joined before the buffers go.
    view.flight.Destroy();
    if (pointerFocus_ == &view) pointerFocus_ = nullptr;
    if (view.frameCallback != nullptr) wl_callback_destroy(view.frameCallback);
    view.frameCallback = nullptr;
    view.platform->SetSize(0, 0);
    if (view.layer != nullptr) zwlr_layer_surface_v1_destroy(view.layer);
    if (view.toplevel != nullptr) xdg_toplevel_destroy(view.toplevel);
    if (view.xdgSurface != nullptr) xdg_surface_destroy(view.xdgSurface);
    if (view.surface != nullptr) wl_surface_destroy(view.surface);
    view.layer = nullptr;
    view.toplevel = nullptr;
    view.xdgSurface = nullptr;
    view.surface = nullptr;
    if (view.output != nullptr) {
        if (view.outputVersion >= WL_OUTPUT_RELEASE_SINCE_VERSION) {
            wl_output_release(view.output);
        } else {
            wl_output_destroy(view.output);
        }
    }
    view.output = nullptr;
}

void Saver::ReapViews() {
    for (auto it = views_.begin(); it != views_.end();) {
        if ((*it)->gone) {
            DestroyView(**it);
            it = views_.erase(it);
        } else {
            ++it;
        }
    }
}

void Saver::Configured(View& view, int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) {
        // The compositor leaves the window's size to us.
        width = options_.windowWidth;
        height = options_.windowHeight;
        if (options_.target == X11Target::FullScreen && view.modeWidth > 0) {
            width = view.modeWidth;
            height = view.modeHeight;
        }
    }
    const bool first = !view.configured;
    view.configured = true;
    if (!first && width == view.width && height == view.height) return;
    view.width = width;
    view.height = height;
    ApplySize(view);
    if (first) {
        // Smooth motion draws at every frame callback (the compositor's
        // refresh for this output), else one frame a tick; the first tick
        // (the first landscape) 40 ms from now.
        UpdatePacing(view);
        view.wakeAtUs = NowMicroseconds() + kTickMicroseconds;
        // Mapped at once, black, until the first tick draws.
        if (view.flying) {
            view.platform->Clear();
            Present(view);
        }
    }
}

void Saver::ApplySize(View& view) {
    view.retryAtUs = -1;
    if (!view.platform->SetSize(view.width, view.height)) {
        view.flight.Destroy();
        view.flying = false;
        view.problem = "a " + std::to_string(view.width) + "x" + std::to_string(view.height) +
                       " picture needs more memory than is free";
        return;  // nothing can be drawn: the surface stays as it was
    }
    // Every pixel is drawn: the compositor need not draw what lies beneath.
    wl_region* opaque = wl_compositor_create_region(compositor_);
    wl_region_add(opaque, 0, 0, view.width, view.height);
    wl_surface_set_opaque_region(view.surface, opaque);
    wl_region_destroy(opaque);
    // A flight that flies keeps its land and its camera; one that could not
    // fly (the first size, or one without memory) is made anew.
    const FlightStatus status =
        view.flight.frameLoop.ready
            ? view.flight.Resize(view.width, view.height)
            : view.flight.Create(*view.platform, settings_, view.width, view.height, 0,
                                 Generation::Worker);
    view.flying = view.flight.frameLoop.ready;
    view.problem = view.flying ? std::string() : status.Text();
    if (!view.flying && status.problem == FlightProblem::NoMemory) {
        // Tried again when the next landscape would be due.
        const int64_t waitSeconds = settings_.newlandWait < 1 ? 1 : settings_.newlandWait;
        view.retryAtUs = NowMicroseconds() + waitSeconds * 1000000;
    }
    if (!view.flying) ShowProblem(view);
}

void Saver::ShowProblem(View& view) {
    view.platform->Clear();
    if (!view.problem.empty()) view.platform->ShowMessage(view.problem.c_str());
    Present(view);
}

void Saver::Present(View& view) {
    wl_buffer* buffer = view.platform->TakeDrawn();
    if (buffer == nullptr || view.surface == nullptr) return;
    wl_surface_attach(view.surface, buffer, 0, 0);
    // The whole picture changes; buffer and surface have the same size.
    wl_surface_damage(view.surface, 0, 0, view.platform->Width(), view.platform->Height());
    if (view.frameCallback == nullptr) {
        view.frameCallback = wl_surface_frame(view.surface);
        wl_callback_add_listener(view.frameCallback, &kFrameListener, &view);
    }
    wl_surface_commit(view.surface);
}

void Saver::FrameDone(View& view) {
    if (view.frameCallback != nullptr) wl_callback_destroy(view.frameCallback);
    view.frameCallback = nullptr;
    // Smooth motion: the callback is the output's refresh, the moment to
    // draw the next frame (a hidden surface gets none, and draws nothing).
    if (view.pacer.smooth()) view.wakeAtUs = std::min(view.wakeAtUs, NowMicroseconds());
}

void Saver::UpdatePacing(View& view) {
    const PowerPlan plan = PlanPower(settings_, onBattery_);
    const bool wasDrawing = view.pacer.visible();
    // Hidden surfaces get no frame callbacks: the compositor keeps them
    // from drawing.
    const bool drawing =
        ApplyPacing(view.pacer, plan, view.flight.smooth(), view.refreshMicroseconds, true);
    view.flight.SetLandOnOneThread(plan.landOnOneThread);
    if (drawing && !wasDrawing) view.wakeAtUs = NowMicroseconds();
    timing_.Pacing(view.pacer.smooth() ? "frame-callback" : "timer",
                   view.pacer.refreshMicroseconds(), view.pacer.smooth(), drawing);
}

void Saver::CheckBattery(int64_t now) {
    const bool onBattery = powerSupply_.OnBattery(now);
    if (onBattery == onBattery_) return;
    onBattery_ = onBattery;
    for (auto& view : views_) {
        if (view->configured) UpdatePacing(*view);
    }
}

void Saver::Refresh(View& view) {
    const int64_t now = NowMicroseconds();
    if (!view.flying) {
        if (view.retryAtUs >= 0 && now >= view.retryAtUs) ApplySize(view);
        view.wakeAtUs = now + kTickMicroseconds;
        return;
    }
    const RefreshOutcome outcome = RefreshFlights(view.pacer, &view.flight, 1, now);
    view.ticksRun += outcome.ticks;
    if (outcome.drawn > 0) {
        timing_.Frame(now, view.ticksRun, outcome.fraction, view.flight.drawnCamera());
    }
    if (outcome.drawn > 0 && !outcome.madeLand) {
        const int64_t spent = NowMicroseconds() - now;
        ++view.frameTicks;
        view.frameMicroseconds += spent;
        view.longestFrameMicroseconds = std::max(view.longestFrameMicroseconds, spent);
    }
    // The frame, or the progress texts and messages the ticks drew.
    Present(view);
    view.wakeAtUs = view.pacer.NextWakeUp(NowMicroseconds());
}

// --- Input ----------------------------------------------------------------------------------

void Saver::SeatCapabilities(uint32_t capabilities) {
    const bool hasKeyboard = (capabilities & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
    const bool hasPointer = (capabilities & WL_SEAT_CAPABILITY_POINTER) != 0;
    if (hasKeyboard && keyboard_ == nullptr) {
        keyboard_ = wl_seat_get_keyboard(seat_);
        wl_keyboard_add_listener(keyboard_, &kKeyboardListener, this);
    } else if (!hasKeyboard && keyboard_ != nullptr) {
        ForgetKeyboard();
    }
    if (hasPointer && pointer_ == nullptr) {
        pointer_ = wl_seat_get_pointer(seat_);
        wl_pointer_add_listener(pointer_, &kPointerListener, this);
    } else if (!hasPointer && pointer_ != nullptr) {
        if (seatVersion_ >= WL_POINTER_RELEASE_SINCE_VERSION) {
            wl_pointer_release(pointer_);
        } else {
            wl_pointer_destroy(pointer_);
        }
        pointer_ = nullptr;
        pointerFocus_ = nullptr;
    }
}

void Saver::ForgetKeyboard() {
    if (keyboard_ != nullptr) {
        if (seatVersion_ >= WL_KEYBOARD_RELEASE_SINCE_VERSION) {
            wl_keyboard_release(keyboard_);
        } else {
            wl_keyboard_destroy(keyboard_);
        }
    }
    keyboard_ = nullptr;
    if (xkbState_ != nullptr) xkb_state_unref(xkbState_);
    if (keymap_ != nullptr) xkb_keymap_unref(keymap_);
    xkbState_ = nullptr;
    keymap_ = nullptr;
    shift_.down = false;
}

void Saver::Keymap(uint32_t format, int fd, uint32_t size) {
    if (xkbState_ != nullptr) xkb_state_unref(xkbState_);
    if (keymap_ != nullptr) xkb_keymap_unref(keymap_);
    xkbState_ = nullptr;
    keymap_ = nullptr;
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0 && xkbContext_ != nullptr) {
        void* text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (text != MAP_FAILED) {
            // The map holds a terminating zero within `size`.
            keymap_ = xkb_keymap_new_from_buffer(xkbContext_, static_cast<const char*>(text),
                                                 strnlen(static_cast<const char*>(text), size),
                                                 XKB_KEYMAP_FORMAT_TEXT_V1,
                                                 XKB_KEYMAP_COMPILE_NO_FLAGS);
            munmap(text, size);
        }
        if (keymap_ != nullptr) xkbState_ = xkb_state_new(keymap_);
    }
    close(fd);
}

void Saver::Key(uint32_t state) {
    if (state == WL_KEYBOARD_KEY_STATE_PRESSED && InputCloses()) quit_ = true;
}

void Saver::Modifiers(uint32_t depressed, uint32_t latched, uint32_t locked, uint32_t group) {
    if (xkbState_ == nullptr) return;
    xkb_state_update_mask(xkbState_, depressed, latched, locked, 0, 0, group);
    const bool down =
        xkb_state_mod_name_is_active(xkbState_, XKB_MOD_NAME_SHIFT, XKB_STATE_MODS_EFFECTIVE) > 0;
    if (down && !shift_.down) ++shift_.presses;
    shift_.down = down;
}

void Saver::KeyboardLeft() {
    shift_.down = false;
}

void Saver::PointerEnter(uint32_t serial, wl_surface* surface, wl_fixed_t x, wl_fixed_t y) {
    pointerFocus_ = nullptr;
    for (auto& view : views_) {
        if (view->surface == surface) pointerFocus_ = view.get();
    }
    if (pointerFocus_ == nullptr) return;
    if (HidesCursor()) wl_pointer_set_cursor(pointer_, serial, nullptr, 0, 0);
    PointerAt(wl_fixed_to_int(x), wl_fixed_to_int(y));
}

void Saver::PointerLeave(wl_surface* surface) {
    if (pointerFocus_ != nullptr && pointerFocus_->surface == surface) pointerFocus_ = nullptr;
}

void Saver::PointerMotion(wl_fixed_t x, wl_fixed_t y) {
    if (pointerFocus_ != nullptr) PointerAt(wl_fixed_to_int(x), wl_fixed_to_int(y));
}

void Saver::PointerAt(int32_t x, int32_t y) {
    if (!InputCloses() || pointerFocus_ == nullptr) return;
    // Surface positions made global through the output's place, so a
    // pointer that crosses from one output's surface to the next is measured
    // against the same first position.
    const ScreenPoint now{static_cast<int32_t>(static_cast<int64_t>(x) + pointerFocus_->outputX),
                          static_cast<int32_t>(static_cast<int64_t>(y) + pointerFocus_->outputY)};
    if (!pointerKnown_) {
        pointerFirst_ = now;
        pointerKnown_ = true;
    } else if (MouseDriftCloses(pointerFirst_, now)) {
        quit_ = true;
    }
}

void Saver::Button(uint32_t state) {
    if (state == WL_POINTER_BUTTON_STATE_PRESSED && InputCloses()) quit_ = true;
}

// --- The loop -------------------------------------------------------------------------------

void Saver::ReportLost() {
    const int error = wl_display_get_error(display_);
    if (error == EPROTO) {
        const wl_interface* interface = nullptr;
        uint32_t id = 0;
        const uint32_t code = wl_display_get_protocol_error(display_, &interface, &id);
        Fail(std::string("the compositor ended the connection (protocol error ") +
             std::to_string(code) + " on " + (interface != nullptr ? interface->name : "?") +
             ")");
    } else {
        Fail("lost the connection to the Wayland compositor");
    }
}

bool Saver::WaitAndDispatch() {
    while (wl_display_prepare_read(display_) != 0) {
        if (wl_display_dispatch_pending(display_) < 0) return false;
    }
    bool wantWrite = false;
    if (wl_display_flush(display_) < 0) {
        if (errno != EAGAIN) {
            wl_display_cancel_read(display_);
            return false;
        }
        wantWrite = true;
    }
    // The soonest refresh of a surface that may draw: its last picture's
    // frame callback came and a buffer is free (else only the compositor
    // can wake it).
    int64_t waitUs = -1;
    const int64_t now = NowMicroseconds();
    for (const auto& view : views_) {
        if (!MayRefresh(*view)) continue;
        const int64_t wait = std::max<int64_t>(view->wakeAtUs - now, 0);
        if (waitUs < 0 || wait < waitUs) waitUs = wait;
    }
    const int timeout =
        waitUs < 0 ? -1 : static_cast<int>(std::min<int64_t>((waitUs + 999) / 1000, INT_MAX));
    pollfd fds[2] = {
        {wl_display_get_fd(display_), static_cast<short>(POLLIN | (wantWrite ? POLLOUT : 0)), 0},
        {signalFd_, POLLIN, 0},
    };
    const int ready = poll(fds, 2, timeout);
    if (ready > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        if (wl_display_read_events(display_) < 0) return false;
    } else {
        wl_display_cancel_read(display_);
    }
    if (ready > 0 && (fds[1].revents & POLLIN) != 0) {
        signalfd_siginfo info{};
        if (read(signalFd_, &info, sizeof info) > 0) quit_ = true;
    }
    return wl_display_dispatch_pending(display_) >= 0;
}

bool Saver::Roundtrip() {
    bool done = false;
    wl_callback* sync = wl_display_sync(display_);
    wl_callback_add_listener(sync, &kSyncListener, &done);
    bool connected = true;
    while (connected && !done && !quit_) connected = WaitAndDispatch();
    wl_callback_destroy(sync);
    return connected;
}

int Saver::Run() {
    switch (options_.target) {
        case X11Target::Background:
        case X11Target::LockPlugin:
            mode_ = Mode::Background;
            break;
        case X11Target::Overlay:
            mode_ = Mode::Overlay;
            break;
        default:
            mode_ = Mode::Window;
            break;
    }

    // The signals arrive as a file to poll beside the connection; the land
    // workers, started later, inherit the block.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signalFd_ = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signalFd_ < 0) {
        Fail(std::string("cannot watch for signals: ") + std::strerror(errno));
        return 1;
    }

    display_ = wl_display_connect(nullptr);
    if (display_ == nullptr) {
        const char* socket = std::getenv("WAYLAND_SOCKET");
        const char* name = std::getenv("WAYLAND_DISPLAY");
        Fail(socket != nullptr && socket[0] != '\0'
                 ? std::string("cannot use the Wayland connection in WAYLAND_SOCKET '") + socket +
                       "'"
                 : std::string("cannot connect to the Wayland display '") +
                       (name != nullptr ? name : "wayland-0") + "'");
        return 1;
    }
    xkbContext_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    text_.Open(kTextPixels);

    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &kRegistryListener, this);
    // The globals, then each output's description and the seat's devices;
    // a signal meanwhile ends it as any time later.
    if (!Roundtrip() || (!quit_ && !Roundtrip())) {
        ReportLost();
        return 1;
    }
    if (quit_) return 0;
    if (compositor_ == nullptr || shm_ == nullptr) {
        Fail("the compositor offers no wl_compositor or wl_shm");
        return 1;
    }
    if (mode_ != Mode::Window && layerShell_ == nullptr) {
        Fail(std::string("the compositor has no layer shell (zwlr_layer_shell_v1) for ") +
             (mode_ == Mode::Overlay ? "-overlay" : "-background") +
             ": use -window or -fullscreen");
        return 1;
    }
    if (mode_ == Mode::Window && wmBase_ == nullptr) {
        Fail("the compositor has no xdg-shell (xdg_wm_base) for a window");
        return 1;
    }
    if (!options_.timingFile.empty()) {
        std::string error;
        if (!timing_.Open(options_.timingFile, error)) {
            Fail(error);
            return 1;
        }
    }
    onBattery_ = powerSupply_.OnBattery(NowMicroseconds());
    setUp_ = true;
    if (mode_ == Mode::Window) {
        MakeSurface(AddView());
    } else {
        for (auto& view : views_) MakeSurface(*view);
    }

    bool lost = false;
    while (!quit_) {
        ReapViews();
        CheckBattery(NowMicroseconds());
        for (auto& view : views_) {
            if (quit_) break;
            // Never two pictures between two frame callbacks.
            if (MayRefresh(*view) && NowMicroseconds() >= view->wakeAtUs) Refresh(*view);
        }
        if (quit_) break;
        if (!WaitAndDispatch()) {
            lost = true;
            break;
        }
    }
    if (lost) {
        ReportLost();
        return 1;
    }
    if (options_.tickStats) PrintTickStats();
    return 0;
}

void Saver::PrintTickStats() const {
    if (errors_ == nullptr) return;
    for (const auto& view : views_) {
        const int64_t ticks = view->frameTicks;
        const double mean =
            ticks > 0 ? static_cast<double>(view->frameMicroseconds) / ticks / 1000.0 : 0.0;
        const double blit =
            ticks > 0 ? static_cast<double>(view->platform->blitMicroseconds()) / ticks / 1000.0
                      : 0.0;
        std::fprintf(errors_,
                     "glidescape: %s: %lld frame ticks at %dx%d (frame %dx%d, wl_shm): mean %.2f "
                     "ms (scale %.2f ms), longest %.2f ms\n",
                     view->output != nullptr ? view->name.c_str() : "window",
                     static_cast<long long>(ticks), view->width, view->height,
                     settings_.outputWidth, view->flight.frameLoop.outputHeight, mean, blit,
                     static_cast<double>(view->longestFrameMicroseconds) / 1000.0);
    }
}

Saver::~Saver() {
    // Every worker is asked to stop first, so that they stop side by side.
    for (auto& view : views_) view->flight.RequestStop();
    for (auto& view : views_) DestroyView(*view);
    views_.clear();
    ForgetKeyboard();
    if (pointer_ != nullptr) wl_pointer_destroy(pointer_);
    if (seat_ != nullptr) wl_seat_destroy(seat_);
    if (layerShell_ != nullptr) zwlr_layer_shell_v1_destroy(layerShell_);
    if (wmBase_ != nullptr) xdg_wm_base_destroy(wmBase_);
    if (shm_ != nullptr) wl_shm_destroy(shm_);
    if (compositor_ != nullptr) wl_compositor_destroy(compositor_);
    if (registry_ != nullptr) wl_registry_destroy(registry_);
    if (display_ != nullptr) {
        wl_display_flush(display_);
        wl_display_disconnect(display_);
    }
    if (xkbContext_ != nullptr) xkb_context_unref(xkbContext_);
    if (signalFd_ >= 0) close(signalFd_);
}

}  // namespace

int RunWaylandSaver(const X11Options& options, const Settings& settings, std::FILE* errors) {
    Saver saver(options, settings, errors);
    return saver.Run();
}
