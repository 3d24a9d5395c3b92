// ConfigDialogWin32.cpp - the configuration dialog (resource 2003).
//
// Flying speed sits on a horizontal scroll bar (0 ... 100), the "Monitors"
// setting in a drop-down list (its items in the setting's order 0 ... 2),
// the other six settings in number fields. Only OK writes the INI file; Cancel, Enter,
// Escape and the caption's close button leave it alone (the last three send
// the standard ids 1 and 2, which the dialog ignores, so only the two buttons
// end it). Restore Defaults refills the controls without writing.
// windows.h first: the shell's header builds on it.
#include <windows.h>

#include <shellapi.h>

#include <cstdint>

#include "app/SaverAppWin32.h"
#include "app/Settings.h"
#include "app/resource.h"
#include "host/HostLogic.h"
#include "host/HostWin32.h"

namespace {

const char kWebPage[] = "https://glidescape.example.org/";
const char kDialogTitle[] = "Glidescape Screensaver Setup";

struct NumberField {
    int controlId;
    int32_t Settings::*field;
    bool isSigned;
};

const NumberField kFields[] = {
    {IDC_LAND_SIZE, &Settings::landSize, false},
    {IDC_OUTPUT_WIDTH, &Settings::outputWidth, false},
    {IDC_OBJECT_COUNT, &Settings::objectCount, false},
    {IDC_NEWLAND_WAIT, &Settings::newlandWait, false},
    {IDC_AUTOPILOT, &Settings::autoPilotIntensity, false},
    {IDC_TILT, &Settings::tilt, true},
};

// The drop-down list's items: item i is the "Monitors" value i.
const char* const kMonitorsItems[] = {
    "A landscape on each monitor",
    "One landscape on the primary monitor",
    "One landscape across all monitors",
};

// The values the dialog shows; the speed bar edits flightSpeed directly.
// One dialog at a time per process.
Settings dialogSettings;

void ShowNumber(HWND dialog, const NumberField& field, int32_t value) {
    if (field.isSigned) {
        SetDlgItemInt(dialog, field.controlId, static_cast<UINT>(value), TRUE);
    } else {
        SetDlgItemInt(dialog, field.controlId, static_cast<UINT>(value), FALSE);
    }
}

int32_t ReadNumber(HWND dialog, const NumberField& field) {
    char text[64] = {};
    GetDlgItemTextA(dialog, field.controlId, text, sizeof(text));
    return hostlogic::DialogNumber(text, field.isSigned);
}

int32_t DefaultOf(int32_t Settings::*field) {
    for (const SettingEntry& entry : kSettings) {
        if (entry.field == field) return entry.defaultValue;
    }
    return 0;
}

void SetSpeedBar(HWND dialog, int32_t position) {
    SetScrollPos(GetDlgItem(dialog, IDC_FLIGHT_SPEED), SB_CTL, position, TRUE);
}

void ShowMonitors(HWND dialog, int32_t monitors) {
    SendDlgItemMessageA(dialog, IDC_MONITORS, CB_SETCURSEL, static_cast<WPARAM>(monitors), 0);
}

// No selection (CB_ERR) reads as -1, which the clamping replaces by the
// default.
int32_t ReadMonitors(HWND dialog) {
    return static_cast<int32_t>(SendDlgItemMessageA(dialog, IDC_MONITORS, CB_GETCURSEL, 0, 0));
}

void SaveAndClose(HWND dialog) {
    for (const NumberField& field : kFields) {
        dialogSettings.*field.field = ReadNumber(dialog, field);
    }
    dialogSettings.monitors = ReadMonitors(dialog);
    ClampSettings(dialogSettings);
    if (!SaveSettings(dialogSettings)) {
        // Closing as if saved would lose the user's choice without a word.
        char path[MAX_PATH] = "Glidescp.ini";
        UserSettingsPath(path, sizeof(path), false);
        char text[MAX_PATH + 160];
        wsprintfA(text,
                  "The settings could not be saved to\n%s\n\n"
                  "Check that this folder and the file can be written, then press OK again, "
                  "or press Cancel to leave the settings unchanged.",
                  path);
        MessageBoxA(dialog, text, kDialogTitle, MB_OK | MB_ICONWARNING);
        return;
    }
    EndDialog(dialog, 1);
}

void RestoreDefaults(HWND dialog) {
    for (const NumberField& field : kFields) ShowNumber(dialog, field, DefaultOf(field.field));
    dialogSettings.flightSpeed = DefaultOf(&Settings::flightSpeed);
    SetSpeedBar(dialog, dialogSettings.flightSpeed);
    ShowMonitors(dialog, DefaultOf(&Settings::monitors));
}

INT_PTR OnScroll(HWND dialog, WPARAM wParam) {
    int32_t& flightSpeed = dialogSettings.flightSpeed;
    switch (LOWORD(wParam)) {
        case SB_LINELEFT:
        case SB_PAGELEFT:  // a page is one step, like a line
            flightSpeed -= 1;
            break;
        case SB_LINERIGHT:
        case SB_PAGERIGHT:
            flightSpeed += 1;
            break;
        case SB_THUMBPOSITION:
            flightSpeed = HIWORD(wParam);
            break;
        case SB_LEFT:
            flightSpeed = 0;
            break;
        case SB_RIGHT:
            flightSpeed = 100;
            break;
        case SB_THUMBTRACK:
        case SB_ENDSCROLL:
            // While the thumb is dragged the speed keeps its value.
            return 1;
        default:
            break;
    }
    if (flightSpeed <= 0) flightSpeed = 0;
    if (flightSpeed >= 100) flightSpeed = 100;
    SetSpeedBar(dialog, flightSpeed);
    return 0;
}

}  // namespace

BOOL PrepareDialogClasses(HINSTANCE) {
    return TRUE;
}

INT_PTR CALLBACK ConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: {
            dialogSettings = LoadSettings();
            HWND speedBar = GetDlgItem(dialog, IDC_FLIGHT_SPEED);
            SetScrollRange(speedBar, SB_CTL, 0, 100, FALSE);
            SetScrollPos(speedBar, SB_CTL, dialogSettings.flightSpeed, TRUE);
            for (const NumberField& field : kFields) {
                ShowNumber(dialog, field, dialogSettings.*field.field);
            }
            for (const char* item : kMonitorsItems) {
                SendDlgItemMessageA(dialog, IDC_MONITORS, CB_ADDSTRING, 0,
                                    reinterpret_cast<LPARAM>(item));
            }
            ShowMonitors(dialog, dialogSettings.monitors);
            return TRUE;
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_OK:
                    SaveAndClose(dialog);
                    return TRUE;
                case IDC_CANCEL:
                    EndDialog(dialog, 0);
                    return TRUE;
                case IDC_WEB_PAGE:
                    ShellExecuteA(dialog, "open", kWebPage, "", "C:\\", SW_SHOWNORMAL);
                    return TRUE;
                case IDC_RESTORE_DEFAULTS:
                    RestoreDefaults(dialog);
                    return TRUE;
                default:
                    return FALSE;
            }
        case WM_HSCROLL:
            return OnScroll(dialog, wParam);
        default:
            return FALSE;
    }
}
