#ifndef VELMORA_SPLATREADER_H
#define VELMORA_SPLATREADER_H

#include "formats/PlyHeader.h"
#include "synthesis/SplatScene.h"

#include <cstddef>
#include <string>

/// Gaussian splat scenes: a PLY (binary or text) whose vertex element has `f_dc_0..2`, `opacity`,
/// `scale_0..2` and `rot_0..3` besides x, y, z, in any order and of any scalar type (other
/// properties, such as normals, are ignored). The number of `f_rest_*` properties, 0, 9, 24
/// or 45, gives the spherical-harmonic degree 0 to 3; the file stores them channel by
/// channel (red 1..15, green, blue).
///
/// Values are activated as the producers of the format define them: opacity =
/// sigmoid(value), scale = exp(value), rotation = the normalised quaternion (w = rot_0).
/// A splat with a zero quaternion, a value that is not finite or a scale above SCALE_LIMIT is
/// left out; one warning gives their number.
///
/// A scene trained with the 2D mip filter is marked so by a header comment, as its trainers
/// document it: `SplatRenderMode: mip` (Brush; `default` and `2dgs` are not), Postshot's
/// `postshot.anti_aliasing=1` or `antialiased 1`; the last such comment wins.
///
/// Counts and sizes are checked against the file before anything is allocated. A refused
/// file raises a `std::runtime_error` whose text says why ("PLY: ...").
class SplatReader {
public:
    static constexpr float SCALE_LIMIT = 1e4f;

    /// True when the header's vertex element carries the properties of a splat scene.
    static bool isSplatHeader(const PlyHeader &header);
    /// True when the header's comments say the scene was trained with the 2D mip filter.
    static bool trainedAntialiased(const PlyHeader &header);
    /// True when the file at `path` is a PLY of a splat scene (reads its header only).
    static bool isSplatFile(const char *path);

    /// `data`, `size`: the whole file; `name` names it in the messages.
    static SplatScene read(const char *data, size_t size, const std::string &name);
    /// The file at `path`, read in blocks straight into the scene's arrays.
    static SplatScene read(const char *path);
};

#endif
