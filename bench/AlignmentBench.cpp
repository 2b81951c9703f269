// Alignment of a reconstruction's cameras onto reference cameras: 10,000 views matched by
// photograph name, a tenth of them thrown far off, fitted and measured as velmora-align does
// (file reading left out).
//
//   build/bench/AlignmentBench
#include "formats/CameraPoses.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <string>

namespace {

void makeSets(int n, CameraPoses &reference, CameraPoses &model)
{
    std::mt19937 random(5);
    std::uniform_real_distribution<double> u(-1, 1);
    const Mat3d R = rotationAbout({0.6, 0.0, 0.8}, 0.7);
    for (int i = 0; i < n; ++i) {
        CameraPose r, m;
        r.name = m.name = "view" + std::to_string(i) + ".jpg";
        const double a = 0.001 * i;
        r.centre = {20 * std::cos(a) + u(random), 5 * u(random), 20 * std::sin(a)};
        r.R = rotationAbout({0, 1, 0}, a);
        m.centre = {0.5 * r.centre[2] + 1, 0.5 * r.centre[0] - 2, 0.5 * r.centre[1]};
        if (i % 10 == 3)
            m.centre[0] += 50 * u(random);
        m.R = multiply(r.R, R);
        reference.views.push_back(r);
        model.views.push_back(m);
    }
}

void AlignTenThousandViews(benchmark::State &state)
{
    CameraPoses reference, model;
    makeSets(10000, reference, model);
    for (auto _ : state) {
        const CameraAlignment a = alignCameraPoses(reference, model);
        if (!a.ok())
            state.SkipWithError(a.refusal().c_str());
        benchmark::DoNotOptimize(a.fit.transform.s);
    }
}
BENCHMARK(AlignTenThousandViews)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
