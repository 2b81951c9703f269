// Reading one scene of 1,000,000 splats of degree 3 in each format against the trainer's PLY
// of the same scene (the bare baseline: SplatReader, which runs at close to fread's speed; see
// SplatBench). The files are written at start into $TMPDIR (else /tmp) by our own writers
// (PLY, SPZ 3) or by plain code here (.splat, .glb of KHR_gaussian_splatting), read once
// before timing so that each is in the page cache, and removed at the end. Compressed PLY and
// SOG have no writer of ours: time a converter's file of a real scene with
//   build/bench/SplatFormatBench --benchmark_filter=File -- FILE...
// (any format the viewer reads, given after "--").
//   build/bench/SplatFormatBench
#include "formats/DotSplatReader.h"
#include "formats/GltfSplatReader.h"
#include "formats/SplatFile.h"
#include "formats/SplatReader.h"
#include "formats/SpzReader.h"
#include "formats/SpzWriter.h"
#include "formats/WholeFile.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr size_t kSplats = 1000000;

std::string tempPath(const char *ext)
{
    const char *dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/velmora_format_bench_" + std::to_string(getpid()) + ext;
}

SplatScene makeScene()
{
    std::mt19937 rng(35);
    std::uniform_real_distribution<float> u(-1, 1);
    SplatScene s;
    s.resize(kSplats, 3);
    for (size_t i = 0; i < kSplats; ++i) {
        for (int k = 0; k < 3; ++k) {
            s.position[3 * i + k] = 5 * u(rng);
            s.scale[3 * i + k] = 0.01f * (1.5f + u(rng));
            s.dc[3 * i + k] = u(rng);
        }
        s.opacity[i] = 0.5f + 0.49f * u(rng);
        float *q = &s.rotation[4 * i];
        double n = 0;
        for (int k = 0; k < 4; ++k) {
            q[k] = u(rng);
            n += q[k] * q[k];
        }
        for (int k = 0; k < 4; ++k)
            q[k] = static_cast<float>(q[k] / std::sqrt(n));
        float rest[45];
        for (float &r : rest)
            r = 0.05f * u(rng);
        s.setRest(i, rest);
    }
    return s;
}

std::string dotSplat(const SplatScene &s)
{
    std::string out(32 * s.count, '\0');
    const auto byte = [](double v) { return static_cast<char>(std::lround(std::fmin(255, std::fmax(0, v)))); };
    for (size_t i = 0; i < s.count; ++i) {
        char *p = &out[32 * i];
        std::memcpy(p, &s.position[3 * i], 12);
        std::memcpy(p + 12, &s.scale[3 * i], 12);
        for (int k = 0; k < 3; ++k)
            p[24 + k] = byte((0.5 + 0.28209479177387814 * s.dc[3 * i + k]) * 255);
        p[27] = byte(s.opacity[i] * 255);
        for (int k = 0; k < 4; ++k)
            p[28 + k] = byte(s.rotation[4 * i + k] * 128 + 128);
    }
    return out;
}

// The glTF form: float attributes, one buffer view each (the axes are not turned: this times
// reading, not the scene's look).
std::string glb(const SplatScene &s)
{
    using json = nlohmann::json;
    std::string bin;
    json views = json::array(), accessors = json::array(), attributes = json::object();
    const auto add = [&](const std::string &name, const char *type, size_t components, auto value) {
        const size_t offset = bin.size();
        for (size_t i = 0; i < s.count; ++i)
            for (size_t c = 0; c < components; ++c) {
                const float v = value(i, c);
                bin.append(reinterpret_cast<const char *>(&v), 4);
            }
        views.push_back({{"buffer", 0}, {"byteOffset", offset}, {"byteLength", bin.size() - offset}});
        accessors.push_back({{"bufferView", views.size() - 1}, {"componentType", 5126}, {"count", s.count}, {"type", type}});
        attributes[name] = accessors.size() - 1;
    };
    const std::string x = "KHR_gaussian_splatting:";
    add("POSITION", "VEC3", 3, [&](size_t i, size_t c) { return s.position[3 * i + c]; });
    add(x + "ROTATION", "VEC4", 4, [&](size_t i, size_t c) { return s.rotation[4 * i + (c + 1) % 4]; });
    add(x + "SCALE", "VEC3", 3, [&](size_t i, size_t c) { return s.scale[3 * i + c]; });
    add(x + "OPACITY", "SCALAR", 1, [&](size_t i, size_t) { return s.opacity[i]; });
    add(x + "SH_DEGREE_0_COEF_0", "VEC3", 3, [&](size_t i, size_t c) { return s.dc[3 * i + c]; });
    for (int l = 1, k0 = 0; l <= 3; k0 += 2 * l + 1, ++l)
        for (int k = 0; k < 2 * l + 1; ++k)
            add(x + "SH_DEGREE_" + std::to_string(l) + "_COEF_" + std::to_string(k), "VEC3", 3,
                [&, k0, k](size_t i, size_t c) { return s.rest[45 * i + 3 * (k0 + k) + c] * s.restStep[i]; });
    const json root = {{"asset", {{"version", "2.0"}}},
                       {"extensionsUsed", {"KHR_gaussian_splatting"}},
                       {"scene", 0},
                       {"scenes", {{{"nodes", {0}}}}},
                       {"nodes", {{{"mesh", 0}}}},
                       {"buffers", {{{"byteLength", bin.size()}}}},
                       {"bufferViews", views},
                       {"accessors", accessors},
                       {"meshes", {{{"primitives", {{{"mode", 0}, {"attributes", attributes},
                                                     {"extensions", {{"KHR_gaussian_splatting", json::object()}}}}}}}}}};
    std::string text = root.dump();
    text.resize((text.size() + 3) & ~size_t(3), ' ');
    const auto le32 = [](size_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
    return "glTF" + le32(2) + le32(28 + text.size() + bin.size()) + le32(text.size()) + "JSON" + text + le32(bin.size()) +
           std::string("BIN\0", 4) + bin;
}

struct Files {
    std::string ply = tempPath(".ply"), spz = tempPath(".spz"), splat = tempPath(".splat"), gltf = tempPath(".glb");
    Files()
    {
        const SplatScene s = makeScene();
        if (!SplatFile::write(ply, s) || !SpzWriter::write(spz, s) || !writeWholeFile(splat, dotSplat(s)) ||
            !writeWholeFile(gltf, glb(s))) {
            std::fprintf(stderr, "SplatFormatBench: cannot write the files\n");
            std::exit(1);
        }
        for (const std::string *f : {&ply, &spz, &splat, &gltf}) {
            std::vector<char> warm;
            readWholeFile(f->c_str(), warm);
        }
    }
    ~Files()
    {
        for (const std::string *f : {&ply, &spz, &splat, &gltf})
            std::remove(f->c_str());
    }
};

Files &files()
{
    static Files f;
    return f;
}

template <class Read> void timeRead(benchmark::State &state, const std::string &path, Read read)
{
    size_t count = 0;
    for (auto _ : state) {
        const SplatScene s = read(path.c_str());
        count = s.count;
        benchmark::DoNotOptimize(s.position.data());
    }
    state.counters["splats"] = static_cast<double>(count);
}

void TrainerPly(benchmark::State &s) { timeRead(s, files().ply, [](const char *p) { return SplatReader::read(p); }); }
void Spz3(benchmark::State &s) { timeRead(s, files().spz, [](const char *p) { return SpzReader::read(p); }); }
void DotSplat(benchmark::State &s) { timeRead(s, files().splat, [](const char *p) { return DotSplatReader::read(p); }); }
void Glb(benchmark::State &s) { timeRead(s, files().gltf, [](const char *p) { return GltfSplatReader::read(p); }); }

BENCHMARK(TrainerPly)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(Spz3)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(DotSplat)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(Glb)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly();

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    // Files named after "--": each timed as the viewer reads it.
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--") == 0)
            for (int k = i + 1; k < argc; ++k) {
                const std::string path = argv[k];
                benchmark::RegisterBenchmark(("File/" + path).c_str(), [path](benchmark::State &s) {
                    timeRead(s, path, [](const char *p) { return SplatFile::read(p); });
                })->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly();
            }
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
