#ifndef VELMORA_TRIANGLEBVH_H
#define VELMORA_TRIANGLEBVH_H

#include <atomic>
#include <cstddef>
#include <functional>
#include <vector>

/// A bounding-volume hierarchy over the triangles of a mesh, for the nearest point of the
/// surface to many points. Boxes are split at the median of the triangle centres along the
/// longest side, down to leaves of at most four triangles; the two halves of the top levels
/// are built on threads of their own. Distances are computed in double precision, the same
/// way for every triangle, so a query finds exactly the distance a search over every triangle
/// finds.
class TriangleBVH {
public:
    /// `vertices`: 3 floats a vertex; `triangles`: 3 vertex indices a triangle, each below
    /// `vertexCount` (the caller checks them). `threads` 0: as many as the machine has. The
    /// arrays are copied: they need not outlive the hierarchy.
    TriangleBVH(const float *vertices, size_t vertexCount, const int *triangles, size_t triangleCount,
                unsigned threads = 0);

    struct Nearest {
        double distance = 0;  ///< from the query point to `point`
        double point[3] = {0, 0, 0};
        int triangle = -1;    ///< the index of the triangle in the mesh
        /// Where on the triangle `point` lies: 0 inside, 1 to 3 on the edge that starts at
        /// corner 0 to 2 (edge k joins corners k-1 and k mod 3), 4 to 6 at corner 0 to 2.
        int feature = 0;
        /// The triangle's place in the hierarchy: hand it to the next query of a point
        /// nearby as its `hint`.
        int slot = -1;
    };

    /// The nearest point of the surface to `p` within `maxDistance` (no limit when it is
    /// infinite); false when there is none so near, or no triangle at all. `hint`, the slot
    /// of a triangle likely to be near (that of the previous point of a coherent list), only
    /// makes the search faster: the answer is the same.
    bool nearest(const double p[3], double maxDistance, Nearest &out, int hint = -1) const;

    size_t triangleCount() const { return order.size(); }
    size_t nodeCount() const { return nodes.size(); }

    /// The nearest point of the triangle (a, b, c) to p, with its feature as in Nearest: the
    /// one computation both the hierarchy and a search over every triangle use.
    static double closestOnTriangle(const double p[3], const float *a, const float *b, const float *c,
                                    double q[3], int &feature);

private:
    struct Node {
        float lo[3], hi[3];
        int a, b; ///< interior: children a and b; leaf: first triangle a (in `order`), -b triangles
    };
    int build(std::vector<Node> &out, size_t begin, size_t end, int spawnDepth);

    std::vector<Node> nodes;
    std::vector<int> order;       ///< mesh triangle index of each triangle in leaf order
    std::vector<float> corners;   ///< 9 floats a triangle, in leaf order
    std::vector<float> centres;   ///< 3 floats a mesh triangle, while building
    std::vector<float> boxes;     ///< 6 floats a mesh triangle, while building
    int root = -1;
};

/// Runs body(begin, end) over [0, count) in chunks of a few thousand points, taken in turn
/// by `threads` threads (0: one a core); no chunk is taken once *stop turns true.
void forEachPointChunk(size_t count, unsigned threads, const std::atomic<bool> *stop,
                       const std::function<void(size_t, size_t)> &body);

/// For each of `count` points (3 floats each) the distance to the nearest point of the
/// surface, on `threads` workers (0: as many as the machine has). Points farther than
/// `maxDistance` get NaN.
void surfaceDistances(const TriangleBVH &bvh, const float *points, size_t count, double maxDistance,
                      std::vector<float> &distances, unsigned threads = 0);

#endif
