#include "formats/SimplexMeshReader.h"
#include "formats/ReadAll.h"
#include "math/Messages.h"
#include "formats/ReadRefusal.h"

#include "formats/ByteOrder.h"
#include "formats/SlicedRead.h"
#include "formats/TextScanner.h"

#include <algorithm>
#include <charconv>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

constexpr ReadRefusal refuse{"GLSMeshObject"};

// One triple a vertex, each neighbour another existing vertex.
void checkNeighbours(const MeshData &g, const char *name)
{
    if (g.nTriangles != g.nVertices)
        refuse("%s: %d neighbour triples for %d vertices, one a vertex expected", name, g.nTriangles, g.nVertices);
    const int *t = g.triangles.get();
    const unsigned limit = static_cast<unsigned>(g.nVertices);
    for (size_t i = 0; i < 3 * static_cast<size_t>(g.nTriangles); ++i) {
        if (static_cast<unsigned>(t[i]) >= limit)
            refuse("%s: vertex %zu has neighbour %d, outside 0..%d", name, i / 3, t[i], g.nVertices - 1);
        if (static_cast<size_t>(t[i]) == i / 3)
            refuse("%s: vertex %zu is its own neighbour", name, i / 3);
    }
}

} // namespace

MeshData SimplexMeshReader::readMesh(const char *path)
{
    FILE *f = path ? std::fopen(path, "rb") : nullptr;
    if (!f)
        throw std::runtime_error("can't read file");
    try {
        MeshData g = readMesh(f, MeshReader::fileSize(f), path);
        std::fclose(f);
        return g;
    } catch (...) {
        std::fclose(f);
        throw;
    }
}

MeshData SimplexMeshReader::readMesh(FILE *f, long long size, const char *name)
{
    uint16_t marker = 0;
    if (std::fread(&marker, 2, 1, f) != 1)
        throw std::runtime_error("wrong format");
    int mode = 0;
    if (marker == 0x4C45 || marker == 0x4542) {
        mode = 1;
        swapBytes(&marker, 2, 1);
    } else if (marker != 0x454C && marker != 0x4245) {
        throw std::runtime_error("wrong format");
    }
    const ReadFunction reader = MESH_UTILS::readerForMode(mode);
    int32_t counts[2] = {0, 0};
    unsigned char bytes[4] = {0, 0, 0, 0};
    if (reader(counts, 4, 2, f) != 2 || std::fread(bytes, 1, 3, f) != 3)
        refuse("%s: the file ends inside its header", name);
    MeshData g;
    g.headerFlags = bytes[0];
    g.version = static_cast<signed char>(bytes[1]);
    g.meshType = bytes[2];
    msg::note("Detected %s ENDIAN model v%d ", marker == 0x4245 ? "BIG" : "LITTLE", g.version);
    msg::note("in a %s ENDIAN machine\n", hostIsLittleEndian() ? "LITTLE" : "BIG");
    if (g.meshType == 0)
        throw std::runtime_error("wrong mesh type");
    if (std::fread(bytes + 3, 1, 1, f) != 1)
        refuse("%s: the file ends inside its header", name);

    g.nVertices = counts[0];
    g.nTriangles = counts[1];
    if (g.nVertices <= 0 || g.nTriangles < 0)
        refuse("%s: %d vertices and %d neighbour triples in the header", name, g.nVertices, g.nTriangles);
    const unsigned long long needed =
        14ull + 12ull * static_cast<unsigned>(g.nVertices) + 12ull * static_cast<unsigned>(g.nTriangles);
    if (size >= 0 && needed > static_cast<unsigned long long>(size))
        refuse("%s: %d vertices and %d neighbour triples need %llu bytes, the file has %lld", name, g.nVertices,
               g.nTriangles, needed, size);
    if (g.nTriangles != g.nVertices)
        refuse("%s: %d neighbour triples for %d vertices, one a vertex expected", name, g.nTriangles, g.nVertices);
    if (!readArray(reader, f, 3 * static_cast<size_t>(g.nVertices), size >= 0, g.vertices) ||
        !readArray(reader, f, 3 * static_cast<size_t>(g.nTriangles), size >= 0, g.triangles))
        refuse("%s: the file ends inside the vertices or their neighbours", name);
    checkNeighbours(g, name);

    // Tagged blocks up to the end or a tag of four zero bytes: data items and the material.
    char tag[4];
    static const char kEnd[4] = {0, 0, 0, 0};
    while (std::fread(tag, 1, 4, f) == 4 && std::memcmp(tag, kEnd, 4) != 0)
        if (!MeshReader::readDataItems(f, mode, tag, g))
            MeshReader::readMaterial(f, mode, tag, g);
    return g;
}

MeshData SimplexMeshReader::readSOFF(const char *path)
{
    FILE *f = path ? std::fopen(path, "rt") : nullptr;
    if (!f)
        throw std::runtime_error("can't load file");
    const std::vector<char> text = readAll(f);
    std::fclose(f);
    return readSOFF(text.data(), text.size(), path);
}

MeshData SimplexMeshReader::readSOFF(const char *text, size_t size, const char *name)
{
    if (size < 4 || std::memcmp(text, "OFFS", 4) != 0)
        throw std::runtime_error("not an OFFS file");
    const char *nl = static_cast<const char *>(std::memchr(text, '\n', size));
    TextScanner in(nl ? nl + 1 : text + size, text + size);
    MeshData g;
    g.meshType = 1;
    float ignored = 0;
    if (!in.number(g.nVertices) || !in.number(g.nTriangles) || !in.number(ignored))
        refuse("%s: no counts line", name);
    if (g.nVertices <= 0 || g.nTriangles < 0)
        refuse("%s: %d vertices and %d neighbour triples", name, g.nVertices, g.nTriangles);
    // A vertex line takes at least 6 characters ("0 0 0\n"), a neighbour line 8.
    const size_t rest = in.remaining();
    if (6ull * static_cast<unsigned>(g.nVertices) + 8ull * static_cast<unsigned>(g.nTriangles) > rest)
        refuse("%s: %d vertices and %d neighbour triples cannot fit in the file", name, g.nVertices, g.nTriangles);
    if (g.nTriangles != g.nVertices)
        refuse("%s: %d neighbour triples for %d vertices, one a vertex expected", name, g.nTriangles, g.nVertices);
    g.vertices = allocateLargeArray<float>(3 * static_cast<size_t>(g.nVertices));
    for (size_t i = 0; i < 3 * static_cast<size_t>(g.nVertices); ++i)
        if (!in.number(g.vertices[i]))
            refuse("%s: vertex %zu is not three numbers", name, i / 3);
    g.triangles = allocateLargeArray<int>(3 * static_cast<size_t>(g.nTriangles));
    for (size_t i = 0; i < static_cast<size_t>(g.nTriangles); ++i) {
        int count = 0;
        if (!in.number(count) || !in.number(g.triangles[3 * i]) || !in.number(g.triangles[3 * i + 1]) ||
            !in.number(g.triangles[3 * i + 2]))
            refuse("%s: neighbour line %zu is not four numbers", name, i);
    }
    checkNeighbours(g, name);
    return g;
}
