// FlightView.h - the camera, its lookup tables, the sky and the objects, and
// the banked column ray marcher that turns the land maps into a picture.
//
// Units (see base/Units.h): positions in 1/1024 cell, wrapping at xLimit and
// yLimit; angles in angle units, angleUnits per turn (2560, raised to
// 2 x diagonal for very wide frames); heights in height-map units; cosTable
// and sinTable hold 1024 x cos and 1024 x (-sin) of each angle unit,
// truncated toward zero.
//
// The frame is frameWidth x frameHeight 32-bit pixels 0xAARRGGBB, row-major,
// row 0 at the bottom of the picture, its rows frameStride pixels apart. The
// frame and both maps are borrowed: they belong to the frame loop and must
// outlive the view (or, for the frame, the next SetFrame). Both maps have the
// same size (square, side 2^landSize in the saver).
//
// The view owns three parts of the sky layer (sky/): its sky texture, its
// object set and its autopilot. It hands them its tables, its maps and its
// camera; SteerAutopilot, SetObjectCount and MoveObjects are the hand-overs.
//
// Callers: each Flight (app/FrameLoop.h) constructs one view and, every
// frame, calls SteerAutopilot, sets headingRate/climbRate/horizonRow, calls
// SetBankAngle, Move and Render; the new-land pipeline writes waterLevel and
// randomState after each landscape; a resized window calls SetFrame.
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

#include "sky/Autopilot.h"
#include "sky/ObjectSet.h"
#include "sky/SkyTexture.h"
#include "sky/Terrain.h"

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
    ~FlightView();
    FlightView(const FlightView&) = delete;
    FlightView& operator=(const FlightView&) = delete;

    // --- The record, in order ---------------------------------------------------
    int32_t waterLevel;           // heights <= this are drawn as water
    int32_t stepGrowthThreshold;  // ray step widening threshold
    uint32_t randomState;         // LcgRandom state of this view
    uint32_t* colourMap;          // borrowed
    int32_t colourMapWidth;
    int32_t colourMapHeight;
    int32_t* heightMap;      // borrowed
    int32_t heightMapWidth;  // row stride of both maps for Render, Move, autopilot
    int32_t heightMapHeight;
    uint32_t* frame;  // borrowed
    int32_t frameWidth;
    int32_t frameHeight;
    int32_t diagonal;            // ray columns = rows of the rotated frame
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
    int32_t turnCommand;   // autopilot output, angle units
    int32_t climbCommand;  // autopilot output, height units
    BankEntry* bankTable;  // angleUnits entries

    // --- The sky layer's parts, owned ---------------------------------------------
    SkyTexture sky;       // built once, on construction
    ObjectSet objects;    // slots, cell map, sprite parameters
    Autopilot autopilot;  // its filters live as long as the view

    // --- Threads ------------------------------------------------------------------
    // Borrowed from the view's owner, may be null: Render splits its columns
    // over the pool's threads (none or a pool of one: the single-threaded
    // march). The frame is the same bits for every pool size.
    ThreadPool* threadPool = nullptr;

    // Pixels from one row of the frame to the next: frameWidth, or more when
    // the owner gives the frame longer rows (DrawingStride). The constructor
    // takes contiguous rows; SetFrame takes the new frame's, and an owner
    // whose first frame has longer rows sets them here before rendering.
    int32_t frameStride = 0;
    // The row length, at least width, that a frame width pixels wide should
    // have so that Render draws straight into it: width itself, or width +
    // 16 when rows of width pixels would share the sets of the first-level
    // data cache (multiples of 64 pixels). Such a frame drawn with
    // contiguous rows goes through a padded copy instead.
    static int32_t DrawingStride(int32_t width);

    // --- Renderer scratch (view/RenderThreads.cpp), owned ------------------------------
    // Frames whose rows alias in the first-level data cache are drawn into
    // this copy of the frame with longer rows and copied out; obtained on the
    // first such frame, kept for the next ones (null: drawn in place).
    uint32_t* paddedFrame = nullptr;
    int64_t paddedFramePixels = 0;

    // --- The sample map, owned --------------------------------------------------------
    // One 16-bit word a cell of the height map: the height in the low 15
    // bits and ObjectSet::kSampleObjectMark where the object cell map marks
    // the cell (the object set keeps the marks). The march reads it with one
    // 2-byte load a sample instead of a 4-byte height and a 2-byte mark: after
    // the pause between two frames much of the maps has left the cache, and a
    // third of the bytes fetches less. UpdateSampleMap makes it from the
    // heights after each landscape; null (heights outside 0 ... 32767, no
    // memory, or the heights about to change): Render reads the two maps,
    // with the same pictures.
    uint16_t* sampleMap = nullptr;
    int64_t sampleMapCells = 0;
    // Makes the sample map from the heights as they are now and hands it to
    // the objects; false (no sample map) as above.
    bool UpdateSampleMap();
    // No sample map until the next UpdateSampleMap (the heights will change).
    void DropSampleMap();

    // --- State that lives as long as the view (ResetDefaults keeps it) ---------------
    int32_t lastGoodViewDistance = 0;  // 0 until the first SetViewDistance

    // --- Record, tables, random numbers (view/FlightView.cpp) ---------------------
    // Releases what the view owns, then every field to its default (the
    // autopilot's filters and lastGoodViewDistance are kept).
    void ResetDefaults();
    void ReleaseOwned();  // frees the tables, the sky, the objects, the padded frame
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
    // Borrows another frame (a resized window) and rebuilds what depends on
    // its size (the tables, the padded copy), keeping the camera, the sky,
    // the objects and the autopilot. The old frame is never touched again.
    // False when the tables cannot be set up for it: the view then cannot
    // render until a later Move (or SetUpBuffers) succeeds. angleUnits is
    // raised for a wider frame and never lowered.
    // `stride` is the row length of the new frame in pixels (below
    // frameWidth: frameWidth, contiguous rows).
    bool SetFrame(uint32_t* frame, int32_t frameWidth, int32_t frameHeight, int32_t stride = 0);

    // The land and the tables as the sky layer reads them (empty tables
    // before a successful set-up).
    Terrain LandTerrain() const;
    TrigTables Trig() const;

    // --- Rendering and camera motion (view/Render*.cpp, view/Motion.cpp) ------------
    void Render();
    bool Move();
    void SetBankAngle(int32_t angle);

    // --- Hand-overs to the sky layer (view/FlightView.cpp) -----------------------------
    // The autopilot's commands for this frame into turnCommand and
    // climbCommand (both 0 without tables; the filters then keep their values).
    void SteerAutopilot(int32_t turnDirection, int32_t intensity);
    // Sizes the object set (clamped to 0 ... 254 slots), re-applies the view
    // distance (capped with objects), enables the sky (building it if it
    // failed before) and builds and places the objects from randomState.
    // False when the sky or the object list cannot be obtained (the slot
    // count is kept, there are no objects).
    bool SetObjectCount(int32_t slots);
    void MoveObjects();  // does nothing without objects or tables

    // --- Frames between ticks (view/FlightView.cpp) -----------------------------------
    // The camera and the objects as they are now become the kept pose, the
    // frame at fraction 0; the next tick's Move and MoveObjects then lead to
    // the present. False (no kept pose) when the objects' pose memory cannot
    // be had; a view without objects keeps its camera alone.
    bool KeepPose();
    void ForgetPose();
    bool HasKeptPose() const { return keptPose_; }
    // Draws the frame `fraction` (1/65536, 0 ... 65535) of the way from the
    // kept pose to the present: the camera's position (wrapping at the map's
    // edges), altitude, heading and bank (the short way round a turn) and
    // horizon row, and every object, interpolated (see base/Units.h for the
    // rounding). Fraction 0 draws the kept pose's own frame, bit for bit.
    // Without a kept pose it draws the present. Leaves the view, its objects
    // and their cell map as they were; only the frame's pixels change.
    void RenderBetween(int32_t fraction);

    // The camera of the frame RenderBetween(fraction) draws.
    struct Camera {
        int32_t positionX;
        int32_t positionY;
        int32_t altitude;
        int32_t heading;
        int32_t bankAngle;
        int32_t horizonRow;
    };
    Camera CameraBetween(int32_t fraction) const;

private:
    using KeptCamera = Camera;
    KeptCamera CameraNow() const;
    void PutCamera(const KeptCamera& camera);
    bool keptPose_ = false;
    KeptCamera keptCamera_{};
};
