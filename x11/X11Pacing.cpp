#include "x11/X11Pacing.h"

#include <X11/extensions/dpms.h>
#if GLIDESCAPE_XRANDR
#include <X11/extensions/Xrandr.h>
#endif
#if GLIDESCAPE_PRESENT
#include <X11/extensions/Xpresent.h>
#endif

#include <cstdio>
#include <cstring>

#include "x11/X11Platform.h"

int64_t X11RefreshMicroseconds(Display* display, Window window) {
#if GLIDESCAPE_XRANDR
    int eventBase = 0;
    int errorBase = 0;
    if (!XRRQueryExtension(display, &eventBase, &errorBase)) return 0;
    int major = 0;
    int minor = 0;
    if (!XRRQueryVersion(display, &major, &minor) || major < 1 || (major == 1 && minor < 2)) {
        return 0;
    }
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(display, window, &attributes) == 0) return 0;
    const Window root = attributes.root;
    int middleX = 0;
    int middleY = 0;
    Window child = 0;
    XTranslateCoordinates(display, window, root, attributes.width / 2, attributes.height / 2,
                          &middleX, &middleY, &child);
    XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, root);
    if (resources == nullptr) return 0;
    int64_t chosen = 0;
    bool inside = false;
    for (int c = 0; c < resources->ncrtc && !inside; ++c) {
        XRRCrtcInfo* crtc = XRRGetCrtcInfo(display, resources, resources->crtcs[c]);
        if (crtc == nullptr) continue;
        if (crtc->mode != 0) {
            int64_t period = 0;
            for (int m = 0; m < resources->nmode; ++m) {
                const XRRModeInfo& mode = resources->modes[m];
                if (mode.id != crtc->mode) continue;
                double lines = mode.vTotal;
                if ((mode.modeFlags & RR_DoubleScan) != 0) lines *= 2;
                if ((mode.modeFlags & RR_Interlace) != 0) lines /= 2;
                const double dots = static_cast<double>(mode.hTotal) * lines;
                if (mode.dotClock > 0 && dots > 0) {
                    const double hertz = static_cast<double>(mode.dotClock) / dots;
                    // Anything from 1 Hz to 1000 Hz is a refresh rate.
                    if (hertz >= 1.0 && hertz <= 1000.0) {
                        period = static_cast<int64_t>(1000000.0 / hertz + 0.5);
                    }
                }
            }
            const bool here = middleX >= crtc->x && middleY >= crtc->y &&
                              middleX < crtc->x + static_cast<int>(crtc->width) &&
                              middleY < crtc->y + static_cast<int>(crtc->height);
            if (here && period > 0) {
                chosen = period;
                inside = true;
            } else if (chosen == 0) {
                chosen = period;
            }
        }
        XRRFreeCrtcInfo(crtc);
    }
    XRRFreeScreenResources(resources);
    return chosen;
#else
    (void)display;
    (void)window;
    return 0;
#endif
}

bool PresentClock::Open(Display* display, Window window) {
    Close();
#if GLIDESCAPE_PRESENT
    int eventBase = 0;
    int errorBase = 0;
    int opcode = 0;
    if (!XPresentQueryExtension(display, &opcode, &eventBase, &errorBase)) return false;
    int major = 0;
    int minor = 0;
    if (!XPresentQueryVersion(display, &major, &minor)) return false;
    display_ = display;
    window_ = window;
    opcode_ = opcode;
    const unsigned long errorsBefore = X11ErrorCount();
    eventId_ = XPresentSelectInput(display, window, PresentCompleteNotifyMask);
    XSync(display, False);
    if (X11ErrorCount() != errorsBefore) eventId_ = 0;
    return eventId_ != 0;
#else
    (void)display;
    (void)window;
    return false;
#endif
}

void PresentClock::Close() {
#if GLIDESCAPE_PRESENT
    if (eventId_ != 0 && display_ != nullptr) XPresentFreeInput(display_, window_, eventId_);
#endif
    eventId_ = 0;
    pending_ = false;
    display_ = nullptr;
}

void PresentClock::Request(bool again) {
#if GLIDESCAPE_PRESENT
    if (eventId_ == 0 || (pending_ && !again)) return;
    ++serial_;
    // The next refresh after the current one: divisor 1, remainder 0.
    XPresentNotifyMSC(display_, window_, serial_, 0, 1, 0);
    XFlush(display_);
    pending_ = true;
    requestedAt_ = MonotonicMicroseconds();
#else
    (void)again;
#endif
}

bool PresentClock::Completed(XEvent& event, int64_t* ust) {
#if GLIDESCAPE_PRESENT
    if (eventId_ == 0 || event.type != GenericEvent || event.xcookie.extension != opcode_) {
        return false;
    }
    if (!XGetEventData(display_, &event.xcookie)) return false;
    bool ours = false;
    if (event.xcookie.evtype == PresentCompleteNotify) {
        const auto* complete = static_cast<const XPresentCompleteNotifyEvent*>(event.xcookie.data);
        if (complete->kind == PresentCompleteKindNotifyMSC && complete->serial_number == serial_) {
            ours = true;
            pending_ = false;
            *ust = static_cast<int64_t>(complete->ust);
        }
    }
    XFreeEventData(display_, &event.xcookie);
    return ours;
#else
    (void)event;
    (void)ust;
    return false;
#endif
}

void DisplayPower::Open(Display* display, const char* overrideFile) {
    display_ = display;
    overrideFile_ = overrideFile != nullptr ? overrideFile : "";
    int eventBase = 0;
    int errorBase = 0;
    hasDpms_ = overrideFile_.empty() && DPMSQueryExtension(display, &eventBase, &errorBase) &&
               DPMSCapable(display);
    read_ = false;
    on_ = true;
}

bool DisplayPower::Read() {
    if (!overrideFile_.empty()) {
        std::FILE* file = std::fopen(overrideFile_.c_str(), "r");
        if (file == nullptr) return true;
        char word[16] = {};
        const bool got = std::fscanf(file, "%15s", word) == 1;
        std::fclose(file);
        return !got || std::strcmp(word, "on") == 0;
    }
    if (!hasDpms_) return true;
    CARD16 level = DPMSModeOn;
    BOOL enabled = False;
    if (!DPMSInfo(display_, &level, &enabled)) return true;
    return !enabled || level == DPMSModeOn;
}

bool DisplayPower::On(int64_t nowMicroseconds) {
    if (!known()) return true;
    if (!read_ || nowMicroseconds - lastRead_ >= kPollMicroseconds) {
        read_ = true;
        lastRead_ = nowMicroseconds;
        on_ = Read();
    }
    return on_;
}
