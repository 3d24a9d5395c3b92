// glidescape-render: flies the saver's frame loop without a window and writes
// the last frame and the land maps (see --help).
#include <cstdio>
#include <exception>
#include <new>
#include <string>

#include "app/Version.h"
#include "render/RenderOptions.h"
#include "render/RenderRun.h"
#include "render/SignalCleanup.h"

namespace {

int Run(int argc, char** argv) {
    RenderOptions options;
    std::string error;
    switch (ParseRenderOptions(argc, argv, options, error)) {
        case ParseResult::Help:
            std::fputs(RenderUsage().c_str(), stdout);
            return 0;
        case ParseResult::Version:
            std::printf("glidescape-render %s\n", GLIDESCAPE_VERSION);
            return 0;
        case ParseResult::Error:
            std::fprintf(stderr, "glidescape-render: %s\n", error.c_str());
            return 2;
        case ParseResult::Run:
            break;
    }
    return RunRender(options, stderr);
}

}  // namespace

// Nothing in the program throws on purpose; should the standard library run
// out of memory for a string or a name all the same, the run still ends with
// one line and exit code 1.
int main(int argc, char** argv) {
    // Before any other thread: every later one inherits the blocked signals.
    (void)StartSignalCleanup();
    try {
        return Run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fputs("glidescape-render: not enough memory\n", stderr);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "glidescape-render: %s\n", failure.what());
    }
    return 1;
}
