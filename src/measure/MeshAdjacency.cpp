#include "measure/MeshAdjacency.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>

MeshAdjacency::MeshAdjacency(const Objet_data &mesh)
    : vertexCount(mesh.nVertices ? *mesh.nVertices : 0), triangleCount(mesh.nTriangles ? *mesh.nTriangles : 0),
      points(mesh.vertices), corners(mesh.triangles)
{
    if (vertexCount < 0 || triangleCount < 0 || (vertexCount > 0 && !points) || (triangleCount > 0 && !corners))
        throw std::runtime_error("mesh without vertices or triangles");
    const size_t nv = static_cast<size_t>(vertexCount), nt = static_cast<size_t>(triangleCount);
    for (size_t i = 0; i < 3 * nt; ++i)
        if (corners[i] < 0 || corners[i] >= vertexCount) {
            char text[128];
            std::snprintf(text, sizeof text, "triangle %zu names vertex %d of %d", i / 3, corners[i], vertexCount);
            throw std::runtime_error(text);
        }

    // Rows with room for both other corners of every triangle of a vertex; duplicates (the
    // two triangles on each side of an edge) are squeezed out row by row afterwards.
    neighbourStart.assign(nv + 1, 0);
    triangleStart.assign(nv + 1, 0);
    for (size_t i = 0; i < 3 * nt; ++i) {
        neighbourStart[static_cast<size_t>(corners[i]) + 1] += 2;
        triangleStart[static_cast<size_t>(corners[i]) + 1] += 1;
    }
    for (size_t v = 0; v < nv; ++v) {
        neighbourStart[v + 1] += neighbourStart[v];
        triangleStart[v + 1] += triangleStart[v];
    }
    neighbourList.resize(neighbourStart[nv]);
    triangleList.resize(triangleStart[nv]);
    std::vector<size_t> fill(neighbourStart.begin(), neighbourStart.end() - 1);
    std::vector<size_t> fan(triangleStart.begin(), triangleStart.end() - 1);
    for (size_t t = 0; t < nt; ++t) {
        const int *c = corners + 3 * t;
        for (int k = 0; k < 3; ++k) {
            const size_t v = static_cast<size_t>(c[k]);
            neighbourList[fill[v]++] = c[(k + 1) % 3];
            neighbourList[fill[v]++] = c[(k + 2) % 3];
            // A degenerate triangle with a repeated corner is listed once per vertex.
            if (fan[v] == triangleStart[v] || triangleList[fan[v] - 1] != static_cast<int>(t))
                triangleList[fan[v]++] = static_cast<int>(t);
        }
    }

    // Squeeze both kinds of rows in place: sorted distinct neighbours (a vertex is never its
    // own neighbour), and the fans without the room a repeated corner left unused.
    size_t out = 0, outFan = 0;
    for (size_t v = 0; v < nv; ++v) {
        const size_t begin = neighbourStart[v], end = neighbourStart[v + 1];
        int *row = neighbourList.data();
        // Rows are short (twice the valence): insertion sort beats std::sort here.
        for (size_t i = begin + 1; i < end; ++i) {
            const int x = row[i];
            size_t j = i;
            while (j > begin && row[j - 1] > x) {
                row[j] = row[j - 1];
                --j;
            }
            row[j] = x;
        }
        neighbourStart[v] = out;
        int last = -1;
        for (size_t i = begin; i < end; ++i)
            if (row[i] != last && row[i] != static_cast<int>(v))
                row[out++] = last = row[i];

        const size_t fanBegin = triangleStart[v];
        triangleStart[v] = outFan;
        for (size_t i = fanBegin; i < fan[v]; ++i)
            triangleList[outFan++] = triangleList[i];
    }
    neighbourStart[nv] = out;
    triangleStart[nv] = outFan;
    neighbourList.resize(out);
    triangleList.resize(outFan);

    edgeLength.resize(out);
    for (size_t v = 0; v < nv; ++v)
        for (size_t e = neighbourStart[v]; e < neighbourStart[v + 1]; ++e)
            edgeLength[e] = (points[static_cast<size_t>(neighbourList[e])] - points[v]).norm();
}

int MeshAdjacency::otherTriangle(int a, int b, int except) const
{
    const int *fan = fanBegin(a);
    const int n = fanSize(a);
    for (int i = 0; i < n; ++i)
        if (fan[i] != except && hasCorner(fan[i], b))
            return fan[i];
    return -1;
}
