// Selections by rule at the sizes users clean: carving 6,000,000 splat centres against 100
// silhouettes of 1024 x 768, a window rectangle over a large cloud, and undoing a deletion.
// The bare baseline of carving is one projection and one mask read a centre and a view, which
// the rule does on both cores; it stops at the K-th view outside.
#include "core/ElementEdits.h"
#include "core/SelectionRules.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

std::vector<float> ball(size_t n)
{
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> u(-1.2f, 1.2f);
    std::vector<float> xyz(3 * n);
    for (float &v : xyz)
        v = u(rng);
    return xyz;
}

void Carve(benchmark::State &state)
{
    const size_t n = 6000000;
    static const std::vector<float> xyz = ball(n);
    const int w = 1024, h = 768;
    // A disc of the unit sphere seen from 5 units (radius about 210 pixels).
    static std::vector<unsigned char> mask;
    if (mask.empty()) {
        mask.resize(static_cast<size_t>(w) * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                mask[static_cast<size_t>(y) * w + x] = (x - 512) * (x - 512) + (y - 384) * (y - 384) < 210 * 210;
    }
    std::vector<ViewSight> views(100);
    for (int i = 0; i < 100; ++i) {
        const float a = 0.0628f * static_cast<float>(i);
        ViewSight &v = views[static_cast<size_t>(i)];
        // Looking at the origin from (5 sin a, 0, -5 cos a).
        v.R = Matrix3(Point3(std::cos(a), 0, -std::sin(a)), Point3(0, 1, 0), Point3(std::sin(a), 0, std::cos(a)));
        v.t = Point3(0, 0, 5);
        v.fx = v.fy = 1024;
        v.cx = 512;
        v.cy = 384;
        v.width = w;
        v.height = h;
        v.mask = mask.data();
        v.maskWidth = w;
        v.maskHeight = h;
    }
    for (auto _ : state) {
        ElementSelection s;
        SelectionRules::carve(xyz.data(), n, views, 3, s, SelectMode::Replace);
        benchmark::DoNotOptimize(s.count());
    }
}
BENCHMARK(Carve)->Unit(benchmark::kMillisecond)->Iterations(3);

void Rectangle(benchmark::State &state)
{
    const size_t n = static_cast<size_t>(state.range(0));
    const std::vector<float> xyz = ball(n);
    const float mvp[16] = {0.5f, 0, 0, 0, 0, 0.5f, 0, 0, 0, 0, 0.5f, 0, 0, 0, 0, 1};
    for (auto _ : state) {
        ElementSelection s;
        SelectionRules::rectangle(xyz.data(), n, mvp, 1024, 768, Point2(100, 100), Point2(600, 500), s,
                                  SelectMode::Replace);
        benchmark::DoNotOptimize(s.count());
    }
}
BENCHMARK(Rectangle)->Arg(20000000)->Unit(benchmark::kMillisecond)->Iterations(3);

void UndoDelete(benchmark::State &state)
{
    const size_t n = 100000000;
    ElementEdits edits(n);
    ElementSelection half(n);
    half.addRange(0, n / 2);
    for (auto _ : state) {
        state.PauseTiming();
        edits.remove(half);
        state.ResumeTiming();
        edits.undo();
    }
}
BENCHMARK(UndoDelete)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
