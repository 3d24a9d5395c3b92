// PowerWatch.cpp - the display's state notifications and the power source.
#include "win32/PowerWatch.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "win32/SaverLogic.h"

namespace {

// The display's state: 0 off, 1 on, 2 dimmed (a DWORD).
const GUID kConsoleDisplayState = {
    0x6fe69556, 0x704a, 0x47a0, {0x8f, 0x24, 0xc2, 0x8d, 0x93, 0x6f, 0xda, 0x47}};
const GUID kSessionDisplayStatus = {
    0x2b84c20e, 0xad23, 0x4ddf, {0x93, 0xdb, 0x05, 0xff, 0xbd, 0x7e, 0xfc, 0xa5}};
// The monitor's power: 0 off, 1 on.
const GUID kMonitorPowerOn = {
    0x02731015, 0x4510, 0x4526, {0x99, 0xe6, 0xe5, 0xa1, 0x7e, 0xbd, 0x1a, 0xea}};

// In the order they are asked for: the first the system knows is taken.
const GUID* const kDisplaySettings[] = {&kConsoleDisplayState, &kSessionDisplayStatus,
                                        &kMonitorPowerOn};

using RegisterFunction = HANDLE(WINAPI*)(HANDLE, LPCGUID, DWORD);
using UnregisterFunction = BOOL(WINAPI*)(HANDLE);

template <typename Function>
Function UserEntry(const char* name) {
    HMODULE user = GetModuleHandleW(L"user32.dll");
    if (user == nullptr) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(user, name)));
}

}  // namespace

bool DisplayWatch::Register(HWND window) {
    Unregister();
    const auto registerSetting = UserEntry<RegisterFunction>("RegisterPowerSettingNotification");
    if (registerSetting == nullptr || window == nullptr) return false;
    for (const GUID* setting : kDisplaySettings) {
        notification_ = registerSetting(window, setting, DEVICE_NOTIFY_WINDOW_HANDLE);
        if (notification_ != nullptr) return true;
    }
    return false;
}

void DisplayWatch::Unregister() {
    if (notification_ == nullptr) return;
    const auto unregisterSetting =
        UserEntry<UnregisterFunction>("UnregisterPowerSettingNotification");
    if (unregisterSetting != nullptr) unregisterSetting(notification_);
    notification_ = nullptr;
}

DisplayNews ReadDisplayNews(LPARAM setting) {
    const auto* notification = reinterpret_cast<const POWERBROADCAST_SETTING*>(setting);
    if (notification == nullptr || notification->DataLength < sizeof(DWORD)) {
        return DisplayNews::Other;
    }
    for (const GUID* display : kDisplaySettings) {
        if (std::memcmp(&notification->PowerSetting, display, sizeof(GUID)) != 0) continue;
        // The value follows the header; Data is declared one byte long.
        DWORD state = 0;
        std::memcpy(&state,
                    reinterpret_cast<const unsigned char*>(notification) +
                        offsetof(POWERBROADCAST_SETTING, Data),
                    sizeof(state));
        return saverlogic::DisplayCanBeSeen(state) ? DisplayNews::On : DisplayNews::Off;
    }
    return DisplayNews::Other;
}

bool OnBatteryNow() {
    SYSTEM_POWER_STATUS status = {};
    return GetSystemPowerStatus(&status) && saverlogic::RunsOnBattery(status.ACLineStatus);
}
