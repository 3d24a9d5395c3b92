// TestMpr.cpp - a stand-in "MPR.DLL" for the Wine suite: records the
// password-change call of the saver's /a mode.
#include <windows.h>

#include "TestLog.h"

extern "C" __declspec(dllexport) DWORD WINAPI
    PwdChangePasswordA(LPCSTR provider, HWND owner, DWORD flags, LPVOID reserved) {
    char ownerClass[128] = "none";
    if (owner != nullptr) GetClassNameA(owner, ownerClass, sizeof(ownerClass));
    TestLog("PwdChangePasswordA %s %llu %s %lu %p", provider != nullptr ? provider : "(null)",
            static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(owner)), ownerClass, flags,
            reserved);
    return 0;
}
