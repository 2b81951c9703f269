// Gaussian splat scenes of 1,000,000 splats of degree 3 (248 MB), against the bare way of
// doing the same work in the same run:
//   read:  SplatReader::read of the file (header, checks, activations, SH in 8 bits),
//          against a bare fread of the same bytes into a float array of the same size.
//   still: one frame of every splat at 512 x 512 by the CPU rasteriser (2 threads).
//   lod:   the build of the stand-in a drag draws (150,000 merged splats), in the background
//          in the viewer.
//   drag:  the frame a drag draws: that stand-in at half the resolution; and the frame of an
//          even sample of as many splats, what a drag draws until the stand-in is built.
// VELMORA_BENCH_SPLATS sets another number of splats.
// The scene is splats on a torus seen whole from 12 units away, each about as large as the
// spacing of its neighbours, as a trained scene is. The file is written at start into
// $TMPDIR (else /tmp), read once before timing so that both readers find it in the page
// cache, and removed at the end (a child process writes it). The bare read runs last, so that
// its buffer of the whole file is not in the peak memory of the others. "CPU" is the time of all the process's threads (on a busy
// machine, a quiet machine's time with both cores is near half of it). "peak_rss_MB" is the process's peak resident memory so far.
//   build/bench/SplatBench
//   build/bench/SplatBench --benchmark_filter='Read|Fread'
#include "formats/SplatReader.h"
#include "formats/SplatWriter.h"
#include "objects/GLSplatObject.h"
#include "synthesis/SplatLod.h"
#include "synthesis/SplatRaster.h"

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

// VELMORA_BENCH_SPLATS splats, 1,000,000 unless it says otherwise.
const size_t kSplats = [] {
    const char *n = std::getenv("VELMORA_BENCH_SPLATS");
    return n && std::atol(n) > 0 ? static_cast<size_t>(std::atol(n)) : size_t(1000000);
}();

std::string scenePath()
{
    const char *dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/velmora_splat_bench_" + std::to_string(getpid()) + ".ply";
}

struct SceneFile {
    std::string path = scenePath();
    SceneFile()
    {
        // Written by a child process, so that the values it builds do not count in this
        // process's peak memory.
        const pid_t child = fork();
        if (child < 0) {
            std::fprintf(stderr, "SplatBench: cannot fork\n");
            std::exit(1);
        }
        if (child == 0)
            _exit(write() ? 0 : 1);
        int status = 0;
        if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "SplatBench: cannot write %s\n", path.c_str());
            std::exit(1);
        }
        // Into the page cache for every contender.
        std::vector<char> buffer(1 << 24);
        FILE *f = std::fopen(path.c_str(), "rb");
        while (f && std::fread(buffer.data(), 1, buffer.size(), f) == buffer.size()) {
        }
        if (f)
            std::fclose(f);
    }
    bool write() const
    {
        std::mt19937 rng(3);
        std::uniform_real_distribution<float> u(0, 1);
        const double pi = 3.14159265358979323846;
        const double area = 4 * pi * pi * 3 * 1; // torus of radii 3 and 1
        const float spacing = static_cast<float>(std::sqrt(area / kSplats));
        std::vector<float> v;
        v.reserve(kSplats * SplatWriter::valuesPerSplat(3));
        for (size_t k = 0; k < kSplats; ++k) {
            const double a = 2 * pi * u(rng), b = 2 * pi * u(rng);
            const double ring = 3 + std::cos(b);
            v.insert(v.end(), {static_cast<float>(ring * std::cos(a)), static_cast<float>(ring * std::sin(a)),
                               static_cast<float>(std::sin(b)), 0, 0, 1});
            v.insert(v.end(), {static_cast<float>(std::cos(a)), static_cast<float>(std::sin(b)), 0.5f});
            for (int r = 0; r < 45; ++r)
                v.push_back(0.05f * (u(rng) - 0.5f));
            v.insert(v.end(), {4 * u(rng) - 1, std::log(spacing * (0.5f + u(rng))), std::log(spacing * (0.5f + u(rng))),
                               std::log(0.2f * spacing)});
            v.insert(v.end(), {u(rng) - 0.5f, u(rng) - 0.5f, u(rng) - 0.5f, u(rng) - 0.5f});
        }
        return SplatWriter::write(path, 3, v);
    }
    ~SceneFile() { std::remove(path.c_str()); }
};

SceneFile &file()
{
    static SceneFile f;
    return f;
}

double peakMB()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_maxrss) / 1024;
}

void BM_SplatRead(benchmark::State &state)
{
    file(); // written before the clock runs
    for (auto _ : state) {
        SplatScene s = SplatReader::read(file().path.c_str());
        benchmark::DoNotOptimize(s.position.data());
    }
    state.counters["peak_rss_MB"] = peakMB();
}

void BM_BareFread(benchmark::State &state)
{
    file();
    for (auto _ : state) {
        FILE *f = std::fopen(file().path.c_str(), "rb");
        std::fseek(f, 0, SEEK_END);
        const size_t size = static_cast<size_t>(std::ftell(f));
        std::fseek(f, 0, SEEK_SET);
        std::vector<float> v(size / 4);
        benchmark::DoNotOptimize(std::fread(v.data(), 1, size, f));
        std::fclose(f);
    }
}

SplatCamera benchCamera()
{
    SplatCamera cam;
    // 12 units from the centre, 30 degrees above the torus's plane, looking at the centre.
    const double e = 0.5236, c = std::cos(e), s = std::sin(e);
    const double R[9] = {1, 0, 0, 0, -s, -c, 0, c, -s};
    std::copy(R, R + 9, cam.R);
    cam.t[2] = 12;
    cam.width = cam.height = 512;
    cam.fx = cam.fy = 600;
    cam.cx = cam.cy = 256;
    return cam;
}

GLSplatObject &object()
{
    static GLSplatObject o(file().path.c_str());
    return o;
}

void BM_SplatStillFrame(benchmark::State &state)
{
    GLSplatObject &o = object();
    const SplatCamera cam = benchCamera();
    size_t drawn = 0;
    for (auto _ : state)
        drawn = o.render(cam).drawn;
    state.counters["splats_drawn"] = static_cast<double>(drawn);
    state.counters["peak_rss_MB"] = peakMB();
}

void BM_SplatDragFrame(benchmark::State &state)
{
    GLSplatObject &o = object();
    const SplatCamera cam = benchCamera();
    o.waitForLevelOfDetail(); // built in the background in the viewer
    size_t drawn = 0;
    for (auto _ : state)
        drawn = o.render(cam, true).drawn;
    state.counters["splats_drawn"] = static_cast<double>(drawn);
}

// The drag frame of an even sample of as many splats (what a drag draws until the stand-in is
// built): the stand-in's cost against a subset's.
void BM_SplatDragSampleFrame(benchmark::State &state)
{
    GLSplatObject &o = object();
    SplatCamera cam = benchCamera();
    cam.width = cam.height = 256;
    cam.fx = cam.fy = 300;
    cam.cx = cam.cy = 128;
    std::vector<uint32_t> sample(GLSplatObject::DRAG_BUDGET);
    for (size_t k = 0; k < sample.size(); ++k)
        sample[k] = static_cast<uint32_t>(k * o.getScene().count / sample.size());
    SplatRasterOptions options;
    options.shDegree = 3;
    options.subset = &sample;
    size_t drawn = 0;
    for (auto _ : state)
        drawn = SplatRaster::render(o.getScene(), cam, options).drawn;
    state.counters["splats_drawn"] = static_cast<double>(drawn);
}

void BM_SplatLevelOfDetail(benchmark::State &state)
{
    GLSplatObject &o = object();
    size_t made = 0;
    for (auto _ : state)
        made = SplatLod::build(o.getScene(), GLSplatObject::DRAG_BUDGET).count;
    state.counters["splats"] = static_cast<double>(made);
}

} // namespace

BENCHMARK(BM_SplatRead)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_SplatStillFrame)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_SplatLevelOfDetail)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(BM_SplatDragFrame)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_SplatDragSampleFrame)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_BareFread)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK_MAIN();
