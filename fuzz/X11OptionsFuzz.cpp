// Fuzzes the Linux saver's command line: the input is the argument list,
// arguments separated by NUL bytes. Parsing must end in one of its results;
// an error is one line; a window id given is never 0.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "x11/X11Options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> words(1, "glidescape");
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
    X11Options options;
    std::string error;
    const X11ParseResult result =
        ParseX11Options(static_cast<int>(argv.size()), argv.data(), options, error);
    if (result == X11ParseResult::Error &&
        (error.empty() || error.find('\n') != std::string::npos)) {
        std::abort();
    }
    if (result == X11ParseResult::Run && options.target == X11Target::WindowId &&
        options.windowId == 0) {
        std::abort();
    }
    return 0;
}
