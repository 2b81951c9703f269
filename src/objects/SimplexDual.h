#ifndef VELMORA_SIMPLEXDUAL_H
#define VELMORA_SIMPLEXDUAL_H

#include "math/Point3.h"

#include <vector>

/// The dual surface of a simplex mesh (see GLSMeshObject), built from the records its
/// readers give, without OpenGL: every simplex vertex becomes a triangle whose corners are
/// the centres of the three faces that meet at it.
///
/// `neighbours` holds the three neighbours of vertex i at 3i .. 3i + 2, one triple a vertex;
/// a structure that is not a closed simplex mesh is refused with an error naming `path`.
struct SimplexDual {
    /// 3 per simplex vertex: the dual vertex (face) of each of its corners.
    std::vector<int> cornerFace;
    /// The face centres.
    std::vector<Point3> dualVertices;

    /// The corner links: for corner 3i + k, the next corner of the same face.
    static std::vector<int> links(const int *neighbours, int nTriangles, int nVertices, const char *path);
    /// The faces from the corner links; `vertices` holds 3 floats a simplex vertex.
    static SimplexDual faces(const int *next, const float *vertices, int nTriangles, const char *path);
};

#endif
