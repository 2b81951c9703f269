// Distances from 1,000,000 points to a 1,000,000-triangle mesh, the hierarchy built in the
// timing (counter cpu_s: the CPU seconds of all threads): the mesh a rippled torus of 1000 x 500 vertices, the points the vertices of another
// torus of 1000 x 1000 with other ripples, as two reconstructions of one object are.
//
//   build/bench/SurfaceDistanceBench
#include "math/SurfaceDistance.h"
#include "math/TriangleBVH.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cmath>
#include <vector>

namespace {

// CPU seconds of every thread of the process: less disturbed by a busy machine than the wall
// clock.
double cpuSeconds()
{
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           1e-6 * static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

void torus(int around, int across, double ripple, std::vector<float> &v, std::vector<int> *t)
{
    const double pi = 3.14159265358979323846;
    for (int j = 0; j < across; ++j)
        for (int i = 0; i < around; ++i) {
            const double u = 2 * pi * i / around, w = 2 * pi * j / across;
            const double r = 1 + ripple * std::sin(7 * u) * std::cos(5 * w);
            v.push_back(static_cast<float>((3 + r * std::cos(w)) * std::cos(u)));
            v.push_back(static_cast<float>((3 + r * std::cos(w)) * std::sin(u)));
            v.push_back(static_cast<float>(r * std::sin(w)));
        }
    if (!t)
        return;
    for (int j = 0; j < across; ++j)
        for (int i = 0; i < around; ++i) {
            const int a = j * around + i, b = j * around + (i + 1) % around;
            const int c = ((j + 1) % across) * around + (i + 1) % around, d = ((j + 1) % across) * around + i;
            t->insert(t->end(), {a, b, c, a, c, d});
        }
}

void DistancesMillionToMillion(benchmark::State &state)
{
    std::vector<float> meshVertices, points;
    std::vector<int> triangles;
    torus(1000, 500, 0.05, meshVertices, &triangles);
    torus(1000, 1000, 0.06, points, nullptr);
    double mean = 0;
    const double cpu = cpuSeconds();
    for (auto _ : state) {
        const TriangleBVH bvh(meshVertices.data(), meshVertices.size() / 3, triangles.data(), triangles.size() / 3);
        std::vector<float> d;
        surfaceDistances(bvh, points.data(), points.size() / 3, INFINITY, d);
        double sum = 0;
        for (float x : d)
            sum += x;
        mean = sum / static_cast<double>(d.size());
        benchmark::DoNotOptimize(mean);
    }
    state.counters["cpu_s"] = (cpuSeconds() - cpu) / static_cast<double>(state.iterations());
    state.counters["triangles"] = static_cast<double>(triangles.size() / 3);
    state.counters["points"] = static_cast<double>(points.size() / 3);
    state.counters["mean distance"] = mean;
}
BENCHMARK(DistancesMillionToMillion)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)
    ->ReportAggregatesOnly(true);

// The same with signed distances, as the panel's "Distance to..." measures them: the hierarchy,
// the orientation check and the pseudo-normals all in the timing.
void SignedDistancesMillionToMillion(benchmark::State &state)
{
    std::vector<float> meshVertices, points;
    std::vector<int> triangles;
    torus(1000, 500, 0.05, meshVertices, &triangles);
    torus(1000, 1000, 0.06, points, nullptr);
    const double cpu = cpuSeconds();
    bool oriented = false;
    for (auto _ : state) {
        const SurfaceDistance surface(meshVertices.data(), meshVertices.size() / 3, triangles.data(),
                                      triangles.size() / 3);
        std::vector<float> d;
        surface.distances(points.data(), points.size() / 3, INFINITY, d);
        oriented = surface.isSigned();
        benchmark::DoNotOptimize(d.data());
    }
    state.counters["cpu_s"] = (cpuSeconds() - cpu) / static_cast<double>(state.iterations());
    state.counters["signed"] = oriented ? 1 : 0;
}
BENCHMARK(SignedDistancesMillionToMillion)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)
    ->ReportAggregatesOnly(true);

// The hierarchy alone, to tell its share of the time above.
void HierarchyMillionTriangles(benchmark::State &state)
{
    std::vector<float> meshVertices;
    std::vector<int> triangles;
    torus(1000, 500, 0.05, meshVertices, &triangles);
    for (auto _ : state) {
        const TriangleBVH bvh(meshVertices.data(), meshVertices.size() / 3, triangles.data(), triangles.size() / 3);
        benchmark::DoNotOptimize(bvh.nodeCount());
    }
}
BENCHMARK(HierarchyMillionTriangles)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)
    ->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
