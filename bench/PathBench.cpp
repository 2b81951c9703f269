// Path measurement on large meshes: building the adjacency, the edge search against a plain
// Dijkstra written here over the same compressed rows, and the plane walk at two mesh sizes.
//
// The baseline (EdgeSearchBaseline) is the fastest honest way to do the same work into the
// same kind of memory: a distance and a predecessor array of one entry per vertex, a
// std::priority_queue of (distance, vertex) pairs, the adjacency's own rows and edge
// lengths, stopping when the target is finished. EdgeSearch is the program's
// shortestEdgePath, which also returns the vertex path.
#include "measure/MeshAdjacency.h"
#include "measure/SurfacePath.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <queue>
#include <vector>

namespace {

// A wavy height field of side x side vertices: 2 (side - 1)^2 triangles. Side 1001 gives
// 2,000,000 triangles, side 501 gives 500,000.
struct Surface {
    int nv = 0, nt = 0;
    std::vector<Point3> v;
    std::vector<int> t;
    Objet_data view() const { return Objet_data(&nv, v.data(), &nt, t.data()); }
};

const Surface &surface(int side)
{
    static std::unique_ptr<Surface> cache[2];
    std::unique_ptr<Surface> &s = cache[side > 600 ? 1 : 0];
    if (!s || s->nv != side * side) {
        s.reset(new Surface);
        const float step = 1000.0f / (side - 1);
        for (int j = 0; j < side; ++j)
            for (int i = 0; i < side; ++i) {
                const float x = i * step, y = j * step;
                s->v.emplace_back(x + 0.2f * step * std::sin(0.37f * j), y + 0.2f * step * std::cos(0.53f * i),
                                  20 * std::sin(x / 90) * std::cos(y / 70));
            }
        for (int j = 0; j + 1 < side; ++j)
            for (int i = 0; i + 1 < side; ++i) {
                const int a = j * side + i;
                s->t.insert(s->t.end(), {a, a + 1, a + side + 1, a, a + side + 1, a + side});
            }
        s->nv = side * side;
        s->nt = static_cast<int>(s->t.size() / 3);
    }
    return *s;
}

const MeshAdjacency &adjacency(int side)
{
    static std::unique_ptr<MeshAdjacency> cache[2];
    std::unique_ptr<MeshAdjacency> &a = cache[side > 600 ? 1 : 0];
    if (!a || a->nVertices() != side * side)
        a.reset(new MeshAdjacency(surface(side).view()));
    return *a;
}

constexpr int kSide = 1001;

void AdjacencyBuild(benchmark::State &state)
{
    const Surface &s = surface(kSide);
    for (auto _ : state) {
        MeshAdjacency a(s.view());
        benchmark::DoNotOptimize(a.neighbours());
    }
    state.counters["triangles"] = s.nt;
}

// Opposite corners of the field: the search finishes nearly every vertex.
void EdgeSearch(benchmark::State &state)
{
    const MeshAdjacency &a = adjacency(kSide);
    std::vector<int> path;
    for (auto _ : state) {
        shortestEdgePath(a, 0, a.nVertices() - 1, path);
        benchmark::DoNotOptimize(path.data());
    }
    state.counters["points"] = static_cast<double>(path.size());
}

void EdgeSearchBaseline(benchmark::State &state)
{
    const MeshAdjacency &a = adjacency(kSide);
    const int from = 0, to = a.nVertices() - 1;
    const size_t n = static_cast<size_t>(a.nVertices());
    const size_t *rows = a.neighbourRows();
    const int *next = a.neighbours();
    const float *len = a.lengths();
    float reached = 0;
    for (auto _ : state) {
        std::vector<float> d(n, std::numeric_limits<float>::infinity());
        std::vector<int> pred(n, from);
        using Entry = std::pair<float, int>;
        std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> q;
        d[from] = 0;
        q.push({0.0f, from});
        while (!q.empty()) {
            const auto [du, u] = q.top();
            q.pop();
            if (du != d[u])
                continue;
            if (u == to)
                break;
            for (size_t e = rows[u]; e < rows[u + 1]; ++e)
                if (du + len[e] < d[next[e]]) {
                    d[next[e]] = du + len[e];
                    pred[next[e]] = u;
                    q.push({d[next[e]], next[e]});
                }
        }
        reached = d[to];
        benchmark::DoNotOptimize(pred.data());
    }
    state.counters["distance"] = reached;
}

// Corner to corner across the plane through both and a point high above the field's
// middle: the walk crosses about 2 x side triangles whatever the rest of the mesh holds.
void PlaneWalk(benchmark::State &state)
{
    const int side = static_cast<int>(state.range(0));
    const MeshAdjacency &a = adjacency(side);
    const Point3 eye(500, 500, 5000);
    int points = 0;
    for (auto _ : state) {
        std::unique_ptr<Chemin> path(chemin_plan(a, side, side * side - side - 1, eye));
        if (!path) {
            state.SkipWithError("no plane path");
            break;
        }
        points = path->size();
    }
    state.counters["triangles"] = a.nTriangles();
    state.counters["points"] = points;
}

} // namespace

BENCHMARK(AdjacencyBuild)->Unit(benchmark::kMillisecond);
BENCHMARK(EdgeSearch)->Unit(benchmark::kMillisecond);
BENCHMARK(EdgeSearchBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(PlaneWalk)->Arg(501)->Arg(kSide)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
