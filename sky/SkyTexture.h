// SkyTexture.h - the starry, cloudy sky above the land, which water mirrors.
//
// A square, seamlessly tiling texture (256 x 256 in the saver): a dark
// blue-black noise floor, near-white stars softened into glows, and grey
// clouds from midpoint displacement. It is drawn from the owner's LcgRandom
// state (base/Units.h) and leaves that state as it found it, so the seed
// alone decides the sky, and whatever is drawn from the state after it
// (the objects) does not depend on the sky.
//
// Pixels are 0xAARRGGBB words, texel (x, y) at x + y x width; every texel of
// a finished sky has alpha 255. How the renderer walks it: one row per angle
// unit of azimuth, one texel per pixel up from the horizon (view/RenderMarch.cpp).
//
// Callers: the flight view builds it on construction (view/FlightView.cpp)
// and the renderer reads it.
#pragma once

#include <cstdint>

class SkyTexture {
public:
    SkyTexture() = default;
    ~SkyTexture() { Release(); }
    SkyTexture(const SkyTexture&) = delete;
    SkyTexture& operator=(const SkyTexture&) = delete;

    uint32_t* pixels = nullptr;  // width x height texels, owned (null: no sky yet)
    int32_t width = 0;
    int32_t height = 0;
    int32_t enabled = 0;  // the sky switch (EnableSky)

    // Builds a texture of side 2^sizeExponent (exponent clamped to [0, 12])
    // and installs it in place of the old one; randomState is left as it
    // was. False when memory is short: the old sky stays, unless only the
    // cloud layer failed, in which case the new sky is installed without it.
    bool BuildSkyTexture(int32_t sizeExponent, uint32_t& randomState);
    // Sets the switch; with a nonzero switch and no texture yet, builds one
    // of side 256 and returns BuildSkyTexture's result, else true.
    bool EnableSky(int32_t enable, uint32_t& randomState);
    // Adds the cloud layer to the installed texture, drawn from randomState
    // (left as it was). False without a square texture or its scratch memory.
    bool AddSkyClouds(uint32_t& randomState);
    // Frees the texture (the switch is kept).
    void Release();
};
