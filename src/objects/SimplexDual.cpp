#include "objects/SimplexDual.h"

#include "formats/ReadRefusal.h"
#include "objects/Hash.h"

#include <algorithm>
#include <cstddef>

namespace {

constexpr ReadRefusal refuse{"GLSMeshObject"};

} // namespace

std::vector<int> SimplexDual::links(const int *neighbours, int nTriangles, int nVertices, const char *path)
{
    // Corner k of vertex t lies between its edges to neighbours k and k + 1. Walking a face,
    // corner k leads across the edge to neighbour k + 1, to the corner of that neighbour that
    // begins with its edge back to t. Every edge is met twice, once from each end; the second
    // sighting links the corner of each end that the edge leads out of.
    const size_t corners = 3 * static_cast<size_t>(nTriangles);
    std::vector<int> next(corners, -1);
    struct Record {
        int k, base;
        bool closed;
    };
    std::vector<Record> table;
    table.reserve(corners / 2 + 1);
    Hash hash(2 * nVertices);
    for (int t = 0; t < nTriangles; ++t) {
        const int b = 3 * t;
        for (int k = 0; k < 3; ++k) {
            const int v = neighbours[b + k];
            const int found = hash.add(t + v, std::min(t, v));
            if (found < 0) {
                table.push_back({k, b, false});
                continue;
            }
            Record &r = table[static_cast<size_t>(found)];
            if (r.base == b)
                refuse("%s: vertex %d names vertex %d twice", path, t, v);
            if (r.closed)
                refuse("%s: the edge between vertices %d and %d is given more than twice", path, std::min(t, v),
                       std::max(t, v));
            r.closed = true;
            next[static_cast<size_t>(r.base + (r.k + 2) % 3)] = b + k;
            next[static_cast<size_t>(b + (k + 2) % 3)] = r.base + r.k;
        }
    }
    for (size_t c = 0; c < corners; ++c)
        if (next[c] < 0) {
            // The corner's link is set when the neighbour that closes the face names this
            // vertex back; find which neighbour does not.
            const int t = static_cast<int>(c / 3);
            for (int k = 0; k < 3; ++k) {
                const int v = neighbours[3 * t + k];
                const int *back = neighbours + 3 * v;
                if (back[0] != t && back[1] != t && back[2] != t)
                    refuse("%s: vertex %d names %d as a neighbour, which does not name it back", path, t, v);
            }
            refuse("%s: corner %zu of the simplex mesh belongs to no face", path, c);
        }
    return next;
}

SimplexDual SimplexDual::faces(const int *next, const float *vertices, int nTriangles, const char *path)
{
    const size_t corners = 3 * static_cast<size_t>(nTriangles);
    // The links must be a permutation of the corners for every walk to come back to its start.
    std::vector<char> target(corners, 0);
    for (size_t c = 0; c < corners; ++c) {
        const int n = next[c];
        if (n < 0 || static_cast<size_t>(n) >= corners || target[static_cast<size_t>(n)])
            refuse("%s: the neighbours do not close into faces (corner %zu)", path, c);
        target[static_cast<size_t>(n)] = 1;
    }
    SimplexDual dual;
    std::vector<int> &cornerFace = dual.cornerFace;
    std::vector<Point3> &dualVertices = dual.dualVertices;
    cornerFace.assign(corners, -1);
    int nDualVertices = 0;
    for (size_t start = 0; start < corners; ++start) {
        if (cornerFace[start] >= 0)
            continue;
        Point3 sum(0, 0, 0);
        size_t n = 0;
        size_t c = start;
        do {
            cornerFace[c] = nDualVertices;
            const float *p = vertices + 3 * (c / 3);
            sum += Point3(p[0], p[1], p[2]);
            ++n;
            c = static_cast<size_t>(next[c]);
        } while (c != start && n <= corners);
        if (c != start)
            refuse("%s: a face walk does not close", path);
        dualVertices.push_back(sum * (1.0f / static_cast<float>(n)));
        ++nDualVertices;
    }
    return dual;
}
