// X11Platform.h - the Xlib platform of the portable frame loop.
//
// Shows the frame on one X window: each frame (row 0 at the bottom) is
// scaled by nearest neighbour onto an XImage of the window's size and put
// there, through a MIT-SHM shared segment when the server offers one and
// with plain XPutImage otherwise. The shared segment is marked for removal
// as soon as both sides have attached it, so it goes away with the process
// however the process ends. The progress texts are drawn with the server's
// default font; Shift is read from the keyboard state (XQueryKeymap) and,
// for a press that came and went between two queries, from the key presses
// queued for the window.
//
// The land maps and the frame live in plain memory (the default
// CreatePixels). Everything runs on the thread that owns the Display.
// Used by x11/X11Saver.cpp.
#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/Platform.h"

class X11Platform final : public SaverPlatform {
public:
    struct Seeds {
        bool hasLandSeed = false;
        uint32_t landSeed = 0;
        bool hasViewSeed = false;
        uint32_t viewSeed = 0;
    };

    // `window` must exist and stay owned by the caller. `stop`, when set,
    // makes QueryShift report Shift so that a generation under way ends soon.
    // `errors` (may be null) gets each message shown on the window once.
    X11Platform(Display* display, Window window, Seeds seeds, const volatile sig_atomic_t* stop,
                std::FILE* errors = nullptr);
    ~X11Platform() override;
    X11Platform(const X11Platform&) = delete;
    X11Platform& operator=(const X11Platform&) = delete;

    // Reads the window's visual and depth and makes the drawing context;
    // false when the window is gone or its visual is not TrueColor.
    bool Open();
    // Makes the destination image for a window of width x height pixels
    // (the previous one is released). False when the size cannot be had;
    // BlitFrame then draws nothing.
    bool SetClientSize(int32_t width, int32_t height);
    // Paints the whole window black (and forgets the line shown).
    void Clear();
    // Releases the image, its shared segment and the drawing context.
    void Close();
    // The same without a word to the server that needs an answer (no
    // detach, no sync), for an end that must not wait for a server that may
    // not answer; the server lets go of its side when the connection closes.
    void Abandon();

    bool UsesSharedMemory() const { return shm_; }
    // Time spent in BlitFrame (scale + put), microseconds, summed.
    int64_t blitMicroseconds() const { return blitMicroseconds_; }

    void BlitFrame(const uint32_t* pixels, int32_t width, int32_t height, int32_t stride) override;
    bool TakesPaddedFrames() const override { return true; }
    void DrawStatusText(const char* text, int32_t x, int32_t y, uint32_t colour) override;
    // Draws the line on a black window (cleared first unless it shows that
    // line alone already) and says it on `errors` once (until another line
    // came).
    void ShowMessage(const char* text) override;
    // Adds the landscape to the history file (when one is set).
    void LandscapeMade(const LandscapeRecord& record) override;
    void SetHistoryFile(const std::string& path) { historyFile_ = path; }
    bool QueryShift() override;
    uint32_t CalendarSeconds() override;
    uint32_t MillisecondTime() override;

private:
    void ReleaseImage();
    bool MakeSharedImage(int32_t width, int32_t height);
    bool MakePlainImage(int32_t width, int32_t height);
    unsigned long PixelFor(uint32_t colour) const;  // 0x00RRGGBB to the visual's pixel
    void ScaleInto(const uint32_t* pixels, int32_t width, int32_t height, int32_t stride);

    Display* display_;
    Window window_;
    Seeds seeds_;
    const volatile sig_atomic_t* stop_;
    std::FILE* errors_;
    std::string lastMessage_;   // the last message said on errors_
    std::string shownMessage_;  // the line the window shows since the last Clear
    bool drawnOver_ = false;    // a frame or other texts drawn since then
    std::string historyFile_;   // empty: no history kept
    Visual* visual_ = nullptr;
    int depth_ = 0;
    GC gc_ = nullptr;
    int fontAscent_ = 10;
    bool fastPixels_ = false;  // 32-bit pixels laid out as 0x00RRGGBB in host order
    uint32_t alphaBits_ = 0;   // opaque alpha for 32-bit-deep visuals
    XImage* image_ = nullptr;
    XShmSegmentInfo shmInfo_{};
    bool shm_ = false;
    int32_t clientWidth_ = 0;
    int32_t clientHeight_ = 0;
    std::vector<int32_t> sourceColumn_;  // source column of each destination column
    KeyCode shiftKeys_[2] = {0, 0};
    int64_t lastShiftPollUs_ = -1;
    Time lastShiftPress_ = 0;  // server time of the last Shift press seen queued
    int64_t blitMicroseconds_ = 0;
};

// Microseconds of a monotonic clock.
int64_t MonotonicMicroseconds();

// Installs the error handlers: X protocol errors are counted, never fatal
// (a window that goes away mid-frame is normal for a screen saver); a lost
// connection prints one line on stderr and exits with 1.
void InstallX11ErrorHandlers();
// Protocol errors so far, and the resource of the last BadWindow or
// BadDrawable error.
unsigned long X11ErrorCount();
XID X11LastBadWindow();

// Marks a shared segment that is being attached for removal now (the
// server may not have attached it yet). For a process about to end without
// waiting for the server; safe on any thread.
void X11RemoveUnmarkedSegment();
