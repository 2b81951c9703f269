#include "math/Quat.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr float kPi = 3.14159265358979f;

Quat fromUnitAxis(const Point3 &u, float angle)
{
    const float s = std::sin(angle / 2);
    return Quat(std::cos(angle / 2), s * u.x, s * u.y, s * u.z);
}
} // namespace

Quat::Quat(const Matrix3 &m)
{
    const float d[3] = {m(0, 0), m(1, 1), m(2, 2)};
    const float trace = d[0] + d[1] + d[2];
    // The scalar formula divides by 4w, which magnifies the rounding of the matrix by 1/w:
    // close to a half turn about a skew axis it returns a quaternion of almost no length.
    // It serves only while w is the largest component (trace not below any diagonal
    // element, so w >= 1/2); otherwise the largest vector component is the divisor.
    if (trace >= d[0] && trace >= d[1] && trace >= d[2]) {
        w = 0.5f * std::sqrt(std::fabs(1 + trace));
        const float f = 0.25f / w;
        x = (m(2, 1) - m(1, 2)) * f;
        y = (m(0, 2) - m(2, 0)) * f;
        z = (m(1, 0) - m(0, 1)) * f;
        return;
    }
    // Ties keep the lower index.
    int i = 0;
    if (d[1] > d[i])
        i = 1;
    if (d[2] > d[i])
        i = 2;
    const int j = (i + 1) % 3, k = (j + 1) % 3;
    const float r = std::sqrt(d[i] - d[j] - d[k] + 1);
    const float f = 0.5f / r;
    float v[3];
    v[i] = r / 2;
    v[j] = f * (m(j, i) + m(i, j));
    v[k] = f * (m(k, i) + m(i, k));
    w = f * (m(k, j) - m(j, k));
    x = v[0];
    y = v[1];
    z = v[2];
    // w stays positive as long as it is clearly non-zero, so that nearby matrices give
    // nearby quaternions; only right at the half turn does the pivot component set the sign.
    if (0.5f * std::sqrt(std::fabs(1 + trace)) > 0.00001f && w < 0)
        *this = op();
}

Quat Quat::aboutAxis(const Point3 &axis, float angle)
{
    const float length = axis.norm();
    if (length > 0)
        return fromUnitAxis(axis / length, angle);
    return Quat(1, 0, 0, 0);
}

Quat Quat::aboutSphericalAxis(float angle, float theta, float phi)
{
    return fromUnitAxis(
        Point3(std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi), std::cos(theta)), angle);
}

Quat Quat::between(const Point3 &a, const Point3 &b)
{
    Point3 axis = a.cross(b);
    // acos(a . b) is the same angle for unit vectors, but near 0 and pi it loses half the
    // digits of the float.
    const float angle = std::atan2(axis.norm(), a * b);
    if (std::fabs(angle / 2) < 0.00001f)
        return Quat(1, 0, 0, 0);
    if (axis.norm() <= 1e-6f * std::sqrt(a.norm2() * b.norm2())) {
        // Opposite directions leave no axis, only rounding noise. Any axis perpendicular to
        // a turns a onto b: take a's cross product with the coordinate axis it is least
        // aligned with.
        const Point3 c(std::fabs(a.x), std::fabs(a.y), std::fabs(a.z));
        const Point3 e = c.x <= c.y && c.x <= c.z ? Point3(1, 0, 0)
                         : c.y <= c.z             ? Point3(0, 1, 0)
                                                  : Point3(0, 0, 1);
        axis = a.cross(e);
    }
    return fromUnitAxis(axis.normalized(), angle);
}

Quat Quat::fromMatrixLaterPivot(const Matrix3 &m)
{
    Quat r;
    const float trace = m(0, 0) + m(1, 1) + m(2, 2);
    // The scalar formula divides by 4w and so magnifies the rounding of the matrix by 1/w:
    // near a half turn it gives a visibly wrong rotation. It serves only while w is the
    // largest component (trace not below any diagonal element, so w >= 1/2); otherwise the
    // largest vector component is the divisor.
    if (trace >= m(0, 0) && trace >= m(1, 1) && trace >= m(2, 2)) {
        const float s = 0.5f / std::sqrt(1 + trace);
        r.w = 0.25f / s;
        r.x = (m(2, 1) - m(1, 2)) * s;
        r.y = (m(0, 2) - m(2, 0)) * s;
        r.z = (m(1, 0) - m(0, 1)) * s;
        return r;
    }
    // The pivot is the largest diagonal element; ties go to the later axis.
    int pivot;
    if (m(1, 1) < m(0, 0))
        pivot = m(2, 2) < m(0, 0) ? 0 : 2;
    else
        pivot = m(2, 2) < m(1, 1) ? 1 : 2;
    if (pivot == 0) {
        const float s = 2 * std::sqrt(1 + m(0, 0) - m(1, 1) - m(2, 2));
        r.x = s / 4;
        r.y = (m(1, 0) + m(0, 1)) / s;
        r.z = (m(2, 0) + m(0, 2)) / s;
        r.w = (m(2, 1) - m(1, 2)) / s;
    } else if (pivot == 1) {
        const float s = 2 * std::sqrt(1 + m(1, 1) - m(0, 0) - m(2, 2));
        r.x = (m(1, 0) + m(0, 1)) / s;
        r.y = s / 4;
        r.z = (m(2, 1) + m(1, 2)) / s;
        r.w = (m(0, 2) - m(2, 0)) / s;
    } else {
        const float s = 2 * std::sqrt(1 + m(2, 2) - m(0, 0) - m(1, 1));
        r.x = (m(2, 0) + m(0, 2)) / s;
        r.y = (m(2, 1) + m(1, 2)) / s;
        r.z = s / 4;
        r.w = (m(1, 0) - m(0, 1)) / s;
    }
    // Callers rely on the sign (the vector part serves as a turning axis): w stays positive
    // as long as it is clearly non-zero, and only right at the half turn does the pivot
    // component set the sign.
    if (1 + trace > 0.0001f && r.w < 0)
        r = r.op();
    return r;
}

Matrix3 Quat::matrixByElements() const
{
    Matrix3 a;
    a(0, 0) = 1 - 2 * (y * y + z * z);
    a(0, 1) = 2 * (x * y - z * w);
    a(0, 2) = 2 * (x * z + y * w);
    a(1, 0) = 2 * (x * y + z * w);
    a(1, 1) = 1 - 2 * (x * x + z * z);
    a(1, 2) = 2 * (y * z - x * w);
    a(2, 0) = 2 * (x * z - y * w);
    a(2, 1) = 2 * (y * z + x * w);
    a(2, 2) = 1 - 2 * (x * x + y * y);
    return a;
}

Point3 Quat::spherical() const
{
    const Point3 v(x, y, z);
    const float n = v.norm();
    if (n < 1e-14f)
        return Point3(0, 0, 0);
    const float angle = 2 * std::atan2(n, w);
    // z / n is the axis' z component; for a unit quaternion n is sin(angle / 2), and unlike
    // that sine it keeps the cosine within [-1, 1] when the norm is not exactly 1.
    const float theta = std::acos(std::clamp(v.z / n, -1.0f, 1.0f));
    return Point3(angle, theta, std::atan2(v.y, v.x));
}

Matrix3 Quat::qtom() const
{
    const Point3 v(x, y, z);
    return Matrix3::Identity * (1 - 2 * v.norm2()) + (v ^ v) * 2 + Matrix3(v) * (2 * w);
}

Quat Quat::operator*(const Quat &o) const
{
    return Quat(w * o.w - x * o.x - y * o.y - z * o.z, w * o.x + x * o.w + y * o.z - z * o.y,
                w * o.y - x * o.z + y * o.w + z * o.x, w * o.z + x * o.y - y * o.x + z * o.w);
}

float Quat::norm() const
{
    return std::sqrt(dot(*this));
}

// Unit quaternions can have a dot product a rounding step beyond 1; acos would give NaN.
float Quat::angle(const Quat &o) const
{
    return std::acos(std::clamp(dot(o), -1.0f, 1.0f));
}

float Quat::angleWrapped(const Quat &o) const
{
    const float a = angle(o);
    return a > kPi / 2 ? kPi - a : a;
}

Quat Quat::ln() const
{
    // For a unit quaternion n = sin(theta) and atan2 gives acos(w), without the loss of
    // digits that acos and sin(acos) suffer near w = +-1.
    const float n = std::sqrt(x * x + y * y + z * z);
    const float theta = std::atan2(n, w);
    if (n > 0.00001f) {
        const float f = theta / n;
        return Quat(0, x * f, y * f, z * f);
    }
    return Quat(0, x, y, z);
}

Quat Quat::exp() const
{
    const float theta = std::sqrt(x * x + y * y + z * z);
    const float s = std::sin(theta);
    if (std::fabs(s) > 0.00001f) {
        const float f = s / theta;
        return Quat(std::cos(theta), x * f, y * f, z * f);
    }
    return Quat(std::cos(theta), x, y, z);
}

Quat Quat::power(float t) const
{
    return (ln() * t).exp();
}

Quat Quat::slerp(const Quat &q1, const Quat &q2, float t)
{
    // Of q2 and -q2 (the same rotation) the one nearer to q1 gives the shorter arc.
    const Quat start = q1.dot(q2) >= 0 ? q1.inv() : q1.inv() * -1;
    const Quat r = q1 * (start * q2).power(t);
    return r / r.norm();
}

Quat Quat::squad(const Quat &p, const Quat &a, const Quat &b, const Quat &q, float t)
{
    // The outer blend keeps the cover it is given: the two curves it blends can drift more
    // than a quarter turn apart on wide segments, and choosing the shorter arc there would
    // switch covers half way and make the rotation jump.
    const Quat from = slerp(p, q, t);
    const Quat to = slerp(a, b, t);
    const Quat r = from * (from.inv() * to).power(2 * t * (1 - t));
    return r / r.norm();
}

Quat Quat::innerQuadPoint(const Quat &q0, const Quat &q1, const Quat &q2)
{
    const float s0 = q0.dot(q1) < 0 ? -1 : 1;
    const float s2 = q2.dot(q1) < 0 ? -1 : 1;
    const Quat a = ((q1.inv() * s2) * q2).ln();
    const Quat b = ((q1.inv() * s0) * q0).ln();
    const Quat r = q1 * ((a + b) / -4).exp();
    return r / r.norm();
}

void Quat::print(FILE *out) const
{
    fprintf(out, "%f %f %f %f\n", w, x, y, z);
}
