// glidescape-render: option parsing, output formats and a whole run.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/FrameLoop.h"
#include "app/History.h"
#include "app/Settings.h"
#include "render/ImageWriter.h"
#include "render/RenderOptions.h"
#include "render/RenderRun.h"
#include "tests/app/TestPlatform.h"
#include "tests/render/RenderTestFiles.h"

namespace fs = std::filesystem;

namespace {

ParseResult Parse(std::vector<const char*> args, RenderOptions& options, std::string& error) {
    args.insert(args.begin(), "glidescape-render");
    return ParseRenderOptions(static_cast<int>(args.size()), args.data(), options, error);
}

// The error line for `args`, or "" when they parse.
std::string ErrorOf(std::vector<const char*> args) {
    RenderOptions options;
    std::string error;
    return Parse(std::move(args), options, error) == ParseResult::Error ? error : "";
}

std::vector<uint8_t> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<uint32_t> LittleEndianWords(const std::vector<uint8_t>& bytes) {
    std::vector<uint32_t> words(bytes.size() / 4);
    for (size_t i = 0; i < words.size(); ++i) {
        words[i] = bytes[i * 4] | (bytes[i * 4 + 1] << 8) | (bytes[i * 4 + 2] << 16) |
                   (static_cast<uint32_t>(bytes[i * 4 + 3]) << 24);
    }
    return words;
}

struct Picture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgb;  // top row first
    uint32_t At(uint32_t x, uint32_t y) const {
        const size_t i = (static_cast<size_t>(y) * width + x) * 3;
        return (uint32_t{rgb[i]} << 16) | (uint32_t{rgb[i + 1]} << 8) | rgb[i + 2];
    }
};

Picture ReadPng(const fs::path& path) {
    Picture picture;
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path.c_str()) == 0) return picture;
    image.format = PNG_FORMAT_RGB;
    picture.rgb.resize(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr) == 0) {
        return Picture{};
    }
    picture.width = image.width;
    picture.height = image.height;
    return picture;
}

class RenderRunTest : public ::testing::Test {
protected:
    // A small, fixed flight plus `extra` options.
    int Run(std::vector<const char*> extra) {
        std::vector<const char*> args = {"--land-size", "6",      "--output-width", "128",
                                         "--client",    "128x96", "--land-seed",    "31",
                                         "--view-seed", "17",     "--ticks",        "3"};
        args.insert(args.end(), extra.begin(), extra.end());
        RenderOptions options;
        std::string error;
        if (Parse(args, options, error) != ParseResult::Run) {
            ADD_FAILURE() << error;
            return -1;
        }
        return RunRender(options, nullptr);
    }
    TempDir dir;
};

// The settings a run flies with: the options over the defaults, clamped.
Settings Applied(const RenderOptions& options) {
    Settings settings;
    options.settings.ApplyTo(settings);
    return settings;
}

bool SameSettings(const Settings& a, const Settings& b) {
    for (const SettingEntry& entry : kSettings) {
        if (a.*entry.field != b.*entry.field) return false;
    }
    return true;
}

TEST(RenderOptionsParse, DefaultsAreTheSettingsDefaults) {
    RenderOptions options;
    std::string error;
    ASSERT_EQ(Parse({}, options, error), ParseResult::Run);
    EXPECT_TRUE(SameSettings(Applied(options), Settings{}));
    EXPECT_FALSE(options.hasLandSeed || options.hasViewSeed);
    EXPECT_EQ(options.clientWidth, 1024);
    EXPECT_EQ(options.clientHeight, 768);
    EXPECT_EQ(options.ticks, 250);
    EXPECT_EQ(options.threads, 0);  // the machine's cores
    EXPECT_FALSE(options.workerGeneration);
    EXPECT_EQ(options.pngEvery, 1);
    EXPECT_TRUE(options.frameOut.empty());
}

TEST(RenderOptionsParse, EveryOptionInBothSpellings) {
    RenderOptions o;
    std::string error;
    ASSERT_EQ(Parse({"--land-size",
                     "7",
                     "--land-seed=4294967295",
                     "--view-seed",
                     "0",
                     "--output-width",
                     "300",
                     "--client=640x480",
                     "--objects",
                     "0",
                     "--speed",
                     "100",
                     "--autopilot",
                     "200",
                     "--tilt=-128",
                     "--newland-wait",
                     "3",
                     "--ticks",
                     "0",
                     "--frame-out",
                     "f.raw",
                     "--heights-out",
                     "h.png",
                     "--colours-out",
                     "c.raw",
                     "--png-dir",
                     "d",
                     "--png-every",
                     "5",
                     "--threads=3",
                     "--generation",
                     "worker"},
                    o, error),
              ParseResult::Run)
        << error;
    const Settings applied = Applied(o);
    EXPECT_EQ(applied.landSize, 7);
    EXPECT_EQ(o.landSeed, 4294967295u);
    EXPECT_TRUE(o.hasViewSeed);
    EXPECT_EQ(o.viewSeed, 0u);
    EXPECT_EQ(applied.outputWidth, 300);
    EXPECT_EQ(o.clientWidth, 640);
    EXPECT_EQ(o.clientHeight, 480);
    EXPECT_EQ(applied.objectCount, 0);
    EXPECT_EQ(applied.flightSpeed, 100);
    EXPECT_EQ(applied.autoPilotIntensity, 200);
    EXPECT_EQ(applied.tilt, -128);
    EXPECT_EQ(applied.newlandWait, 3);
    EXPECT_EQ(o.ticks, 0);
    EXPECT_EQ(o.frameOut, "f.raw");
    EXPECT_EQ(o.heightsOut, "h.png");
    EXPECT_EQ(o.coloursOut, "c.raw");
    EXPECT_EQ(o.pngDir, "d");
    EXPECT_EQ(o.pngEvery, 5);
    EXPECT_EQ(o.threads, 3);
    EXPECT_TRUE(o.workerGeneration);
    ASSERT_EQ(Parse({"--generation=inline"}, o, error), ParseResult::Run) << error;
    EXPECT_FALSE(o.workerGeneration);
}

TEST(RenderOptionsParse, OutOfRangeSettingsFallBackAsInTheIniFile) {
    RenderOptions o;
    std::string error;
    ASSERT_EQ(Parse({"--land-size", "13", "--speed", "-4", "--tilt", "9"}, o, error),
              ParseResult::Run);
    const Settings applied = Applied(o);
    EXPECT_EQ(applied.landSize, 10);
    EXPECT_EQ(applied.flightSpeed, 25);
    EXPECT_EQ(applied.tilt, 9);
}

// The settings options read their values as the INI reader does: blanks and
// tabs around, a sign; beyond 32 bits is out of range: the fall-back.
TEST(RenderOptionsParse, SettingsReadAsInTheIniFile) {
    RenderOptions o;
    std::string error;
    ASSERT_EQ(Parse({"--objects", " 3", "--speed", "+7\t", "--tilt", "99999999999",
                     "--newland-wait=-99999999999999999999", "--land-size", "12"},
                    o, error),
              ParseResult::Run)
        << error;
    Settings applied = Applied(o);
    EXPECT_EQ(applied.objectCount, 3);
    EXPECT_EQ(applied.flightSpeed, 7);
    EXPECT_EQ(applied.tilt, 0);
    EXPECT_EQ(applied.newlandWait, 1200);
    EXPECT_EQ(applied.landSize, 12);
    // The last value given counts, also one beyond 32 bits.
    ASSERT_EQ(Parse({"--tilt", "5", "--tilt", "2147483648"}, o, error), ParseResult::Run);
    EXPECT_EQ(Applied(o).tilt, 0);
}

TEST(RenderOptionsParse, HelpWins) {
    RenderOptions o;
    std::string error;
    EXPECT_EQ(Parse({"--ticks", "3", "--help"}, o, error), ParseResult::Help);
    EXPECT_NE(std::string(RenderUsage()).find("--png-every"), std::string::npos);
}

TEST(RenderOptionsParse, ErrorsAreOneLineNamingTheOption) {
    struct Case {
        std::vector<const char*> args;
        const char* names;
    };
    const std::vector<Case> cases = {
        {{"--land-size", "ten"}, "--land-size"},
        {{"--land-size"}, "--land-size"},
        {{"--land-size", ""}, "--land-size"},
        {{"--speed", "1.5"}, "--speed"},
        {{"--tilt", "9 9"}, "--tilt"},
        {{"--objects", "0x3"}, "--objects"},
        {{"--client", "1024"}, "--client"},
        {{"--client", "0x768"}, "--client"},
        {{"--client", "1024x0"}, "--client"},
        {{"--client", "1024x-5"}, "--client"},
        {{"--client", "x"}, "--client"},
        {{"--ticks", "-1"}, "--ticks"},
        {{"--threads", "0"}, "--threads"},
        {{"--threads", "65"}, "--threads"},
        {{"--generation", "thread"}, "--generation"},
        {{"--generation", ""}, "--generation"},
        {{"--land-seed", "-1"}, "--land-seed"},
        {{"--view-seed", "4294967296"}, "--view-seed"},
        {{"--png-every", "0"}, "--png-every"},
        {{"--png-every", "2"}, "--png-every"},  // without --png-dir
        {{"--frame-out", ""}, "--frame-out"},
        {{"--frame-out="}, "--frame-out"},
        {{"--fly"}, "--fly"},
        {{"land.png"}, "land.png"},
        {{"--help=yes"}, "--help"},
        {{"--fly\nx"}, "--fly\\x0ax"},
        {{"--frame-out", "a\r.png", "--heights-out", "a\r.png"}, "a\\x0d.png"},
    };
    for (const Case& c : cases) {
        const std::string error = ErrorOf(c.args);
        EXPECT_NE(error.find(c.names), std::string::npos) << c.names << ": " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}

TEST(ImageWriter, PngPathsByExtension) {
    EXPECT_TRUE(IsPngPath("a.png"));
    EXPECT_TRUE(IsPngPath("dir/A.PNG"));
    EXPECT_FALSE(IsPngPath("a.png.raw"));
    EXPECT_FALSE(IsPngPath("png"));
    EXPECT_FALSE(IsPngPath("a.pn"));
}

TEST(ImageWriter, RawWordsAreLittleEndianInMemoryOrder) {
    TempDir dir;
    const uint32_t words[3] = {0x11223344u, 0xFF000080u, 0};
    std::string error;
    ASSERT_TRUE(WriteRawWords(dir / "w.raw", words, 3, error)) << error;
    const std::vector<uint8_t> bytes = ReadFile(dir / "w.raw");
    const std::vector<uint8_t> expected = {0x44, 0x33, 0x22, 0x11, 0x80, 0, 0, 0xFF, 0, 0, 0, 0};
    EXPECT_EQ(bytes, expected);
}

TEST(ImageWriter, FramePngIsTheRightWayUp) {
    TempDir dir;
    // 3 x 2 frame; row 0 is the bottom of the picture.
    const uint32_t frame[6] = {0xFFFF0000u, 0x00000000u, 0x00000000u,   // bottom: red at left
                               0x00000000u, 0x00000000u, 0x000000FFu};  // top: blue at right
    std::string error;
    ASSERT_TRUE(WriteFrame(dir / "f.png", frame, 3, 2, error)) << error;
    const Picture picture = ReadPng(dir / "f.png");
    ASSERT_EQ(picture.width, 3u);
    ASSERT_EQ(picture.height, 2u);
    EXPECT_EQ(picture.At(0, 1), 0xFF0000u);  // picture rows run top down
    EXPECT_EQ(picture.At(2, 0), 0x0000FFu);
    EXPECT_EQ(picture.At(0, 0), 0u);
}

TEST(ImageWriter, HeightsPngSpansBlackToWhite) {
    TempDir dir;
    const int32_t heights[4] = {25, 32, -10, 25};
    std::string error;
    ASSERT_TRUE(WriteHeights(dir / "h.png", heights, 2, 2, error)) << error;
    const Picture picture = ReadPng(dir / "h.png");
    ASSERT_EQ(picture.width, 2u);
    EXPECT_EQ(picture.At(0, 1), 0u);         // -10, the lowest
    EXPECT_EQ(picture.At(1, 0), 0xFFFFFFu);  // 32, the highest
    EXPECT_EQ(picture.At(0, 0), 0xD4D4D4u);  // 25: 35 * 255 / 42 = 212
}

TEST(ImageWriter, ColoursPngIsRowMajor) {
    TempDir dir;
    const uint32_t colours[4] = {0xFF102030u, 0, 0, 0x00405060u};
    std::string error;
    ASSERT_TRUE(WriteColours(dir / "c.png", colours, 2, 2, error)) << error;
    const Picture picture = ReadPng(dir / "c.png");
    EXPECT_EQ(picture.At(0, 0), 0x102030u);
    EXPECT_EQ(picture.At(1, 1), 0x405060u);
}

TEST(ImageWriter, UnwritablePathsFail) {
    const uint32_t word = 0;
    std::string error;
    TempDir dir;
    std::ofstream(dir / "file") << "x";
    for (const char* name : {"file/x.png", "file/x.raw"}) {
        error.clear();
        EXPECT_FALSE(WriteFrame(dir / name, &word, 1, 1, error));
        EXPECT_NE(error.find(dir / name), std::string::npos) << error;
    }
}

TEST_F(RenderRunTest, RawOutputsHaveTheirSizesAndValues) {
    ASSERT_EQ(Run({"--frame-out", (dir / "frame.raw").c_str(), "--heights-out",
                   (dir / "heights.raw").c_str(), "--colours-out", (dir / "colours.raw").c_str()}),
              0);
    const std::vector<uint8_t> frame = ReadFile(dir / "frame.raw");
    const std::vector<uint8_t> heights = ReadFile(dir / "heights.raw");
    const std::vector<uint8_t> colours = ReadFile(dir / "colours.raw");
    EXPECT_EQ(frame.size(), 128u * 96u * 4u);
    EXPECT_EQ(heights.size(), 64u * 64u * 4u);
    EXPECT_EQ(colours.size(), 64u * 64u * 4u);
    // Read little-endian, the heights are those of a finished landscape:
    // sea level 25 to land side / 2.
    const std::vector<uint32_t> h = LittleEndianWords(heights);
    EXPECT_EQ(*std::min_element(h.begin(), h.end()), 25u);
    EXPECT_EQ(*std::max_element(h.begin(), h.end()), 32u);
    for (uint32_t c : LittleEndianWords(colours)) ASSERT_EQ(c >> 24, 0xFFu);
}

TEST_F(RenderRunTest, PngFrameMatchesTheRawFrameUpsideDown) {
    ASSERT_EQ(Run({"--frame-out", (dir / "frame.raw").c_str()}), 0);
    ASSERT_EQ(Run({"--frame-out", (dir / "frame.png").c_str()}), 0);
    const std::vector<uint32_t> raw = LittleEndianWords(ReadFile(dir / "frame.raw"));
    const Picture picture = ReadPng(dir / "frame.png");
    ASSERT_EQ(picture.width, 128u);
    ASSERT_EQ(picture.height, 96u);
    for (uint32_t y = 0; y < 96; ++y) {
        for (uint32_t x = 0; x < 128; ++x) {
            ASSERT_EQ(picture.At(x, 95 - y), raw[y * 128 + x] & 0xFFFFFFu) << x << "," << y;
        }
    }
}

// A saver's history line flies its landscape again: the same land, and the
// same frames as the saver's own flight over it.
TEST_F(RenderRunTest, AHistoryLineFliesTheSaversLandscapeAgain) {
    TestPlatform platform;
    platform.calendarSeconds = 4321;
    platform.millisecondTime = 77;
    Settings settings = SmallTestSettings();
    settings.tilt = 12;
    Flight flight;
    ASSERT_TRUE(flight.Create(platform, settings, 160, 100).ok());
    for (int i = 0; i < 9; ++i) flight.Tick();
    ASSERT_EQ(platform.landscapes.size(), 1u);
    const std::string line = HistoryLine(platform.landscapes[0]);

    // The line's words after the program's name, then the outputs.
    std::vector<std::string> words;
    for (size_t start = line.find(' ') + 1; start <= line.size();) {
        const size_t end = std::min(line.find(' ', start), line.size());
        words.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    const std::string heights = dir / "heights.raw";
    const std::string frame = dir / "frame.raw";
    for (const std::string& extra :
         {std::string("--ticks"), std::string("9"), std::string("--heights-out"), heights,
          std::string("--frame-out"), frame}) {
        words.push_back(extra);
    }
    std::vector<const char*> argv = {"glidescape-render"};
    for (const std::string& word : words) argv.push_back(word.c_str());
    RenderOptions options;
    std::string error;
    ASSERT_EQ(ParseRenderOptions(static_cast<int>(argv.size()), argv.data(), options, error),
              ParseResult::Run)
        << error << " in " << line;
    ASSERT_EQ(RunRender(options, nullptr), 0);
    const std::vector<uint32_t> h = LittleEndianWords(ReadFile(heights));
    EXPECT_TRUE(std::equal(h.begin(), h.end(),
                           reinterpret_cast<const uint32_t*>(flight.frameLoop.heightMapPixels)));
    const std::vector<uint32_t> f = LittleEndianWords(ReadFile(frame));
    ASSERT_EQ(f.size(), size_t{128} * flight.frameLoop.outputHeight);
    EXPECT_TRUE(std::equal(f.begin(), f.end(), flight.frameLoop.framePixels));
}

TEST_F(RenderRunTest, SameSeedsSameFlight) {
    ASSERT_EQ(Run({"--frame-out", (dir / "a.raw").c_str()}), 0);
    ASSERT_EQ(Run({"--frame-out", (dir / "b.raw").c_str()}), 0);
    EXPECT_EQ(ReadFile(dir / "a.raw"), ReadFile(dir / "b.raw"));
}

TEST_F(RenderRunTest, EveryThreadCountSameFlight) {
    // A frame wide enough for several threads' chunks of columns.
    const std::vector<const char*> wide = {"--output-width", "700", "--client", "700x500",
                                           "--objects",      "40",  "--ticks",  "12"};
    std::vector<uint8_t> first;
    for (const char* threads : {"1", "2", "3", "8"}) {
        std::vector<const char*> args = wide;
        const std::string out = dir / "frame.raw", heights = dir / "h.raw", colours = dir / "c.raw";
        for (const char* a : {"--threads", threads, "--frame-out", out.c_str(), "--heights-out",
                              heights.c_str(), "--colours-out", colours.c_str()}) {
            args.push_back(a);
        }
        ASSERT_EQ(Run(args), 0);
        std::vector<uint8_t> all = ReadFile(out);
        for (const char* map : {"h.raw", "c.raw"}) {
            const std::vector<uint8_t> words = ReadFile(dir / map);
            all.insert(all.end(), words.begin(), words.end());
        }
        if (first.empty()) {
            first = all;
            ASSERT_EQ(first.size(), (700u * 500u + 2u * 64u * 64u) * 4u);
        } else {
            EXPECT_TRUE(all == first) << threads << " threads";
        }
    }
}

// The land made on a worker thread while the ticks wait gives the same
// frames and maps as the land made inside the tick: right after the first
// landscape, after frames over it, and after a second landscape (one second
// of flight apart).
TEST_F(RenderRunTest, WorkerGenerationSameFlightAsInline) {
    for (const char* ticks : {"1", "2", "30"}) {
        std::vector<uint8_t> outputs[2];
        for (int worker = 0; worker < 2; ++worker) {
            const std::string frame = dir / "frame.raw", heights = dir / "h.raw",
                              colours = dir / "c.raw";
            ASSERT_EQ(
                Run({"--ticks", ticks, "--newland-wait", "1", "--land-size", "7", "--generation",
                     worker != 0 ? "worker" : "inline", "--frame-out", frame.c_str(),
                     "--heights-out", heights.c_str(), "--colours-out", colours.c_str()}),
                0);
            for (const std::string& file : {frame, heights, colours}) {
                const std::vector<uint8_t> words = ReadFile(file);
                outputs[worker].insert(outputs[worker].end(), words.begin(), words.end());
            }
        }
        ASSERT_EQ(outputs[0].size(), (128u * 96u + 2u * 128u * 128u) * 4u) << ticks;
        EXPECT_TRUE(outputs[0] == outputs[1]) << ticks << " ticks";
    }
}

TEST_F(RenderRunTest, OnlyGenerationTicksLeaveTheFrameBlack) {
    ASSERT_EQ(Run({"--ticks", "1", "--frame-out", (dir / "frame.raw").c_str()}), 0);
    for (uint32_t word : LittleEndianWords(ReadFile(dir / "frame.raw"))) ASSERT_EQ(word, 0u);
}

TEST_F(RenderRunTest, SettingsAreClampedLikeTheStore) {
    // Land Size 13 falls back to 10, Output Width 3001 to 512 (384 rows on
    // 1024 x 768); no ticks, so nothing is generated.
    RenderOptions options;
    std::string error;
    ASSERT_EQ(Parse({"--land-size", "13", "--output-width", "3001", "--ticks", "0", "--frame-out",
                     (dir / "f.raw").c_str(), "--heights-out", (dir / "h.raw").c_str()},
                    options, error),
              ParseResult::Run);
    ASSERT_EQ(RunRender(options, nullptr), 0);
    EXPECT_EQ(fs::file_size(dir / "f.raw"), 512u * 384u * 4u);
    EXPECT_EQ(fs::file_size(dir / "h.raw"), 1024u * 1024u * 4u);
}

TEST_F(RenderRunTest, PngDirGetsEveryKthFrame) {
    ASSERT_EQ(Run({"--ticks", "6", "--png-dir", dir.path().c_str(), "--png-every", "2"}), 0);
    EXPECT_FALSE(fs::exists(dir / "frame-000001.png"));
    EXPECT_TRUE(fs::exists(dir / "frame-000002.png"));
    EXPECT_FALSE(fs::exists(dir / "frame-000003.png"));
    EXPECT_TRUE(fs::exists(dir / "frame-000004.png"));
    EXPECT_FALSE(fs::exists(dir / "frame-000006.png"));  // 5 frames after the land
    EXPECT_FALSE(fs::exists(dir / "glidescape.png"));
    EXPECT_EQ(ReadPng(dir / "frame-000004.png").height, 96u);
}

TEST_F(RenderRunTest, WithoutOutputOptionsWritesGlidescapePngHere) {
    const fs::path previous = fs::current_path();
    fs::current_path(dir.path());
    const int code = Run({});
    fs::current_path(previous);
    ASSERT_EQ(code, 0);
    const Picture picture = ReadPng(dir / "glidescape.png");
    EXPECT_EQ(picture.width, 128u);
    EXPECT_EQ(picture.height, 96u);
}

TEST_F(RenderRunTest, PngDirIsMadeWhenMissing) {
    const std::string frames = dir / "a/b";
    ASSERT_EQ(Run({"--ticks", "2", "--png-dir", frames.c_str()}), 0);
    EXPECT_TRUE(fs::exists(fs::path(frames) / "frame-000001.png"));
}

TEST_F(RenderRunTest, FailuresExitWithOne) {
    EXPECT_EQ(Run({"--client", "3000x2"}), 1);  // no frame rows
    // A regular file where a folder should be: unwritable even as root.
    std::ofstream(dir / "file") << "x";
    const std::string blocked = dir / "file/f.png";
    for (const char* option : {"--frame-out", "--heights-out", "--colours-out", "--png-dir"}) {
        EXPECT_EQ(Run({option, blocked.c_str()}), 1) << option;
    }
    EXPECT_EQ(Run({"--video", (dir / "file/f.mkv").c_str()}), 1);
}

TEST(RenderOptionsParse, OneFileForTwoOutputsIsRefused) {
    TempDir dir;
    const std::string a = dir / "a.png";
    const std::string dotted = (dir.path() / "." / "a.png").string();
    fs::create_symlink(a, dir / "link.png");
    const std::string link = dir / "link.png";
    std::ofstream(dir / "a.png") << "x";
    const std::string hard = dir / "hard.png";
    fs::create_hard_link(a, hard);
    struct Case {
        std::vector<const char*> args;
        const char* names;
    };
    const std::vector<Case> cases = {
        {{"--frame-out", a.c_str(), "--heights-out", a.c_str()}, "--heights-out"},
        {{"--frame-out", a.c_str(), "--colours-out", dotted.c_str()}, "--colours-out"},
        {{"--heights-out", link.c_str(), "--colours-out", a.c_str()}, "--colours-out"},
        {{"--frame-out", hard.c_str(), "--heights-out", a.c_str()}, "--heights-out"},
        {{"--frame-out", "x.png", "--heights-out", "./x.png"}, "--heights-out"},
    };
    for (const Case& c : cases) {
        const std::string error = ErrorOf(c.args);
        EXPECT_NE(error.find(c.names), std::string::npos) << c.names << ": " << error;
        EXPECT_NE(error.find("same file"), std::string::npos) << error;
    }
    // Distinct files, and a device that can take several outputs.
    EXPECT_EQ(ErrorOf({"--frame-out", a.c_str(), "--heights-out", (dir / "b.png").c_str()}), "");
    EXPECT_EQ(ErrorOf({"--frame-out", "/dev/null", "--heights-out", "/dev/null"}), "");
}

TEST_F(RenderRunTest, OutputsReplaceFilesWholeAndKeepLinksAndPermissions) {
    const std::string target = dir / "target.raw";
    std::ofstream(target) << "old";
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    fs::create_symlink("target.raw", dir / "link.raw");
    ASSERT_EQ(Run({"--frame-out", (dir / "link.raw").c_str()}), 0);
    EXPECT_TRUE(fs::is_symlink(dir / "link.raw"));
    EXPECT_EQ(fs::file_size(target), 128u * 96u * 4u);
    struct stat status;
    ASSERT_EQ(stat(target.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);
    EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"link.raw", "target.raw"}));
}

TEST_F(RenderRunTest, ADeviceIsWrittenDirectlyAndALinkToItStays) {
    EXPECT_EQ(Run({"--frame-out", "/dev/null", "--heights-out", "/dev/null"}), 0);
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
    fs::create_symlink("/dev/full", dir / "full.png");
    for (const char* option : {"--frame-out", "--colours-out"}) {
        EXPECT_EQ(Run({option, (dir / "full.png").c_str()}), 1) << option;
        EXPECT_TRUE(fs::is_symlink(dir / "full.png")) << option;
        EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"full.png"}) << option;
    }
    fs::remove(dir / "full.png");
    fs::create_symlink("/dev/full", dir / "full.mp4");
    EXPECT_EQ(Run({"--video", (dir / "full.mp4").c_str()}), 1);
    EXPECT_TRUE(fs::is_symlink(dir / "full.mp4"));
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"full.mp4"});
}

// A file system that fills up half way through a write: the destination is
// either untouched or absent, and no temporary file stays behind.
TEST_F(RenderRunTest, AFullFileSystemLeavesEveryDestinationAsItWas) {
    const std::string mountPoint = dir / "small";
    fs::create_directory(mountPoint);
    if (geteuid() != 0) GTEST_SKIP() << "mounting a 64 KiB tmpfs needs root";
    if (mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    }
    struct Unmount {
        std::string path;
        ~Unmount() { umount(path.c_str()); }
    } unmount{mountPoint};
    const fs::path small(mountPoint);
    // The default frame (128 x 96) as raw words is 48 KiB, as a PNG less;
    // 40 KiB of filler leave room for neither.
    std::ofstream(small / "filler") << std::string(40 * 1024, 'f');
    std::ofstream(small / "old.png") << "old picture";
    std::ofstream(small / "old.raw") << "old words";
    std::ofstream(small / "old.mkv") << "old video";
    struct Case {
        const char* option;
        const char* name;
        const char* before;  // null: no file before
    };
    const Case cases[] = {{"--frame-out", "new.raw", nullptr},
                          {"--frame-out", "old.raw", "old words"},
                          {"--frame-out", "old.png", "old picture"},
                          {"--heights-out", "old.raw", "old words"},
                          {"--colours-out", "old.png", "old picture"},
                          // Lossless frames of 128 x 96 take about 16 KiB each.
                          {"--video", "new.mkv", nullptr},
                          {"--video", "old.mkv", "old video"}};
    for (const Case& c : cases) {
        const fs::path path = small / c.name;
        // Several frames for a video, one for a picture.
        const char* ticks = std::string(c.option) == "--video" ? "8" : "3";
        EXPECT_EQ(Run({"--land-size", "8", "--ticks", ticks, c.option, path.c_str()}), 1) << c.name;
        if (c.before == nullptr) {
            EXPECT_FALSE(fs::exists(path)) << c.name;
        } else {
            const std::vector<uint8_t> bytes = ReadFile(path);
            EXPECT_EQ(std::string(bytes.begin(), bytes.end()), c.before) << c.name;
        }
        EXPECT_EQ(Listing(small),
                  (std::vector<std::string>{"filler", "old.mkv", "old.png", "old.raw"}))
            << c.name;
    }
    // With the room back the same outputs are written whole.
    fs::remove(small / "filler");
    EXPECT_EQ(Run({"--frame-out", (small / "old.raw").c_str()}), 0);
    EXPECT_EQ(fs::file_size(small / "old.raw"), 128u * 96u * 4u);
}

}  // namespace
