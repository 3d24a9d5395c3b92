// Image.cpp - blur, displacement, discs and the alpha and darkness passes
// of the sky and object images (see Image.h).
#include "sky/Image.h"

#include <cstdint>

#include "base/Scratch.h"
#include "base/Units.h"

namespace {

constexpr uint32_t kOpaque = 0xFF000000u;

int32_t RedOf(uint32_t pixel) {
    return static_cast<int32_t>((pixel >> 16) & 0xFF);
}
int32_t GreenOf(uint32_t pixel) {
    return static_cast<int32_t>((pixel >> 8) & 0xFF);
}
int32_t BlueOf(uint32_t pixel) {
    return static_cast<int32_t>(pixel & 0xFF);
}

// One blurred channel: trunc(sum / (centreWeight + 9) + 0.5) clamped to
// [0, 255], with the division done as a multiplication by the reciprocal.
int32_t BlurredChannel(int64_t sum, double reciprocal) {
    const double value = static_cast<double>(sum) * reciprocal + 0.5;
    if (value >= 255.0) return 255;
    if (value <= 0.0) return 0;
    return static_cast<int32_t>(value);
}

int32_t ClampTo(int64_t value, int32_t low, int32_t high) {
    if (value < low) return low;
    if (value > high) return high;
    return static_cast<int32_t>(value);
}

}  // namespace

void DisplaceMidpoints(int32_t* values, int32_t side, int32_t amplitude, int32_t low, int32_t high,
                       uint32_t& randomState) {
    // The wrap-around below only lands on grid points for power-of-two sides.
    if (values == nullptr || side < 1 || (side & (side - 1)) != 0 || low > high) return;
    if (amplitude < 0) amplitude = 0;

    auto at = [values, side](int32_t x, int32_t y) -> int32_t& { return values[x + y * side]; };
    int32_t step = side;
    int64_t range = amplitude;
    while (step > 1) {
        const int32_t half = step / 2;
        // Offsets run from -range/2 to +range/2.
        auto offset = [&randomState, range]() -> int64_t {
            return static_cast<int64_t>(LcgStep(randomState)) % (range + 1) - (range >> 1);
        };
        for (int32_t x0 = 0; x0 < side; x0 += step) {
            for (int32_t y0 = 0; y0 < side; y0 += step) {
                const int32_t x1 = x0 + step == side ? 0 : x0 + step;
                const int32_t y1 = y0 + step == side ? 0 : y0 + step;
                const int64_t a = at(x0, y0);
                const int64_t b = at(x1, y0);
                const int64_t c = at(x0, y1);
                const int64_t d = at(x1, y1);
                const int32_t top = ClampTo(((a + b) >> 1) + offset(), low, high);
                const int32_t bottom = ClampTo(((c + d) >> 1) + offset(), low, high);
                const int32_t right = ClampTo(((b + d) >> 1) + offset(), low, high);
                const int32_t left = ClampTo(((a + c) >> 1) + offset(), low, high);
                const int64_t mean = (static_cast<int64_t>(top) + bottom + right + left) >> 2;
                const int32_t centre = ClampTo(mean + offset(), low, high);
                at(x0 + half, y0) = top;
                at(x0 + half, y1) = bottom;
                at(x0, y0 + half) = left;
                at(x1, y0 + half) = right;
                at(x0 + half, y0 + half) = centre;
            }
        }
        step /= 2;
        range /= 2;
        if (range < 2) range = 2;
    }
}

bool BlurWrapped(uint32_t* pixels, int32_t width, int32_t height, int32_t centreWeight) {
    // A divisor below 1 has no meaning as a weighted mean.
    if (pixels == nullptr || width < 1 || height < 1 || centreWeight < -8) return false;
    const int64_t count = static_cast<int64_t>(width) * height;
    uint32_t* copy = AllocateArray<uint32_t>(count);
    if (copy == nullptr) return false;
    for (int64_t i = 0; i < count; ++i) copy[i] = pixels[i];

    const double reciprocal = 1.0 / (static_cast<double>(centreWeight) + 9.0);
    for (int32_t y = 0; y < height; ++y) {
        const int32_t rows[3] = {y == 0 ? height - 1 : y - 1, y, y == height - 1 ? 0 : y + 1};
        for (int32_t x = 0; x < width; ++x) {
            const int32_t columns[3] = {x == 0 ? width - 1 : x - 1, x, x == width - 1 ? 0 : x + 1};
            int64_t red = 0;
            int64_t green = 0;
            int64_t blue = 0;
            for (int32_t row : rows) {
                const uint32_t* line = copy + static_cast<int64_t>(row) * width;
                for (int32_t column : columns) {
                    red += RedOf(line[column]);
                    green += GreenOf(line[column]);
                    blue += BlueOf(line[column]);
                }
            }
            const uint32_t centre = copy[static_cast<int64_t>(y) * width + x];
            red += static_cast<int64_t>(RedOf(centre)) * centreWeight;
            green += static_cast<int64_t>(GreenOf(centre)) * centreWeight;
            blue += static_cast<int64_t>(BlueOf(centre)) * centreWeight;
            pixels[static_cast<int64_t>(y) * width + x] =
                OpaqueRgb(BlurredChannel(red, reciprocal), BlurredChannel(green, reciprocal),
                          BlurredChannel(blue, reciprocal));
        }
    }
    FreeArray(copy);
    return true;
}

void SetOpaque(uint32_t* pixels, int32_t width, int32_t height) {
    if (pixels == nullptr || width < 1 || height < 1) return;
    const int64_t count = static_cast<int64_t>(width) * height;
    for (int64_t i = 0; i < count; ++i) pixels[i] |= kOpaque;
}

void FillDisc(uint32_t* pixels, int32_t side, int32_t radius, uint32_t colour, int32_t x,
              int32_t y) {
    if (pixels == nullptr || side < 1) return;
    // The largest radius not above the given one whose bounding square lies
    // inside the image.
    const int64_t limits[4] = {static_cast<int64_t>(y), static_cast<int64_t>(side) - 1 - y,
                               static_cast<int64_t>(x), static_cast<int64_t>(side) - 1 - x};
    int64_t r = radius;
    for (int64_t limit : limits) {
        if (r > limit) r = limit;
    }
    if (r % 2 == 0) r -= 1;
    if (r < 0) return;
    for (int64_t j = y - r; j <= y + r; ++j) {
        for (int64_t i = x - r; i <= x + r; ++i) {
            if ((i - x) * (i - x) + (j - y) * (j - y) <= r * r) pixels[i + j * side] = colour;
        }
    }
}

void ClearDarkPixels(uint32_t* pixels, int32_t width, int32_t height, int32_t threshold) {
    if (pixels == nullptr || width < 1 || height < 1) return;
    const int64_t count = static_cast<int64_t>(width) * height;
    for (int64_t i = 0; i < count; ++i) {
        if (ChannelSum(pixels[i]) < threshold) pixels[i] = 0;
    }
}
