// SaverWindow.cpp - the saver window's application procedure and the Win32
// platform of the portable frame loop.
//
// The land maps and the frame live in 32-bit DIB sections (CreateDib32) so
// the frame can be stretched onto the window with StretchBlt (BlitFrame).
// Everything else of the saver, from settings to land generation, runs in
// the portable frame loop (app/FrameLoop.h); land generation runs on a
// worker thread of the flight's (StartWorker).
//
// Monitors: the full-screen window covers the whole virtual screen, and the
// "Monitors" setting decides its flights (PlanFlights, app/Monitors.h): one on
// each monitor (0), one on the primary monitor with the others left black
// (1), or one across the whole window (2). Flight 0 is on the primary
// monitor, the others follow in the order EnumDisplayMonitors lists their
// monitors; flight i adds i to its land seed and to its view seed, so one
// monitor flies exactly as before and neighbours show different landscapes.
// Each flight has a platform of its own that blits its frame into its
// monitor's rectangle and draws its progress texts there. Every flight ticks
// on the window's thread, one after the other: each frame is already spread
// over all cores by its flight's thread pool, and the class's own device
// context is one per window, which two threads must not draw through at
// once. A preview has one flight on its whole window.
//
// Pacing: the flights tick every 40 ms whatever the display does, and the
// window draws them at the display's pace (app/Pacing.h): its FramePacer
// decides at each refresh what to tick and whether to draw, RefreshFlights
// does it, and a refresh clock of the window's own (win32/RefreshClock.h)
// posts one message per refresh, after the compositor's present where the
// desktop is composited, else at the monitor's refresh rate on a timer. With
// "Smooth Motion" 0, in a preview and on battery with "On Battery" 1, the
// pacer draws one frame per tick. The display's power and the battery
// (win32/PowerWatch.h) go to the pacer: with the display off or asleep (or
// on battery with "On Battery" 2) nothing is ticked, drawn or made, the
// clock wakes once a second, and drawing starts again at the next refresh
// once the display is back.
//
// State: everything of one saver window (its flights, their platforms, the
// client rectangle, the pacer and its clock) lives in one SaverWindowState,
// made on WM_CREATE, kept in the window's user data and freed on WM_DESTROY.
//
// Test seam: five environment variables, read once per window, that only
// the Wine tests (tests/win32/) set; unset, the saver flies as always.
//   GLIDESCAPE_TEST_LAND_SEED, GLIDESCAPE_TEST_VIEW_SEED  replace the calendar
//       time and the millisecond time as the seeds (flight i still adds i),
//       as glidescape-render's --land-seed and --view-seed do;
//   GLIDESCAPE_TEST_HOLD_FRAME=N  each flight stops after its N-th frame and
//       shows that frame again on every later tick: the picture that
//       glidescape-render --ticks N+1 draws for the same seeds (one frame
//       per tick, whatever "Smooth Motion" says);
//   GLIDESCAPE_TEST_ON_BATTERY=1  the saver takes itself to run on battery
//       (0: on mains), whatever the system says;
//   GLIDESCAPE_TEST_COMPOSITED=1  the saver takes the desktop to be
//       composited (0: not), so its refresh clock waits with DwmFlush
//       (which returns at once under Wine: the clock's check of a flush that
//       did not wait then paces it).
// A value that is not a decimal number 0 ... 4294967295 is ignored, as is a
// hold of 0.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <ctime>
#include <new>

#include "app/CommandLine.h"
#include "app/FrameLoop.h"
#include "app/History.h"
#include "app/Monitors.h"
#include "app/Pacing.h"
#include "app/Platform.h"
#include "app/Settings.h"
#include "win32/Host.h"
#include "win32/PowerWatch.h"
#include "win32/RefreshClock.h"
#include "win32/SaverApp.h"
#include "win32/SaverLogic.h"

HBITMAP CreateDib32(HDC context, int32_t width, int32_t height, uint32_t** pixels);
void BlitFrame(HWND window, HBITMAP bitmap, int32_t sourceWidth, int32_t sourceHeight,
               const RECT& destination);

namespace {

// The largest pixel buffer the saver asks for (bytes). A land map of side
// 4096 is 64 MiB; a frame this large means a degenerate client area.
constexpr uint64_t kMaxPixelBytes = uint64_t{1} << 30;

// What the test seam's variables say (see the file's header).
struct TestSeam {
    bool hasLandSeed = false;
    uint32_t landSeed = 0;
    bool hasViewSeed = false;
    uint32_t viewSeed = 0;
    uint32_t holdFrame = 0;  // 0: fly on
    bool hasOnBattery = false;
    bool onBattery = false;
    bool hasComposited = false;
    bool composited = false;
};

bool ReadNumber(const char* name, uint32_t* value) {
    char text[16];
    const DWORD length = GetEnvironmentVariableA(name, text, sizeof(text));
    return length > 0 && length < sizeof(text) && ParseSeed(text, value);
}

TestSeam ReadTestSeam() {
    TestSeam seam;
    seam.hasLandSeed = ReadNumber("GLIDESCAPE_TEST_LAND_SEED", &seam.landSeed);
    seam.hasViewSeed = ReadNumber("GLIDESCAPE_TEST_VIEW_SEED", &seam.viewSeed);
    if (!ReadNumber("GLIDESCAPE_TEST_HOLD_FRAME", &seam.holdFrame)) seam.holdFrame = 0;
    uint32_t onBattery = 0;
    seam.hasOnBattery = ReadNumber("GLIDESCAPE_TEST_ON_BATTERY", &onBattery);
    seam.onBattery = onBattery != 0;
    uint32_t composited = 0;
    seam.hasComposited = ReadNumber("GLIDESCAPE_TEST_COMPOSITED", &composited);
    seam.composited = composited != 0;
    return seam;
}

class Win32SaverPlatform final : public SaverPlatform {
public:
    HWND window = nullptr;
    RECT area = {};           // the flight's part of the client area (client pixels)
    int32_t flightIndex = 0;  // offsets both seeds
    TestSeam seam;

    uint32_t* CreatePixels(int32_t width, int32_t height) override {
        if (window == nullptr || width <= 0 || height <= 0 ||
            static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 4u > kMaxPixelBytes) {
            return nullptr;
        }
        Section* free = nullptr;
        for (Section& section : sections_) {
            if (section.bitmap == nullptr) {
                free = &section;
                break;
            }
        }
        if (free == nullptr) return nullptr;
        // The class has its own device context: it is not released.
        uint32_t* pixels = nullptr;
        HBITMAP bitmap = CreateDib32(GetDC(window), width, height, &pixels);
        if (bitmap == nullptr) return nullptr;
        std::memset(pixels, 0, static_cast<size_t>(width) * static_cast<size_t>(height) * 4u);
        free->bitmap = bitmap;
        free->pixels = pixels;
        return pixels;
    }

    void ReleasePixels(uint32_t* pixels) override {
        Section* section = Find(pixels);
        if (section == nullptr) return;
        DeleteObject(section->bitmap);
        *section = Section{};
    }

    void ReleaseAll() {
        for (Section& section : sections_) {
            if (section.bitmap != nullptr) DeleteObject(section.bitmap);
            section = Section{};
        }
    }

    // The frame's section is stride pixels wide: StretchBlt takes its first
    // width columns.
    void BlitFrame(const uint32_t* pixels, int32_t width, int32_t height, int32_t) override {
        Section* section = Find(pixels);
        if (section != nullptr) ::BlitFrame(window, section->bitmap, width, height, area);
    }
    bool TakesPaddedFrames() const override { return true; }

    // The flight's texts stay inside its own monitor.
    void DrawStatusText(const char* text, int32_t x, int32_t y, uint32_t colour) override {
        HDC context = GetDC(window);
        SetBkMode(context, TRANSPARENT);
        SetTextColor(context, RGB((colour >> 16) & 0xFF, (colour >> 8) & 0xFF, colour & 0xFF));
        ExtTextOutA(context, area.left + x, area.top + y, ETO_CLIPPED, &area, text,
                    static_cast<UINT>(std::strlen(text)), nullptr);
        ReleaseDC(window, context);
    }

    bool QueryShift() override {
        // Bit 15: down now; bit 0: pressed since the last query.
        return (GetAsyncKeyState(VK_SHIFT) & 0x8001) != 0;
    }

    // The system's own monotonic clock: the C++ library's steady clock is
    // not monotonic in every MinGW thread model.
    int64_t ClockMs() override { return static_cast<int64_t>(GetTickCount64() - startTicks_); }

    // Every whole landscape goes to the history; a failure is ignored.
    void LandscapeMade(const LandscapeRecord& record) override {
        (void)AddToHistory(HistoryLine(record));
    }

    uint32_t CalendarSeconds() override {
        const uint32_t seed =
            seam.hasLandSeed ? seam.landSeed : static_cast<uint32_t>(std::time(nullptr));
        return OffsetSeed(seed, flightIndex);
    }

    uint32_t MillisecondTime() override {
        return OffsetSeed(seam.hasViewSeed ? seam.viewSeed : timeGetTime(), flightIndex);
    }

    // The land worker on a system thread (the C++ library's threads are not
    // there in every MinGW thread model).
    void* StartWorker(void (*run)(void* context), void* context) override {
        auto* work = new (std::nothrow) Work{run, context};
        if (work == nullptr) return nullptr;
        HANDLE thread = CreateThread(nullptr, 0, &Win32SaverPlatform::RunWork, work, 0, nullptr);
        if (thread == nullptr) delete work;
        return thread;
    }

    void JoinWorker(void* handle) override {
        if (handle == nullptr) return;
        WaitForSingleObject(static_cast<HANDLE>(handle), INFINITE);
        CloseHandle(static_cast<HANDLE>(handle));
    }

private:
    struct Work {
        void (*run)(void* context);
        void* context;
    };

    static DWORD WINAPI RunWork(void* parameter) {
        const Work work = *static_cast<Work*>(parameter);
        delete static_cast<Work*>(parameter);
        work.run(work.context);
        return 0;
    }

    struct Section {
        HBITMAP bitmap = nullptr;
        uint32_t* pixels = nullptr;
    };

    Section* Find(const uint32_t* pixels) {
        if (pixels == nullptr) return nullptr;
        for (Section& section : sections_) {
            if (section.bitmap != nullptr && section.pixels == pixels) return &section;
        }
        return nullptr;
    }

    Section sections_[4];  // height map, colour map, frame (and one spare)
    ULONGLONG startTicks_ = GetTickCount64();
};

// Everything of one saver window.
struct SaverWindowState {
    Win32SaverPlatform platforms[kMaxFlights];
    Flight flights[kMaxFlights];
    int32_t flightCount = 0;
    RECT clientRect = {};
    TestSeam seam;
    Settings settings;  // as loaded; the flights keep clamped copies
    FramePacer pacer;
    RefreshClock clock;
    DisplayWatch display;
    int64_t refreshMicroseconds = kDefaultRefreshMicroseconds;
    bool composited = false;  // the clock waits for the compositor's present
    bool displayOn = true;    // until a notification says otherwise
    bool onBattery = false;
    int64_t powerCheckedAt = 0;
};

// One message per refresh, from the window's refresh clock (WM_APP is the
// host's verification message).
constexpr UINT kRefreshMessage = WM_APP + 1;
// Input was waiting after a refresh: the next refresh is scheduled when this
// timer comes, which the message loop gives only once no input is queued.
constexpr UINT_PTR kAfterInputTimer = 2;
// How often a refresh asks again whether the machine runs on battery (a
// preview hears no power broadcast).
constexpr int64_t kPowerCheckMicroseconds = 2000000;

// Monitors looked at; a primary listed later than this is not found, and
// the first one listed leads instead.
constexpr int32_t kMaxMonitors = 64;

struct MonitorList {
    MonitorArea monitors[kMaxMonitors];
    int32_t count = 0;
};

SaverWindowState* StateOf(HWND window) {
    return reinterpret_cast<SaverWindowState*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

BOOL CALLBACK CollectMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM context) {
    auto* list = reinterpret_cast<MonitorList*>(context);
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    if (GetMonitorInfoA(monitor, &info)) {
        const RECT& r = info.rcMonitor;
        list->monitors[list->count++] = {{r.left, r.top, r.right, r.bottom},
                                         (info.dwFlags & MONITORINFOF_PRIMARY) != 0};
    }
    return list->count < kMaxMonitors;
}

// The flights of the saver window: a preview has one on its whole client
// area, the full-screen window one per monitor as the setting says.
FlightPlan PlanSaverFlights(HWND window, const RECT& clientRect, int32_t monitorsSetting) {
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    const PixelRect client = {origin.x, origin.y, origin.x + clientRect.right,
                              origin.y + clientRect.bottom};
    if (host.isPreview) return PlanFlights(client, nullptr, 0, 0);
    MonitorList list;
    EnumDisplayMonitors(nullptr, nullptr, CollectMonitor, reinterpret_cast<LPARAM>(&list));
    return PlanFlights(client, list.monitors, list.count, monitorsSetting);
}

void CreateFlights(HWND window, SaverWindowState& state) {
    GetClientRect(window, &state.clientRect);
    state.seam = ReadTestSeam();
    Settings settings = LoadSettings();
    // A preview is small and shown beside the settings: one frame a tick.
    if (host.isPreview) settings.smoothMotion = 0;
    state.settings = settings;
    const FlightPlan plan = PlanSaverFlights(window, state.clientRect, settings.monitors);
    state.flightCount = plan.count;
    for (int32_t i = 0; i < state.flightCount; ++i) {
        const PixelRect& a = plan.areas[i];
        Win32SaverPlatform& platform = state.platforms[i];
        platform.window = window;
        platform.area = {a.left, a.top, a.right, a.bottom};
        platform.flightIndex = i;
        platform.seam = state.seam;
        // When a flight cannot fly (no area, a buffer or an object missing)
        // its part of the window stays black and the window still closes on
        // input; its ticks then do nothing. The land is made on a worker
        // thread, so the window keeps answering input (and closing) while a
        // big landscape is made.
        if (!state.flights[i]
                 .Create(platform, settings, a.right - a.left, a.bottom - a.top, 0,
                         Generation::Worker)
                 .ok()) {
            platform.ReleaseAll();
        }
    }
}

void DestroyFlights(SaverWindowState& state) {
    for (int32_t i = 0; i < state.flightCount; ++i) state.flights[i].RequestStop();
    for (int32_t i = 0; i < state.flightCount; ++i) {
        state.flights[i].Destroy();
        state.platforms[i].ReleaseAll();
    }
    state.flightCount = 0;
}

// The monitor whose refresh paces the window: the preview's, or the primary
// one (its corner is the origin of the screen), where flight 0 flies.
HMONITOR PacingMonitor(HWND window) {
    if (host.isPreview) return MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY);
    const POINT origin = {0, 0};
    return MonitorFromPoint(origin, MONITOR_DEFAULTTOPRIMARY);
}

// On battery: as the test seam says, else as the system says.
bool OnBattery(const SaverWindowState& state) {
    return state.seam.hasOnBattery ? state.seam.onBattery : OnBatteryNow();
}

// Smooth motion, the preview, the battery and the display decide the
// pacing; a window that can be seen again refreshes at once.
void ApplyPacing(SaverWindowState& state) {
    const saverlogic::WindowPacing pacing = saverlogic::PlanWindowPacing(
        state.settings, host.isPreview != 0, state.onBattery, state.displayOn);
    // The held frame of the test seam is a tick's frame.
    const bool smooth = pacing.smooth && state.seam.holdFrame == 0;
    FramePacer& pacer = state.pacer;
    if (smooth != pacer.smooth() || state.refreshMicroseconds != pacer.refreshMicroseconds()) {
        pacer.Configure(smooth, state.refreshMicroseconds);
    }
    const bool wasVisible = pacer.visible();
    pacer.SetVisible(pacing.visible);
    for (int32_t i = 0; i < state.flightCount; ++i) {
        state.flights[i].SetLandOnOneThread(pacing.landOnOneThread);
    }
    if (pacing.visible && !wasVisible) state.clock.Schedule(NowMicroseconds(), false);
}

void CheckBattery(SaverWindowState& state, int64_t now) {
    state.powerCheckedAt = now;
    const bool onBattery = OnBattery(state);
    if (onBattery == state.onBattery) return;
    state.onBattery = onBattery;
    ApplyPacing(state);
}

void ReadDisplayRate(HWND window, SaverWindowState& state) {
    state.refreshMicroseconds = MonitorRefreshMicroseconds(PacingMonitor(window));
    state.composited = state.seam.hasComposited ? state.seam.composited : DesktopComposited();
    state.clock.SetRefresh(state.refreshMicroseconds);
}

// The next refresh: the pacer's next tick or refresh, after the compositor's
// present while frames follow the display. Full screen, input that came
// meanwhile goes first (it may close the saver): the message loop takes a
// posted refresh before input, so the refresh is scheduled once the queue
// holds no input. A preview, whose input closes nothing, shares its input
// queue with its parent's thread, whose input must not hold it up.
void ScheduleNextRefresh(HWND window, SaverWindowState& state) {
    if (!host.isPreview && HIWORD(GetQueueStatus(QS_INPUT)) != 0 &&
        SetTimer(window, kAfterInputTimer, USER_TIMER_MINIMUM, nullptr) != 0) {
        return;
    }
    const FramePacer& pacer = state.pacer;
    state.clock.Schedule(pacer.NextWakeUp(NowMicroseconds()),
                         state.composited && pacer.smooth() && pacer.visible());
}

// The test seam's held frame: at each tick a held flight shows its frame
// again, the others fly and draw that tick's frame.
void RefreshHeld(SaverWindowState& state, int64_t now) {
    const PacerStep step = state.pacer.OnRefresh(now);
    for (int32_t t = 0; t < step.ticks; ++t) {
        for (int32_t i = 0; i < state.flightCount; ++i) {
            Flight& flight = state.flights[i];
            if (!flight.frameLoop.ready) continue;
            if (static_cast<int64_t>(flight.frameLoop.frameCounter) >= state.seam.holdFrame) {
                state.platforms[i].BlitFrame(
                    flight.frameLoop.framePixels, flight.settings.outputWidth,
                    flight.frameLoop.outputHeight, flight.frameLoop.frameStride);
                continue;
            }
            if (flight.Tick() == TickResult::Flew) flight.Draw(0);
        }
    }
}

void RunRefresh(HWND window, SaverWindowState& state) {
    state.clock.Taken();
    // Closing: nothing more is drawn.
    if (host.closeAccepted) return;
    const int64_t now = NowMicroseconds();
    if (now - state.powerCheckedAt >= kPowerCheckMicroseconds) CheckBattery(state, now);
    if (state.seam.holdFrame != 0) {
        RefreshHeld(state, now);
    } else {
        RefreshFlights(state.pacer, state.flights, state.flightCount, now);
    }
    ScheduleNextRefresh(window, state);
}

void StartPacing(HWND window, SaverWindowState& state) {
    ReadDisplayRate(window, state);
    state.display.Register(window);
    state.onBattery = OnBattery(state);
    state.powerCheckedAt = NowMicroseconds();
    ApplyPacing(state);
    // Without its thread the clock runs on the window's timer.
    state.clock.Start(window, kRefreshMessage, state.refreshMicroseconds);
    // The first tick comes a tick after the window was made.
    state.clock.Schedule(NowMicroseconds() + kTickMicroseconds, false);
}

void OnPowerBroadcast(SaverWindowState& state, WPARAM event, LPARAM setting) {
    if (event == PBT_POWERSETTINGCHANGE) {
        const DisplayNews news = ReadDisplayNews(setting);
        if (news == DisplayNews::Other) return;
        state.displayOn = news == DisplayNews::On;
        ApplyPacing(state);
    } else if (event == PBT_APMPOWERSTATUSCHANGE) {
        CheckBattery(state, NowMicroseconds());
    }
}

}  // namespace

HBITMAP CreateDib32(HDC context, int32_t width, int32_t height, uint32_t** pixels) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);  // 40
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // positive: rows bottom-up
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(context, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr || bits == nullptr) {
        if (bitmap != nullptr) DeleteObject(bitmap);
        return nullptr;
    }
    *pixels = static_cast<uint32_t*>(bits);
    return bitmap;
}

void BlitFrame(HWND window, HBITMAP bitmap, int32_t sourceWidth, int32_t sourceHeight,
               const RECT& destination) {
    HDC windowContext = GetDC(window);
    HDC memoryContext = CreateCompatibleDC(windowContext);
    if (memoryContext != nullptr) {
        const int32_t width = destination.right - destination.left;
        const int32_t height = destination.bottom - destination.top;
        // Shrinking (always in a preview) in the context's default mode ANDs
        // the dropped pixels together: a dark, speckled picture. HALFTONE
        // averages them; it wants the brush origin set after it. Enlarging
        // drops no pixel, and COLORONCOLOR copies them as they are. The mode
        // is set on every blit: the flights of several monitors share the
        // window's own context.
        if (width < sourceWidth || height < sourceHeight) {
            SetStretchBltMode(windowContext, HALFTONE);
            SetBrushOrgEx(windowContext, 0, 0, nullptr);
        } else {
            SetStretchBltMode(windowContext, COLORONCOLOR);
        }
        HGDIOBJ previous = SelectObject(memoryContext, bitmap);
        StretchBlt(windowContext, destination.left, destination.top, width, height, memoryContext,
                   0, 0, sourceWidth, sourceHeight, SRCCOPY);
        SelectObject(memoryContext, previous);
        DeleteDC(memoryContext);
    }
    ReleaseDC(window, windowContext);
}

LRESULT CALLBACK SaverWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE: {
            // Without its state the window stays black and still closes by
            // the host's rules.
            auto* state = new (std::nothrow) SaverWindowState;
            if (state == nullptr) break;
            SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
            CreateFlights(window, *state);
            StartPacing(window, *state);
            break;
        }
        case kRefreshMessage: {
            SaverWindowState* state = StateOf(window);
            if (state != nullptr) RunRefresh(window, *state);
            break;
        }
        case WM_TIMER: {
            SaverWindowState* state = StateOf(window);
            if (state == nullptr) break;
            if (wParam == RefreshClock::kTimerId) {
                RunRefresh(window, *state);
            } else if (wParam == kAfterInputTimer) {
                KillTimer(window, kAfterInputTimer);
                if (!host.closeAccepted) ScheduleNextRefresh(window, *state);
            }
            break;
        }
        case WM_POWERBROADCAST: {
            // The host's rules then close on every power event but the
            // display's state.
            SaverWindowState* state = StateOf(window);
            if (state != nullptr) OnPowerBroadcast(*state, wParam, lParam);
            break;
        }
        case WM_DISPLAYCHANGE:
        case WM_DWMCOMPOSITIONCHANGED: {
            SaverWindowState* state = StateOf(window);
            if (state == nullptr) break;
            ReadDisplayRate(window, *state);
            ApplyPacing(*state);
            break;
        }
        case WM_DESTROY: {
            SaverWindowState* state = StateOf(window);
            if (state == nullptr) break;
            state->clock.Stop();
            KillTimer(window, kAfterInputTimer);
            state->display.Unregister();
            DestroyFlights(*state);
            SetWindowLongPtrA(window, GWLP_USERDATA, 0);
            delete state;
            break;
        }
        default:
            break;
    }
    return DefaultSaverProc(window, message, wParam, lParam);
}
