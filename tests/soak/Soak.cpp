// glidescape_soak: a long flight through the saver's frame loop at land size
// 6 and a 128 x 96 frame with a new landscape every second (every 26th tick),
// printing the resident memory every 10,000 ticks. It fails (exit 1) when the
// memory grew after the first report: everything a landscape or a frame takes
// must be given back. Run under AddressSanitizer (scripts/soak.sh, the sanitize
// preset's soak test) it also fails on any leak or bad access.
//
//   glidescape_soak [TICKS] [REPORT_EVERY]     defaults 100000, 10000
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "app/FrameLoop.h"
#include "app/NewLand.h"
#include "app/Platform.h"
#include "app/Settings.h"

namespace {

class SoakPlatform : public SaverPlatform {
public:
    void BlitFrame(const uint32_t*, int32_t, int32_t, int32_t) override { ++frames; }
    void DrawStatusText(const char*, int32_t, int32_t, uint32_t) override {}
    bool QueryShift() override { return false; }
    int64_t ClockMs() override { return clock += 40; }
    // A new second for every landscape, so each one differs.
    uint32_t CalendarSeconds() override { return ++seconds; }
    uint32_t MillisecondTime() override { return 12345; }

    int64_t frames = 0;
    int64_t clock = 0;
    uint32_t seconds = 1700000000u;
};

// Resident memory in KiB, from /proc/self/statm (pages).
int64_t ResidentKiB() {
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr) return -1;
    long size = 0;
    long resident = 0;
    const int read = std::fscanf(statm, "%ld %ld", &size, &resident);
    std::fclose(statm);
    if (read != 2) return -1;
    return static_cast<int64_t>(resident) * (sysconf(_SC_PAGESIZE) / 1024);
}

}  // namespace

int main(int argc, char** argv) {
    const long ticks = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 100000;
    const long every = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 10000;
    if (ticks < 1 || every < 1) {
        std::fprintf(stderr, "usage: glidescape_soak [TICKS] [REPORT_EVERY]\n");
        return 2;
    }
    Settings settings;
    RestoreDefaultSettings(settings);
    settings.landSize = 6;
    settings.newlandWait = 1;
    // The smallest frame, 128 x 96: a soak is about what is allocated and
    // given back, which is the same for every frame size, and a small frame
    // lets 100,000 ticks run under AddressSanitizer in minutes.
    settings.outputWidth = 128;
    SoakPlatform platform;
    Flight flight;
    if (!flight.Create(platform, settings, 128, 96)) {
        std::fprintf(stderr, "glidescape_soak: the frame loop could not be created\n");
        return 1;
    }
    int64_t landscapes = 0;
    int64_t firstReport = -1;
    int64_t highest = 0;
    for (long tick = 1; tick <= ticks; ++tick) {
        if (flight.Tick() == TickResult::Generated) {
            ++landscapes;
            if (flight.newLand.failedStep != 0) {
                std::fprintf(stderr, "glidescape_soak: landscape %lld ran out of memory\n",
                             static_cast<long long>(landscapes));
                return 1;
            }
        }
        // Smooth motion, as at 60 Hz: the tick's frame and two in between.
        for (const int32_t fraction : {0, 26214, 52428}) flight.Draw(fraction);
        if (tick % every == 0 || tick == ticks) {
            const int64_t resident = ResidentKiB();
            std::printf("tick %7ld: %lld landscapes, %lld frames, resident %lld KiB\n", tick,
                        static_cast<long long>(landscapes), static_cast<long long>(platform.frames),
                        static_cast<long long>(resident));
            std::fflush(stdout);
            if (firstReport < 0) firstReport = resident;
            if (resident > highest) highest = resident;
        }
    }
    flight.Destroy();
    // A page or two of slack for the allocator's own bookkeeping.
    const int64_t growth = highest - firstReport;
    std::printf("resident memory after the first report grew by %lld KiB\n",
                static_cast<long long>(growth));
    if (growth > 256) {
        std::fprintf(stderr, "glidescape_soak: resident memory grew by %lld KiB\n",
                     static_cast<long long>(growth));
        return 1;
    }
    return 0;
}
