// RenderReference.cpp - the plain, step-by-step landscape renderer (see
// RenderReference.h). Speed is no concern here; every rule is written where
// it applies, in the order the renderer applies it.
#include "tests/view/RenderReference.h"

#include <cstdint>

#include "view/FlightView.h"

namespace {

constexpr int32_t kMaxFrameSide = 16384;
constexpr int32_t kSpanCapacity = 1024;
// Object images taller than this are not drawn (keeps the texel arithmetic
// of a span inside 32 bits).
constexpr int32_t kMaxSliceLength = 1 << 16;

int64_t Modulo(int64_t value, int64_t divisor) {
    int64_t r = value % divisor;
    return r < 0 ? r + divisor : r;
}

// Brings a ray coordinate back into [0, limit) after a step; reports a wrap.
bool WrapRay(int64_t& value, int64_t limit) {
    if (value < 0) {
        value += limit;
    } else if (value >= limit) {
        value -= limit;
    } else {
        return false;
    }
    // Only the outermost columns of very wide frames step further than one
    // map side per sample.
    if (value < 0 || value >= limit) value = Modulo(value, limit);
    return true;
}

struct Spans {
    int32_t count = 0;
    int64_t step[kSpanCapacity];
    int64_t texel[kSpanCapacity];  // 1/1024 texel
    int64_t start[kSpanCapacity];
    int64_t end[kSpanCapacity];
    int64_t length[kSpanCapacity];  // texels in the slice
    const uint32_t* texels[kSpanCapacity];
};

// One ray column's pixel walk.
struct Walk {
    FlightView* view;
    Spans* spans;
    int32_t px, py;  // 1/1024 pixel
    int32_t sb, cb;  // one pixel up the column
    int32_t rowStep, colStep;
    int32_t n = 0;  // pixel counter
    bool hasPointer = false;
    int64_t pointer = 0;
    int32_t pointerRow = 0, pointerCol = 0;

    uint32_t Paint(uint32_t background) {
        for (int32_t l = 0; l < spans->count; ++l) {
            if (n < spans->start[l] || n >= spans->end[l]) continue;
            if (n > spans->start[l]) {
                spans->texel[l] += (n - spans->start[l] - 1) * spans->step[l];
            }
            spans->start[l] = n + 1;
            const int64_t index = spans->texel[l] >> 10;
            // In range whenever the depth tables agree with each other.
            const uint32_t t =
                (index >= 0 && index < spans->length[l]) ? spans->texels[l][index] : 0;
            spans->texel[l] += spans->step[l];
            if (t != 0) return t;
        }
        return background;
    }

    // One pixel of the walk; false when the walk has left the picture.
    bool Step(bool skyMode, uint32_t colour) {
        FlightView& v = *view;
        const bool inside =
            px >= 1 && py >= 1 && (px >> 10) < v.frameWidth && (py >> 10) < v.frameHeight;
        if (!inside) {
            if (hasPointer) return false;
        } else if (!hasPointer) {
            hasPointer = true;
            pointerRow = py >> 10;
            pointerCol = px >> 10;
            pointer = static_cast<int64_t>(pointerRow) * v.frameWidth + pointerCol;
            if (skyMode) v.frame[pointer] = Paint(colour);
        } else {
            bool rowMoved = false, colMoved = false;
            if ((py >> 10) != pointerRow) {
                pointer += rowStep;
                pointerRow = py >> 10;
                rowMoved = true;
            }
            if ((px >> 10) != pointerCol) {
                pointer += colStep;
                pointerCol = px >> 10;
                colMoved = true;
            }
            const uint32_t value = Paint(colour);
            v.frame[pointer] = value;
            if (rowMoved && colMoved) v.frame[pointer - colStep] = value;
        }
        px += sb;
        py += cb;
        n += 1;
        return true;
    }
};

}  // namespace

void RenderReferenceScene(FlightView& v) {
    // Tables left from an earlier size (a set-up that failed) do not fit.
    if (!v.buffersReady || v.cosTable == nullptr || v.sinTable == nullptr ||
        v.rayStepTable == nullptr || v.depthScale == nullptr || v.depthScaleInverse == nullptr ||
        v.bankTable == nullptr || v.frame == nullptr || v.heightMap == nullptr ||
        v.colourMap == nullptr) {
        return;
    }
    if (v.frameWidth < 1 || v.frameHeight < 1 || v.heightMapWidth < 1 || v.xLimit < 1 ||
        v.yLimit < 1 || v.angleUnits < 1 || v.diagonal < 1 || v.viewDistance < 1) {
        return;
    }
    // The pixel walk's 1/1024-pixel positions stay inside 32 bits for frames
    // the view accepts (sides up to 16384).
    if (v.frameWidth > kMaxFrameSide || v.frameHeight > kMaxFrameSide ||
        v.diagonal > 2 * kMaxFrameSide) {
        return;
    }
    const bool hasSky = v.sky.pixels != nullptr && v.sky.width >= 1 && v.sky.height >= 1;
    const int64_t skyW = hasSky ? v.sky.width : 1;
    const int64_t skyH = hasSky ? v.sky.height : 1;
    const int64_t skySize = skyW * skyH;
    auto texel = [&](int64_t index) -> uint32_t { return hasSky ? v.sky.pixels[index] : 0u; };
    const ObjectSet& objects = v.objects;
    const bool hasObjects =
        objects.slots != nullptr && objects.cellMap != nullptr && objects.slotCount > 0 &&
        objects.cellCount == static_cast<int64_t>(v.heightMapWidth) * v.heightMapHeight;

    Spans spans;
    const int32_t diag = v.diagonal;
    const int32_t units = v.angleUnits;
    // The camera fields are kept in range by Move; a caller that set them
    // directly still gets a defined frame.
    const int32_t heading = static_cast<int32_t>(Modulo(v.heading, units));
    const int32_t b = static_cast<int32_t>(Modulo(v.bankAngle, units));
    const int64_t cameraX = Modulo(v.positionX, v.xLimit);
    const int64_t cameraY = Modulo(v.positionY, v.yLimit);

    // Frame set-up.
    const int32_t cb = v.cosTable[b];
    const int32_t sb = v.sinTable[b];
    int32_t skip = v.bankTable[b].edgeSkip;
    if (skip < 1) skip = 1;  // column diagonal does not exist
    int32_t startX = v.bankTable[b].startX - skip * cb;
    int32_t startY = v.bankTable[b].startY + skip * sb;
    const int32_t rowStep = cb > 0 ? v.frameWidth : -v.frameWidth;
    const int32_t colStep = sb > 0 ? 1 : -1;
    int64_t skyRow = heading - skip;
    if (skyRow >= skyH) skyRow = Modulo(skyRow, skyH);  // repeated subtraction
    const int64_t elevationBase = Modulo(v.horizonRow, skyW);

    const int64_t maxDepth = v.maxRayDepth;
    const int64_t threshold = v.stepGrowthThreshold;

    for (int32_t c = diag - skip; c >= skip + 1; --c) {
        int32_t az = c - (diag >> 1) + heading;
        if (az >= units) {
            az -= units;
        } else if (az < 0) {
            az += units;
        }
        int64_t base = v.rayStepTable[c];
        if (base < 1) base = 1;  // every ray must advance
        const int64_t dxBase = (v.cosTable[az] * base) >> 20;
        const int64_t dyBase = (v.sinTable[az] * base) >> 20;
        int64_t dx = dxBase, dy = dyBase, step = base;
        int64_t k = 1, g = 0, e = 0;
        int64_t x = cameraX, y = cameraY;
        int32_t top = diag;
        int64_t lastCell = -1;
        spans.count = 0;
        Walk walk{&v, &spans, startX, startY, sb, cb, rowStep, colStep};

        int64_t s = skyRow * skyW + elevationBase;
        while (s >= skySize) s -= skyH;
        while (s < 0) s += skyH;

        do {
            y += dy;
            if (WrapRay(y, v.yLimit)) lastCell = -1;
            x += dx;
            if (WrapRay(x, v.xLimit)) lastCell = -1;
            const int64_t cell = (y >> 10) * v.heightMapWidth + (x >> 10);
            int64_t j = e >> 19;
            if (j >= v.viewDistance) j = v.viewDistance - 1;

            if (hasObjects && cell != lastCell && objects.cellMap[cell] != 0) {
                const int32_t entry = objects.cellMap[cell];
                const int32_t slot = entry >> 8;
                const int32_t slice = (entry & 0xFF) - 1;
                lastCell = cell;
                if (slot < objects.slotCount && spans.count < kSpanCapacity) {
                    const SkyObject& o = objects.slots[slot];
                    const int64_t scale = v.depthScale[j];
                    const int64_t start =
                        diag - (((static_cast<int64_t>(v.altitude) - o.altitude) * scale) >> 10) -
                        v.horizonRow;
                    const int64_t end = ((o.sliceLength * scale) >> 10) + start;
                    // A span that no pixel counter of the column reaches
                    // would never be painted; it is not recorded.
                    if (o.image != nullptr && slice < o.sliceCount && o.sliceLength >= 1 &&
                        o.sliceLength <= kMaxSliceLength && end > start && end > 0 &&
                        start <= diag) {
                        const int32_t l = spans.count++;
                        spans.step[l] = v.depthScaleInverse[j];
                        spans.start[l] = start;
                        spans.end[l] = end;
                        spans.texel[l] = 0;
                        spans.length[l] = o.sliceLength;
                        spans.texels[l] = o.image + static_cast<int64_t>(slice) * o.sliceLength;
                    }
                }
            }

            const int32_t h = v.heightMap[cell];
            int64_t row =
                (((static_cast<int64_t>(v.altitude) - h) * v.depthScale[j]) >> 10) + v.horizonRow;
            if (row < 0) {
                row = 0;
                e = maxDepth;
            }
            if (row < top) {
                uint32_t colour;
                if (h > v.waterLevel) {
                    colour = v.colourMap[cell];
                } else {
                    int64_t w = s - top;
                    while (w < 0) w += skyH;
                    colour = ((v.colourMap[cell] >> 1) & 0x7F7F7F) + ((texel(w) >> 1) & 0x7F7F7F);
                }
                const int32_t pixels = top - static_cast<int32_t>(row);
                top = static_cast<int32_t>(row);
                for (int32_t i = 0; i < pixels; ++i) {
                    if (!walk.Step(false, colour)) {
                        top = 0;
                        e = maxDepth;
                        break;
                    }
                }
            }

            g += k;
            if (g > threshold) {
                k += 1;
                g = 0;
                dx += dxBase;
                dy += dyBase;
                step += base;
            }
            e += step;
        } while (e < maxDepth);

        // Sky pass.
        int64_t t = s - top;
        while (t < 0) t += skyH;
        for (int32_t i = 0; i < top - 1; ++i) {
            if (!walk.Step(true, texel(t))) break;
            t += 1;
            if (t == skySize) t -= skyW;
        }

        skyRow -= 1;
        if (skyRow < 0) skyRow += skyH;
        startX -= cb;
        startY += sb;
    }
}

void RenderReference(FlightView& view) {
    if (!view.CanRender()) return;
    view.MoveObjects();
    RenderReferenceScene(view);
}
