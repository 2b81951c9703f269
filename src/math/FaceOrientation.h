#ifndef VELMORA_FACEORIENTATION_H
#define VELMORA_FACEORIENTATION_H

#include <cstddef>
#include <vector>

/// Turning the triangles of a mesh so that neighbours agree: two triangles that share an edge
/// run along it in opposite directions, as the faces of one oriented surface do.
namespace FaceOrientation {

/// Turns triangles of `triangles` (3 vertex indices each, `nTriangles` of them, fewer than
/// 2^32 / 3, indices below `nVertices`; a triangle with an index outside is left alone) so
/// that every connected piece is consistently oriented; each piece keeps the orientation most
/// of its triangles had.
/// Where more than two triangles share an edge, or a piece cannot be oriented (a Moebius
/// strip), the first orientation reached wins. Returns, per triangle, whether it was turned
/// (its second and third corners swapped).
std::vector<bool> orient(int *triangles, size_t nTriangles, size_t nVertices);

} // namespace FaceOrientation

#endif
