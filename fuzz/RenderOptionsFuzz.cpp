// Fuzzes glidescape-render's command line: the input is the argument list,
// arguments separated by NUL bytes. Whatever it is, parsing must end in one of
// its four results, and an error must be one line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "render/RenderOptions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> words(1, "glidescape-render");
    words.emplace_back();
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            words.emplace_back();
        } else {
            words.back().push_back(static_cast<char>(data[i]));
        }
    }
    std::vector<const char*> argv;
    for (const std::string& word : words) argv.push_back(word.c_str());
    RenderOptions options;
    std::string error;
    const ParseResult result =
        ParseRenderOptions(static_cast<int>(argv.size()), argv.data(), options, error);
    if (result == ParseResult::Error && (error.empty() || error.find('\n') != std::string::npos)) {
        std::abort();
    }
    if (result == ParseResult::Run && (options.clientWidth < 1 || options.clientHeight < 1 ||
                                       options.ticks < 0 || options.pngEvery < 1)) {
        std::abort();
    }
    return 0;
}
