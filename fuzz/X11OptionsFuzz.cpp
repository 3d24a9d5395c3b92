// Fuzzes the Linux saver's command line: the input is the argument list,
// arguments separated by NUL bytes. Parsing must end in one of its results;
// an error is one line; a window id given is never 0.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/FuzzArguments.h"
#include "x11/X11Options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const FuzzArguments args("glidescape", data, size);
    X11Options options;
    std::string error;
    const X11ParseResult result =
        ParseX11Options(args.argc(), args.argv.data(), options, error);
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
