// Stretch.h - the nearest-neighbour stretch of a frame onto a picture of
// another size, as the savers show it on their windows.
//
// The frame is width x height 32-bit pixels with row 0 at the bottom (its rows
// may be longer than width: the view's padded frames); the
// picture is destinationWidth x destinationHeight with its top row first.
// Picture column x shows frame column x * width / destinationWidth, picture
// row y (from the top) frame row height - 1 - y * height / destinationHeight,
// both in 64 bits and truncated, so every frame pixel covers a block of whole
// picture pixels and a picture of the frame's own size is the frame upside
// down. Sides are positive and at most INT32_MAX.
//
// Callers: the Linux saver (x11/X11Platform.cpp, x11/WaylandPlatform.cpp),
// glidescape-render's video (render/VideoWriter.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

// The frame column shown in each of the picture's destinationWidth columns.
void StretchColumns(int32_t width, int32_t destinationWidth, int32_t* columns);

// The frame row (row 0 at the bottom) shown in picture row y (from the top).
int32_t StretchSourceRow(int32_t y, int32_t height, int32_t destinationHeight);

// One picture row from the frame row `source` (width pixels):
// out[x] = (source[columns[x]] & keep) | setBits for x < destinationWidth,
// `columns` being StretchColumns' result. Pictures a whole number of times as
// wide as the frame are written pixel by pixel repeated, without the column
// table (the same row, a third of the time at twice the width).
void StretchRow(const uint32_t* source, int32_t width, const int32_t* columns, uint32_t* out,
                int32_t destinationWidth, uint32_t keep = 0xFFFFFFFFu, uint32_t setBits = 0);

// The whole stretch of a frame whose rows lie sourceStride (>= width) words
// apart into `destination`, whose rows lie `stride` words apart;
// `columns` holds destinationWidth words of scratch (StretchColumns' result).
// Pixels are copied with only the bits of `keep` (all: alpha included) and
// `setBits` or-ed in (an opaque alpha byte for compositors that read the X of
// XRGB as alpha, or the alpha bits of an X visual).
void StretchFrame(const uint32_t* pixels, int32_t width, int32_t height, size_t sourceStride,
                  uint32_t* destination, int32_t destinationWidth, int32_t destinationHeight,
                  size_t stride, int32_t* columns, uint32_t setBits = 0,
                  uint32_t keep = 0xFFFFFFFFu);
