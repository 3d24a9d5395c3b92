// The Linux saver's command line: targets, settings kept as given and then
// clamped like the INI file's values, seeds, and one-line errors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/Settings.h"
#include "x11/X11Options.h"

namespace {

struct Parsed {
    X11ParseResult result;
    X11Options options;
    std::string error;
};

Parsed Parse(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "glidescape");
    Parsed parsed;
    parsed.result = ParseX11Options(static_cast<int>(arguments.size()), arguments.data(),
                                    parsed.options, parsed.error);
    return parsed;
}

TEST(X11Options, DefaultsToOwnWindowOfXgaSizeWithNoSettings) {
    const Parsed p = Parse({});
    ASSERT_EQ(p.result, X11ParseResult::Run);
    EXPECT_EQ(p.options.target, X11Target::OwnWindow);
    EXPECT_EQ(p.options.windowWidth, 1024);
    EXPECT_EQ(p.options.windowHeight, 768);
    EXPECT_FALSE(p.options.hasPosition || p.options.hasSpeed || p.options.hasLandSize ||
                 p.options.hasObjects || p.options.hasOutputWidth || p.options.hasNewlandWait ||
                 p.options.hasAutopilot || p.options.hasTilt || p.options.hasLandSeed ||
                 p.options.hasViewSeed || p.options.tickStats);
}

TEST(X11Options, TargetsAndGeometry) {
    EXPECT_EQ(Parse({"-root"}).options.target, X11Target::Root);
    EXPECT_EQ(Parse({"--fullscreen"}).options.target, X11Target::FullScreen);
    EXPECT_EQ(Parse({"-root", "-window"}).options.target, X11Target::OwnWindow);

    Parsed p = Parse({"-window-id", "0x1A00003"});
    ASSERT_EQ(p.result, X11ParseResult::Run);
    EXPECT_EQ(p.options.target, X11Target::WindowId);
    EXPECT_EQ(p.options.windowId, 0x1A00003u);
    EXPECT_EQ(Parse({"-window-id", "4294967295"}).options.windowId, 4294967295u);

    p = Parse({"-geometry", "640x480"});
    EXPECT_EQ(p.options.windowWidth, 640);
    EXPECT_EQ(p.options.windowHeight, 480);
    EXPECT_FALSE(p.options.hasPosition);
    p = Parse({"-geometry", "1x1+10-20"});
    ASSERT_EQ(p.result, X11ParseResult::Run) << p.error;
    EXPECT_EQ(p.options.windowWidth, 1);
    EXPECT_TRUE(p.options.hasPosition);
    EXPECT_EQ(p.options.windowX, 10);
    EXPECT_EQ(p.options.windowY, -20);
}

TEST(X11Options, SettingsAreKeptAsGivenThenClampedLikeTheIniFile) {
    const Parsed p = Parse({"-speed", "101", "-land-size", "12", "-objects", "-1", "-output-width",
                            "3000", "--newland-wait", "0", "-autopilot", "201", "-tilt", "-128"});
    ASSERT_EQ(p.result, X11ParseResult::Run) << p.error;
    EXPECT_EQ(p.options.speed, 101);
    Settings s;
    s.landSize = 7;  // as if from the file: options override only what they name
    ApplyOptionSettings(p.options, s);
    EXPECT_EQ(s.flightSpeed, 25);  // out of range: the fall-back, not 100
    EXPECT_EQ(s.landSize, 12);
    EXPECT_EQ(s.objectCount, 6);
    EXPECT_EQ(s.outputWidth, 3000);
    EXPECT_EQ(s.newlandWait, 0);
    EXPECT_EQ(s.autoPilotIntensity, 30);
    EXPECT_EQ(s.tilt, -128);

    s = Settings{};
    s.landSize = 7;
    // Beyond 32 bits: the fall-back, as in the INI file.
    ApplyOptionSettings(Parse({"-tilt", "99999999999", "-newland-wait", "2147483648"}).options, s);
    EXPECT_EQ(s.tilt, 0);
    EXPECT_EQ(s.newlandWait, 1200);
    EXPECT_EQ(s.landSize, 7);
}

TEST(X11Options, Seeds) {
    const Parsed p = Parse({"-land-seed", "0", "-view-seed", "4294967295"});
    ASSERT_EQ(p.result, X11ParseResult::Run);
    EXPECT_TRUE(p.options.hasLandSeed);
    EXPECT_EQ(p.options.landSeed, 0u);
    EXPECT_TRUE(p.options.hasViewSeed);
    EXPECT_EQ(p.options.viewSeed, 4294967295u);
}

TEST(X11Options, HelpAndVersion) {
    EXPECT_EQ(Parse({"-help"}).result, X11ParseResult::Help);
    EXPECT_EQ(Parse({"--help"}).result, X11ParseResult::Help);
    EXPECT_EQ(Parse({"-speed", "5", "-version"}).result, X11ParseResult::Version);
}

TEST(X11Options, EveryBadValueIsOneLineNamingTheOption) {
    const std::vector<std::vector<const char*>> bad = {
        {"-speed", "fast"},
        {"-speed", ""},
        {"-land-size", "1O"},
        {"-objects", "6 x"},
        {"-output-width", "5.5"},
        {"-newland-wait", "0x10"},
        {"-autopilot", "--3"},
        {"-tilt", "+"},
        {"-land-seed", "-1"},
        {"-view-seed", "4294967296"},
        {"-window-id", "0"},
        {"-window-id", "0x"},
        {"-window-id", "0x100000000"},
        {"-window-id", "12abc"},
        {"-geometry", "0x768"},
        {"-geometry", "1024"},
        {"-geometry", "10x10+5"},
        {"-geometry", "65536x1"},
        {"-display", ""},
        {"-tilt"},
        {"-window-id"},
    };
    for (const auto& arguments : bad) {
        const Parsed p = Parse(arguments);
        EXPECT_EQ(p.result, X11ParseResult::Error) << arguments[0];
        EXPECT_NE(p.error.find(arguments[0]), std::string::npos) << p.error;
        EXPECT_EQ(p.error.find('\n'), std::string::npos) << p.error;
    }
    Parsed p = Parse({"-colour", "3"});
    EXPECT_EQ(p.result, X11ParseResult::Error);
    EXPECT_NE(p.error.find("unknown option '-colour'"), std::string::npos) << p.error;
    p = Parse({"stray"});
    EXPECT_EQ(p.result, X11ParseResult::Error);
    EXPECT_NE(p.error.find("'stray'"), std::string::npos) << p.error;
    EXPECT_EQ(Parse({"-"}).result, X11ParseResult::Error);
    EXPECT_EQ(Parse({"--"}).result, X11ParseResult::Error);
    // A control character in an argument is written out, the message stays one line.
    p = Parse({"\n", "-speed"});
    EXPECT_EQ(p.result, X11ParseResult::Error);
    EXPECT_NE(p.error.find("'\\x0a'"), std::string::npos) << p.error;
}

TEST(X11Options, WindowIds) {
    uint32_t id = 7;
    EXPECT_TRUE(ParseWindowId("123", &id));
    EXPECT_EQ(id, 123u);
    EXPECT_TRUE(ParseWindowId("0XfF", &id));
    EXPECT_EQ(id, 255u);
    EXPECT_TRUE(ParseWindowId("00017", &id));  // decimal, not octal
    EXPECT_EQ(id, 17u);
    for (const char* text : {"", "0", "0x0", "-5", " 5", "5 ", "0x1g", "99999999999"}) {
        EXPECT_FALSE(ParseWindowId(text, &id)) << text;
    }
    EXPECT_FALSE(ParseWindowId(nullptr, &id));
    EXPECT_EQ(id, 17u);
}

}  // namespace
