#ifndef VELMORA_SCENEMEASURE_H
#define VELMORA_SCENEMEASURE_H

#include "math/NonCopyable.h"
#include "math/Similarity.h"

#include <string>
#include <vector>

class SceneAccess;

/// A point the measure tool picked, in double precision.
struct MeasuredPoint {
    Vec3d scene{};        ///< in the scene, as drawn: the object's pose applied
    Vec3d file{};         ///< in the file of the object it lies on (a georeferenced cloud's own coordinates)
    long long point = -1; ///< a cloud point's index in its file; -1 for a point of a surface
};

/// The measure tool of the main view: while it is on, a left click picks the point under the
/// pointer on any surface or cloud (a cloud's own point within a few pixels, else the surface
/// drawn there); two points give their distance, a third the angle at the second, and the
/// next click starts again. Distances are those of the scene, which are the file's units
/// until "Set scale..." changes them; the points' coordinates are those of their files, in
/// double precision, so a georeferenced cloud of millions of metres keeps its millimetres.
///
/// What was measured is drawn over the view (markers, segments and their lengths) with its
/// figures in the information text in the upper left corner, and is printed as it is measured.
class SceneMeasure : NonCopyable {
public:
    explicit SceneMeasure(SceneAccess &scene) : m(scene) {}

    /// Turning the tool off keeps the points until the next measurement.
    void setOn(bool on) { measuring = on; }
    bool isOn() const { return measuring; }

    /// A click at the window pixel (x, y), y downwards: draws the frame to find what lies
    /// there and adds the point it finds. False, changing nothing, when nothing is there.
    bool pick(int x, int y);
    /// Adds a point: the fourth starts a new measurement.
    void add(const MeasuredPoint &p);
    void clear() { points.clear(); }
    const std::vector<MeasuredPoint> &getPoints() const { return points; }

    /// |B - A| in the scene; NaN with fewer than two points.
    double distance() const;
    /// The angle A-B-C at B in degrees; NaN with fewer than three points (or one of them on B).
    double angle() const;
    /// The information text: the points in file coordinates, the distances and the angle.
    std::string text() const;

    /// The similarity (a scale about point A) that makes the measured distance A-B `length`.
    /// False, with the reason in `why`, without two distinct points or for a length that is
    /// not a positive number.
    bool scaling(double length, Similarity &out, std::string &why) const;
    /// The scene was moved by `moved`: the points move with it (their file coordinates stay).
    void moved(const Similarity &moved);

    /// The markers, the segments and their lengths, and the text, over a frame of
    /// width x height pixels seen through the current camera.
    void draw(int width, int height) const;

private:
    /// The point of a cloud within a few pixels of (x, y) nearest to the eye, when no surface
    /// drawn there is nearer (`surfaceEye`: its distance from the eye, infinite for none).
    bool cloudPoint(int x, int y, double surfaceEye, MeasuredPoint &out) const;
    /// The surface drawn at (x, y) (or the nearest pixel within a few that shows something),
    /// read from the depth buffer of a frame drawn for it.
    bool surfacePoint(int x, int y, MeasuredPoint &out, double &eyeDistance);
    /// Fills `p.file` and `p.object` from `p.scene`: the object whose box holds it.
    void locate(MeasuredPoint &p) const;

    SceneAccess &m;
    bool measuring = false;
    std::vector<MeasuredPoint> points;
};

#endif
