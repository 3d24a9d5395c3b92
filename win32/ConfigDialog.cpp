// ConfigDialog.cpp - the configuration dialog (resource 2003).
//
// Flying speed sits on a horizontal scroll bar (0 ... 100), "Smooth Motion"
// in a check box, "Monitors" and "On Battery" in drop-down lists (their items
// the settings table's names of the values, in order from the lowest), the
// other six settings in number fields. Only OK writes the INI file; Cancel, Enter,
// Escape and the caption's close button leave it alone (the last three send
// the standard ids 1 and 2, which the dialog ignores, so only the two buttons
// end it). Restore Defaults refills the controls without writing.
// windows.h first: the shell's header builds on it.
#include <windows.h>

#include <shellapi.h>

#include <cstdint>

#include "win32/SaverApp.h"
#include "app/Settings.h"
#include "win32/resources/resource.h"
#include "win32/HostLogic.h"

namespace {

const char kMakerPage[] = "https://glidescape.example.org/";
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

struct ChoiceList {
    int controlId;
    int32_t Settings::*field;
};

// Item i is the value minimum + i, named by the table's `choices`.
const ChoiceList kLists[] = {
    {IDC_MONITORS, &Settings::monitors},
    {IDC_ON_BATTERY, &Settings::onBattery},
};

struct CheckBox {
    int controlId;
    int32_t Settings::*field;  // 1 checked, 0 not
};

const CheckBox kCheckBoxes[] = {
    {IDC_SMOOTH_MOTION, &Settings::smoothMotion},
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

const SettingEntry* EntryOf(int32_t Settings::*field) {
    for (const SettingEntry& entry : kSettings) {
        if (entry.field == field) return &entry;
    }
    return nullptr;
}

int32_t DefaultOf(int32_t Settings::*field) {
    const SettingEntry* entry = EntryOf(field);
    return entry != nullptr ? entry->defaultValue : 0;
}

int32_t MinimumOf(int32_t Settings::*field) {
    const SettingEntry* entry = EntryOf(field);
    return entry != nullptr ? entry->minimum : 0;
}

void FillList(HWND dialog, const ChoiceList& list) {
    const SettingEntry* entry = EntryOf(list.field);
    if (entry == nullptr || entry->choices == nullptr) return;
    for (const char* const* choice = entry->choices; *choice != nullptr; ++choice) {
        SendDlgItemMessageA(dialog, list.controlId, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(*choice));
    }
}

void ShowChoice(HWND dialog, const ChoiceList& list, int32_t value) {
    SendDlgItemMessageA(dialog, list.controlId, CB_SETCURSEL,
                        static_cast<WPARAM>(value - MinimumOf(list.field)), 0);
}

// No selection (CB_ERR) reads as the value below the lowest, which the
// clamping replaces by the default.
int32_t ReadChoice(HWND dialog, const ChoiceList& list) {
    const LRESULT item = SendDlgItemMessageA(dialog, list.controlId, CB_GETCURSEL, 0, 0);
    const int32_t minimum = MinimumOf(list.field);
    return item == CB_ERR ? minimum - 1 : minimum + static_cast<int32_t>(item);
}

void ShowCheck(HWND dialog, const CheckBox& box, int32_t value) {
    CheckDlgButton(dialog, box.controlId, value != 0 ? BST_CHECKED : BST_UNCHECKED);
}

int32_t ReadCheck(HWND dialog, const CheckBox& box) {
    return IsDlgButtonChecked(dialog, box.controlId) == BST_CHECKED ? 1 : 0;
}

void SetSpeedBar(HWND dialog, int32_t position) {
    SetScrollPos(GetDlgItem(dialog, IDC_FLIGHT_SPEED), SB_CTL, position, TRUE);
}

void SaveAndClose(HWND dialog) {
    for (const NumberField& field : kFields) {
        dialogSettings.*field.field = ReadNumber(dialog, field);
    }
    for (const ChoiceList& list : kLists) dialogSettings.*list.field = ReadChoice(dialog, list);
    for (const CheckBox& box : kCheckBoxes) dialogSettings.*box.field = ReadCheck(dialog, box);
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
    for (const ChoiceList& list : kLists) ShowChoice(dialog, list, DefaultOf(list.field));
    for (const CheckBox& box : kCheckBoxes) ShowCheck(dialog, box, DefaultOf(box.field));
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
            for (const ChoiceList& list : kLists) {
                FillList(dialog, list);
                ShowChoice(dialog, list, dialogSettings.*list.field);
            }
            for (const CheckBox& box : kCheckBoxes) {
                ShowCheck(dialog, box, dialogSettings.*box.field);
            }
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
                    ShellExecuteA(dialog, "open", kMakerPage, "", "C:\\", SW_SHOWNORMAL);
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
