#ifndef VELMORA_GL3DOBJECTLOADER_H
#define VELMORA_GL3DOBJECTLOADER_H

#include <string>
#include <vector>

#include <cstddef>

class ElementHost;
class GL3DObject;

/// What a program tells the loader about how it will use what it loads.
struct LoadOptions {
    /// Clouds from this many points on are read grouped by the cells of the hierarchy they
    /// will be drawn through (below, the hierarchy is quick either way); 0 never groups them,
    /// for a program that draws clouds only into captures, which never build a hierarchy.
    size_t groupCloudsFrom = 1000000;
    /// The largest side of the slice textures of volumes and octrees; 0 takes the one the
    /// OpenGL context gives (a positive limit serves tests, and drivers that overstate it).
    int maxTextureSide = 0;
    /// Bytes of points a cloud read node by node (COPC, EPT, Potree) keeps in memory.
    size_t pointMemoryBudget = size_t(1536) << 20;
};

/// Turns a file name into a scene object, choosing the object class by the extension
/// (the text after the last '.', in any case: other programs write ".OFF"). An extension that is
/// none of the viewer's own and that Assimp reads (ply, obj, stl, gltf, glb, ...) is imported
/// through AssimpReader: a mesh with faces becomes a GLMeshObject, vertices without faces a
/// GLPointListObject, unless the file is a remote-model descriptor. Any other extension is
/// tried as a remote-model descriptor. Which reader a mesh file goes to is MeshFile's choice.
/// A point hierarchy ("ept.json", "metadata.json", "*.copc.laz", on a disk or a web server)
/// becomes a GLPointStreamObject that reads its nodes as the view needs them.
class GL3DObjectLoader {
public:
    /// How the program that wrote a file lays out its world, which decides where the built-in
    /// camera first looks from: the viewer's own files as they always were; other programs'
    /// meshes and clouds with y up, seen from +z; surveys (ASPRS LAS, LAZ, Entwine and Potree
    /// tiles) with z up, seen from above; models whose file says they are z up (OpenSCAD's STL),
    /// seen from the front.
    enum class ModelFrame { Own, YUp, ZUp, ZUpObject };
    /// The frame of `object`, loaded from `path`.
    static ModelFrame frameOf(const char *path, const GL3DObject &object);
    /// A new object owned by the caller, or null after printing
    /// "GL3DObjectLoader:unable to load <path>" (a name without any '.' returns null silently),
    /// preceded by "GL3DObjectLoader: <path>: <reason>" when the reader refused the file without
    /// saying why itself; the refusal, with its reason after the name, is also shown by `host`,
    /// when given (the user interface of the scene the object was meant for). Errors raised by
    /// the object readers are caught here.
    static GL3DObject *load(const char *path, ElementHost *host = nullptr, const LoadOptions &options = LoadOptions());
    /// The extensions (without the dot, lower case) of the viewer's own formats, and those of
    /// the other programs' model formats handed to Assimp, for the "open file" dialog.
    static std::vector<std::string> ownExtensions();
    static std::vector<std::string> foreignExtensions();

    /// Starts reading `path` on a thread of its own when it names a local triangle mesh
    /// ("tri" or "off"), so that the reading overlaps whatever the program does next (making
    /// its window and OpenGL context); the next load() of the same path takes the result
    /// (the same object, messages and errors as loading it then). Only the most recent path
    /// is read ahead. The reader's messages are printed while it reads: the caller starts it
    /// only when nothing else is printed before that load(). False when `path` is not read
    /// ahead (load() then reads it as usual).
    static bool readAhead(const char *path);
    /// Waits for a reading ahead under way and drops what it read (before an early exit).
    static void dropReadAhead();
};

#endif
