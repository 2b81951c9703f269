// The level-of-detail hierarchy of a dense cloud: PointLod::buildInPlace on 2 threads over
// a 20,000,000-point coloured shell (the cloud of make_dense_cloud, generated in memory),
// against the bare least a reader of the same cloud does: its point data (positions and
// colours) copied into fresh LargeArrays. Both pay for fresh memory (the hierarchy for its
// order). The viewer's target is the hierarchy within 2 x the time of reading the file.
//
// Then the whole way from the bytes of the binary PLY (in memory) to the hierarchy, as the
// viewer goes: read in the file's order and sorted into cells by the hierarchy, against read
// grouped by cells and the groups ordered. The counters give the read, the hierarchy and
// their ratio (medians of the iterations' own times).
//   build/bench/PointLodBench
#include "formats/LargeArray.h"
#include "formats/PlyReader.h"
#include "objects/PointLod.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr size_t kPoints = 20000000;

struct Shell {
    LargeArray<float> xyz = allocateLargeArray<float>(3 * kPoints);
    LargeArray<unsigned char> rgb = allocateLargeArray<unsigned char>(3 * kPoints);
    Shell()
    {
        uint64_t state = 0x243F6A8885A308D3ull;
        const auto uniform = [&state] {
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            return static_cast<double>(state >> 11) / 9007199254740992.0;
        };
        for (size_t i = 0; i < kPoints; ++i) {
            const double z = 2 * uniform() - 1, a = 6.283185307179586 * uniform();
            const double s = std::sqrt(1 - z * z), r = 1 + 0.05 * std::sin(9 * a) * std::cos(7 * z);
            const float p[3] = {static_cast<float>(r * s * std::cos(a)), static_cast<float>(r * s * std::sin(a)),
                                static_cast<float>(r * z)};
            for (int k = 0; k < 3; ++k) {
                xyz[3 * i + static_cast<size_t>(k)] = p[k];
                rgb[3 * i + static_cast<size_t>(k)] = static_cast<unsigned char>(127 + 127 * p[k]);
            }
        }
    }
};

Shell &shell()
{
    static Shell s;
    return s;
}

void BM_BareCopyOfThePointData(benchmark::State &state)
{
    const Shell &s = shell();
    for (auto _ : state) {
        LargeArray<float> xyz = allocateLargeArray<float>(3 * kPoints);
        LargeArray<unsigned char> rgb = allocateLargeArray<unsigned char>(3 * kPoints);
        std::memcpy(xyz.get(), s.xyz.get(), 12 * kPoints);
        std::memcpy(rgb.get(), s.rgb.get(), 3 * kPoints);
        benchmark::DoNotOptimize(xyz.get());
        benchmark::DoNotOptimize(rgb.get());
    }
}
BENCHMARK(BM_BareCopyOfThePointData)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_HierarchyOfTheShell(benchmark::State &state)
{
    const Shell &s = shell();
    // Each build reorders a fresh copy in the file's order, as the viewer's does.
    LargeArray<float> xyz = allocateLargeArray<float>(3 * kPoints);
    LargeArray<unsigned char> rgb = allocateLargeArray<unsigned char>(3 * kPoints);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(xyz.get(), s.xyz.get(), 12 * kPoints);
        std::memcpy(rgb.get(), s.rgb.get(), 3 * kPoints);
        state.ResumeTiming();
        PointLodArrays cloud;
        cloud.xyz = xyz.get();
        cloud.rgb = rgb.get();
        const PointLod lod = PointLod::buildInPlace(cloud, kPoints, 2);
        benchmark::DoNotOptimize(lod.nodes.data());
    }
}
BENCHMARK(BM_HierarchyOfTheShell)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

const std::string &plyFile()
{
    static const std::string bytes = [] {
        const Shell &s = shell();
        std::string b = "ply\nformat binary_little_endian 1.0\nelement vertex " + std::to_string(kPoints) +
                        "\nproperty float x\nproperty float y\nproperty float z\n"
                        "property uchar red\nproperty uchar green\nproperty uchar blue\nend_header\n";
        b.reserve(b.size() + 15 * kPoints);
        for (size_t i = 0; i < kPoints; ++i) {
            b.append(reinterpret_cast<const char *>(&s.xyz[3 * i]), 12);
            b.append(reinterpret_cast<const char *>(&s.rgb[3 * i]), 3);
        }
        return b;
    }();
    return bytes;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void readThenHierarchy(benchmark::State &state, size_t groupFrom)
{
    const std::string &file = plyFile();
    std::vector<double> read, built;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        ForeignModel m = PlyReader::read(file.data(), file.size(), "", groupFrom);
        const auto t1 = std::chrono::steady_clock::now();
        PointLodArrays cloud;
        cloud.xyz = m.points.points.get();
        cloud.rgb = m.points.colors.get();
        const PointLod lod =
            PointLod::buildInPlace(cloud, kPoints, 2, nullptr, PointLod::kSpillBytes, &m.points.cellOrder);
        const auto t2 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(lod.nodes.data());
        read.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        built.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
    }
    state.counters["read_ms"] = median(read);
    state.counters["hierarchy_ms"] = median(built);
    state.counters["ratio"] = median(built) / median(read);
}

void BM_PlyReadThenCellSortAndHierarchy(benchmark::State &state) { readThenHierarchy(state, 0); }
BENCHMARK(BM_PlyReadThenCellSortAndHierarchy)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_PlyReadInCellGroupsThenHierarchy(benchmark::State &state) { readThenHierarchy(state, 1); }
BENCHMARK(BM_PlyReadInCellGroupsThenHierarchy)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace

BENCHMARK_MAIN();
