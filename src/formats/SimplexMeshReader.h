#ifndef VELMORA_SIMPLEXMESHREADER_H
#define VELMORA_SIMPLEXMESHREADER_H

#include "formats/MeshReader.h"

#include <cstddef>
#include <cstdio>

/// The simplex-mesh readers: the binary form (the layout of the triangle mesh with a
/// non-zero mesh-type byte) and the "OFFS" text form. Each returns a MeshData in which
/// `triangles` holds, for vertex i, its three neighbours at 3i, 3i + 1, 3i + 2 and
/// `nTriangles` equals `nVertices` (one triple a vertex); every neighbour index names
/// another vertex. Whether the neighbours also form a closed simplex mesh (each pointing
/// back, every face closing) is checked by GLSMeshObject when it builds the dual surface.
///
/// The binary blocks read are data items and the material ("MAT0"); texture coordinates
/// are not part of a simplex mesh and are skipped like unknown tags.
///
/// A refused input raises a `std::runtime_error`: the format's fixed texts ("can't read
/// file", "wrong format", "wrong mesh type", "can't load file", "not an OFFS file"), or a
/// text naming the file and what is wrong with it (also printed as "GLSMeshObject: <text>").
class SimplexMeshReader {
public:
    static MeshData readMesh(const char *path);
    /// `size` is the byte count from the signature to the end, -1 when unknown.
    static MeshData readMesh(FILE *f, long long size, const char *name);

    static MeshData readSOFF(const char *path);
    /// From text in memory (need not end with a zero byte).
    static MeshData readSOFF(const char *text, size_t size, const char *name);
};

#endif
