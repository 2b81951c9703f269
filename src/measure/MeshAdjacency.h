#ifndef VELMORA_MESHADJACENCY_H
#define VELMORA_MESHADJACENCY_H

#include "measure/Objet_data.h"

#include <cstddef>
#include <cstdint>
#include <vector>

/// What the path builders need to know about a mesh's connectivity, built once per mesh
/// and kept until its geometry changes:
/// - the vertex adjacency in compressed rows: the distinct neighbours of vertex v along
///   triangle edges are neighbour(e) for e in rowBegin(v) .. rowEnd(v) - 1, in ascending
///   order, each with the length of its edge as a float;
/// - the triangles around each vertex in compressed rows, in ascending triangle order,
///   which answer "the triangles holding edge a-b" by a look at a's few triangles.
///
/// Building it checks every triangle index against the vertex count and raises a
/// `std::runtime_error` naming the first one outside it.
class MeshAdjacency {
public:
    explicit MeshAdjacency(const Objet_data &mesh);

    int nVertices() const { return vertexCount; }
    int nTriangles() const { return triangleCount; }
    const Point3 *vertices() const { return points; }
    const int *triangles() const { return corners; }

    size_t rowBegin(int v) const { return neighbourStart[static_cast<size_t>(v)]; }
    size_t rowEnd(int v) const { return neighbourStart[static_cast<size_t>(v) + 1]; }
    int neighbour(size_t e) const { return neighbourList[e]; }
    float length(size_t e) const { return edgeLength[e]; }
    /// Raw rows, for searches that walk them in a tight loop.
    const size_t *neighbourRows() const { return neighbourStart.data(); }
    const int *neighbours() const { return neighbourList.data(); }
    const float *lengths() const { return edgeLength.data(); }

    /// Triangles containing vertex v, ascending: fanBegin(v)[0 .. fanSize(v) - 1].
    const int *fanBegin(int v) const { return triangleList.data() + triangleStart[static_cast<size_t>(v)]; }
    int fanSize(int v) const
    {
        return static_cast<int>(triangleStart[static_cast<size_t>(v) + 1] - triangleStart[static_cast<size_t>(v)]);
    }
    /// The first triangle (in triangle order) other than `except` that has both a and b
    /// among its corners; -1 when there is none (a border edge).
    int otherTriangle(int a, int b, int except) const;
    /// Whether triangle t has vertex v among its corners.
    bool hasCorner(int t, int v) const
    {
        const int *c = corners + 3 * static_cast<size_t>(t);
        return c[0] == v || c[1] == v || c[2] == v;
    }

private:
    int vertexCount;
    int triangleCount;
    const Point3 *points;
    const int *corners;
    std::vector<size_t> neighbourStart;
    std::vector<int> neighbourList;
    std::vector<float> edgeLength;
    std::vector<size_t> triangleStart;
    std::vector<int> triangleList;
};

#endif
