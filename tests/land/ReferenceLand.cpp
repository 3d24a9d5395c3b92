#include "ReferenceLand.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "base/PortableMath.h"

namespace reference {
namespace {

int32_t Wrap(int64_t v, int64_t limit) {
    v %= limit;
    return static_cast<int32_t>(v < 0 ? v + limit : v);
}

int32_t Channel(uint32_t colour, int32_t shift) {
    return static_cast<int32_t>((colour >> shift) & 0xFF);
}

}  // namespace

void Fft1D(int32_t direction, int32_t log2n, double* re, double* im) {
    const int32_t n = 1 << log2n;
    int32_t j = 0;
    for (int32_t i = 0; i < n - 1; ++i) {
        if (i < j) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
        int32_t k = n / 2;
        while (k <= j) {
            j -= k;
            k /= 2;
        }
        j += k;
    }
    double c1 = -1.0;
    double c2 = 0.0;
    int32_t l2 = 1;
    for (int32_t level = 0; level < log2n; ++level) {
        const int32_t l1 = l2;
        l2 *= 2;
        double u1 = 1.0;
        double u2 = 0.0;
        for (j = 0; j < l1; ++j) {
            for (int32_t i = j; i < n; i += l2) {
                const int32_t i1 = i + l1;
                const double t1 = u1 * re[i1] - u2 * im[i1];
                const double t2 = u1 * im[i1] + u2 * re[i1];
                re[i1] = re[i] - t1;
                im[i1] = im[i] - t2;
                re[i] = re[i] + t1;
                im[i] = im[i] + t2;
            }
            const double z = u1 * c1 - u2 * c2;
            u2 = u1 * c2 + u2 * c1;
            u1 = z;
        }
        c2 = std::sqrt((1.0 - c1) / 2.0);
        if (direction == 1) c2 = -c2;
        c1 = std::sqrt((1.0 + c1) / 2.0);
    }
    if (direction == 1) {
        for (int32_t i = 0; i < n; ++i) {
            re[i] /= n;
            im[i] /= n;
        }
    }
}

void Fft2D(ComplexCell* cells, int32_t side, int32_t direction, int32_t columns) {
    int32_t log2n = 0;
    while ((1 << (log2n + 1)) <= side) ++log2n;
    std::vector<double> re(side);
    std::vector<double> im(side);
    const int32_t columnCount = columns < 0 ? side : columns;
    for (int32_t x = 0; x < columnCount; ++x) {
        for (int32_t y = 0; y < side; ++y) {
            re[y] = cells[x + y * side].re;
            im[y] = cells[x + y * side].im;
        }
        Fft1D(direction, log2n, re.data(), im.data());
        for (int32_t y = 0; y < side; ++y) {
            cells[x + y * side].re = re[y];
            cells[x + y * side].im = im[y];
        }
    }
    if (columnCount < side) return;
    for (int32_t y = 0; y < side; ++y) {
        for (int32_t x = 0; x < side; ++x) {
            re[x] = cells[x + y * side].re;
            im[x] = cells[x + y * side].im;
        }
        Fft1D(direction, log2n, re.data(), im.data());
        for (int32_t x = 0; x < side; ++x) {
            cells[x + y * side].re = re[x];
            cells[x + y * side].im = im[x];
        }
    }
}

std::vector<int32_t> SpectralHeights(int32_t side, uint32_t seed, double exponent,
                                     int32_t forwardColumns) {
    const int32_t n = side * side;
    std::vector<ComplexCell> cells(n);
    uint32_t state = seed;
    for (int32_t i = 0; i < n; ++i) {
        state = state * 214013u + 2531011u;
        cells[i].re = static_cast<double>(state >> 12);
        cells[i].im = 0.0;
    }
    Fft2D(cells.data(), side, 1, forwardColumns);
    const int32_t hw = side / 2;
    const int32_t hh = side / 2;
    for (int32_t x = 0; x < side; ++x) {
        for (int32_t y = 0; y < side; ++y) {
            const int32_t dx = x - hw;
            int32_t dy = y - hh;
            if (dx == 0 && dy == 0) dy = 1;
            const double d = std::sqrt(static_cast<double>(dx * dx + dy * dy));
            cells[x + y * side].re /= PortablePow(d, exponent);
            cells[x + y * side].im /= PortablePow(d, exponent);
        }
    }
    for (int32_t x = 0; x < hw; ++x) {
        for (int32_t y = 0; y < hh; ++y) {
            std::swap(cells[x + y * side], cells[(x + hw) + (y + hh) * side]);
        }
    }
    for (int32_t x = hw; x < side; ++x) {
        for (int32_t y = 0; y < hh; ++y) {
            std::swap(cells[x + y * side], cells[(x - hw) + (y + hh) * side]);
        }
    }
    Fft2D(cells.data(), side, -1);
    std::vector<int32_t> heights(n);
    int32_t low = 2147483647;
    for (int32_t i = 0; i < n; ++i) {
        heights[i] = static_cast<int32_t>(cells[i].re + 0.5);
        if (heights[i] < low) low = heights[i];
    }
    for (int32_t& h : heights) h -= low;
    return heights;
}

void BlurHeights(std::vector<int32_t>& map, int32_t width, int32_t height, int32_t centreWeight,
                 int32_t passes) {
    const int32_t w = centreWeight < 0 ? 0 : centreWeight;
    const double factor = 1.0 / (w + 9);
    std::vector<int32_t> scratch(map.size());
    for (int32_t pass = 0; pass < passes; ++pass) {
        for (int32_t x = 0; x < width; ++x) {
            for (int32_t y = 0; y < height; ++y) {
                int32_t s = (w + 1) * map[x + y * width];
                for (int32_t dx = -1; dx <= 1; ++dx) {
                    for (int32_t dy = -1; dy <= 1; ++dy) {
                        if (dx == 0 && dy == 0) continue;
                        s += map[Wrap(x + dx, width) + Wrap(y + dy, height) * width];
                    }
                }
                scratch[x + y * width] = static_cast<int32_t>(s * factor + 0.5);
            }
        }
        map = scratch;
    }
}

void BlurColours(Maps& maps, int32_t centreWeight, int32_t passes, bool snapToPalette) {
    const double factor = 1.0 / (centreWeight + 9);
    const int32_t width = maps.width;
    const int32_t height = maps.height;
    for (int32_t pass = 0; pass < (passes < 1 ? 1 : passes); ++pass) {
        const std::vector<uint32_t> copy = maps.colours;
        for (int32_t x = 0; x < width; ++x) {
            for (int32_t y = 0; y < height; ++y) {
                int32_t channels[3];
                for (int32_t c = 0; c < 3; ++c) {
                    const int32_t shift = 16 - 8 * c;
                    int32_t s = centreWeight * Channel(copy[x + y * width], shift);
                    for (int32_t dx = -1; dx <= 1; ++dx) {
                        for (int32_t dy = -1; dy <= 1; ++dy) {
                            s += Channel(copy[Wrap(x + dx, width) + Wrap(y + dy, height) * width],
                                         shift);
                        }
                    }
                    int32_t v = static_cast<int32_t>(s * factor + 0.5);
                    channels[c] = v < 0 ? 0 : (v > 255 ? 255 : v);
                }
                uint32_t colour =
                    static_cast<uint32_t>(channels[0] << 16 | channels[1] << 8 | channels[2]);
                if (snapToPalette) {
                    colour = EarthPalette[LandGenerator::NearestPaletteIndex(
                        channels[0], channels[1], channels[2])];
                }
                maps.colours[x + y * width] = colour;
            }
        }
    }
}

std::vector<int32_t> FlowCounts(const std::vector<int32_t>& h, int32_t width, int32_t height,
                                int32_t maxSteps, int32_t probeLength, int32_t startColumns) {
    std::vector<int32_t> flow(h.size(), 0);
    const int32_t columns = startColumns < 0 ? width : std::min(startColumns, width);
    for (int32_t x = 0; x < columns; ++x) {
        for (int32_t y = 0; y < height; ++y) {
            int32_t px = x;
            int32_t py = y;
            int32_t steps = 0;
            for (;;) {
                int64_t best = int64_t{probeLength} * h[px + py * width];
                bool found = false;
                int32_t chosenX = 0;
                int32_t chosenY = 0;
                for (int32_t dx = -1; dx <= 1; ++dx) {
                    for (int32_t dy = -1; dy <= 1; ++dy) {
                        if (dx == 0 && dy == 0) continue;
                        int64_t sum = 0;
                        int32_t candX = -1;
                        int32_t candY = -1;
                        int64_t fx = 1024 * int64_t{px} + 300;
                        int64_t fy = 1024 * int64_t{py} + 300;
                        for (int32_t k = 1; k <= probeLength; ++k) {
                            int32_t cx;
                            int32_t cy;
                            if (dx == 0 || dy == 0) {
                                cx = Wrap(px + int64_t{k} * dx, width);
                                cy = Wrap(py + int64_t{k} * dy, height);
                            } else {
                                fx += 724 * dx;
                                fy += 724 * dy;
                                if (fx < 0) fx += 1024 * int64_t{width};
                                if (fx >= 1024 * int64_t{width}) fx -= 1024 * int64_t{width};
                                if (fy < 0) fy += 1024 * int64_t{height};
                                if (fy >= 1024 * int64_t{height}) fy -= 1024 * int64_t{height};
                                cx = static_cast<int32_t>(fx >> 10);
                                cy = static_cast<int32_t>(fy >> 10);
                            }
                            if (sum == 0) {
                                candX = cx;
                                candY = cy;
                            }
                            sum += h[cx + cy * width];
                        }
                        if (sum < best && candX >= 0) {
                            best = sum;
                            chosenX = candX;
                            chosenY = candY;
                            found = true;
                        } else if (sum < best) {
                            best = sum;
                            found = false;  // no cell to move to
                        }
                    }
                }
                if (!found) break;
                ++steps;
                px = chosenX;
                py = chosenY;
                ++flow[px + py * width];
                if (steps > maxSteps) break;
            }
        }
    }
    return flow;
}

void CarveFlowChannels(Maps& maps, int32_t depthGain, int32_t colourGain, int32_t maxSteps,
                       int32_t probeLength, int32_t flowBlurWeight) {
    for (int32_t& h : maps.heights) h *= 1024;
    BlurHeights(maps.heights, maps.width, maps.height, 0, 1);
    std::vector<int32_t> flow =
        FlowCounts(maps.heights, maps.width, maps.height, maxSteps, probeLength);
    BlurHeights(flow, maps.width, maps.height, flowBlurWeight, 1);
    for (size_t i = maps.heights.size(); i-- > 0;) {
        maps.heights[i] = (flow[i] * depthGain + maps.heights[i]) >> 10;
        maps.colours[i] = LandGenerator::AddToColour(maps.colours[i], (flow[i] * colourGain) >> 10);
    }
}

void FloodToLevel(Maps& maps, int32_t level) {
    for (int32_t& h : maps.heights) {
        if (h <= level) h = level;
    }
}

void ShadeSlopes(Maps& maps, int32_t strength, char direction, int32_t blurPasses,
                 int32_t blurWeight) {
    const int32_t width = maps.width;
    const int32_t height = maps.height;
    const auto& h = maps.heights;
    std::vector<int32_t> delta(h.size(), 0);
    const int32_t k = strength >> 1;
    for (int32_t x = 0; x < width; ++x) {
        for (int32_t y = 0; y < height; ++y) {
            const int32_t right = h[Wrap(x + 1, width) + y * width];
            const int32_t left = h[Wrap(x - 1, width) + y * width];
            const int32_t below = h[x + Wrap(y + 1, height) * width];
            const int32_t above = h[x + Wrap(y - 1, height) * width];
            int32_t d;
            switch (direction) {
                case 'd':
                    d = k * (below - above);
                    break;
                case 'u':
                    d = -k * (below - above);
                    break;
                case 'l':
                    d = k * (right - left);
                    break;
                default:
                    d = -k * (right - left);
                    break;
            }
            delta[x + y * width] = d;
        }
    }
    BlurHeights(delta, width, height, blurWeight, blurPasses);
    for (size_t i = delta.size(); i-- > 0;) {
        if (delta[i] != 0) maps.colours[i] = LandGenerator::AddToColour(maps.colours[i], delta[i]);
    }
}

void CastShadows(Maps& maps, int32_t shadowDelta, int32_t litDelta, char direction,
                 int32_t dropPerCell, int32_t blurPasses, int32_t blurWeight) {
    const int32_t width = maps.width;
    const int32_t height = maps.height;
    const auto& h = maps.heights;
    int32_t low = 2147483647;
    for (int32_t v : h) low = v < low ? v : low;
    std::vector<int32_t> delta(h.size(), 0);
    const bool rows = direction == 'l' || direction == 'r';
    const int32_t lines = rows ? height : width;
    const int32_t length = rows ? width : height;
    for (int32_t line = 0; line < lines; ++line) {
        int32_t s = low * 1024;
        for (int32_t sweep = 0; sweep < 2; ++sweep) {
            for (int32_t i = 0; i < length; ++i) {
                int32_t x;
                int32_t y;
                switch (direction) {
                    case 'l':
                        x = i;
                        y = line;
                        break;
                    case 'r':
                        x = width - 1 - i;
                        y = line;
                        break;
                    case 'u':
                        x = line;
                        y = height - 1 - i;
                        break;
                    default:
                        x = line;
                        y = i;
                        break;
                }
                const int32_t cell = h[x + y * width];
                s -= dropPerCell;
                if (cell > (s >> 10)) {
                    delta[x + y * width] = litDelta;
                    s = cell * 1024;
                } else {
                    delta[x + y * width] = shadowDelta;
                }
            }
        }
    }
    BlurHeights(delta, width, height, blurWeight, blurPasses);
    for (size_t i = delta.size(); i-- > 0;) {
        if (delta[i] != 0) maps.colours[i] = LandGenerator::AddToColour(maps.colours[i], delta[i]);
    }
}

Maps Pipeline(int32_t side, uint32_t seed) {
    Maps maps;
    maps.width = side;
    maps.height = side;
    maps.heights = SpectralHeights(side, seed, 2.2);
    maps.colours.assign(maps.heights.size(), 0);
    LandGenerator land(side, side, maps.heights.data(), maps.colours.data(), 0, 255, nullptr);
    land.ScaleHeights(side * 2);
    land.ColourByHeight(256);
    BlurColours(maps, 3, 1, false);
    CarveFlowChannels(maps, -(side / 4), -100, 16, 4, 3);
    land.RebaseHeights(0);
    land.ScaleHeights(side >> 1);
    FloodToLevel(maps, 25);
    ShadeSlopes(maps, 20, 'r', 1, 0);
    CastShadows(maps, -35, 5, 'r', 1024, 1, 0);
    return maps;
}

}  // namespace reference
