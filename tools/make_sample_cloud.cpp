// Writes sample files of the point, graph and simplicial formats, all taken from the viewer's
// sample shape (the rippled torus of make_sample_mesh):
//
//   make_sample_cloud OUTDIR [AROUND ACROSS]
//
//   cloud_colors.bin   the surface sampled on an AROUND x ACROSS grid, a colour a point
//   cloud_scores.bin   the same points, a score a point (the height, for the colour map)
//   cloud.las          the same points as text, "x y z r g b" a line
//   graph.gph          a coarse grid on the surface (an eighth of each side, at least 3),
//                      joined along both grid directions
//   simplex.tri        the simplex mesh dual to the triangulated grid: a vertex at the centre
//                      of every triangle, joined to the three triangles across its edges;
//                      mesh type 1, a "height" data item and a material
//   simplex.off        the same simplex mesh as "OFFS" text
//
// The default grid is 160 x 64. Binary files are written in this machine's byte order; every
// file is written under a temporary name that becomes its own only once it is complete.
#include "formats/DataItem.h"

#include "SampleTools.h"

#include <cerrno>
#include <cstring>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

const double kPi = 3.14159265358979323846;

struct Vec {
    double x, y, z;
};

// The sample shape: u turns about the z axis, v about the tube, both over [0, 2 pi).
Vec surface(double u, double v)
{
    const double r = 1.0 + 0.25 * std::sin(5 * u) + 0.04 * std::cos(12 * v);
    const double ring = 3.0 + r * std::cos(v);
    return {ring * std::cos(u), ring * std::sin(u), r * std::sin(v)};
}

std::vector<float> grid(int around, int across)
{
    std::vector<float> p;
    p.reserve(3 * static_cast<size_t>(around) * across);
    for (int i = 0; i < around; ++i)
        for (int j = 0; j < across; ++j) {
            const Vec s = surface(2 * kPi * i / around, 2 * kPi * j / across);
            p.insert(p.end(), {static_cast<float>(s.x), static_cast<float>(s.y), static_cast<float>(s.z)});
        }
    return p;
}

// Each grid cell as two triangles, counter-clockwise seen from outside the tube.
std::vector<int> gridTriangles(int around, int across)
{
    std::vector<int> t;
    for (int i = 0; i < around; ++i)
        for (int j = 0; j < across; ++j) {
            const int a = i * across + j, b = ((i + 1) % around) * across + j;
            const int c = ((i + 1) % around) * across + (j + 1) % across, d = i * across + (j + 1) % across;
            t.insert(t.end(), {a, b, c, a, c, d});
        }
    return t;
}

// Writes a file through a temporary name; `write` fills the open stream.
template <class Write>
bool writeFile(const std::string &path, Write write)
{
    const std::string temp = path + ".part";
    FILE *f = std::fopen(temp.c_str(), "wb");
    if (!f)
        return false;
    bool ok = write(f);
    ok = std::fclose(f) == 0 && ok;
    if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

bool put(FILE *f, const void *p, size_t size, size_t count) { return std::fwrite(p, size, count, f) == count; }

const uint16_t kMarker = 0x454C; // 'L' 'E' in a little-endian file: tells the byte order

// Where the files go, and whether every one was written (a failure is said and the others
// are still written).
struct Output {
    const char *program;
    std::string dir;
    bool ok = true;

    template <class Write>
    void write(const char *name, Write fill)
    {
        if (!writeFile(dir + name, fill)) {
            std::fprintf(stderr, "%s: can't write %s\n", program, (dir + name).c_str());
            ok = false;
        }
    }
};

// The point cloud sampled on the grid, as colours, scores and text; returns its point count.
int32_t writeCloud(Output &out, const std::vector<float> &points)
{
    const int32_t n = static_cast<int32_t>(points.size() / 3);
    std::vector<unsigned char> rgb(3 * static_cast<size_t>(n));
    std::vector<float> scores(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) {
        const float z = points[3 * static_cast<size_t>(i) + 2];
        const float s = (z + 1.3f) / 2.6f; // the height from 0 (bottom) to 1 (top)
        const float w = s < 0 ? 0 : s > 1 ? 1 : s;
        rgb[3 * static_cast<size_t>(i)] = static_cast<unsigned char>(60 + 195 * w);
        rgb[3 * static_cast<size_t>(i) + 1] = static_cast<unsigned char>(120 + 60 * std::sin(kPi * w));
        rgb[3 * static_cast<size_t>(i) + 2] = static_cast<unsigned char>(255 - 195 * w);
        scores[static_cast<size_t>(i)] = z;
    }
    out.write("cloud_colors.bin", [&](FILE *f) {
        return put(f, &kMarker, 2, 1) && put(f, &n, 4, 1) && put(f, points.data(), 4, points.size()) &&
               put(f, rgb.data(), 1, rgb.size());
    });
    out.write("cloud_scores.bin", [&](FILE *f) {
        return put(f, &kMarker, 2, 1) && put(f, &n, 4, 1) && put(f, points.data(), 4, points.size()) &&
               put(f, scores.data(), 4, scores.size());
    });
    out.write("cloud.las", [&](FILE *f) {
        for (int32_t i = 0; i < n; ++i) {
            const float *p = &points[3 * static_cast<size_t>(i)];
            const unsigned char *c = &rgb[3 * static_cast<size_t>(i)];
            if (std::fprintf(f, "%.6f %.6f %.6f %d %d %d\n", p[0], p[1], p[2], c[0], c[1], c[2]) < 0)
                return false;
        }
        return true;
    });
    return n;
}

// A coarse grid on the surface joined along both grid directions; returns its node and edge
// counts.
std::pair<int32_t, int32_t> writeGraph(Output &out, int around, int across)
{
    const int ga = std::max(3, around / 8), gc = std::max(3, across / 8);
    const std::vector<float> nodes = grid(ga, gc);
    std::vector<int32_t> edges;
    for (int i = 0; i < ga; ++i)
        for (int j = 0; j < gc; ++j) {
            const int a = i * gc + j;
            edges.insert(edges.end(), {a, ((i + 1) % ga) * gc + j, a, i * gc + (j + 1) % gc});
        }
    const int32_t counts[2] = {static_cast<int32_t>(nodes.size() / 3), static_cast<int32_t>(edges.size() / 2)};
    out.write("graph.gph", [&](FILE *f) {
        return put(f, &kMarker, 2, 1) && put(f, counts, 4, 2) && put(f, nodes.data(), 4, nodes.size()) &&
               put(f, edges.data(), 4, edges.size());
    });
    return {counts[0], counts[1]};
}

// The simplex mesh dual to the triangulated grid: one vertex a triangle, at its centre; the
// neighbours of triangle (a, b, c) are the triangles across its edges (a, b), (b, c) and (c, a).
struct SimplexMesh {
    int count = 0;
    std::vector<float> centres;
    std::vector<int32_t> neighbours;
};

SimplexMesh dualMesh(const std::vector<float> &points, int around, int across)
{
    const std::vector<int> tris = gridTriangles(around, across);
    const int nt = static_cast<int>(tris.size() / 3);
    std::map<std::pair<int, int>, std::vector<int>> across_edge;
    for (int t = 0; t < nt; ++t)
        for (int k = 0; k < 3; ++k) {
            const int a = tris[3 * t + k], b = tris[3 * t + (k + 1) % 3];
            across_edge[{std::min(a, b), std::max(a, b)}].push_back(t);
        }
    SimplexMesh m;
    m.count = nt;
    m.centres.resize(3 * static_cast<size_t>(nt));
    m.neighbours.resize(3 * static_cast<size_t>(nt));
    for (int t = 0; t < nt; ++t) {
        for (int d = 0; d < 3; ++d) {
            float sum = 0;
            for (int k = 0; k < 3; ++k)
                sum += points[3 * static_cast<size_t>(tris[3 * t + k]) + d];
            m.centres[3 * static_cast<size_t>(t) + d] = sum / 3;
        }
        for (int k = 0; k < 3; ++k) {
            const int a = tris[3 * t + k], b = tris[3 * t + (k + 1) % 3];
            const std::vector<int> &pair = across_edge[{std::min(a, b), std::max(a, b)}];
            m.neighbours[3 * static_cast<size_t>(t) + k] = pair[0] == t ? pair[1] : pair[0];
        }
    }
    return m;
}

// The simplex mesh as the binary file (with a "height" data item and a material) and as text.
void writeSimplexMesh(Output &out, const SimplexMesh &m)
{
    const int nt = m.count;
    std::vector<float> height(static_cast<size_t>(nt));
    for (int t = 0; t < nt; ++t)
        height[static_cast<size_t>(t)] = m.centres[3 * static_cast<size_t>(t) + 2];
    const int32_t meshCounts[2] = {nt, nt};
    const unsigned char header[4] = {0, 1, 1, 0}; // flags, version 1, simplex mesh, padding
    const DataItem item("height", height.data(), nt);
    const int32_t nItems = 1;
    const float material[13] = {30, 0.15f, 0.2f, 0.25f, 1, 0.45f, 0.65f, 0.85f, 1, 0.5f, 0.5f, 0.5f, 1};
    out.write("simplex.tri", [&](FILE *f) {
        return put(f, &kMarker, 2, 1) && put(f, meshCounts, 4, 2) && put(f, header, 1, 4) &&
               put(f, m.centres.data(), 4, m.centres.size()) && put(f, m.neighbours.data(), 4, m.neighbours.size()) &&
               put(f, "DAT0", 1, 4) && put(f, &nItems, 4, 1) && item.write(f) && put(f, "MAT0", 1, 4) &&
               put(f, material, 4, 13);
    });
    out.write("simplex.off", [&](FILE *f) {
        bool good = std::fprintf(f, "OFFS\n%d %d 0\n", nt, nt) > 0;
        for (int t = 0; good && t < nt; ++t)
            good = std::fprintf(f, "%.6f %.6f %.6f\n", m.centres[3 * static_cast<size_t>(t)],
                                m.centres[3 * static_cast<size_t>(t) + 1], m.centres[3 * static_cast<size_t>(t) + 2]) > 0;
        for (int t = 0; good && t < nt; ++t)
            good = std::fprintf(f, "3 %d %d %d\n", m.neighbours[3 * static_cast<size_t>(t)],
                                m.neighbours[3 * static_cast<size_t>(t) + 1],
                                m.neighbours[3 * static_cast<size_t>(t) + 2]) > 0;
        return good;
    });
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: %s OUTDIR [AROUND ACROSS]\n", argv[0]);
        return 2;
    }
    int around = 160, across = 64;
    if (argc == 4) {
        around = std::atoi(argv[2]);
        across = std::atoi(argv[3]);
        if (around < 3 || across < 3 || around > 4000 || across > 4000) {
            std::fprintf(stderr, "%s: grid sides must be between 3 and 4000\n", argv[0]);
            return 2;
        }
    }
    // The folder and those above it, as the scene and volume generators make theirs.
    if (!sampletools::makeFolders(argv[1])) {
        std::fprintf(stderr, "%s: can't make %s: %s\n", argv[0], argv[1], std::strerror(errno));
        return 1;
    }
    Output out{argv[0], std::string(argv[1]) + "/"};
    const std::vector<float> points = grid(around, across);
    const int32_t n = writeCloud(out, points);
    const std::pair<int32_t, int32_t> graph = writeGraph(out, around, across);
    const SimplexMesh simplex = dualMesh(points, around, across);
    writeSimplexMesh(out, simplex);
    if (!out.ok)
        return 1;
    std::printf("%s: %d points, a graph of %d nodes and %d edges, a simplex mesh of %d vertices\n", argv[1], n,
                graph.first, graph.second, simplex.count);
    return 0;
}
