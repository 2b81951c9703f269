#ifndef VELMORA_MESHFILE_H
#define VELMORA_MESHFILE_H

#include "formats/ForeignModel.h"
#include "formats/MeshReader.h"

#include <cstddef>
#include <exception>
#include <string>

/// Any file the viewer opens as a mesh, read by its name into plain records: the one place
/// that decides which reader a mesh file goes to, for the loader and for the tools.
///
/// By the extension (the text after the last '.', in any case): "tri" is the binary
/// triangle mesh and "off" OFF text, each offered to the simplicial-mesh reader when the
/// triangle reader refuses it (an OFF file with vertices and no faces is a point cloud, as
/// PLY and OBJ clouds are); an extension Assimp reads is another program's model, unless
/// the file is a remote-model descriptor; any other name is tried as a descriptor, whose
/// request is printed and whose binary mesh is then read.
struct MeshFile {
    enum Kind {
        NONE,       ///< no mesh file: no extension, or not a descriptor (nothing printed)
        TRIANGLES,  ///< `mesh` is a triangle mesh
        SIMPLICIAL, ///< `mesh` holds three neighbours a vertex (see SimplexMeshReader)
        FOREIGN     ///< `foreign` is another program's model: a mesh or a point cloud
    };
    Kind kind = NONE;
    /// What the mesh was read from and reads again: the path, or a descriptor's request.
    std::string name;
    /// Read as OFF text ("off"), else as the binary format.
    bool off = false;
    MeshData mesh;
    ForeignModel foreign;

    /// Reads `path`; throws the reader's std::runtime_error when the file is refused. A PLY
    /// point cloud of `groupFrom` points or more (0: none) comes grouped by the cells of its
    /// hierarchy (see PlyReader::read).
    static MeshFile read(const char *path, size_t groupFrom = 0);

    /// The triangle-mesh reader alone: binary, or OFF text when `off`; throws its refusal.
    static MeshData readTriangles(const char *path, bool off);
    /// What follows a refusal of readTriangles: says why the triangle reader refused the
    /// file and reads it as a simplicial mesh (whose refusal is thrown).
    static MeshFile readSimplicial(const char *path, bool off, const std::exception &refusal);
    /// Whether a refusal of readTriangles leaves the simplicial mesh to try: any for the
    /// binary format; for OFF only a header that is no triangle OFF ("OFFS"), since the
    /// simplicial reader takes nothing else and would only repeat the reason.
    static bool maybeSimplicial(bool off, const std::exception &refusal);
    /// Turns an OFF mesh of vertices without faces into a point cloud (`foreign`, with the
    /// file's colours); true when it did. Other files are left as they are.
    static bool keepAsPoints(MeshFile &file);
};

#endif
