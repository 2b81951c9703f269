#ifndef VELMORA_STREAMEDSOG_H
#define VELMORA_STREAMEDSOG_H

#include "formats/SogReader.h"
#include "synthesis/SplatScene.h"

#include <cstddef>
#include <string>

/// PlayCanvas's streamed SOG scenes: a `lod-meta.json` whose binary tree of bounds holds, in
/// each leaf, runs of splats (file, offset, count) of every level of detail, level 0 the
/// finest; the files are unbundled SOG chunks (SogReader), each of one level. Until the viewer
/// streams levels of detail of its own, the scene opens as its finest complete level (every
/// leaf holds it and its chunks are all there) with a note saying so, plus the environment
/// splats the index names. The chunks are read one at a time; a run beyond its chunk, or runs
/// of one chunk that add up to more splats than it holds, are refused before they are copied.
class StreamedSog {
public:
    /// The scene of the index `lodMeta`, its chunks by `files` (names relative to the index).
    static SplatScene read(const std::string &lodMeta, const SogReader::Source &files, const std::string &name);
    /// A `lod-meta.json` and the folders beside it.
    static SplatScene read(const char *path);
    /// A zip in memory holding `lod-meta.json` and the chunks' folders.
    static SplatScene readBundle(const char *data, size_t size, const std::string &name);
};

#endif
