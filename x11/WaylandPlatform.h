// WaylandPlatform.h - the frame loop's platform on one Wayland surface.
//
// Draws into two wl_shm buffers (XRGB8888, one shared-memory file) of the
// surface's size, never into one the compositor still holds: a tick's
// drawing goes to a free buffer (the one not shown last, when both are free),
// which the caller then attaches and commits (TakeDrawn). BlitFrame stretches
// the frame over the whole buffer (app/Stretch.h); the progress texts
// and messages are drawn over the last picture shown, copied into the free
// buffer first, with FreeType (x11/TextPainter.h). Shift comes from the
// seat's keyboard (KeyboardShift, kept by the saver from wl_keyboard's
// modifiers through xkbcommon): down now, or pressed since this platform's
// last query. The seeds are the clocks, or the fixed seeds of the command
// line, offset by the surface's output index (OffsetSeed), so every output
// flies a landscape of its own and output 0 flies as the X11 saver does.
//
// Everything runs on the thread that dispatches the Wayland connection.
// Owned by the per-output state of x11/WaylandSaver.cpp, one per surface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/Platform.h"

struct wl_buffer;
struct wl_shm;
class TextPainter;

// The keyboard's Shift, shared by every surface of a seat.
struct KeyboardShift {
    bool down = false;
    uint64_t presses = 0;  // times it went down
};

struct FlightSeeds {
    bool hasLandSeed = false;
    uint32_t landSeed = 0;
    bool hasViewSeed = false;
    uint32_t viewSeed = 0;
    int32_t index = 0;  // the output's index: added to both seeds
};

class WaylandPlatform final : public SaverPlatform {
public:
    // `text` and `keyboard` may be null (no texts; Shift never down) and must
    // outlive the platform; `errors` (may be null) gets each message once.
    WaylandPlatform(wl_shm* shm, const TextPainter* text, const KeyboardShift* keyboard,
                    FlightSeeds seeds, std::FILE* errors);
    ~WaylandPlatform() override;
    WaylandPlatform(const WaylandPlatform&) = delete;
    WaylandPlatform& operator=(const WaylandPlatform&) = delete;

    // Makes the two buffers for a surface of width x height (the old ones are
    // destroyed, even while the compositor holds them: it keeps its own copy
    // or mapping). False when they cannot be had: nothing is drawn then.
    bool SetSize(int32_t width, int32_t height);
    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }
    // A buffer the compositor does not hold.
    bool HasFreeBuffer() const;
    // Paints the picture black.
    void Clear();
    // The buffer this tick drew on, or null when nothing was drawn; it is
    // taken as shown and held by the compositor until it releases it.
    wl_buffer* TakeDrawn();

    // Time spent stretching frames into buffers, microseconds, summed.
    int64_t blitMicroseconds() const { return blitMicroseconds_; }

    void BlitFrame(const uint32_t* pixels, int32_t width, int32_t height, int32_t stride) override;
    bool TakesPaddedFrames() const override { return true; }
    void DrawStatusText(const char* text, int32_t x, int32_t y, uint32_t colour) override;
    // Draws the line and says it on `errors` once (until another line came).
    void ShowMessage(const char* text) override;
    bool QueryShift() override;
    uint32_t CalendarSeconds() override;
    uint32_t MillisecondTime() override;
    // Adds the landscape to the history file (when one is set).
    void LandscapeMade(const LandscapeRecord& record) override;
    void SetHistoryFile(const std::string& path) { historyFile_ = path; }

private:
    struct Buffer {
        wl_buffer* buffer = nullptr;
        uint32_t* pixels = nullptr;
        bool busy = false;  // attached and not yet released
    };

    // The buffer this tick draws on, picked on the first call: a free one
    // holding the last picture shown (unless `overwrite`: it is all drawn
    // anew). Null when none is free.
    Buffer* Working(bool overwrite);
    void ReleaseBuffers();

    wl_shm* shm_;
    const TextPainter* text_;
    const KeyboardShift* keyboard_;
    FlightSeeds seeds_;
    std::FILE* errors_;
    std::string lastMessage_;
    std::string historyFile_;  // empty: no history kept
    uint64_t shiftPressesSeen_ = 0;
    void* memory_ = nullptr;
    size_t bytes_ = 0;
    int32_t width_ = 0;
    int32_t height_ = 0;
    Buffer buffers_[2];
    int working_ = -1;  // index into buffers_ while a tick draws
    int shown_ = -1;    // the buffer committed last
    std::vector<int32_t> columns_;
    int64_t blitMicroseconds_ = 0;
};
