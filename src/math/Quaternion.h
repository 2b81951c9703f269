#ifndef VELMORA_QUATERNION_H
#define VELMORA_QUATERNION_H

#include "math/Point3.h"
#include "math/Quat.h"

#include <cstdio>

class Matrix3;

/// A rotation quaternion read and written vector part first: x, y, z, then the scalar w. Used
/// to build rotations from axes, angles and pairs of directions. It is a view in that order
/// of a Quat (scalar first), which does all the work; Quat carries the interpolation too.
/// Turn one into a matrix with Matrix3(const Quaternion &).
class Quaternion {
public:
    /// The identity rotation (0, 0, 0, 1).
    Quaternion() : value(1, 0, 0, 0) {}
    Quaternion(float x, float y, float z, float w) : value(w, x, y, z) {}
    explicit Quaternion(const Quat &q) : value(q) {}
    /// The rotation by `angle` radians about `axis`, of any non-zero length. A zero axis
    /// has no direction and gives the identity.
    Quaternion(const Point3 &axis, float angle) : value(Quat::aboutAxis(axis, angle)) {}
    /// The rotation by `angle` about the unit axis with polar angle theta (from +z) and
    /// azimuth phi (from +x towards +y).
    Quaternion(float angle, float theta, float phi) : value(Quat::aboutSphericalAxis(angle, theta, phi)) {}
    /// The same with s = (angle, theta, phi).
    explicit Quaternion(const Point3 &s) : Quaternion(s.x, s.y, s.z) {}
    /// The shortest rotation that takes the unit direction a to the unit direction b. For
    /// opposite directions every axis perpendicular to a will do; one is picked.
    Quaternion(const Point3 &a, const Point3 &b) : value(Quat::between(a, b)) {}
    /// The rotation of a rotation matrix (Quat::fromMatrixLaterPivot, not Quat(m)).
    explicit Quaternion(const Matrix3 &m) : value(Quat::fromMatrixLaterPivot(m)) {}

    /// Components in the order x, y, z, w.
    float operator()(int i) const { return i == 0 ? value.x : i == 1 ? value.y : i == 2 ? value.z : value.w; }
    float &operator[](int i) { return i == 0 ? value.x : i == 1 ? value.y : i == 2 ? value.z : value.w; }
    /// The vector part.
    operator Point3() const { return Point3(value.x, value.y, value.z); }
    /// The same rotation scalar first.
    const Quat &quat() const { return value; }

    /// (angle, theta, phi) such that Quaternion(angle, theta, phi) is this rotation; the
    /// identity gives (0, 0, 0).
    Point3 spherical() const { return value.spherical(); }

    /// "[%f %f %f %f]\n" with x, y, z, w.
    void print(FILE *out = stdout) const;

private:
    Quat value;
};

#endif
