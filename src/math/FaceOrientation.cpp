#include "math/FaceOrientation.h"
#include "math/Parallel.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>

namespace {

// The ranges that `n` triangles (or corners, three a triangle) are cut into, one a thread:
// fewer than 100,000 triangles are looked through on the calling thread alone.
unsigned partsFor(size_t nTriangles)
{
    return nTriangles >= 100000 ? std::max(1u, std::min(Parallel::cores(), 8u)) : 1;
}

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

// The usable triangles around each vertex, in the order of the triangles (a triangle once per
// corner at the vertex): those around v are around[start[v]] up to around[start[v + 1]], and
// to[i] is the vertex that follows v in triangle around[i] at that corner.
struct Around {
    std::vector<uint32_t> start;
    std::unique_ptr<uint32_t[]> around;
    std::unique_ptr<int[]> to;
    std::vector<uint8_t> usable; ///< per triangle: every index below the vertex count
};

// A counting sort of the corners by their vertex, in time linear in the mesh (a sort of the
// edges took longer than reading the file). Large meshes are cut into ranges of triangles,
// each counted and placed by a thread of its own: a vertex lists the triangles of the first
// range before those of the second, so the lists are the same whatever the cut.
Around trianglesAround(const int *triangles, size_t n, size_t nVertices)
{
    Around a;
    a.usable.assign(n, 1);
    const unsigned parts = partsFor(n);
    // Per range, the corners at each vertex; then where the range's next one goes.
    std::vector<uint32_t> place(parts * nVertices, 0);
    Parallel::split(n, parts, [&](unsigned k, size_t begin, size_t end) {
        uint32_t *count = place.data() + k * nVertices;
        for (size_t t = begin; t < end; ++t) {
            const int *c = triangles + 3 * t;
            bool inside = true;
            for (int j = 0; j < 3; ++j)
                inside = inside && c[j] >= 0 && static_cast<size_t>(c[j]) < nVertices;
            a.usable[t] = inside;
            if (inside)
                for (int j = 0; j < 3; ++j)
                    ++count[c[j]];
        }
    });
    a.start.resize(nVertices + 1);
    uint32_t total = 0;
    for (size_t v = 0; v < nVertices; ++v) {
        a.start[v] = total;
        for (unsigned k = 0; k < parts; ++k)
            total += std::exchange(place[k * nVertices + v], total);
    }
    a.start[nVertices] = total;
    // Left unset here: every element is written below.
    a.around.reset(new uint32_t[total]);
    a.to.reset(new int[total]);
    Parallel::split(n, parts, [&](unsigned k, size_t begin, size_t end) {
        uint32_t *next = place.data() + k * nVertices;
        for (size_t t = begin; t < end; ++t)
            if (a.usable[t])
                for (int j = 0; j < 3; ++j) {
                    const uint32_t i = next[triangles[3 * t + j]]++;
                    a.around[i] = static_cast<uint32_t>(t);
                    a.to[i] = triangles[3 * t + (j + 1) % 3];
                }
    });
    return a;
}

// Whether two of the `count` edges that leave a vertex, edge i going to vertex to[i] in
// triangle from[i], are edges of two triangles that go to the same vertex. `sorted` is room
// for a large count.
bool twiceAlongOneEdge(const int *to, const uint32_t *from, size_t count,
                       std::vector<std::pair<int, uint32_t>> &sorted)
{
    // A vertex has few edges, but a fan's centre may have many.
    if (count <= 16) {
        for (size_t i = 0; i < count; ++i)
            for (size_t j = i + 1; j < count; ++j)
                if (to[j] == to[i] && from[j] != from[i])
                    return true;
        return false;
    }
    sorted.clear();
    for (size_t i = 0; i < count; ++i)
        sorted.emplace_back(to[i], from[i]);
    std::sort(sorted.begin(), sorted.end());
    for (size_t i = 1; i < count; ++i)
        if (sorted[i].first == sorted[i - 1].first && sorted[i].second != sorted[i - 1].second)
            return true;
    return false;
}

// Whether no two usable triangles run along an edge the same way: then the triangles that
// leave a vertex along an edge each go to another vertex. The vertices are cut into ranges,
// one a thread for large meshes.
bool agreeAlready(const Around &a, size_t nVertices)
{
    const unsigned parts = partsFor(a.start.back() / 3);
    std::vector<uint8_t> agree(parts, 1);
    Parallel::split(nVertices, parts, [&](unsigned k, size_t begin, size_t end) {
        std::vector<std::pair<int, uint32_t>> sorted;
        for (size_t v = begin; v < end && agree[k]; ++v) {
            const uint32_t i = a.start[v];
            agree[k] = !twiceAlongOneEdge(a.to.get() + i, a.around.get() + i, a.start[v + 1] - i, sorted);
        }
    });
    return std::find(agree.begin(), agree.end(), 0) == agree.end();
}

} // namespace

std::vector<bool> FaceOrientation::orient(int *triangles, size_t n, size_t nVertices)
{
    std::vector<bool> turned(n, false);
    const Around ring = trianglesAround(triangles, n, nVertices);
    // Most files agree already: that is seen without walking the pieces.
    if (agreeAlready(ring, nVertices))
        return turned;
    const auto trianglesOn = [&](int va, int vb, auto f) {
        const uint32_t *list = ring.around.get();
        const size_t i = static_cast<size_t>(va), j = static_cast<size_t>(vb);
        forCommon(list + ring.start[i], list + ring.start[i + 1], list + ring.start[j], list + ring.start[j + 1], f);
    };
    // Bytes rather than bits: they are read in the inner loop.
    std::vector<uint8_t> seen(n, 0);
    std::vector<size_t> queue, piece;
    for (size_t seed = 0; seed < n; ++seed) {
        if (seen[seed] || !ring.usable[seed])
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
