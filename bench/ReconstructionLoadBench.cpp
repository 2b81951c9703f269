// Reading COLMAP sparse models: the text and binary readers on a synthetic model of 300
// photographs and 200,000 points seen 5 times each (about 47 MB of text), against the bare
// work of each encoding: every number of the text through strtod into one array, and the
// binary files' bytes copied into arrays of their size.
//   build/bench/ReconstructionLoadBench
#include "formats/ColmapModel.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

struct Files {
    std::string cameras, images, points;
};

template <class T> void put(std::string &s, T v)
{
    s.append(reinterpret_cast<const char *>(&v), sizeof v); // little-endian machine
}

const Files &model(bool binary)
{
    static Files text, bin;
    Files &f = binary ? bin : text;
    if (!f.images.empty())
        return f;
    const int nImages = 300, nPoints = 200000, track = 5;
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<std::vector<int64_t>> observed(nImages);
    std::vector<std::vector<std::pair<int, int>>> tracks(nPoints);
    for (int p = 0; p < nPoints; ++p)
        for (int k = 0; k < track; ++k) {
            const int v = static_cast<int>((p * 7 + k * 61) % nImages);
            tracks[p].emplace_back(v + 1, static_cast<int>(observed[v].size()));
            observed[v].push_back(p + 1);
        }
    char line[256];
    if (binary) {
        put<uint64_t>(f.cameras, 1);
        put<uint32_t>(f.cameras, 1);
        put<int32_t>(f.cameras, 1);
        put<uint64_t>(f.cameras, 4000);
        put<uint64_t>(f.cameras, 3000);
        for (double v : {3000.0, 3000.0, 2000.0, 1500.0})
            put(f.cameras, v);
        put<uint64_t>(f.images, nImages);
        for (int i = 0; i < nImages; ++i) {
            put<uint32_t>(f.images, i + 1);
            for (double v : {1.0, 0.0, 0.0, 0.0, 0.01 * i, 0.0, 5.0})
                put(f.images, v);
            put<uint32_t>(f.images, 1);
            std::snprintf(line, sizeof line, "img%04d.jpg", i);
            f.images += line;
            f.images += '\0';
            put<uint64_t>(f.images, observed[i].size());
            for (int64_t id : observed[i]) {
                put(f.images, unit(rng) * 4000);
                put(f.images, unit(rng) * 3000);
                put(f.images, id);
            }
        }
        put<uint64_t>(f.points, nPoints);
        for (int p = 0; p < nPoints; ++p) {
            put<uint64_t>(f.points, p + 1);
            for (int k = 0; k < 3; ++k)
                put(f.points, unit(rng));
            for (uint8_t c : {10, 20, 30})
                put(f.points, c);
            put(f.points, 0.5);
            put<uint64_t>(f.points, tracks[p].size());
            for (auto &o : tracks[p]) {
                put<uint32_t>(f.points, o.first);
                put<uint32_t>(f.points, o.second);
            }
        }
        return f;
    }
    f.cameras = "1 PINHOLE 4000 3000 3000 3000 2000 1500\n";
    for (int i = 0; i < nImages; ++i) {
        std::snprintf(line, sizeof line, "%d 1 0 0 0 %f 0 5 1 img%04d.jpg\n", i + 1, 0.01 * i, i);
        f.images += line;
        for (int64_t id : observed[i]) {
            std::snprintf(line, sizeof line, "%f %f %lld ", unit(rng) * 4000, unit(rng) * 3000,
                          static_cast<long long>(id));
            f.images += line;
        }
        f.images += "\n";
    }
    for (int p = 0; p < nPoints; ++p) {
        std::snprintf(line, sizeof line, "%d %f %f %f 10 20 30 0.5", p + 1, unit(rng), unit(rng), unit(rng));
        f.points += line;
        for (auto &o : tracks[p]) {
            std::snprintf(line, sizeof line, " %d %d", o.first, o.second);
            f.points += line;
        }
        f.points += "\n";
    }
    return f;
}

void BM_ColmapText(benchmark::State &state)
{
    const Files &f = model(false);
    for (auto _ : state) {
        Reconstruction r = ColmapModel::parseText(f.cameras, f.images, f.points);
        benchmark::DoNotOptimize(r.points.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(f.images.size() + f.points.size()));
}

// Every number of the text through strtod, into one array.
void BM_ColmapTextBaseline(benchmark::State &state)
{
    const Files &f = model(false);
    for (auto _ : state) {
        std::vector<double> numbers;
        numbers.reserve((f.images.size() + f.points.size()) / 4);
        for (const std::string *s : {&f.images, &f.points}) {
            const char *p = s->c_str();
            while (*p) {
                char *end;
                const double v = std::strtod(p, &end);
                if (end == p) {
                    ++p; // a name or a separator
                    continue;
                }
                numbers.push_back(v);
                p = end;
            }
        }
        benchmark::DoNotOptimize(numbers.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(f.images.size() + f.points.size()));
}

void BM_ColmapBinary(benchmark::State &state)
{
    const Files &f = model(true);
    for (auto _ : state) {
        Reconstruction r = ColmapModel::parseBinary(f.cameras, f.images, f.points);
        benchmark::DoNotOptimize(r.points.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(f.images.size() + f.points.size()));
}

// The files' bytes copied into arrays of their size.
void BM_ColmapBinaryBaseline(benchmark::State &state)
{
    const Files &f = model(true);
    for (auto _ : state) {
        std::vector<char> a(f.images.begin(), f.images.end()), b(f.points.begin(), f.points.end());
        benchmark::DoNotOptimize(a.data());
        benchmark::DoNotOptimize(b.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(f.images.size() + f.points.size()));
}

} // namespace

BENCHMARK(BM_ColmapText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ColmapTextBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ColmapBinary)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ColmapBinaryBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
