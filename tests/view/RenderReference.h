// RenderReference.h - the landscape renderer written out plainly, one ray
// sample and one pixel at a time, as the reference that the production
// renderer (view/Render*.cpp) must match bit for bit.
//
// It follows the renderer's rules literally: a banked column ray marcher
// whose pixel walk tests every position against the picture, paints the
// segment between the previous and the new highest projection, fills the
// gap pixel after a diagonal move, mirrors the sky in water and paints the
// object spans found along the ray. Quantities that can leave 32 bits on
// very wide frames, long view distances or out-of-range heights (ray steps,
// step products, the depth accumulator, the projections) are computed in
// 64 bits, exactly as the production renderer does.
//
// Used by the comparison tests (tests/view/Render*Test.cpp) and the
// benchmark (bench/RenderBench.cpp).
#pragma once

class FlightView;

// Draws the frame for the current camera and the current object marks,
// without moving the objects. Does nothing without the tables.
void RenderReferenceScene(FlightView& view);

// A whole Render: MoveObjects, then RenderReferenceScene. Does nothing when
// the view cannot render.
void RenderReference(FlightView& view);
