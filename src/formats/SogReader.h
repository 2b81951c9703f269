#ifndef VELMORA_SOGREADER_H
#define VELMORA_SOGREADER_H

#include "synthesis/SplatScene.h"

#include <cstddef>
#include <functional>
#include <string>

/// PlayCanvas's SOG splat scenes: a `meta.json` naming lossless WebP images whose pixel i
/// (row by row) holds splat i, loose in a folder or bundled as a `.sog` zip. Version 2:
/// positions as 16-bit fractions of the log-transformed bounds (sign(v) log(|v| + 1)) split
/// over means_l / means_u, scales and colours as bytes into 256-entry codebooks, the
/// activated opacity in sh0's alpha, the rotation as three bytes of the smaller components
/// with 252 + the largest one's index in alpha, and the SH terms as labels into a palette of
/// `shN.count` entries whose coefficients are codebook bytes. The trainer's axes.
///
/// A streamed scene (`lod-meta.json`) is refused with a note naming its finest level's folder.
/// A refusal raises `std::runtime_error` ("SOG: ...") before anything the counts would size
/// is allocated.
class SogReader {
public:
    /// The bytes of the named file of the scene; throws when it is missing.
    using Files = std::function<std::string(const std::string &name)>;

    /// The scene whose `meta.json` is `meta`, its images by `files`.
    static SplatScene read(const std::string &meta, const Files &files, const std::string &name);
    /// A `.sog` bundle in memory.
    static SplatScene readBundle(const char *data, size_t size, const std::string &name);
    /// A `.sog` bundle or a `meta.json` (its images beside it).
    static SplatScene read(const char *path);
};

#endif
