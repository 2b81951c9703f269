// How far one model lies from another, in one line:
//
//   velmora-distance FROM TO [--max D]
//
// FROM is any mesh or point cloud the viewer reads (its vertices or points are measured), TO
// a triangle mesh. For every point, the distance to the nearest point of TO's surface; the
// line gives their mean, RMS, 95th percentile and maximum. With --max, points farther than D
// are counted apart and left out of the figures. The hierarchy over TO's triangles is built
// and searched on every core. The readers' notes are not shown; a refusal prints one line on
// standard error and ends with status 1. Needs no display and no OpenGL.
#include "formats/MeshFile.h"
#include "formats/PointListReader.h"
#include "math/Messages.h"
#include "math/TriangleBVH.h"

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

    const TriangleBVH bvh(mesh.vertices.get(), static_cast<size_t>(mesh.nVertices), mesh.triangles.get(),
                          static_cast<size_t>(mesh.nTriangles));
    std::vector<float> d;
    surfaceDistances(bvh, points.data(), points.size() / 3, maxDistance, d);

    std::vector<float> kept;
    kept.reserve(d.size());
    double sum = 0, sum2 = 0;
    for (float v : d)
        if (!std::isnan(v)) {
            kept.push_back(v);
            sum += v;
            sum2 += static_cast<double>(v) * v;
        }
    const size_t beyond = d.size() - kept.size();
    if (kept.empty()) {
        std::printf("%zu points, all beyond %g\n", d.size(), maxDistance);
        return 0;
    }
    // The 95th percentile as the nearest rank: the smallest distance with at least 95% of
    // the points at or below it.
    const size_t rank = static_cast<size_t>(std::ceil(0.95 * static_cast<double>(kept.size()))) - 1;
    std::nth_element(kept.begin(), kept.begin() + static_cast<long>(rank), kept.end());
    const double p95 = kept[rank];
    const double maximum = *std::max_element(kept.begin(), kept.end());
    const double n = static_cast<double>(kept.size());
    std::printf("mean %.6g, RMS %.6g, 95th percentile %.6g, maximum %.6g (%zu points", sum / n, std::sqrt(sum2 / n),
                p95, maximum, kept.size());
    if (beyond)
        std::printf(", %zu beyond %g", beyond, maxDistance);
    std::printf(")\n");
    return 0;
}
