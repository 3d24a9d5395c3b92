// Fuzzes glidescape-render's command line: the input is the argument list,
// arguments separated by NUL bytes. Whatever it is, parsing must end in one of
// its four results, and an error must be one line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/FuzzArguments.h"
#include "render/RenderOptions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const FuzzArguments args("glidescape-render", data, size);
    RenderOptions options;
    std::string error;
    const ParseResult result =
        ParseRenderOptions(args.argc(), args.argv.data(), options, error);
    if (result == ParseResult::Error && (error.empty() || error.find('\n') != std::string::npos)) {
        std::abort();
    }
    if (result == ParseResult::Run && (options.clientWidth < 1 || options.clientHeight < 1 ||
                                       options.ticks < 0 || options.pngEvery < 1)) {
        std::abort();
    }
    return 0;
}
