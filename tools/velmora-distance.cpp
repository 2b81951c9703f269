// How far one model lies from another, in one line:
//
//   velmora-distance FROM TO [--max D] [--ply OUT]
//
// FROM is any mesh or point cloud the viewer reads (its vertices or points are measured, in
// the file's coordinates), TO a triangle mesh. For every point, the distance to the nearest
// point of TO's surface, signed by TO's normals where its triangles are consistently
// oriented, as the panel's "Distance to..." measures it; the line gives the mean, median,
// RMS, 95th percentile and maximum of their magnitudes and says whether they were signed, in
// the panel's own words. With --max, points farther than D are counted apart and left out of
// the figures. With --ply, FROM is written to OUT as a binary PLY whose vertices carry their
// distance (property "distance", NaN beyond the maximum), with FROM's triangles when it is a
// mesh. The hierarchy over TO's triangles is built and searched on every core. The readers'
// notes are not shown; a refusal prints one line on standard error and ends with status 1.
// Needs no display and no OpenGL.
#include "formats/CloudFile.h"
#include "formats/MeshFile.h"
#include "formats/PointListReader.h"
#include "math/Messages.h"
#include "math/SurfaceDistance.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

int fail(const std::string &message)
{
    std::fprintf(stderr, "velmora-distance: %s\n", message.c_str());
    return 1;
}

// FROM's points as stored (float), the origin that gives the file's coordinates, and its
// triangles when it is a mesh.
struct Model {
    std::vector<float> points;
    double origin[3] = {0, 0, 0};
    std::vector<int> triangles;
};

void takeCloud(const PointListData &list, Model &m)
{
    m.points.assign(list.points.get(), list.points.get() + 3 * static_cast<size_t>(list.nPoints));
    std::copy(list.origin, list.origin + 3, m.origin);
}

Model readModel(const char *path)
{
    Model m;
    if (CloudFile::isCloudName(path)) {
        takeCloud(CloudFile::read(path), m);
        return m;
    }
    const MeshFile file = MeshFile::read(path);
    if (file.kind == MeshFile::NONE)
        throw std::runtime_error("not a mesh or point cloud the viewer reads");
    if (file.kind == MeshFile::FOREIGN && file.foreign.isPointCloud) {
        takeCloud(file.foreign.points, m);
        return m;
    }
    const MeshData &mesh = file.kind == MeshFile::FOREIGN ? file.foreign.mesh : file.mesh;
    m.points.assign(mesh.vertices.get(), mesh.vertices.get() + 3 * static_cast<size_t>(mesh.nVertices));
    if (file.kind != MeshFile::SIMPLICIAL)
        m.triangles.assign(mesh.triangles.get(), mesh.triangles.get() + 3 * static_cast<size_t>(mesh.nTriangles));
    return m;
}

// A binary little-endian PLY of the points with their distances, written beside OUT and
// renamed at the end: a failed write leaves no truncated file under the final name.
bool writePly(const std::string &path, const Model &m, const std::vector<float> &d)
{
    static_assert(sizeof(float) == 4 && sizeof(double) == 8, "PLY's float and double");
    const uint16_t probe = 1;
    unsigned char low = 0;
    std::memcpy(&low, &probe, 1);
    if (low != 1)
        return false; // the rows are written as the machine holds them
    // Coordinates that came relative to an origin go out in double, as they came in.
    const bool wide = m.origin[0] != 0 || m.origin[1] != 0 || m.origin[2] != 0;
    const char *type = wide ? "double" : "float";
    const size_t n = d.size(), nTriangles = m.triangles.size() / 3;
    const std::string part = path + ".part";
    FILE *f = std::fopen(part.c_str(), "wb");
    if (!f)
        return false;
    std::fprintf(f, "ply\nformat binary_little_endian 1.0\ncomment distances by velmora-distance\n"
                    "element vertex %zu\nproperty %s x\nproperty %s y\nproperty %s z\nproperty float distance\n",
                 n, type, type, type);
    if (nTriangles)
        std::fprintf(f, "element face %zu\nproperty list uchar int vertex_indices\n", nTriangles);
    std::fprintf(f, "end_header\n");
    std::vector<unsigned char> row;
    bool ok = true;
    for (size_t i = 0; i < n && ok; ++i) {
        row.clear();
        const auto put = [&row](const void *p, size_t size) {
            row.insert(row.end(), static_cast<const unsigned char *>(p), static_cast<const unsigned char *>(p) + size);
        };
        for (int k = 0; k < 3; ++k) {
            const double x = m.origin[k] + m.points[3 * i + static_cast<size_t>(k)];
            const float xf = static_cast<float>(x);
            wide ? put(&x, 8) : put(&xf, 4);
        }
        put(&d[i], 4);
        ok = std::fwrite(row.data(), 1, row.size(), f) == row.size();
    }
    for (size_t t = 0; t < nTriangles && ok; ++t) {
        const unsigned char three = 3;
        ok = std::fwrite(&three, 1, 1, f) == 1 && std::fwrite(&m.triangles[3 * t], 4, 3, f) == 3;
    }
    ok = std::fclose(f) == 0 && ok;
    if (ok && std::rename(part.c_str(), path.c_str()) == 0)
        return true;
    std::remove(part.c_str());
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    const char *from = nullptr, *to = nullptr, *plyOut = nullptr;
    double maxDistance = std::numeric_limits<double>::infinity();
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--max") == 0 && i + 1 < argc) {
            char *end = nullptr;
            maxDistance = std::strtod(argv[++i], &end);
            if (end == argv[i] || *end || !(maxDistance >= 0))
                return fail(std::string("bad maximum distance ") + argv[i]);
        } else if (std::strcmp(argv[i], "--ply") == 0 && i + 1 < argc) {
            plyOut = argv[++i];
        } else if (argv[i][0] == '-' && argv[i][1]) {
            return fail(std::string("unknown option ") + argv[i]);
        } else if (!from) {
            from = argv[i];
        } else if (!to) {
            to = argv[i];
        } else {
            return fail("usage: velmora-distance FROM TO [--max D] [--ply OUT]");
        }
    }
    if (!to)
        return fail("usage: velmora-distance FROM TO [--max D] [--ply OUT]");

    // The readers' notes are not this program's answer, and a refusal is one line: they are
    // kept aside.
    CapturingMessageSink sink;
    ScopedMessageSink scope(sink);
    Model model;
    try {
        model = readModel(from);
    } catch (const std::exception &e) {
        return fail(std::string(from) + ": " + e.what());
    }
    MeshFile target;
    try {
        target = MeshFile::read(to);
    } catch (const std::exception &e) {
        return fail(std::string(to) + ": " + e.what());
    }
    if (target.kind != MeshFile::TRIANGLES && !(target.kind == MeshFile::FOREIGN && !target.foreign.isPointCloud))
        return fail(std::string(to) + ": not a triangle mesh");
    const MeshData &mesh = target.kind == MeshFile::FOREIGN ? target.foreign.mesh : target.mesh;
    if (mesh.nTriangles <= 0)
        return fail(std::string(to) + ": no triangle");
    if (model.points.empty())
        return fail(std::string(from) + ": no point");
    // Measured in the file's coordinates, those TO is in.
    std::vector<float> points(model.points.size());
    for (size_t i = 0; i < points.size(); ++i)
        points[i] = static_cast<float>(model.origin[i % 3] + model.points[i]);

    const SurfaceDistance surface(mesh.vertices.get(), static_cast<size_t>(mesh.nVertices), mesh.triangles.get(),
                                  static_cast<size_t>(mesh.nTriangles));
    std::vector<float> d;
    surface.distances(points.data(), points.size() / 3, maxDistance, d);
    if (plyOut && !writePly(plyOut, model, d))
        return fail(std::string(plyOut) + ": can't write file");
    const DistanceFigures f = summarizeDistances(d);
    if (f.measured == 0) {
        std::printf("%zu points, all beyond %g\n", d.size(), maxDistance);
        return 0;
    }
    std::printf("mean %.6g, median %.6g, RMS %.6g, 95th percentile %.6g, maximum %.6g (%zu points", f.mean, f.median,
                f.rms, f.p95, f.maximum, f.measured);
    if (f.beyond)
        std::printf(", %zu beyond %g", f.beyond, maxDistance);
    std::printf("; %s)\n", surface.isSigned() ? "signed, positive outside" : "unsigned: its normals are not consistent");
    return 0;
}
