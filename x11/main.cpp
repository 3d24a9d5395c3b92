// glidescape: the Linux screen saver. Reads the settings file, applies the
// command line over it and runs the saver on X11 (x11/X11Saver.h) or on
// Wayland (x11/WaylandSaver.h), as ResolveBackend decides.
//
// Exit codes: 0 after any normal ending (and for -help, -version); 1 when
// the display or the window cannot be used; 2 for a bad option or value.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/CommandLine.h"
#include "app/Version.h"
#include "x11/X11Options.h"
#include "x11/X11Saver.h"
#include "x11/X11Settings.h"
#if GLIDESCAPE_WAYLAND
#include "x11/WaylandSaver.h"
#endif

int main(int argc, char** argv) {
    X11Options options;
    std::string error;
    switch (ParseX11Options(argc, argv, options, error)) {
        case X11ParseResult::Help:
            std::fputs(X11Usage().c_str(), stdout);
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
    LaunchEnvironment environment;
    environment.waylandSocket = std::getenv("WAYLAND_SOCKET");
    environment.waylandDisplay = std::getenv("WAYLAND_DISPLAY");
    environment.xscreensaverWindow = std::getenv("XSCREENSAVER_WINDOW");
    if (!ResolveBackend(options, environment, error)) {
        std::fprintf(stderr, "glidescape: %s\n", error.c_str());
        return 2;
    }
    const std::string path = X11SettingsPath(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
    Settings settings;
    for (const std::string& notice : LoadX11Settings(path, settings).notices) {
        PrintErrorLine(stderr, "glidescape", notice);
    }
    options.settings.ApplyTo(settings);
    if (options.backend == SaverBackend::Wayland) {
#if GLIDESCAPE_WAYLAND
        return RunWaylandSaver(options, settings, stderr);
#else
        std::fputs("glidescape: this build has no Wayland support (use -x11)\n", stderr);
        return 1;
#endif
    }
    return RunX11Saver(options, settings, stderr);
}
