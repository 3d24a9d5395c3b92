// The settings table: defaults, reading order, write order and the
// fall-back rule for values out of range.
#include <gtest/gtest.h>

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
    const std::vector<std::string> expected = {
        "Flight Speed", "Land Size",           "Object Count", "Output Width",
        "Newland Wait", "AutoPilot Intensity", "Tilt",         "Monitors"};
    EXPECT_EQ(ini.readOrder, expected);
}

TEST_F(SettingsTest, NullReaderGivesDefaults) {
    EXPECT_EQ(LoadSettingsFrom(nullptr, nullptr).landSize, 10);
}

TEST_F(SettingsTest, WriteOrderSwapsOutputWidthAndObjectCountAndEndsWithMonitors) {
    std::vector<std::string> order;
    for (int index : kSettingsWriteOrder) order.emplace_back(kSettings[index].key);
    const std::vector<std::string> expected = {
        "Flight Speed", "Land Size",           "Output Width", "Object Count",
        "Newland Wait", "AutoPilot Intensity", "Tilt",         "Monitors"};
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

}  // namespace
