#ifndef VELMORA_OBJET_DATA_H
#define VELMORA_OBJET_DATA_H

#include "math/Point3.h"

/// Objet_data: French for "object data".
/// The read-only view of a triangle mesh handed to the path builders: pointers to the
/// mesh's own counts and arrays, which must outlive the view. It owns nothing.
/// `triangles` holds three vertex indices a triangle, each in 0 .. *nVertices - 1.
struct Objet_data {
    Objet_data(const int *vertexCount, const Point3 *points, const int *triangleCount, const int *indices)
        : nVertices(vertexCount), vertices(points), nTriangles(triangleCount), triangles(indices)
    {
    }

    const int *nVertices;
    const Point3 *vertices;
    const int *nTriangles;
    const int *triangles;
};

static_assert(sizeof(Point3) == 3 * sizeof(float), "a mesh's float triples are read as Point3");

#endif
