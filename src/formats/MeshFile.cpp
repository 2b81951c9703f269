#include "formats/MeshFile.h"

#include "formats/AssimpReader.h"
#include "formats/ModelRequest.h"
#include "formats/SimplexMeshReader.h"
#include "math/Messages.h"

#include <cstring>
#include <strings.h>

MeshData MeshFile::readTriangles(const char *path, bool off)
{
    return off ? MeshReader::readOFF(path) : MeshReader::readBinary(path);
}

// A mesh-type byte other than 0, an "OFFS" header or any other error of the triangle reader
// makes the file a candidate for the simplicial mesh.
MeshFile MeshFile::readSimplicial(const char *path, bool off, const std::exception &refusal)
{
    std::string why = refusal.what();
    while (!why.empty() && why.back() == '\n')
        why.pop_back();
    msg::warning("GL3DObjectLoader: %s is no triangle mesh (%s), trying a simplicial mesh\n", path, why.c_str());
    MeshFile file;
    file.kind = SIMPLICIAL;
    file.name = path;
    file.off = off;
    file.mesh = off ? SimplexMeshReader::readSOFF(path) : SimplexMeshReader::readMesh(path);
    return file;
}

bool MeshFile::maybeSimplicial(bool off, const std::exception &refusal)
{
    return !off || std::strcmp(refusal.what(), "not an OFF file\n") == 0;
}

bool MeshFile::keepAsPoints(MeshFile &file)
{
    MeshData &g = file.mesh;
    if (file.kind != TRIANGLES || !file.off || g.nTriangles != 0 || g.nVertices <= 0)
        return false;
    PointListData &p = file.foreign.points;
    const size_t n = static_cast<size_t>(g.nVertices);
    p.nPoints = g.nVertices;
    p.points = std::move(g.vertices);
    if (g.colors && g.colorsFromFile) {
        p.colors = allocateLargeArray<unsigned char>(3 * n);
        std::memcpy(p.colors.get(), g.colors.get(), 3 * n);
    }
    p.bounds.addPoints(p.points.get(), 3 * n);
    file.foreign.isPointCloud = true;
    file.kind = FOREIGN;
    file.mesh = MeshData();
    msg::note("GL3DObjectLoader: %s holds %d points and no faces%s\n", file.name.c_str(), p.nPoints,
              p.colors ? ", with colours" : "");
    return true;
}

MeshFile MeshFile::read(const char *path, size_t groupFrom)
{
    MeshFile file;
    const char *dot = path ? std::strrchr(path, '.') : nullptr;
    if (!dot)
        return file;
    const char *ext = dot + 1;
    // The viewer's own formats whatever the case of their extension: Assimp reads OFF too,
    // and aborts on some files of other programs.
    if (strcasecmp(ext, "tri") == 0 || strcasecmp(ext, "off") == 0) {
        const bool off = strcasecmp(ext, "off") == 0;
        try {
            file.mesh = readTriangles(path, off);
        } catch (const std::exception &e) {
            if (!maybeSimplicial(off, e))
                throw;
            return readSimplicial(path, off, e);
        }
        file.kind = TRIANGLES;
        file.name = path;
        file.off = off;
        keepAsPoints(file);
    } else if (AssimpReader::canRead(ext) && !ModelRequest::isDescriptor(path)) {
        file.foreign = AssimpReader::read(path, groupFrom);
        file.kind = FOREIGN;
        file.name = path;
        const ForeignModel &m = file.foreign;
        if (!m.isPointCloud)
            msg::note("GL3DObjectLoader: %s holds %d triangles on %d vertices%s%s\n", path, m.mesh.nTriangles,
                      m.mesh.nVertices, m.mesh.colorsFromFile ? ", with colours" : "",
                      m.textureImages.empty() ? "" : ", textured");
        else
            msg::note("GL3DObjectLoader: %s holds %d points and no faces%s%s\n", path, m.points.nPoints,
                      m.points.colors ? ", with colours" : "",
                      m.points.values ? (", values from " + m.valueName).c_str() : "");
    } else {
        // The binary mesh reader also fetches a remote model through its stream.
        std::string request;
        if (!ModelRequest::read(path, request))
            return file;
        msg::note("%s\n", request.c_str());
        file.mesh = MeshReader::readBinary(request.c_str());
        file.kind = TRIANGLES;
        file.name = request;
    }
    return file;
}
