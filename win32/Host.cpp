// Host.cpp - start-up, the command-line modes and the saver window.
#include "win32/Host.h"

#include "win32/HostLogic.h"

HostState host;

namespace {

const char kSaverClassName[] = "WindowsScreenSaverClass";
const char kFullScreenTitle[] = "Screen Saver";
const char kPreviewTitle[] = "Preview";

const char* NextCharAnsi(const char* text) {
    return CharNextA(text);
}

// The filter that was in place before the guard (the runtime's).
LPTOP_LEVEL_EXCEPTION_FILTER outerFaultFilter = nullptr;

// The guard around the modes: a fault anywhere on the thread ends up here.
// The system's own handling of an unhandled fault comes first (its fault
// report or debugger), with the outer filter back in place so that it does
// not call this one again. Then the system must stop believing that a saver
// runs, and the process ends with the fault's code, since nothing of the
// saver's state can be trusted.
LONG WINAPI HostFaultFilter(EXCEPTION_POINTERS* info) {
    SetUnhandledExceptionFilter(outerFaultFilter);
    const LONG verdict = UnhandledExceptionFilter(info);
    if (verdict != EXCEPTION_EXECUTE_HANDLER) {
        // A debugger took the fault, or the fault was mended: not ours to
        // end, and the guard stays.
        SetUnhandledExceptionFilter(HostFaultFilter);
        return verdict;
    }
    SetSaverRunning(FALSE);
    const DWORD code = info != nullptr && info->ExceptionRecord != nullptr
                           ? info->ExceptionRecord->ExceptionCode
                           : static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION);
    TerminateProcess(GetCurrentProcess(), code);
    return EXCEPTION_EXECUTE_HANDLER;
}

HWND ForegroundIfNotWindow(HWND window) {
    return window != nullptr && IsWindow(window) ? window : GetForegroundWindow();
}

bool IsLegacyPlatform() {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    const BOOL ok = GetVersionExA(&version);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    return ok && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

}  // namespace

int HostEntry(const SaverEntryPoints& entries) {
    const char* tail = hostlogic::CommandTail(GetCommandLineA(), NextCharAnsi);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    GetStartupInfoA(&startup);  // the show command is not used by any mode
    const int32_t result = HostMain(GetModuleHandleA(nullptr), tail, entries);
    ExitProcess(static_cast<UINT>(result));
}

int32_t HostMain(HINSTANCE instance, const char* commandTail, const SaverEntryPoints& entries) {
    host.entries = entries;
    host.hostInstance = instance;
    host.legacyPlatform = IsLegacyPlatform() ? 1 : 0;

    outerFaultFilter = SetUnhandledExceptionFilter(HostFaultFilter);
    const hostlogic::HostCommand command =
        hostlogic::ParseCommandTail(commandTail, host.legacyPlatform != 0, NextCharAnsi);
    const HWND handle = reinterpret_cast<HWND>(static_cast<uintptr_t>(command.windowHandle));
    int32_t result = hostlogic::kExitBadCommand;
    switch (command.mode) {
        case hostlogic::HostMode::ConfigureNoOwner:
            result = ShowConfigDialog(nullptr);
            break;
        case hostlogic::HostMode::Configure:
            result = ShowConfigDialog(ForegroundIfNotWindow(handle));
            break;
        case hostlogic::HostMode::FullScreen:
            result = RunSaverWindow(nullptr);
            break;
        case hostlogic::HostMode::Preview:
            result = RunPreview(command.rest);
            break;
        case hostlogic::HostMode::ChangePassword:
            result = RunChangePassword(command.rest);
            break;
        case hostlogic::HostMode::Invalid:
            result = hostlogic::kExitBadCommand;
            break;
    }
    SetUnhandledExceptionFilter(outerFaultFilter);
    return result;
}

HWND ParseWindowHandle(const char* text) {
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(hostlogic::ParseWindowHandle(text)));
}

int32_t RunPreview(const char* text) {
    const HWND parent = ParseWindowHandle(text);
    if (parent == nullptr || !IsWindow(parent)) return hostlogic::kExitBadCommand;
    return RunSaverWindow(parent);
}

int32_t RunChangePassword(const char* text) {
    ChangePassword(ForegroundIfNotWindow(ParseWindowHandle(text)));
    return 0;
}

void ChangePassword(HWND owner) {
    HMODULE provider = LoadLibraryA("MPR.DLL");
    if (provider == nullptr) return;
    using ChangeFunction = DWORD(WINAPI*)(LPCSTR, HWND, DWORD, LPVOID);
    const auto change = LookUpEntry<ChangeFunction>(provider, "PwdChangePasswordA");
    if (change != nullptr) change("SCRSAVE", owner, 0, nullptr);
    FreeLibrary(provider);
}

int32_t ShowConfigDialog(HWND owner) {
    const SaverEntryPoints& saver = host.entries;
    if (saver.configDialogProc == nullptr) return 0;
    if (saver.prepareDialogClasses != nullptr && !saver.prepareDialogClasses(host.hostInstance)) {
        return 0;
    }
    return static_cast<int32_t>(DialogBoxParamA(host.hostInstance,
                                                MAKEINTRESOURCEA(saver.configDialogId), owner,
                                                saver.configDialogProc, 0));
}

int32_t RunSaverWindow(HWND parent) {
    WNDCLASSA windowClass = {};
    windowClass.style = CS_OWNDC | CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = HostWindowProc;
    windowClass.hInstance = host.hostInstance;
    // Id 100 is not among the resources (the icon group is 104): no class icon.
    windowClass.hIcon = LoadIconA(host.hostInstance, MAKEINTRESOURCEA(100));
    windowClass.hCursor = nullptr;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = kSaverClassName;

    DWORD style;
    DWORD exStyle;
    const char* title;
    RECT area = {};
    if (parent != nullptr) {
        GetClientRect(parent, &area);
        style = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN;
        exStyle = 0;
        title = kPreviewTitle;
        host.isPreview = 1;
    } else {
        // The whole virtual screen, every monitor; the saver window gives
        // each monitor its own flight. Should the system not report it, the
        // screen's device context still gives the primary monitor.
        area.left = GetSystemMetrics(SM_XVIRTUALSCREEN);
        area.top = GetSystemMetrics(SM_YVIRTUALSCREEN);
        const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
        const int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
        if (width > 0 && height > 0) {
            area.right = area.left + width;
            area.bottom = area.top + height;
        } else {
            HDC screen = GetDC(nullptr);
            GetClipBox(screen, &area);
            ReleaseDC(nullptr, screen);
        }
        style = WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
        exStyle = WS_EX_TOPMOST;
        title = kFullScreenTitle;
        host.isPreview = 0;

        HWND running = FindWindowA(kSaverClassName, kFullScreenTitle);
        if (running != nullptr && IsWindow(running)) {
            SetForegroundWindow(running);
            return 0;
        }
        LoadPasswordVerifier();
    }

    host.autoPlayMessage = host.legacyPlatform ? RegisterWindowMessageA("QueryCancelAutoPlay") : 0;

    int32_t result = hostlogic::kExitNoWindow;
    if (RegisterClassA(&windowClass) != 0) {
        host.hostWindow = CreateWindowExA(exStyle, kSaverClassName, title, style, area.left,
                                          area.top, area.right - area.left, area.bottom - area.top,
                                          parent, nullptr, host.hostInstance, nullptr);
    }
    if (host.hostWindow != nullptr) {
        if (parent == nullptr) SetForegroundWindow(host.hostWindow);
        MSG message = {};
        // GetMessage answers -1 on failure: that ends the loop too.
        while (GetMessageA(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        result = message.message == WM_QUIT ? static_cast<int32_t>(message.wParam) : 0;
    }
    UnloadPasswordVerifier();
    return result;
}
