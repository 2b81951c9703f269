#ifndef VELMORA_MESHREADER_H
#define VELMORA_MESHREADER_H

#include "math/Point3.h"
#include "formats/DataItem.h"
#include "formats/LargeArray.h"

#include <cstddef>
#include <cstdio>
#include <memory>
#include <vector>

/// The in-memory hand-over of a mesh by a program that embeds the viewer. The reader copies
/// everything; the caller keeps ownership of the record and of what it points to.
/// `dataItems` points to nDataItems pointers; each item must hold at least nVertices values
/// (value i is vertex i).
struct MeshRecord {
    int nVertices;
    int nTriangles;
    const float *vertices;       ///< 3 x nVertices
    const int *triangles;        ///< 3 x nTriangles, 0-based vertex indices
    int nDataItems;
    const DataItem *const *dataItems;
};

/// A triangle mesh as a file (or a hand-over) describes it, before anything is drawn: plain
/// owned arrays, no OpenGL. A reader only returns a MeshData that holds together: every
/// triangle index names a vertex and every optional array has the length stated beside it.
struct MeshData {
    int nVertices = 0;
    int nTriangles = 0;
    LargeArray<float> vertices;               ///< 3 per vertex
    LargeArray<int> triangles;                ///< 3 per triangle, counter-clockwise = front
    /// One per vertex when the file gives them (OFF "N"), as unit vectors; null otherwise,
    /// and the mesh computes its own.
    LargeArray<Point3> normals;
    /// RGB, 3 bytes per vertex, or null. After a data-item block (or a hand-over) this is
    /// the zeroed room the data colours are painted into; with `colorsFromFile` set it
    /// holds the file's own vertex colours (OFF "C").
    std::unique_ptr<unsigned char[]> colors;
    bool colorsFromFile = false;
    /// Per-vertex texture coordinates (OFF "ST"): s, t for each vertex, or null.
    LargeArray<float> vertexTexCoords;
    /// Per-triangle texture coordinates of a "TC" block: u, v of the three corners, 6 per
    /// triangle, or null (also after a short block).
    LargeArray<float> texCoords;
    int texCoordVersion = -1;                 ///< version of the "TC" block read, -1 = none
    std::vector<DataItem> dataItems;          ///< each with at least nVertices values
    /// The "MAT0" block: front shininess, front ambient, diffuse and specular RGBA.
    bool hasMaterial = false;
    float material[13] = {};
    unsigned char headerFlags = 0;            ///< header bytes 10 to 12 of the binary format
    signed char version = 0;
    unsigned char meshType = 0;
};

/// The mesh file readers: the binary "tri" format with its tagged blocks, OFF text and the
/// in-memory hand-over. They need no OpenGL context.
///
/// Every reader checks what it reads: counts must be non-negative and fit in the input,
/// every triangle index must name a vertex. A refused input raises a `std::runtime_error`
/// whose text says why; where that text is not one of the format's fixed messages it is
/// also printed as "GLMeshObject: <text>". Progress lines ("GLMeshObject: Detected ...")
/// go to standard output as the viewer has always printed them.
class MeshReader {
public:
    /// Binary mesh at `path`, opened through Stream (an address with "://" is downloaded).
    /// Raises "Can't read file" when it cannot be opened.
    static MeshData readBinary(const char *path);
    /// Binary mesh from an open stream positioned at its signature. `size` is the number
    /// of bytes from there to the end, or -1 when unknown (a pipe): counts are then not
    /// checked beforehand and the arrays grow only with what arrives. The caller closes `f`.
    static MeshData readBinary(FILE *f, long long size);

    /// OFF text at `path`, opened through Stream. Raises "can't load file" when it cannot
    /// be opened.
    static MeshData readOFF(const char *path);
    /// OFF text from an open stream, read to its end. The caller closes `f`.
    static MeshData readOFF(FILE *f);
    /// OFF text from memory (`text` need not end with a zero byte).
    static MeshData readOFF(const char *text, size_t size);

    /// Checks an in-memory mesh and copies it, with a zeroed colour array for its data items.
    static MeshData fromRecord(const MeshRecord *mesh);

    /// The size of the regular file behind `f`, or -1 when it is none (a pipe, a memory stream).
    static long long fileSize(FILE *f);

    /// Reads tagged blocks up to the end of `f` into `mesh` (whose counts are set). `mode`
    /// is the reader mode of ByteOrder.h. Unknown tags are skipped 4 bytes at a time.
    static void readBlocks(FILE *f, int mode, MeshData &mesh);
    /// Block readers: `f` is positioned after the 4 tag bytes. Each returns non-zero when
    /// the tag was its own (and then consumed the block, whether complete or not). A short
    /// or broken block never fails: data items are dropped, coordinates discarded, the
    /// material left as it was.
    static int readDataItems(FILE *f, int mode, const char *tag, MeshData &mesh);
    static int readTextureCoordinates(FILE *f, int mode, const char *tag, MeshData &mesh);
    static int readMaterial(FILE *f, int mode, const char *tag, MeshData &mesh);
};

#endif
