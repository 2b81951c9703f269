// Writes the viewer's sample model: a binary mesh of a rippled torus with two per-vertex
// data items ("mean curvature" and "height"), a material block and texture coordinates
// ("TC02"), and beside it its texture: OUTPUT with its last three characters replaced by
// "png" (the image the viewer looks for, shown by key "3").
//
//   make_sample_mesh OUTPUT [AROUND ACROSS] [--plain] [--off FILE] [--ply FILE]
//
// AROUND x ACROSS is the vertex grid (around the main axis, across the tube); the default
// 640 x 256 gives 327,680 triangles (1000 x 1000 gives 2,000,000). The file is written in
// this machine's byte order, under a temporary name that becomes OUTPUT only once it is
// complete. For comparisons with other programs: --plain leaves out the data items, the
// material and the texture, --off and --ply also write the same geometry as OFF text and
// binary PLY.
#include "image/Bitmap.h"
#include "formats/DataItem.h"
#include "formats/TextureImageFiles.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const double kPi = 3.14159265358979323846;
const double kMajor = 3.0; // distance of the tube's centre line from the axis

struct Vec {
    double x, y, z;
};
Vec operator-(Vec a, Vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec operator*(double s, Vec a) { return {s * a.x, s * a.y, s * a.z}; }
double dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec cross(Vec a, Vec b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }

// The surface: u turns about the z axis, v about the tube, both over [0, 2 pi). The tube
// swells five times around and carries a fine ripple, so that the curvature has something
// to show.
Vec surface(double u, double v)
{
    const double r = 1.0 + 0.25 * std::sin(5 * u) + 0.04 * std::cos(12 * v);
    const double ring = kMajor + r * std::cos(v);
    return {ring * std::cos(u), ring * std::sin(u), r * std::sin(v)};
}

// Mean curvature from the two fundamental forms, the derivatives taken by central
// differences of the exact surface; positive where the surface bulges outwards.
double meanCurvature(double u, double v)
{
    const double h = 1e-4;
    const Vec p = surface(u, v);
    const Vec pu = surface(u + h, v), mu = surface(u - h, v);
    const Vec pv = surface(u, v + h), mv = surface(u, v - h);
    const Vec xu = (0.5 / h) * (pu - mu), xv = (0.5 / h) * (pv - mv);
    const Vec xuu = (1 / (h * h)) * (pu + mu - 2 * p);
    const Vec xvv = (1 / (h * h)) * (pv + mv - 2 * p);
    const Vec xuv = (0.25 / (h * h)) * (surface(u + h, v + h) - surface(u + h, v - h) - surface(u - h, v + h) +
                                        surface(u - h, v - h));
    Vec n = cross(xu, xv);
    n = (1 / std::sqrt(dot(n, n))) * n;
    const double E = dot(xu, xu), F = dot(xu, xv), G = dot(xv, xv);
    const double L = dot(xuu, n), M = dot(xuv, n), N = dot(xvv, n);
    return -(E * N - 2 * F * M + G * L) / (2 * (E * G - F * F));
}

bool put(FILE *f, const void *p, size_t size, size_t count) { return std::fwrite(p, size, count, f) == count; }

// Writes `path` through a temporary name with `body`; false (and nothing left) on failure.
template <class Body>
bool writeFile(const std::string &path, const char *mode, Body body)
{
    const std::string temp = path + ".part";
    FILE *f = std::fopen(temp.c_str(), mode);
    if (!f)
        return false;
    bool ok = body(f);
    ok = (std::fclose(f) == 0) && ok;
    if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

bool writeOff(FILE *f, const std::vector<float> &v, const std::vector<int32_t> &t)
{
    bool ok = std::fprintf(f, "OFF\n%zu %zu 0\n", v.size() / 3, t.size() / 3) > 0;
    for (size_t i = 0; ok && i < v.size(); i += 3)
        ok = std::fprintf(f, "%.7g %.7g %.7g\n", v[i], v[i + 1], v[i + 2]) > 0;
    for (size_t i = 0; ok && i < t.size(); i += 3)
        ok = std::fprintf(f, "3 %d %d %d\n", t[i], t[i + 1], t[i + 2]) > 0;
    return ok;
}

// Binary PLY in this machine's byte order: float vertices, faces as a uchar count and int
// indices.
bool writePly(FILE *f, const std::vector<float> &v, const std::vector<int32_t> &t)
{
    const uint16_t one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    bool ok = std::fprintf(f,
                           "ply\nformat %s 1.0\nelement vertex %zu\nproperty float x\nproperty float y\n"
                           "property float z\nelement face %zu\nproperty list uchar int vertex_indices\n"
                           "end_header\n",
                           first == 1 ? "binary_little_endian" : "binary_big_endian", v.size() / 3,
                           t.size() / 3) > 0;
    ok = ok && put(f, v.data(), 4, v.size());
    std::vector<unsigned char> faces(13 * (t.size() / 3));
    for (size_t i = 0; i < t.size() / 3; ++i) {
        faces[13 * i] = 3;
        std::memcpy(&faces[13 * i + 1], &t[3 * i], 12);
    }
    return ok && put(f, faces.data(), 1, faces.size());
}

// The texture: u (around the ring) runs along the rows, v (around the tube) down the
// columns. Colours turn once round the ring, a checker of 32 x 16 squares shades them, and a
// thin dark line marks every eighth square, so that seams and orientation show.
Bitmap sampleTexture(int width, int height)
{
    Bitmap image(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double hue = 6.0 * x / width;
            const int sector = static_cast<int>(hue) % 6;
            const double f = hue - std::floor(hue);
            double r = 0, g = 0, b = 0;
            switch (sector) {
            case 0: r = 1, g = f; break;
            case 1: r = 1 - f, g = 1; break;
            case 2: g = 1, b = f; break;
            case 3: g = 1 - f, b = 1; break;
            case 4: r = f, b = 1; break;
            default: r = 1, b = 1 - f; break;
            }
            const int cx = x * 32 / width, cy = y * 16 / height;
            double shade = (cx + cy) % 2 ? 0.95 : 0.7;
            if (x % (width / 4) < 2 || y % (height / 2) < 2)
                shade = 0.2;
            image.get(x, y) = RGB<unsigned char>(static_cast<unsigned char>(255 * (0.15 + 0.85 * r) * shade),
                                                 static_cast<unsigned char>(255 * (0.15 + 0.85 * g) * shade),
                                                 static_cast<unsigned char>(255 * (0.15 + 0.85 * b) * shade));
        }
    return image;
}

} // namespace

int main(int argc, char **argv)
{
    bool plain = false;
    std::string offPath, plyPath;
    std::vector<const char *> args;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--plain")
            plain = true;
        else if ((a == "--off" || a == "--ply") && i + 1 < argc)
            (a == "--off" ? offPath : plyPath) = argv[++i];
        else
            args.push_back(argv[i]);
    }
    if (args.size() != 1 && args.size() != 3) {
        std::fprintf(stderr, "usage: %s OUTPUT [AROUND ACROSS] [--plain] [--off FILE] [--ply FILE]\n", argv[0]);
        return 2;
    }
    int around = 640, across = 256;
    if (args.size() == 3) {
        around = std::atoi(args[1]);
        across = std::atoi(args[2]);
        if (around < 3 || across < 3 || around > 20000 || across > 20000 ||
            static_cast<long long>(around) * across > 500000000) {
            std::fprintf(stderr, "%s: grid sides must be between 3 and 20000\n", argv[0]);
            return 2;
        }
    }
    const int nVertices = around * across;
    const int nTriangles = 2 * nVertices;

    std::vector<float> vertices(3 * static_cast<size_t>(nVertices));
    std::vector<float> curvature(nVertices), height(nVertices);
    for (int i = 0; i < around; ++i)
        for (int j = 0; j < across; ++j) {
            const double u = 2 * kPi * i / around, v = 2 * kPi * j / across;
            const Vec p = surface(u, v);
            const size_t k = static_cast<size_t>(i) * across + j;
            vertices[3 * k] = static_cast<float>(p.x);
            vertices[3 * k + 1] = static_cast<float>(p.y);
            vertices[3 * k + 2] = static_cast<float>(p.z);
            curvature[k] = static_cast<float>(meanCurvature(u, v));
            height[k] = static_cast<float>(p.z);
        }
    // Each grid cell as two triangles, counter-clockwise seen from outside the tube, with the
    // texture coordinates of their corners: the grid position over the grid size, so that the
    // last row and column of cells reach u, v = 1 rather than wrap to 0.
    std::vector<int32_t> triangles;
    std::vector<float> uv;
    triangles.reserve(3 * static_cast<size_t>(nTriangles));
    uv.reserve(6 * static_cast<size_t>(nTriangles));
    for (int i = 0; i < around; ++i)
        for (int j = 0; j < across; ++j) {
            const int a = i * across + j, b = ((i + 1) % around) * across + j;
            const int c = ((i + 1) % around) * across + (j + 1) % across, d = i * across + (j + 1) % across;
            triangles.insert(triangles.end(), {a, b, c, a, c, d});
            const float u0 = float(i) / around, u1 = float(i + 1) / around;
            const float v0 = float(j) / across, v1 = float(j + 1) / across;
            uv.insert(uv.end(), {u0, v0, u1, v0, u1, v1, u0, v0, u1, v1, u0, v1});
        }

    const std::string out = args[0];
    // 0x454C written in this machine's order tells a reader which order the numbers are in.
    const uint16_t signature = 0x454C;
    const int32_t counts[2] = {nVertices, nTriangles};
    const unsigned char header[4] = {0, 1, 0, 0}; // flags, version 1, triangle mesh, padding
    const DataItem items[2] = {DataItem("mean curvature", curvature.data(), nVertices),
                               DataItem("height", height.data(), nVertices)};
    const int32_t nItems = 2;
    // A warm bronze: shininess, then ambient, diffuse and specular RGBA.
    const float material[13] = {40, 0.25f, 0.18f, 0.1f, 1, 0.8f, 0.55f, 0.3f, 1, 0.5f, 0.45f, 0.4f, 1};
    const bool ok = writeFile(out, "wb", [&](FILE *f) {
        bool done = put(f, &signature, 2, 1) && put(f, counts, 4, 2) && put(f, header, 1, 4) &&
                    put(f, vertices.data(), 4, vertices.size()) && put(f, triangles.data(), 4, triangles.size());
        if (!plain)
            done = done && put(f, "DAT0", 1, 4) && put(f, &nItems, 4, 1) && items[0].write(f) && items[1].write(f) &&
                   put(f, "MAT0", 1, 4) && put(f, material, 4, 13) && put(f, "TC02", 1, 4) &&
                   put(f, uv.data(), 4, uv.size());
        return done;
    });
    if (!ok) {
        std::fprintf(stderr, "%s: can't write %s\n", argv[0], out.c_str());
        return 1;
    }
    for (int kind = 0; kind < 2; ++kind) {
        const std::string &extra = kind == 0 ? offPath : plyPath;
        if (extra.empty())
            continue;
        const bool written = writeFile(extra, "wb", [&](FILE *f) {
            return kind == 0 ? writeOff(f, vertices, triangles) : writePly(f, vertices, triangles);
        });
        if (!written) {
            std::fprintf(stderr, "%s: can't write %s\n", argv[0], extra.c_str());
            return 1;
        }
    }
    // The texture beside the mesh (not for --plain, which writes the geometry only).
    const std::vector<std::string> companions = TextureImageFiles::companionNames(out);
    if (!plain && !companions.empty() && !sampleTexture(1024, 512).savePNG(companions.front().c_str())) {
        std::fprintf(stderr, "%s: can't write %s\n", argv[0], companions.front().c_str());
        return 1;
    }
    std::printf("%s: %d vertices, %d triangles\n", out.c_str(), nVertices, nTriangles);
    return 0;
}
