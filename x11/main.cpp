// glidescape: the Linux X11 screen saver. Reads the settings file, applies
// the command line over it and runs the saver (x11/X11Saver.h).
//
// Exit codes: 0 after any normal ending (and for -help, -version); 1 when
// the display or the window cannot be used; 2 for a bad option or value.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/Version.h"
#include "x11/X11Options.h"
#include "x11/X11Saver.h"
#include "x11/X11Settings.h"

int main(int argc, char** argv) {
    X11Options options;
    std::string error;
    switch (ParseX11Options(argc, argv, options, error)) {
        case X11ParseResult::Help:
            std::fputs(X11Usage(), stdout);
            return 0;
        case X11ParseResult::Version:
            std::printf("glidescape %s\n", GLIDESCAPE_VERSION);
            return 0;
        case X11ParseResult::Error:
            std::fprintf(stderr, "glidescape: %s\n", error.c_str());
            return 2;
        case X11ParseResult::Run:
            break;
    }
    const std::string path = X11SettingsPath(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
    Settings settings;
    if (!LoadX11Settings(path, settings)) {
        std::fprintf(stderr, "glidescape: cannot read %s; using the defaults\n", path.c_str());
    }
    ApplyOptionSettings(options, settings);
    return RunX11Saver(options, settings, stderr);
}
