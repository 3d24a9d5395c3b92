// Host.h - the Win32 screen-saver host: start-up, modes, the saver window
// class, the closing rules and the legacy password check.
//
// The host knows the saver application only through the entry points it
// registers (SaverEntryPoints, handed to HostEntry by the saver's WinMain in
// win32/SaverMain.cpp): its window procedure, its dialog procedure, the hook
// that prepares the dialog's classes and the dialog's resource id. Besides
// those it uses only the portable closing rule (app/Closing.h) and its own
// command-line logic (win32/HostLogic.h).
//
// One mode per process; the exit code is the mode's result:
//   configure           1 after OK, 0 after Cancel
//   full screen/preview 0 when the window has gone (quit message)
//   change password     0
//   bad command line    -1 (hostlogic::kExitBadCommand)
//   no saver window     2  (hostlogic::kExitNoWindow: class or window creation failed)
//   fault               the fault's exception code (e.g. 0xC0000005)
//
// Message path of the saver window:
//   HostWindowProc -> SaverWindowProc (the saver's) -> DefaultSaverProc (closing rules)
//
// The legacy platform (version platform id 1) alone uses the password
// verifier "PASSWORD.CPL", the provider "MPR.DLL" and the saver-running flag.
#pragma once

#include <windows.h>

#include <cstdint>

// What the saver application gives the host.
struct SaverEntryPoints {
    // Every message of the saver window that the host does not swallow; it
    // passes them on to DefaultSaverProc.
    WNDPROC saverWindowProc = nullptr;
    DLGPROC configDialogProc = nullptr;
    // Called before the dialog is made; FALSE leaves it out (exit code 0).
    BOOL (*prepareDialogClasses)(HINSTANCE instance) = nullptr;
    int configDialogId = 0;  // the dialog's resource
};

// Host state, one set per process.
struct HostState {
    SaverEntryPoints entries;
    HINSTANCE hostInstance = nullptr;
    int32_t legacyPlatform = 0;  // 1 on the Windows 95/98/Me platform
    int32_t isPreview = 0;       // 1 when the saver window is a preview child
    HWND hostWindow = nullptr;
    UINT autoPlayMessage = 0;  // "QueryCancelAutoPlay" on the legacy platform, else 0

    // Closing rules.
    int32_t closeAccepted = 0;              // closing allowed: rules off, ticks swallowed
    int32_t verifying = 0;                  // a password verification runs
    POINT lastCursorPos = {0, 0};           // screen pixels; drift is measured from here
    uint32_t lastVerifyTick = 0xFFFFFFFFu;  // tick count (ms) at the end of the last verification

    // Password verifier (legacy platform).
    HMODULE passwordModule = nullptr;
    BOOL(WINAPI* verifyPassword)(HWND) = nullptr;

    // Input method, when IMM32.DLL was already loaded.
    HMODULE imeModule = nullptr;
    HIMC(WINAPI* associateContext)(HWND, HIMC) = nullptr;
    HIMC savedImeContext = nullptr;
};

extern HostState host;

// A module's entry point as the function type it has (through the generic
// function pointer type, which every function pointer converts to and back).
template <typename Function>
Function LookUpEntry(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// The private message that runs the verifier on the window's own stack.
constexpr UINT kVerifyMessage = WM_APP;

// Runs the mode of the process's command line and ends the process with its
// result.
int HostEntry(const SaverEntryPoints& entries);
int32_t HostMain(HINSTANCE instance, const char* commandTail, const SaverEntryPoints& entries);
HWND ParseWindowHandle(const char* text);
int32_t RunSaverWindow(HWND parent);
int32_t RunPreview(const char* text);
int32_t ShowConfigDialog(HWND owner);
int32_t RunChangePassword(const char* text);
void ChangePassword(HWND owner);

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT DefaultSaverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL VerifyBeforeClose(HWND window);
void LoadPasswordVerifier();
void UnloadPasswordVerifier();
void SetSaverRunning(BOOL running);
