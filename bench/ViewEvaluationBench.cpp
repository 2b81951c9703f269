// Evaluation of 36 views at 512 x 512 of the 2,000,000-triangle textured sample model
// (make_sample_mesh 1000 1000): every view drawn off-screen and compared with its photograph
// (PSNR, SSIM), as velmora-render --evaluate does once the files are loaded. Target: under
// 10 s. The photographs are the model's own frames, written first (not timed) into a
// temporary folder beside a turntable camera file; the folder is removed at the end.
//
//   build/bench/ViewEvaluationBench
#include "app/GLMachine.h"
#include "app/ViewEvaluation.h"
#include "camera/GLCamera.h"
#include "image/Bitmap.h"
#include "objects/GL3DObject.h"

#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

extern char **environ;

namespace {

const int kViews = 36, kSize = 512;

// CPU seconds of every thread of the process (the renderer's included): less disturbed by a
// busy machine than the wall clock.
double cpuSeconds()
{
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           1e-6 * static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

bool run(std::vector<std::string> args)
{
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid;
    int status = 0;
    return posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 && waitpid(pid, &status, 0) == pid &&
           WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::unique_ptr<GLMachine> openScene(const std::string &dir)
{
    auto machine = std::make_unique<GLMachine>(kSize, kSize);
    machine->registerObject((dir + "/scene.dat").c_str());
    GL3DObject *mesh = machine->register3DObject((dir + "/scene.tri").c_str());
    if (mesh)
        mesh->notifyCommand('3');
    return machine;
}

struct Scene {
    std::string dir;
    bool ok = false;
    Scene()
    {
        char pattern[] = "/tmp/velmora-evaluation-bench.XXXXXX";
        if (!mkdtemp(pattern))
            return;
        dir = pattern;
        if (!run({std::string(VELMORA_BINARY_DIR) + "/make_sample_mesh", dir + "/scene.tri", "1000", "1000"}))
            return;
        // A turntable of 36 views round the model, 15 units away, 30 degrees above it.
        const double e = 30 * M_PI / 180, alpha = M_PI / 2 + e;
        FILE *f = std::fopen((dir + "/scene.dat").c_str(), "w");
        if (!f)
            return;
        std::fprintf(f, "V3.0\n%d %d\n%d %d\n600 600\n0 0 15\n%d 0 %.9f %.9f\ndeg\n", kSize, kSize, kSize / 2, kSize / 2,
                     kViews, -std::cos(e), -std::sin(e));
        for (int i = 0; i < kViews; ++i)
            std::fprintf(f, "%.6f\n", 360.0 * i / kViews);
        std::fprintf(f, "0 0 0 %.9f 0 0 %.9f\n", std::sin(alpha / 2), std::cos(alpha / 2));
        std::fclose(f);
        mkdir((dir + "/seq").c_str(), 0777);
        std::unique_ptr<GLMachine> machine = openScene(dir);
        machine->setDrawInfo(false);
        GLCamera *camera = machine->getCurrentCamera();
        if (!camera || camera->getNViews() != kViews)
            return;
        std::vector<unsigned char> frame(kSize * kSize * 3);
        for (int i = 0; i < kViews; ++i) {
            camera->notifyCommand(GLCamera::NEXT_VIEW);
            machine->getFrameBuffer(frame.data());
            Bitmap photo(kSize, kSize);
            for (int y = 0; y < kSize; ++y)
                std::memcpy(&photo.get(0, y), &frame[static_cast<size_t>(kSize - 1 - y) * kSize * 3], kSize * 3);
            char name[32];
            std::snprintf(name, sizeof name, "/seq/view%02d.ppm", (i + 1) % kViews);
            if (!photo.savePPM((dir + name).c_str()))
                return;
        }
        ok = true;
    }
    ~Scene()
    {
        if (!dir.empty())
            std::filesystem::remove_all(dir);
    }
};

void EvaluateThirtySixViews(benchmark::State &state)
{
    static Scene scene;
    if (!scene.ok) {
        state.SkipWithError("the scene could not be made");
        return;
    }
    std::unique_ptr<GLMachine> machine = openScene(scene.dir);
    double psnr = 0;
    const double cpu = cpuSeconds();
    for (auto _ : state) {
        const std::vector<ViewScore> scores = ViewEvaluation::evaluate(*machine);
        if (scores.size() != kViews || !scores[0].problem.empty()) {
            state.SkipWithError("views without figures");
            return;
        }
        psnr = scores[5].psnr;
    }
    state.counters["PSNR of view 5"] = psnr;
    state.counters["cpu_s"] = (cpuSeconds() - cpu) / static_cast<double>(state.iterations());
}
BENCHMARK(EvaluateThirtySixViews)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)
    ->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
