#include "render/RenderOptions.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "app/CommandLine.h"
#include "app/Settings.h"
#include "render/OutputFile.h"

namespace {

bool ParseInt64(const std::string& text, int64_t& value) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])) != 0) return false;
    errno = 0;
    char* end = nullptr;
    const long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0') return false;
    value = parsed;
    return true;
}

// Whole numbers that fit 32 bits and lie in [minimum, maximum].
bool ParseInt32(const std::string& text, int64_t minimum, int64_t maximum, int32_t& value) {
    int64_t parsed = 0;
    if (!ParseInt64(text, parsed) || parsed < minimum || parsed > maximum) return false;
    value = static_cast<int32_t>(parsed);
    return true;
}

// WxH with both sides in [1, maximum].
bool ParseSize(const std::string& text, int64_t maximum, int32_t& width, int32_t& height) {
    const auto x = text.find_first_of("xX");
    if (x == std::string::npos) return false;
    return ParseInt32(text.substr(0, x), 1, maximum, width) &&
           ParseInt32(text.substr(x + 1), 1, maximum, height);
}

// The same file however it is named (./x, a link to it, a/../x): each
// existing folder and link on the way is resolved. Hard links are found
// apart, by equivalence.
std::filesystem::path Identity(const std::string& path) {
    std::error_code failure;
    const std::filesystem::path absolute = std::filesystem::absolute(path, failure);
    std::filesystem::path resolved = std::filesystem::weakly_canonical(absolute, failure);
    return failure ? absolute.lexically_normal() : resolved;
}

// Two outputs written to one file would leave only the last; a device such as
// /dev/null may take several.
bool SharedOutputs(const RenderOptions& options, std::string& error) {
    const std::pair<const char*, const std::string*> outputs[] = {
        {"--frame-out", &options.frameOut},
        {"--heights-out", &options.heightsOut},
        {"--colours-out", &options.coloursOut},
        {"--video", &options.video}};
    constexpr size_t kOutputs = sizeof outputs / sizeof outputs[0];
    for (size_t i = 0; i < kOutputs; ++i) {
        for (size_t j = i + 1; j < kOutputs; ++j) {
            const std::string& a = *outputs[i].second;
            const std::string& b = *outputs[j].second;
            if (a.empty() || b.empty() || IsSpecialFile(a)) continue;
            std::error_code failure;  // a file not there yet is no hard link
            if (a == b || Identity(a) == Identity(b) ||
                std::filesystem::equivalent(a, b, failure)) {
                error = std::string(outputs[j].first) + ": '" + b + "' is the same file as " +
                        outputs[i].first + " '" + a + "'";
                return true;
            }
        }
    }
    return false;
}

}  // namespace

std::string RenderUsage() {
    return std::string(
               "Usage: glidescape-render [options]\n"
               "Makes a landscape and flies over it with the saver's own frame loop, without a\n"
               "window, and writes the last frame and the land maps.\n"
               "\n"
               "Settings (read as the saver reads its INI file: blanks around, an optional sign;\n"
               "values out of range or beyond 32 bits fall back to the default):\n") +
           SettingsUsage(kRenderTool, "--") +
           "Run:\n"
           "  --client WxH        window size the frame height is computed for (1024x768)\n"
           "  --land-seed S       land seed instead of the calendar time (0..4294967295)\n"
           "  --view-seed S       view seed instead of the millisecond time\n"
           "  --ticks N           timer ticks to run, generation ticks included (250)\n"
           "  --threads N         threads for the land and the frames, 1..64 (the machine's\n"
           "                      cores); every count gives the same pictures\n"
           "  --generation MODE   where landscapes are made: inline (in the tick, the\n"
           "                      default) or worker (on a thread of their own while the\n"
           "                      ticks wait, as in the savers); both give the same pictures\n"
           "  --subframes N       frames a tick, 1..64 (1): smooth motion, N - 1 frames in\n"
           "                      between each tick's frame and the next\n"
           "Output (a PATH ending in .png gets a PNG, any other raw little-endian 32-bit words):\n"
           "  --frame-out PATH    the last frame\n"
           "  --heights-out PATH  the height map\n"
           "  --colours-out PATH  the colour map\n"
           "  --png-dir DIR       write frames as DIR/frame-NNNNNN.png ...\n"
           "  --png-every K       ... every K-th frame (1)\n"
           "  --video PATH        every frame into a video: .mp4 H.264, .mkv lossless FFV1\n"
           "                      (RGB exactly as drawn), .webm VP9\n"
           "  --fps N             the video's frames a second (25 x the frames a tick)\n"
           "  --size WxH          the video's size, the frame stretched as the savers\n"
           "                      stretch it (the frame's own size)\n"
           "  --smooth-scale      scale to --size with a bicubic filter instead\n"
           "Without any output option the last frame goes to glidescape.png.\n"
           "  --help              this text\n"
           "  --version           the program's version\n";
}

namespace {

ParseResult ParseArguments(int argc, const char* const* argv, RenderOptions& options,
                           std::string& error);

}  // namespace

ParseResult ParseRenderOptions(int argc, const char* const* argv, RenderOptions& options,
                               std::string& error) {
    const ParseResult result = ParseArguments(argc, argv, options, error);
    if (result == ParseResult::Error) error = OneLine(error);
    return result;
}

namespace {

ParseResult ParseArguments(int argc, const char* const* argv, RenderOptions& options,
                           std::string& error) {
    options = RenderOptions{};
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        std::string value;
        bool hasValue = false;
        const auto equals = name.find('=');
        if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
            hasValue = true;
        }
        if (name == "--help" || name == "-h") {
            if (hasValue) {
                error = name + ": takes no value";
                return ParseResult::Error;
            }
            return ParseResult::Help;
        }
        if (name == "--version") {
            if (hasValue) {
                error = name + ": takes no value";
                return ParseResult::Error;
            }
            return ParseResult::Version;
        }
        if (name.rfind("--", 0) != 0) {
            error = "unexpected argument '" + name + "'";
            return ParseResult::Error;
        }
        if (name == "--smooth-scale") {
            if (hasValue) {
                error = name + ": takes no value";
                return ParseResult::Error;
            }
            options.smoothScale = true;
            continue;
        }
        static const char* const kKnown[] = {
            "--land-seed",   "--view-seed",   "--client",  "--ticks",     "--frame-out",
            "--heights-out", "--colours-out", "--png-dir", "--png-every", "--threads",
            "--generation",  "--video",       "--fps",     "--size",      "--subframes"};
        const SettingEntry* setting = FindSettingByOption(name.c_str() + 2, kRenderTool);
        bool known = setting != nullptr;
        for (const char* option : kKnown) known = known || name == option;
        if (!known) {
            error = "unknown option '" + name + "' (see --help)";
            return ParseResult::Error;
        }
        if (!hasValue) {
            if (i + 1 >= argc) {
                error = name + ": needs a value";
                return ParseResult::Error;
            }
            value = argv[++i];
        }

        auto fail = [&](const char* what) {
            error = name + ": '" + value + "' " + what;
            return ParseResult::Error;
        };
        auto seed = [&](bool& has, uint32_t& target) {
            if (!ParseSeed(value.c_str(), &target)) return false;
            has = true;
            return true;
        };
        auto path = [&](std::string& target) {
            if (value.empty()) return false;
            target = value;
            return true;
        };

        if (setting != nullptr) {
            // A setting reads exactly as in the INI file.
            if (!options.settings.Set(*setting, value.c_str())) {
                return fail("is not a whole number");
            }
        } else if (name == "--land-seed") {
            if (!seed(options.hasLandSeed, options.landSeed)) {
                return fail("is not a seed (0 to 4294967295)");
            }
        } else if (name == "--view-seed") {
            if (!seed(options.hasViewSeed, options.viewSeed)) {
                return fail("is not a seed (0 to 4294967295)");
            }
        } else if (name == "--client") {
            if (!ParseSize(value, INT32_MAX, options.clientWidth, options.clientHeight)) {
                return fail("is not a size WxH with positive width and height");
            }
        } else if (name == "--ticks") {
            if (!ParseInt32(value, 0, INT32_MAX, options.ticks)) {
                return fail("is not a tick count (0 or more)");
            }
        } else if (name == "--threads") {
            if (!ParseInt32(value, 1, 64, options.threads)) {
                return fail("is not a thread count (1 to 64)");
            }
        } else if (name == "--generation") {
            if (value != "inline" && value != "worker") return fail("is not inline or worker");
            options.workerGeneration = value == "worker";
        } else if (name == "--frame-out") {
            if (!path(options.frameOut)) return fail("is not a path");
        } else if (name == "--heights-out") {
            if (!path(options.heightsOut)) return fail("is not a path");
        } else if (name == "--colours-out") {
            if (!path(options.coloursOut)) return fail("is not a path");
        } else if (name == "--png-dir") {
            if (!path(options.pngDir)) return fail("is not a folder");
        } else if (name == "--png-every") {
            if (!ParseInt32(value, 1, INT32_MAX, options.pngEvery)) {
                return fail("is not a frame interval (1 or more)");
            }
            options.hasPngEvery = true;
        } else if (name == "--video") {
            if (VideoFormatFor(value) == nullptr) {
                return fail((std::string("is not ") + VideoExtensions()).c_str());
            }
            options.video = value;
        } else if (name == "--fps") {
            if (!ParseInt32(value, 1, 1000, options.fps)) {
                return fail("is not a frame rate (1 to 1000)");
            }
            options.hasFps = true;
        } else if (name == "--subframes") {
            if (!ParseInt32(value, 1, 64, options.framesPerTick)) {
                return fail("is not a count of frames a tick (1 to 64)");
            }
        } else if (name == "--size") {
            if (!ParseSize(value, kMaxVideoSide, options.size.width, options.size.height)) {
                return fail("is not a size WxH with sides from 1 to 16384");
            }
            options.hasSize = true;
        }
    }
    if (options.hasPngEvery && options.pngDir.empty()) {
        error = "--png-every: needs --png-dir";
        return ParseResult::Error;
    }
    const std::pair<bool, const char*> videoOnly[] = {{options.hasFps, "--fps"},
                                                      {options.hasSize, "--size"},
                                                      {options.smoothScale, "--smooth-scale"}};
    for (const auto& [given, option] : videoOnly) {
        if (given && options.video.empty()) {
            error = std::string(option) + ": needs --video";
            return ParseResult::Error;
        }
    }
    if (!options.video.empty() && options.ticks < 2) {
        error = "--video: needs --ticks 2 or more; the first tick only makes the land";
        return ParseResult::Error;
    }
    if (options.smoothScale && !options.hasSize) {
        error = "--smooth-scale: needs --size";
        return ParseResult::Error;
    }
    // The flight moves a tick's way per tick: a rate other than the frames
    // drawn a second would speed it up or slow it down. Without --fps the
    // video takes the rate of the frames drawn.
    if (!options.hasFps) options.fps = kTicksPerSecond * options.framesPerTick;
    if (options.fps != kTicksPerSecond * options.framesPerTick) {
        error = "--fps: " + std::to_string(options.fps) + " needs --subframes " +
                (options.fps % kTicksPerSecond == 0 ? std::to_string(options.fps / kTicksPerSecond)
                                                     : std::string("N with N x 25 frames")) +
                "; the flight draws " + std::to_string(kTicksPerSecond * options.framesPerTick) +
                " frames a second";
        return ParseResult::Error;
    }
    if (SharedOutputs(options, error)) return ParseResult::Error;
    return ParseResult::Run;
}

}  // namespace
