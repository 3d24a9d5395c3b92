// TestPlatform.h - a scriptable SaverPlatform for the frame loop tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/FrameLoop.h"
#include "app/Platform.h"
#include "app/Settings.h"
#include "base/Scratch.h"
#include "tests/base/Checksum.h"
#include "view/FlightView.h"

struct DrawnText {
    std::string text;
    int32_t x;
    int32_t y;
    uint32_t colour;
};

class TestPlatform : public SaverPlatform {
public:
    // Pixel requests: the one with index failPixelsAt (0 heights, 1 colours,
    // 2 frame) fails; -1 none.
    int failPixelsAt = -1;
    int pixelRequests = 0;
    int pixelsLive = 0;

    int blits = 0;
    int32_t blitWidth = 0;
    int32_t blitHeight = 0;
    int32_t blitStride = 0;
    const uint32_t* blitPixels = nullptr;
    // Takes frames with padded rows (as the X11, Wayland and Win32 savers).
    bool paddedFrames = false;
    std::vector<DrawnText> texts;

    // Shift: held stays down; pressed is a mark that the next query clears.
    bool shiftHeld = false;
    bool shiftPressed = false;
    int shiftQueries = 0;
    int pressAtQuery = -1;  // the query with this number (from 1) finds a press

    // Clock: the values returned, one per read; the last repeats.
    std::vector<int64_t> clock{0};
    size_t clockReads = 0;

    uint32_t calendarSeconds = 1000;
    uint32_t millisecondTime = 4321;

    uint32_t* CreatePixels(int32_t width, int32_t height) override {
        const int index = pixelRequests++;
        if (index == failPixelsAt) return nullptr;
        uint32_t* pixels = SaverPlatform::CreatePixels(width, height);
        if (pixels != nullptr) ++pixelsLive;
        return pixels;
    }
    void ReleasePixels(uint32_t* pixels) override {
        if (pixels != nullptr) --pixelsLive;
        SaverPlatform::ReleasePixels(pixels);
    }
    void BlitFrame(const uint32_t* pixels, int32_t width, int32_t height, int32_t stride) override {
        ++blits;
        blitWidth = width;
        blitHeight = height;
        blitStride = stride;
        blitPixels = pixels;
    }
    bool TakesPaddedFrames() const override { return paddedFrames; }
    void DrawStatusText(const char* text, int32_t x, int32_t y, uint32_t colour) override {
        texts.push_back({text, x, y, colour});
    }
    bool QueryShift() override {
        ++shiftQueries;
        const bool down = shiftHeld || shiftPressed || shiftQueries == pressAtQuery;
        shiftPressed = false;
        return down;
    }
    int64_t ClockMs() override {
        const size_t i = clockReads < clock.size() ? clockReads : clock.size() - 1;
        ++clockReads;
        return clock[i];
    }
    uint32_t CalendarSeconds() override { return calendarSeconds; }
    std::vector<LandscapeRecord> landscapes;  // every LandscapeMade
    void LandscapeMade(const LandscapeRecord& record) override { landscapes.push_back(record); }
    uint32_t MillisecondTime() override { return millisecondTime; }

    // Workers: real threads (the default), none (noThreads: the flight makes
    // its land inline), or held: the work waits until RunHeldWorker (or the
    // join) runs it on the test's thread, so a test decides when it is done.
    bool noThreads = false;
    bool holdWorkers = false;
    int workersStarted = 0;
    void* StartWorker(void (*run)(void*), void* context) override {
        if (noThreads) return nullptr;
        ++workersStarted;
        if (!holdWorkers) return SaverPlatform::StartWorker(run, context);
        held_ = {run, context};
        return &held_;
    }
    void JoinWorker(void* handle) override {
        if (handle != &held_) return SaverPlatform::JoinWorker(handle);
        RunHeldWorker();
    }
    void RunHeldWorker() {
        if (held_.run == nullptr) return;
        const HeldWorker work = held_;
        held_ = HeldWorker{};
        work.run(work.context);
    }

private:
    struct HeldWorker {
        void (*run)(void*) = nullptr;
        void* context = nullptr;
    };
    HeldWorker held_;
};

// Small, fast settings: land side 64, 128-pixel frames, two objects, a
// frame drawn by every frame tick.
inline Settings SmallTestSettings() {
    Settings settings;
    settings.landSize = 6;
    settings.outputWidth = 128;
    settings.objectCount = 2;
    settings.smoothMotion = 0;
    return settings;
}

// The front-end tests' checksum: FNV-1a 64 with the basis they were pinned
// with.
inline uint64_t Fnv1a(const uint32_t* words, int64_t count) {
    return Fnv1a64(words, static_cast<size_t>(count), 1469598103934665603ull);
}
