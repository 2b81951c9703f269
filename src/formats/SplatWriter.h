#ifndef VELMORA_SPLATWRITER_H
#define VELMORA_SPLATWRITER_H

#include "synthesis/SplatScene.h"

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
    /// The PLY header of `count` splats; a scene trained with the 2D mip filter says so as
    /// Brush does ("comment SplatRenderMode: mip").
    static std::string header(size_t count, int degree, bool antialiased = false);
    /// Writes the file through a temporary name; false (and errno set) when it cannot be
    /// written.
    static bool write(const std::string &path, int degree, const std::vector<float> &values);

    /// The file's values of a scene read by any reader: the inverse activations, each value
    /// chosen so that SplatReader gives back the very same floats (an opacity of exactly 0 or
    /// 1, which a logit cannot hold, gives the nearest the file can).
    static std::vector<float> fileValues(const SplatScene &scene);
    /// The same for splats [first, last), into `out` (valuesPerSplat() a splat).
    static void fileValues(const SplatScene &scene, size_t first, size_t last, float *out);
    /// Writes the scene through a temporary name, so that a failed write leaves no truncated
    /// file; false (and errno set) when it cannot be written.
    static bool write(const std::string &path, const SplatScene &scene);
};

#endif
