// First use of key "3" on a mesh of 2,000,000 triangles with an 8192 x 8192 atlas: finding
// and decoding the companion image, the layout (explicit coordinates from a "TC02" block),
// the upload of the texture and of the textured corners, and the first textured frame.
//
// The baseline (FirstTextureBaseline) is the bare way to get the same frame into the same
// kind of memory: decode the same image file with the same library, one glTexImage2D of it,
// the corners expanded into one vertex buffer with their coordinates, one glDrawArrays.
// The atlas comes as a PPM (the figure is then the texture set-up rather than a codec) and as
// a PNG with the same pixels (what reconstructions usually ship; its decoding is libpng's
// inflate, the same on both sides). The pixels are gradients with a little noise, so that the
// PNG compresses about as a photograph does. Inputs (the 8192 x 8192 atlas as PPM, 192 MiB,
// and as PNG, and the mesh, 84 MB, once for each companion) are written at start into a fresh
// temporary folder (under $TMPDIR, else /tmp) and removed at the end.
// FirstTexture also reports, per use, the wall-clock seconds of the key (read_s: finding,
// decoding and laying out the image) and of the first frame (draw_s: the uploads and the
// drawing).
//   build/bench/MeshTextureBench
//   build/bench/MeshTextureBench --benchmark_filter=ppm
//   build/bench/MeshTextureBench --benchmark_filter=png
#define GL_GLEXT_PROTOTYPES 1
#include "image/Bitmap.h"
#include "image/ImageCodecs.h"
#include "objects/GLMeshObject.h"
#include "render/OffscreenContext.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kSide = 1001;  // vertices a side: 2,000,000 triangles
constexpr int kAtlas = 8192;

// The folder of the inputs, made by writeInputs(); [0] the mesh with a PPM atlas, [1] with PNG.
std::string kDir, kMesh[2], kImage[2];
const char *const kExtension[2] = {"ppm", "png"};

void removeInputs()
{
    if (kDir.empty())
        return;
    for (int i = 0; i < 2; ++i) {
        std::remove(kMesh[i].c_str());
        std::remove(kImage[i].c_str());
    }
    rmdir(kDir.c_str());
}

// A height field over the unit square with "TC02" coordinates laying the atlas over it.
bool writeInputs()
{
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/velmora-meshtexture.XXXXXX";
    if (!mkdtemp(pattern.data()))
        return false;
    kDir = pattern;
    for (int i = 0; i < 2; ++i) {
        kMesh[i] = kDir + "/textured2m" + kExtension[i] + ".tri";
        kImage[i] = kDir + "/textured2m" + kExtension[i] + "." + kExtension[i];
    }
    std::vector<float> v;
    std::vector<int> t;
    std::vector<float> uv;
    v.reserve(3 * kSide * kSide);
    for (int j = 0; j < kSide; ++j)
        for (int i = 0; i < kSide; ++i)
            v.insert(v.end(), {1.6f * i / (kSide - 1) - 0.8f, 1.6f * j / (kSide - 1) - 0.8f, 0.0f});
    for (int j = 0; j + 1 < kSide; ++j)
        for (int i = 0; i + 1 < kSide; ++i) {
            const int a = j * kSide + i, b = a + 1, c = a + kSide + 1, d = a + kSide;
            t.insert(t.end(), {a, b, c, a, c, d});
            const float u0 = float(i) / (kSide - 1), u1 = float(i + 1) / (kSide - 1);
            const float v0 = float(j) / (kSide - 1), v1 = float(j + 1) / (kSide - 1);
            uv.insert(uv.end(), {u0, v0, u1, v0, u1, v1, u0, v0, u1, v1, u0, v1});
        }
    FILE *f = std::fopen(kMesh[0].c_str(), "wb");
    if (!f)
        return false;
    const uint16_t signature = 0x454C;
    const int32_t counts[2] = {kSide * kSide, static_cast<int32_t>(t.size() / 3)};
    const unsigned char header[4] = {0, 1, 0, 0};
    bool ok = std::fwrite(&signature, 2, 1, f) == 1 && std::fwrite(counts, 4, 2, f) == 2 &&
              std::fwrite(header, 1, 4, f) == 4 && std::fwrite(v.data(), 4, v.size(), f) == v.size() &&
              std::fwrite(t.data(), 4, t.size(), f) == t.size() && std::fwrite("TC02", 1, 4, f) == 4 &&
              std::fwrite(uv.data(), 4, uv.size(), f) == uv.size();
    ok = std::fclose(f) == 0 && ok;
    ok = ok && link(kMesh[0].c_str(), kMesh[1].c_str()) == 0;
    Bitmap atlas(kAtlas, kAtlas);
    uint32_t seed = 12345;
    for (int y = 0; y < kAtlas; ++y)
        for (int x = 0; x < kAtlas; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = static_cast<int>(seed >> 29); // 0..7
            atlas.get(x, y) = RGB<unsigned char>(static_cast<unsigned char>((x >> 5) + noise),
                                                 static_cast<unsigned char>((y >> 5) + noise),
                                                 static_cast<unsigned char>((((x + y) >> 6) & 255) ^ noise));
        }
    return ok && atlas.savePPM(kImage[0].c_str()) == 1 &&
           imagecodecs::writePng(kImage[1].c_str(), reinterpret_cast<const unsigned char *>(atlas.pixels), kAtlas,
                                 kAtlas, 3, 6) == imagecodecs::Written;
}

// The mesh's progress lines would mix with the figures: standard output goes to /dev/null
// while a mesh loads.
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

std::unique_ptr<GLMeshObject> loadMesh(int format)
{
    Quiet quiet;
    return std::unique_ptr<GLMeshObject>(new GLMeshObject(kMesh[format].c_str(), nullptr));
}

struct Context {
    OffscreenContext gl;
    bool ok = false;
    Context()
    {
        ok = gl.create(512, 512);
        if (ok) {
            glMatrixMode(GL_PROJECTION);
            glOrtho(-1, 1, -1, 1, -10, 10);
            glMatrixMode(GL_MODELVIEW);
            glEnable(GL_DEPTH_TEST);
        }
    }
};

Context &context()
{
    static Context c;
    return c;
}

void FirstTexture(benchmark::State &state, int format)
{
    if (!context().ok) {
        state.SkipWithError("no inputs or no OpenGL context");
        return;
    }
    int chunks = 0;
    double readSeconds = 0, drawSeconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<GLMeshObject> mesh = loadMesh(format);
        glFinish();
        state.ResumeTiming();
        {
            Quiet quiet;
            const auto t0 = std::chrono::steady_clock::now();
            mesh->notifyCommand('3');
            const auto t1 = std::chrono::steady_clock::now();
            mesh->draw();
            glFinish();
            readSeconds += std::chrono::duration<double>(t1 - t0).count();
            drawSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t1).count();
        }
        state.PauseTiming();
        chunks = mesh->getTexturing().getNTextureChunks();
        mesh->freeData();
        mesh.reset();
        state.ResumeTiming();
    }
    state.counters["chunks"] = chunks;
    // Wall-clock seconds per use: finding, decoding and laying out the image (the key), then
    // the uploads and the frame (the first draw).
    state.counters["read_s"] = benchmark::Counter(readSeconds, benchmark::Counter::kAvgIterations);
    state.counters["draw_s"] = benchmark::Counter(drawSeconds, benchmark::Counter::kAvgIterations);
}

void FirstTextureBaseline(benchmark::State &state, int format)
{
    if (!context().ok) {
        state.SkipWithError("no inputs or no OpenGL context");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<GLMeshObject> mesh = loadMesh(format);
        glFinish();
        state.ResumeTiming();
        FILE *f = std::fopen(kImage[format].c_str(), "rb");
        Bitmap image(f, kExtension[format]);
        std::fclose(f);
        GLuint texture = 0, buffer = 0;
        glGenTextures(1, &texture);
        glBindTexture(GL_TEXTURE_2D, texture);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, image.width, image.height, 0, GL_RGB, GL_UNSIGNED_BYTE, image.pixels);
        const size_t n = static_cast<size_t>(mesh->getArrays().nTriangles);
        const int *tri = mesh->getArrays().triangles;
        const float *vert = mesh->getVertices(), *uv = mesh->getArrays().texCoords;
        const Point3 *normal = mesh->getArrays().normals;
        glGenBuffers(1, &buffer);
        glBindBuffer(GL_ARRAY_BUFFER, buffer);
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(3 * n * 8 * sizeof(float)), nullptr, GL_STATIC_DRAW);
        auto *out = static_cast<float *>(glMapBuffer(GL_ARRAY_BUFFER, GL_WRITE_ONLY));
        for (size_t c = 0; c < 3 * n; ++c, out += 8) {
            const size_t k = static_cast<size_t>(tri[c]);
            out[0] = uv[2 * c];
            out[1] = uv[2 * c + 1];
            out[2] = normal[k].x;
            out[3] = normal[k].y;
            out[4] = normal[k].z;
            out[5] = vert[3 * k];
            out[6] = vert[3 * k + 1];
            out[7] = vert[3 * k + 2];
        }
        glUnmapBuffer(GL_ARRAY_BUFFER);
        glEnable(GL_TEXTURE_2D);
        glInterleavedArrays(GL_T2F_N3F_V3F, 0, nullptr);
        glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(3 * n));
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
        glDisableClientState(GL_NORMAL_ARRAY);
        glDisableClientState(GL_VERTEX_ARRAY);
        glDisable(GL_TEXTURE_2D);
        glFinish();
        state.PauseTiming();
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        glDeleteBuffers(1, &buffer);
        glDeleteTextures(1, &texture);
        mesh.reset();
        state.ResumeTiming();
    }
}

} // namespace

BENCHMARK_CAPTURE(FirstTexture, ppm, 0)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(FirstTextureBaseline, ppm, 0)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(FirstTexture, png, 1)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(FirstTextureBaseline, png, 1)->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (!writeInputs()) {
        std::fprintf(stderr, "MeshTextureBench: can't write the inputs into a temporary folder\n");
        removeInputs();
        return 1;
    }
    // One untimed first texture before the figures: the first large allocations after writing
    // the inputs wait for the system to gather free memory, which would count against
    // whichever contender runs first.
    if (context().ok) {
        std::unique_ptr<GLMeshObject> mesh = loadMesh(0);
        Quiet quiet;
        mesh->notifyCommand('3');
        mesh->draw();
        glFinish();
        mesh->freeData();
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    removeInputs();
    return 0;
}
