// Settings.h - the integer settings, declared once as a table.
//
// Settings is a plain value: a front end loads one (LoadSettingsFrom with its
// store's reader) and hands it to each Flight it creates; nothing keeps
// settings process-wide. The table (kSettings) declares, per key, its field,
// default, valid range, fall-back, command-line option, label and help line;
// every front end, the Win32 dialog, glidescape.xml, the web page's panel,
// the usage texts and the README's option tables read it or are checked
// against it by a test. Values are stored in the INI file "Glidescp.ini",
// section "Glidescape", as signed decimal integers ("%ld").
//
// ClampSettings replaces each value outside its inclusive range by its
// fall-back (not by the nearer bound). Text is read one way everywhere
// (ReadSettingText): the INI file, command-line overrides and the page's
// address; a number beyond 32 bits falls back like one out of range.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// The settings' values. A Settings starts with every field at its table
// default (kSettings below).
struct Settings {
    Settings();
    int32_t flightSpeed;         // "Flight Speed"
    int32_t landSize;            // "Land Size"
    int32_t objectCount;         // "Object Count"
    int32_t outputWidth;         // "Output Width"
    int32_t newlandWait;         // "Newland Wait" (seconds; the frame loop waits at least 1)
    int32_t autoPilotIntensity;  // "AutoPilot Intensity"
    int32_t tilt;                // "Tilt"
    int32_t monitors;            // "Monitors": read by the Win32 full-screen saver only
    int32_t smoothMotion;        // "Smooth Motion"
    int32_t onBattery;           // "On Battery"
};

// How a front end offers a setting.
enum class SettingKind {
    Number,  // a number field; on a command line "-option N"
    Toggle,  // 0 or 1: a check box; on a command line "-option" and "-no-option"
    Choice,  // one of the values 0, 1, ... named by `choices`: a drop-down list
             // or an option list; on a command line "-option N"
};

// The front ends that read a setting (bits of SettingEntry::frontEnds).
enum SettingFrontEnd : uint32_t {
    kWindowsSaver = 1u << 0,  // the dialog and Glidescp.ini
    kLinuxSaver = 1u << 1,    // its INI file, its command line and glidescape.xml
    kWebPage = 1u << 2,       // the panel and the address
    kRenderTool = 1u << 3,    // glidescape-render's command line
    kEveryFrontEnd = kWindowsSaver | kLinuxSaver | kWebPage | kRenderTool,
};

struct SettingEntry {
    const char* key;  // INI key, exactly as stored
    int32_t Settings::*field;
    int32_t defaultValue;  // when the key or the file is missing
    int32_t minimum;       // inclusive
    int32_t maximum;       // inclusive (INT32_MAX: no upper bound)
    int32_t fallBack;      // replaces a value out of range
    const char* option;    // command-line option and address name, without dashes
    const char* label;     // as the dialog and the page's panel show it
    const char* help;      // what it sets, for usage texts (lower case, no range)
    uint32_t frontEnds;    // SettingFrontEnd bits: who reads it
    SettingKind kind;
    // Choice: the name of each value from `minimum` up, as the dialog's
    // drop-down list shows it; null for the other kinds.
    const char* const* choices;
};

namespace settings_choices {

inline constexpr const char* kMonitors[] = {
    "A landscape on each monitor",
    "One landscape on the primary monitor",
    "One landscape across all monitors",
    nullptr,
};

inline constexpr const char* kOnBattery[] = {
    "As on mains power",
    "One frame a tick, land on one thread",
    "Keep the last frame, draw nothing",
    nullptr,
};

constexpr uint32_t kSavers = kWindowsSaver | kLinuxSaver | kWebPage;

}  // namespace settings_choices

// The settings, in reading order. A value out of range is replaced by the
// fall-back, which is the default for every key, never moved to the nearer
// bound. A new setting is a field of Settings, a row here and its use: every
// front end, the INI files, the usage texts and the web panel follow the
// row; the Win32 dialog, glidescape.xml and the README's tables get their
// line by hand (tests say where one is missing).
inline constexpr SettingEntry kSettings[] = {
    {"Flight Speed", &Settings::flightSpeed, 25, 0, 100, 25, "speed", "Flying Speed",
     "flight speed", kEveryFrontEnd, SettingKind::Number, nullptr},
    {"Land Size", &Settings::landSize, 10, 6, 12, 10, "land-size", "Land Size",
     "land side 2^N cells", kEveryFrontEnd, SettingKind::Number, nullptr},
    {"Object Count", &Settings::objectCount, 6, 0, 255, 6, "objects", "Object Count",
     "airborne objects", kEveryFrontEnd, SettingKind::Number, nullptr},
    {"Output Width", &Settings::outputWidth, 512, 128, 3000, 512, "output-width", "Output Width",
     "frame columns", kEveryFrontEnd, SettingKind::Number, nullptr},
    {"Newland Wait", &Settings::newlandWait, 1200, 0, INT32_MAX, 1200, "newland-wait",
     "Seconds to New Land", "seconds between landscapes", kEveryFrontEnd, SettingKind::Number,
     nullptr},
    {"AutoPilot Intensity", &Settings::autoPilotIntensity, 30, 0, 200, 30, "autopilot",
     "Autopilot Intensity", "autopilot intensity", kEveryFrontEnd, SettingKind::Number, nullptr},
    {"Tilt", &Settings::tilt, 0, -128, 128, 0, "tilt", "View Tilt", "view tilt", kEveryFrontEnd,
     SettingKind::Number, nullptr},
    {"Monitors", &Settings::monitors, 0, 0, 2, 0, "monitors", "Monitors",
     "a landscape on each monitor (0), on the primary only (1), across all (2)", kWindowsSaver,
     SettingKind::Choice, settings_choices::kMonitors},
    {"Smooth Motion", &Settings::smoothMotion, 1, 0, 1, 1, "smooth", "Smooth Motion",
     "frames at the display's refresh, or one a tick", settings_choices::kSavers,
     SettingKind::Toggle, nullptr},
    {"On Battery", &Settings::onBattery, 1, 0, 2, 1, "on-battery", "On Battery",
     "on battery: as on mains (0), a frame a tick (1), the last frame only (2)",
     settings_choices::kSavers, SettingKind::Choice, settings_choices::kOnBattery},
};

constexpr int kSettingCount = static_cast<int>(sizeof kSettings / sizeof kSettings[0]);

// Indices into kSettings in the order the dialog writes them: reading order,
// but Output Width before Object Count.
constexpr std::array<int, kSettingCount> MakeSettingsWriteOrder() {
    std::array<int, kSettingCount> order{};
    for (int i = 0; i < kSettingCount; ++i) order[i] = i;
    order[2] = 3;  // Output Width
    order[3] = 2;  // Object Count
    return order;
}
inline constexpr std::array<int, kSettingCount> kSettingsWriteOrder = MakeSettingsWriteOrder();

const SettingEntry* FindSetting(const char* key);
// The entry whose option is `option` (without dashes) among the settings
// `frontEnd` reads; null for none.
const SettingEntry* FindSettingByOption(const char* option, SettingFrontEnd frontEnd);
// A command-line option (without dashes) naming a setting: "land-size",
// which takes a value, or for a toggle "smooth" and "no-smooth", which set
// it to 1 and 0. entry is null for an option that names no setting.
struct SettingOption {
    const SettingEntry* entry = nullptr;
    bool takesValue = false;
    int32_t value = 0;  // for a toggle
};
SettingOption FindSettingOption(const char* option, SettingFrontEnd frontEnd);
// The entry's index in kSettings.
int SettingIndex(const SettingEntry& entry);

// Reads one key; returns defaultValue when the key or the store is missing.
using SettingReader = int32_t (*)(const char* key, int32_t defaultValue, void* context);

// Reads the keys in reading order through `read` (defaults with a null
// reader), clamped.
Settings LoadSettingsFrom(SettingReader read, void* context);
void ClampSettings(Settings& settings);
void RestoreDefaultSettings(Settings& settings);  // every field to its default

// How a setting's text reads.
enum class SettingText {
    Number,      // a signed decimal integer that fits 32 bits
    OutOfRange,  // such an integer beyond 32 bits
    NotANumber,  // anything else
};

// A setting's text as stored: a signed decimal integer ("%ld"), blanks and
// tabs around it allowed. `value` is set for Number only.
SettingText ReadSettingText(const char* text, int32_t* value);

// The store's view of ReadSettingText: false (the caller takes the default,
// which is every key's fall-back) for anything but a 32-bit number, so a
// value beyond 32 bits falls back exactly as one out of the key's range.
bool ParseSettingText(const char* text, int32_t* value);

// Settings given on a command line (or in a page's address) over loaded
// settings. Each text reads as in the INI file; a number beyond 32 bits
// becomes the setting's fall-back, as it would from the file.
class SettingOverrides {
public:
    // False (nothing kept) when `text` is not a whole number.
    bool Set(const SettingEntry& entry, const char* text);
    void SetValue(const SettingEntry& entry, int32_t value);
    bool Has(const SettingEntry& entry) const;
    // Puts every given value into `settings`, then clamps them all.
    void ApplyTo(Settings& settings) const;

private:
    bool has_[kSettingCount] = {};
    int32_t values_[kSettingCount] = {};
};

// Usage lines of the settings that `frontEnd` reads, one a line:
//   "  -speed N            flight speed, 0..100 (25)\n"
//   "  -smooth, -no-smooth frames at the display's refresh, or one a tick (on)\n"
// with `dashes` ("-" or "--") before each option name.
std::string SettingsUsage(SettingFrontEnd frontEnd, const char* dashes);
// "0..100", or "0 and above" without an upper bound.
std::string SettingRangeText(const SettingEntry& entry, const char* between);
