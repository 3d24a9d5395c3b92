// screensaver-state: prints the X server's own screen saver state (on, off,
// cycle or disabled) and the milliseconds since the last input, from the
// MIT-SCREEN-SAVER extension. The x11 suite checks with it that the saver
// never keeps the display awake. Exit 1 without a display or the extension.
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

#include <cstdio>

int main() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fputs("screensaver-state: cannot open the display\n", stderr);
        return 1;
    }
    int eventBase = 0;
    int errorBase = 0;
    XScreenSaverInfo* info = XScreenSaverAllocInfo();
    if (info == nullptr || !XScreenSaverQueryExtension(display, &eventBase, &errorBase) ||
        !XScreenSaverQueryInfo(display, DefaultRootWindow(display), info)) {
        std::fputs("screensaver-state: no MIT-SCREEN-SAVER extension\n", stderr);
        XCloseDisplay(display);
        return 1;
    }
    const char* state = info->state == ScreenSaverOn      ? "on"
                        : info->state == ScreenSaverOff   ? "off"
                        : info->state == ScreenSaverCycle ? "cycle"
                                                          : "disabled";
    std::printf("%s %lu\n", state, info->idle);
    XFree(info);
    XCloseDisplay(display);
    return 0;
}
