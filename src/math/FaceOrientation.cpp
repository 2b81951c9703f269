#include "math/FaceOrientation.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace {

struct Edge {
    uint64_t key; ///< the two vertices, smaller first
    size_t triangle;
};

uint64_t edgeKey(int a, int b)
{
    const uint32_t lo = static_cast<uint32_t>(std::min(a, b)), hi = static_cast<uint32_t>(std::max(a, b));
    return (static_cast<uint64_t>(lo) << 32) | hi;
}

// Whether triangle t runs from a to b along one of its edges.
bool runs(const int *t, int a, int b)
{
    for (int c = 0; c < 3; ++c)
        if (t[c] == a && t[(c + 1) % 3] == b)
            return true;
    return false;
}

} // namespace

std::vector<bool> FaceOrientation::orient(int *triangles, size_t n, size_t nVertices)
{
    std::vector<bool> turned(n, false);
    std::vector<Edge> edges;
    edges.reserve(3 * n);
    std::vector<bool> usable(n, true);
    for (size_t t = 0; t < n; ++t) {
        const int *c = triangles + 3 * t;
        for (int k = 0; k < 3; ++k)
            usable[t] = usable[t] && c[k] >= 0 && static_cast<size_t>(c[k]) < nVertices;
        if (usable[t])
            for (int k = 0; k < 3; ++k)
                edges.push_back({edgeKey(c[k], c[(k + 1) % 3]), t});
    }
    std::sort(edges.begin(), edges.end(),
              [](const Edge &a, const Edge &b) { return a.key < b.key || (a.key == b.key && a.triangle < b.triangle); });
    // The triangles around each edge: a range of `edges`, found from any of its entries.
    const auto around = [&edges](uint64_t key) {
        return std::equal_range(edges.begin(), edges.end(), Edge{key, 0},
                                [](const Edge &a, const Edge &b) { return a.key < b.key; });
    };
    std::vector<bool> seen(n, false);
    std::vector<size_t> queue, piece;
    for (size_t seed = 0; seed < n; ++seed) {
        if (seen[seed] || !usable[seed])
            continue;
        seen[seed] = true;
        queue.assign(1, seed);
        piece.clear();
        while (!queue.empty()) {
            const size_t t = queue.back();
            queue.pop_back();
            piece.push_back(t);
            const int *c = triangles + 3 * t;
            for (int k = 0; k < 3; ++k) {
                const int a = c[k], b = c[(k + 1) % 3];
                const auto range = around(edgeKey(a, b));
                for (auto e = range.first; e != range.second; ++e) {
                    const size_t u = e->triangle;
                    if (seen[u])
                        continue;
                    seen[u] = true;
                    int *d = triangles + 3 * u;
                    // Agreeing neighbours run the other way along the shared edge.
                    if (runs(d, a, b)) {
                        std::swap(d[1], d[2]);
                        turned[u] = true;
                    }
                    queue.push_back(u);
                }
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
