// Settings.h - the seven integer settings, declared once as a table.
//
// The table (key, variable, default, valid range, fall-back) is read by the
// settings loaders of every front end, by the Win32 configuration dialog and
// by the tests. Values are stored in the INI file "Glidescp.ini", section
// "Glidescape", as signed decimal integers ("%ld").
//
// ClampSettings replaces each value outside its inclusive range by its
// fall-back (not by the nearer bound).
#pragma once

#include <cstdint>

extern int32_t flightSpeed;         // "Flight Speed"         0 ... 100, default 25
extern int32_t landSize;            // "Land Size"            6 ... 12, default 10
extern int32_t objectCount;         // "Object Count"         0 ... 255, default 6
extern int32_t outputWidth;         // "Output Width"         128 ... 3000, default 512
extern int32_t newlandWait;         // "Newland Wait"         0 and above, default 1200 (seconds;
                                    // the frame loop waits at least 1)
extern int32_t autoPilotIntensity;  // "AutoPilot Intensity"  0 ... 200, default 30
extern int32_t tilt;                // "Tilt"                 -128 ... 128, default 0

struct SettingEntry {
    const char* key;  // INI key, exactly as stored
    int32_t* variable;
    int32_t defaultValue;  // when the key or the file is missing
    int32_t minimum;       // inclusive
    int32_t maximum;       // inclusive (INT32_MAX: no upper bound)
    int32_t fallBack;      // replaces a value out of range
};

constexpr int kSettingCount = 7;

// In reading order: Flight Speed, Land Size, Object Count, Output Width,
// Newland Wait, AutoPilot Intensity, Tilt.
extern const SettingEntry kSettings[kSettingCount];

// Indices into kSettings in the order the dialog writes them: Flight Speed,
// Land Size, Output Width, Object Count, Newland Wait, AutoPilot Intensity,
// Tilt.
extern const int kSettingsWriteOrder[kSettingCount];

const SettingEntry* FindSetting(const char* key);

// Reads one key; returns defaultValue when the key or the store is missing.
using SettingReader = int32_t (*)(const char* key, int32_t defaultValue, void* context);

// Reads the seven keys in reading order through `read`, then ClampSettings.
void LoadSettingsFrom(SettingReader read, void* context);
void ClampSettings();
void RestoreDefaultSettings();  // every variable to its default
