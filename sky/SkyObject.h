// SkyObject.h - one airborne object slot.
//
// Slot 0 holds the inactive streak (kind 0), slots 1 and up the ring objects
// (kind 1) that glide over the land. Positions are in position units
// (1/1024 cell), headings in angle units, altitudes in height units.
// The image is slice-major: texel t of slice s at s * sliceLength + t, t = 0
// at the bottom; a texel of 0 is transparent. The footprint lists the
// cell map cells the object marked last (see ObjectSet::MoveObjects).
//
// Created, placed, moved and released by ObjectSet (sky/ObjectSet.h), which
// holds the slots as one array; drawn by the renderer (view/RenderMarch.cpp).
#pragma once

#include <cstdint>

class SkyObject {
public:
    SkyObject();
    ~SkyObject();
    SkyObject(const SkyObject&) = delete;
    SkyObject& operator=(const SkyObject&) = delete;

    uint8_t imageBorrowed;  // nonzero: image is not ours to free (always 0 here)
    int32_t kind;           // 0 streak, 1 ring
    int32_t speed;          // position += (cos/sin[heading] * speed) >> 4
    int32_t turnRate;       // angle units per frame
    int32_t active;         // nonzero: moves and is shown
    int32_t altitude;       // bottom of the image, height units
    int32_t heading;        // angle units, [0, angleUnits)
    int32_t climbRate;      // height units per frame
    int32_t sliceLength;    // texels per slice = image height in height units
    int32_t sliceCount;     // slices = footprint cells
    int32_t positionX;      // front slice, position units
    int32_t positionY;
    int32_t* footprint;  // sliceCount cell indices, owned
    uint32_t* image;     // sliceCount * sliceLength texels, owned unless borrowed
};
