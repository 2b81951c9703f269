#ifndef VELMORA_SURFACEPATH_H
#define VELMORA_SURFACEPATH_H

#include "measure/Chemin.h"
#include "measure/MeshAdjacency.h"
#include "measure/Objet_data.h"

#include <memory>
#include <vector>

// Paths between two vertices of a triangle mesh. Vertex indices must lie in
// 0 .. nVertices - 1 (callers check them); the forms that take an Objet_data build the
// mesh's adjacency for the one call, the MeshAdjacency forms reuse one built before.

/// The shortest path along mesh edges from `from` to `to` (Dijkstra over Euclidean edge
/// lengths summed as floats; of two vertices at equal distance the lower index is finished
/// first). `vertexPath` receives the vertices from `to` back to `from`. Returns false, with
/// `vertexPath` = {to, from}, when `to` cannot be reached along edges.
bool shortestEdgePath(const MeshAdjacency &mesh, int from, int to, std::vector<int> &vertexPath);

/// chemin_aretes: French for "path along the edges".
/// The edge path as a polyline from `to`'s position back to `from`'s. An unreachable `to`
/// gives the two-point path to, from; `reached`, when given, tells which it was.
std::unique_ptr<Chemin> chemin_aretes(const MeshAdjacency &mesh, int from, int to, bool *reached = nullptr);
std::unique_ptr<Chemin> chemin_aretes(const Objet_data &mesh, int from, int to);

/// chemin_plan: French for "path in a plane".
/// The section of the mesh by the plane through vertices `from`, `to` and `viewpoint`
/// (object coordinates): from `from` across the triangles the plane cuts, towards `to`.
/// Null, after a message on standard output, when the plane is undefined (the three points
/// on one line), when no triangle around `from` is cut by it, when the walk reaches the
/// border of the mesh, or when it comes back to its start ("loop!!"). A walk that outgrows
/// the path's room (Chemin::maxSize) returns the points gathered so far, without `to`.
std::unique_ptr<Chemin> chemin_plan(const MeshAdjacency &mesh, int from, int to, const Point3 &viewpoint);
std::unique_ptr<Chemin> chemin_plan(const Objet_data &mesh, int from, int to, const Point3 &viewpoint);
/// The plane through `from` and `to` turned by `angle` degrees about the line through them;
/// at 0 it holds the object's origin.
std::unique_ptr<Chemin> chemin_plan(const MeshAdjacency &mesh, int from, int to, int angle);
std::unique_ptr<Chemin> chemin_plan(const Objet_data &mesh, int from, int to, int angle);
/// The third point of the plane for an angle: -A + R(-A), R the turn by angle x 3.1415 / 180
/// about the unit axis (A - B) / |A - B|.
Point3 planePointForAngle(const Point3 &a, const Point3 &b, int angle);

/// The side of a signed distance: 1 below zero, -1 otherwise (zero counts as -1).
int signe(float s);

#endif
