// SaverWindowWin32.cpp - the saver window's application procedure and the
// Win32 platform of the portable frame loop.
//
// The land maps and the frame live in 32-bit DIB sections (CreateDib32) so
// the frame can be stretched onto the window with StretchBlt (BlitFrame).
// Everything else of the saver, from settings to land generation, runs in
// the portable frame loop (app/FrameLoop.h); land generation runs on a
// worker thread of the flight's (StartWorker).
//
// Monitors: the full-screen window covers the whole virtual screen, and the
// "Monitors" setting decides its flights (hostlogic::PlanFlights): one on
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
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <ctime>
#include <new>

#include "app/FrameLoop.h"
#include "app/Platform.h"
#include "app/SaverAppWin32.h"
#include "app/Settings.h"
#include "host/HostLogic.h"
#include "host/HostWin32.h"

HBITMAP CreateDib32(HDC context, int32_t width, int32_t height, uint32_t** pixels);
void BlitFrame(HBITMAP bitmap, int32_t sourceWidth, int32_t sourceHeight, const RECT& destination);

namespace {

// The largest pixel buffer the saver asks for (bytes). A land map of side
// 4096 is 64 MiB; a frame this large means a degenerate client area.
constexpr uint64_t kMaxPixelBytes = uint64_t{1} << 30;

class Win32SaverPlatform final : public SaverPlatform {
public:
    HWND window = nullptr;
    RECT area = {};           // the flight's part of the client area (client pixels)
    int32_t flightIndex = 0;  // offsets both seeds

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

    void BlitFrame(const uint32_t* pixels, int32_t width, int32_t height) override {
        Section* section = Find(pixels);
        if (section != nullptr) ::BlitFrame(section->bitmap, width, height, area);
    }

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

    int32_t ProcessClockMs() override {
        return static_cast<int32_t>(static_cast<int64_t>(std::clock()) * 1000 / CLOCKS_PER_SEC);
    }

    uint32_t CalendarSeconds() override {
        return hostlogic::OffsetSeed(static_cast<uint32_t>(std::time(nullptr)), flightIndex);
    }

    uint32_t MillisecondTime() override {
        return hostlogic::OffsetSeed(timeGetTime(), flightIndex);
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
};

// One saver window per process (Windows' rule for savers): the host's and
// this window's state are per process, each flight's lives in its object.
Win32SaverPlatform platforms[hostlogic::kMaxFlights];
Flight flights[hostlogic::kMaxFlights];
int32_t flightCount = 0;
HWND saverWindow = nullptr;
RECT clientRect = {};
UINT_PTR timerId = 0;

constexpr UINT_PTR kFrameTimer = 1;
constexpr UINT kFramePeriodMs = 40;

// Monitors looked at; a primary listed later than this is not found, and
// the first one listed leads instead.
constexpr int32_t kMaxMonitors = 64;

struct MonitorList {
    hostlogic::MonitorArea monitors[kMaxMonitors];
    int32_t count = 0;
};

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
hostlogic::FlightPlan PlanSaverFlights(HWND window, int32_t monitorsSetting) {
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    const hostlogic::PixelRect client = {origin.x, origin.y, origin.x + clientRect.right,
                                         origin.y + clientRect.bottom};
    if (host.isPreview) return hostlogic::PlanFlights(client, nullptr, 0, 0);
    MonitorList list;
    EnumDisplayMonitors(nullptr, nullptr, CollectMonitor, reinterpret_cast<LPARAM>(&list));
    return hostlogic::PlanFlights(client, list.monitors, list.count, monitorsSetting);
}

void DestroyFlights() {
    for (int32_t i = 0; i < flightCount; ++i) flights[i].RequestStop();
    for (int32_t i = 0; i < flightCount; ++i) {
        flights[i].Destroy();
        platforms[i].ReleaseAll();
    }
    flightCount = 0;
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

void BlitFrame(HBITMAP bitmap, int32_t sourceWidth, int32_t sourceHeight, const RECT& destination) {
    HDC windowContext = GetDC(saverWindow);
    HDC memoryContext = CreateCompatibleDC(windowContext);
    if (memoryContext != nullptr) {
        HGDIOBJ previous = SelectObject(memoryContext, bitmap);
        StretchBlt(windowContext, destination.left, destination.top,
                   destination.right - destination.left, destination.bottom - destination.top,
                   memoryContext, 0, 0, sourceWidth, sourceHeight, SRCCOPY);
        SelectObject(memoryContext, previous);
        DeleteDC(memoryContext);
    }
    ReleaseDC(saverWindow, windowContext);
}

LRESULT CALLBACK SaverWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE: {
            saverWindow = window;
            GetClientRect(window, &clientRect);
            const Settings settings = LoadSettings();
            const hostlogic::FlightPlan plan = PlanSaverFlights(window, settings.monitors);
            flightCount = plan.count;
            for (int32_t i = 0; i < flightCount; ++i) {
                const hostlogic::PixelRect& a = plan.areas[i];
                Win32SaverPlatform& platform = platforms[i];
                platform.window = window;
                platform.area = {a.left, a.top, a.right, a.bottom};
                platform.flightIndex = i;
                // When a flight cannot fly (no area, a buffer or an object
                // missing) its part of the window stays black and the window
                // still closes on input; its ticks then do nothing. The land
                // is made on a worker thread, so the window keeps answering
                // input (and closing) while a big landscape is made.
                if (!flights[i].Create(platform, settings, a.right - a.left, a.bottom - a.top, 0,
                                       Generation::Worker)) {
                    flights[i].Destroy();
                    platform.ReleaseAll();
                }
            }
            timerId = SetTimer(window, kFrameTimer, kFramePeriodMs, nullptr);
            break;
        }
        case WM_TIMER:
            for (int32_t i = 0; i < flightCount; ++i) {
                if (flights[i].frameLoop.ready) flights[i].Tick();
            }
            break;
        case WM_DESTROY:
            if (timerId != 0) KillTimer(window, timerId);
            timerId = 0;
            DestroyFlights();
            break;
        default:
            break;
    }
    return DefaultSaverProc(window, message, wParam, lParam);
}
