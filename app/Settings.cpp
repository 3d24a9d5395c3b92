#include "app/Settings.h"

#include <cstring>

// Reading order. A value out of range is replaced by the fall-back, which is
// the default for every key, never moved to the nearer bound.
Settings::Settings() {
    RestoreDefaultSettings(*this);
}

const SettingEntry* FindSetting(const char* key) {
    if (key == nullptr) return nullptr;
    for (const SettingEntry& entry : kSettings) {
        if (std::strcmp(entry.key, key) == 0) return &entry;
    }
    return nullptr;
}

const SettingEntry* FindSettingByOption(const char* option, SettingFrontEnd frontEnd) {
    if (option == nullptr) return nullptr;
    for (const SettingEntry& entry : kSettings) {
        if ((entry.frontEnds & frontEnd) != 0 && entry.option != nullptr &&
            std::strcmp(entry.option, option) == 0) {
            return &entry;
        }
    }
    return nullptr;
}

SettingOption FindSettingOption(const char* option, SettingFrontEnd frontEnd) {
    SettingOption found;
    if (option == nullptr) return found;
    const SettingEntry* entry = FindSettingByOption(option, frontEnd);
    if (entry != nullptr) {
        found.entry = entry;
        found.takesValue = entry->kind != SettingKind::Toggle;
        found.value = 1;
        return found;
    }
    if (std::strncmp(option, "no-", 3) == 0) {
        entry = FindSettingByOption(option + 3, frontEnd);
        if (entry != nullptr && entry->kind == SettingKind::Toggle) {
            found.entry = entry;
            found.value = 0;
        }
    }
    return found;
}

int SettingIndex(const SettingEntry& entry) {
    return static_cast<int>(&entry - kSettings);
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

SettingText ReadSettingText(const char* text, int32_t* value) {
    if (text == nullptr) return SettingText::NotANumber;
    const char* p = text;
    while (*p == ' ' || *p == '\t') ++p;
    bool negative = false;
    if (*p == '-' || *p == '+') negative = *p++ == '-';
    if (*p < '0' || *p > '9') return SettingText::NotANumber;
    int64_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        // Past 2^32 the value is out of range either way: stop growing.
        if (magnitude <= INT64_C(0xFFFFFFFF)) magnitude = magnitude * 10 + (*p - '0');
    }
    while (*p == ' ' || *p == '\t') ++p;
    if (*p != '\0') return SettingText::NotANumber;
    const int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue > INT32_MAX || signedValue < INT32_MIN) return SettingText::OutOfRange;
    *value = static_cast<int32_t>(signedValue);
    return SettingText::Number;
}

bool ParseSettingText(const char* text, int32_t* value) {
    return ReadSettingText(text, value) == SettingText::Number;
}

bool SettingOverrides::Set(const SettingEntry& entry, const char* text) {
    int32_t value = 0;
    switch (ReadSettingText(text, &value)) {
        case SettingText::Number:
            SetValue(entry, value);
            return true;
        case SettingText::OutOfRange:
            SetValue(entry, entry.fallBack);
            return true;
        case SettingText::NotANumber:
            break;
    }
    return false;
}

void SettingOverrides::SetValue(const SettingEntry& entry, int32_t value) {
    const int index = SettingIndex(entry);
    has_[index] = true;
    values_[index] = value;
}

bool SettingOverrides::Has(const SettingEntry& entry) const {
    return has_[SettingIndex(entry)];
}

void SettingOverrides::ApplyTo(Settings& settings) const {
    for (int i = 0; i < kSettingCount; ++i) {
        if (has_[i]) settings.*kSettings[i].field = values_[i];
    }
    ClampSettings(settings);
}

std::string SettingRangeText(const SettingEntry& entry, const char* between) {
    if (entry.maximum == INT32_MAX) return std::to_string(entry.minimum) + " and above";
    return std::to_string(entry.minimum) + between + std::to_string(entry.maximum);
}

std::string SettingsUsage(SettingFrontEnd frontEnd, const char* dashes) {
    // Options start in column 3 and their help in column 23, as the other
    // usage lines of the programs do.
    constexpr size_t kHelpColumn = 22;
    std::string text;
    for (const SettingEntry& entry : kSettings) {
        if ((entry.frontEnds & frontEnd) == 0 || entry.option == nullptr) continue;
        std::string line;
        if (entry.kind == SettingKind::Toggle) {
            line = std::string("  ") + dashes + entry.option + ", " + dashes + "no-" + entry.option;
        } else {
            line = std::string("  ") + dashes + entry.option + " N";
        }
        line.append(line.size() < kHelpColumn ? kHelpColumn - line.size() : 1, ' ');
        if (entry.kind == SettingKind::Toggle) {
            line += std::string(entry.help) + " (" + (entry.defaultValue != 0 ? "on" : "off") +
                    ")\n";
        } else {
            line += std::string(entry.help) + ", " + SettingRangeText(entry, "..") + " (" +
                    std::to_string(entry.defaultValue) + ")\n";
        }
        text += line;
    }
    return text;
}
