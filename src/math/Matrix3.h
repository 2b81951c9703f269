#ifndef VELMORA_MATRIX3_H
#define VELMORA_MATRIX3_H

#include "math/Point2.h"
#include "math/Point3.h"

#include <cstdio>

class Quaternion;

/// A 3-by-3 matrix of floats kept in the column-major 4-by-4 layout of OpenGL: element
/// (row i, column j) is stored at index 4*j + i, i and j from 0 to 2.
///
/// The fourth row and column are padding and never part of the value: every operation reads
/// and writes the 3-by-3 block only. Matrices built by the constructors carry the padding of
/// the identity (zeros and a corner of 1), `Zero` and `diagonal()` a corner of 0.
class Matrix3 {
public:
    static const Matrix3 Identity;
    static const Matrix3 Zero;
    /// diag(1, -1, -1): turns the calibration camera frame (x right, y down, z forward) into
    /// the OpenGL eye frame (x right, y up, looking along -z) and back; it is its own inverse.
    static const Matrix3 GLCS;

    /// The identity.
    constexpr Matrix3() : Matrix3(1, 1, 1, 1) {}
    /// The matrix with columns a, b and c.
    Matrix3(const Point3 &a, const Point3 &b, const Point3 &c);
    /// The cross-product matrix of v: Matrix3(v) * w == v.cross(w).
    explicit Matrix3(const Point3 &v);
    /// The outer product a * b^T, the same as a ^ b.
    Matrix3(const Point3 &a, const Point3 &b);
    /// The rotation of a unit quaternion.
    explicit Matrix3(const Quaternion &q);

    float &operator()(int i, int j) { return m[4 * j + i]; }
    float operator()(int i, int j) const { return m[4 * j + i]; }
    /// The 16 floats of the layout above.
    operator float *() { return m; }
    operator const float *() const { return m; }

    /// Matrix product this * o.
    Matrix3 operator*(const Matrix3 &o) const;
    Point3 operator*(const Point3 &p) const;
    /// The point as the homogeneous column (x, y, 1); the result is not divided by its z.
    Point3 operator*(const Point2 &p) const;

    Matrix3 operator+(const Matrix3 &o) const;
    Matrix3 operator-(const Matrix3 &o) const;
    Matrix3 operator+(float s) const;
    Matrix3 operator-(float s) const;
    Matrix3 operator*(float s) const;
    Matrix3 &operator+=(const Matrix3 &o);
    Matrix3 &operator-=(const Matrix3 &o);
    Matrix3 &operator+=(float s);
    Matrix3 &operator-=(float s);
    /// Replaces this with this * o.
    Matrix3 &operator*=(const Matrix3 &o);
    Matrix3 &operator*=(float s);
    Matrix3 &operator/=(float s);

    Matrix3 transpose() const;
    float determinant() const;
    /// Adjugate over determinant. A singular matrix is not detected: its inverse has
    /// non-finite elements.
    Matrix3 inverse() const;
    /// The zero matrix with d on its diagonal.
    static Matrix3 diagonal(const Point3 &d);

    /// Rx(pitch) * Ry(-yaw) * Rz(roll); yaw turns the other way round than the y axis.
    static Matrix3 PYR2Matrix3(float pitch, float yaw, float roll);
    /// Rz(e.z) * Ry(e.y) * Rx(e.x), the right-handed rotations about the axes.
    static Matrix3 Euler2Matrix3(const Point3 &e);
    /// The angles (x, y, z) that Euler2Matrix3 turns into this rotation. At y = +-90 degrees
    /// the x and z turns are about the same axis: z comes back 0 and x carries both.
    Point3 Euler() const;

    /// Three lines "%f %f %f\n", one per row.
    void print(FILE *out = stdout) const;

private:
    // Diagonal (a, b, c) with the given corner; constexpr so that the class constants are
    // fixed before any other file's start-up code can read them.
    constexpr Matrix3(float a, float b, float c, float corner)
        : m{a, 0, 0, 0, 0, b, 0, 0, 0, 0, c, 0, 0, 0, 0, corner}
    {
    }

    float m[16];
};

inline Matrix3 operator*(float s, const Matrix3 &a)
{
    return a * s;
}

#endif
