// SkyTexture.cpp - building the sky texture: noise floor, stars, two blurs,
// white star cores and the cloud layer (see SkyTexture.h).
#include "sky/SkyTexture.h"

#include <cstdint>

#include "base/Scratch.h"
#include "base/Units.h"
#include "sky/Image.h"

namespace {

// Adds a cloud density to one 8-bit channel, saturating at 255.
uint32_t AddToChannel(uint32_t channel, int32_t density) {
    int32_t sum = static_cast<int32_t>(channel) + density;
    if (sum > 255) sum = 255;
    if (sum < 0) sum = 0;
    return static_cast<uint32_t>(sum);
}

}  // namespace

bool SkyTexture::BuildSkyTexture(int32_t sizeExponent, uint32_t& randomState) {
    const uint32_t savedState = randomState;
    if (sizeExponent < 0) sizeExponent = 0;
    if (sizeExponent > 12) sizeExponent = 12;
    const int32_t side = 1 << sizeExponent;
    uint32_t* texels = AllocateArray<uint32_t>(static_cast<int64_t>(side) * side);
    if (texels == nullptr) return false;

    for (int32_t x = 0; x < side; ++x) {
        for (int32_t y = 0; y < side; ++y) {
            const int32_t red = LcgStep(randomState) % 16;
            const int32_t green = LcgStep(randomState) % 16;
            const int32_t blue = LcgStep(randomState) % 34;
            texels[x + y * side] = OpaqueRgb(red, green, blue);
        }
    }
    for (int32_t x = 0; x < side; ++x) {
        for (int32_t y = 0; y < side; ++y) {
            if (LcgStep(randomState) % 1024 < 12) {
                const int32_t green = LcgStep(randomState) % 26;
                const int32_t red = LcgStep(randomState) % 26;
                const int32_t blue = LcgStep(randomState) % 26;
                texels[x + y * side] = OpaqueRgb(230 + red, 230 + green, 230 + blue);
            }
        }
    }
    bool blurred = BlurWrapped(texels, side, side, 2);
    if (blurred) {
        // The brightest points of the softened stars become their white cores.
        for (int64_t i = 0; i < static_cast<int64_t>(side) * side; ++i) {
            if (ChannelSum(texels[i]) > 375) texels[i] = 0xFFFFFFFFu;
        }
        blurred = BlurWrapped(texels, side, side, 12);
    }
    randomState = savedState;
    if (!blurred) {
        FreeArray(texels);
        return false;
    }

    Release();
    pixels = texels;
    width = side;
    height = side;
    // Without its cloud layer the sky is still complete and opaque; the
    // failure is passed on all the same.
    return AddSkyClouds(randomState);
}

bool SkyTexture::EnableSky(int32_t enable, uint32_t& randomState) {
    enabled = enable;
    if (enable != 0 && pixels == nullptr) return BuildSkyTexture(8, randomState);
    return true;
}

bool SkyTexture::AddSkyClouds(uint32_t& randomState) {
    if (pixels == nullptr || width < 1 || width != height) return false;
    // randomState now holds the noise floor's starting state, so the clouds
    // follow the same sequence.
    const uint32_t savedState = randomState;
    const int32_t n = width;
    const int64_t count = static_cast<int64_t>(n) * n;
    int32_t* values = AllocateArray<int32_t>(count);
    if (values == nullptr) return false;

    DisplaceMidpoints(values, n, n, 0, 255, randomState);
    for (int64_t i = 0; i < count; ++i) {
        const uint32_t pixel = pixels[i];
        const int32_t density = values[i];
        pixels[i] = (pixel & 0xFF000000u) | AddToChannel((pixel >> 16) & 0xFF, density) << 16 |
                    AddToChannel((pixel >> 8) & 0xFF, density) << 8 |
                    AddToChannel(pixel & 0xFF, density);
    }
    SetOpaque(pixels, width, height);
    randomState = savedState;
    FreeArray(values);
    return true;
}

void SkyTexture::Release() {
    FreeArray(pixels);
    width = 0;
    height = 0;
}
