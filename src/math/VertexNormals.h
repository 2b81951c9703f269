#ifndef VELMORA_VERTEXNORMALS_H
#define VELMORA_VERTEXNORMALS_H

#include "math/Point3.h"

#include <algorithm>
#include <cstddef>

/// The unit normals of the vertices of a triangle mesh: each vertex sums the normals
/// (b - a) x (c - a) of its triangles unnormalised, so that larger triangles weigh more.
/// `triangles` holds 3 vertex indices a triangle, each below `vertexCount`; `corner(i)` gives
/// vertex i as a Point3. `out` receives `vertexCount` normals.
template <class Corner>
void vertexNormals(size_t vertexCount, const int *triangles, size_t triangleCount, Corner corner, Point3 *out)
{
    std::fill(out, out + vertexCount, Point3(0, 0, 0));
    for (size_t i = 0; i < triangleCount; ++i, triangles += 3) {
        const Point3 a = corner(triangles[0]), b = corner(triangles[1]), c = corner(triangles[2]);
        const Point3 n = (b - a).cross(c - a);
        out[triangles[0]] += n;
        out[triangles[1]] += n;
        out[triangles[2]] += n;
    }
    for (size_t i = 0; i < vertexCount; ++i)
        out[i].normalize();
}

#endif
