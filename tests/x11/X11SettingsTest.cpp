// The Linux saver's settings file: where it lives, and that libinih plus the
// Windows saver's number reader give the same values the Windows saver gets.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/Settings.h"
#include "x11/X11Settings.h"

namespace {

TEST(X11SettingsPath, XdgConfigHomeThenHome) {
    EXPECT_EQ(X11SettingsPath("/xdg", "/home/u"), "/xdg/glidescape/Glidescp.ini");
    EXPECT_EQ(X11SettingsPath(nullptr, "/home/u"), "/home/u/.config/glidescape/Glidescp.ini");
    EXPECT_EQ(X11SettingsPath("", "/home/u"), "/home/u/.config/glidescape/Glidescp.ini");
    EXPECT_EQ(X11SettingsPath("relative", "/home/u"), "/home/u/.config/glidescape/Glidescp.ini");
    EXPECT_EQ(X11SettingsPath(nullptr, nullptr), "");
    EXPECT_EQ(X11SettingsPath(nullptr, ""), "");
}

class X11SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/glidescape-ini-XXXXXX";
        const int fd = mkstemp(pattern);
        ASSERT_GE(fd, 0);
        close(fd);
        path_ = pattern;
    }
    void TearDown() override { std::remove(path_.c_str()); }
    void Write(const char* text) {
        std::FILE* file = std::fopen(path_.c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fputs(text, file);
        std::fclose(file);
    }
    std::string path_;
    Settings s;
};

TEST_F(X11SettingsFile, MissingFileGivesDefaults) {
    s.flightSpeed = 77;
    EXPECT_TRUE(LoadX11Settings("/nonexistent/glidescape/Glidescp.ini", s));
    EXPECT_EQ(s.flightSpeed, 25);
    EXPECT_TRUE(LoadX11Settings("", s));
    EXPECT_EQ(s.landSize, 10);
}

TEST_F(X11SettingsFile, GoodValuesAreTaken) {
    Write(
        "[Glidescape]\nFlight Speed=100\nLand Size=12\nObject Count=0\nOutput Width=128\n"
        "Newland Wait=0\nAutoPilot Intensity=200\nTilt=-128\n");
    EXPECT_TRUE(LoadX11Settings(path_, s));
    EXPECT_EQ(s.flightSpeed, 100);
    EXPECT_EQ(s.landSize, 12);
    EXPECT_EQ(s.objectCount, 0);
    EXPECT_EQ(s.outputWidth, 128);
    EXPECT_EQ(s.newlandWait, 0);
    EXPECT_EQ(s.autoPilotIntensity, 200);
    EXPECT_EQ(s.tilt, -128);
}

TEST_F(X11SettingsFile, OutOfRangeNonNumericEmptyAndMissingValues) {
    Write(
        "; written by hand\n"
        "[Glidescape]\n"
        "Flight Speed = 101\n"        // out of range: fall-back 25, not 100
        "Land Size=13\n"              // out of range
        "Object Count=lots\n"         // not a number: default
        "Output Width=\n"             // empty: default
        "Newland Wait=99999999999\n"  // beyond 32 bits: default, as out of range
        "Tilt=\t-129 \n");            // blanks allowed; out of range
    // AutoPilot Intensity missing: default.
    EXPECT_TRUE(LoadX11Settings(path_, s));
    EXPECT_EQ(s.flightSpeed, 25);
    EXPECT_EQ(s.landSize, 10);
    EXPECT_EQ(s.objectCount, 6);
    EXPECT_EQ(s.outputWidth, 512);
    EXPECT_EQ(s.newlandWait, 1200);
    EXPECT_EQ(s.autoPilotIntensity, 30);
    EXPECT_EQ(s.tilt, 0);
}

TEST_F(X11SettingsFile, SectionAndKeysIgnoreCaseFirstValueCountsOtherSectionsIgnored) {
    Write(
        "[Other]\nFlight Speed=5\n"
        "[glidescape]\nflight speed=7\nFLIGHT SPEED=9\nLand Size=8 ; comment\n"
        "not a line\n"
        "Object Count=3\n");
    LoadX11Settings(path_, s);
    EXPECT_EQ(s.flightSpeed, 7);
    EXPECT_EQ(s.landSize, 8);
    EXPECT_EQ(s.objectCount, 3);  // a malformed line does not end the reading
}

TEST_F(X11SettingsFile, UnreadableFileReportsAndGivesDefaults) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads any file";
    Write("[Glidescape]\nFlight Speed=5\n");
    ASSERT_EQ(chmod(path_.c_str(), 0), 0);
    EXPECT_FALSE(LoadX11Settings(path_, s));
    EXPECT_EQ(s.flightSpeed, 25);
}

}  // namespace
