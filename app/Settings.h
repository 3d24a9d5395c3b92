// Settings.h - the eight integer settings, declared once as a table.
//
// Settings is a plain value: a front end loads one (LoadSettingsFrom or the
// platform's loader) and hands it to each Flight it creates; nothing keeps
// settings process-wide. The table (key, field, default, valid range,
// fall-back) is read by the settings loaders of every front end, by the Win32
// configuration dialog and by the tests. Values are stored in the INI file
// "Glidescp.ini", section "Glidescape", as signed decimal integers ("%ld").
//
// ClampSettings replaces each value outside its inclusive range by its
// fall-back (not by the nearer bound).
#pragma once

#include <cstdint>

struct Settings {
    int32_t flightSpeed = 25;         // "Flight Speed"         0 ... 100
    int32_t landSize = 10;            // "Land Size"            6 ... 12
    int32_t objectCount = 6;          // "Object Count"         0 ... 255
    int32_t outputWidth = 512;        // "Output Width"         128 ... 3000
    int32_t newlandWait = 1200;       // "Newland Wait"         0 and above (seconds;
                                      // the frame loop waits at least 1)
    int32_t autoPilotIntensity = 30;  // "AutoPilot Intensity"  0 ... 200
    int32_t tilt = 0;                 // "Tilt"                 -128 ... 128
    int32_t monitors = 0;             // "Monitors"             0 ... 2: a flight on each
                                      // monitor, one on the primary (the others black),
                                      // one across all; read by the Win32 full-screen
                                      // saver only
};

struct SettingEntry {
    const char* key;  // INI key, exactly as stored
    int32_t Settings::*field;
    int32_t defaultValue;  // when the key or the file is missing
    int32_t minimum;       // inclusive
    int32_t maximum;       // inclusive (INT32_MAX: no upper bound)
    int32_t fallBack;      // replaces a value out of range
};

constexpr int kSettingCount = 8;

// In reading order: Flight Speed, Land Size, Object Count, Output Width,
// Newland Wait, AutoPilot Intensity, Tilt, Monitors.
extern const SettingEntry kSettings[kSettingCount];

// Indices into kSettings in the order the dialog writes them: Flight Speed,
// Land Size, Output Width, Object Count, Newland Wait, AutoPilot Intensity,
// Tilt, Monitors.
extern const int kSettingsWriteOrder[kSettingCount];

const SettingEntry* FindSetting(const char* key);

// Reads one key; returns defaultValue when the key or the store is missing.
using SettingReader = int32_t (*)(const char* key, int32_t defaultValue, void* context);

// Reads the eight keys in reading order through `read` (defaults with a null
// reader), clamped.
Settings LoadSettingsFrom(SettingReader read, void* context);
void ClampSettings(Settings& settings);
void RestoreDefaultSettings(Settings& settings);  // every field to its default
