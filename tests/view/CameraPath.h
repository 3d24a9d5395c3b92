// CameraPath.h - a scripted camera for the renderer's golden frames, the
// threaded renderer's tests and a resized view: every frame the camera is
// set directly (position, heading, bank angle, horizon row, altitude), so
// that the frames test the renderer alone. (The frame loop's own steering,
// autopilot to camera, is tested with the frame loop.)
//
// The path flies fast (3.75 cells a frame) from near a map corner along a
// weaving heading, so it crosses both map edges within its first frames and
// again later; it banks both ways, mostly within 45 degrees as turns bank,
// and every seventh frame steeply (up to a full turn); the horizon row
// swings over the whole rotated frame; the altitude follows the ground at 15
// to 104 height units above it. Every frame the first ringsAhead rings are
// put 40 to 109 cells ahead of the camera, up to 12 cells to either side,
// heading across the view, about level with the camera, and Render then moves them one step and
// marks them, so that objects cross the land, the water and the sky.
#pragma once

#include <cstdint>

#include "base/Units.h"
#include "tests/view/RenderTestSupport.h"
#include "view/FlightView.h"

struct CameraPath {
    int32_t frame = 0;       // frames taken so far
    int32_t speed = 60;      // 64 x speed position units a frame
    int32_t ringsAhead = 3;  // rings put ahead of the camera every frame

    // Starts the camera near the map's far corner, heading diagonally toward it.
    void Start(FlightView& v) {
        frame = 0;
        v.positionX = v.xLimit - (5 << 10);
        v.positionY = v.yLimit - (3 << 10);
        v.heading = v.angleUnits * 7 / 8;  // toward +x and +y
    }

    // The camera of the next frame (the objects ahead included), ready for
    // Render.
    void Step(FlightView& v) {
        ++frame;
        const int32_t units = v.angleUnits;
        // Turns: a slow weave, and every 48 frames a sharp turn of 16 frames.
        const int32_t phase = frame % 48;
        const int32_t turn = phase < 16 ? 5 : (phase < 32 ? -4 : (frame % 96 < 48 ? 18 : -18));
        v.heading = WrapAngle(static_cast<int64_t>(v.heading) + turn, units);
        v.positionX = WrapCoordinate(
            v.positionX + ((static_cast<int64_t>(v.cosTable[v.heading]) * speed) >> 4), v.xLimit);
        v.positionY = WrapCoordinate(
            v.positionY + ((static_cast<int64_t>(v.sinTable[v.heading]) * speed) >> 4), v.yLimit);
        // Banked as the turn, with some wobble; every seventh frame steeply.
        const int32_t bank =
            frame % 7 == 0 ? (frame * 389) % units : turn * 12 + (frame * 131) % 61 - 30;
        v.SetBankAngle(bank);
        v.horizonRow = (frame * 53) % (v.diagonal + 40) - 20;
        const int32_t under =
            v.heightMap[(v.positionY >> 10) * v.heightMapWidth + (v.positionX >> 10)];
        v.altitude = under + 15 + (frame * 29) % 90;
        for (int32_t slot = 1; slot <= ringsAhead && slot < v.objects.slotCount; ++slot) {
            rendertest::PlaceObjectAhead(v, slot, 40 + (frame * 3 + slot * 13) % 70,
                                         (slot * 5 + frame) % 25 - 12,
                                         v.altitude - 25 + (slot * 11 + frame) % 30);
        }
    }
};
