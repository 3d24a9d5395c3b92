// PowerWatch.h - what the saver window hears of the power: the display's
// state and whether the machine runs on battery.
//
// The display: DisplayWatch asks the system for power-setting notifications
// of the display's state, GUID_CONSOLE_DISPLAY_STATE (Windows 8 on), where
// the system does not know that GUID_SESSION_DISPLAY_STATUS, and then
// GUID_MONITOR_POWER_ON (Vista and 7). They arrive as WM_POWERBROADCAST with
// PBT_POWERSETTINGCHANGE, the first one at once with the present state;
// ReadDisplayNews reads them. The entry points are looked up at run time, so
// the saver starts where they are missing (and then simply hears nothing).
//
// The battery: OnBatteryNow reads GetSystemPowerStatus; the system
// broadcasts WM_POWERBROADCAST PBT_APMPOWERSTATUSCHANGE to top-level windows
// when it changes (a preview, a child window, has to ask again now and then).
//
// Nothing here keeps the display awake or resets the idle timer.
// Callers: the saver window (win32/SaverWindow.cpp).
#pragma once

#include <windows.h>

class DisplayWatch {
public:
    DisplayWatch() = default;
    ~DisplayWatch() { Unregister(); }
    DisplayWatch(const DisplayWatch&) = delete;
    DisplayWatch& operator=(const DisplayWatch&) = delete;

    // Asks for the display's state notifications to `window`; false when the
    // system gives none.
    bool Register(HWND window);
    void Unregister();

private:
    HANDLE notification_ = nullptr;
};

// What a PBT_POWERSETTINGCHANGE notification (its lParam) says.
enum class DisplayNews {
    Other,  // another setting, or none at all
    On,     // the display is on (or dimmed): the picture can be seen
    Off,    // the display is off or asleep
};
DisplayNews ReadDisplayNews(LPARAM setting);

// True when the machine runs on battery now; false on mains and when the
// system cannot say.
bool OnBatteryNow();
