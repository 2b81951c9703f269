// Measures the distance between two vertices of a mesh, as the viewer's path measurement
// does, for scripts:
//
//   meshdist MESH FROM TO [--plane ANGLE]
//
// MESH is any file the viewer opens as a triangle mesh (read as the viewer reads it, see
// MeshFile); FROM and TO are vertex indices.
// Without --plane the path follows mesh edges (shortest edge path); with it the path crosses
// the triangles along the plane through both vertices turned by ANGLE degrees about the line
// joining them (0: the plane that also holds the mesh's origin). Prints one line
//   path: N points, geodesic G, euclidean E
// and exits 0; any failure prints a reason on standard error and exits 1.
#include "formats/MeshFile.h"
#include "measure/MeshAdjacency.h"
#include "measure/SurfacePath.h"
#include "objects/SimplexDual.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

namespace {

const char *program = "meshdist";

int fail(const char *format, const char *a = "", long b = 0)
{
    std::fprintf(stderr, "%s: ", program);
    std::fprintf(stderr, format, a, b);
    std::fputc('\n', stderr);
    return 1;
}

bool parseInt(const char *text, long &value)
{
    errno = 0;
    char *end = nullptr;
    value = std::strtol(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && value >= INT_MIN && value <= INT_MAX;
}

// The readers and path builders report progress and trouble on standard output, as the
// viewer shows them in its console; here standard output carries only the result line, so
// their words go to standard error while they run.
class StdoutToStderr {
public:
    StdoutToStderr()
    {
        std::fflush(stdout);
        saved = dup(STDOUT_FILENO);
        dup2(STDERR_FILENO, STDOUT_FILENO);
    }
    ~StdoutToStderr()
    {
        std::fflush(stdout);
        if (saved >= 0) {
            dup2(saved, STDOUT_FILENO);
            close(saved);
        }
    }

private:
    int saved;
};

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4 && !(argc == 6 && std::strcmp(argv[4], "--plane") == 0)) {
        std::fprintf(stderr, "usage: %s MESH FROM TO [--plane ANGLE]\n", program);
        return 1;
    }
    long from = 0, to = 0, angle = 0;
    if (!parseInt(argv[2], from))
        return fail("vertex index \"%s\" is not a number", argv[2]);
    if (!parseInt(argv[3], to))
        return fail("vertex index \"%s\" is not a number", argv[3]);
    const bool plane = argc == 6;
    if (plane && !parseInt(argv[5], angle))
        return fail("angle \"%s\" is not a whole number of degrees", argv[5]);

    std::unique_ptr<Chemin> path;
    {
        StdoutToStderr quiet;
        MeshFile file;
        try {
            file = MeshFile::read(argv[1]);
            // The viewer opens a simplex mesh only when its neighbours close into faces.
            if (file.kind == MeshFile::SIMPLICIAL) {
                const MeshData &m = file.mesh;
                const std::vector<int> next = SimplexDual::links(m.triangles.get(), m.nTriangles, m.nVertices, argv[1]);
                SimplexDual::faces(next.data(), m.vertices.get(), m.nTriangles, argv[1]);
            }
        } catch (const std::exception &) {
            file.kind = MeshFile::NONE;
        }
        if (file.kind == MeshFile::NONE)
            return fail("can't read a mesh from %s", argv[1]);
        if (file.kind == MeshFile::FOREIGN && file.foreign.isPointCloud)
            return fail("%s is not a triangle mesh", argv[1]);
        const MeshData &mesh = file.kind == MeshFile::FOREIGN ? file.foreign.mesh : file.mesh;
        const int n = mesh.nVertices;
        for (long v : {from, to})
            if (v < 0 || v >= n) {
                char text[64];
                std::snprintf(text, sizeof text, "%ld", v);
                return fail("vertex index %s is not in 0 .. %ld", text, static_cast<long>(n) - 1);
            }
        try {
            const Objet_data data(&mesh.nVertices, reinterpret_cast<const Point3 *>(mesh.vertices.get()),
                                  &mesh.nTriangles, mesh.triangles.get());
            const MeshAdjacency adjacency(data);
            if (plane) {
                path = chemin_plan(adjacency, static_cast<int>(from), static_cast<int>(to), static_cast<int>(angle));
                if (!path)
                    return fail("no path across the plane from %s (see above)", argv[2]);
            } else {
                bool reached = false;
                path = chemin_aretes(adjacency, static_cast<int>(from), static_cast<int>(to), &reached);
                if (!reached)
                    return fail("vertex %s cannot be reached along the edges from vertex %ld", argv[3], from);
            }
        } catch (const std::exception &e) {
            return fail("%s", e.what());
        }
    }
    std::printf("path: %d points, geodesic %.6f, euclidean %.6f\n", path->size(), path->geodesicDistance(),
                path->euclideanDistance());
    return 0;
}
