// TestPasswordCpl.cpp - a stand-in "PASSWORD.CPL" for the Wine suite.
//
// VerifyScreenSavePwd answers from GLIDESCAPE_TEST_VERIFY, one character per
// call ("0" refuse, "1" allow; allow once the list is used up). While it
// "prompts" it pumps messages for GLIDESCAPE_TEST_PROMPT_MS and records
// whether the saver window's picture changed meanwhile (the land keeps
// flying behind the prompt). With GLIDESCAPE_TEST_RECLOSE=1 a refusal also
// posts a close right away, which the saver must ignore.
#include <windows.h>

#include <cstdint>
#include <cstdlib>

#include "TestLog.h"

namespace {

int calls = 0;

int EnvironmentNumber(const char* name, int fallBack) {
    char text[32] = {};
    if (GetEnvironmentVariableA(name, text, sizeof(text)) == 0) return fallBack;
    return std::atoi(text);
}

uint64_t PictureHash(HWND window) {
    HDC context = GetDC(window);
    uint64_t hash = 1469598103934665603ull;
    RECT client = {};
    GetClientRect(window, &client);
    for (int y = 0; y < client.bottom; y += client.bottom / 16 + 1) {
        for (int x = 0; x < client.right; x += client.right / 16 + 1) {
            hash = (hash ^ GetPixel(context, x, y)) * 1099511628211ull;
        }
    }
    ReleaseDC(window, context);
    return hash;
}

}  // namespace

extern "C" __declspec(dllexport) BOOL WINAPI VerifyScreenSavePwd(HWND window) {
    ++calls;
    char answers[64] = {};
    GetEnvironmentVariableA("GLIDESCAPE_TEST_VERIFY", answers, sizeof(answers));
    const int index = calls - 1;
    const BOOL allow = index < lstrlenA(answers) ? answers[index] != '0' : TRUE;

    const int promptMs = EnvironmentNumber("GLIDESCAPE_TEST_PROMPT_MS", 0);
    int changed = -1;
    if (promptMs > 0) {
        const uint64_t before = PictureHash(window);
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < static_cast<DWORD>(promptMs)) {
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
            Sleep(10);
        }
        changed = PictureHash(window) != before ? 1 : 0;
    }
    char windowClass[128] = {};
    GetClassNameA(window, windowClass, sizeof(windowClass));
    TestLog("VerifyScreenSavePwd call %d class %s answer %d flying %d", calls, windowClass,
            allow ? 1 : 0, changed);
    if (!allow && EnvironmentNumber("GLIDESCAPE_TEST_RECLOSE", 0) == 1) {
        PostMessageA(window, WM_CLOSE, 0, 0);
    }
    return allow;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
