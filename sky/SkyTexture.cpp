// SkyTexture.cpp - the starry, cloudy sky texture of a FlightView and the
// image operations it is made with (also used for the object images).
//
// The sky is a square, seamlessly tiling texture (256 x 256 in the saver):
// a dark blue-black noise floor, near-white stars softened into glows, and
// grey clouds from midpoint displacement. It is drawn from the view's own
// random sequence and leaves randomState as it found it, so the seed alone
// decides the sky and the objects that are placed after it.
//
// Pixels are 0xAARRGGBB words, pixel (x, y) at x + y * width; every pixel of
// a finished sky has alpha 255. Blur and displacement wrap at the edges.
#include <cstdint>

#include "land/Scratch.h"
#include "land/Units.h"
#include "sky/CoreMath.h"
#include "view/FlightView.h"

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

uint32_t Rgb(int32_t red, int32_t green, int32_t blue) {
    return kOpaque | static_cast<uint32_t>(red) << 16 | static_cast<uint32_t>(green) << 8 |
           static_cast<uint32_t>(blue);
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

// Adds a cloud density to one 8-bit channel, saturating at 255.
uint32_t AddToChannel(uint32_t channel, int32_t density) {
    int32_t sum = static_cast<int32_t>(channel) + density;
    if (sum > 255) sum = 255;
    if (sum < 0) sum = 0;
    return static_cast<uint32_t>(sum);
}

}  // namespace

bool FlightView::BuildSkyTexture(int32_t sizeExponent) {
    const uint32_t savedState = randomState;
    if (sizeExponent < 0) sizeExponent = 0;
    if (sizeExponent > 12) sizeExponent = 12;
    const int32_t side = 1 << sizeExponent;
    uint32_t* pixels = AllocateArray<uint32_t>(static_cast<int64_t>(side) * side);
    if (pixels == nullptr) return false;

    for (int32_t x = 0; x < side; ++x) {
        for (int32_t y = 0; y < side; ++y) {
            const int32_t red = NextRandom() % 16;
            const int32_t green = NextRandom() % 16;
            const int32_t blue = NextRandom() % 34;
            pixels[x + y * side] = Rgb(red, green, blue);
        }
    }
    for (int32_t x = 0; x < side; ++x) {
        for (int32_t y = 0; y < side; ++y) {
            if (NextRandom() % 1024 < 12) {
                const int32_t green = NextRandom() % 26;
                const int32_t red = NextRandom() % 26;
                const int32_t blue = NextRandom() % 26;
                pixels[x + y * side] = Rgb(230 + red, 230 + green, 230 + blue);
            }
        }
    }
    bool blurred = BlurWrapped(pixels, side, side, 2);
    if (blurred) {
        // The brightest points of the softened stars become their white cores.
        for (int64_t i = 0; i < static_cast<int64_t>(side) * side; ++i) {
            if (RedOf(pixels[i]) + GreenOf(pixels[i]) + BlueOf(pixels[i]) > 375) {
                pixels[i] = 0xFFFFFFFFu;
            }
        }
        blurred = BlurWrapped(pixels, side, side, 12);
    }
    randomState = savedState;
    if (!blurred) {
        FreeArray(pixels);
        return false;
    }

    if (!skyBorrowed) FreeArray(sky);
    sky = pixels;
    skyWidth = side;
    skyHeight = side;
    skyBorrowed = false;
    // Without its cloud layer the sky is still complete and opaque; the
    // failure is passed on all the same.
    return AddSkyClouds();
}

bool FlightView::EnableSky(int32_t enabled) {
    skyEnabled = enabled;
    if (enabled != 0 && sky == nullptr) return BuildSkyTexture(8);
    return true;
}

bool FlightView::AddSkyClouds() {
    if (sky == nullptr || skyWidth < 1 || skyWidth != skyHeight) return false;
    // randomState now holds the noise floor's starting state, so the clouds
    // follow the same sequence.
    const uint32_t savedState = randomState;
    const int32_t n = skyWidth;
    const int64_t count = static_cast<int64_t>(n) * n;
    int32_t* values = AllocateArray<int32_t>(count);
    if (values == nullptr) return false;

    DisplaceMidpoints(values, n, n, 0, 255);
    for (int64_t i = 0; i < count; ++i) {
        const uint32_t pixel = sky[i];
        const int32_t density = values[i];
        sky[i] = (pixel & 0xFF000000u) | AddToChannel((pixel >> 16) & 0xFF, density) << 16 |
                 AddToChannel((pixel >> 8) & 0xFF, density) << 8 |
                 AddToChannel(pixel & 0xFF, density);
    }
    SetOpaque(sky, skyWidth, skyHeight);
    randomState = savedState;
    FreeArray(values);
    return true;
}

void FlightView::DisplaceMidpoints(int32_t* values, int32_t side, int32_t amplitude, int32_t low,
                                   int32_t high) {
    // The wrap-around below only lands on grid points for power-of-two sides.
    if (values == nullptr || side < 1 || (side & (side - 1)) != 0 || low > high) return;
    if (amplitude < 0) amplitude = 0;

    auto at = [values, side](int32_t x, int32_t y) -> int32_t& { return values[x + y * side]; };
    int32_t step = side;
    int64_t range = amplitude;
    while (step > 1) {
        const int32_t half = step / 2;
        // Offsets run from -range/2 to +range/2.
        auto offset = [this, range]() -> int64_t {
            return static_cast<int64_t>(NextRandom()) % (range + 1) - (range >> 1);
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

bool FlightView::BlurWrapped(uint32_t* pixels, int32_t width, int32_t height,
                             int32_t centreWeight) {
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
                Rgb(BlurredChannel(red, reciprocal), BlurredChannel(green, reciprocal),
                    BlurredChannel(blue, reciprocal));
        }
    }
    FreeArray(copy);
    return true;
}

void FlightView::SetOpaque(uint32_t* pixels, int32_t width, int32_t height) {
    if (pixels == nullptr || width < 1 || height < 1) return;
    const int64_t count = static_cast<int64_t>(width) * height;
    for (int64_t i = 0; i < count; ++i) pixels[i] |= kOpaque;
}
