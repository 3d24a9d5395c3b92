// glidescape-render's outputs when things go wrong: a signal in the middle
// of a write, names as long as the folder allows, loops of links, a run that
// fails after it made the folder for its frames.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/Scratch.h"
#include "render/ImageWriter.h"
#include "render/OutputFile.h"
#include "render/RenderOptions.h"
#include "render/RenderRun.h"
#include "render/SignalCleanup.h"
#include "tests/render/RenderTestFiles.h"

namespace fs = std::filesystem;

namespace {

std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool WriteSmallFrame(const fs::path& path, std::string& error) {
    const uint32_t pixels[6] = {0xFF102030, 0xFF405060, 0xFF708090,
                                0xFFA0B0C0, 0xFFD0E0F0, 0xFF000000};
    return WriteFramePng(path.string(), pixels, 3, 2, error);
}

// --- Temporary names --------------------------------------------------------

TEST(TemporaryName, FitsWheneverTheNameDoes) {
    EXPECT_EQ(TemporaryNameFor("frame.png", 255), ".frame.png.XXXXXX");
    EXPECT_EQ(TemporaryNameFor("frame.png", 17), ".frame.png.XXXXXX");
    EXPECT_EQ(TemporaryNameFor("frame.png", 16), ".frame.pn.XXXXXX");
    EXPECT_EQ(TemporaryNameFor("frame.png", -1), ".frame.png.XXXXXX");  // no limit known
    for (size_t length = 240; length <= 255; ++length) {
        const std::string name(length, 'n');
        const std::string temporary = TemporaryNameFor(name, 255);
        EXPECT_LE(temporary.size(), 255u) << length;
        EXPECT_EQ(temporary.front(), '.');
        EXPECT_EQ(temporary.compare(temporary.size() - 7, 7, ".XXXXXX"), 0) << temporary;
    }
    // Two-byte characters are never cut in half: the kept part is whole
    // characters, at most 247 bytes.
    std::string wide;
    for (int i = 0; i < 127; ++i) wide += "\xC3\xA9";  // 254 bytes
    const std::string temporary = TemporaryNameFor(wide, 255);
    EXPECT_EQ(temporary, "." + wide.substr(0, 246) + ".XXXXXX");
}

TEST(TemporaryName, EveryNameTheFolderTakesIsWritten) {
    TempDir dir;
    const long nameMax = pathconf(dir.path().c_str(), _PC_NAME_MAX);
    if (nameMax < 16 || nameMax > 4096) GTEST_SKIP() << "name limit " << nameMax;
    std::string wide;
    while (wide.size() + 2 + 4 <= static_cast<size_t>(nameMax)) wide += "\xC3\xA9";
    const std::vector<std::string> names = {
        std::string(static_cast<size_t>(nameMax) - 8 - 4, 'a') + ".png",  // the old limit
        std::string(static_cast<size_t>(nameMax) - 7 - 4, 'b') + ".png",  // one beyond it
        std::string(static_cast<size_t>(nameMax) - 4, 'c') + ".png",      // the longest
        wide + ".png"};
    std::string error;
    for (const std::string& name : names) {
        EXPECT_TRUE(WriteSmallFrame(dir.path() / name, error)) << error;
        EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{name});
        EXPECT_GT(fs::file_size(dir.path() / name), 0u);
        fs::remove(dir.path() / name);
    }
    // One byte beyond the limit is the system's error, and nothing is left.
    const std::string tooLong = std::string(static_cast<size_t>(nameMax) - 3, 'd') + ".png";
    EXPECT_FALSE(WriteSmallFrame(dir.path() / tooLong, error));
    EXPECT_NE(error.find("File name too long"), std::string::npos) << error;
    EXPECT_TRUE(Listing(dir.path()).empty());
}

// --- Links ------------------------------------------------------------------

TEST(OutputLinks, ALoopIsAnErrorAndStays) {
    TempDir dir;
    fs::create_symlink("self.png", dir.path() / "self.png");
    fs::create_symlink("b.png", dir.path() / "a.png");
    fs::create_symlink("a.png", dir.path() / "b.png");
    std::string error;
    for (const char* name : {"self.png", "a.png"}) {
        const fs::path path = dir.path() / name;
        EXPECT_FALSE(WriteSmallFrame(path, error)) << name;
        EXPECT_EQ(error, "cannot write " + path.string() + ": Too many levels of symbolic links");
    }
    EXPECT_EQ(fs::read_symlink(dir.path() / "self.png"), "self.png");
    EXPECT_EQ(fs::read_symlink(dir.path() / "a.png"), "b.png");
    EXPECT_EQ(fs::read_symlink(dir.path() / "b.png"), "a.png");
    EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"a.png", "b.png", "self.png"}));
}

TEST(OutputLinks, ADanglingLinkWritesTheFileItNames) {
    TempDir dir;
    fs::create_directory(dir.path() / "sub");
    fs::create_symlink("sub/hop.png", dir.path() / "first.png");
    fs::create_symlink("target.png", dir.path() / "sub/hop.png");  // relative to sub/
    std::string error;
    ASSERT_TRUE(WriteSmallFrame(dir.path() / "first.png", error)) << error;
    EXPECT_TRUE(fs::is_symlink(dir.path() / "first.png"));
    EXPECT_TRUE(fs::is_symlink(dir.path() / "sub/hop.png"));
    EXPECT_GT(fs::file_size(dir.path() / "sub/target.png"), 0u);
    EXPECT_EQ(Listing(dir.path() / "sub"), (std::vector<std::string>{"hop.png", "target.png"}));
}

// --- Folders for the frames -------------------------------------------------

TEST(MadeFolders, OnlyWhatWasMadeGoesAndOnlyWhenEmpty) {
    TempDir dir;
    const fs::path nest = dir.path() / "a/b/c";
    std::string error;
    {
        MadeFolders folders;
        ASSERT_TRUE(folders.Make(nest.string() + "//", error)) << error;
        EXPECT_TRUE(fs::is_directory(nest));
        EXPECT_EQ(folders.made(),
                  (std::vector<std::string>{(dir.path() / "a").string(), (dir.path() / "a/b").string(),
                                            nest.string()}));
    }
    EXPECT_TRUE(Listing(dir.path()).empty());
    {
        fs::create_directory(dir.path() / "a");  // there before: stays
        MadeFolders folders;
        ASSERT_TRUE(folders.Make(nest.string(), error)) << error;
        std::ofstream(dir.path() / "a/b/kept") << "x";  // b is not empty: stays, c goes
    }
    EXPECT_EQ(Listing(dir.path() / "a"), std::vector<std::string>{"b"});
    EXPECT_EQ(Listing(dir.path() / "a/b"), std::vector<std::string>{"kept"});
    {
        MadeFolders folders;
        ASSERT_TRUE(folders.Make((dir.path() / "x/y").string(), error)) << error;
        folders.Keep();
    }
    EXPECT_TRUE(fs::is_directory(dir.path() / "x/y"));
    // A file in the way: one line, nothing made.
    MadeFolders folders;
    EXPECT_FALSE(folders.Make((dir.path() / "a/b/kept/z").string(), error));
    EXPECT_EQ(error,
              "cannot make folder " + (dir.path() / "a/b/kept/z").string() + ": Not a directory");
    EXPECT_FALSE(folders.Make((dir.path() / "a/b/kept").string(), error));
    EXPECT_TRUE(folders.made().empty());
}

// Every run that fails for memory after it made the frames' folder removes
// it again (the parts it made), unless whole frames were written into it.
TEST(MadeFolders, ARunThatLacksMemoryTakesItsEmptyFolderAway) {
    TempDir dir;
    const fs::path nest = dir.path() / "a/b/c";
    const std::string nestText = nest.string();
    RenderOptions options;
    std::string error;
    std::vector<const char*> args = {"glidescape-render",
                                     "--land-size",
                                     "6",
                                     "--output-width",
                                     "128",
                                     "--client",
                                     "128x96",
                                     "--ticks",
                                     "3",
                                     "--land-seed",
                                     "5",
                                     "--view-seed",
                                     "6",
                                     "--png-dir"};
    args.push_back(nestText.c_str());
    ASSERT_EQ(ParseRenderOptions(static_cast<int>(args.size()), args.data(), options, error),
              ParseResult::Run)
        << error;
    // The exit code with `allowed` allocations, and whether the run failed
    // after it made the folder (the folder is made once the flight exists).
    const auto run = [&](int32_t allowed, bool& afterTheFolder) {
        std::FILE* errors = std::tmpfile();
        if (errors == nullptr) return -1;
        scratch::FailAllocationsAfter(allowed);
        const int code = RunRender(options, errors);
        scratch::FailAllocationsAfter(-1);
        std::rewind(errors);
        char line[512] = {};
        (void)std::fgets(line, sizeof line, errors);
        std::fclose(errors);
        afterTheFolder = code == 1 && std::string(line).find("land maps, the frame or the view") ==
                                          std::string::npos;
        return code;
    };
    int failedAfterTheFolder = 0;
    int32_t allowed = 0;
    for (bool after = false; allowed < 5000; ++allowed) {
        const int code = run(allowed, after);
        if (code == 0) break;
        ASSERT_EQ(code, 1) << allowed;
        if (!fs::exists(dir.path() / "a")) {
            if (after) ++failedAfterTheFolder;
            continue;
        }
        // Frames written before the failure stay, whole, and nothing else.
        for (const std::string& name : Listing(nest)) {
            EXPECT_EQ(name.rfind("frame-", 0), 0u) << name;
        }
        fs::remove_all(dir.path() / "a");
    }
    EXPECT_LT(allowed, 5000) << "the run never succeeded";
    EXPECT_GT(failedAfterTheFolder, 0);
    // A parent that was there before stays. (One tick only makes the land:
    // no frame is written before any failure.)
    options.ticks = 1;
    fs::remove_all(dir.path() / "a");  // the successful run's frames
    fs::create_directory(dir.path() / "a");
    bool after = false;
    for (allowed = 0; allowed < 5000 && !after; ++allowed) ASSERT_EQ(run(allowed, after), 1);
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"a"});
    EXPECT_TRUE(Listing(dir.path() / "a").empty());
}

// --- Signals ----------------------------------------------------------------

// In a child process: makes a folder, optionally writes a whole frame into
// it, starts replacing `old.png` and then sends itself `signal`.
[[noreturn]] void InterruptedWrite(const fs::path& dir, int signal, bool frameFirst) {
    alarm(60);  // a signal that is not acted on fails the test instead of hanging it
    if (!StartSignalCleanup()) _exit(10);
    MadeFolders folders;
    std::string error;
    if (!folders.Make((dir / "made/frames").string(), error)) _exit(11);
    if (frameFirst && !WriteSmallFrame(dir / "made/frames/done.png", error)) _exit(12);
    OutputFile output;
    const fs::path target = frameFirst ? dir / "old.png" : dir / "made/frames/new.png";
    if (!output.Open(target.string(), error)) _exit(13);
    std::fputs("the first part of a picture", output.stream());
    std::fflush(output.stream());
    kill(getpid(), signal);
    for (;;) pause();
}

int WaitFor(pid_t child) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
    }
    return status;
}

TEST(SignalCleanup, ASignalRemovesTheTemporaryFileAndTheEmptyFoldersMade) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        for (const bool frameFirst : {false, true}) {
            SCOPED_TRACE(testing::Message()
                         << "signal " << signal << ", frame first " << frameFirst);
            TempDir dir;
            std::ofstream(dir.path() / "old.png") << "old picture";
            std::fflush(nullptr);
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) InterruptedWrite(dir.path(), signal, frameFirst);
            const int status = WaitFor(child);
            ASSERT_TRUE(WIFSIGNALED(status)) << "exit " << WEXITSTATUS(status);
            EXPECT_EQ(WTERMSIG(status), signal);
            EXPECT_EQ(Contents(dir.path() / "old.png"), "old picture");
            if (frameFirst) {
                EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"made", "old.png"}));
                EXPECT_EQ(Listing(dir.path() / "made/frames"), std::vector<std::string>{"done.png"});
            } else {
                EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"old.png"});
            }
        }
    }
}

TEST(SignalCleanup, ASignalStartedIgnoredStaysIgnored) {
    TempDir dir;
    std::fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(60);
        signal(SIGHUP, SIG_IGN);  // as nohup starts a program
        if (!StartSignalCleanup()) _exit(10);
        OutputFile output;
        std::string error;
        if (!output.Open((dir.path() / "out.raw").string(), error)) _exit(11);
        std::fputs("words", output.stream());
        kill(getpid(), SIGHUP);
        _exit(output.Commit(true, "", error) ? 0 : 12);
    }
    const int status = WaitFor(child);
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(Contents(dir.path() / "out.raw"), "words");
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"out.raw"});
}

}  // namespace
