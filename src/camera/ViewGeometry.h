#ifndef VELMORA_VIEWGEOMETRY_H
#define VELMORA_VIEWGEOMETRY_H

#include "math/Matrix3.h"
#include "math/Point2.h"
#include "math/Point3.h"

#include <vector>

// The geometry that relates the views: closest points of lines in space, and the 2D
// epipolar tangents and turntable lines drawn over a view.

/// The parameter s of the point p0 + s d0 of the first line that comes closest to the line
/// through p1 along d1. The directions need not be unit vectors. Parallel lines have no such
/// point: the result is then not finite, and callers must check it.
float cross(Point3 p0, Point3 d0, Point3 p1, Point3 d1);

/// The smallest angle (radians) between two of the rotations (of views), at most 2 pi / n
/// for n rotations: the views of a turntable are that far apart at most.
double smallestAngleBetween(const std::vector<Matrix3> &rotations);

/// Component-wise minimum and maximum of `count` points; (+inf, +inf) and (-inf, -inf) for
/// none.
void computeBoundingBox(const Point2 *points, int count, Point2 &min, Point2 &max);

/// The unit vector along the bisector of the angle a-p-b (each side normalised first when it
/// is not of length 0); the zero vector when the sides cancel out.
Point2 bisectrix(Point2 p, Point2 a, Point2 b);

/// The direction from p into the box [min, max]: the bisector of the two box corners that
/// bound the box as seen from p; the zero vector when p is inside the box.
Point2 computeRefLine(Point2 p, Point2 min, Point2 max);

/// computeOuterET, computeET: ET for epipolar tangents.
/// The indices of the two contour points on the outer tangents from the epipole e: the point
/// seen at the smallest and the one at the largest angle from the reference direction of
/// computeRefLine (the first index wins ties). {-1, -1} for an empty contour.
struct TangentPair {
    int first, second;
};
TangentPair computeOuterET(const Point2 *points, int count, Point2 e);

/// Every point of the closed contour where a line from e touches it: the points whose angle
/// seen from e is above or below those of both neighbours; in increasing order.
std::vector<int> computeET(const Point2 *points, int count, Point2 e);

/// Clips the image line l.x x + l.y y + l.z = 0 to [xRange.x, xRange.y] x [yRange.x,
/// yRange.y]: the crossings with y = yRange.x and y = yRange.y (x within the range, bounds
/// included), then with x = xRange.x and x = xRange.y, at most two, written to `out`.
/// Returns how many were found.
int line(Point3 l, Point2 xRange, Point2 yRange, Point2 *out);

#endif
