// Image.h - the image operations the sky texture and the object images are
// made with.
//
// Images are arrays of 32-bit pixels 0xAARRGGBB (blue in the lowest byte),
// pixel (x, y) at x + y x width; a square image of side `side` holds pixel
// (x, y) at x + y x side. The blur and the displacement wrap at the edges,
// so what they make tiles without a seam. DisplaceMidpoints draws from the
// caller's LcgRandom state (base/Units.h).
//
// Callers: SkyTexture (sky/SkyTexture.cpp) and the ring images of ObjectSet
// (sky/ObjectSet.cpp).
#pragma once

#include <cstdint>

// The opaque pixel of the given channels, each 0 ... 255.
inline uint32_t OpaqueRgb(int32_t red, int32_t green, int32_t blue) {
    return 0xFF000000u | static_cast<uint32_t>(red) << 16 | static_cast<uint32_t>(green) << 8 |
           static_cast<uint32_t>(blue);
}

// red + green + blue of a pixel.
inline int32_t ChannelSum(uint32_t pixel) {
    return static_cast<int32_t>(((pixel >> 16) & 0xFF) + ((pixel >> 8) & 0xFF) + (pixel & 0xFF));
}

// Square-by-square midpoint displacement over values (side x side, in
// place), offsets of at most amplitude / 2 either way halving each pass
// (not below 2), results clamped to [low, high]. side must be a power of two
// (otherwise nothing happens); negative amplitudes count as 0.
void DisplaceMidpoints(int32_t* values, int32_t side, int32_t amplitude, int32_t low, int32_t high,
                       uint32_t& randomState);

// Weighted 3 x 3 mean of every pixel's red, green and blue with its
// neighbours (wrapping), the centre counted centreWeight more times; the
// results are opaque. False for sizes below 1, centreWeight below -8 or no
// scratch memory (pixels unchanged).
bool BlurWrapped(uint32_t* pixels, int32_t width, int32_t height, int32_t centreWeight);

// Sets the alpha byte of every pixel to 255.
void SetOpaque(uint32_t* pixels, int32_t width, int32_t height);

// Sets the pixels within radius of (x, y) to colour: the radius is first
// shrunk until the disc's bounding square fits the image, then made odd by
// taking 1 off an even one (0 draws nothing).
void FillDisc(uint32_t* pixels, int32_t side, int32_t radius, uint32_t colour, int32_t x,
              int32_t y);

// Every pixel whose red + green + blue is below threshold becomes 0.
void ClearDarkPixels(uint32_t* pixels, int32_t width, int32_t height, int32_t threshold);
