#ifndef VELMORA_SPZREADER_H
#define VELMORA_SPZREADER_H

#include "synthesis/SplatScene.h"

#include <cstddef>
#include <string>

/// Niantic's SPZ splat scenes. Versions 1 to 3 are one gzip stream holding a 16-byte header
/// (magic "NGSP", version, count, SH degree, fractional bits, flags) and then each attribute
/// for every splat in turn: positions (1: half floats; later 24-bit fixed point with the
/// header's fractional bits), opacities, colours, scales, rotations (1, 2: x y z bytes with
/// w >= 0 rebuilt; 3 on: the smallest three in 32 bits), SH bytes coefficient by coefficient
/// with red, green, blue side by side. Version 4 keeps a 32-byte header and a table of
/// contents in the clear, then the same attributes as ZSTD frames of their own.
///
/// The file stores right-up-back axes; the scene gets the trainer's right-down-front ones
/// (y and z negated, with the rotations and SH terms that go with them). Degree 4 keeps its
/// first three bands. Flag 1 (antialiased) sets `SplatScene::antialiased`. Splats the
/// rasteriser cannot draw are left out as the PLY reader leaves them out (SplatFilter).
/// A refusal raises `std::runtime_error` ("SPZ: ...") before anything the file's count would
/// size is allocated.
class SpzReader {
public:
    /// True when the bytes start as an SPZ file does (gzip, or "NGSP" of version 4).
    static bool looksLikeSpz(const char *data, size_t size);
    static SplatScene read(const char *data, size_t size, const std::string &name);
    static SplatScene read(const char *path);
};

#endif
