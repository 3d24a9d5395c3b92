#include "app/Settings.h"

#include <cstring>

// Reading order. A value out of range is replaced by the fall-back, which is
// the default for every key, never moved to the nearer bound.
const SettingEntry kSettings[kSettingCount] = {
    {"Flight Speed", &Settings::flightSpeed, 25, 0, 100, 25},
    {"Land Size", &Settings::landSize, 10, 6, 12, 10},
    {"Object Count", &Settings::objectCount, 6, 0, 255, 6},
    {"Output Width", &Settings::outputWidth, 512, 128, 3000, 512},
    {"Newland Wait", &Settings::newlandWait, 1200, 0, INT32_MAX, 1200},
    {"AutoPilot Intensity", &Settings::autoPilotIntensity, 30, 0, 200, 30},
    {"Tilt", &Settings::tilt, 0, -128, 128, 0},
    {"Monitors", &Settings::monitors, 0, 0, 2, 0},
};

// The dialog writes Output Width before Object Count, and Monitors last.
const int kSettingsWriteOrder[kSettingCount] = {0, 1, 3, 2, 4, 5, 6, 7};

const SettingEntry* FindSetting(const char* key) {
    if (key == nullptr) return nullptr;
    for (const SettingEntry& entry : kSettings) {
        if (std::strcmp(entry.key, key) == 0) return &entry;
    }
    return nullptr;
}

Settings LoadSettingsFrom(SettingReader read, void* context) {
    Settings settings;
    for (const SettingEntry& entry : kSettings) {
        settings.*entry.field =
            read != nullptr ? read(entry.key, entry.defaultValue, context) : entry.defaultValue;
    }
    ClampSettings(settings);
    return settings;
}

void ClampSettings(Settings& settings) {
    for (const SettingEntry& entry : kSettings) {
        const int32_t value = settings.*entry.field;
        if (value < entry.minimum || value > entry.maximum) settings.*entry.field = entry.fallBack;
    }
}

void RestoreDefaultSettings(Settings& settings) {
    for (const SettingEntry& entry : kSettings) settings.*entry.field = entry.defaultValue;
}
