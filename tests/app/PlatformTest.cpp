// The defaults of SaverPlatform: pixel memory, the clock and the progress
// screen's texts.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "app/Platform.h"
#include "base/Scratch.h"

namespace {

class PlainPlatform : public SaverPlatform {
public:
    void BlitFrame(const uint32_t*, int32_t, int32_t, int32_t) override {}
    void DrawStatusText(const char* text, int32_t, int32_t y, uint32_t colour) override {
        texts.push_back(std::string(text) + "@" + std::to_string(y) + "#" +
                        std::to_string(colour));
    }
    std::vector<std::string> texts;
    bool QueryShift() override { return false; }
    uint32_t CalendarSeconds() override { return 0; }
    uint32_t MillisecondTime() override { return 0; }
};

TEST(PlatformPixels, ZeroedAndReleasable) {
    PlainPlatform platform;
    uint32_t* pixels = platform.CreatePixels(64, 3);
    ASSERT_NE(pixels, nullptr);
    for (int i = 0; i < 64 * 3; ++i) ASSERT_EQ(pixels[i], 0u) << i;
    pixels[64 * 3 - 1] = 0xFFFFFFFFu;
    platform.ReleasePixels(pixels);
    platform.ReleasePixels(nullptr);
}

TEST(PlatformPixels, RefusesEmptyNegativeAndHugeSizes) {
    PlainPlatform platform;
    EXPECT_EQ(platform.CreatePixels(0, 10), nullptr);
    EXPECT_EQ(platform.CreatePixels(10, 0), nullptr);
    EXPECT_EQ(platform.CreatePixels(-1, -1), nullptr);  // product would look positive
    // 65536 x 65536 words wrap to 0 in 32 bits and exceed the allocation cap.
    EXPECT_EQ(platform.CreatePixels(65536, 65536), nullptr);
    EXPECT_EQ(platform.CreatePixels(INT32_MAX, 2), nullptr);
}

TEST(PlatformPixels, FailsWhenAllocationsAreInjectedToFail) {
    PlainPlatform platform;
    scratch::FailAllocationsAfter(0);
    EXPECT_EQ(platform.CreatePixels(8, 8), nullptr);
    scratch::FailAllocationsAfter(-1);
    uint32_t* pixels = platform.CreatePixels(8, 8);
    EXPECT_NE(pixels, nullptr);
    platform.ReleasePixels(pixels);
}

// The clock paces the progress screen in wall time whatever the threads do:
// two busy threads must not make it run twice as fast (as a clock of the
// process's CPU time would).
TEST(PlatformClock, IsWallTimeSinceThePlatformWasMade) {
    PlainPlatform platform;
    const int64_t first = platform.ClockMs();
    EXPECT_GE(first, 0);
    EXPECT_LT(first, 1000);
    const auto wallStart = std::chrono::steady_clock::now();
    const int64_t before = platform.ClockMs();
    std::atomic<bool> stop{false};
    auto spin = [&stop] {
        volatile uint64_t sink = 0;
        while (!stop.load(std::memory_order_relaxed)) sink = sink + 1;
    };
    std::thread a(spin);
    std::thread b(spin);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop = true;
    a.join();
    b.join();
    const int64_t after = platform.ClockMs();
    const int64_t wallMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - wallStart)
                               .count();
    EXPECT_GE(after - before, 200);
    EXPECT_LE(after - before, wallMs + 1);
}

TEST(PlatformProgress, TheDefaultDrawsTheProgressTexts) {
    PlainPlatform platform;
    ProgressScreen screen;
    screen.level = 10;
    platform.ShowProgress(screen);
    screen.part = ProgressScreen::Part::Stopping;
    platform.ShowProgress(screen);
    platform.ShowMessage("Land Size 12 needs more memory than is free");
    const std::vector<std::string> expected = {
        "Glidescape, by Quillon@15#" + std::to_string(0x0A0A0A),
        "Press Shift to abort landscape generation...@42#" + std::to_string(0xCFCFCF),
        "Processing...@69#" + std::to_string(245 << 16),
        "Processing... Stopping@69#" + std::to_string(0xFFCF00),
        "Land Size 12 needs more memory than is free@15#" + std::to_string(0xCFCFCF),
    };
    EXPECT_EQ(platform.texts, expected);
}

}  // namespace
