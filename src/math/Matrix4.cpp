#include "math/Matrix4.h"

#include "math/SquareMatrix.h"

#include <cmath>

const Matrix4 Matrix4::Identity(1, 1, 1, 1);
const Matrix4 Matrix4::GLCS(1, -1, -1, 1);
const Matrix4 Matrix4::Zero(0, 0, 0, 0);

Matrix4::Matrix4(const float *elements)
{
    for (int k = 0; k < 16; k++)
        m[k] = elements[k];
}

Matrix4::Matrix4(const Matrix3 &r, const Point3 &t) : Matrix4()
{
    setSubMatrix(r);
    setSubVector(t);
}

Matrix4::Matrix4(const Point3 &axis, float angle) : Matrix4()
{
    const float length = axis.norm();
    if (!(length > 0.0001f))
        return;
    const Point3 u = axis / length;
    const float c = std::cos(angle), s = std::sin(angle), t = 1 - c;
    Matrix4 &a = *this;
    a(0, 0) = c + t * u.x * u.x;
    a(0, 1) = t * u.x * u.y - s * u.z;
    a(0, 2) = t * u.x * u.z + s * u.y;
    a(1, 0) = t * u.x * u.y + s * u.z;
    a(1, 1) = c + t * u.y * u.y;
    a(1, 2) = t * u.y * u.z - s * u.x;
    a(2, 0) = t * u.x * u.z - s * u.y;
    a(2, 1) = t * u.y * u.z + s * u.x;
    a(2, 2) = c + t * u.z * u.z;
}

Matrix4 Matrix4::operator*(const Matrix4 &o) const { return squarematrix::product<Matrix4, 4>(*this, o); }

Matrix4 &Matrix4::operator*=(const Matrix4 &o)
{
    return *this = *this * o;
}

Matrix4 Matrix4::operator+(const Matrix4 &o) const
{
    Matrix4 r;
    for (int k = 0; k < 16; k++)
        r.m[k] = m[k] + o.m[k];
    return r;
}

Matrix4 Matrix4::operator+(float s) const
{
    Matrix4 r;
    for (int k = 0; k < 16; k++)
        r.m[k] = m[k] + s;
    return r;
}

Matrix4 Matrix4::operator*(float s) const
{
    Matrix4 r;
    for (int k = 0; k < 16; k++)
        r.m[k] = m[k] * s;
    return r;
}

Point3 Matrix4::operator*(const Point3 &p) const
{
    float out[4];
    product(out, p);
    return Point3(out);
}

void Matrix4::product(float *out, const float *in) const
{
    for (int i = 0; i < 4; i++)
        out[i] = float(double((*this)(i, 0)) * in[0] + double((*this)(i, 1)) * in[1] +
                       double((*this)(i, 2)) * in[2] + (*this)(i, 3));
}

Matrix4 Matrix4::transpose() const
{
    return squarematrix::byElements<Matrix4, 4>([this](int i, int j) { return (*this)(j, i); });
}

Matrix3 Matrix4::getSubMatrix() const
{
    return squarematrix::byElements<Matrix3, 3>([this](int i, int j) { return (*this)(i, j); });
}

void Matrix4::setSubMatrix(const Matrix3 &r)
{
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++)
            (*this)(i, j) = r(i, j);
}

Point3 Matrix4::getSubVector() const
{
    return Point3((*this)(0, 3), (*this)(1, 3), (*this)(2, 3));
}

void Matrix4::setSubVector(const Point3 &t)
{
    for (int i = 0; i < 3; i++)
        (*this)(i, 3) = t[i];
}

void Matrix4::print(FILE *out) const
{
    for (int i = 0; i < 4; i++)
        fprintf(out, "%f %f %f %f\n", (*this)(i, 0), (*this)(i, 1), (*this)(i, 2), (*this)(i, 3));
}
