#ifndef VELMORA_MESHREDUCTION_H
#define VELMORA_MESHREDUCTION_H

#include "math/Point3.h"

#include <atomic>
#include <cstddef>
#include <vector>

/// A coarse stand-in of a triangle mesh, drawn while the user turns a large scene.
struct ReducedMesh {
    std::vector<float> vertices;  ///< 3 per vertex: the mean of the vertices it stands for
    std::vector<Point3> normals;  ///< one per vertex, the unit mean of their normals
    std::vector<int> sources;     ///< one original vertex per vertex, whose colour it shows
    std::vector<int> triangles;   ///< 3 per triangle, in the orientation of the originals

    int nVertices() const { return static_cast<int>(sources.size()); }
    int nTriangles() const { return static_cast<int>(triangles.size() / 3); }
};

/// Simplifies a mesh by vertex clustering: the vertices falling into one cell of a regular
/// grid over the box become one vertex, triangles whose corners fall into fewer than three
/// cells vanish and repeated triangles are kept once. The grid is coarsened until at most
/// about `targetTriangles` triangles remain. `normals` may be null (the reduced normals are
/// then zero). Returns false when `cancel` became true on the way or the mesh is empty;
/// `out` is then empty. Reads its input only, so that it can run beside the drawing.
bool reduceMesh(const float *vertices, int nVertices, const int *triangles, int nTriangles, const Point3 *normals,
                size_t targetTriangles, const std::atomic<bool> *cancel, ReducedMesh &out);

#endif
