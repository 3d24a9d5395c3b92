#include "app/Monitors.h"

#include <algorithm>

FlightPlan PlanFlights(PixelRect window, const MonitorArea* monitors, int32_t monitorCount,
                       int32_t mode) {
    FlightPlan plan = {};
    // Window sides in 64 bits: a side that does not fit 32 bits has no
    // window coordinates.
    const int64_t width = static_cast<int64_t>(window.right) - window.left;
    const int64_t height = static_cast<int64_t>(window.bottom) - window.top;
    if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX) return plan;
    const PixelRect whole = {0, 0, static_cast<int32_t>(width), static_cast<int32_t>(height)};
    if (mode != static_cast<int32_t>(MonitorsMode::PrimaryOnly) &&
        mode != static_cast<int32_t>(MonitorsMode::Spanning)) {
        mode = static_cast<int32_t>(MonitorsMode::EachMonitor);
    }
    if (monitors == nullptr || monitorCount < 0) monitorCount = 0;

    int32_t primary = 0;
    for (int32_t i = 0; i < monitorCount; ++i) {
        if (monitors[i].primary) {
            primary = i;
            break;
        }
    }
    if (mode != static_cast<int32_t>(MonitorsMode::Spanning)) {
        // Primary first, then the rest in the order given.
        for (int32_t n = 0; n < monitorCount && plan.count < kMaxFlights; ++n) {
            const int32_t i = n == 0 ? primary : (n <= primary ? n - 1 : n);
            const PixelRect& m = monitors[i].rect;
            // Clipped to the window, then moved to its origin; every value
            // lies within the window's 32-bit sides.
            const int64_t left = std::max<int64_t>(m.left, window.left) - window.left;
            const int64_t top = std::max<int64_t>(m.top, window.top) - window.top;
            const int64_t right = std::min<int64_t>(m.right, window.right) - window.left;
            const int64_t bottom = std::min<int64_t>(m.bottom, window.bottom) - window.top;
            if (left >= right || top >= bottom) continue;
            const PixelRect area = {static_cast<int32_t>(left), static_cast<int32_t>(top),
                                    static_cast<int32_t>(right), static_cast<int32_t>(bottom)};
            bool repeated = false;
            for (int32_t k = 0; k < plan.count; ++k) {
                const PixelRect& a = plan.areas[k];
                repeated = repeated || (a.left == area.left && a.top == area.top &&
                                        a.right == area.right && a.bottom == area.bottom);
            }
            if (repeated) continue;
            plan.areas[plan.count++] = area;
            // Only the primary monitor, which comes first, flies.
            if (mode == static_cast<int32_t>(MonitorsMode::PrimaryOnly)) break;
        }
    }
    if (plan.count == 0) {
        plan.count = 1;
        plan.areas[0] = whole;
    }
    return plan;
}

uint32_t OffsetSeed(uint32_t seed, int32_t flightIndex) {
    return seed + static_cast<uint32_t>(flightIndex);
}
