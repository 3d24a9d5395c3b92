// The Linux saver's command line: targets, settings kept as given and then
// clamped like the INI file's values, seeds, one-line errors, and the choice
// between X11 and Wayland.
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
    EXPECT_FALSE(p.options.hasPosition || p.options.hasLandSeed || p.options.hasViewSeed ||
                 p.options.tickStats);
    for (const SettingEntry& entry : kSettings) EXPECT_FALSE(p.options.settings.Has(entry));
}

TEST(X11Options, TimingLogFile) {
    EXPECT_TRUE(Parse({}).options.timingFile.empty());
    Parsed p = Parse({"-timing", "/tmp/frames.log"});
    ASSERT_EQ(p.result, X11ParseResult::Run) << p.error;
    EXPECT_EQ(p.options.timingFile, "/tmp/frames.log");
    p = Parse({"-timing"});
    EXPECT_EQ(p.result, X11ParseResult::Error);
    EXPECT_NE(p.error.find("-timing"), std::string::npos);
    EXPECT_EQ(Parse({"-timing", ""}).result, X11ParseResult::Error);
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
    Settings s;
    s.landSize = 7;  // as if from the file: options override only what they name
    p.options.settings.ApplyTo(s);
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
    Parse({"-tilt", "99999999999", "-newland-wait", "2147483648"}).options.settings.ApplyTo(s);
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

// One launch: the options, then the window system for an environment.
struct Launch {
    bool resolved;
    X11Options options;
    std::string error;
};

Launch Resolve(std::vector<const char*> arguments, const char* socket, const char* display,
               const char* daemonWindow) {
    Launch launch;
    Parsed p = Parse(std::move(arguments));
    EXPECT_EQ(p.result, X11ParseResult::Run) << p.error;
    launch.options = p.options;
    LaunchEnvironment environment;
    environment.waylandSocket = socket;
    environment.waylandDisplay = display;
    environment.xscreensaverWindow = daemonWindow;
    launch.resolved = ResolveBackend(launch.options, environment, launch.error);
    return launch;
}

TEST(X11Options, WaylandTargetsAndWindowSystems) {
    EXPECT_EQ(Parse({"-background"}).options.target, X11Target::Background);
    EXPECT_EQ(Parse({"--overlay"}).options.target, X11Target::Overlay);
    EXPECT_FALSE(Parse({}).options.targetGiven);
    EXPECT_TRUE(Parse({"-window"}).options.targetGiven);
    EXPECT_TRUE(Parse({"-window-id", "5"}).options.targetGiven);
    EXPECT_EQ(Parse({"-wayland"}).options.backend, SaverBackend::Wayland);
    EXPECT_EQ(Parse({"-wayland", "-x11"}).options.backend, SaverBackend::X11);
    EXPECT_EQ(Parse({}).options.backend, SaverBackend::Auto);
}

TEST(X11Options, WindowSystemFollowsTheTargetThenTheEnvironment) {
    struct Case {
        std::vector<const char*> arguments;
        const char* socket;
        const char* display;
        const char* daemonWindow;
        SaverBackend backend;
        X11Target target;
    };
    const Case cases[] = {
        // Nothing set: an X11 window of our own.
        {{}, nullptr, nullptr, nullptr, SaverBackend::X11, X11Target::OwnWindow},
        // A Wayland session: our own xdg_toplevel.
        {{}, nullptr, "wayland-1", nullptr, SaverBackend::Wayland, X11Target::OwnWindow},
        {{"-fullscreen"}, nullptr, "wayland-1", nullptr, SaverBackend::Wayland,
         X11Target::FullScreen},
        // A screen saver daemon's window, without arguments (MATE): the X
        // window wins over a Wayland session around it.
        {{}, nullptr, "wayland-1", "0x1400003", SaverBackend::X11, X11Target::Root},
        {{}, nullptr, nullptr, "0x1400003", SaverBackend::X11, X11Target::Root},
        // ... but a target named on the command line is kept.
        {{"-window"}, nullptr, nullptr, "0x1400003", SaverBackend::X11, X11Target::OwnWindow},
        // A screen locker hands its connection over: its background.
        {{}, "7", nullptr, nullptr, SaverBackend::Wayland, X11Target::LockPlugin},
        {{}, "7", "wayland-1", nullptr, SaverBackend::Wayland, X11Target::LockPlugin},
        {{"-overlay"}, "7", nullptr, nullptr, SaverBackend::Wayland, X11Target::Overlay},
        // The layer-shell targets need Wayland, the X window targets X11.
        {{"-background"}, nullptr, nullptr, nullptr, SaverBackend::Wayland,
         X11Target::Background},
        {{"-root"}, nullptr, "wayland-1", nullptr, SaverBackend::X11, X11Target::Root},
        {{"-window-id", "9"}, "7", "wayland-1", nullptr, SaverBackend::X11, X11Target::WindowId},
        // -display names an X display; -x11 and -wayland override the rest.
        {{"-display", ":1"}, nullptr, "wayland-1", nullptr, SaverBackend::X11,
         X11Target::OwnWindow},
        {{"-x11"}, "7", "wayland-1", nullptr, SaverBackend::X11, X11Target::OwnWindow},
        {{"-wayland"}, nullptr, nullptr, "0x1400003", SaverBackend::Wayland, X11Target::OwnWindow},
        // Empty variables count as unset.
        {{}, "", "", "", SaverBackend::X11, X11Target::OwnWindow},
    };
    for (const Case& c : cases) {
        const Launch launch = Resolve(c.arguments, c.socket, c.display, c.daemonWindow);
        const std::string name = (c.arguments.empty() ? std::string("(none)") : c.arguments[0]) +
                                 " socket=" + (c.socket ? c.socket : "-") +
                                 " display=" + (c.display ? c.display : "-") +
                                 " window=" + (c.daemonWindow ? c.daemonWindow : "-");
        ASSERT_TRUE(launch.resolved) << name << ": " << launch.error;
        EXPECT_EQ(launch.options.backend, c.backend) << name;
        EXPECT_EQ(launch.options.target, c.target) << name;
    }
}

TEST(X11Options, NamingTheOtherWindowSystemIsOneLineNamingTheTarget) {
    const std::vector<std::pair<std::vector<const char*>, std::string>> bad = {
        {{"-x11", "-background"}, "-background"},
        {{"-overlay", "-x11"}, "-overlay"},
        {{"-wayland", "-root"}, "-root"},
        {{"-window-id", "5", "-wayland"}, "-window-id"},
    };
    for (const auto& [arguments, target] : bad) {
        const Launch launch = Resolve(arguments, nullptr, "wayland-1", nullptr);
        EXPECT_FALSE(launch.resolved) << target;
        EXPECT_NE(launch.error.find(target), std::string::npos) << launch.error;
        EXPECT_EQ(launch.error.find('\n'), std::string::npos) << launch.error;
    }
}

}  // namespace
