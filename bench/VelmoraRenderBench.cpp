// Figures for captures and headless rendering.
//
// 1. velmora-render -o out.png of the 2,000,000-triangle sample model (make_sample_mesh 1000
//    1000) at 1024 x 1024, the whole process, against the peer viewer f3d (Debian package)
//    rendering the same mesh, written as binary PLY, with
//    f3d --dry-run --resolution 1024,1024 --output out.png. Target: at most 0.3 x f3d's time.
// 2. "C" (a depth-sorted EPS document) of a 1,000,000-triangle frame (make_sample_mesh 1000
//    500) in the off-screen scene, 512 x 512. Target: under 10 s. Its bare baseline is the
//    least the same capture can do: the frame drawn once in feedback mode into a buffer
//    already large enough, and the raw floats written to a file, with no parsing, sorting or
//    formatting.
//
// Processes are timed by wall clock; each also reports the CPU seconds its children used
// (counter cpu_s), which a busy machine disturbs less. The data goes to a temporary folder
// that is removed at the end. f3d draws through GLX, so the program runs under an X server
// (velmora-render is started with DISPLAY removed from its environment):
//
//   xvfb-run -a -s "-screen 0 1280x1024x24" build/bench/VelmoraRenderBench
#include "app/GLMachine.h"
#include "formats/MeshReader.h"
#include "ps/CPsRenderer.h"

#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

extern char **environ;

namespace {

const std::string kBin = VELMORA_BINARY_DIR;

struct Data {
    std::string dir;
    std::string big, bigPly, million;
    bool ok = false;
    Data()
    {
        char pattern[] = "/tmp/velmora-render-bench.XXXXXX";
        if (!mkdtemp(pattern))
            return;
        dir = pattern;
        big = dir + "/big.tri";
        bigPly = dir + "/big.ply";
        million = dir + "/million.tri";
        ok = run({kBin + "/make_sample_mesh", big, "1000", "1000"}) == 0 &&
             run({kBin + "/make_sample_mesh", million, "1000", "500"}) == 0 && writePly(big, bigPly);
    }
    ~Data()
    {
        if (!dir.empty())
            std::filesystem::remove_all(dir);
    }

    // Runs argv with its output discarded; returns the exit status and adds the CPU time.
    static int run(const std::vector<std::string> &args, double *cpu = nullptr, bool noDisplay = false)
    {
        std::vector<char *> argv;
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<char *> env;
        for (char **e = environ; *e; ++e)
            if (!noDisplay || std::string(*e).rfind("DISPLAY=", 0) != 0)
                env.push_back(*e);
        env.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid = 0;
        const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), env.data());
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0)
            return -1;
        int status = 0;
        struct rusage usage {};
        if (wait4(pid, &status, 0, &usage) < 0)
            return -1;
        if (cpu)
            *cpu += usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                    1e-6 * (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // The same mesh as binary little-endian PLY: float x, y, z; uchar-counted int faces.
    static bool writePly(const std::string &tri, const std::string &ply)
    {
        try {
            const MeshData mesh = MeshReader::readBinary(tri.c_str());
            FILE *f = std::fopen(ply.c_str(), "wb");
            if (!f)
                return false;
            std::fprintf(f,
                         "ply\nformat binary_little_endian 1.0\nelement vertex %d\nproperty float x\n"
                         "property float y\nproperty float z\nelement face %d\n"
                         "property list uchar int vertex_indices\nend_header\n",
                         mesh.nVertices, mesh.nTriangles);
            std::fwrite(mesh.vertices.get(), sizeof(float), static_cast<size_t>(mesh.nVertices) * 3, f);
            std::vector<unsigned char> faces(static_cast<size_t>(mesh.nTriangles) * 13);
            for (int i = 0; i < mesh.nTriangles; ++i) {
                faces[static_cast<size_t>(i) * 13] = 3;
                std::memcpy(&faces[static_cast<size_t>(i) * 13 + 1], mesh.triangles.get() + 3 * i, 12);
            }
            std::fwrite(faces.data(), 1, faces.size(), f);
            return std::fclose(f) == 0;
        } catch (...) {
            return false;
        }
    }
};

Data &data()
{
    static Data d;
    return d;
}

void processBench(benchmark::State &state, const std::vector<std::string> &args, bool noDisplay)
{
    if (!data().ok) {
        state.SkipWithError("could not write the benchmark meshes");
        return;
    }
    double cpu = 0;
    for (auto _ : state) {
        if (Data::run(args, &cpu, noDisplay) != 0) {
            state.SkipWithError((args[0] + " failed").c_str());
            return;
        }
    }
    state.counters["cpu_s"] = benchmark::Counter(cpu, benchmark::Counter::kAvgIterations);
}

void BM_VelmoraRender2MTriangles(benchmark::State &state)
{
    processBench(state,
                 {kBin + "/velmora-render", "--size", "1024x1024", "-o", data().dir + "/velmora.png", data().big},
                 true);
}
BENCHMARK(BM_VelmoraRender2MTriangles)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_F3dPeer2MTriangles(benchmark::State &state)
{
    // Debian's f3d renders through GLX and ends with a segmentation fault without a display.
    const char *display = std::getenv("DISPLAY");
    if (!display || !*display) {
        state.SkipWithError("f3d needs an X display: run this benchmark under xvfb-run");
        return;
    }
    processBench(state,
                 {"/usr/bin/f3d", "--dry-run", "--resolution", "1024,1024", "--output", data().dir + "/f3d.png",
                  data().bigPly},
                 false);
}
BENCHMARK(BM_F3dPeer2MTriangles)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

struct MillionScene {
    std::unique_ptr<GLMachine> machine;
    MillionScene()
    {
        if (!data().ok)
            return;
        machine = std::make_unique<GLMachine>(512, 512);
        if (!machine->registerObject(data().million.c_str()))
            machine.reset();
    }
};

MillionScene &million()
{
    static MillionScene s;
    return s;
}

void BM_VectorCapture1MTriangles(benchmark::State &state)
{
    if (!million().machine) {
        state.SkipWithError("no scene");
        return;
    }
    const std::string out = data().dir + "/capture.eps";
    for (auto _ : state)
        if (!million().machine->saveVectorFrame(out.c_str()))
            state.SkipWithError("capture failed");
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(out));
}
BENCHMARK(BM_VectorCapture1MTriangles)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// Baseline: one feedback frame into a buffer already large enough, its raw floats written.
void BM_VectorCaptureBaseline1MTriangles(benchmark::State &state)
{
    if (!million().machine) {
        state.SkipWithError("no scene");
        return;
    }
    std::vector<float> buffer(40000000);
    const std::string out = data().dir + "/raw.bin";
    for (auto _ : state) {
        glFeedbackBuffer(static_cast<GLsizei>(buffer.size()), GL_3D_COLOR, buffer.data());
        glRenderMode(GL_FEEDBACK);
        million().machine->draw();
        const int count = glRenderMode(GL_RENDER);
        FILE *f = std::fopen(out.c_str(), "wb");
        if (count < 0 || !f) {
            state.SkipWithError("feedback overflow or unwritable");
            if (f)
                std::fclose(f);
            return;
        }
        std::fwrite(buffer.data(), sizeof(float), static_cast<size_t>(count), f);
        std::fclose(f);
    }
}
BENCHMARK(BM_VectorCaptureBaseline1MTriangles)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

} // namespace

BENCHMARK_MAIN();
