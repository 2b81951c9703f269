#ifndef VELMORA_QUATERNION_H
#define VELMORA_QUATERNION_H

#include "math/Point3.h"

#include <cstdio>

class Matrix3;

/// A rotation quaternion stored vector part first: x, y, z, then the scalar w. Used to build
/// rotations from axes, angles and pairs of directions; the interpolation machinery lives in
/// Quat, which stores the scalar first. Turn one into a matrix with Matrix3(const Quaternion &).
class Quaternion {
public:
    /// The identity rotation (0, 0, 0, 1).
    Quaternion() : q{0, 0, 0, 1} {}
    Quaternion(float x, float y, float z, float w) : q{x, y, z, w} {}
    /// The rotation by `angle` radians about `axis`, of any non-zero length. A zero axis
    /// has no direction and gives the identity.
    Quaternion(const Point3 &axis, float angle);
    /// The rotation by `angle` about the unit axis with polar angle theta (from +z) and
    /// azimuth phi (from +x towards +y).
    Quaternion(float angle, float theta, float phi);
    /// The same with s = (angle, theta, phi).
    explicit Quaternion(const Point3 &s);
    /// The shortest rotation that takes the unit direction a to the unit direction b. For
    /// opposite directions every axis perpendicular to a will do; one is picked.
    Quaternion(const Point3 &a, const Point3 &b);
    /// The rotation of a rotation matrix.
    explicit Quaternion(const Matrix3 &m);

    /// Components in the order x, y, z, w.
    float operator()(int i) const { return q[i]; }
    float &operator[](int i) { return q[i]; }
    /// The vector part.
    operator Point3() const { return Point3(q[0], q[1], q[2]); }

    /// (angle, theta, phi) such that Quaternion(angle, theta, phi) is this rotation; the
    /// identity gives (0, 0, 0).
    Point3 spherical() const;

    /// "[%f %f %f %f]\n" with x, y, z, w.
    void print(FILE *out = stdout) const;

private:
    float q[4];
};

#endif
