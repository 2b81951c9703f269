// Loading a mesh of 2,000,000 triangles, against bare readings of the same files in the
// same run:
//   binary: GLMeshObject's reader, and the whole construction (normals, box, colours),
//           against a bare fread of the header and both arrays;
//   OFF:    the same against a bare std::from_chars parse of the text into arrays (no
//           comments, no checks).
// Each bare reading runs twice: into plain new[] arrays, and into the same huge-page arrays
// the mesh uses. The honest pair is the reader against the bare reading into huge-page
// arrays (the same kind of memory); the plain arrays separate the cost of first touching
// fresh memory (large on virtual machines) from the cost of reading and parsing.
// Whole-process comparisons with other programs are in open_and_capture.sh, against a
// whole process of ours.
// The files are generated at start into a temporary folder (a rippled 1000 x 1000 grid
// torus, 1,000,000 vertices), removed at the end, and read once before timing so that every
// contender finds them in the page cache. Figures are wall-clock times per load.
//   build/bench/MeshLoadBench              fresh memory for every load (the default)
//   build/bench/MeshLoadBench --warm-heap  repeated loads reuse the previous load's pages
#include "objects/GLMeshObject.h"
#include "formats/LargeArray.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

const int kSide = 1000; // 1000 x 1000 vertices, 2,000,000 triangles

std::string &dataDir()
{
    static std::string dir;
    return dir;
}
std::string triPath() { return dataDir() + "/mesh2m.tri"; }
std::string offPath() { return dataDir() + "/mesh2m.off"; }

void makeMesh(std::vector<float> &v, std::vector<int> &t)
{
    const double pi = 3.14159265358979323846;
    for (int i = 0; i < kSide; ++i)
        for (int j = 0; j < kSide; ++j) {
            const double u = 2 * pi * i / kSide, w = 2 * pi * j / kSide;
            const double r = 1 + 0.2 * std::sin(7 * u) * std::cos(5 * w);
            const double ring = 3 + r * std::cos(w);
            v.insert(v.end(), {static_cast<float>(ring * std::cos(u)), static_cast<float>(ring * std::sin(u)),
                               static_cast<float>(r * std::sin(w))});
        }
    for (int i = 0; i < kSide; ++i)
        for (int j = 0; j < kSide; ++j) {
            const int a = i * kSide + j, b = ((i + 1) % kSide) * kSide + j;
            const int c = ((i + 1) % kSide) * kSide + (j + 1) % kSide, d = i * kSide + (j + 1) % kSide;
            t.insert(t.end(), {a, b, c, a, c, d});
        }
}

// The data files, in a fresh temporary folder.
bool makeFiles()
{
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/velmora-meshload.XXXXXX";
    if (!mkdtemp(pattern.data()))
        return false;
    dataDir() = pattern;
    std::vector<float> v;
    std::vector<int> t;
    makeMesh(v, t);
    const int32_t counts[2] = {static_cast<int32_t>(v.size() / 3), static_cast<int32_t>(t.size() / 3)};

    FILE *f = std::fopen(triPath().c_str(), "wb");
    if (!f)
        return false;
    const uint16_t signature = 0x454C;
    const unsigned char header[4] = {0, 1, 0, 0};
    std::fwrite(&signature, 2, 1, f);
    std::fwrite(counts, 4, 2, f);
    std::fwrite(header, 1, 4, f);
    std::fwrite(v.data(), 4, v.size(), f);
    std::fwrite(t.data(), 4, t.size(), f);
    std::fclose(f);

    f = std::fopen(offPath().c_str(), "w");
    if (!f)
        return false;
    std::fprintf(f, "OFF\n%d %d 0\n", counts[0], counts[1]);
    for (size_t i = 0; i < v.size(); i += 3)
        std::fprintf(f, "%.6g %.6g %.6g\n", v[i], v[i + 1], v[i + 2]);
    for (size_t i = 0; i < t.size(); i += 3)
        std::fprintf(f, "3 %d %d %d\n", t[i], t[i + 1], t[i + 2]);
    return std::fclose(f) == 0;
}

void removeFiles()
{
    std::remove(triPath().c_str());
    std::remove(offPath().c_str());
    rmdir(dataDir().c_str());
}

// Keeps the reader's console lines out of the benchmark's table.
class Quiet {
public:
    Quiet()
    {
        std::fflush(stdout);
        saved = dup(1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        close(null);
    }
    ~Quiet()
    {
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
    }

private:
    int saved;
};

void warm(const std::string &path)
{
    std::vector<char> buf(1 << 20);
    FILE *f = std::fopen(path.c_str(), "rb");
    while (std::fread(buf.data(), 1, buf.size(), f) > 0) {
    }
    std::fclose(f);
}

// --- Binary -----------------------------------------------------------------------------------

// Plain new[] arrays, or the reader's own huge-page arrays, so that the reader can be set
// against a bare read both as the issue states it and with the same memory underneath.
struct PlainArrays {
    template <class T>
    static std::unique_ptr<T[]> make(size_t n) { return std::unique_ptr<T[]>(new T[n]); }
};
struct HugePageArrays {
    template <class T>
    static LargeArray<T> make(size_t n) { return allocateLargeArray<T>(n); }
};

template <class Arrays>
void BM_TriBareFread(benchmark::State &state)
{
    for (auto _ : state) {
        FILE *f = std::fopen(triPath().c_str(), "rb");
        char header[14];
        std::fread(header, 1, 14, f);
        int32_t counts[2];
        std::memcpy(counts, header + 2, 8);
        auto v = Arrays::template make<float>(3 * static_cast<size_t>(counts[0]));
        auto t = Arrays::template make<int>(3 * static_cast<size_t>(counts[1]));
        std::fread(v.get(), 4, 3 * static_cast<size_t>(counts[0]), f);
        std::fread(t.get(), 4, 3 * static_cast<size_t>(counts[1]), f);
        std::fclose(f);
        benchmark::DoNotOptimize(v.get());
        benchmark::DoNotOptimize(t.get());
    }
}

void BM_TriReadMesh(benchmark::State &state)
{
    for (auto _ : state) {
        GLMeshObject mesh;
        Quiet quiet;
        mesh.readMesh(triPath().c_str());
        benchmark::DoNotOptimize(mesh.getArrays().triangles);
    }
}

void BM_TriConstruct(benchmark::State &state)
{
    for (auto _ : state) {
        Quiet quiet;
        GLMeshObject mesh(triPath().c_str(), nullptr);
        benchmark::DoNotOptimize(mesh.getArrays().normals);
    }
}

// --- OFF --------------------------------------------------------------------------------------

template <class Arrays>
void BM_OffBareFromChars(benchmark::State &state)
{
    for (auto _ : state) {
        FILE *f = std::fopen(offPath().c_str(), "rb");
        struct stat st;
        fstat(fileno(f), &st);
        const size_t size = static_cast<size_t>(st.st_size);
        auto text = Arrays::template make<char>(size);
        std::fread(text.get(), 1, size, f);
        std::fclose(f);

        const char *p = text.get() + 4, *end = text.get() + size;
        auto skip = [&] {
            while (p < end && (*p == ' ' || *p == '\n'))
                ++p;
        };
        int nv = 0, nf = 0, ne = 0;
        skip();
        p = std::from_chars(p, end, nv).ptr;
        skip();
        p = std::from_chars(p, end, nf).ptr;
        skip();
        p = std::from_chars(p, end, ne).ptr;
        auto v = Arrays::template make<float>(3 * static_cast<size_t>(nv));
        auto t = Arrays::template make<int>(3 * static_cast<size_t>(nf));
        for (size_t i = 0; i < 3 * static_cast<size_t>(nv); ++i) {
            skip();
            p = std::from_chars(p, end, v[i]).ptr;
        }
        for (size_t i = 0; i < static_cast<size_t>(nf); ++i) {
            int k = 0;
            skip();
            p = std::from_chars(p, end, k).ptr;
            for (int j = 0; j < 3; ++j) {
                skip();
                p = std::from_chars(p, end, t[3 * i + j]).ptr;
            }
        }
        benchmark::DoNotOptimize(v.get());
        benchmark::DoNotOptimize(t.get());
    }
}

void BM_OffReadOFF(benchmark::State &state)
{
    for (auto _ : state) {
        GLMeshObject mesh;
        Quiet quiet;
        mesh.readOFF(offPath().c_str());
        benchmark::DoNotOptimize(mesh.getArrays().triangles);
    }
}

void BM_OffConstruct(benchmark::State &state)
{
    for (auto _ : state) {
        Quiet quiet;
        GLMeshObject mesh(offPath().c_str(), "off");
        benchmark::DoNotOptimize(mesh.getArrays().normals);
    }
}

} // namespace

BENCHMARK_TEMPLATE(BM_TriBareFread, PlainArrays)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK_TEMPLATE(BM_TriBareFread, HugePageArrays)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_TriReadMesh)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_TriConstruct)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK_TEMPLATE(BM_OffBareFromChars, PlainArrays)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK_TEMPLATE(BM_OffBareFromChars, HugePageArrays)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_OffReadOFF)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_OffConstruct)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

int main(int argc, char **argv)
{
    // Every large array is mapped fresh and given back when freed, as in a viewer that
    // opens a file once: each contender pays for first touching its memory in every
    // iteration instead of reusing pages the previous iteration left in the heap, which
    // would favour whichever allocates least.
    // "--warm-heap" leaves malloc alone instead, so that repeated loads reuse the pages of
    // the previous one and the figures show the work beyond touching memory.
    bool warmHeap = false;
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == "--warm-heap") {
            warmHeap = true;
            for (int k = i; k + 1 < argc; ++k)
                argv[k] = argv[k + 1];
            --argc;
            break;
        }
    if (!warmHeap)
        mallopt(M_MMAP_THRESHOLD, 1 << 20);
    benchmark::Initialize(&argc, argv);
    if (!makeFiles()) {
        std::fprintf(stderr, "MeshLoadBench: can't write the data files into a temporary folder\n");
        removeFiles();
        return 1;
    }
    warm(triPath());
    warm(offPath());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    removeFiles();
    return 0;
}
