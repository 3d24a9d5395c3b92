// ObjectSet.h - the airborne objects: the object slots, their images, and
// the object cell map in which they mark their footprints every frame.
//
// Slot 0 holds the streak, created inactive; slots 1 and up are ring
// objects that start at random cells with random headings, drawn from the
// owner's LcgRandom state (base/Units.h). An object's footprint is one cell
// per image slice along its heading, half a cell apart, the front slice at
// its position; the cell map holds (slot << 8) + slice + 1 in those cells
// and 0 elsewhere, so slot numbers fit in 0 ... 253 and images have at most
// 255 slices.
//
// Memory: the cell map and the slot array are obtained together or not at
// all (then slotCount keeps its value, and there are no objects to move or
// draw). An object whose image or footprint cannot be obtained is made
// inactive, with no image (sliceLength and sliceCount 0) or no footprint;
// inactive objects are never moved, marked or drawn.
//
// The sample map (borrowed from the flight view, may be null): one 16-bit
// word a cell, the cell's height in the low 15 bits and kSampleObjectMark
// set exactly where the cell map is not 0. Every write to the cell map
// keeps its mark, so that the renderer's march tests the mark and reads the
// height with one load.
//
// Callers: the flight view (view/FlightView.cpp) sizes and builds the set
// and moves it at the start of every Render; the renderer reads the cell
// map, the slots and their images.
#pragma once

#include <cstdint>

#include "sky/SkyObject.h"
#include "sky/Terrain.h"

class ObjectSet {
public:
    static constexpr int32_t kMaxSlots = 254;  // slot numbers fit in the cell map's top byte
    // The sample map's words: height | (marked ? kSampleObjectMark : 0).
    static constexpr uint16_t kSampleObjectMark = 0x8000;
    static constexpr int32_t kSampleHeightMask = 0x7FFF;

    ObjectSet() = default;
    ~ObjectSet() { FreeObjectList(); }
    ObjectSet(const ObjectSet&) = delete;
    ObjectSet& operator=(const ObjectSet&) = delete;

    SkyObject* slots = nullptr;  // slotCount records, owned
    int32_t slotCount = 0;       // 0 ... kMaxSlots
    // One entry per map cell, row-major with the map's width, owned; cellCount
    // entries.
    uint16_t* cellMap = nullptr;
    int64_t cellCount = 0;
    // Borrowed, sampleCells entries (see above); null: no marks kept.
    uint16_t* sampleMap = nullptr;
    int64_t sampleCells = 0;
    // Object images and speeds (fixed after construction in the saver).
    int32_t spriteSizeExponent = 5;  // ring images are 2^5 = 32 texels square
    int32_t spriteSideDot = 1;       // nonzero: rings get a small fourth disc
    int32_t objectSpeed = 26;        // speed of the rings
    int32_t streakSpeed = 250;       // speed of the streak

    // Frees the list and sets slotCount to slots clamped to [0, kMaxSlots].
    void SetSlotCount(int32_t slots);
    // Obtains the cell map for a mapWidth x mapHeight map (all 0) and
    // slotCount new slots, and places the objects, drawing from randomState.
    // False (nothing kept) when memory is short or a size is below 1.
    bool BuildObjectList(int32_t mapWidth, int32_t mapHeight, int32_t angleUnits,
                         uint32_t& randomState);
    // Releases the cell map and the slots (their marks leave the sample map);
    // slotCount is kept.
    void FreeObjectList();
    // Borrows `map` (cells entries, heights already in it) as the sample map
    // and marks in it the cells the cell map marks; null lets it go. A map of
    // another size than the cell map's gets no marks and is not kept.
    void AttachSampleMap(uint16_t* map, int64_t cells);
    // Creates every slot: the streak in slot 0, rings at random cells of the
    // map with random headings in the others.
    void PlaceObjects(int32_t mapWidth, int32_t mapHeight, int32_t angleUnits,
                      uint32_t& randomState);
    // (Re)creates the object in slot at the corner of cell (cellX, cellY);
    // red, green and blue all 0 draw a bright enough colour from randomState.
    void CreateObject(int32_t slot, int32_t kind, int32_t cellX, int32_t cellY, int32_t altitude,
                      int32_t heading, int32_t turnRate, int32_t active, int32_t red, int32_t green,
                      int32_t blue, uint32_t& randomState);
    // The ring image of the given colour (a spriteSizeExponent outside
    // 0 ... 7 or no memory leaves the object inactive without an image).
    void MakeRingSprite(int32_t slot, int32_t red, int32_t green, int32_t blue);
    void MakeStreakSprite(int32_t slot);
    // One frame: every active ring turns, flies, re-marks its footprint in
    // the cell map and keeps 10 above the ground under its middle slice.
    // Does nothing without objects, or when the land or the tables are not
    // usable or the land's size is not the cell map's.
    void MoveObjects(const Terrain& land, const TrigTables& trig);

    // --- Frames between ticks ------------------------------------------------
    // The objects as they are now (positions, headings, altitudes,
    // footprints and the cell map) become the kept pose: the next
    // MoveObjects records every cell map write, so that ShowBetween can put
    // the map back. False (no kept pose) when the memory cannot be had.
    bool KeepPose();
    // No kept pose: ShowBetween shows the present.
    void ForgetPose();
    bool HasKeptPose() const { return keptValid_; }
    // For drawing: the cell map and the altitudes as they were at the kept
    // pose (fraction 0, exactly), or fraction (1/65536) of the way from it to
    // the present: each active ring's position and heading interpolated the
    // short way round, its footprint marked there as MoveObjects marks it,
    // its altitude interpolated. Without a kept pose nothing changes.
    // ShowPresent puts everything back as it was before.
    void ShowBetween(const Terrain& land, const TrigTables& trig, int32_t fraction);
    void ShowPresent();

private:
    struct CellWrite {
        int64_t cell;
        uint16_t before;
        uint16_t after;
    };
    struct KeptObject {
        int32_t positionX;
        int32_t positionY;
        int32_t heading;
        int32_t altitude;
    };
    // Writes one cell map entry, recorded in `log` when there is one.
    void WriteCell(int64_t cell, uint16_t value, CellWrite* log, int64_t& logged);
    // Writes one cell map entry and its mark in the sample map.
    void PutCell(int64_t cell, uint16_t value) {
        cellMap[cell] = value;
        if (sampleMap != nullptr) {
            sampleMap[cell] = static_cast<uint16_t>((sampleMap[cell] & kSampleHeightMask) |
                                                    (value != 0 ? kSampleObjectMark : 0));
        }
    }
    // Marks slot's footprint from (x, y) backwards along heading.
    void MarkFootprint(int32_t slot, int32_t x, int32_t y, int32_t heading, const Terrain& land,
                       const TrigTables& trig, int32_t* footprint, CellWrite* log,
                       int64_t& logged);
    void FreePose();

    bool keptValid_ = false;
    KeptObject* kept_ = nullptr;       // slotCount
    int32_t* keptFootprints_ = nullptr;  // slotCount x keptSlices_
    int32_t keptSlices_ = 0;           // room for each slot's footprint
    int32_t* shownFootprint_ = nullptr;  // keptSlices_: scratch of ShowBetween
    int32_t* presentAltitudes_ = nullptr;  // slotCount: the present while showing
    CellWrite* moveLog_ = nullptr;     // MoveObjects' writes since KeepPose
    int64_t moveLogged_ = 0;
    CellWrite* showLog_ = nullptr;     // ShowBetween's writes
    int64_t showLogged_ = 0;
    int64_t logCapacity_ = 0;          // entries of each log
    bool showing_ = false;
};
