#define GL_GLEXT_PROTOTYPES 1
#include "objects/GLMeshObject.h"

#include "core/GLInterface.h"
#include "core/KeyCodes.h"
#include "core/StartupTiming.h"
#include "formats/ColorMap.h"
#include "formats/LargeArray.h"
#include "formats/MeshTextureReader.h"
#include "math/Matrix3.h"
#include "math/Quaternion.h"
#include "objects/MeshReduction.h"
#include "render/GLBuffer.h"
#include "measure/Objet_data.h"
#include "measure/SurfacePath.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <limits>
#include <stdexcept>
#include <thread>

void GLMeshObject::adoptForeign(ForeignModel &model)
{
    if (model.isPointCloud)
        throw std::runtime_error("the file holds points without faces, no mesh");
    adopt(model.mesh);
    textureImages = std::move(model.textureImages);
    triangleImage = std::move(model.triangleImage);
    source = Source::Foreign;
}

void GLMeshObject::readForeign(const char *file)
{
    ForeignModel model = AssimpReader::read(file);
    adoptForeign(model);
}

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();

// One array of the mesh in a buffer object, with the version of the data it holds.
struct Slot {
    explicit Slot(unsigned target) : buffer(target) {}

    GLBuffer buffer;
    uint64_t version = 0; ///< 0: nothing stored
    uint64_t refused = 0; ///< the version the driver had no room for: not asked again

    /// The pointer that gl*Pointer and glDrawElements take for `data` (`bytes` long, at
    /// version `wanted`): offset 0 in the buffer, bound, or the array itself as a client
    /// array when the buffer cannot hold it (another context, or the driver refused).
    const void *use(const void *data, size_t bytes, uint64_t wanted, unsigned usage = GL_STATIC_DRAW)
    {
        // A buffer of another context is left to that context.
        if ((version != wanted || !buffer.usable()) && (buffer.empty() || buffer.usable()) && refused != wanted) {
            version = buffer.upload(data, bytes, usage) ? wanted : 0;
            if (version == 0)
                refused = wanted;
        }
        if (version == wanted && buffer.usable()) {
            buffer.bind();
            return nullptr;
        }
        GLBuffer::unbind(buffer.target());
        return data;
    }
    bool holds(uint64_t wanted) const { return version == wanted && buffer.usable(); }
    void release()
    {
        // Outside its context the name is kept: the next upload there replaces the data.
        if (buffer.usable())
            buffer.reset();
        version = 0;
    }
};

// The buffers of one version of the mesh (the whole one or the reduced stand-in).
struct Layer {
    Slot vertices{GL_ARRAY_BUFFER}, normals{GL_ARRAY_BUFFER}, colours{GL_ARRAY_BUFFER},
        alphaColours{GL_ARRAY_BUFFER}, indices{GL_ELEMENT_ARRAY_BUFFER}, sorted{GL_ELEMENT_ARRAY_BUFFER};
    std::vector<unsigned char> rgba; ///< RGBA copy of the colours for translucent passes
    uint64_t rgbaVersion = 0;

    void release()
    {
        for (Slot *s : {&vertices, &normals, &colours, &alphaColours, &indices, &sorted})
            s->release();
        rgba = std::vector<unsigned char>();
        rgbaVersion = 0;
    }
    // The RGBA copy of `rgb` (n vertices) with alpha a, made again only when `key` changed.
    const unsigned char *withAlpha(const unsigned char *rgb, size_t n, unsigned char a, uint64_t key)
    {
        if (rgbaVersion != key || rgba.size() != 4 * n) {
            rgba.resize(4 * n);
            for (size_t i = 0; i < n; ++i) {
                rgba[4 * i] = rgb[3 * i];
                rgba[4 * i + 1] = rgb[3 * i + 1];
                rgba[4 * i + 2] = rgb[3 * i + 2];
                rgba[4 * i + 3] = a;
            }
            rgbaVersion = key;
        }
        return rgba.data();
    }
};

// Back-to-front order of triangles t (n of them) over vertices v for the matrix toClip, by
// the first corner of each triangle, into out (3n indices).
void sortByDepth(const float *v, const int *t, size_t n, const Matrix4 &toClip, RadixSort &sorter, int *out)
{
    std::vector<float> keys(n);
    float q[4];
    for (size_t i = 0; i < n; ++i) {
        toClip.product(q, &v[3 * static_cast<size_t>(t[3 * i])]);
        // -z/w grows towards the viewer; a corner behind the eye (w <= 0) goes first.
        keys[i] = q[3] > 0 ? -q[2] / q[3] : -std::numeric_limits<float>::max();
    }
    const unsigned *ranks = sorter.Sort(keys.data(), static_cast<unsigned>(n)).GetRanks();
    if (!ranks) {
        std::copy(t, t + 3 * n, out);
        return;
    }
    for (size_t i = 0; i < n; ++i) {
        const int *src = t + 3 * static_cast<size_t>(ranks[i]);
        out[3 * i] = src[0];
        out[3 * i + 1] = src[1];
        out[3 * i + 2] = src[2];
    }
}

// True on renderers that draw on the CPU (Mesa's llvmpipe, softpipe, swrast): their buffer
// objects are ordinary memory like ours, and they read an index array in place, without
// copying it for the draw. A buffer object of the indices would then only be a second copy
// of the largest array of the mesh (24 MB for 2,000,000 triangles), so the indices are
// drawn from the mesh's own array there. Vertex attributes always go to buffers: from
// client arrays the driver copies them again for every frame.
//
// Such a renderer also sorts every triangle of a frame into screen tiles before it fills
// any, keeping them all in memory until a flush (some 70 MB more at 2,000,000 triangles):
// there, large meshes are drawn kSoftwareBatch triangles at a time with a flush after each
// batch, which bounds that memory and lets the filling threads start early. Small batches
// keep the filling threads busy while the next batch is sorted and reuse the same memory
// for every batch: at 2,000,000 triangles, batches of 32,768 draw the first frame faster
// than batches of 500,000 and need some 40 MB less.
constexpr size_t kSoftwareBatch = 32768;
bool indicesReadInPlace()
{
    const char *renderer = reinterpret_cast<const char *>(glGetString(GL_RENDERER));
    return renderer && (std::strstr(renderer, "llvmpipe") || std::strstr(renderer, "softpipe") ||
                        std::strstr(renderer, "swrast"));
}

// The pointer glDrawElements takes for the index array `data`: the array itself where the
// renderer reads it in place, else offset 0 in the buffer of `slot`.
const void *indexSource(Slot &slot, bool inPlace, const int *data, size_t count, uint64_t version,
                        unsigned usage = GL_STATIC_DRAW)
{
    if (inPlace) {
        GLBuffer::unbind(GL_ELEMENT_ARRAY_BUFFER);
        return data;
    }
    return slot.use(data, count * sizeof(int), version, usage);
}

Matrix4 currentToClip()
{
    Matrix4 modelView = Matrix4::Identity, projection = Matrix4::Identity;
    glGetFloatv(GL_MODELVIEW_MATRIX, static_cast<float *>(modelView));
    glGetFloatv(GL_PROJECTION_MATRIX, static_cast<float *>(projection));
    return projection * modelView;
}

} // namespace

// The buffers of the mesh, and its reduced stand-in with the thread that builds it.
struct GLMeshObject::Buffers {
    uint64_t geometryVersion = 1; ///< grows with every change of the geometry
    uint64_t colourVersion = 1;   ///< grows with every change of the colours
    uint64_t sortVersion = 0;
    Layer full, reduced;

    // A fixed subset of the triangles, drawn during drags until the stand-in is there.
    Slot subset{GL_ELEMENT_ARRAY_BUFFER};
    std::vector<int> subsetTriangles;

    ReducedMesh stand;
    std::thread builder;
    std::atomic<bool> cancel{false};
    std::atomic<bool> done{false}; ///< the builder finished (`built` tells how)
    bool built = false;
    bool started = false;
    std::vector<unsigned char> standRgb; ///< the colours of the stand-in's source vertices
    uint64_t standRgbVersion = 0;
    std::vector<int> standSorted;

    ~Buffers() { stop(); }
    /// Stops a build under way and drops the stand-in.
    void stop()
    {
        if (builder.joinable()) {
            cancel = true;
            builder.join();
        }
        cancel = false;
        done = false;
        built = false;
        started = false;
        stand = ReducedMesh();
        standRgb = std::vector<unsigned char>();
        standRgbVersion = 0;
        standSorted = std::vector<int>();
        subsetTriangles = std::vector<int>();
    }
    bool standReady()
    {
        if (!done.load(std::memory_order_acquire))
            return false;
        if (builder.joinable())
            builder.join();
        return built;
    }
};

// --- Construction ---------------------------------------------------------------------------

GLMeshObject::GLMeshObject()
    : GL3DObject(GLObject::MESH), buffers(std::make_unique<Buffers>()), source(Source::Binary), coloursGiven(false),
      normalsGiven(false)
{
    initVariables();
}

GLMeshObject::GLMeshObject(const char *file, const char *kind) : GLMeshObject()
{
    path = file ? file : "";
    if (!kind || std::strncmp(kind, "tri", 3) == 0)
        readCompressedMesh(file);
    else if (std::strncmp(kind, "off", 3) == 0)
        readOFF(file);
    StartupTiming::mark("mesh read");
    prepare(true);
    StartupTiming::mark("mesh prepared");
    setDrawTriangles();
    // A file that brings its own vertex colours opens showing them, as other viewers do.
    if (coloursGiven)
        setDrawData();
}

GLMeshObject::GLMeshObject(const MeshRecord *mesh) : GLMeshObject()
{
    readMeshFromMemory(mesh);
    prepare(true);
    setDrawTriangles();
}

GLMeshObject::GLMeshObject(const char *file, ForeignModel &model) : GLMeshObject()
{
    path = file ? file : "";
    adoptForeign(model);
    // A file with both vertex colours and scalar properties opens showing its colours: the
    // first data drawing would otherwise paint over them before they were ever seen.
    std::vector<unsigned char> fileColours;
    if (coloursGiven && nDataItems > 0)
        fileColours.assign(colors, colors + 3 * static_cast<size_t>(nVertices));
    prepare(true);
    if (!fileColours.empty()) {
        std::memcpy(colors, fileColours.data(), fileColours.size());
        legend.clear();
        coloursChanged();
    }
    setDrawTriangles();
    if (coloursGiven)
        setDrawData();
}

GLMeshObject::~GLMeshObject()
{
    freeData();
    vertices = nullptr;
    colors = nullptr;
}

void GLMeshObject::initVariables()
{
    selectedVertex = -1;
    nNeighbours = 0;
    nTriangles = 0;
    headerFlags = 0;
    version = 0;
    meshType = 0;
    textureWidth = 0;
    textureHeight = 0;
    nTextureChunks = 0;
    texCoordVersion = -1;
    textureList = -1;
    material = Material::predefined[0];
    colorMapIndex = 0;
    nDataItems = 0;
    currentDataItem = 0;
    triangleSorting = false;
    doubleFace = false;
    normalLength = 2.0f;
    wireSize = 1.0f;
    maxTextureSize = 1024;
    legendDrawing = true;
    wireFrame = false;
    textureMode = GL_DECAL;
    textureFilter = GL_LINEAR;
    shadingModel = GL_SMOOTH;
    std::fill(std::begin(pickedVertices), std::end(pickedVertices), 0);
    nPicked = 0;
    ringClosed = false;
}

void GLMeshObject::freeData()
{
    meshTexture.release();
    pendingTexture.reset();
    textureNames.clear();
    nTextureChunks = 0;
    chunkStart.clear();
    if (textureList >= 0)
        glDeleteLists(static_cast<GLuint>(textureList), 1);
    textureList = -1;
    // Stops a stand-in being built from the arrays before they go.
    geometryChanged();

    vertexStore.reset();
    vertices = nullptr;
    nVertices = 0;
    colorStore.reset();
    colors = nullptr;
    coloursGiven = false;
    triangles.reset();
    nTriangles = 0;
    normals.reset();
    normalsGiven = false;
    sortedTriangles.reset();
    neighbours.reset();
    nNeighbours = 0;
    selectedVertex = -1;
    nPicked = 0;
    dataItems.clear();
    nDataItems = 0;
    texCoords.reset();
    texCoordVersion = -1;
    textureImages.clear();
    triangleImage.clear();
    legend.clear();
    deletePath();
    distancePanel.reset();
    adjacency.reset();
}

void GLMeshObject::deletePath()
{
    // The window holds the path without owning it: it must let go first.
    if (distancePanel && pathOnMesh)
        distancePanel->setPath(nullptr);
    pathOnMesh.reset();
}

void GLMeshObject::adopt(MeshData &g)
{
    freeData();
    nVertices = g.nVertices;
    nTriangles = g.nTriangles;
    vertexStore = std::move(g.vertices);
    vertices = vertexStore.get();
    triangles = std::move(g.triangles);
    installColours(g);
    installDataItems(g);
    if (g.normals) {
        normals = std::move(g.normals);
        normalsGiven = true;
    }
    texCoords = std::move(g.texCoords);
    texCoordVersion = g.texCoordVersion;
    installMaterial(g);
    headerFlags = g.headerFlags;
    version = g.version;
    meshType = g.meshType;
}

void GLMeshObject::installColours(MeshData &g)
{
    colorStore = std::move(g.colors);
    colors = colorStore.get();
    coloursGiven = colors && g.colorsFromFile;
    coloursChanged();
}

void GLMeshObject::installDataItems(MeshData &g)
{
    dataItems = std::move(g.dataItems);
    nDataItems = static_cast<int>(dataItems.size());
}

void GLMeshObject::installMaterial(const MeshData &g)
{
    // The block holds the first 13 floats of Material, in its field order.
    if (g.hasMaterial)
        std::memcpy(&material, g.material, sizeof g.material);
}

void GLMeshObject::computeVertexNormals()
{
    if (normalsGiven)
        return;
    normals = allocateLargeArray<Point3>(static_cast<size_t>(nVertices));
    computeNormals(normals.get());
    geometryChanged();
}

void GLMeshObject::prepare(bool resetPlanes)
{
    computeColors();
    computeBoundingBox();
    computeVertexNormals();
    if (resetPlanes)
        resetClippingPlanes();
}

void GLMeshObject::update(const MeshRecord *mesh)
{
    // Read first: a refused record must leave the mesh as it is.
    MeshData g = MeshReader::fromRecord(mesh);

    const bool keepWireFrame = wireFrame, keepDoubleFace = doubleFace, keepLegend = legendDrawing;
    const int keepItem = currentDataItem, keepMap = colorMapIndex, keepTextureMode = textureMode;
    const float keepNormalLength = normalLength;
    freeData();
    initVariables();
    adopt(g);
    source = Source::Binary;
    wireFrame = keepWireFrame;
    currentDataItem = keepItem;
    colorMapIndex = keepMap;
    doubleFace = keepDoubleFace;
    normalLength = keepNormalLength;
    legendDrawing = keepLegend;
    textureMode = keepTextureMode;
    // The new box sets the normal length again, to a hundredth of the new size.
    prepare(false);
    if (interface)
        interface->update();
    postRedisplay();
}

void GLMeshObject::reload()
{
    freeData();
    initVariables();
    try {
        // An OFF mesh is read as OFF again: reading it as a binary mesh could only fail.
        if (source == Source::OFF)
            readOFF(path.c_str());
        else if (source == Source::Foreign)
            readForeign(path.c_str());
        else
            readMesh(path.c_str());
    } catch (const std::exception &) {
        std::printf("GLMeshObject: unable to reload %s\n", path.c_str());
        return;
    }
    computeColors();
    computeBoundingBox();
    computeVertexNormals();
    std::printf("%d triangles, %d vertex\n", nTriangles, nVertices);
    // A textured mesh stays textured: its texture is made again from the files as they are.
    if (drawMethod == static_cast<DrawMethod>(&GLMeshObject::drawTexture))
        setDrawTexture();
    else if (drawMethod == static_cast<DrawMethod>(&GLMeshObject::drawTextureModulate))
        setDrawTextureFromData();
}

// --- Readers --------------------------------------------------------------------------------

void GLMeshObject::readCompressedMesh(const char *file) { readMesh(file); }

void GLMeshObject::readMesh(const char *file)
{
    MeshData g = MeshReader::readBinary(file);
    adopt(g);
    source = Source::Binary;
}

void GLMeshObject::readOFF(const char *file)
{
    MeshData g = MeshReader::readOFF(file);
    adopt(g);
    source = Source::OFF;
}

void GLMeshObject::readMeshFromMemory(const MeshRecord *mesh)
{
    MeshData g = MeshReader::fromRecord(mesh);
    adopt(g);
    source = Source::Binary;
}

namespace {

// The mesh's counts, for a block reader that works on the mesh already read.
MeshData countsOf(int nVertices, int nTriangles)
{
    MeshData g;
    g.nVertices = nVertices;
    g.nTriangles = nTriangles;
    return g;
}

} // namespace

int GLMeshObject::readDataItems(FILE *f, int mode, const char *tag)
{
    MeshData g = countsOf(nVertices, nTriangles);
    if (!MeshReader::readDataItems(f, mode, tag, g))
        return 0;
    currentDataItem = 0;
    installColours(g);
    installDataItems(g);
    return 1;
}

int GLMeshObject::readTextureCoordinates(FILE *f, int mode, const char *tag)
{
    MeshData g = countsOf(nVertices, nTriangles);
    if (!MeshReader::readTextureCoordinates(f, mode, tag, g))
        return 0;
    texCoords = std::move(g.texCoords);
    texCoordVersion = g.texCoordVersion;
    return 1;
}

int GLMeshObject::readMaterial(FILE *f, int mode, const char *tag)
{
    MeshData g = countsOf(nVertices, nTriangles);
    if (!MeshReader::readMaterial(f, mode, tag, g))
        return 0;
    installMaterial(g);
    return 1;
}

// --- Derived data ---------------------------------------------------------------------------

void GLMeshObject::computeBoundingBox()
{
    if (nVertices <= 0) {
        bbMin = Point3(-kInf, -kInf, -kInf);
        bbMax = Point3(kInf, kInf, kInf);
        center = Point3(0, 0, 0);
        return;
    }
    GL3DObject::computeBoundingBox();
    normalLength = getMaxRadius() / 100;
}

void GLMeshObject::computeNormals(Point3 *out) const
{
    const size_t nv = static_cast<size_t>(nVertices);
    std::fill(out, out + nv, Point3(0, 0, 0));
    const int *t = triangles.get();
    const float *v = vertices;
    for (int i = 0; i < nTriangles; ++i, t += 3) {
        const float *a = v + 3 * static_cast<size_t>(t[0]);
        const float *b = v + 3 * static_cast<size_t>(t[1]);
        const float *c = v + 3 * static_cast<size_t>(t[2]);
        const float e1x = b[0] - a[0], e1y = b[1] - a[1], e1z = b[2] - a[2];
        const float e2x = c[0] - a[0], e2y = c[1] - a[1], e2z = c[2] - a[2];
        // Unnormalised: larger triangles weigh more in the vertex normal.
        const Point3 n(e1y * e2z - e1z * e2y, e1z * e2x - e1x * e2z, e1x * e2y - e1y * e2x);
        out[t[0]] += n;
        out[t[1]] += n;
        out[t[2]] += n;
    }
    for (size_t i = 0; i < nv; ++i)
        out[i].normalize();
}

void GLMeshObject::computeColors()
{
    if (!colors || version < 0 || nDataItems == 0)
        return;
    currentDataItem = ((currentDataItem % nDataItems) + nDataItems) % nDataItems;
    legend.clear();
    const DataItem &item = dataItems[static_cast<size_t>(currentDataItem)];
    const float lo = item.getMinimum(), hi = item.getMaximum();
    const ColorMap::ColorFunction f = ColorMap::selectColorMap(colorMapIndex);
    const float *values = item.getData();
    for (int i = 0; i < nVertices; ++i)
        f(colors + 3 * static_cast<size_t>(i), values[i], lo, hi);
    legend.setTitle(item.getName());
    legend.add(f, lo, hi, 15, 2);
    coloursChanged();
}

bool GLMeshObject::setColors(const unsigned char *rgb, int n)
{
    if (n != nVertices || !rgb)
        return false;
    const size_t bytes = 3 * static_cast<size_t>(n);
    if (!colorStore) {
        colorStore.reset(new unsigned char[bytes]);
        colors = colorStore.get();
    }
    std::copy(rgb, rgb + bytes, colors);
    coloursGiven = true;
    coloursChanged();
    legend.clear();
    return true;
}

// --- Drawing --------------------------------------------------------------------------------

namespace {

using MeshMethod = void (GLMeshObject::*)();

GL3DObject::DrawMethod method(MeshMethod m) { return static_cast<GL3DObject::DrawMethod>(m); }

// The attributes every drawing method saves: enable, lighting, polygon and current, and the
// colour-buffer state so that the blending function of translucent faces does not leak.
constexpr GLbitfield kFrameAttributes =
    GL_ENABLE_BIT | GL_LIGHTING_BIT | GL_POLYGON_BIT | GL_CURRENT_BIT | GL_COLOR_BUFFER_BIT;

} // namespace

void GLMeshObject::setDefaultDrawing() { drawMethod = &GL3DObject::defaultDrawing; }

void GLMeshObject::setDrawTriangles() { drawMethod = method(&GLMeshObject::drawTriangles); }

void GLMeshObject::setDrawData()
{
    // A mesh handed over without data items still has a (black) colour array: there is
    // nothing to show in it.
    if (colors && (nDataItems > 0 || coloursGiven))
        drawMethod = method(&GLMeshObject::drawData);
}

void GLMeshObject::setDrawTexture()
{
    if (nTextureChunks == 0)
        readTexture();
    drawMethod = method(&GLMeshObject::drawTexture);
}

void GLMeshObject::setDrawTextureFromData()
{
    if (nTextureChunks == 0)
        readTextureFromData();
    // Data textures are meant smooth, whatever filter the image texture had.
    textureFilter = GL_LINEAR;
    drawMethod = method(&GLMeshObject::drawTextureModulate);
}

void GLMeshObject::defaultDrawing()
{
    if (nTriangles <= 0 || !vertices || !normals)
        return;
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glMultMatrixf(pose);
    glPushAttrib(GL_ENABLE_BIT | GL_LIGHTING_BIT | GL_CURRENT_BIT | GL_POLYGON_BIT);
    material.set();
    glEnable(GL_LIGHTING);
    glShadeModel(static_cast<GLenum>(shadingModel));
    glDisable(GL_TEXTURE_2D);
    glPolygonMode(GL_FRONT, GL_FILL);
    drawElements(false, true, false);
    glPopAttrib();
    glPopMatrix();
}

void GLMeshObject::geometryChanged()
{
    Buffers &b = *buffers;
    b.stop();
    ++b.geometryVersion;
    ++b.colourVersion;
    b.full.release();
    b.reduced.release();
    b.subset.release();
}

void GLMeshObject::coloursChanged()
{
    if (buffers)
        ++buffers->colourVersion;
}

bool GLMeshObject::hasVertexBuffers() const
{
    const Buffers &b = *buffers;
    const uint64_t v = b.geometryVersion;
    return b.full.vertices.holds(v) && b.full.normals.holds(v) && (indicesReadInPlace() || b.full.indices.holds(v));
}

void GLMeshObject::setReducedDrawing(bool on)
{
    GL3DObject::setReducedDrawing(on && nTriangles > kReduceAbove && vertices && normals);
    Buffers &b = *buffers;
    if (!reducedDrawing || b.started)
        return;
    b.started = true;
    // Until the stand-in is built, drags show every k-th triangle.
    const size_t n = static_cast<size_t>(nTriangles);
    const size_t step = (n + kReducedTriangles - 1) / kReducedTriangles;
    b.subsetTriangles.reserve(3 * (n / step + 1));
    for (size_t i = 0; i < n; i += step)
        b.subsetTriangles.insert(b.subsetTriangles.end(), &triangles[3 * i], &triangles[3 * i + 3]);
    // The arrays stay as they are while the builder reads them: every change of the
    // geometry goes through geometryChanged(), which stops it first.
    const float *v = vertices;
    const int *t = triangles.get();
    const Point3 *nrm = normals.get();
    const int nv = nVertices, nt = nTriangles;
    Buffers *target = buffers.get();
    b.builder = std::thread([=] {
        target->built = reduceMesh(v, nv, t, nt, nrm, kReducedTriangles, &target->cancel, target->stand);
        target->done.store(true, std::memory_order_release);
    });
}

bool GLMeshObject::waitForReducedMesh()
{
    Buffers &b = *buffers;
    if (b.builder.joinable())
        b.builder.join();
    return b.standReady();
}

int GLMeshObject::getDrawnTriangles() const
{
    const Buffers &b = *buffers;
    if (!reducedDrawing)
        return nTriangles;
    if (b.done.load(std::memory_order_acquire) && b.built)
        return b.stand.nTriangles();
    return b.subsetTriangles.empty() ? nTriangles : static_cast<int>(b.subsetTriangles.size() / 3);
}

void GLMeshObject::drawElements(bool sorted, bool withNormals, bool withColours, bool withAlpha, unsigned char alpha)
{
    Buffers &b = *buffers;
    const bool useStand = reducedDrawing && b.standReady() && b.stand.nTriangles() > 0;
    const bool useSubset = reducedDrawing && !useStand && !sorted && !b.subsetTriangles.empty();
    Layer &layer = useStand ? b.reduced : b.full;
    const float *v = vertices;
    const Point3 *n = normals.get();
    const int *t = triangles.get();
    size_t nv = static_cast<size_t>(nVertices), nt = static_cast<size_t>(nTriangles);
    const unsigned char *rgb = colors;
    if (useStand) {
        v = b.stand.vertices.data();
        n = b.stand.normals.data();
        t = b.stand.triangles.data();
        nv = static_cast<size_t>(b.stand.nVertices());
        nt = static_cast<size_t>(b.stand.nTriangles());
        if (withColours && colors && b.standRgbVersion != b.colourVersion) {
            b.standRgb.resize(3 * nv);
            for (size_t i = 0; i < nv; ++i)
                std::copy_n(colors + 3 * static_cast<size_t>(b.stand.sources[i]), 3, &b.standRgb[3 * i]);
            b.standRgbVersion = b.colourVersion;
        }
        rgb = b.standRgb.data();
    }
    const uint64_t geometry = b.geometryVersion;

    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    glVertexPointer(3, GL_FLOAT, 0, layer.vertices.use(v, 3 * nv * sizeof(float), geometry));
    glEnableClientState(GL_VERTEX_ARRAY);
    if (withNormals && n) {
        glNormalPointer(GL_FLOAT, sizeof(Point3), layer.normals.use(n, nv * sizeof(Point3), geometry));
        glEnableClientState(GL_NORMAL_ARRAY);
    } else {
        glDisableClientState(GL_NORMAL_ARRAY);
    }
    if (withColours && rgb) {
        if (withAlpha) {
            // The alpha is part of the version: another material alpha is another array.
            const uint64_t key = b.colourVersion << 8 | alpha;
            const unsigned char *rgba = layer.withAlpha(rgb, nv, alpha, key);
            glColorPointer(4, GL_UNSIGNED_BYTE, 0, layer.alphaColours.use(rgba, 4 * nv, key));
        } else {
            glColorPointer(3, GL_UNSIGNED_BYTE, 0, layer.colours.use(rgb, 3 * nv, b.colourVersion));
        }
        glEnableClientState(GL_COLOR_ARRAY);
    } else {
        glDisableClientState(GL_COLOR_ARRAY);
    }
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    GLBuffer::unbind(GL_ARRAY_BUFFER);

    if (StartupTiming::enabled())
        StartupTiming::markFinished("mesh arrays in buffers");
    const bool inPlace = indicesReadInPlace();
    const void *indices = nullptr;
    if (sorted) {
        // The order changes with every view: it is streamed anew each frame.
        const int *order = nullptr;
        if (useStand) {
            b.standSorted.resize(3 * nt);
            sortByDepth(v, t, nt, currentToClip(), sorter, b.standSorted.data());
            order = b.standSorted.data();
        } else {
            sortTrianglesByDepth();
            order = sortedTriangles.get();
        }
        indices = indexSource(layer.sorted, inPlace, order, 3 * nt, ++b.sortVersion, GL_STREAM_DRAW);
    } else if (useSubset) {
        nt = b.subsetTriangles.size() / 3;
        indices = indexSource(b.subset, inPlace, b.subsetTriangles.data(), b.subsetTriangles.size(), geometry);
    } else {
        indices = indexSource(layer.indices, inPlace, t, 3 * nt, geometry);
    }
    // One call draws it all, except on a software renderer (see kSoftwareBatch) or where the
    // count would not fit a GLsizei.
    const size_t total = 3 * nt;
    const size_t most = inPlace ? size_t(3) * kSoftwareBatch : size_t(3) << 28;
    for (size_t first = 0; first < total; first += most) {
        glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(std::min(most, total - first)), GL_UNSIGNED_INT,
                       reinterpret_cast<const void *>(reinterpret_cast<uintptr_t>(indices) + first * sizeof(int)));
        if (first + most < total)
            glFlush();
    }
    GLBuffer::unbind(GL_ELEMENT_ARRAY_BUFFER);
    glPopClientAttrib();
    if (StartupTiming::enabled())
        StartupTiming::markFinished("mesh drawn");
}

void GLMeshObject::callShadeList() { drawElements(false, true, false); }

void GLMeshObject::beginFrame()
{
    // The planes are loaded before the pose so that they stay where the user put them.
    computeClippingPlanes();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glMultMatrixf(pose);
    glPushAttrib(kFrameAttributes);
}

void GLMeshObject::endFrame()
{
    glPopAttrib();
    glPopMatrix();
#ifndef NDEBUG
    // Debug builds name the first drawing method that left an error behind.
    for (GLenum e = glGetError(); e != GL_NO_ERROR; e = glGetError())
        std::fprintf(stderr, "GLMeshObject: OpenGL error 0x%04x after drawing\n", e);
#endif
}

void GLMeshObject::applyDoubleFace() const
{
    if (doubleFace)
        glDisable(GL_CULL_FACE);
}

void GLMeshObject::drawTriangles()
{
    if (nTriangles <= 0 || !vertices)
        return;
    glPushAttrib(GL_POLYGON_BIT);
    if (wireFrame) {
        drawWireframe();
        // The surface is pushed back a little so that the lines stay in front of it.
        glEnable(GL_POLYGON_OFFSET_FILL);
        glPolygonOffset(1, 2);
    }
    drawShade();
    glPopAttrib();
    drawPath();
}

void GLMeshObject::drawShade()
{
    if (nTriangles <= 0 || !vertices)
        return;
    beginFrame();
    material.set();
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    setClippingPlanes();
    applyDoubleFace();
    glEnable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glShadeModel(static_cast<GLenum>(shadingModel));
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    drawSurface(true);
    endFrame();
    drawSelectedPoint();
}

void GLMeshObject::drawSurface(bool withNormals)
{
    if (material.blend() && triangleSorting) {
        // Translucent faces show their back sides too, in back-to-front order.
        glDisable(GL_CULL_FACE);
        drawElements(true, withNormals, false);
    } else {
        drawElements(false, withNormals, false);
    }
}

void GLMeshObject::drawWireframe()
{
    if (nTriangles <= 0 || !vertices)
        return;
    beginFrame();
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    setClippingPlanes();
    applyDoubleFace();
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glShadeModel(GL_FLAT);
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    if (material.wireBlend()) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    }
    glColor4fv(material.wireColor);
    glPushAttrib(GL_LINE_BIT);
    glLineWidth(wireSize);
    callShadeList();
    glPopAttrib();
    endFrame();
}

void GLMeshObject::drawData()
{
    if (wireFrame)
        drawDataWire();
    else
        drawDataShade();
    drawPath();
}

void GLMeshObject::drawDataShade()
{
    if (!colors || nTriangles <= 0 || !vertices)
        return;
    beginFrame();
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    setClippingPlanes();
    applyDoubleFace();
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glShadeModel(static_cast<GLenum>(shadingModel));
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    if (material.blend()) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        if (triangleSorting)
            glDisable(GL_CULL_FACE);
        const auto alpha = static_cast<unsigned char>(std::clamp(material.frontDiffuse[3], 0.0f, 1.0f) * 255);
        drawElements(triangleSorting, false, true, true, alpha);
    } else {
        drawElements(false, false, true);
    }
    endFrame();
    drawSelectedPoint();
}

void GLMeshObject::drawDataWire()
{
    if (!colors || nTriangles <= 0 || !vertices)
        return;
    beginFrame();
    // The coloured lines.
    glDisable(GL_BLEND);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_DEPTH_TEST);
    glShadeModel(static_cast<GLenum>(shadingModel));
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    setClippingPlanes();
    applyDoubleFace();
    glPushAttrib(GL_LINE_BIT);
    glLineWidth(wireSize);
    if (material.wireBlend()) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        const auto alpha = static_cast<unsigned char>(std::clamp(material.wireColor[3], 0.0f, 1.0f) * 255);
        drawElements(false, false, true, true, alpha);
    } else {
        drawElements(false, false, true);
    }
    glPopAttrib();

    // The surface under them, in the material's diffuse colour, pushed back behind the lines.
    material.set();
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    setClippingPlanes();
    applyDoubleFace();
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glEnable(GL_POLYGON_OFFSET_FILL);
    glPolygonOffset(1, 2);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4fv(material.frontDiffuse);
    drawSurface(false);
    endFrame();
    drawSelectedPoint();
}

void GLMeshObject::drawTexture()
{
    // A mesh without texture chunks shows its plain triangles.
    if (nTriangles <= 0 || !vertices || !uploadTexture()) {
        drawTriangles();
        return;
    }
    glPushAttrib(GL_POLYGON_BIT);
    if (wireFrame) {
        drawWireframe();
        glEnable(GL_POLYGON_OFFSET_FILL);
        glPolygonOffset(1, 2);
    }
    beginFrame();
    glPushAttrib(GL_TEXTURE_BIT);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, textureMode);
    glEnable(GL_LIGHTING);
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_DEPTH_TEST);
    glShadeModel(static_cast<GLenum>(shadingModel));
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    setClippingPlanes();
    glEnable(GL_CULL_FACE);
    applyDoubleFace();
    material.set();
    meshTexture.draw(textureFilter);
    glPopAttrib();
    endFrame();
    glPopAttrib();
    drawPath();
}

void GLMeshObject::drawTextureModulate()
{
    // The environment is part of the texture state: it is put back once drawn.
    glPushAttrib(GL_TEXTURE_BIT);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    drawTexture();
    glPopAttrib();
}

void GLMeshObject::drawTextureDecal()
{
    glPushAttrib(GL_TEXTURE_BIT);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_DECAL);
    drawTexture();
    glPopAttrib();
}

// --- Texture set-up ---------------------------------------------------------------------------

bool GLMeshObject::readTexture()
{
    if (path.empty() || nTriangles <= 0)
        return false;
    if (!forcedTextureLimit) {
        // Queried once per mesh; without a current context the default limit stays.
        GLint limit = 0;
        glGetIntegerv(GL_MAX_TEXTURE_SIZE, &limit);
        if (limit > 0)
            maxTextureSize = limit;
    }
    if (!textureImages.empty() && texCoords && texCoordVersion >= 2) {
        // The images another program's model names; one that does not open is drawn white.
        std::vector<std::unique_ptr<Bitmap>> images;
        for (const std::string &name : textureImages) {
            images.push_back(MeshTextureReader::loadImageFile(name));
            if (!images.back()) {
                std::printf("GLMeshObject: can't read texture image %s\n", name.c_str());
                images.back().reset(new Bitmap(1, 1));
                images.back()->get(0, 0) = RGB<unsigned char>(255, 255, 255);
            }
        }
        MeshTextureReader reader(nTriangles, texCoords.get(), texCoordVersion, getMaxTextureSize());
        if (!reader.readTextureImages(std::move(images), triangleImage))
            return false;
        MeshTexture &result = reader.result();
        // The image of each triangle follows the triangles into their new order.
        if (!result.order.empty() && triangleImage.size() == result.order.size()) {
            std::vector<int> moved(triangleImage.size());
            for (size_t i = 0; i < moved.size(); ++i)
                moved[i] = triangleImage[static_cast<size_t>(result.order[i])];
            triangleImage.swap(moved);
        }
        return installTexture(result);
    }
    std::unique_ptr<Bitmap> image = MeshTextureReader::findCompanionImage(path);
    if (!image)
        return readTextureFromData();
    MeshTextureReader reader(nTriangles, texCoords.get(), texCoordVersion, getMaxTextureSize());
    if (!reader.readTexture(std::move(image)))
        return false;
    return installTexture(reader.result());
}

bool GLMeshObject::readTextureFromData()
{
    if (nDataItems == 0 || nTriangles <= 0)
        return false;
    const DataItem &item = dataItems[static_cast<size_t>(((currentDataItem % nDataItems) + nDataItems) % nDataItems)];
    if (item.getNElements() < nVertices)
        return false;
    MeshTextureReader reader(nTriangles, nullptr, -1, getMaxTextureSize());
    if (!reader.readTextureFromData(item.getData(), item.getMinimum(), item.getMaximum(), nVertices, triangles.get()))
        return false;
    // The texels are jet colours whatever map is selected: so is the legend.
    legend.clear();
    legend.setTitle(item.getName());
    legend.add(ColorMap::jetColorMap, item.getMinimum(), item.getMaximum(), 2, 2);
    return installTexture(reader.result());
}

bool GLMeshObject::installTexture(MeshTexture &texture)
{
    if (texture.chunks.empty() || !texture.texCoords)
        return false;
    if (!texture.order.empty())
        reorderTriangles(texture.order);
    texCoords = std::move(texture.texCoords);
    textureWidth = texture.textureWidth;
    textureHeight = texture.textureHeight;
    chunkStart = texture.chunkStart;
    nTextureChunks = static_cast<int>(texture.chunks.size());
    textureNames.clear();
    meshTexture.release();
    pendingTexture.reset(new MeshTexture(std::move(texture)));
    return true;
}

bool GLMeshObject::uploadTexture()
{
    if (pendingTexture) {
        const bool ok = meshTexture.upload(*pendingTexture, texCoords.get(), vertices, normals.get(), triangles.get(),
                                           nTriangles, textureFilter);
        pendingTexture.reset();
        if (ok) {
            textureNames = meshTexture.getNames();
        } else {
            nTextureChunks = 0;
            chunkStart.clear();
        }
    }
    return nTextureChunks > 0 && meshTexture.getNChunks() > 0;
}

void GLMeshObject::reorderTriangles(const std::vector<int> &order)
{
    const size_t n = static_cast<size_t>(nTriangles);
    LargeArray<int> regrouped = allocateLargeArray<int>(3 * n);
    for (size_t i = 0; i < n; ++i)
        std::copy_n(&triangles[3 * static_cast<size_t>(order[i])], 3, &regrouped[3 * i]);
    triangles = std::move(regrouped);
    // The buffers, the stand-in, the sorted copy and the adjacency follow the old order. This
    // may run outside a frame, so the buffers are only marked stale and refilled at the next one.
    if (buffers) {
        buffers->stop();
        ++buffers->geometryVersion;
        ++buffers->colourVersion;
    }
    sortedTriangles.reset();
    adjacency.reset();
}

void GLMeshObject::sortTrianglesByDepth()
{
    // Called inside a drawing frame: the model-view matrix already carries the pose.
    sortTrianglesByDepth(currentToClip());
}

void GLMeshObject::sortTrianglesByDepth(const Matrix4 &toClip)
{
    if (nTriangles <= 0)
        return;
    const size_t n = static_cast<size_t>(nTriangles);
    if (!sortedTriangles)
        sortedTriangles = allocateLargeArray<int>(3 * n);
    sortByDepth(vertices, triangles.get(), n, toClip, sorter, sortedTriangles.get());
}

void GLMeshObject::drawSelectedPoint()
{
    if (selectedVertex < 0 || selectedVertex >= nVertices)
        return;
    auto vertex = [this](int i) { return Point3(vertices[3 * i], vertices[3 * i + 1], vertices[3 * i + 2]); };
    const Point3 s = vertex(selectedVertex);
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glMultMatrixf(pose);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_LINE_SMOOTH);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glLineWidth(2);
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    glEnable(GL_POLYGON_OFFSET_LINE);
    glPolygonOffset(-1, -2);
    // The one-ring is a handful of vertices: immediate mode is the plain way to draw it.
    if (nNeighbours > 0) {
        glColor3ub(255, 0, 0);
        glBegin(GL_TRIANGLE_FAN);
        glVertex3fv(&vertices[3 * selectedVertex]);
        for (int k = 0; k < nNeighbours; ++k)
            glVertex3fv(&vertices[3 * neighbours[k]]);
        if (ringClosed)
            glVertex3fv(&vertices[3 * neighbours[0]]);
        glEnd();
        glPolygonOffset(-2, -4);
        glDepthFunc(GL_LEQUAL);
        glColor3ub(0, 0, 200);
        glBegin(GL_POLYGON);
        for (int k = 0; k < nNeighbours; ++k)
            glVertex3fv(&vertices[3 * neighbours[k]]);
        glEnd();
    }
    glDepthFunc(GL_LESS);
    glBegin(GL_LINES);
    if (normals) {
        glColor3ub(255, 255, 0);
        glVertex3f(s.x, s.y, s.z);
        const Point3 e = s + normals[selectedVertex] * normalLength;
        glVertex3f(e.x, e.y, e.z);
        glColor3ub(0, 255, 0);
        for (int k = 0; k < nNeighbours; ++k) {
            const Point3 a = vertex(neighbours[k]);
            const Point3 b = a + normals[neighbours[k]] * normalLength;
            glVertex3f(a.x, a.y, a.z);
            glVertex3f(b.x, b.y, b.z);
        }
    }
    glEnd();
    glLineWidth(1);
    glPopMatrix();
    glPopAttrib();
}

void GLMeshObject::drawShadow(float *plane, float *light, float *color)
{
    if (nTriangles <= 0 || !vertices)
        return;
    glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glColor3fv(color);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    MakeShadowMatrix(plane, light, shadowMatrix);
    glMultMatrixf(shadowMatrix);
    glMultMatrixf(pose);
    callShadeList();
    glPopMatrix();
    glPopAttrib();
}

void GLMeshObject::drawInfo()
{
    if (!legendDrawing)
        return;
    bool show = drawMethod == method(&GLMeshObject::drawData);
    if (drawMethod == method(&GLMeshObject::drawTexture) && textureWidth == textureHeight && textureWidth > 0) {
        const int side = static_cast<int>(std::sqrt(static_cast<double>(nVertices)));
        show = show || side == textureWidth;
    }
    if (show)
        legend.draw(10, 10);
}

// --- Settings -------------------------------------------------------------------------------

bool GLMeshObject::toggleWireFrame() { return wireFrame = !wireFrame; }
bool GLMeshObject::toggleTriangleSorting() { return triangleSorting = !triangleSorting; }
bool GLMeshObject::toggleDoubleFace() { return doubleFace = !doubleFace; }
bool GLMeshObject::toggleLegendDrawing() { return legendDrawing = !legendDrawing; }

void GLMeshObject::toggleShadingModel()
{
    shadingModel = shadingModel == GL_SMOOTH ? GL_FLAT : GL_SMOOTH;
    postRedisplay();
}

int GLMeshObject::getTextureInterpolation() const
{
    return textureFilter == GL_NEAREST ? 0 : textureFilter == GL_LINEAR ? 1 : -1;
}

void GLMeshObject::setTextureInterpolation(int m)
{
    if (m != 0 && m != 1)
        return;
    // The chunks take the filter at the next textured frame, where their context is current.
    textureFilter = m == 0 ? GL_NEAREST : GL_LINEAR;
    postRedisplay();
}

int GLMeshObject::getTextureModulation() const
{
    return textureMode == GL_DECAL ? 0 : textureMode == GL_MODULATE ? 1 : -1;
}

void GLMeshObject::setTextureModulation(int m)
{
    if (m != 0 && m != 1)
        return;
    textureMode = m == 0 ? GL_DECAL : GL_MODULATE;
    postRedisplay();
}

void GLMeshObject::setColorMap(int i)
{
    const int n = ColorMap::nColorMaps;
    i = ((i % n) + n) % n;
    if (i == colorMapIndex)
        return;
    colorMapIndex = i;
    computeColors();
    postRedisplay();
}

void GLMeshObject::setMaterial(int i)
{
    if (i < 0 || i >= Material::nPredefined)
        return;
    setMaterial(Material::predefined[i]);
}

void GLMeshObject::setMaterial(const Material &m)
{
    material = m;
    postRedisplay();
}

std::string GLMeshObject::getInformation() const
{
    char text[512];
    std::snprintf(text, sizeof text,
                  "%d triangles\n%d vertices\nbounding box:\n[%2.1f,%2.1f,%2.1f]\n[%2.1f,%2.1f,%2.1f]\n\n", nTriangles,
                  nVertices, bbMin.x, bbMin.y, bbMin.z, bbMax.x, bbMax.y, bbMax.z);
    return text;
}

// --- Picking --------------------------------------------------------------------------------

void GLMeshObject::notifyClick(int x, int y)
{
    selectedVertex = getVertex(x, y);
    if (selectedVertex >= 0) {
        getNbhood();
        printInfo(selectedVertex);
    }
}

void GLMeshObject::getNbhood()
{
    nNeighbours = 0;
    ringClosed = false;
    neighbours.reset();
    const int s = selectedVertex;
    if (s < 0 || s >= nVertices)
        return;
    // The edge opposite the vertex in every triangle around it, in the triangle's orientation.
    std::vector<std::pair<int, int>> pairs;
    const int *t = triangles.get();
    for (size_t i = 0; i < static_cast<size_t>(nTriangles); ++i) {
        const int a = t[3 * i], b = t[3 * i + 1], c = t[3 * i + 2];
        if (a == s)
            pairs.emplace_back(b, c);
        else if (b == s)
            pairs.emplace_back(c, a);
        else if (c == s)
            pairs.emplace_back(a, b);
    }
    if (pairs.empty())
        return;
    // Chain the edges at both ends, so that a vertex on the border gets its whole fan
    // whichever triangle comes first.
    std::deque<int> chain{pairs[0].first, pairs[0].second};
    std::vector<char> used(pairs.size(), 0);
    used[0] = 1;
    for (bool grown = true; grown;) {
        grown = false;
        for (size_t k = 1; k < pairs.size(); ++k) {
            if (used[k])
                continue;
            const auto [p, q] = pairs[k];
            if (p == chain.back())
                chain.push_back(q);
            else if (q == chain.front())
                chain.push_front(p);
            else if (q == chain.back())
                chain.push_back(p);
            else if (p == chain.front())
                chain.push_front(q);
            else
                continue;
            used[k] = 1;
            grown = true;
        }
    }
    if (chain.size() > 2 && chain.front() == chain.back()) {
        chain.pop_back();
        ringClosed = true;
    }
    nNeighbours = static_cast<int>(chain.size());
    neighbours.reset(new int[chain.size()]);
    std::copy(chain.begin(), chain.end(), neighbours.get());
}

void GLMeshObject::printInfo(int i) const
{
    if (i < 0 || i >= nVertices)
        return;
    std::printf("Selected vertex n:\t%d,\t[%f %f %f]\n", i, vertices[3 * i], vertices[3 * i + 1], vertices[3 * i + 2]);
    std::printf("\tvalence=%d\n", nNeighbours);
    for (const DataItem &item : dataItems) {
        std::printf("\t");
        item.print(i);
    }
}

void GLMeshObject::notifyAdditionalClick(int x, int y)
{
    const int v = getVertex(x, y);
    if (v < 0) {
        nPicked = 0;
        return;
    }
    pickedVertices[nPicked++] = v;
    if (nPicked < 3)
        return;
    nPicked = 0;
    int picked[3] = {pickedVertices[0], pickedVertices[1], pickedVertices[2]};
    std::sort(picked, picked + 3);
    const int *t = triangles.get();
    for (int i = 0; i < nTriangles; ++i) {
        int corners[3] = {t[3 * i], t[3 * i + 1], t[3 * i + 2]};
        std::sort(corners, corners + 3);
        if (std::equal(corners, corners + 3, picked)) {
            std::printf("triangle: %d\n", i);
            return;
        }
    }
}

void GLMeshObject::notifyAdditionalClick(int x, int y, int mode)
{
    if (selectedVertex < 0 || selectedVertex >= nVertices) {
        deletePath();
        return;
    }
    const int v = getVertex(x, y);
    if (v < 0) {
        deletePath();
        return;
    }
    printInfo(v);
    Matrix4 modelView = Matrix4::Identity;
    glGetFloatv(GL_MODELVIEW_MATRIX, static_cast<float *>(modelView));
    // The viewer is wanted in the mesh's own coordinates, so the pose goes in too: a moved
    // mesh is then cut through the eye as an unmoved one.
    measurePath(v, mode, modelView * pose);
}

const MeshAdjacency &GLMeshObject::getAdjacency()
{
    if (!adjacency) {
        const Objet_data mesh(&nVertices, reinterpret_cast<const Point3 *>(vertices), &nTriangles, triangles.get());
        adjacency.reset(new MeshAdjacency(mesh));
    }
    return *adjacency;
}

bool GLMeshObject::measurePath(int to, int mode, const Matrix4 &objectToEye)
{
    deletePath();
    if (selectedVertex < 0 || selectedVertex >= nVertices || to < 0 || to >= nVertices)
        return false;
    const MeshAdjacency &mesh = getAdjacency();
    if (mode) {
        pathOnMesh.reset(chemin_aretes(mesh, selectedVertex, to));
    } else {
        const Matrix3 r = objectToEye.getSubMatrix();
        const Point3 eye = (r.transpose() * objectToEye.getSubVector()) * -1.0f;
        pathOnMesh.reset(chemin_plan(mesh, selectedVertex, to, eye));
    }
    if (!pathOnMesh)
        return false;
    if (!distancePanel)
        distancePanel = PathDisplay::make();
    if (distancePanel)
        distancePanel->setPath(pathOnMesh.get());
    postRedisplay();
    return true;
}

void GLMeshObject::drawPath()
{
    if (!pathOnMesh || pathOnMesh->size() == 0)
        return;
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_POINT_SMOOTH);
    glEnable(GL_LINE_SMOOTH);
    // The path lies in the surface: its depth is pulled a hair towards the viewer so that
    // the triangles it crosses do not hide it half of the time.
    glDepthFunc(GL_LEQUAL);
    glDepthRange(0, 0.9995);
    glMultMatrixf(pose);
    glLineWidth(4);
    glColor3ub(0, 0, 255);
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    glVertexPointer(3, GL_FLOAT, 0, pathOnMesh->data());
    glEnableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glDrawArrays(GL_LINE_STRIP, 0, pathOnMesh->size());
    glPopClientAttrib();
    glLineWidth(1);
    glPopMatrix();
    glPopAttrib();
}

Point3 GLMeshObject::getOrigin() const
{
    if (selectedVertex >= 0 && selectedVertex < nVertices)
        return pose * Point3(vertices[3 * selectedVertex], vertices[3 * selectedVertex + 1],
                             vertices[3 * selectedVertex + 2]);
    return GL3DObject::getOrigin();
}

void GLMeshObject::printPose() const
{
    std::printf("Object pose:\n");
    pose.print();
    const Matrix3 r = pose.getSubMatrix();
    const Point3 t = pose.getSubVector();
    std::printf("Direct transformation:");
    std::printf("[%f,%f,%f]\n", t.x, t.y, t.z);
    Quaternion(r).print();
    const Matrix3 rt = r.transpose();
    const Point3 eye = (rt * t) * -1.0f;
    std::printf("Inverse transformation:");
    std::printf("[%f,%f,%f]\n", eye.x, eye.y, eye.z);
    Quaternion(rt).print();
}

// --- Keys -----------------------------------------------------------------------------------

int GLMeshObject::notifyKey(int key, void *arg)
{
    if (key >= 300 && key < 312) {
        const int plane = (key - 300) / 2;
        if ((key - 300) % 2 == 0) {
            enableClippingPlane(plane, static_cast<int>(reinterpret_cast<intptr_t>(arg)) != 0);
        } else {
            // A missing or degenerate plane would clip everything or nothing at random.
            const float *p = static_cast<const float *>(arg);
            if (!p)
                return 0;
            const double n = std::sqrt(double(p[0]) * p[0] + double(p[1]) * p[1] + double(p[2]) * p[2]);
            if (!(n > 0) || !std::isfinite(n) || !std::isfinite(p[3]))
                return 0;
            const double plane4[4] = {p[0] / n, p[1] / n, p[2] / n, p[3]};
            setClippingPlane(plane4, plane);
        }
        postRedisplay();
        return 1;
    }
    if (notifyCommand(key))
        return 1;
    return GL3DObject::notifyKey(key, arg);
}

int GLMeshObject::notifyCommand(int command)
{
    setBusy(true);
    int handled = 1;
    switch (command) {
    case '1':
        toggleWireFrame();
        break;
    case '2':
        setDrawTriangles();
        break;
    case '3':
    case '"':
        setDrawTexture();
        break;
    case '4':
        setDrawDepthBuffer();
        break;
    case '5':
        setDrawData();
        break;
    case '9':
        setDrawTextureFromData();
        break;
    case KeyCode::TEXTURE_NEAREST:
    case KeyCode::TEXTURE_LINEAR:
        setTextureInterpolation(command == KeyCode::TEXTURE_LINEAR ? 1 : 0);
        break;
    case KeyCode::TEXTURE_DECAL:
    case KeyCode::TEXTURE_MODULATE:
        setTextureModulation(command == KeyCode::TEXTURE_MODULATE ? 1 : 0);
        break;
    case ',':
    case '<':
    case '.':
    case '>':
        // computeColors() brings the index back into the range of the data items.
        if (nDataItems > 0) {
            currentDataItem += command == ',' || command == '<' ? -1 : 1;
            computeColors();
        }
        break;
    case '+':
        printPose();
        break;
    case KeyCode::PAGE_UP:
        colorMapIndex = (colorMapIndex + 1) % ColorMap::nColorMaps;
        computeColors();
        break;
    case KeyCode::PAGE_DOWN:
        colorMapIndex = (colorMapIndex + ColorMap::nColorMaps - 1) % ColorMap::nColorMaps;
        computeColors();
        break;
    default:
        handled = 0;
    }
    setBusy(false);
    if (handled)
        postRedisplay();
    return handled;
}
