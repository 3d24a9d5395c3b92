// RefreshClock.cpp - the refresh clock's thread, its waits and the system's
// clock and display rate.
#include "win32/RefreshClock.h"

#include <atomic>
#include <cstdint>
#include <new>

#include "win32/SaverLogic.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace {

using DwmFlushFunction = HRESULT(WINAPI*)();
using DwmIsCompositionEnabledFunction = HRESULT(WINAPI*)(BOOL*);
using CreateWaitableTimerExFunction = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPCWSTR, DWORD,
                                                      DWORD);

// How long Stop waits for the thread (ms): a wait on the timer ends at once;
// a DwmFlush within a refresh.
constexpr DWORD kStopWaitMs = 500;
// A refresh message that could not be posted (a full queue) is tried again
// this often (ms).
constexpr DWORD kPostRetryMs = 100;
// The longest wait: a refresh further off comes early (the window schedules
// the next one again) rather than never.
constexpr int64_t kLongestWaitMicroseconds = 10000000;
// Before the first refresh: far in the past.
constexpr int64_t kLongAgo = INT64_MIN / 4;

template <typename Function>
Function Entry(HMODULE module, const char* name) {
    if (module == nullptr) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// dwmapi.dll, loaded once and kept for the process: a clock's thread may
// still be in DwmFlush when its window has gone.
HMODULE DwmModule() {
    static HMODULE module = LoadLibraryW(L"dwmapi.dll");
    return module;
}

int64_t CounterFrequency() {
    static const int64_t frequency = [] {
        LARGE_INTEGER value = {};
        return QueryPerformanceFrequency(&value) ? static_cast<int64_t>(value.QuadPart) : 0;
    }();
    return frequency;
}

int64_t CounterNow() {
    LARGE_INTEGER value = {};
    QueryPerformanceCounter(&value);
    return static_cast<int64_t>(value.QuadPart);
}

const int64_t processStartCounter = CounterNow();

}  // namespace

int64_t NowMicroseconds() {
    return saverlogic::CounterMicroseconds(CounterNow() - processStartCounter, CounterFrequency());
}

int64_t MonitorRefreshMicroseconds(HMONITOR monitor) {
    MONITORINFOEXW info = {};
    info.cbSize = sizeof(info);
    DEVMODEW mode = {};
    mode.dmSize = sizeof(mode);
    const wchar_t* device = nullptr;
    if (monitor != nullptr && GetMonitorInfoW(monitor, reinterpret_cast<MONITORINFO*>(&info))) {
        device = info.szDevice;
    }
    if (!EnumDisplaySettingsW(device, ENUM_CURRENT_SETTINGS, &mode) ||
        (mode.dmFields & DM_DISPLAYFREQUENCY) == 0) {
        mode.dmDisplayFrequency = 0;
    }
    return saverlogic::RefreshMicroseconds(mode.dmDisplayFrequency);
}

bool DesktopComposited() {
    const auto enabled =
        Entry<DwmIsCompositionEnabledFunction>(DwmModule(), "DwmIsCompositionEnabled");
    BOOL composited = FALSE;
    return enabled != nullptr && SUCCEEDED(enabled(&composited)) && composited;
}

// What the window and the thread share. It lives until both have let go of
// it: the thread may outlive the window's wait for it.
struct RefreshClock::Shared {
    std::atomic<int32_t> holders{2};
    HWND window = nullptr;
    UINT message = 0;
    HANDLE stop = nullptr;   // manual reset: the thread ends
    HANDLE wake = nullptr;   // auto reset: a new schedule
    HANDLE timer = nullptr;  // waitable timer, or null (timed waits)
    DwmFlushFunction flush = nullptr;
    std::atomic<int64_t> due{0};
    std::atomic<bool> afterPresent{false};
    std::atomic<int64_t> refresh{0};
    std::atomic<bool> posted{false};  // a refresh message is queued

    ~Shared() {
        if (stop != nullptr) CloseHandle(stop);
        if (wake != nullptr) CloseHandle(wake);
        if (timer != nullptr) CloseHandle(timer);
    }

    static void Release(Shared* shared) {
        if (shared->holders.fetch_sub(1, std::memory_order_acq_rel) == 1) delete shared;
    }

    bool Stopped() const { return WaitForSingleObject(stop, 0) == WAIT_OBJECT_0; }

    // Waits until `until`; 0 when it came, 1 for a new schedule, 2 for stop.
    int WaitUntil(int64_t until) {
        int64_t left = until - NowMicroseconds();
        if (left <= 0) return Stopped() ? 2 : 0;
        if (left > kLongestWaitMicroseconds) left = kLongestWaitMicroseconds;
        HANDLE handles[3] = {stop, wake, timer};
        DWORD count = 2;
        DWORD timeout = INFINITE;
        if (timer != nullptr) {
            LARGE_INTEGER relative = {};
            relative.QuadPart = -left * 10;  // 100 ns units, negative: from now
            if (SetWaitableTimer(timer, &relative, 0, nullptr, nullptr, FALSE)) {
                count = 3;
            } else {
                timeout = saverlogic::WaitMilliseconds(left, 1);
            }
        } else {
            timeout = saverlogic::WaitMilliseconds(left, 1);
        }
        const DWORD result = WaitForMultipleObjects(count, handles, FALSE, timeout);
        if (result == WAIT_OBJECT_0) return 2;
        if (result == WAIT_OBJECT_0 + 1) return 1;
        return 0;
    }

    // Waits for the refresh the window asked for; false when told to stop.
    bool WaitForRefresh(int64_t& lastRefresh) {
        for (;;) {
            int64_t until = due.load(std::memory_order_acquire);
            if (afterPresent.load(std::memory_order_acquire) && flush != nullptr) {
                const int64_t started = NowMicroseconds();
                const bool flushed = SUCCEEDED(flush());
                until = saverlogic::AfterPresentWait(lastRefresh, started, NowMicroseconds(),
                                                     refresh.load(std::memory_order_relaxed),
                                                     flushed);
                lastRefresh = until;
            }
            switch (WaitUntil(until)) {
                case 0:
                    return true;
                case 1:
                    continue;  // a new schedule: wait for that instead
                default:
                    return false;
            }
        }
    }

    void Run() {
        int64_t lastRefresh = kLongAgo;
        HANDLE handles[2] = {stop, wake};
        // Each round: a schedule from the window, the wait, one message.
        while (WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
            if (!WaitForRefresh(lastRefresh)) break;
            // Still queued (a schedule came while it waited): the window
            // schedules again when it takes that one.
            if (posted.exchange(true, std::memory_order_acq_rel)) continue;
            bool stopped = false;
            while (!PostMessageW(window, message, 0, 0)) {
                if (!IsWindow(window) || WaitForSingleObject(stop, kPostRetryMs) == WAIT_OBJECT_0) {
                    stopped = true;
                    break;
                }
            }
            if (stopped) break;
        }
    }

    static DWORD WINAPI ThreadMain(void* parameter) {
        auto* shared = static_cast<Shared*>(parameter);
        shared->Run();
        Release(shared);
        return 0;
    }
};

bool RefreshClock::Start(HWND window, UINT message, int64_t refreshMicroseconds) {
    Stop();
    window_ = window;
    auto* shared = new (std::nothrow) Shared;
    if (shared == nullptr) return false;
    shared->window = window;
    shared->message = message;
    shared->refresh.store(refreshMicroseconds, std::memory_order_relaxed);
    shared->flush = Entry<DwmFlushFunction>(DwmModule(), "DwmFlush");
    shared->stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    shared->wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    const auto createTimer = Entry<CreateWaitableTimerExFunction>(
        GetModuleHandleW(L"kernel32.dll"), "CreateWaitableTimerExW");
    if (createTimer != nullptr) {
        shared->timer = createTimer(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                    TIMER_ALL_ACCESS);
    }
    if (shared->timer == nullptr) shared->timer = CreateWaitableTimerW(nullptr, FALSE, nullptr);
    HANDLE thread = nullptr;
    if (shared->stop != nullptr && shared->wake != nullptr) {
        thread = CreateThread(nullptr, 0, &Shared::ThreadMain, shared, 0, nullptr);
    }
    if (thread == nullptr) {
        delete shared;
        return false;
    }
    shared_ = shared;
    thread_ = thread;
    return true;
}

void RefreshClock::Stop() {
    if (timerSet_) {
        KillTimer(window_, kTimerId);
        timerSet_ = false;
    }
    if (shared_ == nullptr) return;
    SetEvent(shared_->stop);
    WaitForSingleObject(thread_, kStopWaitMs);
    CloseHandle(thread_);
    thread_ = nullptr;
    Shared::Release(shared_);
    shared_ = nullptr;
}

void RefreshClock::Taken() {
    if (shared_ != nullptr) shared_->posted.store(false, std::memory_order_release);
    if (timerSet_) {
        KillTimer(window_, kTimerId);
        timerSet_ = false;
    }
}

void RefreshClock::Schedule(int64_t due, bool afterPresent) {
    if (shared_ != nullptr) {
        shared_->due.store(due, std::memory_order_release);
        shared_->afterPresent.store(afterPresent, std::memory_order_release);
        SetEvent(shared_->wake);
        return;
    }
    if (window_ == nullptr) return;
    // The window's own timer: USER_TIMER_MINIMUM (10 ms) at the shortest.
    const UINT ms = saverlogic::WaitMilliseconds(due - NowMicroseconds(), USER_TIMER_MINIMUM);
    timerSet_ = SetTimer(window_, kTimerId, ms, nullptr) != 0;
}

void RefreshClock::SetRefresh(int64_t refreshMicroseconds) {
    if (shared_ != nullptr) shared_->refresh.store(refreshMicroseconds, std::memory_order_relaxed);
}
