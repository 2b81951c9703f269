#include "camera/ViewGeometry.h"

float cross(Point3 p0, Point3 d0, Point3 p1, Point3 d1)
{
    // m lies in the plane of the two directions, perpendicular to d1: moving along the first
    // line changes the distance to the second only through the component along m.
    const Point3 m = d1.cross(d1.cross(d0));
    return ((p1 - p0) * m) / (d0 * m);
}
