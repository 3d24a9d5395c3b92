// HostWindowProc.cpp - the saver window's host procedure, the closing rules
// and the legacy platform's password verifier.
#include "win32/Host.h"

#include "app/Closing.h"
#include "win32/HostLogic.h"

#ifndef WM_POWER
#define WM_POWER 0x0048
#endif
#ifndef PWR_CRITICALRESUME
#define PWR_CRITICALRESUME 3
#endif

namespace {

void HideCursor() {
    SetCursor(nullptr);
}

void RequestClose(HWND window) {
    PostMessageA(window, WM_CLOSE, 0, 0);
}

void RecordCursor() {
    GetCursorPos(&host.lastCursorPos);
}

}  // namespace

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE: {
            // Only an input method the process already uses is detached;
            // the host never loads one itself.
            host.imeModule = GetModuleHandleA("IMM32.DLL");
            if (host.imeModule != nullptr) {
                host.associateContext =
                    LookUpEntry<HIMC(WINAPI*)(HWND, HIMC)>(host.imeModule, "ImmAssociateContext");
                if (host.associateContext != nullptr) {
                    host.savedImeContext = host.associateContext(window, nullptr);
                }
            }
            RecordCursor();
            if (!host.isPreview) HideCursor();
            break;
        }
        case WM_DESTROY:
            if (host.imeModule != nullptr && host.associateContext != nullptr &&
                host.savedImeContext != nullptr) {
                host.associateContext(window, host.savedImeContext);
            }
            PostQuitMessage(0);
            break;
        case WM_SETTEXT:
            return 0;
        case WM_PAINT:
            if (host.closeAccepted) return DefWindowProcA(window, message, wParam, lParam);
            if (!host.isPreview) HideCursor();
            break;
        case WM_HELP:
        case WM_CONTEXTMENU:
            if (host.isPreview) {
                HWND parent = GetParent(window);
                if (parent != nullptr && IsWindow(parent)) {
                    PostMessageA(parent, message, reinterpret_cast<WPARAM>(parent), lParam);
                }
                return 1;
            }
            break;
        case WM_SYSCOMMAND:
            if (!host.isPreview &&
                (wParam == SC_NEXTWINDOW || wParam == SC_PREVWINDOW || wParam == SC_SCREENSAVE)) {
                return 0;
            }
            break;
        case WM_TIMER:
            if (host.closeAccepted) return 0;
            Sleep(0);
            break;
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
        case WM_MOUSEMOVE:
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
            if (host.closeAccepted) return DefWindowProcA(window, message, wParam, lParam);
            break;
        default:
            break;
    }
    if (host.entries.saverWindowProc == nullptr) {
        return DefaultSaverProc(window, message, wParam, lParam);
    }
    return host.entries.saverWindowProc(window, message, wParam, lParam);
}

LRESULT DefaultSaverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!host.isPreview && !host.closeAccepted) {
        bool rulesApply = true;
        if (message == WM_CLOSE && host.legacyPlatform) {
            if (!VerifyBeforeClose(window)) {
                RecordCursor();
                return 0;
            }
            rulesApply = false;  // closing proceeds through the default handling
        } else if (message == kVerifyMessage && host.legacyPlatform) {
            return host.verifyPassword != nullptr ? host.verifyPassword(window) : 1;
        }
        if (host.verifying) rulesApply = false;
        if (rulesApply) {
            switch (message) {
                case WM_SHOWWINDOW:
                    if (wParam != 0) HideCursor();
                    break;
                case WM_ACTIVATEAPP:
                    if (wParam == 0) RequestClose(window);
                    break;
                case WM_SETCURSOR:
                    HideCursor();
                    return 1;
                case WM_POWER:
                    if (wParam == PWR_CRITICALRESUME) RequestClose(window);
                    break;
                case WM_KEYDOWN:
                case WM_SYSKEYDOWN:
                case WM_LBUTTONDOWN:
                case WM_RBUTTONDOWN:
                case WM_MBUTTONDOWN:
                    RequestClose(window);
                    break;
                case WM_POWERBROADCAST:
                    // The display's state, which the saver asked for, is
                    // the saver's business; every other power event closes.
                    if (hostlogic::PowerBroadcastCloses(wParam)) RequestClose(window);
                    break;
                case WM_MOUSEMOVE: {
                    POINT now = {};
                    GetCursorPos(&now);
                    if (MouseDriftCloses({host.lastCursorPos.x, host.lastCursorPos.y},
                                                    {now.x, now.y})) {
                        RequestClose(window);
                        host.lastCursorPos = now;
                    }
                    break;
                }
                default:
                    break;
            }
        }
    }
    if (host.autoPlayMessage != 0 && message == host.autoPlayMessage) {
        RequestClose(window);
        return host.verifyPassword != nullptr ? 1 : 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

BOOL VerifyBeforeClose(HWND window) {
    if (host.verifying || host.closeAccepted) return FALSE;
    if (host.verifyPassword == nullptr) {
        host.closeAccepted = 1;
        return TRUE;
    }
    if (hostlogic::WithinVerifyDebounce(host.lastVerifyTick, GetTickCount())) return FALSE;

    host.verifying = 1;
    // Ticks queued behind the close would only delay the prompt.
    MSG pending;
    PeekMessageA(&pending, window, WM_TIMER, WM_TIMER, PM_REMOVE | PM_NOYIELD);
    PeekMessageA(&pending, window, WM_TIMER, WM_TIMER, PM_REMOVE | PM_NOYIELD);
    host.closeAccepted = SendMessageA(window, kVerifyMessage, 0, 0) != 0 ? 1 : 0;
    host.verifying = 0;
    if (!host.closeAccepted) HideCursor();
    host.lastVerifyTick = GetTickCount();
    return host.closeAccepted;
}

void LoadPasswordVerifier() {
    if (!host.legacyPlatform) return;
    if (host.passwordModule != nullptr) UnloadPasswordVerifier();

    HKEY desktop = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, KEY_QUERY_VALUE, &desktop) !=
        ERROR_SUCCESS) {
        return;
    }
    // Zeroed first: a value shorter than four bytes fills only its own bytes.
    DWORD usePassword = 0;
    DWORD size = sizeof(usePassword);
    if (RegQueryValueExA(desktop, "ScreenSaveUsePassword", nullptr, nullptr,
                         reinterpret_cast<BYTE*>(&usePassword), &size) == ERROR_SUCCESS &&
        usePassword != 0) {
        host.passwordModule = LoadLibraryA("PASSWORD.CPL");
        if (host.passwordModule != nullptr) {
            host.verifyPassword =
                LookUpEntry<BOOL(WINAPI*)(HWND)>(host.passwordModule, "VerifyScreenSavePwd");
            if (host.verifyPassword != nullptr) {
                SetSaverRunning(TRUE);
            } else {
                UnloadPasswordVerifier();
            }
        }
    }
    RegCloseKey(desktop);
}

void UnloadPasswordVerifier() {
    if (!host.legacyPlatform || host.passwordModule == nullptr) return;
    FreeLibrary(host.passwordModule);
    host.passwordModule = nullptr;
    if (host.verifyPassword != nullptr) {
        host.verifyPassword = nullptr;
        SetSaverRunning(FALSE);
    }
}

void SetSaverRunning(BOOL running) {
    if (!host.legacyPlatform) return;
    UINT previous = 0;
    SystemParametersInfoA(SPI_SETSCREENSAVERRUNNING, static_cast<UINT>(running), &previous, 0);
}
