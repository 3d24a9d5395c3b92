// Frame tick cost of a full-screen saver on two monitors: the Win32 saver
// gives each monitor a flight of its own and ticks them one after the other
// on its window's thread, so a tick costs both flights' frames. Two heads of
// 800 x 600 and 640 x 480 at the default settings (Output Width 512: frames
// of 512 x 384 each, Land Size 10, 7 object slots), against one flight on the
// first head. One iteration is one timer tick of every flight (autopilot,
// motion and render; the blit is the platform's and costs nothing here).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "app/FrameLoop.h"
#include "app/Platform.h"
#include "app/Settings.h"
#include "base/ThreadPool.h"
#include "bench/BenchOptions.h"

namespace {

class QuietPlatform final : public SaverPlatform {
public:
    explicit QuietPlatform(uint32_t seedOffset) : seedOffset_(seedOffset) {}
    void BlitFrame(const uint32_t*, int32_t, int32_t, int32_t) override {}
    void DrawStatusText(const char*, int32_t, int32_t, uint32_t) override {}
    bool QueryShift() override { return false; }
    uint32_t CalendarSeconds() override { return 20261208u + seedOffset_; }
    uint32_t MillisecondTime() override { return 4242u + seedOffset_; }

private:
    uint32_t seedOffset_;
};

struct Head {
    int32_t width;
    int32_t height;
};

void TickHeads(benchmark::State& state, const std::vector<Head>& heads) {
    Settings settings;  // the defaults, a frame drawn by each tick
    settings.smoothMotion = 0;
    std::vector<QuietPlatform> platforms;
    platforms.reserve(heads.size());
    std::vector<Flight> flights(heads.size());
    for (size_t i = 0; i < heads.size(); ++i) {
        platforms.emplace_back(static_cast<uint32_t>(i));
        if (!flights[i].Create(platforms[i], settings, heads[i].width, heads[i].height,
                               BenchThreads())) {
            state.SkipWithError("a flight cannot fly");
            return;
        }
        // The first tick makes the land; a hundred frames bring the
        // autopilot into its turns.
        for (int tick = 0; tick < 101; ++tick) flights[i].Tick();
    }
    state.counters["threads"] = PoolSize(flights[0].frameLoop.threadPool);
    for (auto _ : state) {
        for (Flight& flight : flights) {
            if (flight.Tick() != TickResult::DrewFrame) {
                state.SkipWithError("a tick drew no frame");
                return;
            }
        }
    }
}

void BM_TickOneMonitor(benchmark::State& state) {
    TickHeads(state, {{800, 600}});
}
void BM_TickTwoMonitors(benchmark::State& state) {
    TickHeads(state, {{800, 600}, {640, 480}});
}

}  // namespace

BENCHMARK(BM_TickOneMonitor)->Iterations(400)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TickTwoMonitors)->Iterations(400)->Unit(benchmark::kMillisecond);
