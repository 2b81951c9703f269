#include "objects/GL3DObjectLoader.h"

#include "core/ElementHost.h"
#include "formats/AssimpReader.h"
#include "math/Messages.h"

#include "objects/GL3DObject.h"
#include "objects/GLGraphObject.h"
#include "objects/GLMeshObject.h"
#include "objects/GLOctreeObject.h"
#include "objects/GLVolumeObject.h"
#include "objects/GLPointListObject.h"
#include "objects/GLSMeshObject.h"
#include "objects/GLTextureObject.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace {

typedef GL3DObject *(*Factory)(const char *path);

// Where the triangle-mesh readers refuse a file (a mesh-type byte other than 0, an "OFFS"
// header, or any other error), the file is offered to the simplicial mesh, after saying why
// the first reader refused it. Errors of the simplicial readers reach load().
GL3DObject *simplicialMesh(const char *path, const char *kind, const std::exception &refusal)
{
    std::string why = refusal.what();
    while (!why.empty() && why.back() == '\n')
        why.pop_back();
    msg::warning("GL3DObjectLoader: %s is no triangle mesh (%s), trying a simplicial mesh\n", path, why.c_str());
    return new GLSMeshObject(path, kind);
}

GL3DObject *loadMesh(const char *path, const char *kind)
{
    try {
        return new GLMeshObject(path, kind);
    } catch (const std::exception &e) {
        return simplicialMesh(path, kind, e);
    }
}

// A triangle mesh read on a thread of its own: the object, or why its reader refused the
// file. The simplicial fallback, which may open windows of its own, is left to load().
struct ReadAhead {
    std::string path;
    const char *kind = nullptr;
    std::thread reader;
    std::unique_ptr<GL3DObject> mesh;
    std::exception_ptr refusal; ///< a std::exception from the reader
    bool otherError = false;    ///< anything else it threw

    void read()
    {
        try {
            mesh.reset(new GLMeshObject(path.c_str(), kind));
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
    if (done->reader.joinable())
        done->reader.join();
    return done;
}

template <class Object>
GL3DObject *loadObject(const char *path)
{
    return new Object(path);
}

GL3DObject *loadTriMesh(const char *path)
{
    return loadMesh(path, nullptr);
}

GL3DObject *loadOffMesh(const char *path)
{
    return loadMesh(path, "off");
}

struct Extension {
    const char *name;
    Factory make;   ///< null while the object class is not part of the program
};

// The object classes register here as they join the program. An extension whose class is
// missing is still recognised (it does not fall through to the descriptor reader) but loads
// nothing, so the loader reports it as unloadable.
const Extension kExtensions[] = {
    {"tri", loadTriMesh},  // binary triangle mesh, else simplicial mesh
    {"off", loadOffMesh},  // OFF text mesh, else simplicial OFF mesh
    {"oct", loadObject<GLOctreeObject>},  // octree
    {"dn", loadObject<GLOctreeObject>},   // octree
    {"voc", loadObject<GLOctreeObject>},  // octree
    {"ima", loadObject<GLVolumeObject>},  // volume
    {"png", loadObject<GLTextureObject>},
    {"pgm", loadObject<GLVolumeObject>},  // volume
    {"ppm", loadObject<GLVolumeObject>},  // volume
    {"bin", loadObject<GLPointListObject>},
    {"las", loadObject<GLPointListObject>},
    {"gph", loadObject<GLGraphObject>},
};

// Another program's model through Assimp: a mesh, or a point cloud when the file has
// vertices and no faces.
GL3DObject *loadForeign(const char *path)
{
    ForeignModel model = AssimpReader::read(path);
    if (!model.isPointCloud) {
        msg::note("GL3DObjectLoader: %s holds %d triangles on %d vertices%s%s\n", path, model.mesh.nTriangles,
                  model.mesh.nVertices, model.mesh.colorsFromFile ? ", with colours" : "",
                  model.textureImages.empty() ? "" : ", textured");
        return new GLMeshObject(path, model);
    }
    const PointListRecord record = {model.points.nPoints, model.points.points.get(), model.points.colors.get(),
                                    model.points.values.get()};
    msg::note("GL3DObjectLoader: %s holds %d points and no faces%s%s\n", path, record.nPoints,
              record.colors ? ", with colours" : "", record.values ? (", values from " + model.valueName).c_str() : "");
    return new GLPointListObject(&record);
}

// The binary mesh reader, which also fetches remote-model requests through its stream.
GL3DObject *loadBinaryMesh(const char *request)
{
    return new GLMeshObject(request, nullptr);
}

// Copies the first whitespace-delimited word of `text` into `word` (at most 255 characters,
// as a descriptor line holds); leaves `word` empty when there is none.
void firstWord(const char *text, std::string &word)
{
    char buf[256];
    if (std::sscanf(text, "%255s", buf) == 1)
        word = buf;
    else
        word.clear();
}

// A remote-model descriptor keeps its meaning whatever its extension.
bool isDescriptor(const char *path)
{
    FILE *f = std::fopen(path, "rb");
    if (!f)
        return false;
    char head[8] = {};
    const bool yes = std::fread(head, 1, 7, f) == 7 && std::strncmp(head, "3dmodel", 7) == 0;
    std::fclose(f);
    return yes;
}

} // namespace

std::vector<std::string> GL3DObjectLoader::ownExtensions()
{
    std::vector<std::string> names;
    for (const Extension &e : kExtensions)
        names.push_back(e.name);
    return names;
}

std::vector<std::string> GL3DObjectLoader::foreignExtensions()
{
    std::vector<std::string> names;
    for (const std::string &e : AssimpReader::extensions()) {
        bool own = false;
        for (const Extension &k : kExtensions)
            own = own || e == k.name;
        if (!own)
            names.push_back(e);
    }
    return names;
}

bool GL3DObjectLoader::readModelRequest(const char *path, std::string &request)
{
    FILE *f = std::fopen(path, "rb");
    if (!f)
        return false;
    char line[257];
    if (!std::fgets(line, sizeof line, f) || std::strncmp(line, "3dmodel", 7) != 0) {
        std::fclose(f);
        return false;
    }
    std::string action, object, resolution;
    bool haveAction = false, haveObject = false, haveResolution = false;
    while (std::fgets(line, sizeof line, f)) {
        const size_t len = std::strlen(line);
        // A line longer than the buffer arrives in pieces; skip its remaining pieces so that
        // its tail is never mistaken for a key line.
        const bool complete = len > 0 && line[len - 1] == '\n';
        if (std::strncmp(line, "Action:", 7) == 0) {
            firstWord(line + 7, action);
            haveAction = true;
        } else if (std::strncmp(line, "Object:", 7) == 0) {
            firstWord(line + 7, object);
            haveObject = true;
        } else if (std::strncmp(line, "Resolution:", 11) == 0) {
            firstWord(line + 11, resolution);
            haveResolution = true;
        }
        if (!complete) {
            int c;
            while ((c = std::fgetc(f)) != EOF && c != '\n') {
            }
        }
    }
    std::fclose(f);
    // An "Action:" line without a word names no action either.
    if (!haveAction || action.empty())
        return false;

    request = action;
    request += action.find('?') != std::string::npos ? "&" : "?";
    if (haveObject)
        request += "Oident=" + object + "&";
    if (haveResolution)
        request += "Rident=" + resolution + "&";
    request += "res=tri";
    return true;
}

GL3DObject *GL3DObjectLoader::loadModel(const char *path)
{
    std::string request;
    if (!readModelRequest(path, request))
        return nullptr;
    msg::note("%s\n", request.c_str());
    return loadBinaryMesh(request.c_str());
}

GL3DObject *GL3DObjectLoader::load(const char *path, ElementHost *host)
{
    // The refusal goes to the message sink and, for the user of a window, to the window too.
    const auto refuse = [path, host]() {
        const std::string text = std::string("GL3DObjectLoader:unable to load ") + (path ? path : "(null)") + "\n";
        msg::text(MessageLevel::Error, text);
        if (host)
            host->showMessage(MessageLevel::Error, text);
    };
    if (!path || std::strlen(path) <= 3) {
        refuse();
        return nullptr;
    }
    const char *dot = std::strrchr(path, '.');
    if (!dot)
        return nullptr;
    const char *ext = dot + 1;

    GL3DObject *object = nullptr;
    try {
        if (std::unique_ptr<ReadAhead> ahead = takeReadAhead(path)) {
            if (ahead->mesh)
                return ahead->mesh.release();
            if (ahead->refusal) {
                try {
                    std::rethrow_exception(ahead->refusal);
                } catch (const std::exception &e) {
                    object = simplicialMesh(path, ahead->kind, e);
                }
            }
            if (!object)
                refuse();
            return object;
        }
        const Extension *known = nullptr;
        for (const Extension &e : kExtensions)
            if (std::strcmp(ext, e.name) == 0) {
                known = &e;
                break;
            }
        if (known)
            object = known->make ? known->make(path) : nullptr;
        else if (AssimpReader::canRead(ext) && !isDescriptor(path))
            object = loadForeign(path);
        else
            object = loadModel(path);
    } catch (const std::exception &) {
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
    if (!dot || (std::strcmp(dot + 1, "tri") != 0 && std::strcmp(dot + 1, "off") != 0))
        return false;
    dropReadAhead();
    static std::once_flag exitHandler;
    std::call_once(exitHandler, [] { std::atexit(dropReadAhead); });
    auto ahead = std::make_unique<ReadAhead>();
    ahead->path = path;
    ahead->kind = std::strcmp(dot + 1, "off") == 0 ? "off" : nullptr;
    try {
        ahead->reader = std::thread(&ReadAhead::read, ahead.get());
    } catch (const std::exception &) {
        return false;
    }
    readAheadSlot() = std::move(ahead);
    return true;
}

void GL3DObjectLoader::dropReadAhead()
{
    std::unique_ptr<ReadAhead> &slot = readAheadSlot();
    if (slot && slot->reader.joinable())
        slot->reader.join();
    slot.reset();
}
