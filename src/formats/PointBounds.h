#ifndef VELMORA_POINTBOUNDS_H
#define VELMORA_POINTBOUNDS_H

#include <cstddef>
#include <limits>

/// Running bounds of x, y, z points and of one value a point, fed a slice at a time, so that
/// a reader can take them while the slice it has just read is still in the cache instead of
/// going over the whole array again. A NaN never becomes a bound: it leaves the bounds as
/// they were (as std::min and std::max with the bound first do).
struct PointBounds {
    float lo[3];  ///< +inf until a point with a number there is added
    float hi[3];  ///< -inf until then
    float valueLo = std::numeric_limits<float>::infinity();
    float valueHi = -std::numeric_limits<float>::infinity();
    size_t nUnordered = 0; ///< values that compare with nothing (NaN)

    PointBounds();
    /// Adds nFloats / 3 points of x, y, z; nFloats must be a multiple of 3.
    void addPoints(const float *xyz, size_t nFloats);
    /// Adds n values.
    void addValues(const float *values, size_t n);
};

#endif
