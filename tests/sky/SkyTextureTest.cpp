// The sky texture and the image operations it is made with (also used for
// the object images).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "base/Scratch.h"
#include "base/Units.h"
#include "sky/Image.h"
#include "sky/SkyTexture.h"
#include "tests/base/Checksum.h"

namespace {

int32_t Red(uint32_t p) {
    return static_cast<int32_t>((p >> 16) & 0xFF);
}
int32_t Green(uint32_t p) {
    return static_cast<int32_t>((p >> 8) & 0xFF);
}
int32_t Blue(uint32_t p) {
    return static_cast<int32_t>(p & 0xFF);
}

uint32_t Grey(int32_t level) {
    const auto v = static_cast<uint32_t>(level);
    return 0xFF000000u | v << 16 | v << 8 | v;
}

TEST(BlurWrapped, SingleWhitePixel) {
    struct Case {
        int32_t centreWeight, centre, neighbour;
    };
    for (const Case& c : {Case{12, 158, 12}, Case{2, 70, 23}}) {
        SCOPED_TRACE(c.centreWeight);
        std::vector<uint32_t> image(9 * 7, 0);
        image[3 + 4 * 9] = 0xFFFFFFFFu;
        ASSERT_TRUE(BlurWrapped(image.data(), 9, 7, c.centreWeight));
        for (int32_t y = 0; y < 7; ++y) {
            for (int32_t x = 0; x < 9; ++x) {
                const uint32_t p = image[x + y * 9];
                const bool centre = x == 3 && y == 4;
                const bool near = std::abs(x - 3) <= 1 && std::abs(y - 4) <= 1;
                const int32_t expected = centre ? c.centre : (near ? c.neighbour : 0);
                ASSERT_EQ(p, Grey(expected)) << x << "," << y;
            }
        }
    }
}

TEST(BlurWrapped, WrapsAtTheEdges) {
    std::vector<uint32_t> image(5 * 4, 0);
    image[0] = 0xFFFFFFFFu;  // corner (0, 0): its neighbours wrap to the far sides
    ASSERT_TRUE(BlurWrapped(image.data(), 5, 4, 12));
    EXPECT_EQ(image[0], Grey(158));
    for (int32_t index : {4 + 3 * 5, 0 + 3 * 5, 1 + 3 * 5, 4, 1, 4 + 5, 5, 1 + 5}) {
        EXPECT_EQ(image[index], Grey(12)) << index;
    }
    EXPECT_EQ(image[2 + 2 * 5], Grey(0));
}

// The plain way: every neighbour through a modulo, each channel divided.
std::vector<uint32_t> ReferenceBlur(const std::vector<uint32_t>& in, int32_t w, int32_t h,
                                    int32_t centreWeight) {
    std::vector<uint32_t> out(in.size());
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            int64_t sum[3] = {0, 0, 0};
            for (int32_t dy = -1; dy <= 1; ++dy) {
                for (int32_t dx = -1; dx <= 1; ++dx) {
                    const uint32_t p = in[(x + dx + w) % w + ((y + dy + h) % h) * w];
                    const int32_t weight = (dx == 0 && dy == 0) ? centreWeight + 1 : 1;
                    sum[0] += Red(p) * weight;
                    sum[1] += Green(p) * weight;
                    sum[2] += Blue(p) * weight;
                }
            }
            int32_t channel[3];
            for (int i = 0; i < 3; ++i) {
                double v = std::trunc(sum[i] * (1.0 / (centreWeight + 9)) + 0.5);
                channel[i] = static_cast<int32_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
            }
            out[x + y * w] = 0xFF000000u | static_cast<uint32_t>(channel[0]) << 16 |
                             static_cast<uint32_t>(channel[1]) << 8 |
                             static_cast<uint32_t>(channel[2]);
        }
    }
    return out;
}

TEST(BlurWrapped, MatchesTheDirectSum) {
    uint32_t state = 7;
    std::vector<uint32_t> image(13 * 11);
    for (uint32_t& p : image) {
        p = static_cast<uint32_t>(LcgStep(state)) << 12 ^ static_cast<uint32_t>(LcgStep(state));
    }
    for (int32_t weight : {0, 2, 12, 1000}) {
        SCOPED_TRACE(weight);
        std::vector<uint32_t> blurred = image;
        ASSERT_TRUE(BlurWrapped(blurred.data(), 13, 11, weight));
        EXPECT_EQ(blurred, ReferenceBlur(image, 13, 11, weight));
    }
    // A single pixel wraps onto itself; alpha is always set.
    uint32_t one = 0x00123456u;
    ASSERT_TRUE(BlurWrapped(&one, 1, 1, 5));
    EXPECT_EQ(one, 0xFF123456u);
}

TEST(BlurWrapped, RejectsMeaninglessInput) {
    uint32_t pixels[4] = {};
    EXPECT_FALSE(BlurWrapped(pixels, 2, 2, -9));  // divisor 0
    EXPECT_FALSE(BlurWrapped(pixels, 0, 2, 0));
    scratch::FailAllocationsAfter(0);
    EXPECT_FALSE(BlurWrapped(pixels, 2, 2, 0));
    scratch::FailAllocationsAfter(-1);
}

TEST(DisplaceMidpoints, FirstPassWrapsOntoShareCells) {
    uint32_t randomState = 4242;
    uint32_t state = 4242;
    std::vector<int32_t> values(4, 0);
    DisplaceMidpoints(values.data(), 2, 100, -1000, 1000, randomState);
    int32_t o[5];
    for (int32_t& offset : o) offset = LcgStep(state) % 101 - 50;
    const int32_t top = o[0];
    const int32_t bottom = o[1];
    const int32_t right = o[2];
    const int32_t left = o[3];
    EXPECT_EQ(values[0], 0);
    EXPECT_EQ(values[1], bottom);  // top and bottom share (1, 0)
    EXPECT_EQ(values[2], right);   // left and right share (0, 1)
    EXPECT_EQ(values[3], ((top + bottom + right + left) >> 2) + o[4]);
    EXPECT_EQ(randomState, state);
}

// The plain way: every corner and midpoint through a modulo.
void ReferenceDisplace(std::vector<int32_t>& v, int32_t side, int32_t amplitude, int32_t low,
                       int32_t high, uint32_t& state) {
    auto clamp = [&](int32_t x) { return x < low ? low : (x > high ? high : x); };
    auto at = [&](int32_t x, int32_t y) -> int32_t& { return v[(x % side) + (y % side) * side]; };
    int32_t a = amplitude;
    for (int32_t step = side; step > 1; step /= 2, a = a / 2 < 2 ? 2 : a / 2) {
        const int32_t half = step / 2;
        for (int32_t x = 0; x < side; x += step) {
            for (int32_t y = 0; y < side; y += step) {
                auto offset = [&] { return LcgStep(state) % (a + 1) - (a >> 1); };
                const int32_t tl = at(x, y), tr = at(x + step, y), bl = at(x, y + step),
                              br = at(x + step, y + step);
                const int32_t top = clamp(((tl + tr) >> 1) + offset());
                const int32_t bottom = clamp(((bl + br) >> 1) + offset());
                const int32_t right = clamp(((tr + br) >> 1) + offset());
                const int32_t left = clamp(((tl + bl) >> 1) + offset());
                const int32_t centre = clamp(((top + bottom + right + left) >> 2) + offset());
                at(x + half, y) = top;
                at(x + half, y + step) = bottom;
                at(x, y + half) = left;
                at(x + step, y + half) = right;
                at(x + half, y + half) = centre;
            }
        }
    }
}

TEST(DisplaceMidpoints, MatchesTheModuloFormulation) {
    for (int32_t side : {1, 2, 8, 64}) {
        SCOPED_TRACE(side);
        std::vector<int32_t> values(static_cast<size_t>(side) * side, 0);
        std::vector<int32_t> expected = values;
        uint32_t randomState = 99;
        uint32_t state = 99;
        DisplaceMidpoints(values.data(), side, side, 0, 255, randomState);
        ReferenceDisplace(expected, side, side, 0, 255, state);
        EXPECT_EQ(values, expected);
        EXPECT_EQ(randomState, state);
        for (int32_t v : values) {
            ASSERT_GE(v, 0);
            ASSERT_LE(v, 255);
        }
    }
    // Sides that are not powers of two would step off the grid: ignored.
    std::vector<int32_t> odd(36, 0);
    uint32_t randomState = 99;
    DisplaceMidpoints(odd.data(), 6, 6, 0, 255, randomState);
    for (int32_t v : odd) EXPECT_EQ(v, 0);
    EXPECT_EQ(randomState, 99u);
}

// The texture's texels as a vector.
std::vector<uint32_t> Texels(const SkyTexture& sky) {
    return std::vector<uint32_t>(sky.pixels,
                                 sky.pixels + static_cast<int64_t>(sky.width) * sky.height);
}

// A texture built from seed.
struct SkyOf {
    explicit SkyOf(uint32_t seed, int32_t sizeExponent = 8) : state(seed) {
        built = sky.BuildSkyTexture(sizeExponent, state);
    }
    SkyTexture sky;
    uint32_t state;
    bool built;
};

TEST(SkyTexture, RestoresRandomStateAndRepeatsForTheSameSeed) {
    SkyOf first(777);
    ASSERT_TRUE(first.built);
    EXPECT_EQ(first.state, 777u);
    ASSERT_EQ(first.sky.width, 256);
    const std::vector<uint32_t> texels = Texels(first.sky);
    // Rebuilding from the same state replaces it with the same texels.
    ASSERT_TRUE(first.sky.BuildSkyTexture(8, first.state));
    EXPECT_EQ(first.state, 777u);
    EXPECT_EQ(Texels(first.sky), texels);
    EXPECT_NE(Texels(SkyOf(778).sky), texels);
}

// The whole texture the plain way: noise floor and stars visited column by
// column (x outer), star channels drawn green, red, blue; the clouds start
// again from the seed.
std::vector<uint32_t> ReferenceSky(uint32_t seed, int32_t side) {
    uint32_t state = seed;
    std::vector<uint32_t> px(static_cast<size_t>(side) * side);
    for (int32_t x = 0; x < side; ++x) {
        for (int32_t y = 0; y < side; ++y) {
            const uint32_t r = LcgStep(state) % 16, g = LcgStep(state) % 16;
            const uint32_t b = LcgStep(state) % 34;
            px[x + y * side] = 0xFF000000u | r << 16 | g << 8 | b;
        }
    }
    for (int32_t x = 0; x < side; ++x) {
        for (int32_t y = 0; y < side; ++y) {
            if (LcgStep(state) % 1024 >= 12) continue;
            const uint32_t g = LcgStep(state) % 26, r = LcgStep(state) % 26;
            const uint32_t b = LcgStep(state) % 26;
            px[x + y * side] = 0xFF000000u | (230 + r) << 16 | (230 + g) << 8 | (230 + b);
        }
    }
    px = ReferenceBlur(px, side, side, 2);
    for (uint32_t& p : px) {
        if (Red(p) + Green(p) + Blue(p) > 375) p = 0xFFFFFFFFu;
    }
    px = ReferenceBlur(px, side, side, 12);
    std::vector<int32_t> clouds(px.size(), 0);
    state = seed;
    ReferenceDisplace(clouds, side, side, 0, 255, state);
    for (size_t i = 0; i < px.size(); ++i) {
        auto add = [&](int32_t c) { return static_cast<uint32_t>(std::min(c + clouds[i], 255)); };
        px[i] = 0xFF000000u | add(Red(px[i])) << 16 | add(Green(px[i])) << 8 | add(Blue(px[i]));
    }
    return px;
}

TEST(SkyTexture, MatchesThePlainComposition) {
    for (uint32_t seed : {12345u, 0xDEADBEEFu}) {
        EXPECT_EQ(Texels(SkyOf(seed).sky), ReferenceSky(seed, 256)) << seed;
    }
}

TEST(SkyTexture, IsOpaqueDarkWithStarsAndClouds) {
    const SkyOf sky(12345);
    ASSERT_EQ(sky.sky.width, 256);
    ASSERT_EQ(sky.sky.height, 256);
    int32_t bright = 0;
    int64_t blueExcess = 0;
    for (int32_t i = 0; i < 256 * 256; ++i) {
        const uint32_t p = sky.sky.pixels[i];
        ASSERT_EQ(p >> 24, 0xFFu);
        if (Red(p) + Green(p) + Blue(p) > 600) ++bright;
        blueExcess += Blue(p) - Red(p);
    }
    EXPECT_GT(bright, 0);        // star cores in thin cloud
    EXPECT_LT(bright, 256 * 8);  // but no white-out
    EXPECT_GT(blueExcess, 0);    // the noise floor is bluish
    // Seed 12345 checked by eye (blue-black noise, white stars with glows,
    // grey cloud banks, seamless when tiled) and against ReferenceSky.
    EXPECT_EQ(Fnv1a64(sky.sky.pixels, 256 * 256), 0x47ada8aeb38ddbd9ull);
}

// Mean absolute channel difference between two columns (or rows).
double LineDifference(const uint32_t* sky, int32_t a, int32_t b, bool columns) {
    int64_t total = 0;
    for (int32_t i = 0; i < 256; ++i) {
        const uint32_t p = columns ? sky[a + i * 256] : sky[i + a * 256];
        const uint32_t q = columns ? sky[b + i * 256] : sky[i + b * 256];
        total +=
            std::abs(Red(p) - Red(q)) + std::abs(Green(p) - Green(q)) + std::abs(Blue(p) - Blue(q));
    }
    return static_cast<double>(total) / 256.0;
}

TEST(SkyTexture, Tiles) {
    for (uint32_t seed : {1u, 12345u, 0xCAFEu}) {
        const SkyOf sky(seed);
        const uint32_t* texels = sky.sky.pixels;
        for (bool columns : {true, false}) {
            double interior = 0;
            for (int32_t i = 1; i < 255; ++i) interior += LineDifference(texels, i, i + 1, columns);
            interior /= 254;
            EXPECT_LT(LineDifference(texels, 255, 0, columns), 1.5 * interior)
                << "seed " << seed << (columns ? " columns" : " rows");
        }
    }
}

TEST(SkyTexture, CloudsSaturatePerChannel) {
    SkyOf sky(31);
    for (int32_t i = 0; i < 256 * 256; ++i) {
        sky.sky.pixels[i] = (i % 3 == 0) ? 0x00F0F0F0u : (i % 3 == 1 ? 0x80FF0010u : 0x00000000u);
    }
    uint32_t state = 31;
    std::vector<int32_t> density(256 * 256, 0);
    DisplaceMidpoints(density.data(), 256, 256, 0, 255, state);
    state = 31;
    ASSERT_TRUE(sky.sky.AddSkyClouds(state));
    EXPECT_EQ(state, 31u);
    for (int32_t i = 0; i < 256 * 256; ++i) {
        const int32_t d = density[i];
        auto sat = [d](int32_t c) { return c + d > 255 ? 255 : c + d; };
        const uint32_t p = sky.sky.pixels[i];
        ASSERT_EQ(p >> 24, 0xFFu);
        const int32_t base[3][3] = {{0xF0, 0xF0, 0xF0}, {0xFF, 0x00, 0x10}, {0, 0, 0}};
        ASSERT_EQ(Red(p), sat(base[i % 3][0])) << i;
        ASSERT_EQ(Green(p), sat(base[i % 3][1])) << i;
        ASSERT_EQ(Blue(p), sat(base[i % 3][2])) << i;
    }
}

TEST(SkyTexture, SizeExponentIsClamped) {
    SkyOf sky(5, -3);
    EXPECT_EQ(sky.sky.width, 1);
    EXPECT_EQ(sky.sky.height, 1);
    EXPECT_EQ(sky.sky.pixels[0] >> 24, 0xFFu);
    ASSERT_TRUE(sky.sky.BuildSkyTexture(3, sky.state));
    EXPECT_EQ(sky.sky.width, 8);
}

TEST(SkyTexture, LargestSize) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "16M-pixel sky: too slow for the sanitizer run";
#endif
    const SkyOf sky(5, 13);
    EXPECT_EQ(sky.sky.width, 4096);
    EXPECT_EQ(sky.sky.height, 4096);
}

TEST(SkyTexture, EnableSkyBuildsOnlyWithoutATexture) {
    SkyOf sky(5);
    EXPECT_EQ(sky.sky.enabled, 0);
    uint32_t* texels = sky.sky.pixels;
    EXPECT_TRUE(sky.sky.EnableSky(1, sky.state));
    EXPECT_EQ(sky.sky.enabled, 1);
    EXPECT_EQ(sky.sky.pixels, texels);
    // Without a texture, enabling builds the default one from the state.
    SkyTexture empty;
    uint32_t state = 5;
    EXPECT_TRUE(empty.EnableSky(1, state));
    EXPECT_EQ(state, 5u);
    EXPECT_EQ(Texels(empty), Texels(sky.sky));
    // Switching it off keeps the texture.
    EXPECT_TRUE(empty.EnableSky(0, state));
    EXPECT_EQ(empty.enabled, 0);
    EXPECT_NE(empty.pixels, nullptr);
}

TEST(SkyTexture, FailedBuildKeepsTheOldSkyAndTheState) {
    SkyOf sky(5);
    uint32_t* texels = sky.sky.pixels;
    // Pixels, the two blur copies, the cloud densities: fail each in turn.
    for (int32_t n = 0; n < 3; ++n) {
        uint32_t state = 77;
        scratch::FailAllocationsAfter(n);
        EXPECT_FALSE(sky.sky.BuildSkyTexture(8, state));
        scratch::FailAllocationsAfter(-1);
        EXPECT_EQ(sky.sky.pixels, texels);
        EXPECT_EQ(state, 77u);
    }
    // Without its clouds the new sky is installed, complete and opaque.
    uint32_t state = 77;
    scratch::FailAllocationsAfter(3);
    EXPECT_FALSE(sky.sky.BuildSkyTexture(8, state));
    scratch::FailAllocationsAfter(-1);
    EXPECT_NE(sky.sky.pixels, nullptr);
    EXPECT_EQ(state, 77u);
    for (int32_t i = 0; i < 256 * 256; ++i) ASSERT_EQ(sky.sky.pixels[i] >> 24, 0xFFu);
}

}  // namespace
