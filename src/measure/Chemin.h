#ifndef VELMORA_CHEMIN_H
#define VELMORA_CHEMIN_H

#include "math/Point3.h"

#include <vector>

/// Chemin: French for "path".
/// A polyline on a mesh: the path between two picked vertices, with its length along the
/// way (geodesic) and the straight distance of its ends (Euclidean).
///
/// Room grows 256 points at a time; `maxSize()` tells a builder that the path has grown
/// beyond 20000 points of room, where the walks stop.
class Chemin {
public:
    Chemin();

    void add(const Point3 &p);
    /// Point i, 0 <= i < size(); any other index gives the origin.
    Point3 get(int i) const;
    int size() const { return static_cast<int>(points.size()); }
    const Point3 *data() const { return points.data(); }
    /// True once the room exceeds 20000 points (when the 19969th point is added).
    bool maxSize() const { return capacity > 20000; }

    /// Sum of the segment lengths; 0 below 2 points.
    float geodesicDistance() const;
    /// Distance between the first and the last point; 0 for an empty path.
    float euclideanDistance() const;

    /// False for the two ends of parts of a mesh that no edge joins: the path is then only
    /// its ends, and has no length along the surface.
    bool isConnected() const { return connected; }
    void setConnected(bool c) { connected = c; }

private:
    bool connected = true;
    int capacity;
    std::vector<Point3> points;
};

#endif
