#include "LandTestSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace landtest {

PollCounter pollCounter;

int32_t CountingProgress(void* counter, int32_t hint) {
    PollCounter& c = *static_cast<PollCounter*>(counter);
    ++c.polls;
    c.lastHint = hint;
    const bool abort = c.abortAt > 0 && (c.oneShot ? c.polls == c.abortAt : c.polls >= c.abortAt);
    if (abort) c.abortFlag = 1;
    return abort ? 1 : 0;
}

void ResetPolls(int64_t abortAt, bool oneShot) {
    pollCounter = PollCounter{};
    pollCounter.abortAt = abortAt;
    pollCounter.oneShot = oneShot;
}

uint64_t Fnv1a(const void* words, size_t count) {
    const auto* bytes = static_cast<const unsigned char*>(words);
    uint64_t hash = 14695981039346656037ull;
    for (size_t i = 0; i < count * 4; ++i) {
        hash ^= bytes[i];
        hash *= 1099511628211ull;
    }
    return hash;
}

std::vector<ComplexCell> WildCells(int64_t count, uint32_t seed) {
    std::vector<ComplexCell> cells(static_cast<size_t>(count));
    uint32_t state = seed;
    auto next = [&state]() {
        state = state * 1664525u + 1013904223u;
        return state;
    };
    for (ComplexCell& c : cells) {
        const uint32_t kind = next() % 16;
        const double value = std::ldexp(static_cast<double>(next() >> 8) - 8388608.0,
                                        static_cast<int>(next() % 40) - 20);
        c.re = kind == 0 ? 0.0 : (kind == 1 ? -0.0 : value);
        c.im = kind == 2 ? -0.0 : std::ldexp(static_cast<double>(next() >> 8) - 8388608.0, -3);
    }
    return cells;
}

std::vector<int32_t> RandomHeights(int32_t w, int32_t h, uint32_t seed, int32_t range) {
    std::vector<int32_t> heights(static_cast<size_t>(w) * h);
    uint32_t state = seed;
    for (int32_t& v : heights) {
        state = state * 1664525u + 1013904223u;
        v = static_cast<int32_t>((state >> 8) % static_cast<uint32_t>(range));
    }
    return heights;
}

namespace {

// Binary PPM; converted to PNG by hand when a picture is to be looked at.
void WritePpm(const char* name, const std::vector<uint32_t>& rgb, int32_t w, int32_t h) {
    const char* folder = std::getenv("LAND_TEST_PICTURES");
    if (folder == nullptr) return;
    const std::string path = std::string(folder) + "/" + name + ".ppm";
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return;
    std::fprintf(file, "P6\n%d %d\n255\n", w, h);
    for (uint32_t c : rgb) {
        const unsigned char pixel[3] = {static_cast<unsigned char>(c >> 16),
                                        static_cast<unsigned char>(c >> 8),
                                        static_cast<unsigned char>(c)};
        std::fwrite(pixel, 1, 3, file);
    }
    std::fclose(file);
}

}  // namespace

void WritePicture(const char* name, const std::vector<int32_t>& heights, int32_t w, int32_t h) {
    if (std::getenv("LAND_TEST_PICTURES") == nullptr || heights.empty()) return;
    const auto [lo, hi] = std::minmax_element(heights.begin(), heights.end());
    const int64_t span = std::max<int64_t>(int64_t{*hi} - *lo, 1);
    std::vector<uint32_t> grey(heights.size());
    for (size_t i = 0; i < heights.size(); ++i) {
        const auto v = static_cast<uint32_t>((int64_t{heights[i]} - *lo) * 255 / span);
        grey[i] = v << 16 | v << 8 | v;
    }
    WritePpm(name, grey, w, h);
}

void WritePicture(const char* name, const std::vector<uint32_t>& colours, int32_t w, int32_t h) {
    WritePpm(name, colours, w, h);
}

std::vector<uint32_t> RandomColours(size_t count, uint32_t seed, bool randomTopByte) {
    std::vector<uint32_t> colours(count);
    uint32_t state = seed;
    for (uint32_t& c : colours) {
        state = state * 1664525u + 1013904223u;
        c = randomTopByte ? state : state >> 8;
    }
    return colours;
}

}  // namespace landtest
