// The settings table: defaults, reading order, write order and the
// fall-back rule for values out of range.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "app/Settings.h"

namespace {

struct FakeIni {
    std::map<std::string, int32_t> values;
    std::vector<std::string> readOrder;
};

int32_t ReadFake(const char* key, int32_t defaultValue, void* context) {
    auto* ini = static_cast<FakeIni*>(context);
    ini->readOrder.emplace_back(key);
    auto it = ini->values.find(key);
    return it == ini->values.end() ? defaultValue : it->second;
}

class SettingsTest : public ::testing::Test {
protected:
    // Loads one key's value and returns what the store keeps.
    static int32_t LoadOne(const char* key, int32_t value) {
        FakeIni ini;
        ini.values[key] = value;
        const Settings settings = LoadSettingsFrom(ReadFake, &ini);
        return settings.*FindSetting(key)->field;
    }
};

TEST_F(SettingsTest, MissingKeysGiveDefaults) {
    FakeIni ini;
    const Settings s = LoadSettingsFrom(ReadFake, &ini);
    EXPECT_EQ(s.flightSpeed, 25);
    EXPECT_EQ(s.landSize, 10);
    EXPECT_EQ(s.objectCount, 6);
    EXPECT_EQ(s.outputWidth, 512);
    EXPECT_EQ(s.newlandWait, 1200);
    EXPECT_EQ(s.autoPilotIntensity, 30);
    EXPECT_EQ(s.tilt, 0);
    EXPECT_EQ(s.monitors, 0);
    EXPECT_EQ(s.smoothMotion, 1);
    EXPECT_EQ(s.onBattery, 1);
    const std::vector<std::string> expected = {
        "Flight Speed", "Land Size",           "Object Count", "Output Width", "Newland Wait",
        "AutoPilot Intensity", "Tilt",         "Monitors",     "Smooth Motion", "On Battery"};
    EXPECT_EQ(ini.readOrder, expected);
}

TEST_F(SettingsTest, NullReaderGivesDefaults) {
    EXPECT_EQ(LoadSettingsFrom(nullptr, nullptr).landSize, 10);
}

TEST_F(SettingsTest, WriteOrderSwapsOutputWidthAndObjectCountThenTheLaterKeys) {
    std::vector<std::string> order;
    for (int index : kSettingsWriteOrder) order.emplace_back(kSettings[index].key);
    const std::vector<std::string> expected = {
        "Flight Speed", "Land Size",           "Output Width", "Object Count", "Newland Wait",
        "AutoPilot Intensity", "Tilt",         "Monitors",     "Smooth Motion", "On Battery"};
    EXPECT_EQ(order, expected);
}

TEST_F(SettingsTest, FindSettingByExactKey) {
    ASSERT_NE(FindSetting("AutoPilot Intensity"), nullptr);
    EXPECT_EQ(FindSetting("AutoPilot Intensity")->field, &Settings::autoPilotIntensity);
    EXPECT_EQ(FindSetting("Autopilot Intensity"), nullptr);
    EXPECT_EQ(FindSetting(""), nullptr);
    EXPECT_EQ(FindSetting(nullptr), nullptr);
}

TEST_F(SettingsTest, EdgesKeepInRangeValuesAndFallBackOutside) {
    EXPECT_EQ(LoadOne("Land Size", 12), 12);
    EXPECT_EQ(LoadOne("Land Size", 6), 6);
    EXPECT_EQ(LoadOne("Land Size", 13), 10);
    EXPECT_EQ(LoadOne("Land Size", 5), 10);
    EXPECT_EQ(LoadOne("Output Width", 3000), 3000);
    EXPECT_EQ(LoadOne("Output Width", 128), 128);
    EXPECT_EQ(LoadOne("Output Width", 3001), 512);
    EXPECT_EQ(LoadOne("Output Width", 127), 512);
    EXPECT_EQ(LoadOne("Object Count", 255), 255);
    EXPECT_EQ(LoadOne("Object Count", 0), 0);
    EXPECT_EQ(LoadOne("Object Count", 256), 6);
    EXPECT_EQ(LoadOne("Object Count", -1), 6);
    EXPECT_EQ(LoadOne("Newland Wait", 0), 0);
    EXPECT_EQ(LoadOne("Newland Wait", -1), 1200);
    EXPECT_EQ(LoadOne("Newland Wait", INT32_MAX), INT32_MAX);
    EXPECT_EQ(LoadOne("Tilt", 128), 128);
    EXPECT_EQ(LoadOne("Tilt", -128), -128);
    EXPECT_EQ(LoadOne("Tilt", 129), 0);
    EXPECT_EQ(LoadOne("Tilt", -129), 0);
    EXPECT_EQ(LoadOne("Flight Speed", 100), 100);
    EXPECT_EQ(LoadOne("Flight Speed", 101), 25);  // the fall-back, not the bound
    EXPECT_EQ(LoadOne("Flight Speed", INT32_MIN), 25);
    EXPECT_EQ(LoadOne("AutoPilot Intensity", 200), 200);
    EXPECT_EQ(LoadOne("AutoPilot Intensity", 201), 30);
    EXPECT_EQ(LoadOne("Monitors", 2), 2);
    EXPECT_EQ(LoadOne("Monitors", 1), 1);
    EXPECT_EQ(LoadOne("Monitors", 3), 0);
    EXPECT_EQ(LoadOne("Monitors", -1), 0);
    EXPECT_EQ(LoadOne("Smooth Motion", 0), 0);
    EXPECT_EQ(LoadOne("Smooth Motion", 2), 1);
    EXPECT_EQ(LoadOne("On Battery", 2), 2);
    EXPECT_EQ(LoadOne("On Battery", 3), 1);
}

TEST_F(SettingsTest, ClampLeavesOtherSettingsAlone) {
    Settings s;
    s.flightSpeed = 101;
    s.tilt = -100;
    s.landSize = 12;
    ClampSettings(s);
    EXPECT_EQ(s.flightSpeed, 25);
    EXPECT_EQ(s.tilt, -100);
    EXPECT_EQ(s.landSize, 12);
    s.tilt = 200;
    RestoreDefaultSettings(s);
    EXPECT_EQ(s.tilt, 0);
    EXPECT_EQ(s.landSize, 10);
}

TEST_F(SettingsTest, TableDefaultsLieInTheirRanges) {
    for (const SettingEntry& entry : kSettings) {
        EXPECT_GE(entry.defaultValue, entry.minimum) << entry.key;
        EXPECT_LE(entry.defaultValue, entry.maximum) << entry.key;
        EXPECT_EQ(entry.fallBack, entry.defaultValue) << entry.key;
    }
}

TEST(SettingText, SignedDecimalWithBlanks) {
    int32_t value = 99;
    EXPECT_TRUE(ParseSettingText("12", &value));
    EXPECT_EQ(value, 12);
    EXPECT_TRUE(ParseSettingText(" \t-128\t ", &value));
    EXPECT_EQ(value, -128);
    EXPECT_TRUE(ParseSettingText("+90", &value));
    EXPECT_EQ(value, 90);
    EXPECT_TRUE(ParseSettingText("007", &value));
    EXPECT_EQ(value, 7);
}

TEST(SettingText, AnythingElseIsMissing) {
    int32_t value = 99;
    for (const char* text : {"", " ", "abc", "12abc", "1 2", "--1", "-", "0x10", "1e3", "3.5"}) {
        EXPECT_FALSE(ParseSettingText(text, &value)) << text;
    }
    EXPECT_EQ(value, 99);
}

TEST(SettingText, ValuesBeyond32BitsFallBackToTheDefault) {
    int32_t value = 5;
    EXPECT_TRUE(ParseSettingText("2147483647", &value));
    EXPECT_EQ(value, INT32_MAX);
    EXPECT_TRUE(ParseSettingText("-2147483648", &value));
    EXPECT_EQ(value, INT32_MIN);
    value = 5;
    for (const char* text : {"2147483648", "-2147483649", "99999999999", " 99999999999 ",
                             "-99999999999999999999999999", "99999999999999999999999999"}) {
        EXPECT_FALSE(ParseSettingText(text, &value)) << text;
        EXPECT_EQ(ReadSettingText(text, &value), SettingText::OutOfRange)
            << text;
    }
    EXPECT_EQ(value, 5);
    EXPECT_EQ(ReadSettingText("1x", &value), SettingText::NotANumber);
    EXPECT_EQ(ReadSettingText("\t+12 ", &value), SettingText::Number);
    EXPECT_EQ(value, 12);
}

// --- Command-line overrides and usage texts ---------------------------------

TEST(SettingOverrides, ReadAsTheIniFileReadsAndFallBackOutOfRange) {
    const SettingEntry& speed = *FindSettingByOption("speed", kLinuxSaver);
    const SettingEntry& tilt = *FindSettingByOption("tilt", kRenderTool);
    const SettingEntry& wait = *FindSettingByOption("newland-wait", kWebPage);
    SettingOverrides overrides;
    EXPECT_TRUE(overrides.Set(speed, " 60 "));
    EXPECT_TRUE(overrides.Set(tilt, "99999999999"));  // beyond 32 bits: the fall-back
    EXPECT_FALSE(overrides.Set(wait, "soon"));
    EXPECT_FALSE(overrides.Has(wait));
    Settings loaded;
    loaded.tilt = -100;  // as the INI file had it
    loaded.newlandWait = 30;
    overrides.ApplyTo(loaded);
    EXPECT_EQ(loaded.flightSpeed, 60);
    EXPECT_EQ(loaded.tilt, 0);
    EXPECT_EQ(loaded.newlandWait, 30);
    // In range of 32 bits but not of the setting: clamped to the fall-back.
    EXPECT_TRUE(overrides.Set(speed, "101"));
    overrides.ApplyTo(loaded);
    EXPECT_EQ(loaded.flightSpeed, 25);
}

TEST(SettingOverrides, OptionsAreFoundOnlyForTheFrontEndsThatReadThem) {
    EXPECT_EQ(FindSettingByOption("land-size", kRenderTool)->field, &Settings::landSize);
    EXPECT_NE(FindSettingByOption("monitors", kWindowsSaver), nullptr);
    EXPECT_EQ(FindSettingByOption("monitors", kLinuxSaver), nullptr);
    EXPECT_EQ(FindSettingByOption("Land Size", kRenderTool), nullptr);
    EXPECT_EQ(FindSettingByOption(nullptr, kRenderTool), nullptr);
    for (const SettingEntry& entry : kSettings) {
        ASSERT_NE(entry.option, nullptr) << entry.key;
        EXPECT_NE(entry.frontEnds, 0u) << entry.key;
        EXPECT_EQ(FindSettingByOption(entry.option, kWindowsSaver) == &entry,
                  (entry.frontEnds & kWindowsSaver) != 0)
            << entry.key;
    }
}

TEST(SettingOverrides, TogglesAreOptionsWithoutAValue) {
    const SettingOption on = FindSettingOption("smooth", kLinuxSaver);
    ASSERT_NE(on.entry, nullptr);
    EXPECT_FALSE(on.takesValue);
    EXPECT_EQ(on.value, 1);
    const SettingOption off = FindSettingOption("no-smooth", kLinuxSaver);
    EXPECT_EQ(off.entry, on.entry);
    EXPECT_EQ(off.value, 0);
    EXPECT_TRUE(FindSettingOption("tilt", kLinuxSaver).takesValue);
    EXPECT_EQ(FindSettingOption("no-tilt", kLinuxSaver).entry, nullptr);
    EXPECT_EQ(FindSettingOption("smooth", kRenderTool).entry, nullptr);
    for (const SettingEntry& entry : kSettings) {
        // Choices name every value; toggles are 0 or 1.
        if (entry.kind == SettingKind::Choice) {
            for (int32_t v = entry.minimum; v <= entry.maximum; ++v) {
                EXPECT_NE(entry.choices[v - entry.minimum], nullptr) << entry.key << v;
            }
            EXPECT_EQ(entry.choices[entry.maximum - entry.minimum + 1], nullptr) << entry.key;
        }
        if (entry.kind == SettingKind::Toggle) {
            EXPECT_EQ(entry.minimum, 0) << entry.key;
            EXPECT_EQ(entry.maximum, 1) << entry.key;
        }
    }
}

TEST(SettingsUsage, OneAlignedLinePerSettingWithRangeAndDefault) {
    const std::string usage = SettingsUsage(kLinuxSaver, "-");
    EXPECT_NE(usage.find("  -smooth, -no-smooth frames at the display's refresh, or one a tick "
                         "(on)\n"),
              std::string::npos)
        << usage;
    EXPECT_NE(usage.find("  -speed N            flight speed, 0..100 (25)\n"), std::string::npos)
        << usage;
    EXPECT_NE(usage.find("  -newland-wait N     seconds between landscapes, 0 and above (1200)\n"),
              std::string::npos)
        << usage;
    EXPECT_EQ(usage.find("monitors"), std::string::npos);
    const std::string render = SettingsUsage(kRenderTool, "--");
    EXPECT_NE(render.find("  --output-width N    frame columns, 128..3000 (512)\n"),
              std::string::npos)
        << render;
    EXPECT_EQ(std::count(render.begin(), render.end(), '\n'), 7);
}

}  // namespace
