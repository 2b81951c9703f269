#ifndef VELMORA_ASSIMPREADER_H
#define VELMORA_ASSIMPREADER_H

#include "formats/ForeignModel.h"

#include <cstddef>
#include <string>
#include <vector>

/// Reads the model formats of other programs (OBJ with MTL, STL, glTF and whatever else Assimp
/// reads; PLY through PlyReader) into the viewer's plain records. No OpenGL.
///
/// Assimp triangulates polygons; vertices are joined only where the importer left every
/// corner a vertex of its own (STL, OBJ), since joining costs more than reading an indexed
/// file. The meshes of the file are merged into one, each under its node's transformation.
/// Lines and points mixed into a mesh with faces are left out; a file with vertices and no
/// faces is a point cloud (with its colours when it has them).
///
/// A refused input raises a `std::runtime_error` whose text says why (Assimp's own message
/// where it refused the file).
///
/// Debian's Assimp aborts or crashes on some broken files (its OFF reader above all), so
/// `read` runs the import in a helper process (see HelperProcess.h): what would end the
/// viewer becomes a refusal naming the signal. PLY, read by the viewer's own reader, stays
/// in the process.
class AssimpReader {
public:
    /// `groupFrom`: a PLY point cloud of that many points or more may come grouped by the
    /// cells of its hierarchy (see PlyReader::read); 0 never.
    static ForeignModel read(const char *path, size_t groupFrom = 0);
    /// The same in the calling process, with no helper: for the helper itself, benchmarks
    /// and harnesses.
    static ForeignModel readInProcess(const char *path);
    /// From bytes in memory, in the calling process; `hint` is the format's extension ("ply",
    /// "obj", ...). Relative texture names are resolved against the current folder.
    static ForeignModel readFromMemory(const void *data, size_t size, const char *hint);
    /// True when Assimp has an importer for files ending in `extension` (without the dot).
    static bool canRead(const char *extension);
    /// Every extension Assimp reads, lower case, without the dot.
    static std::vector<std::string> extensions();
};

#endif
