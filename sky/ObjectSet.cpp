// ObjectSet.cpp - creating, placing and releasing the object slots, drawing
// their images, and moving them with their footprints in the cell map every
// frame (see ObjectSet.h).
#include "sky/ObjectSet.h"

#include <cstdint>

#include "base/Saturate.h"
#include "base/Scratch.h"
#include "base/Units.h"
#include "sky/Image.h"

namespace {

constexpr int32_t kMaxSpriteExponent = 7;  // at most 128 slices: slice + 1 fits in a byte
constexpr int32_t kStreakSlices = 32;
constexpr int32_t kStreakTexels = 3;

}  // namespace

void ObjectSet::SetSlotCount(int32_t count) {
    FreeObjectList();
    if (count < 0) count = 0;
    if (count > kMaxSlots) count = kMaxSlots;
    slotCount = count;
}

bool ObjectSet::BuildObjectList(int32_t mapWidth, int32_t mapHeight, int32_t angleUnits,
                                uint32_t& randomState) {
    FreeObjectList();
    if (slotCount < 0 || slotCount > kMaxSlots || mapWidth < 1 || mapHeight < 1) return false;
    const int64_t cells = static_cast<int64_t>(mapWidth) * mapHeight;
    // A sample map of another size can take no marks of this one.
    if (sampleMap != nullptr && sampleCells != cells) AttachSampleMap(nullptr, 0);
    cellMap = AllocateArray<uint16_t>(cells);
    slots = AllocateArray<SkyObject>(slotCount);
    if (cellMap == nullptr || slots == nullptr) {
        FreeObjectList();
        return false;
    }
    cellCount = cells;
    // The cell map arrives all 0 (no object anywhere).
    if (slotCount != 0) PlaceObjects(mapWidth, mapHeight, angleUnits, randomState);
    return true;
}

void ObjectSet::FreeObjectList() {
    FreePose();
    if (sampleMap != nullptr) {
        for (int64_t cell = 0; cell < sampleCells; ++cell) sampleMap[cell] &= kSampleHeightMask;
    }
    FreeArray(cellMap);
    cellCount = 0;
    FreeArray(slots);
}

void ObjectSet::PlaceObjects(int32_t mapWidth, int32_t mapHeight, int32_t angleUnits,
                             uint32_t& randomState) {
    if (slots == nullptr || mapWidth < 1 || mapHeight < 1 || angleUnits < 1) return;
    for (int32_t slot = 0; slot < slotCount; ++slot) {
        if (slot == 0) {
            CreateObject(0, 0, 0, 0, streakSpeed, 0, 0, 1, 0, 0, 0, randomState);
            continue;
        }
        const int32_t cellX = LcgStep(randomState) % mapWidth;
        const int32_t cellY = LcgStep(randomState) % mapHeight;
        const int32_t objectHeading = LcgStep(randomState) % angleUnits;
        CreateObject(slot, 1, cellX, cellY, objectSpeed, objectHeading, 0, 1, 0, 0, 0, randomState);
    }
}

void ObjectSet::CreateObject(int32_t slot, int32_t kind, int32_t cellX, int32_t cellY,
                             int32_t objectAltitude, int32_t objectHeading, int32_t turnRate,
                             int32_t active, int32_t red, int32_t green, int32_t blue,
                             uint32_t& randomState) {
    if (slots == nullptr || slot < 0 || slot >= slotCount) return;
    if (red == 0 && green == 0 && blue == 0) {
        // Too dark a ring would vanish against the night sky.
        do {
            red = LcgStep(randomState) % 256;
            green = LcgStep(randomState) % 256;
            blue = LcgStep(randomState) % 256;
        } while (red + green + blue < 200);
    }
    SkyObject& object = slots[slot];
    object.positionX = SaturateInt32(static_cast<int64_t>(cellX) * kPositionOne);
    object.positionY = SaturateInt32(static_cast<int64_t>(cellY) * kPositionOne);
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
        for (int32_t s = 0; s < oldSliceCount; ++s) {
            if (cellMap != nullptr && oldFootprint[s] >= 0 && oldFootprint[s] < cellCount) {
                PutCell(oldFootprint[s], 0);
            }
        }
        FreeArray(oldFootprint);
    }
    if (object.sliceCount >= 1) object.footprint = AllocateArray<int32_t>(object.sliceCount);
    if (object.footprint == nullptr || object.image == nullptr) object.active = 0;
}

void ObjectSet::MakeRingSprite(int32_t slot, int32_t red, int32_t green, int32_t blue) {
    if (slots == nullptr || slot < 0 || slot >= slotCount) return;
    SkyObject& object = slots[slot];
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

void ObjectSet::MakeStreakSprite(int32_t slot) {
    if (slots == nullptr || slot < 0 || slot >= slotCount) return;
    SkyObject& object = slots[slot];
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

void ObjectSet::MoveObjects(const Terrain& land, const TrigTables& trig) {
    // Every footprint cell lies inside the cell map only for the map it was
    // made for.
    if (slots == nullptr || cellMap == nullptr || !land.Usable() || !trig.Usable() ||
        land.CellCount() != cellCount) {
        return;
    }
    for (int32_t slot = slotCount - 1; slot >= 0; --slot) {
        SkyObject& object = slots[slot];
        if (object.active == 0 || object.kind != 1) continue;
        if (object.footprint == nullptr || object.image == nullptr || object.sliceCount < 1) {
            continue;
        }
        object.heading =
            WrapAngle(static_cast<int64_t>(object.heading) + object.turnRate, trig.angleUnits);
        const int32_t cosine = trig.cosTable[object.heading];
        const int32_t sine = trig.sinTable[object.heading];
        object.positionX = WrapCoordinate(
            object.positionX + ((static_cast<int64_t>(cosine) * object.speed) >> 4), land.xLimit);
        object.positionY = WrapCoordinate(
            object.positionY + ((static_cast<int64_t>(sine) * object.speed) >> 4), land.yLimit);

        for (int32_t s = 0; s < object.sliceCount; ++s) {
            const int32_t cell = object.footprint[s];
            if (cell >= 0 && cell < cellCount) WriteCell(cell, 0, moveLog_, moveLogged_);
        }
        MarkFootprint(slot, object.positionX, object.positionY, object.heading, land, trig,
                      object.footprint, moveLog_, moveLogged_);

        object.altitude = SaturateInt32(static_cast<int64_t>(object.altitude) + object.climbRate);
        // Rests 10 above the ground under its middle slice.
        const int64_t floor =
            static_cast<int64_t>(land.heights[object.footprint[object.sliceCount >> 1]]) + 10;
        if (floor > object.altitude) object.altitude = SaturateInt32(floor);
    }
}

void ObjectSet::WriteCell(int64_t cell, uint16_t value, CellWrite* log, int64_t& logged) {
    if (log != nullptr) {
        if (logged < logCapacity_) {
            log[logged++] = {cell, cellMap[cell], value};
        } else {
            // More moves than one since KeepPose: the kept pose can no longer
            // be put back, so frames show the present.
            keptValid_ = false;
        }
    }
    PutCell(cell, value);
}

void ObjectSet::AttachSampleMap(uint16_t* map, int64_t cells) {
    sampleMap = nullptr;
    sampleCells = 0;
    if (map == nullptr || cells < 1) return;
    // Without a cell map no cell is marked; with one, both must agree.
    if (cellMap != nullptr && cells != cellCount) return;
    sampleMap = map;
    sampleCells = cells;
    for (int64_t cell = 0; cell < cells; ++cell) {
        const bool marked = cellMap != nullptr && cellMap[cell] != 0;
        map[cell] = static_cast<uint16_t>((map[cell] & kSampleHeightMask) |
                                          (marked ? kSampleObjectMark : 0));
    }
}

void ObjectSet::MarkFootprint(int32_t slot, int32_t x, int32_t y, int32_t heading,
                              const Terrain& land, const TrigTables& trig, int32_t* footprint,
                              CellWrite* log, int64_t& logged) {
    const SkyObject& object = slots[slot];
    // Half a cell along the heading per slice, the front slice at (x, y).
    const int32_t stepX = Asr(trig.cosTable[heading], 1);
    const int32_t stepY = Asr(trig.sinTable[heading], 1);
    for (int32_t s = object.sliceCount - 1; s >= 0; --s) {
        const int32_t cell = (y >> kPositionShift) * land.width + (x >> kPositionShift);
        footprint[s] = cell;
        WriteCell(cell, static_cast<uint16_t>((slot << 8) + s + 1), log, logged);
        x = WrapCoordinate(static_cast<int64_t>(x) - stepX, land.xLimit);
        y = WrapCoordinate(static_cast<int64_t>(y) - stepY, land.yLimit);
    }
}

void ObjectSet::FreePose() {
    if (showing_) ShowPresent();
    keptValid_ = false;
    FreeArray(kept_);
    FreeArray(keptFootprints_);
    FreeArray(shownFootprint_);
    FreeArray(presentAltitudes_);
    FreeArray(moveLog_);
    FreeArray(showLog_);
    keptSlices_ = 0;
    logCapacity_ = 0;
    moveLogged_ = 0;
    showLogged_ = 0;
}

void ObjectSet::ForgetPose() {
    if (showing_) ShowPresent();
    keptValid_ = false;
    moveLogged_ = 0;
}

bool ObjectSet::KeepPose() {
    if (showing_) ShowPresent();
    keptValid_ = false;
    moveLogged_ = 0;
    if (slots == nullptr || cellMap == nullptr) return false;
    if (kept_ == nullptr) {
        // Sized once for this object list: every object's footprint, and
        // each log room for one clearing and one marking of all of them.
        int32_t slices = 0;
        int64_t writes = 0;
        for (int32_t slot = 0; slot < slotCount; ++slot) {
            if (slots[slot].sliceCount > slices) slices = slots[slot].sliceCount;
            writes += 2 * static_cast<int64_t>(slots[slot].sliceCount);
        }
        kept_ = AllocateArray<KeptObject>(slotCount);
        keptFootprints_ = AllocateArray<int32_t>(static_cast<int64_t>(slotCount) * slices);
        shownFootprint_ = AllocateArray<int32_t>(slices);
        presentAltitudes_ = AllocateArray<int32_t>(slotCount);
        moveLog_ = AllocateArray<CellWrite>(writes);
        showLog_ = AllocateArray<CellWrite>(writes);
        keptSlices_ = slices;
        logCapacity_ = writes;
        if (kept_ == nullptr || keptFootprints_ == nullptr || shownFootprint_ == nullptr ||
            presentAltitudes_ == nullptr || moveLog_ == nullptr || showLog_ == nullptr) {
            FreePose();
            return false;
        }
    }
    for (int32_t slot = 0; slot < slotCount; ++slot) {
        const SkyObject& object = slots[slot];
        kept_[slot] = {object.positionX, object.positionY, object.heading, object.altitude};
        int32_t* footprint = keptFootprints_ + static_cast<int64_t>(slot) * keptSlices_;
        for (int32_t s = 0; s < object.sliceCount && s < keptSlices_; ++s) {
            footprint[s] = object.footprint != nullptr ? object.footprint[s] : -1;
        }
    }
    keptValid_ = true;
    return true;
}

void ObjectSet::ShowBetween(const Terrain& land, const TrigTables& trig, int32_t fraction) {
    if (!keptValid_ || showing_ || slots == nullptr || cellMap == nullptr) return;
    showing_ = true;
    showLogged_ = 0;
    // Back to the cell map of the kept pose: the moves' writes undone, the
    // last first.
    for (int64_t i = moveLogged_ - 1; i >= 0; --i) PutCell(moveLog_[i].cell, moveLog_[i].before);
    for (int32_t slot = 0; slot < slotCount; ++slot) {
        SkyObject& object = slots[slot];
        presentAltitudes_[slot] = object.altitude;
        object.altitude = Interpolate(kept_[slot].altitude, object.altitude, fraction);
    }
    if (fraction == 0 || !land.Usable() || !trig.Usable() || land.CellCount() != cellCount) return;
    // In between: each ring's footprint moved along as MoveObjects moves it,
    // the highest slot first.
    for (int32_t slot = slotCount - 1; slot >= 0; --slot) {
        const SkyObject& object = slots[slot];
        if (object.active == 0 || object.kind != 1 || object.footprint == nullptr ||
            object.image == nullptr || object.sliceCount < 1 || object.sliceCount > keptSlices_) {
            continue;
        }
        const KeptObject& from = kept_[slot];
        const int32_t* footprint = keptFootprints_ + static_cast<int64_t>(slot) * keptSlices_;
        for (int32_t s = 0; s < object.sliceCount; ++s) {
            const int32_t cell = footprint[s];
            if (cell >= 0 && cell < cellCount) WriteCell(cell, 0, showLog_, showLogged_);
        }
        const int32_t x = InterpolateWrapped(from.positionX, object.positionX, fraction, land.xLimit);
        const int32_t y = InterpolateWrapped(from.positionY, object.positionY, fraction, land.yLimit);
        const int32_t heading =
            InterpolateWrapped(from.heading, object.heading, fraction, trig.angleUnits);
        MarkFootprint(slot, x, y, heading, land, trig, shownFootprint_, showLog_, showLogged_);
    }
}

void ObjectSet::ShowPresent() {
    if (!showing_) return;
    showing_ = false;
    for (int64_t i = showLogged_ - 1; i >= 0; --i) PutCell(showLog_[i].cell, showLog_[i].before);
    showLogged_ = 0;
    for (int64_t i = 0; i < moveLogged_; ++i) PutCell(moveLog_[i].cell, moveLog_[i].after);
    for (int32_t slot = 0; slot < slotCount; ++slot) slots[slot].altitude = presentAltitudes_[slot];
}
