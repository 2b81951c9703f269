#ifndef VELMORA_GLTFSPLATREADER_H
#define VELMORA_GLTFSPLATREADER_H

#include "synthesis/SplatScene.h"

#include <cstddef>
#include <string>

/// Splat scenes in glTF 2.0 (binary `.glb`, or `.gltf` with its buffers in files beside it)
/// under the KHR_gaussian_splatting extension: point primitives whose attributes are
/// POSITION, the extension's ROTATION (x y z w), SCALE, OPACITY (already activated) and
/// SH_DEGREE_l_COEF_k (red, green, blue; degree 0 is the trainer's f_dc). COLOR_0 is only a
/// fallback colour when the SH attributes are missing. Floats, or normalized integers where
/// glTF allows them. glTF's left-up-front axes become the trainer's right-down-front ones (half
/// a turn about z, SH terms too). Node transforms are applied to positions, rotations and
/// (uniform) scales; the SH terms are not turned with a node's rotation. The extension's `kernel` must be "ellipse" and
/// its `colorSpace` "srgb_rec709_display" (what the trainer fits): others are refused by name.
/// A refusal raises `std::runtime_error` ("glTF: ...") before the counts size anything.
class GltfSplatReader {
public:
    /// True when the glTF's JSON uses the extension (reads the JSON part only).
    static bool isSplatFile(const char *path);
    /// A `.glb` in memory (a buffer in a file of its own is refused).
    static SplatScene readGlb(const char *data, size_t size, const std::string &name);
    static SplatScene read(const char *path);
};

#endif
