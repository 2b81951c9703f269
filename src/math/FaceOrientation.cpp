#include "math/FaceOrientation.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace {

// Whether triangle t runs from a to b along one of its edges.
bool runs(const int *t, int a, int b)
{
    for (int c = 0; c < 3; ++c)
        if (t[c] == a && t[(c + 1) % 3] == b)
            return true;
    return false;
}

// Calls `f(u)` for each triangle u in both ascending lists [i, iEnd) and [j, jEnd): the
// triangles on the edge between the two vertices they are around.
template <class F>
void forCommon(const uint32_t *i, const uint32_t *iEnd, const uint32_t *j, const uint32_t *jEnd, F f)
{
    while (i < iEnd && j < jEnd) {
        if (*i != *j) {
            ++(*i < *j ? i : j);
            continue;
        }
        f(*i);
        ++i, ++j;
    }
}

} // namespace

std::vector<bool> FaceOrientation::orient(int *triangles, size_t n, size_t nVertices)
{
    std::vector<bool> turned(n, false);
    // Bytes rather than bits: they are read in the inner loop.
    std::vector<uint8_t> usable(n, 1), seen(n, 0);
    // The triangles around each vertex, in the order of the triangles: found in time linear in
    // the mesh (a sort of the edges took longer than reading the file).
    std::vector<uint32_t> start(nVertices + 1, 0);
    for (size_t t = 0; t < n; ++t) {
        const int *c = triangles + 3 * t;
        for (int k = 0; k < 3; ++k)
            usable[t] = usable[t] && c[k] >= 0 && static_cast<size_t>(c[k]) < nVertices;
        if (usable[t])
            for (int k = 0; k < 3; ++k)
                ++start[static_cast<size_t>(c[k]) + 1];
    }
    for (size_t v = 0; v < nVertices; ++v)
        start[v + 1] += start[v];
    std::vector<uint32_t> around(start.back()), next(start.begin(), start.end() - 1);
    for (size_t t = 0; t < n; ++t)
        if (usable[t])
            for (int k = 0; k < 3; ++k)
                around[next[static_cast<size_t>(triangles[3 * t + k])]++] = static_cast<uint32_t>(t);
    const auto trianglesOn = [&](int a, int b, auto f) {
        const uint32_t *list = around.data();
        const size_t va = static_cast<size_t>(a), vb = static_cast<size_t>(b);
        forCommon(list + start[va], list + start[va + 1], list + start[vb], list + start[vb + 1], f);
    };
    // Most files agree already: that is seen in one pass in the order of the triangles, when
    // no two triangles run along an edge the same way.
    bool agree = true;
    for (size_t t = 0; t < n && agree; ++t) {
        const int *c = triangles + 3 * t;
        for (int k = 0; k < 3 && agree && usable[t]; ++k)
            trianglesOn(c[k], c[(k + 1) % 3], [&](size_t u) {
                agree = agree && (u == t || !runs(triangles + 3 * u, c[k], c[(k + 1) % 3]));
            });
    }
    if (agree)
        return turned;
    std::vector<size_t> queue, piece;
    for (size_t seed = 0; seed < n; ++seed) {
        if (seen[seed] || !usable[seed])
            continue;
        seen[seed] = 1;
        queue.assign(1, seed);
        piece.clear();
        while (!queue.empty()) {
            const size_t t = queue.back();
            queue.pop_back();
            piece.push_back(t);
            const int *c = triangles + 3 * t;
            for (int k = 0; k < 3; ++k) {
                const int a = c[k], b = c[(k + 1) % 3];
                trianglesOn(a, b, [&](size_t u) {
                    if (seen[u])
                        return;
                    seen[u] = 1;
                    int *d = triangles + 3 * u;
                    // Agreeing neighbours run the other way along the shared edge.
                    if (runs(d, a, b)) {
                        std::swap(d[1], d[2]);
                        turned[u] = true;
                    }
                    queue.push_back(u);
                });
            }
        }
        // The piece keeps the orientation most of its triangles had in the file.
        size_t nTurned = 0;
        for (size_t t : piece)
            nTurned += turned[t];
        if (2 * nTurned > piece.size())
            for (size_t t : piece) {
                std::swap(triangles[3 * t + 1], triangles[3 * t + 2]);
                turned[t] = !turned[t];
            }
    }
    return turned;
}
