#include "objects/GL3DObjectLoader.h"

#include "core/ElementHost.h"
#include "formats/AssimpReader.h"
#include "formats/JsonValues.h"
#include "formats/ModelRequest.h"
#include "formats/MeshFile.h"
#include "formats/SplatFile.h"
#include "image/ImageNames.h"
#include "math/JoiningThread.h"
#include "math/Messages.h"
#include "math/MessageCount.h"

#include "formats/HttpRangeReader.h"
#include "formats/LasReader.h"
#include "formats/LasTiling.h"
#include "formats/NodeCache.h"
#include "formats/PointTiles.h"
#include "objects/Answering.h"
#include "objects/GL3DObject.h"
#include "objects/GLGraphObject.h"
#include "objects/GLMeshObject.h"
#include "objects/GLOctreeObject.h"
#include "objects/GLPointListObject.h"
#include "objects/GLPointStreamObject.h"
#include "objects/GLSMeshObject.h"
#include "objects/GLSplatObject.h"
#include "objects/GLTextureObject.h"
#include "objects/GLVolumeObject.h"

#include <atomic>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <exception>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace {

typedef GL3DObject *(*Factory)(const char *path, const LoadOptions &options);

// The scene object of a mesh file's records; null for no mesh file.
GL3DObject *meshObject(MeshFile &file)
{
    const char *name = file.name.c_str();
    switch (file.kind) {
    case MeshFile::TRIANGLES:
        return new GLMeshObject(name, std::move(file.mesh), file.off);
    case MeshFile::SIMPLICIAL:
        return new GLSMeshObject(name, std::move(file.mesh), file.off);
    case MeshFile::FOREIGN:
        if (!file.foreign.isPointCloud)
            return new GLMeshObject(name, file.foreign);
        // The cloud's arrays move over: a dense cloud has no room for a second copy.
        {
            GLPointListObject *cloud = new GLPointListObject(std::move(file.foreign.points));
            cloud->setPath(file.name);
            return cloud;
        }
    case MeshFile::NONE:
        break;
    }
    return nullptr;
}

GL3DObject *loadMeshFile(const char *path, const LoadOptions &options)
{
    MeshFile file = MeshFile::read(path, options.groupCloudsFrom);
    return meshObject(file);
}

// A triangle mesh read on a thread of its own: the object, or why its reader refused the
// file. The simplicial fallback, which may open windows of its own, is left to load().
struct ReadAhead {
    std::string path;
    bool off = false;
    std::unique_ptr<GL3DObject> mesh;
    MeshFile points;            ///< an OFF file of vertices without faces, made on the caller's thread
    std::exception_ptr refusal; ///< a std::exception from the reader
    unsigned long errorsBefore = msg::errorsWritten(); ///< to know whether the reader said why
    bool otherError = false;    ///< anything else it threw
    JoiningThread reader;       ///< after all it fills in

    void read()
    {
        try {
            MeshFile file;
            file.kind = MeshFile::TRIANGLES;
            file.name = path;
            file.off = off;
            file.mesh = MeshFile::readTriangles(path.c_str(), off);
            if (MeshFile::keepAsPoints(file))
                points = std::move(file);
            else
                mesh.reset(new GLMeshObject(path.c_str(), std::move(file.mesh), off));
        } catch (const std::exception &) {
            refusal = std::current_exception();
        } catch (...) {
            otherError = true;
        }
    }
};

// Never destroyed by the exit handlers: the one below waits for the reader first.
std::unique_ptr<ReadAhead> &readAheadSlot()
{
    static auto *slot = new std::unique_ptr<ReadAhead>();
    return *slot;
}

// The read ahead of `path`, finished, or null when there is none.
std::unique_ptr<ReadAhead> takeReadAhead(const char *path)
{
    std::unique_ptr<ReadAhead> &slot = readAheadSlot();
    if (!slot || slot->path != path)
        return nullptr;
    std::unique_ptr<ReadAhead> done = std::move(slot);
    done->reader.join();
    return done;
}

template <class Object>
GL3DObject *loadObject(const char *path, const LoadOptions &)
{
    return new Object(path);
}

// Volumes and octrees cut their slices to the texture size.
template <class Object>
GL3DObject *loadSliced(const char *path, const LoadOptions &options)
{
    return new Object(path, options.maxTextureSide);
}

struct Extension {
    const char *name;
    Factory make;   ///< null while the object class is not part of the program
};

// The object classes register here as they join the program. An extension whose class is
// missing is still recognised (it does not fall through to the descriptor reader) but loads
// nothing, so the loader reports it as unloadable.
const Extension kExtensions[] = {
    {"tri", loadMeshFile},  // binary triangle mesh, else simplicial mesh
    {"off", loadMeshFile},  // OFF text mesh, else simplicial OFF mesh
    {"oct", loadSliced<GLOctreeObject>},  // octree
    {"dn", loadSliced<GLOctreeObject>},   // octree
    {"voc", loadSliced<GLOctreeObject>},  // octree
    // Every other image of the image class's formats (imagenames) is a volume, one slice
    // for a picture.
    {"png", loadObject<GLTextureObject>},
    {"bin", loadObject<GLPointListObject>},
    {"las", loadObject<GLPointListObject>},  // ASPRS LAS ("LASF"), else the text list
    {"laz", loadObject<GLPointListObject>},  // LAZ and COPC
    {"xyz", loadObject<GLPointListObject>},
    {"pts", loadObject<GLPointListObject>},
    {"txt", loadObject<GLPointListObject>},
    {"gph", loadObject<GLGraphObject>},
    // The compressed splat formats (see SplatFile; PLY and glTF splat scenes are told by content).
    {"spz", loadObject<GLSplatObject>},
    {"splat", loadObject<GLSplatObject>},
    {"sog", loadObject<GLSplatObject>},
};

// A LAS or LAZ file read while the windows keep answering (see openWhileAnswering): one on a
// web server, whole or made into a hierarchy when its points would not fit in the point
// memory; one on a disk when it is made into a hierarchy (null for one that fits: it is read
// as any other file). A ".las" address without the signature is the viewer's own text list.
GL3DObject *survey(const char *path, bool las, ElementHost *host, const LoadOptions &options)
{
    const bool remote = HttpRangeReader::isRemote(path);
    const std::string folder = NodeCache::userFolder();
    const size_t budget = options.pointMemoryBudget;
    // A file on a disk is measured here, one on a web server once the opening runs.
    const uint64_t localBytes = remote || folder.empty() ? 0 : LasTiling::wholeBytes(path);
    if (!remote && localBytes <= budget)
        return nullptr;
    TilingWatch watch;
    watch.pool = std::make_shared<HttpRangeReader::Pool>();
    std::atomic<bool> stop{false};
    std::atomic<float> percent{0};
    watch.stop = &stop;
    watch.percent = &percent;
    std::atomic<uint64_t> size{0};
    std::atomic<bool> tiled{false};
    bool list = false;
    std::string tiles;
    PointListData cloud;
    openWhileAnswering(
        host, path,
        [&] {
            // How far the making is, else how much of the file came.
            if (tiled || !remote)
                return percent.load();
            return size > 0 ? 100.0f * static_cast<float>(watch.pool->received()) / static_cast<float>(size) : 0.0f;
        },
        [&] {
            stop = true;
            watch.pool->cancel();
        },
        [&] {
            uint64_t bytes = localBytes;
            if (remote) {
                // One answer gives the size, the signature and the point count.
                HttpRangeReader file(path, watch.pool);
                const std::string head = file.readHead(LasTiling::kHeadBytes);
                size = file.size();
                if ((list = las && head.compare(0, 4, "LASF") != 0))
                    return;
                bytes = LasTiling::wholeBytes(head, size);
            }
            if ((tiled = !folder.empty() && bytes > budget))
                tiles = LasTiling::tilesOf(path, folder, budget / 2, watch);
            else
                cloud = LasReader::read(path, watch.pool);
        });
    // The viewer's own text list, downloaded as its other files are.
    if (list)
        return new GLPointListObject(path);
    if (tiled)
        return new GLPointStreamObject(tiles.c_str(), budget);
    return new GLPointListObject(path, std::move(cloud));
}

// The row of `ext` in the table, or null. Other programs write ".OFF" or ".Tri" too: the
// viewer's own readers take every case.
const Extension *tableRow(const char *ext)
{
    for (const Extension &e : kExtensions)
        if (strcasecmp(ext, e.name) == 0)
            return &e;
    return nullptr;
}

} // namespace

std::vector<std::string> GL3DObjectLoader::ownExtensions()
{
    std::vector<std::string> names;
    for (const Extension &e : kExtensions)
        names.push_back(e.name);
    for (const std::string &e : imagenames::extensions())
        if (!tableRow(e.c_str()))
            names.push_back(e);
    return names;
}

std::vector<std::string> GL3DObjectLoader::foreignExtensions()
{
    std::vector<std::string> names;
    for (const std::string &e : AssimpReader::extensions())
        if (!tableRow(e.c_str()) && imagenames::keyword(("." + e).c_str()).empty())
            names.push_back(e);
    return names;
}

GL3DObjectLoader::ModelFrame GL3DObjectLoader::frameOf(const char *path, const GL3DObject &object)
{
    const char *dot = path ? std::strrchr(path, '.') : nullptr;
    const std::string extension = dot ? dot + 1 : "";
    const auto is = [&extension](const char *e) { return strcasecmp(extension.c_str(), e) == 0; };
    if (dynamic_cast<const GLSMeshObject *>(&object))
        return ModelFrame::Own;
    if (dynamic_cast<const GLPointStreamObject *>(&object))
        return ModelFrame::ZUp;
    if (const auto *mesh = dynamic_cast<const GLMeshObject *>(&object)) {
        if (!mesh->isOtherProgramsModel())
            return ModelFrame::Own;
        // OpenSCAD models z up and says so at the start of its STL files, text or binary;
        // its OFF files say nothing of the program that wrote them.
        char head[20] = {};
        if (FILE *f = is("stl") ? std::fopen(path, "rb") : nullptr) {
            const size_t got = std::fread(head, 1, sizeof head, f);
            std::fclose(f);
            if ((got >= 20 && std::memcmp(head, "solid OpenSCAD_Model", 20) == 0) ||
                (got >= 15 && std::memcmp(head, "OpenSCAD Model\n", 15) == 0))
                return ModelFrame::ZUpObject;
        }
        return ModelFrame::YUp;
    }
    const auto *cloud = dynamic_cast<const GLPointListObject *>(&object);
    if (!cloud)
        return ModelFrame::Own;
    if (is("bin"))
        return ModelFrame::Own;
    // Surveys: LAZ, Entwine and Potree tiles.
    if (is("laz") || (path && PointTiles::isTilesName(path)))
        return ModelFrame::ZUp;
    // The viewer's own "las" is a text list; a survey's keeps the scale and offset of its
    // file (asking the file for its signature again would be a request more for one on a
    // web server).
    if (is("las"))
        return cloud->getLasScaling().given() ? ModelFrame::ZUp : ModelFrame::Own;
    return ModelFrame::YUp;
}

GL3DObject *GL3DObjectLoader::load(const char *path, ElementHost *host, const LoadOptions &options)
{
    unsigned long errorsBefore = msg::errorsWritten();
    std::string why; ///< the reader's refusal, without its line end
    // The refusal goes to the message sink and, for the user of a window, to the window too,
    // with its reason: a line of its own where the reader said nothing, and in the window
    // (which shows one line) after the name.
    const auto refuse = [path, host, &why, &errorsBefore]() {
        const std::string name = path ? path : "(null)";
        if (!why.empty() && msg::errorsWritten() == errorsBefore)
            msg::error("GL3DObjectLoader: %s: %s\n", name.c_str(), why.c_str());
        const std::string text = "GL3DObjectLoader:unable to load " + name + "\n";
        msg::text(MessageLevel::Error, text);
        if (host)
            host->showMessage(MessageLevel::Error,
                              why.empty() ? text : "GL3DObjectLoader:unable to load " + name + ": " + why + "\n");
    };
    const auto reason = [&why](const std::exception &e) {
        why = e.what();
        while (!why.empty() && (why.back() == '\n' || why.back() == ' '))
            why.pop_back();
    };
    if (!path || std::strlen(path) <= 3) {
        refuse();
        return nullptr;
    }
    const char *dot = std::strrchr(path, '.');
    if (!dot)
        return nullptr;
    const char *ext = dot + 1;
    // Said before any reader tries: a reader would only find nothing to read.
    struct stat status;
    if (stat(path, &status) == 0) {
        if (S_ISDIR(status.st_mode))
            why = "it is a folder, not a file";
        else if (access(path, R_OK) != 0 && errno == EACCES)
            why = "permission denied";
        if (!why.empty()) {
            refuse();
            return nullptr;
        }
    }

    GL3DObject *object = nullptr;
    try {
        if (std::unique_ptr<ReadAhead> ahead = takeReadAhead(path)) {
            if (ahead->mesh)
                return ahead->mesh.release();
            if (ahead->points.kind != MeshFile::NONE)
                object = meshObject(ahead->points);
            if (ahead->refusal) {
                errorsBefore = ahead->errorsBefore;
                try {
                    std::rethrow_exception(ahead->refusal);
                } catch (const std::exception &e) {
                    if (!MeshFile::maybeSimplicial(ahead->off, e))
                        throw;
                    MeshFile file = MeshFile::readSimplicial(path, ahead->off, e);
                    object = meshObject(file);
                }
            }
            if (!object)
                refuse();
            return object;
        }
        // Point hierarchies are read node by node, whatever their size, and so is a LAS or LAZ
        // file too large for the memory, once made into one.
        if (PointTiles::isTilesName(path))
            return new GLPointStreamObject(GLPointStreamObject::openTiles(path, host), options.pointMemoryBudget);
        if (strcasecmp(ext, "las") == 0 || strcasecmp(ext, "laz") == 0)
            if (GL3DObject *made = survey(path, strcasecmp(ext, "las") == 0, host, options))
                return made;
        if (const Extension *known = tableRow(ext))
            object = known->make ? known->make(path, options) : nullptr;
        else if (!imagenames::keyword(path).empty())
            object = loadSliced<GLVolumeObject>(path, options);
        else if (SplatFile::kindOf(path) != SplatFile::NONE)
            object = new GLSplatObject(path);
        else if (jsonvalues::hasExtension(path, ".json") && !ModelRequest::isDescriptor(path))
            // The camera and scene files were offered to their readers before: no other reader
            // takes JSON.
            throw std::runtime_error(jsonvalues::whyNotRead(path));
        else
            object = loadMeshFile(path, options);
    } catch (const std::exception &e) {
        reason(e);
        object = nullptr;
    } catch (...) {
        object = nullptr;
    }
    if (!object)
        refuse();
    return object;
}

bool GL3DObjectLoader::readAhead(const char *path)
{
    if (!path || std::strlen(path) <= 3 || std::strstr(path, "://"))
        return false;
    const char *dot = std::strrchr(path, '.');
    if (!dot || (strcasecmp(dot + 1, "tri") != 0 && strcasecmp(dot + 1, "off") != 0))
        return false;
    dropReadAhead();
    static std::once_flag exitHandler;
    std::call_once(exitHandler, [] { std::atexit(dropReadAhead); });
    auto ahead = std::make_unique<ReadAhead>();
    ahead->path = path;
    ahead->off = strcasecmp(dot + 1, "off") == 0;
    try {
        ReadAhead *target = ahead.get();
        ahead->reader = JoiningThread([target] { target->read(); });
    } catch (const std::exception &) {
        return false;
    }
    readAheadSlot() = std::move(ahead);
    return true;
}

void GL3DObjectLoader::dropReadAhead()
{
    std::unique_ptr<ReadAhead> &slot = readAheadSlot();
    slot.reset();
}
