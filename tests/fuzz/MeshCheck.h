#ifndef VELMORA_FUZZ_MESHCHECK_H
#define VELMORA_FUZZ_MESHCHECK_H

// What the mesh harnesses share: the checks of a reader's result.
#include "formats/MeshReader.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace meshfuzz {

// What the mesh relies on when it takes a reader's result over: every index names a vertex
// and every per-vertex array is whole (its last entry is read, so that the address
// sanitizer sees a short one).
inline void checkMesh(const MeshData &m)
{
    if (m.nVertices < 0 || m.nTriangles < 0 || (m.nVertices > 0 && !m.vertices) || (m.nTriangles > 0 && !m.triangles))
        std::abort();
    for (size_t i = 0; i < 3 * static_cast<size_t>(m.nTriangles); ++i)
        if (static_cast<unsigned>(m.triangles[i]) >= static_cast<unsigned>(m.nVertices))
            std::abort();
    for (const DataItem &item : m.dataItems)
        if (item.getNElements() < m.nVertices)
            std::abort();
    if (!m.dataItems.empty() && !m.colors)
        std::abort();
    volatile float sink = 0;
    if (m.nVertices > 0) {
        const size_t last = static_cast<size_t>(m.nVertices) - 1;
        sink = sink + m.vertices[3 * last + 2];
        if (m.colors)
            sink = sink + m.colors[3 * last + 2];
        if (m.normals)
            sink = sink + m.normals[last].z;
        if (m.vertexTexCoords)
            sink = sink + m.vertexTexCoords[2 * last + 1];
    }
    if (m.texCoords && m.nTriangles > 0)
        sink = sink + m.texCoords[6 * static_cast<size_t>(m.nTriangles) - 1];
}

using File = std::unique_ptr<FILE, int (*)(FILE *)>;

} // namespace meshfuzz

#endif
