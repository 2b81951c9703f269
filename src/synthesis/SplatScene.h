#ifndef VELMORA_SPLATSCENE_H
#define VELMORA_SPLATSCENE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

/// A Gaussian splat scene as its producer meant it, activations applied: plain arrays, one
/// entry per splat, no OpenGL.
///
/// The spherical-harmonic terms beyond the constant one take most of the memory (45 of the 59
/// numbers of a degree-3 splat) and only tint the colour by view; they are kept as IEEE half
/// floats, the rest as floats.
struct SplatScene {
    size_t count = 0;
    int shDegree = 0;             ///< 0..3
    std::vector<float> position;  ///< x y z per splat
    std::vector<float> opacity;   ///< in (0, 1)
    std::vector<float> scale;     ///< three positive scales per splat (world units)
    std::vector<float> rotation;  ///< unit quaternion w x y z per splat
    std::vector<float> dc;        ///< the constant SH coefficient of red, green, blue
    /// The other SH coefficients, (shCoefficients() - 1) * 3 halves per splat, coefficient by
    /// coefficient with its red, green and blue side by side (the file stores them channel by
    /// channel: this order lets the colour of one splat read one short run).
    std::vector<uint16_t> rest;
    size_t skipped = 0;           ///< splats of the file left out (zero rotation, non-finite, huge)
    /// Trained with the 2D mip filter (the file says so): drawn with its opacity compensation.
    bool antialiased = false;

    /// Coefficients per channel: 1, 4, 9 or 16.
    int shCoefficients() const { return (shDegree + 1) * (shDegree + 1); }
    size_t restPerSplat() const { return static_cast<size_t>(shCoefficients() - 1) * 3; }
    /// Bytes held by the arrays.
    size_t bytes() const;
    /// Room for `n` splats of degree `degree` (zeroed).
    void resize(size_t n, int degree);
};

/// IEEE 754 binary16 conversions (round to nearest even; overflow gives infinity).
uint16_t floatToHalf(float f);
float halfToFloat(uint16_t h);
/// halfToFloat of `n` halves at once (a splat's colour reads up to 45).
void halvesToFloats(const uint16_t *h, size_t n, float *out);

#endif
