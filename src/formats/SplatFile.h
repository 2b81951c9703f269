#ifndef VELMORA_SPLATFILE_H
#define VELMORA_SPLATFILE_H

#include "synthesis/SplatScene.h"

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
};

#endif
