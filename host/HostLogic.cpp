// HostLogic.cpp - command-line reading, the closing thresholds and the
// monitors' flights.
#include "host/HostLogic.h"

#include <algorithm>

namespace hostlogic {

namespace {

bool IsSwitchLetter(char c, char upper) {
    return c == upper || c == upper - 'A' + 'a';
}

// Blanks and control characters before the tail (codes 1 to 32).
bool IsBlankOrControl(char c) {
    const auto code = static_cast<unsigned char>(c);
    return code >= 1 && code <= 32;
}

const char* SkipSpaces(const char* text, NextChar next) {
    while (*text == ' ') text = next(text);
    return text;
}

}  // namespace

const char* NextByte(const char* text) {
    return *text != '\0' ? text + 1 : text;
}

const char* CommandTail(const char* commandLine, NextChar next) {
    const char* p = commandLine;
    if (*p == '"') {
        p = next(p);
        while (*p != '\0' && *p != '"') p = next(p);
        if (*p == '"') p = next(p);
    } else {
        while (static_cast<unsigned char>(*p) > 32) p = next(p);
    }
    while (IsBlankOrControl(*p)) p = next(p);
    return p;
}

HostCommand ParseCommandTail(const char* tail, bool legacyPlatform, NextChar next) {
    HostCommand command;
    const char* p = tail;
    for (;;) {
        const char c = *p;
        if (c == '\0') {
            command.mode = HostMode::ConfigureNoOwner;
            return command;
        }
        if (c == ' ' || c == '-' || c == '/') {
            p = next(p);
            continue;
        }
        if (IsSwitchLetter(c, 'S')) {
            command.mode = HostMode::FullScreen;
            return command;
        }
        if (IsSwitchLetter(c, 'P') || IsSwitchLetter(c, 'L')) {
            command.mode = HostMode::Preview;
            command.rest = SkipSpaces(next(p), next);
            command.windowHandle = ParseWindowHandle(command.rest);
            return command;
        }
        if (IsSwitchLetter(c, 'C')) {
            command.mode = HostMode::Configure;
            p = next(p);
            if (*p == ':') {
                command.rest = next(p);
                command.windowHandle = ParseWindowHandle(command.rest);
            }
            return command;
        }
        if (IsSwitchLetter(c, 'A') && legacyPlatform) {
            command.mode = HostMode::ChangePassword;
            command.rest = SkipSpaces(next(p), next);
            command.windowHandle = ParseWindowHandle(command.rest);
            return command;
        }
        command.mode = HostMode::Invalid;
        return command;
    }
}

uint32_t ParseWindowHandle(const char* text) {
    uint32_t value = 0;
    for (const char* p = text; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10u + static_cast<uint32_t>(*p - '0');
    }
    return value;
}

bool MouseDriftCloses(ScreenPoint recorded, ScreenPoint now) {
    // 64-bit differences: no overflow whatever the coordinates; a sum too
    // large for 32 bits is certainly above the threshold.
    const int64_t dx = static_cast<int64_t>(now.x) - recorded.x;
    const int64_t dy = static_cast<int64_t>(now.y) - recorded.y;
    const uint64_t distance =
        static_cast<uint64_t>(dx < 0 ? -dx : dx) + static_cast<uint64_t>(dy < 0 ? -dy : dy);
    return distance > kMouseDriftThreshold;
}

bool WithinVerifyDebounce(uint32_t lastVerifyTick, uint32_t now) {
    return lastVerifyTick != kNoVerifyYet && now - lastVerifyTick < kVerifyDebounceMs;
}

int32_t DialogNumber(const char* text, bool isSigned) {
    const char* p = text;
    while (*p == ' ') ++p;
    bool negative = false;
    if (*p == '+' || (isSigned && *p == '-')) negative = *p++ == '-';
    if (*p < '0' || *p > '9') return 0;
    const uint64_t limit =
        isSigned ? (negative ? UINT64_C(0x80000000) : UINT64_C(0x7FFFFFFF)) : UINT64_C(0xFFFFFFFF);
    uint64_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        magnitude = magnitude * 10u + static_cast<uint64_t>(*p - '0');
        if (magnitude > limit) return 0;
    }
    while (*p == ' ') ++p;
    if (*p != '\0') return 0;
    const uint32_t bits = static_cast<uint32_t>(negative ? 0u - magnitude : magnitude);
    // Two's complement conversion without implementation-defined casts.
    return bits <= 0x7FFFFFFFu ? static_cast<int32_t>(bits) : -static_cast<int32_t>(~bits) - 1;
}

SettingText ReadSettingText(const char* text, int32_t* value) {
    const char* p = text;
    while (*p == ' ' || *p == '\t') ++p;
    bool negative = false;
    if (*p == '-' || *p == '+') negative = *p++ == '-';
    if (*p < '0' || *p > '9') return SettingText::NotANumber;
    int64_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        // Past 2^32 the value is out of range either way: stop growing.
        if (magnitude <= INT64_C(0xFFFFFFFF)) magnitude = magnitude * 10 + (*p - '0');
    }
    while (*p == ' ' || *p == '\t') ++p;
    if (*p != '\0') return SettingText::NotANumber;
    const int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue > INT32_MAX || signedValue < INT32_MIN) return SettingText::OutOfRange;
    *value = static_cast<int32_t>(signedValue);
    return SettingText::Number;
}

bool ParseSettingText(const char* text, int32_t* value) {
    return ReadSettingText(text, value) == SettingText::Number;
}

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

}  // namespace hostlogic
