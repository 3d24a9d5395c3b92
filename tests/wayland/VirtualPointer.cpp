// virtual-pointer: moves or clicks a pointer on a wlroots compositor through
// zwlr_virtual_pointer_v1, for the Wayland saver's tests (the compositor runs
// without input devices; keys come from wtype).
//
//   virtual-pointer move DX DY [STEPS [PAUSE_MS]]   STEPS relative motions of (DX, DY)
//   virtual-pointer click                           the left button, pressed and released
//
// The device is made first and given half a second, so that clients see the
// seat's new pointer before the first event. Exit 0, or 1 with one line when
// the compositor cannot be reached or has no virtual pointers.
#include <unistd.h>
#include <wayland-client.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

namespace {

constexpr uint32_t kLeftButton = 0x110;  // BTN_LEFT

struct Globals {
    wl_seat* seat = nullptr;
    zwlr_virtual_pointer_manager_v1* manager = nullptr;
};

void OnGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    auto* globals = static_cast<Globals*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && globals->seat == nullptr) {
        globals->seat =
            static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
        globals->manager = static_cast<zwlr_virtual_pointer_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
    }
}

void OnGlobalRemove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener kListener = {OnGlobal, OnGlobalRemove};

uint32_t Millis() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

int Usage() {
    std::fputs("usage: virtual-pointer move DX DY [STEPS [PAUSE_MS]] | click\n", stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::string verb = argv[1];
    if ((verb == "move" && (argc < 4 || argc > 6)) || (verb != "move" && verb != "click")) {
        return Usage();
    }
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        std::fputs("virtual-pointer: cannot connect to the Wayland display\n", stderr);
        return 1;
    }
    Globals globals;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kListener, &globals);
    wl_display_roundtrip(display);
    if (globals.manager == nullptr) {
        std::fputs("virtual-pointer: the compositor has no zwlr_virtual_pointer_manager_v1\n",
                   stderr);
        return 1;
    }
    zwlr_virtual_pointer_v1* pointer =
        zwlr_virtual_pointer_manager_v1_create_virtual_pointer(globals.manager, globals.seat);
    wl_display_roundtrip(display);
    usleep(500000);

    if (verb == "click") {
        zwlr_virtual_pointer_v1_button(pointer, Millis(), kLeftButton,
                                       WL_POINTER_BUTTON_STATE_PRESSED);
        zwlr_virtual_pointer_v1_frame(pointer);
        wl_display_roundtrip(display);
        usleep(50000);
        zwlr_virtual_pointer_v1_button(pointer, Millis(), kLeftButton,
                                       WL_POINTER_BUTTON_STATE_RELEASED);
        zwlr_virtual_pointer_v1_frame(pointer);
    } else {
        const double dx = std::atof(argv[2]);
        const double dy = std::atof(argv[3]);
        const int steps = argc > 4 ? std::atoi(argv[4]) : 1;
        const int pauseMs = argc > 5 ? std::atoi(argv[5]) : 100;
        for (int i = 0; i < steps; ++i) {
            zwlr_virtual_pointer_v1_motion(pointer, Millis(), wl_fixed_from_double(dx),
                                           wl_fixed_from_double(dy));
            zwlr_virtual_pointer_v1_frame(pointer);
            wl_display_roundtrip(display);
            usleep(static_cast<useconds_t>(pauseMs) * 1000u);
        }
    }
    wl_display_roundtrip(display);
    zwlr_virtual_pointer_v1_destroy(pointer);
    zwlr_virtual_pointer_manager_v1_destroy(globals.manager);
    if (globals.seat != nullptr) wl_seat_destroy(globals.seat);
    wl_registry_destroy(registry);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
