#ifndef VELMORA_DOTSPLATREADER_H
#define VELMORA_DOTSPLATREADER_H

#include "synthesis/SplatScene.h"

#include <cstddef>
#include <string>

/// The headerless `.splat` files of the early web viewers: 32 bytes a splat, little-endian,
/// position as three floats, scale as three floats (already exp'd), colour as four bytes
/// (red, green, blue as 0.5 + C0 dc in 0..255; alpha as the activated opacity in 0..255) and
/// the rotation as four bytes w x y z, each (q + 1) 128. No SH terms beyond the constant one;
/// the trainer's axes. Splats the rasteriser cannot draw are left out as the PLY reader does.
/// A refusal raises `std::runtime_error` (".splat: ...").
class DotSplatReader {
public:
    static constexpr size_t BYTES_PER_SPLAT = 32;

    static SplatScene read(const char *data, size_t size, const std::string &name);
    static SplatScene read(const char *path);
};

#endif
