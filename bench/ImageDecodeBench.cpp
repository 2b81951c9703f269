// Decoding a 4096 x 4096 photograph through Bitmap against a bare libpng / libjpeg decode of
// the same file into a plain buffer, in the same run. What Bitmap adds (error exits that
// raise, buffers that grow with the decoded rows, the checks) should cost little next to
// the decompression itself.
//
// The picture is generated at start: smooth gradients plus noise, so that both formats
// compress it about as they compress a photograph. The files go to a fresh temporary folder
// (under $TMPDIR, else /tmp), removed at the end.
#include "image/Bitmap.h"

#include <benchmark/benchmark.h>

#include <jpeglib.h>
#include <png.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{

const int kSize = 4096;

// A fresh temporary folder for the pictures, removed at the end.
std::string dataDir()
{
    static const std::string dir = [] {
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/velmora-imagedecode.XXXXXX";
        return mkdtemp(pattern.data()) ? pattern : std::string();
    }();
    return dir;
}
std::string pngPath()
{
    return dataDir() + "/photo4096.png";
}
std::string jpgPath()
{
    return dataDir() + "/photo4096.jpg";
}

void removePhotograph()
{
    std::remove(pngPath().c_str());
    std::remove(jpgPath().c_str());
    rmdir(dataDir().c_str());
}

void makePhotograph()
{
    if (dataDir().empty()) {
        std::fprintf(stderr, "can't make a temporary folder for the benchmark pictures\n");
        std::exit(1);
    }
    Bitmap photo(kSize, kSize);
    unsigned seed = 12345;
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            const float u = x / float(kSize), v = y / float(kSize);
            const float base[3] = {
                128 + 90 * std::sin(6.0f * u + 2.0f * v),
                128 + 80 * std::cos(4.0f * v - 3.0f * u * v),
                110 + 70 * std::sin(9.0f * u * u + 5.0f * v),
            };
            unsigned char c[3];
            for (int k = 0; k < 3; ++k) {
                seed = seed * 1664525u + 1013904223u;
                const float noise = float(int(seed >> 24) - 128) / 16.0f; // about +-8
                c[k] = static_cast<unsigned char>(std::fmin(255.0f, std::fmax(0.0f, base[k] + noise)));
            }
            photo.get(x, y) = RGB<unsigned char>(c[0], c[1], c[2]);
        }
    if (!photo.savePNG(pngPath().c_str()) || !photo.saveJPEG(jpgPath().c_str(), 90)) {
        std::fprintf(stderr, "can't write the benchmark pictures under %s\n", dataDir().c_str());
        removePhotograph();
        std::exit(1);
    }
}

void BitmapPng(benchmark::State &state)
{
    const std::string path = pngPath();
    for (auto _ : state) {
        Bitmap b;
        b.loadPNG(path.c_str());
        benchmark::DoNotOptimize(b.pixels);
    }
}

struct BarePng {
    std::jmp_buf jump;
};

void bareFail(png_structp png, png_const_charp)
{
    std::longjmp(static_cast<BarePng *>(png_get_error_ptr(png))->jump, 1);
}

// Plain C style: libpng may leave it by longjmp, so nothing here has a destructor.
bool barePngDecode(const char *path)
{
    FILE *f = std::fopen(path, "rb");
    if (!f)
        return false;
    BarePng error;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &error, bareFail, nullptr);
    png_infop info = png_create_info_struct(png);
    unsigned char *volatile pixels = nullptr;
    png_bytep *volatile rows = nullptr;
    bool ok = false;
    if (setjmp(error.jump) == 0) {
        png_init_io(png, f);
        png_read_info(png, info);
        const png_uint_32 h = png_get_image_height(png, info);
        const size_t rowBytes = png_get_rowbytes(png, info);
        pixels = static_cast<unsigned char *>(std::malloc(rowBytes * h));
        rows = static_cast<png_bytep *>(std::malloc(sizeof(png_bytep) * h));
        for (png_uint_32 y = 0; y < h; ++y)
            rows[y] = pixels + y * rowBytes;
        png_read_image(png, rows);
        benchmark::DoNotOptimize(pixels[rowBytes]);
        ok = true;
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::free(rows);
    std::free(pixels);
    std::fclose(f);
    return ok;
}

void BareLibpng(benchmark::State &state)
{
    const std::string path = pngPath();
    for (auto _ : state)
        if (!barePngDecode(path.c_str())) {
            state.SkipWithError("libpng failed");
            break;
        }
}

void BitmapJpeg(benchmark::State &state)
{
    const std::string path = jpgPath();
    for (auto _ : state) {
        Bitmap b;
        b.loadJPG(path.c_str());
        benchmark::DoNotOptimize(b.pixels);
    }
}

// libjpeg's own error exit ends the process: acceptable for a file this program just wrote.
void BareLibjpeg(benchmark::State &state)
{
    const std::string path = jpgPath();
    for (auto _ : state) {
        FILE *f = std::fopen(path.c_str(), "rb");
        jpeg_decompress_struct cinfo;
        jpeg_error_mgr error;
        cinfo.err = jpeg_std_error(&error);
        jpeg_create_decompress(&cinfo);
        jpeg_stdio_src(&cinfo, f);
        jpeg_read_header(&cinfo, TRUE);
        cinfo.out_color_space = JCS_RGB;
        jpeg_start_decompress(&cinfo);
        const size_t rowBytes = size_t(cinfo.output_width) * 3;
        auto *pixels = static_cast<unsigned char *>(std::malloc(rowBytes * cinfo.output_height));
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW row = pixels + cinfo.output_scanline * rowBytes;
            jpeg_read_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_decompress(&cinfo);
        jpeg_destroy_decompress(&cinfo);
        benchmark::DoNotOptimize(pixels[rowBytes]);
        std::free(pixels);
        std::fclose(f);
    }
}

BENCHMARK(BitmapPng)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BareLibpng)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BitmapJpeg)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BareLibjpeg)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    makePhotograph();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    removePhotograph();
    return 0;
}
