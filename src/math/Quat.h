#ifndef VELMORA_QUAT_H
#define VELMORA_QUAT_H

#include "math/Matrix3.h"

#include <cstdio>

/// A quaternion stored scalar first: w, then the vector part x, y, z. Carries the
/// interpolation of rotations (logarithm, exponential, slerp, squad); rotations are unit
/// quaternions, and q and q.op() stand for the same rotation.
class Quat {
public:
    float w, x, y, z;

    /// All four components 0, which is not a rotation.
    Quat() : w(0), x(0), y(0), z(0) {}
    Quat(float pw, float px, float py, float pz) : w(pw), x(px), y(py), z(pz) {}
    /// The rotation of a rotation matrix, with w >= 0.
    explicit Quat(const Matrix3 &m);

    /// The rotation by `angle` radians about `axis`, of any non-zero length. A zero axis has
    /// no direction and gives the identity (1, 0, 0, 0).
    static Quat aboutAxis(const Point3 &axis, float angle);
    /// The rotation by `angle` about the unit axis with polar angle theta (from +z) and
    /// azimuth phi (from +x towards +y).
    static Quat aboutSphericalAxis(float angle, float theta, float phi);
    /// The shortest rotation that takes the unit direction a to the unit direction b. For
    /// opposite directions every axis perpendicular to a will do; one is picked.
    static Quat between(const Point3 &a, const Point3 &b);
    /// The rotation of a rotation matrix as Quaternion(const Matrix3 &) has always computed
    /// it, which is not Quat(const Matrix3 &): near a half turn ties between diagonal
    /// elements go to the later axis, and w is made positive only while 1 + trace > 0.0001
    /// (w above 0.005, against 0.00001 there). The sign serves as a turning axis and is
    /// printed, so the two stay apart.
    static Quat fromMatrixLaterPivot(const Matrix3 &m);

    /// qtom: quaternion to matrix.
    /// (1 - 2|v|^2) I + 2 v v^T + 2 w [v]x for v = (x, y, z): the rotation matrix of a unit
    /// quaternion.
    Matrix3 qtom() const;
    /// The same matrix written out element by element, 1 - 2(y^2 + z^2), 2(xy - zw), ...: the
    /// rounding differs from qtom() in the last bits, and the cameras built from
    /// Quaternion have always had this one.
    Matrix3 matrixByElements() const;
    /// (angle, theta, phi) such that aboutSphericalAxis(angle, theta, phi) is this rotation;
    /// the identity gives (0, 0, 0).
    Point3 spherical() const;

    /// Hamilton product: the rotation o followed by this one.
    Quat operator*(const Quat &o) const;
    Quat operator*(float s) const { return Quat(w * s, x * s, y * s, z * s); }
    Quat operator/(float s) const { return Quat(w / s, x / s, y / s, z / s); }
    Quat &operator*=(float s) { return *this = *this * s; }
    Quat &operator/=(float s) { return *this = *this / s; }
    Quat operator+(const Quat &o) const { return Quat(w + o.w, x + o.x, y + o.y, z + o.z); }

    Quat conjugate() const { return Quat(w, -x, -y, -z); }
    /// All four components negated: the same rotation.
    Quat op() const { return Quat(-w, -x, -y, -z); }
    float norm() const;
    /// The conjugate over the norm: the inverse of a unit quaternion, the only kind it is
    /// meant for.
    Quat inv() const { return conjugate() / norm(); }

    float dot(const Quat &o) const { return w * o.w + x * o.x + y * o.y + z * o.z; }
    /// acos of the dot product.
    float angle(const Quat &o) const;
    /// The angle folded into [0, pi/2], blind to the sign of either quaternion.
    float angleWrapped(const Quat &o) const;

    /// Logarithm of a unit quaternion: (0, theta * v / |v|) with w = cos(theta).
    Quat ln() const;
    /// Exponential of a pure quaternion: (cos |v|, sin |v| * v / |v|).
    Quat exp() const;
    /// exp(t * ln(this)).
    Quat power(float t) const;

    /// Spherical linear interpolation from q1 (t = 0) to q2 (t = 1) along the shorter arc,
    /// normalised.
    static Quat slerp(const Quat &q1, const Quat &q2, float t);
    /// Spherical spline from the key p (t = 0) to the key q (t = 1) with the inner control
    /// points a and b (see innerQuadPoint).
    static Quat squad(const Quat &p, const Quat &a, const Quat &b, const Quat &q, float t);
    /// The inner control point at the key q1 between its neighbours q0 and q2, normalised.
    static Quat innerQuadPoint(const Quat &q0, const Quat &q1, const Quat &q2);

    /// "%f %f %f %f\n" with w, x, y, z.
    void print(FILE *out = stdout) const;
};

#endif
