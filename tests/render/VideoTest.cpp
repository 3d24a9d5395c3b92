// glidescape-render's --video: its options and the writer's failures. The
// frames in a finished video are checked by decoding them with FFmpeg's own
// programs (render/check-video.py).
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "render/RenderOptions.h"
#include "render/VideoWriter.h"
#include "tests/render/RenderTestFiles.h"

namespace {

ParseResult Parse(std::vector<const char*> args, RenderOptions& options, std::string& error) {
    args.insert(args.begin(), "glidescape-render");
    return ParseRenderOptions(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(VideoOptions, ParseInBothSpellings) {
    RenderOptions o;
    std::string error;
    ASSERT_EQ(Parse({"--video", "f.MKV", "--size=640x360", "--smooth-scale", "--fps=25"}, o, error),
              ParseResult::Run)
        << error;
    EXPECT_EQ(o.video, "f.MKV");
    EXPECT_TRUE(o.hasSize);
    EXPECT_EQ(o.size.width, 640);
    EXPECT_EQ(o.size.height, 360);
    EXPECT_TRUE(o.smoothScale);
    EXPECT_EQ(o.fps, 25);
    ASSERT_EQ(Parse({"--video=f.webm"}, o, error), ParseResult::Run) << error;
    EXPECT_FALSE(o.hasSize);
    EXPECT_FALSE(o.smoothScale);
    EXPECT_EQ(o.fps, kTicksPerSecond);
    EXPECT_EQ(o.framesPerTick, 1);
}

TEST(VideoOptions, ErrorsAreOneLineNamingTheOption) {
    struct Case {
        std::vector<const char*> args;
        const char* says;
    };
    const std::vector<Case> cases = {
        {{"--video", "f.avi"}, "--video: 'f.avi' is not a .mp4, .mkv or .webm path"},
        {{"--video", ".mp4x"}, "--video"},
        {{"--video", ""}, "--video"},
        {{"--video", "f.mp4", "--ticks", "1"}, "--video: needs --ticks 2 or more"},
        {{"--fps", "25"}, "--fps: needs --video"},
        {{"--size", "64x64"}, "--size: needs --video"},
        {{"--smooth-scale"}, "--smooth-scale: needs --video"},
        {{"--video", "f.mp4", "--smooth-scale"}, "--smooth-scale: needs --size"},
        {{"--video", "f.mp4", "--smooth-scale=yes", "--size", "2x2"}, "--smooth-scale: takes no"},
        // The flight keeps its speed only at one frame a tick.
        {{"--video", "f.mp4", "--fps", "50"}, "--fps: 50 needs --subframes"},
        {{"--video", "f.mp4", "--fps", "24"}, "--fps: 24 needs --subframes"},
        {{"--video", "f.mp4", "--fps", "0"}, "--fps: '0' is not a frame rate"},
        {{"--video", "f.mp4", "--fps", "1001"}, "--fps: '1001' is not a frame rate"},
        {{"--video", "f.mp4", "--size", "16385x16"}, "--size: '16385x16' is not a size"},
        {{"--video", "f.mp4", "--size", "0x16"}, "--size"},
        {{"--video", "f.mp4", "--size", "64"}, "--size"},
        {{"--video", "f.mkv", "--frame-out", "./f.mkv"}, "--video: 'f.mkv' is the same file"},
    };
    for (const Case& c : cases) {
        RenderOptions options;
        std::string error;
        ASSERT_EQ(Parse(c.args, options, error), ParseResult::Error) << c.says;
        EXPECT_EQ(error.find(c.says), 0u) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}

TEST(VideoFormats, ByExtensionInAnyCase) {
    EXPECT_STREQ(VideoFormatFor("a.mp4")->encoder, "libx264");
    EXPECT_STREQ(VideoFormatFor("dir.mkv/A.MKV")->encoder, "ffv1");
    EXPECT_STREQ(VideoFormatFor("a.WebM")->encoder, "libvpx-vp9");
    EXPECT_EQ(VideoFormatFor("a.mp4/"), nullptr);
    EXPECT_EQ(VideoFormatFor("mkv"), nullptr);
    EXPECT_EQ(VideoFormatFor(".webm"), nullptr);  // a name is more than its extension
}

// A frame of `width` x `height` whose pixels differ.
std::vector<uint32_t> Frame(int32_t width, int32_t height) {
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint32_t>(i * 0x010305u);
    return pixels;
}

// An executable shell script `name` in `dir` with `body`.
std::string Script(const TempDir& dir, const char* name, const std::string& body) {
    const std::string path = dir / name;
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
}

TEST(VideoWriter, EveryFailureLeavesTheFolderAsItWas) {
    TempDir dir;
    TempDir programs;
    const VideoFormat& mkv = *VideoFormatFor("x.mkv");
    const VideoSize frame{16, 8};
    const std::vector<uint32_t> pixels = Frame(16, 8);
    std::string error;
    {
        VideoWriter video("glidescape-no-such-program");
        EXPECT_FALSE(video.Open(dir / "a.mkv", mkv, frame, frame, 25, false, error));
        EXPECT_EQ(error, "cannot write " + (dir / "a.mkv") +
                             ": the glidescape-no-such-program program is not installed "
                             "(Debian's ffmpeg package)");
    }
    {
        // An ffmpeg built without the encoder refuses at once ...
        const std::string refuses =
            Script(programs, "refuses", "echo \"Unknown encoder 'libx264'\" >&2; exit 1");
        VideoWriter video(refuses);
        ASSERT_TRUE(
            video.Open(dir / "b.mp4", *VideoFormatFor("b.mp4"), frame, frame, 25, false, error))
            << error;
        EXPECT_FALSE(video.Finish(error));
        EXPECT_EQ(error, "cannot write " + (dir / "b.mp4") + ": " + refuses +
                             ": Unknown encoder 'libx264'");
    }
    {
        // ... a full disk after a while: the frames sent after it fail.
        const std::string fills = Script(
            programs, "fills",
            "head -c 1000 >/dev/null; echo 'file:/dev/fd/3: No space left on device' >&2; exit 1");
        VideoWriter video(fills);
        ASSERT_TRUE(video.Open(dir / "c.mkv", mkv, frame, frame, 25, false, error)) << error;
        bool sent = true;
        for (int i = 0; i < 1000 && sent; ++i) sent = video.AddFrame(pixels.data(), 16, 8, error);
        EXPECT_FALSE(sent);
        EXPECT_EQ(error, "cannot write " + (dir / "c.mkv") + ": " + fills + ": " + (dir / "c.mkv") +
                             ": No space left on device");
    }
    {
        // ... and a crash says how it ended.
        VideoWriter video(Script(programs, "crashes", "kill -9 $$"));
        ASSERT_TRUE(video.Open(dir / "d.mkv", mkv, frame, frame, 25, false, error)) << error;
        EXPECT_FALSE(video.Finish(error));
        EXPECT_NE(error.find("crashes ended by signal 9"), std::string::npos) << error;
    }
    {
        VideoWriter video;
        EXPECT_FALSE(video.Open(dir / "e.mp4", *VideoFormatFor("e.mp4"), frame, VideoSize{15, 8},
                                25, false, error));
        EXPECT_NE(error.find("needs an even width and height, not 15x8"), std::string::npos)
            << error;
    }
    {
        VideoWriter video;
        EXPECT_FALSE(video.Open(dir / "none/f.mkv", mkv, frame, frame, 25, false, error));
        EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
    }
    {
        // Opened (its temporary file is there), then a frame of another size.
        VideoWriter video;
        ASSERT_TRUE(video.Open(dir / "g.mkv", mkv, frame, frame, 25, false, error)) << error;
        EXPECT_EQ(Listing(dir.path()).size(), 1u);
        const std::vector<uint32_t> other = Frame(16, 9);
        EXPECT_FALSE(video.AddFrame(other.data(), 16, 9, error));
        EXPECT_NE(error.find("a frame of 16x9 in a video of 16x8 frames"), std::string::npos)
            << error;
        EXPECT_FALSE(video.Finish(error));
    }
    {
        // Abandoned half way.
        VideoWriter video;
        ASSERT_TRUE(video.Open(dir / "h.webm", *VideoFormatFor("h.webm"), frame, VideoSize{32, 32},
                               25, true, error))
            << error;
        EXPECT_TRUE(video.AddFrame(pixels.data(), 16, 8, error)) << error;
    }
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{});
}

// Odd sides where the encoder takes them (what the frames hold is checked
// by render/check-video.py).
TEST(VideoWriter, FinishPutsTheFileInPlace) {
    TempDir dir;
    const std::pair<const char*, VideoSize> videos[] = {
        {"a.mp4", {24, 12}}, {"a.mkv", {23, 11}}, {"a.webm", {25, 13}}};
    for (const auto& [name, size] : videos) {
        VideoWriter video;
        std::string error;
        ASSERT_TRUE(
            video.Open(dir / name, *VideoFormatFor(name), VideoSize{16, 8}, size, 25, false, error))
            << error;
        const std::vector<uint32_t> pixels = Frame(16, 8);
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(video.AddFrame(pixels.data(), 16, 8, error)) << error;
        }
        EXPECT_EQ(video.frames(), 3);
        ASSERT_TRUE(video.Finish(error)) << name << ": " << error;
    }
    EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"a.mkv", "a.mp4", "a.webm"}));
}

}  // namespace
