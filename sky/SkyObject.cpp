// SkyObject.cpp - construction and destruction of one object slot.
#include "sky/SkyObject.h"

#include "base/Scratch.h"

SkyObject::SkyObject()
    : imageBorrowed(0),
      kind(1),
      speed(0),
      turnRate(0),
      active(1),
      altitude(100),
      heading(0),
      climbRate(0),
      sliceLength(0),
      sliceCount(0),
      positionX(0),
      positionY(0),
      footprint(nullptr),
      image(nullptr) {}

SkyObject::~SkyObject() {
    if (imageBorrowed == 0) FreeArray(image);
    FreeArray(footprint);
}
