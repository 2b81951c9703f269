#ifndef VELMORA_VIEWGEOMETRY_H
#define VELMORA_VIEWGEOMETRY_H

#include "math/Point3.h"

/// The parameter s of the point p0 + s d0 of the first line that comes closest to the line
/// through p1 along d1. The directions need not be unit vectors. Parallel lines have no such
/// point: the result is then not finite, and callers must check it.
float cross(Point3 p0, Point3 d0, Point3 p1, Point3 d1);

#endif
