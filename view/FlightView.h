// FlightView.h - the camera, its lookup tables, the sky and the objects, and
// the banked column ray marcher that turns the land maps into a picture.
//
// Units (see land/Units.h): positions in 1/1024 cell, wrapping at xLimit and
// yLimit; angles in angle units, angleUnits per turn (2560, raised to
// 2 x diagonal for very wide frames); heights in height-map units; cosTable
// and sinTable hold 1024 x cos and 1024 x (-sin) of each angle unit,
// truncated toward zero.
//
// The frame is frameWidth x frameHeight 32-bit pixels 0xAARRGGBB, row-major,
// row 0 at the bottom of the picture. The frame and both maps are borrowed:
// they belong to the frame loop and must outlive the view. Both maps have
// the same size (square, side 2^landSize in the saver).
//
// Callers: each Flight (app/FrameLoop.h) constructs one view and, every
// frame, calls SteerAutopilot, sets headingRate/climbRate/horizonRow, calls
// SetBankAngle, Move and Render; the new-land pipeline writes waterLevel and
// randomState after each landscape.
//
// Render needs its tables (buffersReady) and the sky; CanRender() says whether
// a frame can be drawn now. A failed allocation never fails construction:
// missing tables or sky keep CanRender() false (Move retries the tables every
// frame); a view whose object list could not be obtained is drawn without
// objects; an object whose image or footprint could not be obtained is made
// inactive.
//
// Very wide frames: the outermost ray columns of frames with a diagonal
// above 1280 look nearly 90 degrees aside; their rayStepTable entries
// saturate at INT32_MAX instead of overflowing, as does maxRayDepth for
// long view distances. Everything that fits in 32 bits is unchanged.
#pragma once

#include <cstdint>

#include "sky/SkyObject.h"

class ThreadPool;

struct BankEntry {
    int32_t startX;     // bottom-right corner of the rotated frame, 1/1024 pixel
    int32_t startY;     // 1/1024 pixel, y grows upward
    uint16_t edgeSkip;  // columns diagonal - edgeSkip down to edgeSkip + 1 are drawn
};

class FlightView {
public:
    FlightView(uint32_t* frame, int32_t frameWidth, int32_t frameHeight, int32_t* heightMap,
               int32_t heightMapWidth, int32_t heightMapHeight, uint32_t* colourMap,
               int32_t colourMapWidth, int32_t colourMapHeight, int32_t objectSlots,
               int32_t skySizeExponent, uint32_t seed);
    virtual ~FlightView();
    FlightView(const FlightView&) = delete;
    FlightView& operator=(const FlightView&) = delete;

    // --- The record, in order ---------------------------------------------------
    int32_t waterLevel;           // heights <= this are drawn as water
    bool skyBorrowed;             // sky not owned (never set in the saver)
    int32_t stepGrowthThreshold;  // ray step widening threshold
    uint32_t randomState;         // LcgRandom state of this view
    int32_t spriteSideDot;
    int32_t objectSpeed;
    int32_t streakSpeed;
    int32_t placementMode;
    int32_t footprintMode;
    uint32_t* colourMap;  // borrowed
    int32_t colourMapWidth;
    int32_t colourMapHeight;
    int32_t* heightMap;      // borrowed
    int32_t heightMapWidth;  // row stride of both maps for Render, Move, autopilot
    int32_t heightMapHeight;
    uint32_t* frame;  // borrowed
    int32_t frameWidth;
    int32_t frameHeight;
    int32_t diagonal;  // ray columns = rows of the rotated frame
    uint32_t* sky;     // skyWidth x skyHeight texels, owned unless skyBorrowed
    int32_t skyWidth;
    int32_t skyHeight;
    int32_t* rayStepTable;       // diagonal entries
    int32_t* cosTable;           // angleUnits entries, 1024 x cos
    int32_t* sinTable;           // angleUnits entries, 1024 x (-sin)
    int32_t* depthScale;         // viewDistance entries
    int32_t* depthScaleInverse;  // viewDistance entries, 2^20 / depthScale
    int32_t headingRate;         // angle units per Move
    int32_t climbRate;           // height units per Move
    int32_t speed;               // each Move advances 64 x speed position units
    int32_t groundClearance;
    int32_t horizonRow;  // row of the rotated frame holding the horizon
    int32_t altitude;    // height units, <= 5362
    int32_t heading;     // angle units
    int32_t bankAngle;   // angle units
    int32_t positionY;   // position units, [0, yLimit)
    int32_t positionX;   // position units, [0, xLimit)
    SkyObject* objects;  // slotCount slots, owned
    int32_t skyEnabled;
    int32_t spriteSizeExponent;
    uint16_t* objectCellMap;  // (slot << 8) + slice + 1 per marked cell, owned
    int32_t* spanStep;        // renderer scratch, 1024 entries each
    int32_t* spanTexel;
    int32_t* spanSlice;
    int32_t* spanStart;
    int32_t* spanEnd;
    uint32_t** spanTexels;
    int32_t depthScaleNumerator;
    int32_t angleUnits;
    int32_t viewDistance;  // depth indices
    int32_t baseStep;      // position units per base step of the central ray
    bool buffersReady;
    int32_t halfFrameWidth;
    int32_t halfFrameHeight;
    int32_t yLimit;        // colourMapHeight << 10
    int32_t xLimit;        // colourMapWidth << 10
    int32_t maxRayDepth;   // depth accumulator value that ends every ray
    int32_t slotCount;     // 0 ... 254
    int32_t turnCommand;   // autopilot output, angle units
    int32_t climbCommand;  // autopilot output, height units
    int32_t terrainClearance;
    BankEntry* bankTable;  // angleUnits entries

    // --- Threads ------------------------------------------------------------------
    // Borrowed from the view's owner, may be null: Render splits its columns
    // over the pool's threads (none or a pool of one: the single-threaded
    // march). The frame is the same bits for every pool size.
    ThreadPool* threadPool = nullptr;

    // --- Renderer scratch (view/Render.cpp), owned -----------------------------------
    // Frames whose rows alias in the first-level data cache are drawn into
    // this copy of the frame with longer rows and copied out; obtained on the
    // first such frame, kept for the next ones (null: drawn in place).
    uint32_t* paddedFrame = nullptr;
    int64_t paddedFramePixels = 0;

    // --- State that lives as long as the view (ResetDefaults keeps it) ---------------
    int32_t lastGoodViewDistance = 0;  // 0 until the first SetViewDistance
    int32_t altitudeFilter = 256;      // autopilot: smoothed altitude x 8
    int32_t groundFilter = 512;        // autopilot: smoothed target height x 16
    int32_t turnFilter = 0;            // autopilot: smoothed steering input x 4

    // --- Record, tables, random numbers (view/FlightView.cpp) ---------------------
    void ResetDefaults();  // releases what the view owns, then every field to its default
    void ReleaseOwned();   // frees the tables, the sky (unless borrowed), objects, padded frame
    // False (buffersReady false) for sides below 1, frame sides above 16384,
    // map sides above 65536 or 2^31 cells and more, maps of different sizes,
    // null maps or frame, or a failed allocation.
    bool SetUpBuffers();
    bool BuildTables();
    void BuildRayStepTable();
    bool SetViewDistance(int32_t distance);
    int32_t NextRandom();
    // buffersReady, every table, the sky, the maps and the frame there. The
    // objects are optional: without them the landscape is drawn alone.
    bool CanRender() const;

    // --- Rendering and camera motion (view/Render.cpp, view/Motion.cpp) -----------
    void Render();
    bool Move();
    void SetBankAngle(int32_t angle);

    // --- Autopilot (sky/Autopilot.cpp) ------------------------------------------------
    // Without tables both commands are 0 and the filters keep their values.
    void SteerAutopilot(int32_t turnDirection, int32_t intensity);
    void FollowTerrain();

    // --- Sky texture (sky/SkyTexture.cpp) ---------------------------------------------
    // Side 2^sizeExponent, exponent clamped to [0, 12]; randomState is left as
    // it was. False when memory is short: the old sky stays, unless only the
    // cloud layer failed, in which case the new sky is installed without it.
    bool BuildSkyTexture(int32_t sizeExponent);
    bool EnableSky(int32_t enabled);
    bool AddSkyClouds();  // false without a square sky or its scratch memory
    // side must be a power of two (otherwise nothing happens); negative
    // amplitudes count as 0.
    void DisplaceMidpoints(int32_t* values, int32_t side, int32_t amplitude, int32_t low,
                           int32_t high);
    // False for sizes below 1, centreWeight below -8 or no scratch memory
    // (pixels unchanged).
    static bool BlurWrapped(uint32_t* pixels, int32_t width, int32_t height, int32_t centreWeight);
    static void SetOpaque(uint32_t* pixels, int32_t width, int32_t height);

    // --- Objects (sky/Objects.cpp) ---------------------------------------------------
    // Also retries a sky that failed to build. False when the sky or the
    // object list cannot be obtained (slotCount is kept, objects stay null).
    bool SetObjectCount(int32_t slots);
    bool BuildObjectList();
    void FreeObjectList();
    void PlaceObjects();
    void CreateObject(int32_t slot, int32_t kind, int32_t cellX, int32_t cellY, int32_t altitude,
                      int32_t heading, int32_t turnRate, int32_t active, int32_t red, int32_t green,
                      int32_t blue);
    // An image or footprint that cannot be obtained (or a spriteSizeExponent
    // outside 0 ... 7) leaves the object inactive, with no image and
    // sliceLength = sliceCount = 0, or no footprint.
    void MakeRingSprite(int32_t slot, int32_t red, int32_t green, int32_t blue);
    void MakeStreakSprite(int32_t slot);
    static void FillDisc(uint32_t* pixels, int32_t side, int32_t radius, uint32_t colour, int32_t x,
                         int32_t y);
    static void ClearDarkPixels(uint32_t* pixels, int32_t width, int32_t height, int32_t threshold);
    void MoveObjects();  // does nothing without objects, cell map or tables
};
