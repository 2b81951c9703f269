// Writes a dense coloured point cloud, a rippled sphere-like shell, for benchmarks and the
// end-to-end tests of large clouds:
//
//   make_dense_cloud OUT N
//
// The format follows the extension of OUT: "ply" (binary little-endian, x y z float, red green
// blue uchar), "las" (ASPRS LAS 1.2, point format 2, millimetres around a georeferenced
// offset) or "xyz" (text, "x y z r g b" a line). The points are a fixed pseudo-random
// sample, the same for the same N.
#include "SampleTools.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Shell {
    sampletools::SphereSampler sampler;
    // A point of the shell and its colour.
    void next(float *p, unsigned char *c)
    {
        double d[3];
        const double a = sampler.direction(d);
        const double r = 1 + 0.05 * std::sin(9 * a) * std::cos(7 * d[2]);
        for (int k = 0; k < 3; ++k) {
            p[k] = static_cast<float>(r * d[k]);
            c[k] = static_cast<unsigned char>(127 + 127 * p[k]);
        }
    }
};

template <class T> void put(std::vector<unsigned char> &out, T v)
{
    const unsigned char *b = reinterpret_cast<const unsigned char *>(&v);
    out.insert(out.end(), b, b + sizeof v);
}

bool endsWith(const std::string &s, const char *e)
{
    const size_t n = std::strlen(e);
    return s.size() >= n && s.compare(s.size() - n, n, e) == 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_dense_cloud OUT.{ply,las,xyz} N\n");
        return 2;
    }
    const std::string out = argv[1];
    const long long n = std::atoll(argv[2]);
    if (n <= 0 || n > 2000000000LL) {
        std::fprintf(stderr, "make_dense_cloud: N must be from 1 to 2000000000\n");
        return 2;
    }
    FILE *f = std::fopen(out.c_str(), "wb");
    if (!f) {
        std::perror(out.c_str());
        return 1;
    }
    Shell shell;
    std::vector<unsigned char> chunk;
    const bool ply = endsWith(out, ".ply"), las = endsWith(out, ".las"), xyz = endsWith(out, ".xyz");
    if (!ply && !las && !xyz) {
        std::fprintf(stderr, "make_dense_cloud: OUT must end in .ply, .las or .xyz\n");
        std::fclose(f);
        return 2;
    }
    const double offset[3] = {500000.0, 4000000.0, 100.0}, scale = 0.001, extent = 100.0;
    if (ply) {
        std::fprintf(f,
                     "ply\nformat binary_little_endian 1.0\nelement vertex %lld\nproperty float x\nproperty float y\n"
                     "property float z\nproperty uchar red\nproperty uchar green\nproperty uchar blue\nend_header\n",
                     n);
    } else if (las) {
        std::vector<unsigned char> h(227, 0);
        std::memcpy(h.data(), "LASF", 4);
        h[24] = 1;
        h[25] = 2;
        std::memcpy(h.data() + 26, "make_dense_cloud", 16);
        const uint16_t headerSize = 227, recordLength = 26;
        const uint32_t pointOffset = 227, count = static_cast<uint32_t>(n);
        std::memcpy(h.data() + 94, &headerSize, 2);
        std::memcpy(h.data() + 96, &pointOffset, 4);
        h[104] = 2;
        std::memcpy(h.data() + 105, &recordLength, 2);
        std::memcpy(h.data() + 107, &count, 4);
        for (int k = 0; k < 3; ++k) {
            std::memcpy(h.data() + 131 + 8 * k, &scale, 8);
            std::memcpy(h.data() + 155 + 8 * k, &offset[k], 8);
            const double hi = offset[k] + 1.05 * extent, lo = offset[k] - 1.05 * extent;
            std::memcpy(h.data() + 179 + 16 * k, &hi, 8);
            std::memcpy(h.data() + 187 + 16 * k, &lo, 8);
        }
        std::fwrite(h.data(), 1, h.size(), f);
    }
    char line[128];
    for (long long i = 0; i < n; ++i) {
        float p[3];
        unsigned char c[3];
        shell.next(p, c);
        if (ply) {
            for (float v : p)
                put(chunk, v);
            chunk.insert(chunk.end(), c, c + 3);
        } else if (las) {
            for (int k = 0; k < 3; ++k)
                put(chunk, static_cast<int32_t>(std::lround(p[k] * extent / scale)));
            put<uint16_t>(chunk, static_cast<uint16_t>(i & 0xFFFF)); // intensity
            chunk.push_back(1);                                       // first of one return
            chunk.push_back(static_cast<unsigned char>(2 + (i % 3))); // ground, vegetation
            chunk.push_back(0);
            chunk.push_back(0);
            put<uint16_t>(chunk, 0);
            for (unsigned char v : c)
                put<uint16_t>(chunk, static_cast<uint16_t>(v * 257));
        } else {
            const int k = std::snprintf(line, sizeof line, "%.6f %.6f %.6f %d %d %d\n", p[0], p[1], p[2], c[0], c[1], c[2]);
            chunk.insert(chunk.end(), line, line + k);
        }
        if (chunk.size() >= (1u << 22)) {
            std::fwrite(chunk.data(), 1, chunk.size(), f);
            chunk.clear();
        }
    }
    std::fwrite(chunk.data(), 1, chunk.size(), f);
    if (std::fclose(f) != 0) {
        std::perror(out.c_str());
        return 1;
    }
    return 0;
}
