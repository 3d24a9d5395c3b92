// glidescape-render: flies the saver's frame loop without a window and writes
// the last frame and the land maps (see --help).
#include <cstdio>
#include <string>

#include "app/Version.h"
#include "render/RenderOptions.h"
#include "render/RenderRun.h"

int main(int argc, char** argv) {
    RenderOptions options;
    std::string error;
    switch (ParseRenderOptions(argc, argv, options, error)) {
        case ParseResult::Help:
            std::fputs(RenderUsage(), stdout);
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
