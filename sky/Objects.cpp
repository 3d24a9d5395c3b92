// Objects.cpp - the airborne objects of a FlightView: creating, placing and
// releasing the object slots, drawing their images, and moving them with
// their footprints in the object cell map every frame.
//
// Slot 0 is the streak, created inactive; slots 1 and up are rings that
// start at random cells with random headings, drawn from the view's random
// sequence right after the seed was set. An object's footprint is one cell
// per image slice along its heading, half a cell apart, the front slice at
// its position; objectCellMap holds (slot << 8) + slice + 1 in those cells.
//
// Memory: an object whose image or footprint cannot be obtained is made
// inactive, with no image (sliceLength and sliceCount 0) or no footprint;
// inactive objects are never moved, marked or drawn, so nothing reads the
// missing arrays. The cell map, the six span arrays and the object array are
// obtained together or not at all.
#include <cstdint>

#include "land/Scratch.h"
#include "land/Units.h"
#include "sky/CoreMath.h"
#include "view/FlightView.h"

namespace {

constexpr int32_t kMaxSlots = 254;         // slot numbers fit in the cell map's top byte
constexpr int32_t kMaxSpriteExponent = 7;  // at most 128 slices: slice + 1 fits in a byte
constexpr int32_t kSpanCapacity = 1024;    // renderer spans per ray
constexpr int32_t kStreakSlices = 32;
constexpr int32_t kStreakTexels = 3;

int32_t ChannelSum(uint32_t pixel) {
    return static_cast<int32_t>(((pixel >> 16) & 0xFF) + ((pixel >> 8) & 0xFF) + (pixel & 0xFF));
}

}  // namespace

bool FlightView::SetObjectCount(int32_t slots) {
    FreeObjectList();
    if (slots < 0) slots = 0;
    if (slots > kMaxSlots) slots = kMaxSlots;
    slotCount = slots;
    // The view distance cap depends on whether there are objects.
    SetViewDistance(viewDistance);
    if (slotCount == 0) return true;
    // A sky that failed to build earlier is retried here as well.
    if ((skyEnabled == 0 || sky == nullptr) && !EnableSky(1)) return false;
    return BuildObjectList();
}

bool FlightView::BuildObjectList() {
    FreeObjectList();
    if (slotCount < 0 || slotCount > kMaxSlots) return false;
    // Footprint cells are indexed with the colour map's width into a map of
    // the height map's size: both must agree.
    if (heightMapWidth < 1 || heightMapHeight < 1 || colourMapWidth != heightMapWidth ||
        colourMapHeight != heightMapHeight) {
        return false;
    }
    objectCellMap = AllocateArray<uint16_t>(static_cast<int64_t>(heightMapWidth) * heightMapHeight);
    spanStep = AllocateArray<int32_t>(kSpanCapacity);
    spanTexel = AllocateArray<int32_t>(kSpanCapacity);
    spanSlice = AllocateArray<int32_t>(kSpanCapacity);
    spanStart = AllocateArray<int32_t>(kSpanCapacity);
    spanEnd = AllocateArray<int32_t>(kSpanCapacity);
    spanTexels = AllocateArray<uint32_t*>(kSpanCapacity);
    objects = AllocateArray<SkyObject>(slotCount);
    if (objectCellMap == nullptr || spanStep == nullptr || spanTexel == nullptr ||
        spanSlice == nullptr || spanStart == nullptr || spanEnd == nullptr ||
        spanTexels == nullptr || objects == nullptr) {
        FreeObjectList();
        return false;
    }
    // The cell map arrives all 0 (no object anywhere).
    if (slotCount != 0) PlaceObjects();
    return true;
}

void FlightView::FreeObjectList() {
    FreeArray(objectCellMap);
    FreeArray(spanStep);
    FreeArray(spanTexel);
    FreeArray(spanSlice);
    FreeArray(spanStart);
    FreeArray(spanEnd);
    FreeArray(spanTexels);
    FreeArray(objects);
}

void FlightView::PlaceObjects() {
    if (objects == nullptr || colourMapWidth < 1 || colourMapHeight < 1 || angleUnits < 1) return;
    for (int32_t slot = 0; slot < slotCount; ++slot) {
        if (slot == 0) {
            CreateObject(0, 0, 0, 0, streakSpeed, 0, 0, 1, 0, 0, 0);
            continue;
        }
        const int32_t cellX = NextRandom() % colourMapWidth;
        const int32_t cellY = NextRandom() % colourMapHeight;
        const int32_t objectHeading = NextRandom() % angleUnits;
        CreateObject(slot, 1, cellX, cellY, objectSpeed, objectHeading, 0, 1, 0, 0, 0);
    }
}

void FlightView::CreateObject(int32_t slot, int32_t kind, int32_t cellX, int32_t cellY,
                              int32_t objectAltitude, int32_t objectHeading, int32_t turnRate,
                              int32_t active, int32_t red, int32_t green, int32_t blue) {
    if (objects == nullptr || slot < 0 || slot >= slotCount) return;
    if (red == 0 && green == 0 && blue == 0) {
        // Too dark a ring would vanish against the night sky.
        do {
            red = NextRandom() % 256;
            green = NextRandom() % 256;
            blue = NextRandom() % 256;
        } while (red + green + blue < 200);
    }
    SkyObject& object = objects[slot];
    object.positionX = coremath::SaturateInt32(static_cast<int64_t>(cellX) * kPositionOne);
    object.positionY = coremath::SaturateInt32(static_cast<int64_t>(cellY) * kPositionOne);
    object.altitude = objectAltitude;
    object.heading = objectHeading;
    object.kind = kind;
    object.active = active;
    object.turnRate = turnRate;

    // The old footprint has the old slice count.
    int32_t* oldFootprint = object.footprint;
    const int32_t oldSliceCount = object.sliceCount;
    object.footprint = nullptr;
    if (kind == 0) {
        MakeStreakSprite(slot);
    } else if (kind == 1) {
        MakeRingSprite(slot, red, green, blue);
    }
    if (oldFootprint != nullptr) {
        const int64_t cellCount = static_cast<int64_t>(heightMapWidth) * heightMapHeight;
        for (int32_t s = 0; s < oldSliceCount; ++s) {
            if (objectCellMap != nullptr && oldFootprint[s] >= 0 && oldFootprint[s] < cellCount) {
                objectCellMap[oldFootprint[s]] = 0;
            }
        }
        FreeArray(oldFootprint);
    }
    if (object.sliceCount >= 1) object.footprint = AllocateArray<int32_t>(object.sliceCount);
    if (object.footprint == nullptr || object.image == nullptr) object.active = 0;
}

void FlightView::MakeRingSprite(int32_t slot, int32_t red, int32_t green, int32_t blue) {
    if (objects == nullptr || slot < 0 || slot >= slotCount) return;
    SkyObject& object = objects[slot];
    if (object.imageBorrowed == 0) FreeArray(object.image);
    object.image = nullptr;
    object.imageBorrowed = 0;
    object.sliceLength = 0;
    object.sliceCount = 0;
    object.kind = 1;
    object.speed = objectSpeed;
    object.climbRate = -1;

    uint32_t* image = nullptr;
    if (spriteSizeExponent >= 0 && spriteSizeExponent <= kMaxSpriteExponent) {
        const int32_t side = 1 << spriteSizeExponent;
        image = AllocateArray<uint32_t>(static_cast<int64_t>(side) * side);
        if (image != nullptr) {
            const int32_t c = side / 2 - 1;
            const uint32_t colour = 0xFF000000u | static_cast<uint32_t>(red & 0xFF) << 16 |
                                    static_cast<uint32_t>(green & 0xFF) << 8 |
                                    static_cast<uint32_t>(blue & 0xFF);
            FillDisc(image, side, side / 2, colour, c, c);
            FillDisc(image, side, side / 3, 0, c, c);
            FillDisc(image, side, side / 8, colour, c, c);
            if (spriteSideDot != 0) {
                const uint32_t dotColour = red + green + blue >= 640 ? colour : 0xFFFFFFFFu;
                FillDisc(image, side, side / 7, dotColour, c, side - side / 8 - 1);
            }
            if (BlurWrapped(image, side, side, 0)) {
                // The hole, the fringe and the corners are black after the
                // blur: they become transparent again.
                ClearDarkPixels(image, side, side, 100);
                object.image = image;
                object.sliceLength = side;
                object.sliceCount = side;
                return;
            }
            FreeArray(image);
        }
    }
    object.active = 0;
}

void FlightView::MakeStreakSprite(int32_t slot) {
    if (objects == nullptr || slot < 0 || slot >= slotCount) return;
    SkyObject& object = objects[slot];
    if (object.imageBorrowed == 0) FreeArray(object.image);
    object.imageBorrowed = 0;
    object.image = AllocateArray<uint32_t>(kStreakSlices * kStreakTexels);
    object.kind = 0;
    object.active = 0;
    object.speed = streakSpeed;
    object.climbRate = 0;
    if (object.image == nullptr) {
        object.sliceLength = 0;
        object.sliceCount = 0;
        return;
    }
    for (int32_t s = 0; s < kStreakSlices; ++s) {
        object.image[s * kStreakTexels + 0] = 0xFF000000u;
        object.image[s * kStreakTexels + 1] = 0xFFFFFFFFu;
        object.image[s * kStreakTexels + 2] = 0xFF000000u;
    }
    object.sliceLength = kStreakTexels;
    object.sliceCount = kStreakSlices;
}

void FlightView::FillDisc(uint32_t* pixels, int32_t side, int32_t radius, uint32_t colour,
                          int32_t x, int32_t y) {
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

void FlightView::ClearDarkPixels(uint32_t* pixels, int32_t width, int32_t height,
                                 int32_t threshold) {
    if (pixels == nullptr || width < 1 || height < 1) return;
    const int64_t count = static_cast<int64_t>(width) * height;
    for (int64_t i = 0; i < count; ++i) {
        if (ChannelSum(pixels[i]) < threshold) pixels[i] = 0;
    }
}

void FlightView::MoveObjects() {
    // Needs the tables (buffersReady also means both maps agree in size, so
    // every footprint cell lies inside the cell map).
    if (objects == nullptr || objectCellMap == nullptr || !buffersReady || cosTable == nullptr ||
        sinTable == nullptr || heightMap == nullptr) {
        return;
    }
    const int64_t cellCount = static_cast<int64_t>(heightMapWidth) * heightMapHeight;
    for (int32_t slot = slotCount - 1; slot >= 0; --slot) {
        SkyObject& object = objects[slot];
        if (object.active == 0 || object.kind != 1) continue;
        if (object.footprint == nullptr || object.image == nullptr || object.sliceCount < 1) {
            continue;
        }
        object.heading =
            coremath::WrapAngle(static_cast<int64_t>(object.heading) + object.turnRate, angleUnits);
        const int32_t cosine = cosTable[object.heading];
        const int32_t sine = sinTable[object.heading];
        object.positionX = coremath::WrapCoordinate(
            object.positionX + ((static_cast<int64_t>(cosine) * object.speed) >> 4), xLimit);
        object.positionY = coremath::WrapCoordinate(
            object.positionY + ((static_cast<int64_t>(sine) * object.speed) >> 4), yLimit);

        // Half a cell along the heading per slice.
        const int32_t stepX = Asr(cosine, 1);
        const int32_t stepY = Asr(sine, 1);
        for (int32_t s = 0; s < object.sliceCount; ++s) {
            const int32_t cell = object.footprint[s];
            if (cell >= 0 && cell < cellCount) objectCellMap[cell] = 0;
        }
        int32_t x = object.positionX;
        int32_t y = object.positionY;
        for (int32_t s = object.sliceCount - 1; s >= 0; --s) {
            const int32_t cell = (y >> kPositionShift) * colourMapWidth + (x >> kPositionShift);
            object.footprint[s] = cell;
            objectCellMap[cell] = static_cast<uint16_t>((slot << 8) + s + 1);
            x = coremath::WrapCoordinate(static_cast<int64_t>(x) - stepX, xLimit);
            y = coremath::WrapCoordinate(static_cast<int64_t>(y) - stepY, yLimit);
        }

        object.altitude =
            coremath::SaturateInt32(static_cast<int64_t>(object.altitude) + object.climbRate);
        // Rests 10 above the ground under its middle slice.
        const int64_t floor =
            static_cast<int64_t>(heightMap[object.footprint[object.sliceCount >> 1]]) + 10;
        if (floor > object.altitude) object.altitude = coremath::SaturateInt32(floor);
    }
}
