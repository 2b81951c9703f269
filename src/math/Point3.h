#ifndef VELMORA_POINT3_H
#define VELMORA_POINT3_H

#include <cmath>

class Matrix3;

/// A 3D point or vector of floats.
class Point3 {
public:
    float x, y, z;

    Point3() : x(0), y(0), z(0) {}
    Point3(float px, float py, float pz) : x(px), y(py), z(pz) {}
    explicit Point3(const float *v) : x(v[0]), y(v[1]), z(v[2]) {}

    float &operator[](int i) { return (&x)[i]; }
    float operator[](int i) const { return (&x)[i]; }
    operator float *() { return &x; }
    operator const float *() const { return &x; }

    Point3 operator+(const Point3 &o) const { return Point3(x + o.x, y + o.y, z + o.z); }
    Point3 operator-(const Point3 &o) const { return Point3(x - o.x, y - o.y, z - o.z); }
    Point3 operator-() const { return Point3(-x, -y, -z); }
    Point3 operator*(float s) const { return Point3(x * s, y * s, z * s); }
    Point3 operator/(float s) const { return Point3(x / s, y / s, z / s); }
    Point3 &operator+=(const Point3 &o) { x += o.x; y += o.y; z += o.z; return *this; }
    Point3 &operator-=(const Point3 &o) { x -= o.x; y -= o.y; z -= o.z; return *this; }
    Point3 &operator*=(float s) { x *= s; y *= s; z *= s; return *this; }
    Point3 &operator/=(float s) { x /= s; y /= s; z /= s; return *this; }
    bool operator==(const Point3 &o) const { return x == o.x && y == o.y && z == o.z; }
    bool operator!=(const Point3 &o) const { return !(*this == o); }

    /// Dot product.
    float operator*(const Point3 &o) const { return x * o.x + y * o.y + z * o.z; }
    float dot(const Point3 &o) const { return x * o.x + y * o.y + z * o.z; }
    /// Cross product (not to be confused with operator^, the outer product).
    Point3 cross(const Point3 &o) const
    {
        return Point3(y * o.z - z * o.y, z * o.x - x * o.z, x * o.y - y * o.x);
    }
    /// Outer product: the matrix whose element (i, j) is this[i] * o[j].
    Matrix3 operator^(const Point3 &o) const;

    float norm() const { return std::sqrt(x * x + y * y + z * z); }
    float norm2() const { return x * x + y * y + z * z; }
    /// Scales to unit length; a zero vector stays zero.
    Point3 &normalize()
    {
        const float n = norm();
        if (n > 0)
            *this /= n;
        return *this;
    }
    Point3 normalized() const { Point3 p(*this); return p.normalize(); }
};

inline Point3 operator*(float s, const Point3 &p) { return p * s; }

#endif
