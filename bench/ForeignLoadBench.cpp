// Opening a binary PLY mesh of 2,000,000 triangles (1,000,000 vertices, floats, faces as a
// uchar count and int indices) through the loader, against:
//   - Assimp's bare import of the same file, no post-processing, in this process (the work
//     `assimp info FILE -r` does, without its start-up and printing);
//   - `assimp info FILE -r` itself, the whole process, started from here;
//   - the viewer opening the same mesh as OFF text through the loader.
// Targets: the PLY opens in at most 1.5 times `assimp info -r`, and faster than the OFF.
// The same mesh as OBJ text goes through Assimp: imported in this process, and as the viewer
// imports it, in a helper process that hands the record back through a pipe; the difference
// is what the isolation costs (median of 3 runs each).
// "Open" is the loader's whole construction: the structure check, the import, the copy into
// the mesh, normals and box, as the viewer does before the first frame.
// The files are generated at start into a temporary folder (a rippled 1000 x 1000 grid torus),
// read once before timing so that every contender finds them in the page cache, and removed
// at the end. Figures are wall-clock times per open.
//   build/bench/ForeignLoadBench
#include "objects/GL3DObject.h"
#include "objects/GL3DObjectLoader.h"
#include "formats/AssimpReader.h"
#include "formats/PlyReader.h"

#include <assimp/Importer.hpp>
#include <assimp/scene.h>
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern char **environ;

namespace {

const int kSide = 1000;

std::string &dataDir()
{
    static std::string dir;
    return dir;
}
std::string plyPath() { return dataDir() + "/mesh2m.ply"; }
std::string offPath() { return dataDir() + "/mesh2m.off"; }
std::string objPath() { return dataDir() + "/mesh2m.obj"; }

bool makeFiles()
{
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/velmora-foreignload.XXXXXX";
    if (!mkdtemp(pattern.data()))
        return false;
    dataDir() = pattern;
    const double pi = 3.14159265358979323846;
    std::vector<float> v;
    std::vector<int32_t> t;
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
    const size_t nv = v.size() / 3, nt = t.size() / 3;

    const uint16_t one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    FILE *f = std::fopen(plyPath().c_str(), "wb");
    if (!f)
        return false;
    std::fprintf(f,
                 "ply\nformat %s 1.0\nelement vertex %zu\nproperty float x\nproperty float y\nproperty float z\n"
                 "element face %zu\nproperty list uchar int vertex_indices\nend_header\n",
                 first == 1 ? "binary_little_endian" : "binary_big_endian", nv, nt);
    std::fwrite(v.data(), 4, v.size(), f);
    std::vector<unsigned char> faces(13 * nt);
    for (size_t i = 0; i < nt; ++i) {
        faces[13 * i] = 3;
        std::memcpy(&faces[13 * i + 1], &t[3 * i], 12);
    }
    std::fwrite(faces.data(), 1, faces.size(), f);
    const bool plyOk = std::fclose(f) == 0;

    f = std::fopen(objPath().c_str(), "wb");
    if (!f)
        return false;
    for (size_t i = 0; i < nv; ++i)
        std::fprintf(f, "v %.6g %.6g %.6g\n", v[3 * i], v[3 * i + 1], v[3 * i + 2]);
    for (size_t i = 0; i < nt; ++i)
        std::fprintf(f, "f %d %d %d\n", t[3 * i] + 1, t[3 * i + 1] + 1, t[3 * i + 2] + 1);
    const bool objOk = std::fclose(f) == 0;

    f = std::fopen(offPath().c_str(), "wb");
    if (!f)
        return false;
    std::fprintf(f, "OFF\n%zu %zu 0\n", nv, nt);
    for (size_t i = 0; i < nv; ++i)
        std::fprintf(f, "%.6g %.6g %.6g\n", v[3 * i], v[3 * i + 1], v[3 * i + 2]);
    for (size_t i = 0; i < nt; ++i)
        std::fprintf(f, "3 %d %d %d\n", t[3 * i], t[3 * i + 1], t[3 * i + 2]);
    return std::fclose(f) == 0 && plyOk && objOk;
}

void removeFiles()
{
    std::remove(plyPath().c_str());
    std::remove(offPath().c_str());
    std::remove(objPath().c_str());
    rmdir(dataDir().c_str());
}

void warmCache(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> buf(1 << 20);
    while (in.read(buf.data(), static_cast<std::streamsize>(buf.size())) || in.gcount() > 0) {
    }
}

void BM_AssimpBareImport(benchmark::State &state)
{
    for (auto _ : state) {
        Assimp::Importer importer;
        const aiScene *scene = importer.ReadFile(plyPath(), 0);
        if (!scene || scene->mNumMeshes != 1) {
            state.SkipWithError("Assimp refused the file");
            return;
        }
        benchmark::DoNotOptimize(scene->mMeshes[0]->mNumFaces);
    }
}

void BM_AssimpInfoProcess(benchmark::State &state)
{
    const std::string file = plyPath();
    for (auto _ : state) {
        char *argv[] = {const_cast<char *>("assimp"), const_cast<char *>("info"), const_cast<char *>(file.c_str()),
                        const_cast<char *>("-r"), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        pid_t pid = 0;
        const int err = posix_spawnp(&pid, "assimp", &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        int status = 0;
        if (err != 0 || waitpid(pid, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("assimp info failed (assimp-utils installed?)");
            return;
        }
    }
}

void openWithLoader(benchmark::State &state, const std::string &path)
{
    for (auto _ : state) {
        // The loader's progress lines go nowhere, the benchmark's own table stays.
        std::fflush(stdout);
        const int saved = dup(1), null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        GL3DObject *o = GL3DObjectLoader::load(path.c_str());
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
        close(null);
        if (!o || o->getNVertices() != kSide * kSide) {
            state.SkipWithError("the loader refused the file");
            delete o;
            return;
        }
        delete o;
    }
}

// The PLY reader alone (no normals, box or mesh object): the share of the open spent reading.
void BM_PlyReaderOnly(benchmark::State &state)
{
    for (auto _ : state) {
        const ForeignModel m = PlyReader::read(plyPath().c_str());
        benchmark::DoNotOptimize(m.mesh.nTriangles);
    }
}

void importObj(benchmark::State &state, ForeignModel (*read)(const char *))
{
    for (auto _ : state) {
        const ForeignModel m = read(objPath().c_str());
        if (m.mesh.nTriangles != 2 * kSide * kSide) {
            state.SkipWithError("the import refused the file");
            return;
        }
    }
}

void BM_ObjImportInProcess(benchmark::State &state) { importObj(state, AssimpReader::readInProcess); }
void BM_ObjImportHelperProcess(benchmark::State &state)
{
    importObj(state, [](const char *path) { return AssimpReader::read(path); });
}

void BM_ViewerOpenPly(benchmark::State &state) { openWithLoader(state, plyPath()); }
void BM_ViewerOpenOff(benchmark::State &state) { openWithLoader(state, offPath()); }

} // namespace

BENCHMARK(BM_AssimpBareImport)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_AssimpInfoProcess)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_PlyReaderOnly)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_ViewerOpenPly)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_ViewerOpenOff)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_ObjImportInProcess)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(3);
BENCHMARK(BM_ObjImportHelperProcess)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(3);

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (!makeFiles()) {
        std::fprintf(stderr, "ForeignLoadBench: can't write the mesh files\n");
        return 1;
    }
    warmCache(plyPath());
    warmCache(offPath());
    warmCache(objPath());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    removeFiles();
    return 0;
}
