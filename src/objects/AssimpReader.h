#ifndef VELMORA_ASSIMPREADER_H
#define VELMORA_ASSIMPREADER_H

#include "objects/MeshReader.h"
#include "objects/PointListReader.h"

#include <cstddef>
#include <string>
#include <vector>

/// What a foreign model file holds once imported: a triangle mesh, or (a file with vertices
/// and no faces) a point cloud.
struct ForeignModel {
    bool isPointCloud = false;
    /// The mesh: vertices, triangles, file colours (colorsFromFile), per-vertex scalars as
    /// data items and, with texture images, per-triangle coordinates ("TC" version 3, u and
    /// v in 0..1, v downwards from the image's top row).
    MeshData mesh;
    /// Texture images of the mesh, as paths (relative names resolved against the model's
    /// folder). Empty without texture coordinates or images.
    std::vector<std::string> textureImages;
    /// With more than one image: for each triangle, the index of its image in textureImages.
    std::vector<int> triangleImage;
    /// The point cloud: colours when the file has them, else the first scalar property as
    /// values, else neither.
    PointListData points;
    std::string valueName;   ///< name of the scalar property behind `points.values`
};

/// Reads the model formats of other programs (PLY, OBJ with MTL, STL, glTF and whatever else
/// Assimp reads) into the viewer's plain records. No OpenGL.
///
/// Assimp triangulates polygons; vertices are joined only where the importer left every
/// corner a vertex of its own (STL, OBJ), since joining costs more than reading an indexed
/// file. The meshes of the file are merged into one, each under its node's transformation.
/// Lines and points mixed into a mesh with faces are left out. Per-vertex scalar properties
/// of PLY files, which Assimp drops, are read from the file by PlyHeader.
///
/// A refused input raises a `std::runtime_error` whose text says why (Assimp's own message
/// where it refused the file).
class AssimpReader {
public:
    static ForeignModel read(const char *path);
    /// The same from bytes in memory; `hint` is the format's extension ("ply", "obj", ...).
    /// Relative texture names are resolved against the current folder.
    static ForeignModel readFromMemory(const void *data, size_t size, const char *hint);
    /// True when Assimp has an importer for files ending in `extension` (without the dot).
    static bool canRead(const char *extension);
    /// Every extension Assimp reads, lower case, without the dot.
    static std::vector<std::string> extensions();
};

#endif
