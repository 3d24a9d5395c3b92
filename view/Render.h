// Render.h - the landscape renderer's entry below FlightView::Render.
//
// FlightView::Render moves the objects (MoveObjects) and then draws the
// frame with RenderLandscape. Tests call RenderLandscape directly to draw
// the same object state twice (once here, once with the plain reference
// renderer) and compare the frames.
//
// Units: positions in 1/1024 cell, angles in angle units, heights in height
// units, pixel positions of the walk in 1/1024 pixel (see FlightView.h).
#pragma once

class FlightView;

// Draws one frame for the view's camera and current object marks: land,
// water mirroring the sky, objects and sky. Writes only the frame's pixels.
// Does nothing when the tables or the maps are missing; a missing sky
// paints black, a view without objects (or without an object cell map)
// draws none.
void RenderLandscape(FlightView& view);
