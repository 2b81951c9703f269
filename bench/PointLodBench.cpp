// The level-of-detail hierarchy of a dense cloud: PointLod::buildInPlace on 2 threads over
// a 20,000,000-point coloured shell (the cloud of make_dense_cloud, generated in memory),
// against the bare least a reader of the same cloud does: its point data (positions and
// colours) copied into fresh LargeArrays. Both pay for fresh memory (the hierarchy for its
// order). The viewer's target is the hierarchy within 2 x the time of reading the file.
//   build/bench/PointLodBench
#include "formats/LargeArray.h"
#include "objects/PointLod.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>

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

} // namespace

BENCHMARK_MAIN();
