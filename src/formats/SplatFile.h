#ifndef VELMORA_SPLATFILE_H
#define VELMORA_SPLATFILE_H

#include "synthesis/SplatScene.h"

#include <string>

/// The splat scene formats the viewer opens, told apart by name and, for PLY and glTF, by
/// content (a glTF without the splat extension is a mesh: NONE).
class SplatFile {
public:
    enum Kind {
        NONE,           ///< no splat scene
        TRAINER_PLY,    ///< SplatReader
        COMPRESSED_PLY, ///< CompressedPlyReader
        SPZ,            ///< SpzReader
        DOT_SPLAT,      ///< DotSplatReader
        SOG,            ///< SogReader: a `.sog` bundle or a `meta.json`
        GLTF            ///< GltfSplatReader: `.glb` or `.gltf` using KHR_gaussian_splatting
    };
    /// The kind of the file at `path` (reads a PLY's header only).
    static Kind kindOf(const char *path);
    /// The scene of `path` by the reader of its kind; a refusal raises `std::runtime_error`.
    static SplatScene read(const char *path);

    /// The scene as a view shows it, for writing: the splats less opaque than `opacityFloor`
    /// left out, then `pose` (a column-major 4 x 4 matrix: rotation, uniform scale and
    /// translation) applied to positions, rotations and scales. The SH terms are not turned
    /// with the pose. A pose that mirrors or scales the axes differently raises
    /// `std::runtime_error`. An identity pose and a floor of 0 give the scene unchanged.
    static SplatScene shown(const SplatScene &scene, const float *pose, double opacityFloor);
    /// Writes the scene through a temporary name: SPZ version 3 when `path` ends in ".spz",
    /// else the trainer's PLY. False (errno set) when it cannot be written.
    static bool write(const std::string &path, const SplatScene &scene);
};

#endif
