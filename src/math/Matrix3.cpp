#include "math/Matrix3.h"

#include "math/Quaternion.h"
#include "math/SquareMatrix.h"

#include <cmath>

const Matrix3 Matrix3::Identity(1, 1, 1, 1);
const Matrix3 Matrix3::Zero(0, 0, 0, 0);
const Matrix3 Matrix3::GLCS(1, -1, -1, 1);

Matrix3::Matrix3(const Point3 &a, const Point3 &b, const Point3 &c) : Matrix3()
{
    for (int i = 0; i < 3; i++) {
        (*this)(i, 0) = a[i];
        (*this)(i, 1) = b[i];
        (*this)(i, 2) = c[i];
    }
}

Matrix3::Matrix3(const Point3 &v) : Matrix3(0, 0, 0, 1)
{
    Matrix3 &a = *this;
    a(0, 1) = -v.z;
    a(0, 2) = v.y;
    a(1, 0) = v.z;
    a(1, 2) = -v.x;
    a(2, 0) = -v.y;
    a(2, 1) = v.x;
}

Matrix3::Matrix3(const Point3 &a, const Point3 &b) : Matrix3()
{
    for (int j = 0; j < 3; j++)
        for (int i = 0; i < 3; i++)
            (*this)(i, j) = a[i] * b[j];
}

Matrix3::Matrix3(const Quaternion &q) : Matrix3(q.quat().matrixByElements()) {}

Matrix3 Point3::operator^(const Point3 &o) const
{
    return Matrix3(*this, o);
}

Matrix3 Matrix3::operator*(const Matrix3 &o) const { return squarematrix::product<Matrix3, 3>(*this, o); }

Point3 Matrix3::operator*(const Point3 &p) const
{
    Point3 r;
    for (int i = 0; i < 3; i++)
        r[i] = float(double((*this)(i, 0)) * p.x + double((*this)(i, 1)) * p.y + double((*this)(i, 2)) * p.z);
    return r;
}

Point3 Matrix3::operator*(const Point2 &p) const
{
    return *this * Point3(p.x, p.y, 1);
}

Matrix3 Matrix3::operator+(const Matrix3 &o) const
{
    return Matrix3(*this) += o;
}
Matrix3 Matrix3::operator-(const Matrix3 &o) const
{
    return Matrix3(*this) -= o;
}
Matrix3 Matrix3::operator+(float s) const
{
    return Matrix3(*this) += s;
}
Matrix3 Matrix3::operator-(float s) const
{
    return Matrix3(*this) -= s;
}
Matrix3 Matrix3::operator*(float s) const
{
    return Matrix3(*this) *= s;
}

Matrix3 &Matrix3::operator+=(const Matrix3 &o)
{
    for (int j = 0; j < 3; j++)
        for (int i = 0; i < 3; i++)
            (*this)(i, j) += o(i, j);
    return *this;
}

Matrix3 &Matrix3::operator-=(const Matrix3 &o)
{
    for (int j = 0; j < 3; j++)
        for (int i = 0; i < 3; i++)
            (*this)(i, j) -= o(i, j);
    return *this;
}

Matrix3 &Matrix3::operator+=(float s)
{
    for (int j = 0; j < 3; j++)
        for (int i = 0; i < 3; i++)
            (*this)(i, j) += s;
    return *this;
}

Matrix3 &Matrix3::operator-=(float s)
{
    return *this += -s;
}

Matrix3 &Matrix3::operator*=(const Matrix3 &o)
{
    return *this = *this * o;
}

Matrix3 &Matrix3::operator*=(float s)
{
    for (int j = 0; j < 3; j++)
        for (int i = 0; i < 3; i++)
            (*this)(i, j) *= s;
    return *this;
}

Matrix3 &Matrix3::operator/=(float s)
{
    for (int j = 0; j < 3; j++)
        for (int i = 0; i < 3; i++)
            (*this)(i, j) /= s;
    return *this;
}

Matrix3 Matrix3::transpose() const
{
    Matrix3 r(*this);
    for (int j = 0; j < 3; j++)
        for (int i = 0; i < 3; i++)
            r(i, j) = (*this)(j, i);
    return r;
}

float Matrix3::determinant() const
{
    const Matrix3 &a = *this;
    return a(0, 0) * (a(1, 1) * a(2, 2) - a(1, 2) * a(2, 1)) -
           a(0, 1) * (a(1, 0) * a(2, 2) - a(1, 2) * a(2, 0)) +
           a(0, 2) * (a(1, 0) * a(2, 1) - a(1, 1) * a(2, 0));
}

Matrix3 Matrix3::inverse() const
{
    const Matrix3 &a = *this;
    Matrix3 adj;
    // adj(i, j) is the cofactor of element (j, i).
    adj(0, 0) = a(1, 1) * a(2, 2) - a(1, 2) * a(2, 1);
    adj(0, 1) = a(0, 2) * a(2, 1) - a(0, 1) * a(2, 2);
    adj(0, 2) = a(0, 1) * a(1, 2) - a(0, 2) * a(1, 1);
    adj(1, 0) = a(1, 2) * a(2, 0) - a(1, 0) * a(2, 2);
    adj(1, 1) = a(0, 0) * a(2, 2) - a(0, 2) * a(2, 0);
    adj(1, 2) = a(0, 2) * a(1, 0) - a(0, 0) * a(1, 2);
    adj(2, 0) = a(1, 0) * a(2, 1) - a(1, 1) * a(2, 0);
    adj(2, 1) = a(0, 1) * a(2, 0) - a(0, 0) * a(2, 1);
    adj(2, 2) = a(0, 0) * a(1, 1) - a(0, 1) * a(1, 0);
    const float det = a(0, 0) * adj(0, 0) + a(0, 1) * adj(1, 0) + a(0, 2) * adj(2, 0);
    return adj /= det;
}

Matrix3 Matrix3::diagonal(const Point3 &d)
{
    Matrix3 r = Zero;
    r(0, 0) = d.x;
    r(1, 1) = d.y;
    r(2, 2) = d.z;
    return r;
}

Matrix3 Matrix3::PYR2Matrix3(float pitch, float yaw, float roll)
{
    const float cp = std::cos(pitch), sp = std::sin(pitch);
    const float cy = std::cos(yaw), sy = std::sin(yaw);
    const float cr = std::cos(roll), sr = std::sin(roll);
    Matrix3 r;
    r(0, 0) = cy * cr;
    r(0, 1) = -cy * sr;
    r(0, 2) = -sy;
    r(1, 0) = cp * sr - sp * sy * cr;
    r(1, 1) = sp * sy * sr + cp * cr;
    r(1, 2) = -sp * cy;
    r(2, 0) = cp * sy * cr + sp * sr;
    r(2, 1) = sp * cr - cp * sy * sr;
    r(2, 2) = cp * cy;
    return r;
}

Matrix3 Matrix3::Euler2Matrix3(const Point3 &e)
{
    const float ca = std::cos(e.x), sa = std::sin(e.x);
    const float cb = std::cos(e.y), sb = std::sin(e.y);
    const float cg = std::cos(e.z), sg = std::sin(e.z);
    Matrix3 r;
    r(0, 0) = cb * cg;
    r(0, 1) = sa * sb * cg - ca * sg;
    r(0, 2) = ca * sb * cg + sa * sg;
    r(1, 0) = cb * sg;
    r(1, 1) = sa * sb * sg + ca * cg;
    r(1, 2) = ca * sb * sg - sa * cg;
    r(2, 0) = -sb;
    r(2, 1) = sa * cb;
    r(2, 2) = ca * cb;
    return r;
}

Point3 Matrix3::Euler() const
{
    const Matrix3 &a = *this;
    const float s = std::sqrt(a(0, 0) * a(0, 0) + a(1, 0) * a(1, 0));
    // Below 2^-19 cos(beta) is lost in the rounding of the other elements.
    if (s > 1.9073486e-6f)
        return Point3(std::atan2(a(2, 1), a(2, 2)), std::atan2(-a(2, 0), s), std::atan2(a(1, 0), a(0, 0)));
    return Point3(std::atan2(-a(1, 2), a(1, 1)), std::atan2(-a(2, 0), s), 0);
}

void Matrix3::print(FILE *out) const
{
    for (int i = 0; i < 3; i++)
        fprintf(out, "%f %f %f\n", (*this)(i, 0), (*this)(i, 1), (*this)(i, 2));
}
