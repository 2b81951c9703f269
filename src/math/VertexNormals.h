#ifndef VELMORA_VERTEXNORMALS_H
#define VELMORA_VERTEXNORMALS_H

#include "math/Parallel.h"
#include "math/Point3.h"

#include <algorithm>
#include <cstddef>

/// The unit normals of the vertices of a triangle mesh: each vertex sums the normals
/// (b - a) x (c - a) of its triangles unnormalised, so that larger triangles weigh more.
/// `triangles` holds 3 vertex indices a triangle, each below `vertexCount`; `corner(i)` gives
/// vertex i as a Point3. `out` receives `vertexCount` normals.
///
/// A large mesh is shared between the cores by its vertices: each core runs through every
/// triangle and sums only for the vertices of its range, in the triangles' order, so that
/// every sum, and so every normal, is the one a single core would make.
template <class Corner>
void vertexNormals(size_t vertexCount, const int *triangles, size_t triangleCount, Corner corner, Point3 *out)
{
    const unsigned parts = triangleCount < 262144 ? 1 : Parallel::cores();
    Parallel::split(vertexCount, parts, [&](unsigned, size_t from, size_t to) {
        std::fill(out + from, out + to, Point3(0, 0, 0));
        const size_t size = to - from;
        const int *t = triangles;
        for (size_t i = 0; i < triangleCount; ++i, t += 3) {
            // Unsigned differences: an index outside the range wraps round to a large one.
            const bool in[3] = {static_cast<size_t>(t[0]) - from < size, static_cast<size_t>(t[1]) - from < size,
                                static_cast<size_t>(t[2]) - from < size};
            if (!(in[0] || in[1] || in[2]))
                continue;
            const Point3 a = corner(t[0]), b = corner(t[1]), c = corner(t[2]);
            const Point3 n = (b - a).cross(c - a);
            for (int k = 0; k < 3; ++k)
                if (in[k])
                    out[t[k]] += n;
        }
        for (size_t i = from; i < to; ++i)
            out[i].normalize();
    });
}

#endif
