#ifndef VELMORA_MATRIX4_H
#define VELMORA_MATRIX4_H

#include "math/Matrix3.h"
#include "math/Point3.h"

#include <cstdio>

/// A 4-by-4 matrix of floats in OpenGL's column-major order: element (row i, column j) is
/// stored at index 4*j + i. The floats can go straight to glLoadMatrixf or glMultMatrixf, and
/// the 16 floats read back with glGetFloatv form a valid Matrix4.
class Matrix4 {
public:
    static const Matrix4 Identity;
    /// diag(1, -1, -1, 1): turns the calibration camera frame (x right, y down, z forward)
    /// into the OpenGL eye frame and back.
    static const Matrix4 GLCS;
    static const Matrix4 Zero;

    /// The identity.
    constexpr Matrix4() : Matrix4(1, 1, 1, 1) {}
    /// Copies 16 floats in the order above.
    explicit Matrix4(const float *elements);
    /// The rigid transform [r | t] with bottom row (0, 0, 0, 1).
    Matrix4(const Matrix3 &r, const Point3 &t);
    /// The right-handed rotation by `angle` radians about `axis`, of any length. An axis not
    /// longer than 0.0001 has no usable direction and gives the identity.
    Matrix4(const Point3 &axis, float angle);

    float &operator()(int i, int j) { return m[4 * j + i]; }
    float operator()(int i, int j) const { return m[4 * j + i]; }
    operator float *() { return m; }
    operator const float *() const { return m; }

    /// Matrix product this * o: applied to a point, o acts first.
    Matrix4 operator*(const Matrix4 &o) const;
    /// Replaces this with this * o.
    Matrix4 &operator*=(const Matrix4 &o);
    Matrix4 operator+(const Matrix4 &o) const;
    /// Adds s to all 16 elements.
    Matrix4 operator+(float s) const;
    /// Scales all 16 elements.
    Matrix4 operator*(float s) const;
    /// Rows 0 to 2 times (x, y, z, 1), without perspective division.
    Point3 operator*(const Point3 &p) const;
    /// out = this * (in[0], in[1], in[2], 1), all four rows, without division.
    void product(float *out, const float *in) const;

    Matrix4 transpose() const;

    /// The upper-left 3-by-3 block.
    Matrix3 getSubMatrix() const;
    void setSubMatrix(const Matrix3 &r);
    /// Column 3, rows 0 to 2: the translation of a rigid transform.
    Point3 getSubVector() const;
    void setSubVector(const Point3 &t);

    /// Four lines "%f %f %f %f\n", one per row.
    void print(FILE *out = stdout) const;

private:
    constexpr Matrix4(float a, float b, float c, float d) : m{a, 0, 0, 0, 0, b, 0, 0, 0, 0, c, 0, 0, 0, 0, d}
    {
    }

    float m[16];
};

#endif
