// Writes a large generated point cloud as Entwine point tiles (EPT, binary records of 15 bytes
// a point: X, Y, Z as int32 millimetres, red, green and blue as bytes), for the benchmarks of
// clouds read node by node:
//
//   make_point_tiles OUT_FOLDER N [MEMORY_MB]
//
// The points are nested sphere-like shells (five, of radii 100 to 500 m, rippled) around a
// georeferenced centre, coloured by direction and shell, a fixed pseudo-random sample (the
// same for the same N). They are handed to the tile builder in parts, so the cloud may be far
// larger than the memory: MEMORY_MB (default 1024) bounds what the builder holds at once.
#include "SampleTools.h"
#include "formats/TileBuilder.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <vector>

namespace {

struct Shells {
    sampletools::SphereSampler sampler;
    void next(double *p, unsigned char *c)
    {
        const int shell = static_cast<int>(sampler.uniform() * 5);
        double d[3];
        const double a = sampler.direction(d);
        const double r = 100.0 * (shell + 1) * (1 + 0.03 * std::sin(9 * a) * std::cos(7 * d[2]));
        for (int k = 0; k < 3; ++k) {
            p[k] = kCentre[k] + r * d[k];
            c[k] = static_cast<unsigned char>(std::lround(40 + 35 * shell * (k == shell % 3) + 90 * (d[k] + 1) / 2));
        }
    }
    static constexpr double kCentre[3] = {500000.0, 4000000.0, 300.0};
};

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: make_point_tiles OUT_FOLDER N [MEMORY_MB]\n");
        return 2;
    }
    const long long n = std::atoll(argv[2]);
    const long long mb = argc == 4 ? std::atoll(argv[3]) : 1024;
    if (n <= 0 || mb <= 0) {
        std::fprintf(stderr, "make_point_tiles: N and MEMORY_MB must be positive\n");
        return 2;
    }
    TileBuilder::Settings s;
    s.folder = argv[1];
    for (int k = 0; k < 3; ++k)
        s.lo[k] = Shells::kCentre[k] - 520;
    s.size = 1040;
    s.scale = 0.001;
    s.colours = true;
    s.memoryBytes = static_cast<size_t>(mb) << 20;
    try {
        TileBuilder builder(s);
        Shells shells;
        const size_t part = size_t(1) << 20;
        std::vector<double> xyz(3 * part);
        std::vector<unsigned char> rgb(3 * part);
        for (long long done = 0; done < n;) {
            const size_t m = static_cast<size_t>(std::min<long long>(part, n - done));
            for (size_t p = 0; p < m; ++p)
                shells.next(&xyz[3 * p], &rgb[3 * p]);
            builder.add(m, xyz.data(), rgb.data(), {});
            done += static_cast<long long>(m);
            if (done % (1LL << 24) < static_cast<long long>(m) || done == n)
                std::fprintf(stderr, "\rmake_point_tiles: %lld of %lld points", done, n);
        }
        std::fprintf(stderr, "\n");
        int shown = -1;
        builder.finish([&shown](double share) {
            if (static_cast<int>(100 * share) != shown)
                std::fprintf(stderr, "\rmake_point_tiles: nodes %3d%%", shown = static_cast<int>(100 * share));
        });
        std::fprintf(stderr, "\nmake_point_tiles: %lld points, records of %zu bytes, in %s\n", n, builder.recordBytes(),
                     argv[1]);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "make_point_tiles: %s\n", e.what());
        return 1;
    }
    return 0;
}
