#ifndef VELMORA_POINT4_H
#define VELMORA_POINT4_H

#include "math/Point3.h"

#include <cmath>

/// A 4D point or vector of floats; also an RGBA colour with components from 0 to 1.
class Point4 {
public:
    float x, y, z, w;

    Point4() : x(0), y(0), z(0), w(0) {}
    Point4(float px, float py, float pz, float pw) : x(px), y(py), z(pz), w(pw) {}
    Point4(const Point3 &p, float pw) : x(p.x), y(p.y), z(p.z), w(pw) {}
    explicit Point4(const float *v) : x(v[0]), y(v[1]), z(v[2]), w(v[3]) {}

    float &operator[](int i) { return (&x)[i]; }
    float operator[](int i) const { return (&x)[i]; }
    operator float *() { return &x; }
    operator const float *() const { return &x; }

    Point4 operator+(const Point4 &o) const { return Point4(x + o.x, y + o.y, z + o.z, w + o.w); }
    Point4 operator-(const Point4 &o) const { return Point4(x - o.x, y - o.y, z - o.z, w - o.w); }
    Point4 operator-() const { return Point4(-x, -y, -z, -w); }
    Point4 operator*(float s) const { return Point4(x * s, y * s, z * s, w * s); }
    Point4 operator/(float s) const { return Point4(x / s, y / s, z / s, w / s); }
    Point4 &operator+=(const Point4 &o) { x += o.x; y += o.y; z += o.z; w += o.w; return *this; }
    Point4 &operator-=(const Point4 &o) { x -= o.x; y -= o.y; z -= o.z; w -= o.w; return *this; }
    Point4 &operator*=(float s) { x *= s; y *= s; z *= s; w *= s; return *this; }
    Point4 &operator/=(float s) { x /= s; y /= s; z /= s; w /= s; return *this; }
    bool operator==(const Point4 &o) const { return x == o.x && y == o.y && z == o.z && w == o.w; }
    bool operator!=(const Point4 &o) const { return !(*this == o); }

    /// Dot product.
    float operator*(const Point4 &o) const { return x * o.x + y * o.y + z * o.z + w * o.w; }
    float dot(const Point4 &o) const { return *this * o; }
    float norm() const { return std::sqrt(x * x + y * y + z * z + w * w); }
    Point3 xyz() const { return Point3(x, y, z); }
};

inline Point4 operator*(float s, const Point4 &p) { return p * s; }

#endif
