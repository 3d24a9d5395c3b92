// X11Saver.h - runs the Linux saver on an X display.
//
// Opens the display, finds or makes the window the options name, flies the
// portable frame loop on it in 40 ms ticks, drawn at the display's pace
// (FramePacer, app/Pacing.h: Present refresh events or a timer at the RandR
// rate, x11/X11Pacing.h) while the window can be seen (mapped, not fully
// covered, the monitors on) and as the battery allows (x11/PowerSupply.h),
// optionally logging each frame shown (-timing), and keeps the closing rules: in its
// own window (-window, -fullscreen) a key, a button or a pointer drift of
// more than 4 pixels ends it; on a window of somebody else's (-root,
// $XSCREENSAVER_WINDOW, -window-id) only that window's destruction, SIGTERM,
// SIGINT or SIGHUP do. `settings` are the loaded settings with the options
// applied. Called by x11/main.cpp.
#pragma once

#include <cstdio>

#include "app/Settings.h"
#include "x11/X11Options.h"

// Exit code: 0 after any normal ending; 1 when the display cannot be opened,
// the window does not exist or cannot be used. A lost display connection
// exits with 1 from inside Xlib. One line on `errors` tells why.
int RunX11Saver(const X11Options& options, const Settings& settings, std::FILE* errors);
