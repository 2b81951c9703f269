// Point clouds of 10,000,000 points, against the bare way of doing the same work in the same
// run:
//   load:  GLPointListObject built from a "bin" file (reader with its checks, bounding box;
//          with colours, and with scores whose colours are computed on first draw), against
//          a bare fread of the same bytes (marker, count, coordinates, colours or scores)
//          into the same kind of arrays (LargeArray, huge pages where offered), no checks.
//          Every large array on both sides is a fresh mapping (the allocator is told to map
//          anything from 1 MiB on), so both pay the first touch of their memory, as a viewer
//          opening a cloud does; "faults" counts the page faults of one load on each side.
//   frame: one frame at 1024 x 1024 in the off-screen context (llvmpipe here) of the cloud's
//          own drawing (coloured points, and scored points under a raised threshold), against
//          a bare frame of glDrawArrays(GL_POINTS) from vertex buffers holding the same
//          points and colours, with the same state; the cloud draws every point, as a
//          capture with "capture every point" does. Beside them the frames of the level of
//          detail: a capture at the still budget and a frame of a drag.
// The files (270 MB) are generated at start into a fresh temporary folder (under $TMPDIR, else
// /tmp), read once before timing so that every contender finds them in the page cache, and
// removed at the end. Figures are wall-clock times.
//   build/bench/PointCloudBench
//   build/bench/PointCloudBench --benchmark_filter='Load|Fread'
#define GL_GLEXT_PROTOTYPES 1
#include "objects/GLPointListObject.h"
#include "formats/LargeArray.h"
#include "render/OffscreenContext.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kPoints = 10000000;
constexpr int kSize = 1024;

// A fresh temporary folder for the clouds, removed at the end (empty when none could be made).
std::string &dataDir()
{
    static std::string dir;
    return dir;
}
std::string colourPath() { return dataDir() + "/cloud10m_colours.bin"; }
std::string scorePath() { return dataDir() + "/cloud10m_scores.bin"; }

// A noisy sphere shell of radius 0.8, coloured by position, scored by height.
bool makeFiles()
{
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/velmora-pointcloud.XXXXXX";
    if (!mkdtemp(pattern.data()))
        return false;
    dataDir() = pattern;
    std::vector<float> p(3 * static_cast<size_t>(kPoints));
    std::vector<unsigned char> rgb(3 * static_cast<size_t>(kPoints));
    std::vector<float> score(static_cast<size_t>(kPoints));
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) / 16777216.0;
    };
    for (size_t i = 0; i < static_cast<size_t>(kPoints); ++i) {
        const double z = 2 * next() - 1, phi = 2 * M_PI * next(), r = 0.8 * (0.98 + 0.04 * next());
        const double s = std::sqrt(1 - z * z);
        p[3 * i] = static_cast<float>(r * s * std::cos(phi));
        p[3 * i + 1] = static_cast<float>(r * s * std::sin(phi));
        p[3 * i + 2] = static_cast<float>(r * z);
        for (int k = 0; k < 3; ++k)
            rgb[3 * i + k] = static_cast<unsigned char>(127 + 159 * p[3 * i + k]);
        score[i] = p[3 * i + 2];
    }
    const uint16_t marker = 0x454C;
    const int32_t n = kPoints;
    for (int kind = 0; kind < 2; ++kind) {
        FILE *f = std::fopen((kind ? scorePath() : colourPath()).c_str(), "wb");
        if (!f)
            return false;
        bool ok = std::fwrite(&marker, 2, 1, f) == 1 && std::fwrite(&n, 4, 1, f) == 1 &&
                  std::fwrite(p.data(), 4, p.size(), f) == p.size();
        if (kind)
            ok = ok && std::fwrite(score.data(), 4, score.size(), f) == score.size();
        else
            ok = ok && std::fwrite(rgb.data(), 1, rgb.size(), f) == rgb.size();
        if (std::fclose(f) != 0 || !ok)
            return false;
    }
    return true;
}

void removeFiles()
{
    if (dataDir().empty())
        return;
    std::remove(colourPath().c_str());
    std::remove(scorePath().c_str());
    rmdir(dataDir().c_str());
}

void warm(const std::string &path)
{
    FILE *f = std::fopen(path.c_str(), "rb");
    std::vector<char> buf(1 << 20);
    while (std::fread(buf.data(), 1, buf.size(), f) > 0) {
    }
    std::fclose(f);
}

long pageFaults()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt + usage.ru_majflt;
}

void silence(bool on)
{
    static int saved = -1;
    std::fflush(stdout);
    if (on) {
        saved = dup(1);
        FILE *null = std::fopen("/dev/null", "w");
        dup2(fileno(null), 1);
        std::fclose(null);
    } else if (saved >= 0) {
        dup2(saved, 1);
        close(saved);
        saved = -1;
    }
}

void LoadBin(benchmark::State &state, bool scores)
{
    const std::string path = scores ? scorePath() : colourPath();
    silence(true);
    const long faults = pageFaults();
    for (auto _ : state) {
        GLPointListObject cloud(path.c_str());
        benchmark::DoNotOptimize(cloud.getVertices());
    }
    state.counters["faults"] = static_cast<double>(pageFaults() - faults) / static_cast<double>(state.iterations());
    silence(false);
    state.SetItemsProcessed(state.iterations() * kPoints);
}

// The baseline: the same bytes straight into arrays of the same kind, nothing checked.
void BareFread(benchmark::State &state, bool scores)
{
    const std::string path = scores ? scorePath() : colourPath();
    const long faults = pageFaults();
    for (auto _ : state) {
        FILE *f = std::fopen(path.c_str(), "rb");
        uint16_t marker;
        int32_t n;
        std::fread(&marker, 2, 1, f);
        std::fread(&n, 4, 1, f);
        LargeArray<float> p = allocateLargeArray<float>(3 * static_cast<size_t>(n));
        std::fread(p.get(), 4, 3 * static_cast<size_t>(n), f);
        if (scores) {
            LargeArray<float> v = allocateLargeArray<float>(static_cast<size_t>(n));
            std::fread(v.get(), 4, static_cast<size_t>(n), f);
            benchmark::DoNotOptimize(v.get());
        } else {
            LargeArray<unsigned char> c = allocateLargeArray<unsigned char>(3 * static_cast<size_t>(n));
            std::fread(c.get(), 1, 3 * static_cast<size_t>(n), f);
            benchmark::DoNotOptimize(c.get());
        }
        std::fclose(f);
        benchmark::DoNotOptimize(p.get());
    }
    state.counters["faults"] = static_cast<double>(pageFaults() - faults) / static_cast<double>(state.iterations());
    state.SetItemsProcessed(state.iterations() * kPoints);
}

BENCHMARK_CAPTURE(BareFread, colours, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(LoadBin, colours, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BareFread, scores, true)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(LoadBin, scores, true)->Unit(benchmark::kMillisecond)->UseRealTime();

struct Scene {
    OffscreenContext context;
    std::unique_ptr<GLPointListObject> colours, scores;
    bool ok = false;
    Scene()
    {
        if (!context.create(kSize, kSize)) {
            std::fprintf(stderr, "PointCloudBench: %s\n", context.error().c_str());
            return;
        }
        silence(true);
        colours.reset(new GLPointListObject(colourPath().c_str()));
        scores.reset(new GLPointListObject(scorePath().c_str()));
        colours->buildLevelOfDetail();
        scores->buildLevelOfDetail();
        // A quarter of the range up: the bottom eighth of the shell is hidden.
        for (int i = 0; i < 25; ++i)
            scores->notifyCommand('>');
        silence(false);
        glMatrixMode(GL_PROJECTION);
        glOrtho(-1, 1, -1, 1, -10, 10);
        glMatrixMode(GL_MODELVIEW);
        glEnable(GL_DEPTH_TEST);
        ok = true;
    }
};

Scene &scene()
{
    static Scene s;
    return s;
}

// Every point, as a capture with "capture every point" draws them: the same work as the bare
// frame below.
void CloudFrame(benchmark::State &state, bool scored)
{
    Scene &s = scene();
    if (!s.ok) {
        state.SkipWithError("no off-screen context");
        return;
    }
    GLPointListObject &cloud = scored ? *s.scores : *s.colours;
    FrameContext every = FrameContext::of(FrameContext::Kind::Capture);
    every.points.captureEveryPoint = true;
    // The first frame fills the buffers; the figure is of the frames after it.
    cloud.draw(every);
    glFinish();
    for (auto _ : state) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        cloud.draw(every);
        glFinish();
    }
    state.SetItemsProcessed(state.iterations() * kPoints);
}

// The frames of the level of detail: a capture at the still budget (3,000,000 points), and a
// frame of a drag (400,000); "drawn" counts the points of one frame.
void CloudBudgetFrame(benchmark::State &state, bool drag)
{
    Scene &s = scene();
    if (!s.ok) {
        state.SkipWithError("no off-screen context");
        return;
    }
    GLPointListObject &cloud = *s.colours;
    const FrameContext frame = FrameContext::of(drag ? FrameContext::Kind::Reduced : FrameContext::Kind::Capture);
    cloud.draw(frame);
    glFinish();
    for (auto _ : state) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        cloud.draw(frame);
        glFinish();
    }
    state.counters["drawn"] = static_cast<double>(cloud.getDrawnCount());
}

// The baseline: the same points and colours in buffers, one glDrawArrays a frame.
void BareVertexBufferFrame(benchmark::State &state)
{
    Scene &s = scene();
    if (!s.ok) {
        state.SkipWithError("no off-screen context");
        return;
    }
    GLPointListObject &cloud = *s.colours;
    const size_t n = static_cast<size_t>(cloud.getNVertices());
    GLuint buffers[2];
    glGenBuffers(2, buffers);
    glBindBuffer(GL_ARRAY_BUFFER, buffers[0]);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(n * 3 * sizeof(float)), cloud.getVertices(), GL_STATIC_DRAW);
    glVertexPointer(3, GL_FLOAT, 0, nullptr);
    glBindBuffer(GL_ARRAY_BUFFER, buffers[1]);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(n * 3), cloud.getColors(), GL_STATIC_DRAW);
    glColorPointer(3, GL_UNSIGNED_BYTE, 0, nullptr);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glPushAttrib(GL_ENABLE_BIT | GL_LIGHTING_BIT | GL_CURRENT_BIT | GL_POINT_BIT);
    glDisable(GL_LIGHTING);
    glPointSize(1);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    for (auto _ : state) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glDrawArrays(GL_POINTS, 0, static_cast<GLsizei>(n));
        glFinish();
    }
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_COLOR_ARRAY);
    glPopAttrib();
    glDeleteBuffers(2, buffers);
    state.SetItemsProcessed(state.iterations() * kPoints);
}

BENCHMARK(BareVertexBufferFrame)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(CloudFrame, colours, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(CloudFrame, scores_threshold, true)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(CloudBudgetFrame, still, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(CloudBudgetFrame, drag, true)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    // Large arrays always come fresh from the system on both sides: otherwise the allocator
    // raises its mapping threshold after the first free and later arrays below it (the 30 MB
    // of colours) reuse memory touched by the iteration before.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    benchmark::Initialize(&argc, argv);
    if (!makeFiles()) {
        std::fprintf(stderr, "PointCloudBench: can't write the clouds into a temporary folder\n");
        removeFiles();
        return 1;
    }
    warm(colourPath());
    warm(scorePath());
    // One untimed load of each before the figures: the first large mappings after writing the
    // files wait for the system to gather free huge pages, which would count against whichever
    // contender runs first.
    silence(true);
    for (const std::string &path : {colourPath(), scorePath()})
        GLPointListObject(path.c_str());
    silence(false);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    removeFiles();
    return 0;
}
