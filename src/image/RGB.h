#ifndef VELMORA_RGB_H
#define VELMORA_RGB_H

#include <cmath>

/// A colour of three components in the order red, green, blue, with nothing between them:
/// an array of RGB<unsigned char> is a packed 3-bytes-a-pixel raster. RGB<float> holds a
/// colour on the same 0..255 scale, for sampling and colour distances.
template <class T> struct RGB {
    T r, g, b;

    constexpr RGB() : r(0), g(0), b(0) {}
    constexpr RGB(T red, T green, T blue) : r(red), g(green), b(blue) {}

    constexpr bool operator==(const RGB &o) const { return r == o.r && g == o.g && b == o.b; }
    constexpr bool operator!=(const RGB &o) const { return !(*this == o); }
};

static_assert(sizeof(RGB<unsigned char>) == 3, "pixels must pack into 3 bytes");
static_assert(sizeof(RGB<float>) == 3 * sizeof(float), "colours must pack into 3 floats");

/// Euclidean distance of two colours.
inline float dist(const RGB<float> &a, const RGB<float> &b)
{
    const float dr = a.r - b.r, dg = a.g - b.g, db = a.b - b.b;
    return std::sqrt(dr * dr + dg * dg + db * db);
}

/// Component-wise absolute value.
inline RGB<float> abs(const RGB<float> &c)
{
    return RGB<float>(std::fabs(c.r), std::fabs(c.g), std::fabs(c.b));
}

#endif
