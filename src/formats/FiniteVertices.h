#ifndef VELMORA_FINITEVERTICES_H
#define VELMORA_FINITEVERTICES_H

#include <cstddef>

struct MeshData;
struct PointListData;

/// Takes out of what a reader produced the vertices (or points) with a coordinate that is not
/// a finite number, with everything that belongs to them: their normals, colours, texture
/// coordinates and values, and the triangles that use one. One such vertex would make the
/// bounding box, and with it the whole scene's framing, NaN. What remains keeps its order;
/// triangle indices follow. Value ranges are recomputed.
namespace FiniteVertices {

struct Dropped {
    size_t vertices = 0;  ///< taken out
    size_t triangles = 0; ///< taken out with them
    size_t kept = 0;      ///< vertices left
};

Dropped drop(MeshData &mesh);
Dropped drop(PointListData &cloud);

/// The same for a simplex mesh (MeshData::triangles holding three neighbours a vertex),
/// whose vertices cannot go, since their neighbours name them: each vertex that is not
/// finite takes the mean of its finite neighbours, the gaps closing from their edges inward.
/// `vertices` counts those moved; `kept` is 0 when no vertex is finite (nothing is moved).
Dropped settle(MeshData &simplex);

} // namespace FiniteVertices

#endif
