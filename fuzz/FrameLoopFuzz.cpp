// Fuzzes the whole saver from its settings and window size: any values of the
// seven settings (Land Size kept at 6 so that a run takes milliseconds), any
// client size, Shift, the clocks and failed allocations anywhere, through
// Flight::Create and a few ticks (a landscape, then frames).
//
// A client size whose frame would have more than 2^18 pixels is only sized,
// not created: under the sanitizers such a frame costs seconds a run and
// exercises nothing the smaller ones do not.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "app/FrameLoop.h"
#include "app/Platform.h"
#include "app/Settings.h"
#include "base/Scratch.h"

namespace {

class FuzzPlatform : public SaverPlatform {
public:
    explicit FuzzPlatform(FuzzedDataProvider& input)
        : input_(input), padded_(input.ConsumeBool()) {}
    void BlitFrame(const uint32_t* pixels, int32_t width, int32_t height, int32_t stride) override {
        // Touches the frame's first and last pixel: it must be all there.
        if (width <= 0 || height <= 0 || stride < width) std::abort();
        sink_ ^= pixels[0] ^ pixels[static_cast<size_t>(stride) * (height - 1) + (width - 1)];
    }
    bool TakesPaddedFrames() const override { return padded_; }
    void DrawStatusText(const char* text, int32_t, int32_t, uint32_t) override {
        if (text == nullptr) std::abort();
    }
    bool QueryShift() override { return input_.ConsumeIntegralInRange<int>(0, 15) == 0; }
    int64_t ClockMs() override { return clock_ += input_.ConsumeIntegral<uint8_t>(); }
    uint32_t CalendarSeconds() override { return seconds_; }
    uint32_t MillisecondTime() override { return milliseconds_; }

    uint32_t seconds_ = 0;
    uint32_t milliseconds_ = 0;

private:
    FuzzedDataProvider& input_;
    bool padded_;  // frames with padded rows, as the X11 and Win32 savers take
    int64_t clock_ = 0;
    uint32_t sink_ = 0;
};

// Mostly values near the key's range, sometimes any 32-bit value.
int32_t SettingValue(FuzzedDataProvider& input, const SettingEntry& entry) {
    if (input.ConsumeBool()) return input.ConsumeIntegral<int32_t>();
    const int64_t low = static_cast<int64_t>(entry.minimum) - 2;
    const int64_t high =
        entry.maximum == INT32_MAX ? 5000 : static_cast<int64_t>(entry.maximum) + 2;
    return static_cast<int32_t>(input.ConsumeIntegralInRange<int64_t>(low, high));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    Settings settings;
    for (const SettingEntry& entry : kSettings) settings.*entry.field = SettingValue(input, entry);
    settings.landSize = 6;
    const int32_t clientWidth = input.ConsumeBool() ? input.ConsumeIntegral<int32_t>()
                                                    : input.ConsumeIntegralInRange(0, 4000);
    const int32_t clientHeight = input.ConsumeBool() ? input.ConsumeIntegral<int32_t>()
                                                     : input.ConsumeIntegralInRange(0, 4000);
    const int ticks = input.ConsumeIntegralInRange(0, 5);
    const int32_t failAfter = input.ConsumeBool() ? input.ConsumeIntegralInRange(0, 80) : -1;
    FuzzPlatform platform(input);
    platform.seconds_ = input.ConsumeIntegral<uint32_t>();
    platform.milliseconds_ = input.ConsumeIntegral<uint32_t>();

    if (std::getenv("GLIDESCAPE_FUZZ_PRINT") != nullptr) {
        // Reproducing a finding: the run's values, before clamping.
        for (const SettingEntry& entry : kSettings) {
            std::fprintf(stderr, "%s=%d\n", entry.key, static_cast<int>(settings.*entry.field));
        }
        std::fprintf(stderr, "client %dx%d, %d ticks, failing after %d, seconds %u, ms %u\n",
                     static_cast<int>(clientWidth), static_cast<int>(clientHeight), ticks,
                     static_cast<int>(failAfter), platform.seconds_, platform.milliseconds_);
    }
    // Clamped as Create clamps them, to know the frame's size before it is made.
    Settings clamped = settings;
    ClampSettings(clamped);
    const int64_t rows = ComputeOutputHeight(clamped.outputWidth, clientWidth, clientHeight);
    if (rows * clamped.outputWidth > (int64_t{1} << 18)) return 0;

    scratch::FailAllocationsAfter(failAfter);
    Flight flight;
    if (flight.Create(platform, settings, clientWidth, clientHeight, 1)) {
        for (int t = 0; t < ticks; ++t) {
            flight.Tick();
            if (input.ConsumeBool()) flight.Draw(input.ConsumeIntegralInRange(0, 65535));
        }
    } else {
        // A loop that could not be made does nothing, however often it ticks.
        if (flight.Tick() != TickResult::Skipped) std::abort();
    }
    flight.Destroy();
    scratch::FailAllocationsAfter(-1);
    return 0;
}
