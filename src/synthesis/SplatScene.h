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
/// numbers of a degree-3 splat) and only tint the colour by view; they are kept in 8 bits each,
/// on a scale of the splat's own (its largest term is +-127 steps), the rest as floats: 56
/// bytes a splat of degree 0, 105 of degree 3.
struct SplatScene {
    size_t count = 0;
    int shDegree = 0;             ///< 0..3
    std::vector<float> position;  ///< x y z per splat
    std::vector<float> opacity;   ///< in (0, 1)
    std::vector<float> scale;     ///< three positive scales per splat (world units)
    std::vector<float> rotation;  ///< unit quaternion w x y z per splat
    std::vector<float> dc;        ///< the constant SH coefficient of red, green, blue
    /// The other SH coefficients, restPerSplat() steps per splat, coefficient by coefficient
    /// with its red, green and blue side by side (the file stores them channel by channel:
    /// this order lets the colour of one splat read one short run). Term k of splat i is
    /// rest[restPerSplat() i + k] restStep[i]; set them through setRest.
    std::vector<int8_t> rest;
    std::vector<float> restStep;  ///< one a splat; empty at degree 0
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
    /// Keeps the first `n` splats (n <= count).
    void truncate(size_t n);

    /// Stores the restPerSplat() terms `v` (the record's order) of splat i, in steps of its
    /// largest magnitude over 127. A value that is not finite stores as a step that is not:
    /// SplatFilter leaves such a splat out. Storing values read back by restOf gives the
    /// same steps again.
    void setRest(size_t i, const float *v);
    /// The first `n` terms of splat i (n <= restPerSplat()).
    void restOf(size_t i, float *out, size_t n) const;
    void restOf(size_t i, float *out) const { restOf(i, out, restPerSplat()); }
    /// Splat `from` of `source` (of the same degree) as splat `to` of this scene.
    void copySplat(const SplatScene &source, size_t from, size_t to);
    /// Splats [from, from + n) of `source` (of this degree or a higher one, whose terms beyond
    /// this degree are left out) added at the end.
    void append(const SplatScene &source, size_t from, size_t n);
};

/// IEEE 754 binary16 conversions (round to nearest even; overflow gives infinity).
uint16_t floatToHalf(float f);
float halfToFloat(uint16_t h);

#endif
