// Selections at the sizes users clean, measured as the targets name them:
//   Carve/6000000/100        carving 6,000,000 splat centres against 100 silhouettes of 1024 x 768
//                            (the rule on both cores; it stops at the K-th view outside);
//   CloudRectangle/100000000 a window rectangle over a cloud of 100,000,000 points, from the
//                            mouse's release to the frame that shows the selection marked
//                            (GLPointListObject with its hierarchy, off-screen frame);
//   CloudUndo/100000000      undoing the deletion of half that cloud, up to the next frame
//                            (the index list of the points shown made again).
// The smaller arguments check that the cases run; the full sizes need some 4 GB of memory:
//   build/bench/SelectionBench --benchmark_filter='/(6000000/100|100000000)/'
#include "core/SelectionRules.h"
#include "formats/LargeArray.h"
#include "math/Messages.h"
#include "objects/GLPointListObject.h"
#include "render/OffscreenContext.h"

#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <vector>

namespace {

void fillBall(float *xyz, size_t n)
{
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> u(-1.2f, 1.2f);
    for (size_t i = 0; i < 3 * n; ++i)
        xyz[i] = u(rng);
}

void Carve(benchmark::State &state)
{
    const size_t n = static_cast<size_t>(state.range(0));
    const int nViews = static_cast<int>(state.range(1));
    std::vector<float> xyz(3 * n);
    fillBall(xyz.data(), n);
    const int w = 1024, h = 768;
    // A disc of the unit sphere seen from 5 units (radius about 210 pixels).
    std::vector<unsigned char> mask(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            mask[static_cast<size_t>(y) * w + x] = (x - 512) * (x - 512) + (y - 384) * (y - 384) < 210 * 210;
    std::vector<ViewSight> views(static_cast<size_t>(nViews));
    for (int i = 0; i < nViews; ++i) {
        const float a = 6.283f * static_cast<float>(i) / static_cast<float>(nViews);
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
BENCHMARK(Carve)->Args({60000, 10})->Args({6000000, 100})->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// A cloud of n points with its hierarchy, in a 1024 x 768 off-screen frame looking at it.
struct CloudScene {
    OffscreenContext context;
    std::unique_ptr<GLPointListObject> cloud;
    bool ok = false;
    explicit CloudScene(size_t n)
    {
        if (!context.create(1024, 768)) {
            std::fprintf(stderr, "SelectionBench: %s\n", context.error().c_str());
            return;
        }
        PointListData d;
        d.nPoints = static_cast<int>(n);
        d.points = allocateLargeArray<float>(3 * n);
        d.colors = allocateLargeArray<unsigned char>(3 * n);
        fillBall(d.points.get(), n);
        std::fill(d.colors.get(), d.colors.get() + 3 * n, 128);
        d.bounds.addPoints(d.points.get(), 3 * n);
        CapturingMessageSink quiet;
        ScopedMessageSink scope(quiet);
        cloud = std::make_unique<GLPointListObject>(std::move(d));
        cloud->buildLevelOfDetail();
        glMatrixMode(GL_PROJECTION);
        glOrtho(-2, 2, -1.5, 1.5, -10, 10);
        glMatrixMode(GL_MODELVIEW);
        glEnable(GL_DEPTH_TEST);
        frame(); // remembers the matrices the window tools select by
        ok = true;
    }
    void frame()
    {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        cloud->draw();
        glFinish();
    }
};

CloudScene *cloudOf(benchmark::State &state)
{
    // One cloud a size, made once (the largest takes minutes to build).
    static std::map<size_t, std::unique_ptr<CloudScene>> scenes;
    const size_t n = static_cast<size_t>(state.range(0));
    std::unique_ptr<CloudScene> &s = scenes[n];
    if (!s)
        s = std::make_unique<CloudScene>(n);
    if (!s->ok) {
        state.SkipWithError("no off-screen context");
        return nullptr;
    }
    return s.get();
}

void CloudRectangle(benchmark::State &state)
{
    CloudScene *s = cloudOf(state);
    if (!s)
        return;
    ElementCleaning &cleaning = *s->cloud->getCleaning();
    // The left half of the window, about half the points.
    const std::vector<Point2> shape = {Point2(0, 0), Point2(512, 768)};
    size_t selected = 0;
    for (auto _ : state) {
        cleaning.selectInWindow(shape, false, SelectMode::Replace);
        s->frame();
        state.PauseTiming();
        selected = cleaning.getSelection().count();
        cleaning.clear();
        s->frame();
        state.ResumeTiming();
    }
    state.counters["selected"] = static_cast<double>(selected);
}
BENCHMARK(CloudRectangle)->Arg(1000000)->Arg(100000000)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void CloudUndo(benchmark::State &state)
{
    CloudScene *s = cloudOf(state);
    if (!s)
        return;
    ElementCleaning &cleaning = *s->cloud->getCleaning();
    const size_t n = cleaning.getSelection().size();
    for (auto _ : state) {
        state.PauseTiming();
        cleaning.getSelection().addRange(0, n / 2);
        cleaning.remove();
        s->frame();
        state.ResumeTiming();
        cleaning.undo();
        s->frame();
    }
}
BENCHMARK(CloudUndo)->Arg(1000000)->Arg(100000000)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
