#ifndef VELMORA_POINT2_H
#define VELMORA_POINT2_H

#include <cmath>

/// A 2D point or vector of floats.
class Point2 {
public:
    float x, y;

    Point2() : x(0), y(0) {}
    Point2(float px, float py) : x(px), y(py) {}

    float &operator[](int i) { return (&x)[i]; }
    float operator[](int i) const { return (&x)[i]; }

    Point2 operator+(const Point2 &o) const { return Point2(x + o.x, y + o.y); }
    Point2 operator-(const Point2 &o) const { return Point2(x - o.x, y - o.y); }
    Point2 operator-() const { return Point2(-x, -y); }
    Point2 operator*(float s) const { return Point2(x * s, y * s); }
    Point2 operator/(float s) const { return Point2(x / s, y / s); }
    Point2 &operator+=(const Point2 &o) { x += o.x; y += o.y; return *this; }
    Point2 &operator-=(const Point2 &o) { x -= o.x; y -= o.y; return *this; }
    Point2 &operator*=(float s) { x *= s; y *= s; return *this; }
    Point2 &operator/=(float s) { x /= s; y /= s; return *this; }
    bool operator==(const Point2 &o) const { return x == o.x && y == o.y; }
    bool operator!=(const Point2 &o) const { return !(*this == o); }

    /// Dot product.
    float operator*(const Point2 &o) const { return x * o.x + y * o.y; }
    float dot(const Point2 &o) const { return x * o.x + y * o.y; }
    float norm() const { return std::sqrt(x * x + y * y); }
};

inline Point2 operator*(float s, const Point2 &p) { return p * s; }

#endif
