// How far one model lies from another, in one line:
//
//   velmora-distance FROM TO [--max D]
//
// FROM is any mesh or point cloud the viewer reads (its vertices or points are measured), TO
// a triangle mesh. For every point, the distance to the nearest point of TO's surface, signed
// by TO's normals where its triangles are consistently oriented, as the panel's "Distance
// to..." measures it; the line gives the mean, RMS, 95th percentile and maximum of their
// magnitudes and says whether they were signed, in the panel's own words. With --max, points
// farther than D are counted apart and left out of the figures. The hierarchy over TO's
// triangles is built and searched on every core. The readers' notes are not shown; a refusal
// prints one line on standard error and ends with status 1. Needs no display and no OpenGL.
#include "formats/MeshFile.h"
#include "formats/PointListReader.h"
#include "math/Messages.h"
#include "math/SurfaceDistance.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <string>
#include <vector>

namespace {

int fail(const std::string &message)
{
    std::fprintf(stderr, "velmora-distance: %s\n", message.c_str());
    return 1;
}

std::string extensionOf(const std::string &path)
{
    const size_t dot = path.rfind('.');
    return dot == std::string::npos ? std::string() : path.substr(dot + 1);
}

// The points of FROM: a point list's points, a mesh's vertices.
std::vector<float> readPoints(const char *path)
{
    const std::string extension = extensionOf(path);
    if (extension == "bin" || extension == "las") {
        const PointListData list = extension == "bin" ? PointListReader::readBIN(path) : PointListReader::readLAS(path);
        return std::vector<float>(list.points.get(), list.points.get() + 3 * static_cast<size_t>(list.nPoints));
    }
    const MeshFile file = MeshFile::read(path);
    if (file.kind == MeshFile::NONE)
        throw std::runtime_error("not a mesh or point cloud the viewer reads");
    if (file.kind == MeshFile::FOREIGN && file.foreign.isPointCloud) {
        const PointListData &list = file.foreign.points;
        return std::vector<float>(list.points.get(), list.points.get() + 3 * static_cast<size_t>(list.nPoints));
    }
    const MeshData &mesh = file.kind == MeshFile::FOREIGN ? file.foreign.mesh : file.mesh;
    return std::vector<float>(mesh.vertices.get(), mesh.vertices.get() + 3 * static_cast<size_t>(mesh.nVertices));
}

} // namespace

int main(int argc, char **argv)
{
    const char *from = nullptr, *to = nullptr;
    double maxDistance = std::numeric_limits<double>::infinity();
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--max") == 0 && i + 1 < argc) {
            char *end = nullptr;
            maxDistance = std::strtod(argv[++i], &end);
            if (end == argv[i] || *end || !(maxDistance >= 0))
                return fail(std::string("bad maximum distance ") + argv[i]);
        } else if (argv[i][0] == '-' && argv[i][1]) {
            return fail(std::string("unknown option ") + argv[i]);
        } else if (!from) {
            from = argv[i];
        } else if (!to) {
            to = argv[i];
        } else {
            return fail("usage: velmora-distance FROM TO [--max D]");
        }
    }
    if (!to)
        return fail("usage: velmora-distance FROM TO [--max D]");

    // The readers' notes are not this program's answer, and a refusal is one line: they are
    // kept aside.
    CapturingMessageSink sink;
    ScopedMessageSink scope(sink);
    std::vector<float> points;
    try {
        points = readPoints(from);
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
    if (points.empty())
        return fail(std::string(from) + ": no point");

    const SurfaceDistance surface(mesh.vertices.get(), static_cast<size_t>(mesh.nVertices), mesh.triangles.get(),
                                  static_cast<size_t>(mesh.nTriangles));
    std::vector<float> d;
    surface.distances(points.data(), points.size() / 3, maxDistance, d);
    const DistanceFigures f = summarizeDistances(d);
    if (f.measured == 0) {
        std::printf("%zu points, all beyond %g\n", d.size(), maxDistance);
        return 0;
    }
    std::printf("mean %.6g, RMS %.6g, 95th percentile %.6g, maximum %.6g (%zu points", f.mean, f.rms, f.p95, f.maximum,
                f.measured);
    if (f.beyond)
        std::printf(", %zu beyond %g", f.beyond, maxDistance);
    std::printf("; %s)\n", surface.isSigned() ? "signed, positive outside" : "unsigned: its normals are not consistent");
    return 0;
}
