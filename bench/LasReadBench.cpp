// Reading ASPRS LAS files: LasReader on a 10,000,000-point file of point format 2 (260 MB,
// written by make_dense_cloud), against the bare least of the same work: one fread of the
// points into a LargeArray and the scale and offset applied in double to floats relative to
// the centre, into another LargeArray, without checks, colours or value items. Target: at most
// 1.5 x the bare time. The file is generated into a temporary folder (under $TMPDIR, else /tmp),
// read once before timing so that both find it in the page cache, and removed at the end.
//   build/bench/LasReadBench
#include "formats/LargeArray.h"
#include "formats/LasReader.h"
#include "math/Messages.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

constexpr long kPoints = 10000000;

struct LasFile {
    std::string dir, path;
    LasFile()
    {
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp ? tmp : "/tmp") + "/velmora-las.XXXXXX";
        dir = mkdtemp(&pattern[0]) ? pattern : std::string();
        path = dir + "/cloud.las";
        const std::string make =
            std::string(VELMORA_BINARY_DIR) + "/make_dense_cloud " + path + " " + std::to_string(kPoints);
        if (dir.empty() || std::system(make.c_str()) != 0)
            std::abort();
        std::FILE *f = std::fopen(path.c_str(), "rb");
        static char chunk[1 << 20];
        while (f && std::fread(chunk, 1, sizeof chunk, f) > 0) {
        }
        if (f)
            std::fclose(f);
    }
    ~LasFile() { std::filesystem::remove_all(dir); }
};

LasFile &file()
{
    static LasFile f;
    return f;
}

void LasReaderRead(benchmark::State &state)
{
    CapturingMessageSink quiet;
    ScopedMessageSink scope(quiet);
    for (auto _ : state) {
        PointListData d = LasReader::read(file().path.c_str());
        benchmark::DoNotOptimize(d.points.get());
    }
    state.counters["points"] = static_cast<double>(kPoints);
}
BENCHMARK(LasReaderRead)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

void BareFreadAndScale(benchmark::State &state)
{
    for (auto _ : state) {
        std::FILE *f = std::fopen(file().path.c_str(), "rb");
        unsigned char header[227];
        if (!f || std::fread(header, 1, sizeof header, f) != sizeof header)
            std::abort();
        uint32_t offset, count;
        uint16_t length;
        double scale[3], add[3];
        std::memcpy(&offset, header + 96, 4);
        std::memcpy(&length, header + 105, 2);
        std::memcpy(&count, header + 107, 4);
        std::memcpy(scale, header + 131, 24);
        std::memcpy(add, header + 155, 24);
        std::fseek(f, offset, SEEK_SET);
        const size_t n = count;
        LargeArray<unsigned char> raw = allocateLargeArray<unsigned char>(n * length);
        if (std::fread(raw.get(), length, n, f) != n)
            std::abort();
        std::fclose(f);
        LargeArray<float> points = allocateLargeArray<float>(3 * n);
        for (size_t i = 0; i < n; ++i) {
            const unsigned char *r = raw.get() + i * length;
            for (int k = 0; k < 3; ++k) {
                int32_t v;
                std::memcpy(&v, r + 4 * k, 4);
                points[3 * i + k] = static_cast<float>(v * scale[k] + add[k] - add[k]);
            }
        }
        benchmark::DoNotOptimize(points.get());
    }
}
BENCHMARK(BareFreadAndScale)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

} // namespace

BENCHMARK_MAIN();
