#include "math/Quaternion.h"

#include "math/Matrix3.h"

#include <algorithm>
#include <cmath>

namespace {

Quaternion fromUnitAxis(const Point3 &u, float angle)
{
    const float s = std::sin(angle / 2);
    return Quaternion(s * u.x, s * u.y, s * u.z, std::cos(angle / 2));
}

} // namespace

Quaternion::Quaternion(const Point3 &axis, float angle) : Quaternion()
{
    const float length = axis.norm();
    if (length > 0)
        *this = fromUnitAxis(axis / length, angle);
}

Quaternion::Quaternion(float angle, float theta, float phi)
    : Quaternion(fromUnitAxis(
          Point3(std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi), std::cos(theta)), angle))
{
}

Quaternion::Quaternion(const Point3 &s) : Quaternion(s.x, s.y, s.z) {}

Quaternion::Quaternion(const Point3 &a, const Point3 &b) : Quaternion()
{
    Point3 axis = a.cross(b);
    // acos(a . b) is the same angle for unit vectors, but near 0 and pi it loses half the
    // digits of the float.
    const float angle = std::atan2(axis.norm(), a * b);
    if (std::fabs(angle / 2) < 0.00001f)
        return;
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
    *this = fromUnitAxis(axis.normalized(), angle);
}

Quaternion::Quaternion(const Matrix3 &m)
{
    const float trace = m(0, 0) + m(1, 1) + m(2, 2);
    // The scalar formula divides by 4w and so magnifies the rounding of the matrix by 1/w:
    // near a half turn it gives a visibly wrong rotation. It serves only while w is the
    // largest component (trace not below any diagonal element, so w >= 1/2); otherwise the
    // largest vector component is the divisor.
    if (trace >= m(0, 0) && trace >= m(1, 1) && trace >= m(2, 2)) {
        const float s = 0.5f / std::sqrt(1 + trace);
        q[3] = 0.25f / s;
        q[0] = (m(2, 1) - m(1, 2)) * s;
        q[1] = (m(0, 2) - m(2, 0)) * s;
        q[2] = (m(1, 0) - m(0, 1)) * s;
        return;
    }
    // The pivot is the largest diagonal element; ties go to the later axis.
    int pivot;
    if (m(1, 1) < m(0, 0))
        pivot = m(2, 2) < m(0, 0) ? 0 : 2;
    else
        pivot = m(2, 2) < m(1, 1) ? 1 : 2;
    if (pivot == 0) {
        const float s = 2 * std::sqrt(1 + m(0, 0) - m(1, 1) - m(2, 2));
        q[0] = s / 4;
        q[1] = (m(1, 0) + m(0, 1)) / s;
        q[2] = (m(2, 0) + m(0, 2)) / s;
        q[3] = (m(2, 1) - m(1, 2)) / s;
    } else if (pivot == 1) {
        const float s = 2 * std::sqrt(1 + m(1, 1) - m(0, 0) - m(2, 2));
        q[0] = (m(1, 0) + m(0, 1)) / s;
        q[1] = s / 4;
        q[2] = (m(2, 1) + m(1, 2)) / s;
        q[3] = (m(0, 2) - m(2, 0)) / s;
    } else {
        const float s = 2 * std::sqrt(1 + m(2, 2) - m(0, 0) - m(1, 1));
        q[0] = (m(2, 0) + m(0, 2)) / s;
        q[1] = (m(2, 1) + m(1, 2)) / s;
        q[2] = s / 4;
        q[3] = (m(1, 0) - m(0, 1)) / s;
    }
    // Callers rely on the sign (the vector part serves as a turning axis): w stays positive
    // as long as it is clearly non-zero, and only right at the half turn does the pivot
    // component set the sign.
    if (1 + trace > 0.0001f && q[3] < 0)
        for (float &c : q)
            c = -c;
}

Point3 Quaternion::spherical() const
{
    const Point3 v = *this;
    const float n = v.norm();
    if (n < 1e-14f)
        return Point3(0, 0, 0);
    const float angle = 2 * std::atan2(n, q[3]);
    // z / n is the axis' z component; for a unit quaternion n is sin(angle / 2), and unlike
    // that sine it keeps the cosine within [-1, 1] when the norm is not exactly 1.
    const float theta = std::acos(std::clamp(v.z / n, -1.0f, 1.0f));
    return Point3(angle, theta, std::atan2(v.y, v.x));
}

void Quaternion::print(FILE *out) const
{
    fprintf(out, "[%f %f %f %f]\n", q[0], q[1], q[2], q[3]);
}
