#ifndef VELMORA_SPZWRITER_H
#define VELMORA_SPZWRITER_H

#include "synthesis/SplatScene.h"

#include <string>

/// Writes a splat scene as SPZ version 3 (one gzip stream; see SpzReader for the layout):
/// positions in 24-bit fixed point with as many fractional bits as the scene's extent leaves
/// (at most 24; 12 for coordinates up to 2048), the other attributes in bytes, SH terms with
/// all 8 bits. The trainer's right-down-front axes become the format's right-up-back ones.
class SpzWriter {
public:
    /// The fractional bits that hold coordinates up to `extent` (in magnitude) in 24 bits;
    /// -1 when even none do (2^23 and beyond).
    static int fractionalBits(double extent);
    /// The file's bytes; raises std::runtime_error ("SPZ: ...") for a scene beyond the
    /// format's reach.
    static std::string encode(const SplatScene &scene);
    /// Writes the file through a temporary name; false (errno set) when it cannot (a scene
    /// beyond the format's reach raises as encode does).
    static bool write(const std::string &path, const SplatScene &scene);
};

#endif
