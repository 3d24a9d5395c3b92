// Palette.cpp - the earth palette, colouring by height and the two 3 x 3
// blur filters (colour channels and integer maps).
//
// Both blurs read the previous pass from one scratch map and so never see
// their own output within a pass. They poll once per column; the work runs
// in strips of columns, row by row inside a strip, which touches the same
// cells in the same way as a column-by-column sweep but walks memory along
// its rows.
#include <algorithm>
#include <cstring>

#include "base/Scratch.h"
#include "land/LandGenerator.h"
#include "land/LandMath.h"

using land_math::Hint;

// 0x00RRGGBB; dark low ground at entry 0, light high ground near the top.
const uint32_t EarthPalette[256] = {
    0x291F17, 0x2D2319, 0x322216, 0x32251B, 0x33291D, 0x3A2514, 0x3A261B, 0x3D2A15,  // 0-7
    0x3C2A1D, 0x3D301F, 0x3A2C21, 0x3D3225, 0x42261C, 0x422A14, 0x422C1D, 0x492A16,  // 8-15
    0x4A2D1B, 0x45301D, 0x4B311D, 0x522E13, 0x502E1B, 0x5A2D15, 0x5B2F18, 0x543016,  // 16-23
    0x52321D, 0x56381F, 0x5C3015, 0x5B331C, 0x5C381E, 0x402720, 0x422E21, 0x4B2E21,  // 24-31
    0x443223, 0x443528, 0x463926, 0x453A2B, 0x4B3323, 0x4B3628, 0x4C3825, 0x4C3A2B,  // 32-39
    0x4B3D30, 0x523523, 0x523629, 0x533925, 0x533B2A, 0x5A3622, 0x5C3728, 0x5B3A25,  // 40-47
    0x5B3D2A, 0x563E30, 0x603317, 0x62351C, 0x64381D, 0x6A351B, 0x6B391D, 0x71361A,  // 48-55
    0x73391D, 0x793C1D, 0x623621, 0x633C24, 0x623D29, 0x6B3620, 0x6A3D24, 0x6A3E29,  // 56-63
    0x633E30, 0x733D23, 0x733E29, 0x793E22, 0x4A402E, 0x4C4032, 0x55402D, 0x5B4026,  // 64-71
    0x5B412C, 0x5D482E, 0x544132, 0x564832, 0x5B4331, 0x5A4538, 0x5C4932, 0x5C4A39,  // 72-79
    0x644026, 0x63422C, 0x62482E, 0x6B4126, 0x6B432C, 0x6C482E, 0x634431, 0x624639,  // 80-87
    0x644933, 0x654C38, 0x6B4531, 0x6C4933, 0x6B4C39, 0x665039, 0x6F5037, 0x6C513B,  // 88-95
    0x744125, 0x73442C, 0x74482D, 0x7B4225, 0x7A452B, 0x7D4827, 0x7B492D, 0x734630,  // 96-103
    0x754738, 0x744A32, 0x744D39, 0x7A4630, 0x784738, 0x7B4B32, 0x7B4D39, 0x755036,  // 104-111
    0x73513A, 0x7D5035, 0x7C5139, 0x7E583D, 0x6D5340, 0x794F40, 0x785642, 0x814425,  // 112-119
    0x824629, 0x834826, 0x834A2C, 0x8C4424, 0x884629, 0x8A4926, 0x8A4C2C, 0x824731,  // 120-127
    0x834D32, 0x824E39, 0x8A4E31, 0x884E38, 0x87502F, 0x8C502E, 0x845034, 0x83533A,  // 128-135
    0x84583D, 0x8B5134, 0x8B543A, 0x8E5837, 0x8C583C, 0x914626, 0x904E2E, 0x994E2D,  // 136-143
    0x904E31, 0x904F38, 0x9D4E31, 0x93502E, 0x9B522E, 0x9E582F, 0x935233, 0x935539,  // 144-151
    0x955835, 0x93593C, 0x9B5534, 0x9B5638, 0x9C5835, 0x9C5A3A, 0x9C603E, 0xA1552E,  // 152-159
    0xA45B3B, 0xB05E38, 0xAA613D, 0xB1633D, 0x835541, 0x855A42, 0x865C48, 0x8B5640,  // 160-167
    0x8C5B42, 0x8B5D48, 0x915640, 0x935C42, 0x925E49, 0x9B5D41, 0x9B5E48, 0x856046,  // 168-175
    0x8C6046, 0x8D624A, 0x8E6650, 0x8F6852, 0x936045, 0x94634A, 0x95684E, 0x9B6144,  // 176-183
    0x9B644A, 0x9C684D, 0x926650, 0x946A52, 0x9B6551, 0x9B6B52, 0x9E6F58, 0x9D7056,  // 184-191
    0x9E7258, 0xA55E40, 0xB15E43, 0xA46142, 0xA36549, 0xA56846, 0xA4694C, 0xAC6342,  // 192-199
    0xAA6649, 0xAC6845, 0xAC6A4B, 0xA36650, 0xA26C52, 0xA06F58, 0xAA6650, 0xAC6C51,  // 200-207
    0xAB704E, 0xA47055, 0xA47359, 0xA5785E, 0xAC7154, 0xA9755A, 0xAC785C, 0xB56947,  // 208-215
    0xB66E51, 0xBC714C, 0xB47253, 0xB57458, 0xB3795B, 0xBC7351, 0xB97658, 0xBC7955,  // 216-223
    0xBC7A59, 0xA67760, 0xA67B61, 0xA87760, 0xAB7A61, 0xB07D63, 0xBF7F60, 0xC06C4B,  // 224-231
    0xC1734D, 0xC37854, 0xC17F60, 0xAD8166, 0xAD8268, 0xB28067, 0xB2856A, 0xB4886E,  // 232-239
    0xB58970, 0xB98D72, 0xBC9076, 0xBF9278, 0xC9815B, 0xD0855E, 0xC78262, 0xC1957B,  // 240-247
    0xC4987E, 0xD38964, 0xDC9169, 0xC69B81, 0xC89D83, 0xCBA086, 0xC9A78B, 0xCE825C,  // 248-255
};

namespace {

// Wrapped column index of x0 - 1 + i for a strip starting at column x0.
inline int32_t WrapColumn(int32_t x, int32_t mapWidth) {
    if (x < 0) return x + mapWidth;
    if (x >= mapWidth) return x - mapWidth;
    return x;
}

// Sums within +-kNarrowLimit are formed in int32 lanes.
constexpr int64_t kNarrowLimit = (int64_t{1} << 31) - 1;
constexpr int32_t kBlurChunk = 16;

// BlurMap's result for kBlurChunk cells: centre[i] x w plus the column sums
// column[i ... i + 2], scaled and rounded as TruncateToInt32 does (exact
// while the sums fit in int32). Fixed-length loops that only write local
// arrays, which the compiler vectorises.
inline void BlurChunk(const int32_t* centre, const int64_t* column, int32_t w, double factor,
                      int32_t* out) {
    int32_t sums[kBlurChunk];
    for (int32_t i = 0; i < kBlurChunk; ++i) {
        sums[i] = w * centre[i] + static_cast<int32_t>(column[i]) +
                  static_cast<int32_t>(column[i + 1]) + static_cast<int32_t>(column[i + 2]);
    }
    int32_t results[kBlurChunk];
    for (int32_t i = 0; i < kBlurChunk; ++i) {
        results[i] = static_cast<int32_t>(static_cast<double>(sums[i]) * factor + 0.5);
    }
    std::memcpy(out, results, sizeof(results));
}

// Centre weights up to this keep colour channel sums within int32.
constexpr int32_t kNarrowWeight = 1 << 20;

// BlurColours' channel for kBlurChunk cells: the column sums sums[i ... i + 2]
// plus centreWeight x the centre channel, scaled, rounded as TruncateToInt32
// does and clamped to 0 ... 255 (exact for centre weights -8 ...
// kNarrowWeight).
inline void BlurChannelChunk(const int32_t* centre, const int64_t* sums, int32_t centreWeight,
                             double factor, int32_t* channel) {
    int32_t totals[kBlurChunk];
    for (int32_t i = 0; i < kBlurChunk; ++i) {
        totals[i] = static_cast<int32_t>(sums[i]) + static_cast<int32_t>(sums[i + 1]) +
                    static_cast<int32_t>(sums[i + 2]) + centreWeight * centre[i];
    }
    for (int32_t i = 0; i < kBlurChunk; ++i) {
        channel[i] =
            std::clamp(static_cast<int32_t>(static_cast<double>(totals[i]) * factor + 0.5), 0, 255);
    }
}

inline void BlurColourChunk(const uint32_t* centre, const int64_t* red, const int64_t* green,
                            const int64_t* blue, int32_t centreWeight, double factor,
                            uint32_t* out) {
    int32_t centreRed[kBlurChunk];
    int32_t centreGreen[kBlurChunk];
    int32_t centreBlue[kBlurChunk];
    for (int32_t i = 0; i < kBlurChunk; ++i) {
        centreRed[i] = static_cast<int32_t>((centre[i] >> 16) & 0xFF);
        centreGreen[i] = static_cast<int32_t>((centre[i] >> 8) & 0xFF);
        centreBlue[i] = static_cast<int32_t>(centre[i] & 0xFF);
    }
    int32_t r[kBlurChunk];
    int32_t g[kBlurChunk];
    int32_t b[kBlurChunk];
    BlurChannelChunk(centreRed, red, centreWeight, factor, r);
    BlurChannelChunk(centreGreen, green, centreWeight, factor, g);
    BlurChannelChunk(centreBlue, blue, centreWeight, factor, b);
    uint32_t colours[kBlurChunk];
    for (int32_t i = 0; i < kBlurChunk; ++i) {
        colours[i] = static_cast<uint32_t>(r[i] << 16 | g[i] << 8 | b[i]);
    }
    std::memcpy(out, colours, sizeof(colours));
}
}  // namespace

// Levels above 256 would index beyond the palette and levels below 1 leave
// no index at all: the index is kept within 0 ... min(levels, 256) - 1 and
// at least 0.
void LandGenerator::ColourByHeight(int32_t levels) {
    const int64_t cells = CellCount();
    if (cells == 0) return;
    const int32_t hi = HighestHeight();
    if (Abandoned()) return;
    const int32_t lo = LowestHeight();
    // A flat map would divide by zero; all its cells take entry 0.
    const double scale =
        hi == lo ? 0.0 : static_cast<double>(levels) / static_cast<double>(int64_t{hi} - lo);
    const int32_t top = std::max(std::min(levels, 256), 1) - 1;
    auto colourRows = [&](int32_t yFirst, int32_t yEnd, int32_t) {
        for (int32_t y = yEnd - 1; y >= yFirst; --y) {
            // A generation being thrown away stops here too.
            if ((y & kRowCheckMask) == 0 && Abandoned()) return;
            const int64_t rowStart = int64_t{y} * width;
            for (int64_t i = rowStart + width - 1; i >= rowStart; --i) {
                const int32_t index =
                    TruncateToInt32(static_cast<double>(int64_t{heightMap[i]} - lo) * scale);
                colourMap[i] = EarthPalette[std::clamp(index, 0, top)];
            }
        }
    };
    SplitRange(height, colourRows);
}

int32_t LandGenerator::NearestPaletteIndex(int32_t red, int32_t green, int32_t blue) {
    int32_t best = 0;
    int64_t bestDistance = 0;
    for (int32_t i = 0; i < 256; ++i) {
        const int64_t dr = int64_t{red} - static_cast<int32_t>((EarthPalette[i] >> 16) & 0xFF);
        const int64_t dg = int64_t{green} - static_cast<int32_t>((EarthPalette[i] >> 8) & 0xFF);
        const int64_t db = int64_t{blue} - static_cast<int32_t>(EarthPalette[i] & 0xFF);
        const int64_t distance = 299 * dr * dr + 587 * dg * dg + 114 * db * db;
        if (i == 0 || distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
}

bool LandGenerator::BlurColours(int32_t centreWeight, bool snapToPalette) {
    return BlurColours(centreWeight, 1, snapToPalette);
}

// Returns false when the scratch map cannot be obtained (colour map
// unchanged) or when a poll aborted a pass.
bool LandGenerator::BlurColours(int32_t centreWeight, int32_t passes, bool snapToPalette) {
    const int64_t cells = CellCount();
    const int32_t passCount = std::max(passes, 1);
    uint32_t* copy = TakeScratch<uint32_t>(cells);
    if (copy == nullptr) return false;
    const double factor = 1.0 / (static_cast<double>(centreWeight) + 9.0);
    const int32_t hint = Hint(int64_t{width} * passCount);
    auto toChannel = [factor](int64_t sum) {
        return std::clamp(TruncateToInt32(static_cast<double>(sum) * factor + 0.5), 0, 255);
    };

    // Centre weights from -8 (a finite factor of at most 1) to
    // kNarrowWeight keep every channel sum and its scaled value within
    // int32: without palette snapping the cells then go kBlurChunk at a
    // time.
    const bool narrow = !snapToPalette && centreWeight >= -8 && centreWeight <= kNarrowWeight;
    bool complete = true;
    for (int32_t pass = 0; pass < passCount; ++pass) {
        // Copied 64 rows at a time: a first pass over fresh pages is slow
        // enough at side 4096 to want abandon checks in between.
        const int64_t rowsCells = int64_t{kRowCheckMask + 1} * width;
        for (int64_t first = 0; first < cells; first += rowsCells) {
            if (Abandoned()) {
                GiveBackScratch(copy);
                return false;
            }
            const int64_t n = std::min(rowsCells, cells - first);
            std::memcpy(copy + first, colourMap + first, static_cast<size_t>(n) * sizeof(uint32_t));
        }
        for (int32_t x0 = 0; x0 < width; x0 += kStripColumns) {
            bool aborted = false;
            const int32_t count = PollColumns(std::min(kStripColumns, width - x0), hint, &aborted);
            // Rows only read the copy: the threads take shares of them.
            auto blurRows = [&](int32_t yFirst, int32_t yEnd, int32_t) {
                // Column sums of each channel over rows y - 1 ... y + 1 for
                // columns x0 - 1 ... x0 + count.
                int64_t red[kStripColumns + 2];
                int64_t green[kStripColumns + 2];
                int64_t blue[kStripColumns + 2];
                for (int32_t y = yFirst; y < yEnd && count > 0; ++y) {
                    if ((y & kRowCheckMask) == 0 && Abandoned()) return;
                    const int32_t up = y == 0 ? height - 1 : y - 1;
                    const int32_t down = y == height - 1 ? 0 : y + 1;
                    const uint32_t* rowUp = copy + int64_t{up} * width;
                    const uint32_t* row = copy + int64_t{y} * width;
                    const uint32_t* rowDown = copy + int64_t{down} * width;
                    for (int32_t i = 0; i < count + 2; ++i) {
                        const int32_t x = WrapColumn(x0 - 1 + i, width);
                        const uint32_t a = rowUp[x];
                        const uint32_t b = row[x];
                        const uint32_t c = rowDown[x];
                        red[i] = ((a >> 16) & 0xFF) + ((b >> 16) & 0xFF) + ((c >> 16) & 0xFF);
                        green[i] = ((a >> 8) & 0xFF) + ((b >> 8) & 0xFF) + ((c >> 8) & 0xFF);
                        blue[i] = (a & 0xFF) + (b & 0xFF) + (c & 0xFF);
                    }
                    uint32_t* out = colourMap + int64_t{y} * width + x0;
                    int32_t i = 0;
                    if (narrow) {
                        for (; i + kBlurChunk <= count; i += kBlurChunk) {
                            BlurColourChunk(row + x0 + i, red + i, green + i, blue + i,
                                            centreWeight, factor, out + i);
                        }
                    }
                    for (; i < count; ++i) {
                        const uint32_t centre = row[x0 + i];
                        const int32_t r =
                            toChannel(red[i] + red[i + 1] + red[i + 2] +
                                      int64_t{centreWeight} * ((centre >> 16) & 0xFF));
                        const int32_t g = toChannel(green[i] + green[i + 1] + green[i + 2] +
                                                    int64_t{centreWeight} * ((centre >> 8) & 0xFF));
                        const int32_t b = toChannel(blue[i] + blue[i + 1] + blue[i + 2] +
                                                    int64_t{centreWeight} * (centre & 0xFF));
                        out[i] = snapToPalette ? EarthPalette[NearestPaletteIndex(r, g, b)]
                                               : static_cast<uint32_t>(r << 16 | g << 8 | b);
                    }
                }
            };
            SplitRange(height, blurRows);
            if (aborted || Abandoned()) {
                complete = false;
                break;
            }
        }
    }
    GiveBackScratch(copy);
    return complete;
}

// Returns false when the scratch map cannot be obtained (map unchanged) or
// when a poll aborted a pass. passes <= 0 changes nothing and needs no
// scratch.
bool LandGenerator::BlurHeights(int32_t centreWeight, int32_t passes) {
    if (passes <= 0) return true;
    int32_t* scratchMap = TakeScratch<int32_t>(CellCount());
    if (scratchMap == nullptr) return false;
    const bool complete = BlurMap(heightMap, scratchMap, centreWeight, passes);
    GiveBackScratch(scratchMap);
    return complete;
}

bool LandGenerator::BlurMap(int32_t* map, int32_t* scratchMap, int32_t centreWeight,
                            int32_t passes) {
    const int64_t w = std::max(centreWeight, 0);
    const double factor = 1.0 / (static_cast<double>(w) + 9.0);
    const int32_t hint = Hint(int64_t{width} * std::max(passes, 0));
    bool abortSeen = false;
    for (int32_t pass = 0; pass < passes; ++pass) {
        if (abortSeen) {
            // Nothing this pass computes may reach the map any more; only
            // its polls remain, up to the first one that asks to stop.
            for (int32_t x = 0; x < width; ++x) {
                if (Poll(hint)) break;
            }
            continue;
        }
        // With every cell within +-kNarrowLimit / (w + 9) each sum fits in
        // int32 (and so does its scaled value): the cells then go through
        // the same arithmetic kBlurChunk at a time.
        bool narrow = false;
        if (w + 9 <= kNarrowLimit) {
            const int32_t bound = static_cast<int32_t>(kNarrowLimit / (w + 9));
            narrow = std::all_of(map, map + CellCount(),
                                 [bound](int32_t v) { return v >= -bound && v <= bound; });
        }
        for (int32_t x0 = 0; x0 < width && !abortSeen; x0 += kStripColumns) {
            const int32_t count =
                PollColumns(std::min(kStripColumns, width - x0), hint, &abortSeen);
            // Rows only read the map: the threads take shares of them.
            auto blurRows = [&](int32_t yFirst, int32_t yEnd, int32_t) {
                // (w + 1) x centre + eight neighbours = w x centre + the 3 x 3
                // box sum, formed from column sums (exact integer arithmetic).
                int64_t column[kStripColumns + 2];
                for (int32_t y = yFirst; y < yEnd && count > 0; ++y) {
                    if ((y & kRowCheckMask) == 0 && Abandoned()) return;
                    const int32_t up = y == 0 ? height - 1 : y - 1;
                    const int32_t down = y == height - 1 ? 0 : y + 1;
                    const int32_t* rowUp = map + int64_t{up} * width;
                    const int32_t* row = map + int64_t{y} * width;
                    const int32_t* rowDown = map + int64_t{down} * width;
                    for (int32_t i = 0; i < count + 2; ++i) {
                        const int32_t x = WrapColumn(x0 - 1 + i, width);
                        column[i] = int64_t{rowUp[x]} + row[x] + rowDown[x];
                    }
                    int32_t* out = scratchMap + int64_t{y} * width + x0;
                    int32_t i = 0;
                    if (narrow) {
                        for (; i + kBlurChunk <= count; i += kBlurChunk) {
                            BlurChunk(row + x0 + i, column + i, static_cast<int32_t>(w), factor,
                                      out + i);
                        }
                    }
                    for (; i < count; ++i) {
                        const int64_t sum =
                            w * row[x0 + i] + column[i] + column[i + 1] + column[i + 2];
                        out[i] = TruncateToInt32(static_cast<double>(sum) * factor + 0.5);
                    }
                }
            };
            SplitRange(height, blurRows);
            if (Abandoned()) return false;
        }
        if (!abortSeen) {
            std::memcpy(map, scratchMap, static_cast<size_t>(CellCount()) * sizeof(int32_t));
        }
    }
    return !abortSeen;
}
