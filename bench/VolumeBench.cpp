// A 512 x 512 x 512 volume of unsigned bytes (128 MiB of samples, 512 MiB as floats):
//   ReadIMA:       VolumeReader::readIMA of the ".dim" / ".ima" pair, against the bare baseline
//                  of one fread of the whole sample file into a byte buffer followed by the
//                  conversion of every byte to float, both into the same huge-page arrays
//                  (LargeArray) the reader uses.
//   MoveSlice/p:   moving plane p (0 X, 1 Y, 2 Z) by one voxel and drawing a frame, which
//                  rebuilds that plane's 512 x 512 texture (colour map over every texel, then
//                  the upload), in an off-screen context of 64 x 64 pixels. The X plane is the
//                  worst case: its samples lie 512 floats apart. The bare baseline
//                  SliceBaseline/p gathers the same samples into grey bytes without a colour
//                  map and uploads them with glTexSubImage2D.
// The sample file (128 MiB) is generated at start into a fresh temporary folder (under
// $TMPDIR, else /tmp), read once before timing so that both readings find it in the page
// cache, and removed at the end. Figures are wall-clock times.
//   build/bench/VolumeBench
#include "objects/GLVolumeObject.h"
#include "formats/LargeArray.h"
#include "formats/VolumeReader.h"
#include "render/OffscreenContext.h"

#include <benchmark/benchmark.h>

#include <GL/gl.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

const int kSide = 512;

// A fresh temporary folder for the sample file, removed at the end.
std::string dataDir()
{
    static const std::string dir = [] {
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/velmora-volume.XXXXXX";
        return mkdtemp(pattern.data()) ? pattern : std::string();
    }();
    return dir;
}
std::string basePath() { return dataDir() + "/volume512"; }

void removeVolume()
{
    if (dataDir().empty())
        return;
    std::remove((basePath() + ".dim").c_str());
    std::remove((basePath() + ".ima").c_str());
    rmdir(dataDir().c_str());
}

bool makeVolume()
{
    if (dataDir().empty())
        return false;
    FILE *dim = std::fopen((basePath() + ".dim").c_str(), "w");
    if (!dim)
        return false;
    std::fprintf(dim, "%d %d %d\n-type U8\n", kSide, kSide, kSide);
    bool ok = std::fclose(dim) == 0;
    FILE *ima = std::fopen((basePath() + ".ima").c_str(), "wb");
    if (!ima)
        return false;
    std::vector<unsigned char> row(kSide);
    for (int z = 0; z < kSide && ok; ++z)
        for (int y = 0; y < kSide && ok; ++y) {
            for (int x = 0; x < kSide; ++x) {
                const int dx = x - 256, dy = y - 256, dz = z - 256;
                row[static_cast<size_t>(x)] = static_cast<unsigned char>((dx * dx + dy * dy + dz * dz) / 768);
            }
            ok = std::fwrite(row.data(), 1, row.size(), ima) == row.size();
        }
    return std::fclose(ima) == 0 && ok;
}

void warmCache()
{
    std::vector<char> buf(1 << 20);
    FILE *f = std::fopen((basePath() + ".ima").c_str(), "rb");
    while (std::fread(buf.data(), 1, buf.size(), f) > 0) {
    }
    std::fclose(f);
}

void ReadIMA(benchmark::State &state)
{
    for (auto _ : state) {
        VolumeData v = VolumeReader::readIMA((basePath() + ".ima").c_str());
        benchmark::DoNotOptimize(v.samples.get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSide * kSide * kSide);
}

void FreadAndConvertBaseline(benchmark::State &state)
{
    const size_t n = size_t(kSide) * kSide * kSide;
    for (auto _ : state) {
        LargeArray<unsigned char> bytes = allocateLargeArray<unsigned char>(n);
        LargeArray<float> samples = allocateLargeArray<float>(n);
        FILE *f = std::fopen((basePath() + ".ima").c_str(), "rb");
        if (std::fread(bytes.get(), 1, n, f) != n)
            state.SkipWithError("short read");
        std::fclose(f);
        for (size_t i = 0; i < n; ++i)
            samples[i] = static_cast<float>(bytes[i]);
        benchmark::DoNotOptimize(samples.get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSide * kSide * kSide);
}

struct Scene {
    OffscreenContext context;
    std::unique_ptr<GLVolumeObject> volume;

    Scene()
    {
        if (!context.create(64, 64) || !context.makeCurrent())
            return;
        // The volume reports its sub-sampling on standard output, where the figures go.
        std::fflush(stdout);
        const int saved = dup(1), null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        volume.reset(new GLVolumeObject((basePath() + ".ima").c_str()));
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
        close(null);
        // Every plane visible, so that each one's texture exists before timing.
        volume->notifyCommand('1');
        volume->notifyCommand('2');
        volume->draw();
        glFinish();
    }
};

Scene &scene()
{
    static Scene *s = new Scene;
    return *s;
}

void MoveSlice(benchmark::State &state)
{
    Scene &s = scene();
    if (!s.volume) {
        state.SkipWithError("no off-screen context");
        return;
    }
    const int p = static_cast<int>(state.range(0));
    int step = 0;
    for (auto _ : state) {
        int pos[3];
        s.volume->getCurrentPosition(pos);
        pos[p] = 100 + (step++ % 300);
        s.volume->setCurrentPosition(pos[0], pos[1], pos[2]);
        s.volume->draw();
        glFinish();
    }
}

void SliceBaseline(benchmark::State &state)
{
    Scene &s = scene();
    if (!s.volume) {
        state.SkipWithError("no off-screen context");
        return;
    }
    const int p = static_cast<int>(state.range(0));
    std::vector<unsigned char> rgb(size_t(kSide) * kSide * 3);
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, kSide, kSide, 0, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    const int a = p == 0 ? 1 : 0, b = p == 2 ? 1 : 2;
    int step = 0;
    for (auto _ : state) {
        const int slice = 100 + (step++ % 300);
        unsigned char *out = rgb.data();
        for (int v = 0; v < kSide; ++v)
            for (int u = 0; u < kSide; ++u, out += 3) {
                int idx[3];
                idx[p] = slice;
                idx[a] = u;
                idx[b] = v;
                const unsigned char g =
                    static_cast<unsigned char>(s.volume->getSample(idx[0], idx[1], idx[2]));
                out[0] = out[1] = out[2] = g;
            }
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, kSide, kSide, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
        glFinish();
    }
    glDeleteTextures(1, &texture);
}

} // namespace

BENCHMARK(ReadIMA)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(FreadAndConvertBaseline)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(MoveSlice)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(SliceBaseline)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (!makeVolume()) {
        std::fprintf(stderr, "VolumeBench: can't write the sample volume into a temporary folder\n");
        removeVolume();
        return 1;
    }
    warmCache();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    removeVolume();
    return 0;
}
