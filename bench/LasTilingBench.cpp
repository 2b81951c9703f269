// Making a LAS or LAZ file too large for the point memory into a hierarchy (LasTiling::tilesOf,
// as the viewer does on opening it), into a fresh cache folder under $TMPDIR each time:
//   las   a dense shell of VELMORA_TILING_POINTS points (default 20,000,000; 520 MB), written
//         once by make_dense_cloud
//   laz   lone-star.laz of tests/data/laz (518,862 points of format 1 in 11 chunks)
// The baseline is the whole read of the same file into memory (LasReader::read, both cores
// for a LAZ file's chunks): the least a making must do before it sorts and writes the points.
// Quiet machine, medians of the command below, millions of points a second:
//   las: 4.07 with the parts read on the thread that sorts them, 5.24 with each part read on a
//        thread of its own while the one before is sorted, 5.57 with the sorted records copied
//        into fixed buffers (whole read 62.1)
//   laz: 3.12, then 5.13, then 5.40 (whole read on both cores 14.2)
// Another day, the code before and after the first levels' grid words are asked for ahead (run
// one after the other): las 4.60 and 6.89 (whole read 59.4 and 61.0), laz 3.69 and 3.76 (14.4
// and 14.2). Half a million points are too few to weigh the laz row: creating and removing
// the making's few hundred files takes most of its time (the file system's block and inode
// lookups, seen with perf).
// Later, the code before and after two parts ahead are read and made ready (their records and
// places in the first levels) on threads of their own while the one before is sorted, and the
// cubes below made two at a time (one after the other, medians of 5): las 6.36 and 8.29 (whole
// read 52.6 and 62.7); peak memory of a 20M-point making at 64 MB of point memory 225,368 and
// 222,732 KB. The laz row ranged from 3.4 to 5.7 in both, run after run.
//   TMPDIR=<a folder with 2 GB free> build/bench/LasTilingBench --benchmark_repetitions=3
//     --benchmark_report_aggregates_only=true   (one command)
#include "formats/LasReader.h"
#include "formats/LasTiling.h"
#include "math/Messages.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace {

std::string scratch()
{
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp ? tmp : "/tmp") + "/velmora-tiling.XXXXXX";
    return mkdtemp(&pattern[0]) ? pattern : std::string();
}

struct Input {
    std::string dir = scratch(), path;
    long long points = 0;
    explicit Input(const std::string &kind)
    {
        if (kind == "laz") {
            path = std::string(VELMORA_SOURCE_DIR) + "/tests/data/laz/lone-star.laz";
            points = 518862;
            return;
        }
        const char *n = std::getenv("VELMORA_TILING_POINTS");
        points = n ? std::atoll(n) : 20000000;
        path = dir + "/dense.las";
        const std::string make = std::string(VELMORA_BINARY_DIR) + "/make_dense_cloud " + path + " " + std::to_string(points);
        if (std::system(make.c_str()) != 0)
            std::abort();
    }
    ~Input() { std::filesystem::remove_all(dir); }
};

Input &input(const std::string &kind)
{
    static std::unique_ptr<Input> las, laz;
    std::unique_ptr<Input> &in = kind == "laz" ? laz : las;
    if (!in)
        in = std::make_unique<Input>(kind);
    return *in;
}

void tile(benchmark::State &state, const char *kind)
{
    Input &in = input(kind);
    CapturingMessageSink quiet;
    ScopedMessageSink scope(quiet);
    for (auto _ : state) {
        const std::string cache = in.dir + "/cache";
        benchmark::DoNotOptimize(LasTiling::tilesOf(in.path, cache, size_t(750) << 20));
        state.PauseTiming();
        std::filesystem::remove_all(cache);
        state.ResumeTiming();
    }
    state.counters["Mpoints/s"] =
        benchmark::Counter(static_cast<double>(in.points) * 1e-6, benchmark::Counter::kIsIterationInvariantRate);
}

void whole(benchmark::State &state, const char *kind)
{
    Input &in = input(kind);
    CapturingMessageSink quiet;
    ScopedMessageSink scope(quiet);
    for (auto _ : state)
        benchmark::DoNotOptimize(LasReader::read(in.path.c_str()).points.get());
    state.counters["Mpoints/s"] =
        benchmark::Counter(static_cast<double>(in.points) * 1e-6, benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK_CAPTURE(tile, las, "las")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(whole, las, "las")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(tile, laz, "laz")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(whole, laz, "laz")->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
