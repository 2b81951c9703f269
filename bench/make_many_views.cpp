// Writes a COLMAP binary model of many views for the benchmarks of large reconstructions:
// VIEWS photographs taken by one SIMPLE_RADIAL camera (320 x 240) from a ring of heights
// around a ball of POINTS points, every point observed by TRACK views picked at random, each
// view with 100 keypoints that observe nothing besides. Keypoints are where the lens puts the
// points, give or take a quarter pixel. Photographs (320 x 240 PPM, a gradient of the view's
// number) are written only for the first PHOTOGRAPHS views by name: the others are missing,
// as they are when a model is opened without its images.
//
//   make_many_views OUTDIR [VIEWS=10000] [POINTS=1000000] [TRACK=5] [PHOTOGRAPHS=20]
//
// OUTDIR/sparse/0/{cameras,images,points3D}.bin and OUTDIR/images/view_NNNNN.ppm.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 320, kHeight = 240, kUnobserved = 100;
constexpr double kFocal = 260, kRadial = -0.02;

struct Writer {
    std::ofstream out;
    explicit Writer(const std::string &path) : out(path, std::ios::binary)
    {
        if (!out) {
            std::fprintf(stderr, "make_many_views: can't write %s\n", path.c_str());
            std::exit(1);
        }
    }
    // COLMAP writes little-endian; so does every machine this runs on.
    template <class T> void put(T v) { out.write(reinterpret_cast<const char *>(&v), sizeof v); }
};

struct View {
    double q[4]; // w x y z
    double R[9];
    double t[3];
};

// A view on a ring at height h looking at the origin: world to camera, y down.
View viewAt(double angle, double h)
{
    const double c[3] = {4 * std::sin(angle), h, -4 * std::cos(angle)};
    // z towards the origin, x to the right of it with the world's y up on screen (y down).
    double z[3] = {-c[0], -c[1], -c[2]};
    const double n = std::sqrt(z[0] * z[0] + z[1] * z[1] + z[2] * z[2]);
    for (double &v : z)
        v /= n;
    const double up[3] = {0, -1, 0};
    double x[3] = {up[1] * z[2] - up[2] * z[1], up[2] * z[0] - up[0] * z[2], up[0] * z[1] - up[1] * z[0]};
    const double nx = std::sqrt(x[0] * x[0] + x[1] * x[1] + x[2] * x[2]);
    for (double &v : x)
        v /= nx;
    const double y[3] = {z[1] * x[2] - z[2] * x[1], z[2] * x[0] - z[0] * x[2], z[0] * x[1] - z[1] * x[0]};
    View v;
    for (int k = 0; k < 3; ++k) {
        v.R[k] = x[k];
        v.R[3 + k] = y[k];
        v.R[6 + k] = z[k];
    }
    for (int r = 0; r < 3; ++r)
        v.t[r] = -(v.R[3 * r] * c[0] + v.R[3 * r + 1] * c[1] + v.R[3 * r + 2] * c[2]);
    // The quaternion of R (trace form; R is a proper rotation with a positive trace here or
    // falls to the largest diagonal element).
    const double *m = v.R;
    const double tr = m[0] + m[4] + m[8];
    if (tr > 0) {
        const double s = std::sqrt(tr + 1) * 2;
        v.q[0] = s / 4;
        v.q[1] = (m[7] - m[5]) / s;
        v.q[2] = (m[2] - m[6]) / s;
        v.q[3] = (m[3] - m[1]) / s;
    } else if (m[0] > m[4] && m[0] > m[8]) {
        const double s = std::sqrt(1 + m[0] - m[4] - m[8]) * 2;
        v.q[0] = (m[7] - m[5]) / s;
        v.q[1] = s / 4;
        v.q[2] = (m[1] + m[3]) / s;
        v.q[3] = (m[2] + m[6]) / s;
    } else if (m[4] > m[8]) {
        const double s = std::sqrt(1 + m[4] - m[0] - m[8]) * 2;
        v.q[0] = (m[2] - m[6]) / s;
        v.q[1] = (m[1] + m[3]) / s;
        v.q[2] = s / 4;
        v.q[3] = (m[5] + m[7]) / s;
    } else {
        const double s = std::sqrt(1 + m[8] - m[0] - m[4]) * 2;
        v.q[0] = (m[3] - m[1]) / s;
        v.q[1] = (m[2] + m[6]) / s;
        v.q[2] = (m[5] + m[7]) / s;
        v.q[3] = s / 4;
    }
    return v;
}

// The pixel where the SIMPLE_RADIAL lens puts X.
void pixelOf(const View &v, const float *X, double &u, double &w)
{
    double c[3];
    for (int r = 0; r < 3; ++r)
        c[r] = v.R[3 * r] * X[0] + v.R[3 * r + 1] * X[1] + v.R[3 * r + 2] * X[2] + v.t[r];
    const double a = c[0] / c[2], b = c[1] / c[2], f = 1 + kRadial * (a * a + b * b);
    u = kFocal * a * f + kWidth / 2.0;
    w = kFocal * b * f + kHeight / 2.0;
}

void writePhotograph(const std::string &path, int view)
{
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << kWidth << " " << kHeight << "\n255\n";
    std::vector<unsigned char> row(3 * kWidth);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            row[3 * x] = static_cast<unsigned char>(x * 255 / kWidth);
            row[3 * x + 1] = static_cast<unsigned char>(y * 255 / kHeight);
            row[3 * x + 2] = static_cast<unsigned char>(view * 37);
        }
        out.write(reinterpret_cast<const char *>(row.data()), static_cast<std::streamsize>(row.size()));
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_many_views OUTDIR [VIEWS] [POINTS] [TRACK] [PHOTOGRAPHS]\n");
        return 2;
    }
    const std::string dir = argv[1];
    const int views = argc > 2 ? std::atoi(argv[2]) : 10000;
    const int points = argc > 3 ? std::atoi(argv[3]) : 1000000;
    const int track = argc > 4 ? std::atoi(argv[4]) : 5;
    const int photographs = argc > 5 ? std::atoi(argv[5]) : 20;
    if (views < 2 || points < 1 || track < 2 || track > views || photographs < 0) {
        std::fprintf(stderr, "make_many_views: VIEWS >= 2, POINTS >= 1, 2 <= TRACK <= VIEWS\n");
        return 2;
    }
    std::filesystem::create_directories(dir + "/sparse/0");
    std::filesystem::create_directories(dir + "/images");
    std::mt19937 random(37);
    std::uniform_real_distribution<float> unit(-1, 1);
    std::normal_distribution<double> noise(0, 0.25);

    std::vector<View> ring(static_cast<size_t>(views));
    for (int i = 0; i < views; ++i)
        ring[static_cast<size_t>(i)] = viewAt(2 * 3.14159265358979 * i / views * 7.3, 1.5 * std::sin(i * 0.37));

    // The points in a ball, and for each the views that observe it.
    std::vector<float> xyz(3 * static_cast<size_t>(points));
    for (int p = 0; p < points; ++p) {
        float *X = &xyz[3 * static_cast<size_t>(p)];
        do {
            X[0] = unit(random);
            X[1] = unit(random);
            X[2] = unit(random);
        } while (X[0] * X[0] + X[1] * X[1] + X[2] * X[2] > 1);
    }
    std::vector<std::vector<uint32_t>> seenBy(static_cast<size_t>(views)); // point of each keypoint
    std::vector<uint32_t> trackView(static_cast<size_t>(points) * track), trackKey(trackView.size());
    std::uniform_int_distribution<int> anyView(0, views - 1);
    for (int p = 0; p < points; ++p)
        for (int e = 0; e < track; ++e) {
            int v;
            bool again;
            do {
                v = anyView(random);
                again = false;
                for (int f = 0; f < e; ++f)
                    again = again || trackView[static_cast<size_t>(p) * track + f] == static_cast<uint32_t>(v);
            } while (again);
            const size_t at = static_cast<size_t>(p) * track + e;
            trackView[at] = static_cast<uint32_t>(v);
            trackKey[at] = static_cast<uint32_t>(seenBy[static_cast<size_t>(v)].size());
            seenBy[static_cast<size_t>(v)].push_back(static_cast<uint32_t>(p));
        }

    Writer cameras(dir + "/sparse/0/cameras.bin");
    cameras.put<uint64_t>(1);
    cameras.put<uint32_t>(1);
    cameras.put<int32_t>(2); // SIMPLE_RADIAL: f cx cy k
    cameras.put<uint64_t>(kWidth);
    cameras.put<uint64_t>(kHeight);
    for (double v : {kFocal, kWidth / 2.0, kHeight / 2.0, kRadial})
        cameras.put<double>(v);

    Writer images(dir + "/sparse/0/images.bin");
    images.put<uint64_t>(static_cast<uint64_t>(views));
    char name[32];
    for (int i = 0; i < views; ++i) {
        const View &v = ring[static_cast<size_t>(i)];
        images.put<uint32_t>(static_cast<uint32_t>(i + 1));
        for (double q : v.q)
            images.put<double>(q);
        for (double t : v.t)
            images.put<double>(t);
        images.put<uint32_t>(1);
        std::snprintf(name, sizeof name, "view_%05d.ppm", i);
        images.out.write(name, static_cast<std::streamsize>(std::strlen(name) + 1));
        const std::vector<uint32_t> &seen = seenBy[static_cast<size_t>(i)];
        images.put<uint64_t>(seen.size() + kUnobserved);
        for (uint32_t p : seen) {
            double u, w;
            pixelOf(v, &xyz[3 * static_cast<size_t>(p)], u, w);
            images.put<double>(u + noise(random));
            images.put<double>(w + noise(random));
            images.put<int64_t>(static_cast<int64_t>(p) + 1);
        }
        for (int k = 0; k < kUnobserved; ++k) {
            images.put<double>((k * 37 % kWidth) + 0.5);
            images.put<double>((k * 53 % kHeight) + 0.5);
            images.put<int64_t>(-1);
        }
        if (i < photographs)
            writePhotograph(dir + "/images/" + name, i);
    }

    Writer pointsFile(dir + "/sparse/0/points3D.bin");
    pointsFile.put<uint64_t>(static_cast<uint64_t>(points));
    for (int p = 0; p < points; ++p) {
        const float *X = &xyz[3 * static_cast<size_t>(p)];
        pointsFile.put<uint64_t>(static_cast<uint64_t>(p) + 1);
        for (int k = 0; k < 3; ++k)
            pointsFile.put<double>(X[k]);
        pointsFile.put<uint8_t>(static_cast<uint8_t>(128 + 127 * X[0]));
        pointsFile.put<uint8_t>(static_cast<uint8_t>(128 + 127 * X[1]));
        pointsFile.put<uint8_t>(static_cast<uint8_t>(128 + 127 * X[2]));
        pointsFile.put<double>(0.25);
        pointsFile.put<uint64_t>(static_cast<uint64_t>(track));
        for (int e = 0; e < track; ++e) {
            pointsFile.put<uint32_t>(trackView[static_cast<size_t>(p) * track + e] + 1);
            pointsFile.put<uint32_t>(trackKey[static_cast<size_t>(p) * track + e]);
        }
    }
    std::printf("make_many_views: %d views, %d points, %lld observations, %d photographs in %s\n", views, points,
                static_cast<long long>(points) * track, std::min(photographs, views), dir.c_str());
    return 0;
}
