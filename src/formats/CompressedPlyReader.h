#ifndef VELMORA_COMPRESSEDPLYREADER_H
#define VELMORA_COMPRESSEDPLYREADER_H

#include "formats/PlyHeader.h"
#include "synthesis/SplatScene.h"

#include <cstddef>
#include <string>

/// The packed PLY splat scenes of the web editors (".compressed.ply"): an element `chunk`,
/// one per 256 splats, of float bounds (min_/max_ x y z, min_/max_scale_ x y z and,
/// optionally, min_/max_ r g b); an element `vertex` of four uint properties a splat
/// (packed_position and packed_scale 11-10-11 bits within the chunk's bounds, scales as
/// logarithms; packed_rotation the largest component's index in two bits over the other three
/// in ten bits each; packed_color 8-8-8-8 bits of colour within its bounds and the activated
/// opacity), and optionally an element `sh` of uchar f_rest_* in the trainer's order.
/// The file is little-endian binary. A refusal raises `std::runtime_error`
/// ("compressed PLY: ...") before anything the file's counts would size is allocated.
class CompressedPlyReader {
public:
    /// True when the header has the chunk and packed vertex elements above.
    static bool isCompressedHeader(const PlyHeader &header);
    static SplatScene read(const char *data, size_t size, const std::string &name);
    static SplatScene read(const char *path);
};

#endif
