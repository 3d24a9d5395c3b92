// WaylandSaver.h - runs the Linux saver on a Wayland compositor.
//
// Connects to the compositor ($WAYLAND_SOCKET, a connection a screen locker
// hands over, or $WAYLAND_DISPLAY), and by the options' target:
//   - Background: a layer surface on the background layer of every output,
//     one flight each (seeds offset by the output's index); input passes
//     through; outputs that come and go get and lose their flights;
//   - Overlay: the same on the overlay layer with the keyboard's exclusive
//     focus; a key, a button or a pointer drift of more than 4 pixels ends it;
//   - LockPlugin: as Background, for a screen locker that shows it behind its
//     prompt;
//   - OwnWindow, FullScreen: one xdg_toplevel titled "Glidescape" (full
//     screen through set_fullscreen, pointer hidden), closing as Overlay does
//     and on the compositor's close request.
// Each surface flies the portable frame loop (a flight per surface, its land
// made on a worker thread) with a pacer of its own (app/Pacing.h): with
// "Smooth Motion" a frame at every frame callback, else (and on battery with
// "On Battery" 1, read from x11/PowerSupply.h) one frame per 40 ms tick, a
// tick that falls due drawn once the frame callback of the surface's last
// picture has come; never two pictures between two callbacks (a hidden
// surface waits), drawn into wl_shm buffers
// (x11/WaylandPlatform.h). A surface's new size is a resize of its flight
// (land and camera kept). SIGTERM, SIGINT and SIGHUP end every mode.
// `settings` are the loaded settings with the options applied. Called by
// x11/main.cpp.
#pragma once

#include <cstdio>

#include "app/Settings.h"
#include "x11/X11Options.h"

// Exit code: 0 after any normal ending (a closing input, a close request, a
// signal); 1 when the compositor cannot be reached, lacks what the target
// needs (wl_shm, a compositor, the layer shell or xdg-shell), or the
// connection is lost. One line on `errors` tells why.
int RunWaylandSaver(const X11Options& options, const Settings& settings, std::FILE* errors);
