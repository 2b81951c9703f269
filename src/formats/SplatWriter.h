#ifndef VELMORA_SPLATWRITER_H
#define VELMORA_SPLATWRITER_H

#include <cstddef>
#include <string>
#include <vector>

/// Writes splat scenes as the usual trainer does: binary little-endian PLY, float properties
/// x y z nx ny nz f_dc_0..2 f_rest_* opacity scale_0..2 rot_0..3, values before activation
/// (logit opacity, log scales, any quaternion), f_rest channel by channel.
class SplatWriter {
public:
    /// Values per splat in the order above for `degree` (0..3): 17 + 3 ((degree + 1)^2 - 1).
    static size_t valuesPerSplat(int degree);
    /// The property names in the order above.
    static std::vector<std::string> propertyNames(int degree);
    /// The PLY header of `count` splats.
    static std::string header(size_t count, int degree);
    /// Writes the file; false (and errno set) when it cannot be written.
    static bool write(const std::string &path, int degree, const std::vector<float> &values);
};

#endif
