// The default pixel memory of SaverPlatform.
#include <gtest/gtest.h>

#include <cstdint>

#include "app/Platform.h"
#include "land/Scratch.h"

namespace {

class PlainPlatform : public SaverPlatform {
public:
    void BlitFrame(const uint32_t*, int32_t, int32_t) override {}
    void DrawStatusText(const char*, int32_t, int32_t, uint32_t) override {}
    bool QueryShift() override { return false; }
    int32_t ProcessClockMs() override { return 0; }
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

}  // namespace
