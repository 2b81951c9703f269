#ifndef VELMORA_SURFACEDISTANCE_H
#define VELMORA_SURFACEDISTANCE_H

#include "math/TriangleBVH.h"

#include <atomic>
#include <cstddef>
#include <vector>

/// Distances from points to the surface of a triangle mesh, signed by the side of the surface
/// when the mesh's triangles are consistently oriented (every edge shared by two triangles is
/// run through in opposite directions by them): positive on the side the normals point to.
/// At an edge or a corner the side is taken from the pseudo-normal there (the sum of the two
/// faces' normals, the angle-weighted sum of the faces' normals at the corner), which gives
/// the right side for every point near a closed surface. A mesh with two triangles running an
/// edge the same way gives unsigned distances.
class SurfaceDistance {
public:
    /// `vertices`: 3 floats a vertex, `triangles`: 3 indices a triangle, each below
    /// `vertexCount` (the caller checks them). The hierarchy is built on `threads` workers
    /// (0: every core). The arrays are copied.
    SurfaceDistance(const float *vertices, size_t vertexCount, const int *triangles, size_t triangleCount,
                    unsigned threads = 0);

    bool isSigned() const { return oriented; }
    size_t triangleCount() const { return bvh.triangleCount(); }

    /// The distance of `p` (signed when isSigned()), false when the surface is farther than
    /// `maxDistance`. `hint` as for TriangleBVH::nearest; it is updated.
    bool distance(const double p[3], double maxDistance, double &d, int &hint) const;

    /// The distances of `count` points (3 floats each) on `threads` workers (0: every
    /// core), NaN for a point farther than `maxDistance`. `done`, when given, counts the
    /// points measured so far; a raised `stop` ends the work early: then false, and the
    /// distances not measured are NaN.
    bool distances(const float *points, size_t count, double maxDistance, std::vector<float> &out,
                   unsigned threads = 0, std::atomic<size_t> *done = nullptr,
                   const std::atomic<bool> *stop = nullptr) const;

private:
    double sideOf(const double p[3], const TriangleBVH::Nearest &n) const;

    TriangleBVH bvh;
    std::vector<int> corners;        ///< the mesh's triangles
    std::vector<double> faceNormals; ///< 3 a triangle, unit (zero when degenerate)
    std::vector<double> vertexNormals; ///< 3 a vertex, angle-weighted sums of face normals
    /// Directed edges (from << 32 | to) in increasing order, with the triangle of each.
    std::vector<std::pair<unsigned long long, int>> edges;
    bool oriented = false;
};

/// What a list of distances says in one line: over the finite ones, the mean, median (the
/// middle one, or the mean of the middle two), RMS, 95th percentile (nearest rank) and
/// maximum of their magnitudes, the mean of the signed values,
/// and how many were NaN (beyond the maximum distance).
struct DistanceFigures {
    size_t measured = 0;
    size_t beyond = 0;
    double mean = 0, median = 0, rms = 0, p95 = 0, maximum = 0, signedMean = 0;
};
DistanceFigures summarizeDistances(const std::vector<float> &distances);

/// `bins` counts of the finite distances between `lo` and `hi` (values outside go to the
/// end bins).
std::vector<size_t> distanceHistogram(const std::vector<float> &distances, int bins, double lo, double hi);

#endif
