#ifndef VELMORA_SPZWRITER_H
#define VELMORA_SPZWRITER_H

#include "synthesis/SplatScene.h"

#include <string>

/// Writes a splat scene as SPZ version 3 (one gzip stream; see SpzReader for the layout):
/// positions in 24-bit fixed point with 12 fractional bits (so within +-2048 units of the
/// origin; farther ones are clamped), the other attributes in bytes, SH terms with all 8 bits.
/// The trainer's right-down-front axes become the format's right-up-back ones.
class SpzWriter {
public:
    static constexpr int FRACTIONAL_BITS = 12;

    /// The file's bytes.
    static std::string encode(const SplatScene &scene);
    /// Writes the file through a temporary name; false (errno set) when it cannot.
    static bool write(const std::string &path, const SplatScene &scene);
};

#endif
