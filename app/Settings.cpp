#include "app/Settings.h"

#include <cstring>

int32_t flightSpeed = 25;
int32_t landSize = 10;
int32_t objectCount = 6;
int32_t outputWidth = 512;
int32_t newlandWait = 1200;
int32_t autoPilotIntensity = 30;
int32_t tilt = 0;

// Reading order. A value out of range is replaced by the fall-back, which is
// the default for every key, never moved to the nearer bound.
const SettingEntry kSettings[kSettingCount] = {
    {"Flight Speed", &flightSpeed, 25, 0, 100, 25},
    {"Land Size", &landSize, 10, 6, 12, 10},
    {"Object Count", &objectCount, 6, 0, 255, 6},
    {"Output Width", &outputWidth, 512, 128, 3000, 512},
    {"Newland Wait", &newlandWait, 1200, 0, INT32_MAX, 1200},
    {"AutoPilot Intensity", &autoPilotIntensity, 30, 0, 200, 30},
    {"Tilt", &tilt, 0, -128, 128, 0},
};

// The dialog writes Output Width before Object Count.
const int kSettingsWriteOrder[kSettingCount] = {0, 1, 3, 2, 4, 5, 6};

const SettingEntry* FindSetting(const char* key) {
    if (key == nullptr) return nullptr;
    for (const SettingEntry& entry : kSettings) {
        if (std::strcmp(entry.key, key) == 0) return &entry;
    }
    return nullptr;
}

void LoadSettingsFrom(SettingReader read, void* context) {
    for (const SettingEntry& entry : kSettings) {
        *entry.variable =
            read != nullptr ? read(entry.key, entry.defaultValue, context) : entry.defaultValue;
    }
    ClampSettings();
}

void ClampSettings() {
    for (const SettingEntry& entry : kSettings) {
        const int32_t value = *entry.variable;
        if (value < entry.minimum || value > entry.maximum) *entry.variable = entry.fallBack;
    }
}

void RestoreDefaultSettings() {
    for (const SettingEntry& entry : kSettings) *entry.variable = entry.defaultValue;
}
