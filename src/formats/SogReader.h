#ifndef VELMORA_SOGREADER_H
#define VELMORA_SOGREADER_H

#include "synthesis/SplatScene.h"

#include <nlohmann/json_fwd.hpp>

#include <cstddef>
#include <functional>
#include <string>

/// PlayCanvas's SOG splat scenes: a `meta.json` naming lossless WebP images whose pixel i
/// (row by row) holds splat i, loose in a folder or bundled as a `.sog` zip. Version 2:
/// positions as 16-bit fractions of the log-transformed bounds (sign(v) log(|v| + 1)) split
/// over means_l / means_u, scales and colours as bytes into 256-entry codebooks, the
/// activated opacity in sh0's alpha, the rotation as three bytes of the smaller components
/// with 252 + the largest one's index in alpha, and the SH terms as labels into a palette of
/// `shN.count` entries whose coefficients are codebook bytes. The trainer's axes. A scene
/// trained with the 2D mip filter says `"model": "antialiased"`.
///
/// A streamed scene (`lod-meta.json`) is read by StreamedSog. A refusal raises
/// `std::runtime_error` ("SOG: ...") before anything the counts would size is allocated: the
/// images' headers must hold the count.
class SogReader {
public:
    /// The bytes of the named file of the scene; throws when it is missing.
    using Files = std::function<std::string(const std::string &name)>;
    /// The files of a scene and whether one is there.
    struct Source {
        Files read;
        std::function<bool(const std::string &name)> has;
    };

    /// The scene whose `meta.json` is `meta`, its images by `files`.
    static SplatScene read(const std::string &meta, const Files &files, const std::string &name);
    /// The same with every splat of the file, none left out (SplatFilter): a streamed scene
    /// counts the splats of its chunks as the files hold them.
    static SplatScene decode(const std::string &meta, const Files &files);
    /// A `.sog` bundle in memory.
    static SplatScene readBundle(const char *data, size_t size, const std::string &name);
    /// A `.sog` bundle, a `meta.json` (its images beside it) or a `lod-meta.json`.
    static SplatScene read(const char *path);

    /// The files of a zip in memory (`data` must outlive the source).
    static Source bundle(const char *data, size_t size);
    /// The files of `folder` (empty or ending in '/'), by names without a folder, or with
    /// folders below it when `subfolders`; other names are refused.
    static Source folder(const std::string &folder, bool subfolders);
    /// True for a relative name without "..", "." or empty parts (and without '/' unless
    /// `subfolders`).
    static bool safeName(const std::string &name, bool subfolders);
    /// The folder part of `path`, with its '/', or "".
    static std::string folderOf(const std::string &path);
    /// True when the meta.json or lod-meta.json says the splats were trained with the 2D mip
    /// filter.
    static bool trainedAntialiased(const nlohmann::json &meta);
};

#endif
