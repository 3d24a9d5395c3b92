// The Linux saver's settings file: where it lives, and that libinih plus the
// Windows saver's number reader give the same values the Windows saver gets.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/Settings.h"
#include "x11/HistoryFile.h"
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
    void Write(const std::string& text) {
        std::FILE* file = std::fopen(path_.c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }
    std::string path_;
    Settings s;
};

TEST_F(X11SettingsFile, MissingFileGivesDefaults) {
    s.flightSpeed = 77;
    EXPECT_TRUE(LoadX11Settings("/nonexistent/glidescape/Glidescp.ini", s).readable);
    EXPECT_EQ(s.flightSpeed, 25);
    EXPECT_TRUE(LoadX11Settings("", s).readable);
    EXPECT_EQ(s.landSize, 10);
}

TEST_F(X11SettingsFile, GoodValuesAreTaken) {
    Write(
        "[Glidescape]\nFlight Speed=100\nLand Size=12\nObject Count=0\nOutput Width=128\n"
        "Newland Wait=0\nAutoPilot Intensity=200\nTilt=-128\n");
    EXPECT_TRUE(LoadX11Settings(path_, s).readable);
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
    EXPECT_TRUE(LoadX11Settings(path_, s).readable);
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
    const X11SettingsLoad load = LoadX11Settings(path_, s);
    EXPECT_FALSE(load.readable);
    ASSERT_EQ(load.notices.size(), 1u);
    EXPECT_EQ(load.notices[0], "cannot read " + path_ + ": Permission denied; using the defaults");
    EXPECT_EQ(s.flightSpeed, 25);
}

// The longest line libinih takes, as the notice about a longer one says.
size_t LongestLine(const X11SettingsLoad& load) {
    if (load.notices.empty()) return 0;
    const std::string& notice = load.notices[0];
    const size_t at = notice.find("longer than ");
    return at == std::string::npos ? 0 : std::stoul(notice.substr(at + 12));
}

TEST_F(X11SettingsFile, LongLinesAreIgnoredWholeNeverReadInPieces) {
    // A commented-out setting at the end of a long comment stays a comment.
    const std::string comment = ";" + std::string(198, 'x') + "Output Width=300";
    Write("[Glidescape]\n" + comment + "\nTilt=5\n");
    X11SettingsLoad load = LoadX11Settings(path_, s);
    EXPECT_TRUE(load.readable);
    EXPECT_EQ(s.outputWidth, 512);
    EXPECT_EQ(s.tilt, 5);  // the next line still counts
    ASSERT_EQ(load.notices.size(), 1u);
    const size_t longest = LongestLine(load);
    EXPECT_EQ(load.notices[0],
              "ignored line 2 of " + path_ + ": longer than " + std::to_string(longest) + " bytes");
    ASSERT_GE(longest, 20u);
    ASSERT_LT(longest, comment.size());

    // At the limit a line is read; one byte more and it is ignored, setting
    // and all (also where the newline is a CRLF or the file ends).
    const auto padded = [](const std::string& line, size_t length) {
        return line + std::string(length - line.size(), ' ');
    };
    Write("[Glidescape]\n" + padded("Output Width=300", longest) + "\r\n" +
          padded("Land Size=8", longest - 1) + "\r\n" + std::string(longest, ';') + "Tilt=5");
    load = LoadX11Settings(path_, s);
    EXPECT_EQ(s.outputWidth, 512);
    EXPECT_EQ(s.landSize, 8);
    EXPECT_EQ(s.tilt, 0);
    ASSERT_EQ(load.notices.size(), 1u);
    EXPECT_EQ(load.notices[0], "ignored 2 lines of " + path_ + " longer than " +
                                   std::to_string(longest) + " bytes (the first is line 2)");

    Write("[Glidescape]\n" + padded("Output Width=300", longest) + "\n");
    load = LoadX11Settings(path_, s);
    EXPECT_EQ(s.outputWidth, 300);
    EXPECT_TRUE(load.notices.empty());
}

TEST_F(X11SettingsFile, NulBytesEndTheirLineNotTheFile) {
    Write("[Glidescape]\nTilt=5" + std::string(1, '\0') + "Land Size=7\nFlight Speed=40\n");
    EXPECT_TRUE(LoadX11Settings(path_, s).readable);
    EXPECT_EQ(s.tilt, 5);
    EXPECT_EQ(s.landSize, 10);
    EXPECT_EQ(s.flightSpeed, 40);
}

TEST_F(X11SettingsFile, AtMostOneMebibyteIsRead) {
    const std::string head = "[Glidescape]\nLand Size=8\n";
    std::string text = head + std::string(kMaxX11SettingsBytes - head.size() - 1, ';') + "\n";
    ASSERT_EQ(text.size(), kMaxX11SettingsBytes);
    // (one long comment line, ignored)
    Write(text);
    X11SettingsLoad load = LoadX11Settings(path_, s);
    EXPECT_TRUE(load.readable);
    EXPECT_EQ(s.landSize, 8);

    Write(text + "\n");
    s.landSize = 9;
    load = LoadX11Settings(path_, s);
    EXPECT_FALSE(load.readable);
    EXPECT_EQ(s.landSize, 10);
    EXPECT_EQ(load.notices,
              std::vector<std::string>{"cannot read " + path_ +
                                       ": larger than 1 MiB; using the defaults"});

    // Many short keys within the limit: those not in the table are passed over.
    text = "[Glidescape]\n";
    for (int i = 0; text.size() < kMaxX11SettingsBytes - 32; ++i) {
        text += "Key" + std::to_string(i) + "=" + std::to_string(i) + "\n";
    }
    Write(text + "Tilt=9\n");
    load = LoadX11Settings(path_, s);
    EXPECT_TRUE(load.readable);
    EXPECT_TRUE(load.notices.empty());
    EXPECT_EQ(s.tilt, 9);
}

// What stands at the settings file's place instead of a regular file.
class X11SettingsPlace : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/glidescape-place-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        path_ = folder_ + "/Glidescp.ini";
    }
    void TearDown() override {
        unlink(path_.c_str());
        unlink((folder_ + "/other").c_str());
        rmdir(path_.c_str());
        rmdir(folder_.c_str());
    }
    // Loads from the place: refused with the one line, every setting its default.
    void ExpectRefused(const std::string& reason) {
        Settings s;
        s.tilt = 9;
        const X11SettingsLoad load = LoadX11Settings(path_, s);
        EXPECT_FALSE(load.readable);
        EXPECT_EQ(s.tilt, 0);
        EXPECT_EQ(load.notices, std::vector<std::string>{"cannot read " + path_ + ": " + reason +
                                                         "; using the defaults"});
    }
    std::string folder_;
    std::string path_;
};

TEST_F(X11SettingsPlace, DirectoryFifoDeviceAndLinkLoopAreRefusedAtOnce) {
    ASSERT_EQ(mkdir(path_.c_str(), 0700), 0);
    ExpectRefused("Is a directory");
    ASSERT_EQ(rmdir(path_.c_str()), 0);

    // Without a writer, a blocking open would wait here for ever (the test
    // would then fail by its time limit).
    ASSERT_EQ(mkfifo(path_.c_str(), 0600), 0);
    ExpectRefused("not a regular file");
    ASSERT_EQ(unlink(path_.c_str()), 0);

    // Endless reading.
    ASSERT_EQ(symlink("/dev/zero", path_.c_str()), 0);
    ExpectRefused("not a regular file");
    ASSERT_EQ(unlink(path_.c_str()), 0);

    ASSERT_EQ(symlink("other", path_.c_str()), 0);
    ASSERT_EQ(symlink("Glidescp.ini", (folder_ + "/other").c_str()), 0);
    ExpectRefused("Too many levels of symbolic links");
    ASSERT_EQ(unlink(path_.c_str()), 0);

    // A dangling link is a missing file.
    ASSERT_EQ(symlink("nowhere", path_.c_str()), 0);
    Settings s;
    const X11SettingsLoad load = LoadX11Settings(path_, s);
    EXPECT_TRUE(load.readable);
    EXPECT_TRUE(load.notices.empty());
}

}  // namespace

// The landscape history file: made with its folder, the last lines kept,
// replaced in one step.
namespace {

TEST(HistoryFile, PathFollowsXdgStateHome) {
    EXPECT_EQ(HistoryFilePath("/state", "/home/a"), "/state/glidescape/history");
    EXPECT_EQ(HistoryFilePath("relative", "/home/a"), "/home/a/.local/state/glidescape/history");
    EXPECT_EQ(HistoryFilePath(nullptr, nullptr), "");
}

TEST(HistoryFile, MadeWithItsFoldersAndKeepsTheLastLines) {
    char pattern[] = "/tmp/glidescape-history-XXXXXX";
    const std::string root = mkdtemp(pattern);
    const std::string path = root + "/a/b/glidescape/history";
    for (int i = 0; i < 55; ++i) ASSERT_TRUE(AddToHistoryFile(path, "line " + std::to_string(i)));
    std::ifstream in(path);
    std::string first;
    std::getline(in, first);
    EXPECT_EQ(first, "line 5");
    int lines = 1;
    for (std::string line; std::getline(in, line);) ++lines;
    EXPECT_EQ(lines, 50);
    // Nothing else left in the folder (no temporary files).
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(root + "/a/b/glidescape")) {
        (void)entry;
        ++entries;
    }
    EXPECT_EQ(entries, 1);
    // A folder that cannot be made: false, nothing else.
    EXPECT_FALSE(AddToHistoryFile(path + "/x/history", "y"));
    std::filesystem::remove_all(root);
}

}  // namespace
