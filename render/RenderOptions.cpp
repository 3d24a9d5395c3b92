#include "render/RenderOptions.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "host/HostLogic.h"
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

bool ParseClient(const std::string& text, int32_t& width, int32_t& height) {
    const auto x = text.find_first_of("xX");
    if (x == std::string::npos) return false;
    return ParseInt32(text.substr(0, x), 1, INT32_MAX, width) &&
           ParseInt32(text.substr(x + 1), 1, INT32_MAX, height);
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
        {"--colours-out", &options.coloursOut}};
    for (size_t i = 0; i < 3; ++i) {
        for (size_t j = i + 1; j < 3; ++j) {
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

const char* RenderUsage() {
    return "Usage: glidescape-render [options]\n"
           "Makes a landscape and flies over it with the saver's own frame loop, without a\n"
           "window, and writes the last frame and the land maps.\n"
           "\n"
           "Settings (read as the saver reads its INI file: blanks around, an optional sign;\n"
           "values out of range or beyond 32 bits fall back to the default):\n"
           "  --land-size N       land side 2^N cells, 6..12 (10)\n"
           "  --output-width W    frame columns, 128..3000 (512)\n"
           "  --objects N         airborne objects, 0..255 (6)\n"
           "  --speed N           flight speed, 0..100 (25)\n"
           "  --autopilot N       autopilot intensity, 0..200 (30)\n"
           "  --tilt N            view tilt, -128..128 (0)\n"
           "  --newland-wait N    seconds (x 25 ticks) between landscapes (1200)\n"
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
           "Output (a PATH ending in .png gets a PNG, any other raw little-endian 32-bit words):\n"
           "  --frame-out PATH    the last frame\n"
           "  --heights-out PATH  the height map\n"
           "  --colours-out PATH  the colour map\n"
           "  --png-dir DIR       write frames as DIR/frame-NNNNNN.png ...\n"
           "  --png-every K       ... every K-th frame (1)\n"
           "Without any output option the last frame goes to glidescape.png.\n"
           "  --help              this text\n"
           "  --version           the program's version\n";
}

std::string OneLine(const std::string& text) {
    std::string line;
    for (const char c : text) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 0x20 || code == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", code);
            line += escaped;
        } else {
            line += c;
        }
    }
    return line;
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
        static const char* const kKnown[] = {
            "--land-size", "--output-width", "--objects",     "--speed",       "--autopilot",
            "--tilt",      "--newland-wait", "--land-seed",   "--view-seed",   "--client",
            "--ticks",     "--frame-out",    "--heights-out", "--colours-out", "--png-dir",
            "--png-every", "--threads",      "--generation"};
        bool known = false;
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
        // A setting reads exactly as in the INI file: a value beyond 32 bits
        // is left unset, so it falls back to the default like one out of range.
        auto setting = [&](bool& has, int32_t& target) {
            int32_t parsed = 0;
            switch (hostlogic::ReadSettingText(value.c_str(), &parsed)) {
                case hostlogic::SettingText::Number:
                    target = parsed;
                    has = true;
                    return true;
                case hostlogic::SettingText::OutOfRange:
                    has = false;
                    return true;
                case hostlogic::SettingText::NotANumber:
                    break;
            }
            return false;
        };
        auto seed = [&](bool& has, uint32_t& target) {
            int64_t parsed = 0;
            if (!ParseInt64(value, parsed) || parsed < 0 || parsed > UINT32_MAX) return false;
            target = static_cast<uint32_t>(parsed);
            has = true;
            return true;
        };
        auto path = [&](std::string& target) {
            if (value.empty()) return false;
            target = value;
            return true;
        };

        if (name == "--land-size") {
            if (!setting(options.hasLandSize, options.landSize))
                return fail("is not a whole number");
        } else if (name == "--output-width") {
            if (!setting(options.hasOutputWidth, options.outputWidth)) {
                return fail("is not a whole number");
            }
        } else if (name == "--objects") {
            if (!setting(options.hasObjects, options.objects)) return fail("is not a whole number");
        } else if (name == "--speed") {
            if (!setting(options.hasSpeed, options.speed)) return fail("is not a whole number");
        } else if (name == "--autopilot") {
            if (!setting(options.hasAutopilot, options.autopilot)) {
                return fail("is not a whole number");
            }
        } else if (name == "--tilt") {
            if (!setting(options.hasTilt, options.tilt)) return fail("is not a whole number");
        } else if (name == "--newland-wait") {
            if (!setting(options.hasNewlandWait, options.newlandWait)) {
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
            if (!ParseClient(value, options.clientWidth, options.clientHeight)) {
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
        }
    }
    if (options.hasPngEvery && options.pngDir.empty()) {
        error = "--png-every: needs --png-dir";
        return ParseResult::Error;
    }
    if (SharedOutputs(options, error)) return ParseResult::Error;
    return ParseResult::Run;
}

}  // namespace
