#include "objects/GLMeshObject.h"

#include "formats/FiniteVertices.h"
#include "math/FaceOrientation.h"
#include "formats/ValueCategories.h"

#include "math/Messages.h"
#include "math/VertexNormals.h"
#include "core/GLInterface.h"
#include "core/KeyCodes.h"
#include "core/StartupTiming.h"
#include "formats/ColorMap.h"
#include "formats/LargeArray.h"
#include "formats/MeshTextureReader.h"
#include "math/Matrix3.h"
#include "math/Quaternion.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <stdexcept>

void GLMeshObject::adoptForeign(ForeignModel &model)
{
    if (model.isPointCloud)
        throw std::runtime_error("the file holds points without faces, no mesh");
    adopt(model.mesh);
    texturing.setImages(std::move(model.textureImages), std::move(model.triangleImage));
    texturing.setEmbeddedImages(std::move(model.embeddedImages));
    source = Source::Foreign;
    // Other programs' meshes are often single-sided sheets whose faces point either way: both
    // sides are drawn (and lit, see Material::set()).
    settings.doubleFace = true;
}

void GLMeshObject::readForeign(const char *file)
{
    ForeignModel model = AssimpReader::read(file);
    adoptForeign(model);
}

void GLMeshObject::agreeForeignFaces()
{
    // Other programs' meshes often hold faces that point either way. Lit from both sides they
    // would still show a speckle, since the normals of a vertex between faces of both ways
    // cancel out: the faces are turned to agree before the normals are made.
    if (source == Source::Binary)
        return;
    const size_t n = nTriangles > 0 ? static_cast<size_t>(nTriangles) : 0;
    const size_t turned = turnFacesToAgree();
    if (turned > 0)
        msg::note("GLMeshObject: %zu of %zu triangles turned to agree with their neighbours\n", turned, n);
}

size_t GLMeshObject::turnFacesToAgree()
{
    const size_t n = nTriangles > 0 ? static_cast<size_t>(nTriangles) : 0;
    const std::vector<bool> turned =
        FaceOrientation::orient(triangles.get(), n, nVertices > 0 ? static_cast<size_t>(nVertices) : 0);
    size_t count = 0;
    for (size_t t = 0; t < n; ++t) {
        if (!turned[t])
            continue;
        ++count;
        // The corners' texture coordinates go with their corners.
        if (texCoords)
            for (int k = 0; k < 2; ++k)
                std::swap(texCoords[6 * t + 2 + k], texCoords[6 * t + 4 + k]);
        if (fileTexCoords)
            for (int k = 0; k < 2; ++k)
                std::swap(fileTexCoords[6 * getFileTriangle(static_cast<int>(t)) + 2 + k],
                          fileTexCoords[6 * getFileTriangle(static_cast<int>(t)) + 4 + k]);
    }
    return count;
}

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();

// The drawing method that draws the mesh through `pass` of its drawing part.
template <void (GLMeshDrawing::*pass)()>
GL3DObject::DrawMethod drawingOf()
{
    return static_cast<GL3DObject::DrawMethod>(&GLMeshObject::drawWith<pass>);
}

} // namespace

// --- Construction ---------------------------------------------------------------------------

GLMeshObject::GLMeshObject()
    : GL3DObject(GLObject::MESH), source(Source::Binary), coloursGiven(false),
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
    open();
}

GLMeshObject::GLMeshObject(const char *file, MeshData &&mesh, bool off) : GLMeshObject()
{
    path = file ? file : "";
    adopt(mesh);
    source = off ? Source::OFF : Source::Binary;
    open();
}

void GLMeshObject::open()
{
    StartupTiming::mark("mesh read");
    agreeForeignFaces();
    prepare(true);
    StartupTiming::mark("mesh prepared");
    // OFF files of other programs hold faces that point either way, as imported meshes do.
    if (source == Source::OFF)
        settings.doubleFace = true;
    setDrawTriangles();
    // A file that brings its own vertex colours opens showing them, as other viewers do.
    if (hasFileColours())
        setDrawFileColours();
    else if (coloursGiven)
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
    agreeForeignFaces();
    prepare(true);
    setDrawTriangles();
    // A file that brings its own vertex colours opens showing them, as other viewers do.
    if (hasFileColours())
        setDrawFileColours();
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
    picking.initVariables();
    nTriangles = 0;
    headerFlags = 0;
    version = 0;
    meshType = 0;
    texturing.initVariables();
    texCoordVersion = -1;
    settings.material = Material::predefined[0];
    colorMapIndex = 0;
    nDataItems = 0;
    currentDataItem = 0;
    settings.triangleSorting = false;
    settings.doubleFace = false;
    settings.normalLength = 2.0f;
    settings.wireSize = 1.0f;
    settings.legendDrawing = true;
    settings.wireFrame = false;
    settings.textureMode = GL_DECAL;
    settings.textureFilter = GL_LINEAR;
    settings.shadingModel = GL_SMOOTH;
}

void GLMeshObject::freeData()
{
    texturing.release();
    // Stops a stand-in being built from the arrays before they go.
    geometryChanged();

    vertexStore.reset();
    vertices = nullptr;
    nVertices = 0;
    colorStore.reset();
    colors = nullptr;
    coloursGiven = false;
    fileColours.clear();
    triangles.reset();
    nTriangles = 0;
    normals.reset();
    normalsGiven = false;
    fileTriangle = std::vector<int>();
    cleaning.reset(0);
    selectedFaces = ElementSelection();
    markedFaces.clear();
    drawnTriangles.reset();
    fileTexCoords.reset();
    fileTexCoordsKept = false;
    drawing.dropSortedOrder();
    selectedVertex = -1;
    dataItems.clear();
    nDataItems = 0;
    texCoords.reset();
    texCoordVersion = -1;
    texturing.dropImages();
    legend.clear();
    picking.release();
}

void GLMeshObject::adopt(MeshData &g)
{
    // Every mesh reader hands its mesh over here: the one place that keeps a vertex that is
    // not a number out of the box, the normals and the picture.
    // A simplex mesh (a mesh type other than 0) holds neighbours, not triangles: its vertices
    // are moved rather than dropped.
    const bool simplex = g.meshType != 0;
    const FiniteVertices::Dropped dropped = simplex ? FiniteVertices::settle(g) : FiniteVertices::drop(g);
    if (dropped.vertices > 0 && dropped.kept == 0)
        throw std::runtime_error("no vertex has finite coordinates (" + std::to_string(dropped.vertices) +
                                 " with NaN or infinity)");
    if (dropped.vertices > 0 && simplex)
        msg::warning("GLMeshObject: %zu vertices with NaN or infinite coordinates placed at the mean of their "
                     "neighbours\n",
                     dropped.vertices);
    else if (dropped.vertices > 0)
        msg::warning("GLMeshObject: %zu vertices with NaN or infinite coordinates skipped, and the %zu "
                     "triangles that use them\n",
                     dropped.vertices, dropped.triangles);
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
    cleaning.reset(static_cast<size_t>(std::max(nVertices, 0)));
    selectedFaces = ElementSelection(static_cast<size_t>(std::max(nTriangles, 0)));
}

void GLMeshObject::installColours(MeshData &g)
{
    colorStore = std::move(g.colors);
    colors = colorStore.get();
    coloursGiven = colors && g.colorsFromFile;
    if (coloursGiven)
        fileColours.assign(colors, colors + 3 * static_cast<size_t>(g.nVertices));
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
        std::memcpy(&settings.material, g.material, sizeof g.material);
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

    const MeshDisplay kept = settings;
    const int keepItem = currentDataItem, keepMap = colorMapIndex;
    freeData();
    initVariables();
    adopt(g);
    source = Source::Binary;
    settings.wireFrame = kept.wireFrame;
    currentDataItem = keepItem;
    colorMapIndex = keepMap;
    settings.doubleFace = kept.doubleFace;
    settings.normalLength = kept.normalLength;
    settings.legendDrawing = kept.legendDrawing;
    settings.textureMode = kept.textureMode;
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
        msg::error("GLMeshObject: unable to reload %s\n", path.c_str());
        return;
    }
    agreeForeignFaces();
    computeColors();
    computeBoundingBox();
    computeVertexNormals();
    msg::note("%d triangles, %d vertex\n", nTriangles, nVertices);
    // A textured mesh stays textured: its texture is made again from the files as they are.
    if (drawMethod == drawingOf<&GLMeshDrawing::drawTexture>())
        setDrawTexture();
    else if (drawMethod == drawingOf<&GLMeshDrawing::drawTextureModulate>())
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
    settings.normalLength = getMaxRadius() / 100;
}

void GLMeshObject::computeNormals(Point3 *out) const
{
    const float *v = vertices;
    const auto corner = [v](int i) {
        const float *p = v + 3 * static_cast<size_t>(i);
        return Point3(p[0], p[1], p[2]);
    };
    vertexNormals(static_cast<size_t>(nVertices), triangles.get(), static_cast<size_t>(std::max(nTriangles, 0)), corner,
                  out);
}

void GLMeshObject::computeColors()
{
    if (!colors || version < 0 || nDataItems == 0 || showingFileColours())
        return;
    currentDataItem = ((currentDataItem % nDataItems) + nDataItems) % nDataItems;
    legend.clear();
    const DataItem &item = dataItems[static_cast<size_t>(currentDataItem)];
    const float lo = item.getMinimum(), hi = item.getMaximum();
    const ColorMap::ColorFunction f = ColorMap::selectColorMap(colorMapIndex);
    const float *values = item.getData();
    for (int i = 0; i < nVertices; ++i) {
        unsigned char *c = colors + 3 * static_cast<size_t>(i);
        if (std::isnan(values[i]))
            c[0] = c[1] = c[2] = 128;
        else
            f(c, values[i], lo, hi);
    }
    legend.setTitle(item.getName());
    std::vector<int> categories;
    if (ValueCategories::of(item.getName(), values, static_cast<size_t>(std::max(0, nVertices)), categories))
        legend.addCategories(f, lo, hi, categories, item.getName());
    else
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

bool GLMeshObject::addDataItem(const DataItem &item)
{
    if (item.getNElements() != nVertices || nVertices <= 0)
        return false;
    int slot = 0;
    while (slot < nDataItems && std::strcmp(dataItems[static_cast<size_t>(slot)].getName(), item.getName()) != 0)
        ++slot;
    if (slot == nDataItems) {
        dataItems.push_back(item);
        nDataItems = static_cast<int>(dataItems.size());
    } else {
        dataItems[static_cast<size_t>(slot)] = item;
    }
    if (!colorStore) {
        colorStore.reset(new unsigned char[3 * static_cast<size_t>(nVertices)]);
        colors = colorStore.get();
    }
    coloursGiven = false;
    currentDataItem = slot;
    computeColors();
    setDrawData();
    if (interface)
        interface->update();
    postRedisplay();
    return true;
}

// --- Drawing --------------------------------------------------------------------------------

void GLMeshObject::setDefaultDrawing() { drawMethod = &GL3DObject::defaultDrawing; }

void GLMeshObject::setDrawTriangles() { drawMethod = drawingOf<&GLMeshDrawing::drawTriangles>(); }

bool GLMeshObject::showingFileColours() const { return drawMethod == drawingOf<&GLMeshDrawing::drawFileColours>(); }

void GLMeshObject::setDrawData()
{
    if (!colors)
        return;
    if (nDataItems > 0) {
        // The array may hold the file colours: the data colours are painted again.
        drawMethod = drawingOf<&GLMeshDrawing::drawData>();
        computeColors();
    } else if (hasFileColours()) {
        setDrawFileColours();
    } else if (coloursGiven) {
        // A mesh handed over without data items still has a (black) colour array: only
        // colours given through setColors() are shown.
        drawMethod = drawingOf<&GLMeshDrawing::drawData>();
    }
}

void GLMeshObject::setDrawFileColours()
{
    if (!colors || fileColours.size() != 3 * static_cast<size_t>(nVertices))
        return;
    std::copy(fileColours.begin(), fileColours.end(), colors);
    coloursChanged();
    drawMethod = drawingOf<&GLMeshDrawing::drawFileColours>();
}

void GLMeshObject::setDrawTexture()
{
    // Without an image, a mesh with file colours shows those rather than the data texture.
    // After key 9 the chunks show a data item: the image's are made again.
    const bool read = texturing.getNTextureChunks() == 0 || texturing.showsData();
    if (read && !texturing.readTexture(!hasFileColours()) && hasFileColours()) {
        setDrawFileColours();
        return;
    }
    drawMethod = drawingOf<&GLMeshDrawing::drawTexture>();
}

void GLMeshObject::setDrawTextureFromData()
{
    // The chunks of an image (key 3) or of another item give way to the item's own.
    const int n = std::max(nDataItems, 1);
    if (!texturing.showsDataItem(((currentDataItem % n) + n) % n))
        texturing.readTextureFromData();
    // Data textures are meant smooth, whatever filter the image texture had.
    settings.textureFilter = GL_LINEAR;
    drawMethod = drawingOf<&GLMeshDrawing::drawTextureModulate>();
}

void GLMeshObject::defaultDrawing() { drawing.defaultDrawing(); }
void GLMeshObject::drawShadow(float *plane, float *light, float *color) { drawing.drawShadow(plane, light, color); }

bool GLMeshObject::canDrawReduced(const FrameContext &) const
{
    return nTriangles > GLMeshDrawing::kReduceAbove && vertices && normals;
}

void GLMeshObject::reducedDrawingChanged() { drawing.startReduction(); }

// --- What the parts see -----------------------------------------------------------------------

MeshArrays GLMeshObject::arrays() const
{
    MeshArrays a;
    a.vertices = vertices;
    a.nVertices = nVertices;
    a.triangles = drawnTriangles ? drawnTriangles.get() : triangles.get();
    a.nTriangles = nTriangles;
    a.normals = normals.get();
    a.colors = colors;
    a.texCoords = texCoords.get();
    a.texCoordVersion = texCoordVersion;
    return a;
}

void GLMeshObject::takeTextureLayout(const std::vector<int> &order, LargeArray<float> coordinates)
{
    if (!order.empty())
        reorderTriangles(order);
    // The layout's coordinates are in its chunks: the file's are kept for saving.
    if (!fileTexCoordsKept) {
        fileTexCoords = std::move(texCoords);
        fileTexCoordsKept = true;
    }
    texCoords = std::move(coordinates);
}

void GLMeshObject::reorderTriangles(const std::vector<int> &order)
{
    const size_t n = static_cast<size_t>(nTriangles);
    LargeArray<int> regrouped = allocateLargeArray<int>(3 * n);
    for (size_t i = 0; i < n; ++i)
        std::copy_n(&triangles[3 * static_cast<size_t>(order[i])], 3, &regrouped[3 * i]);
    triangles = std::move(regrouped);
    // Each triangle keeps the index it had in the file, through any number of regroupings.
    std::vector<int> fileIndex(n);
    for (size_t i = 0; i < n; ++i)
        fileIndex[i] = getFileTriangle(order[i]);
    fileTriangle = std::move(fileIndex);
    // The buffers, the stand-in, the sorted copy and the adjacency follow the old order. This
    // may run outside a frame, so the buffers are only marked stale and refilled at the next one.
    makeDrawnTriangles();
    drawing.orderChanged();
    picking.dropAdjacency();
}

size_t GLMeshObject::orientFacesConsistently()
{
    const size_t n = nTriangles > 0 ? static_cast<size_t>(nTriangles) : 0;
    const size_t count = turnFacesToAgree();
    msg::note("GLMeshObject: %zu of %zu triangles turned to agree with their neighbours\n", count, n);
    if (count == 0)
        return 0;
    if (!normalsGiven)
        computeVertexNormals();
    makeDrawnTriangles();
    drawing.orderChanged();
    geometryChanged();
    picking.dropAdjacency();
    postRedisplay();
    return count;
}

void GLMeshObject::drawInfo()
{
    cleaning.drawDragShape();
    if (!settings.legendDrawing)
        return;
    // The data colours and the data texture (key 9) have a scale of values.
    bool show = drawMethod == drawingOf<&GLMeshDrawing::drawData>() ||
                drawMethod == drawingOf<&GLMeshDrawing::drawTextureModulate>();
    const int width = texturing.getTextureWidth();
    const bool square = width == texturing.getTextureHeight() && width > 0;
    if (drawMethod == drawingOf<&GLMeshDrawing::drawTexture>() && square) {
        const int side = static_cast<int>(std::sqrt(static_cast<double>(nVertices)));
        show = show || side == width;
    }
    if (show)
        legend.draw(10, 10);
}

// --- Settings -------------------------------------------------------------------------------

bool GLMeshObject::toggleWireFrame() { return settings.wireFrame = !settings.wireFrame; }
bool GLMeshObject::toggleTriangleSorting() { return settings.triangleSorting = !settings.triangleSorting; }
bool GLMeshObject::toggleDoubleFace() { return settings.doubleFace = !settings.doubleFace; }
bool GLMeshObject::toggleLegendDrawing() { return settings.legendDrawing = !settings.legendDrawing; }

void GLMeshObject::toggleShadingModel()
{
    settings.shadingModel = settings.shadingModel == GL_SMOOTH ? GL_FLAT : GL_SMOOTH;
    postRedisplay();
}

namespace {

// The two OpenGL values a panel's choice 0 or 1 stands for.
struct TwoWayChoice {
    int values[2];
    /// 0 or 1, or -1 for a value that is neither.
    int of(int value) const { return value == values[0] ? 0 : value == values[1] ? 1 : -1; }
    /// Sets `value` to choice `m`; false (nothing set) for a choice other than 0 and 1.
    bool set(int &value, int m) const
    {
        if (m != 0 && m != 1)
            return false;
        value = values[m];
        return true;
    }
};
constexpr TwoWayChoice kFilters{{GL_NEAREST, GL_LINEAR}};
constexpr TwoWayChoice kEnvironments{{GL_DECAL, GL_MODULATE}};

} // namespace

int GLMeshObject::getTextureInterpolation() const { return kFilters.of(settings.textureFilter); }

void GLMeshObject::setTextureInterpolation(int m)
{
    // The chunks take the filter at the next textured frame, where their context is current.
    if (kFilters.set(settings.textureFilter, m))
        postRedisplay();
}

int GLMeshObject::getTextureModulation() const { return kEnvironments.of(settings.textureMode); }

void GLMeshObject::setTextureModulation(int m)
{
    if (kEnvironments.set(settings.textureMode, m))
        postRedisplay();
}

void GLMeshObject::colorMapChanged() { computeColors(); }

void GLMeshObject::setMaterial(int i)
{
    if (i < 0 || i >= Material::nPredefined)
        return;
    setMaterial(Material::predefined[i]);
}

void GLMeshObject::setMaterial(const Material &m)
{
    settings.material = m;
    postRedisplay();
}

std::string GLMeshObject::getInformation() const
{
    return std::to_string(nTriangles) + " triangles\n" + std::to_string(nVertices) + " vertices\n" +
           boxInformation(nullptr) + "\n";
}

// --- Picking --------------------------------------------------------------------------------

void GLMeshObject::notifyClick(int x, int y)
{
    selectedVertex = getVertex(x, y);
    picking.vertexSelected();
}

void GLMeshObject::notifyAdditionalClick(int x, int y, int mode)
{
    picking.notifyAdditionalClick(x, y, mode);
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
    msg::note("Object pose:\n");
    msg::printed(MessageLevel::Note, [this](FILE *out) { pose.print(out); });
    const Matrix3 r = pose.getSubMatrix();
    const Point3 t = pose.getSubVector();
    msg::note("Direct transformation:");
    msg::note("[%f,%f,%f]\n", t.x, t.y, t.z);
    msg::printed(MessageLevel::Note, [&](FILE *out) { Quaternion(r).print(out); });
    const Matrix3 rt = r.transpose();
    const Point3 eye = (rt * t) * -1.0f;
    msg::note("Inverse transformation:");
    msg::note("[%f,%f,%f]\n", eye.x, eye.y, eye.z);
    msg::printed(MessageLevel::Note, [&](FILE *out) { Quaternion(rt).print(out); });
}

// --- Keys -----------------------------------------------------------------------------------

const BindingTable &GLMeshObject::bindings()
{
    using A = Action;
    constexpr unsigned F = KeyBinding::BUSY | KeyBinding::REDRAW;
    static const KeyBinding rows[] = {
        {actionValue(A::WIRE_FRAME), {'1'}, "Wire", "wire frame on/off", F},
        {actionValue(A::SHADE), {'2'}, "Shade", "lit triangles", F},
        {actionValue(A::TEXTURE), {'3', KeyCode::AZERTY_3}, "Texture", "texture mapping", F},
        {actionValue(A::DEPTH_BUFFER), {'4'}, "Zbuffer", "depth buffer shading", F},
        {actionValue(A::DATA), {'5'}, "Data", "colours of the data item", F},
        {actionValue(A::DATA_TEXTURE), {'9'}, nullptr, "texture from the data item", F},
        {actionValue(A::TEXTURE_NEAREST), {}, "nearest", "nearest texel filtering",
         F},
        {actionValue(A::TEXTURE_LINEAR), {}, "linear", "linear texel filtering",
         F},
        {actionValue(A::TEXTURE_DECAL), {}, "Decal", "the texels as they are",
         F},
        {actionValue(A::TEXTURE_MODULATE), {}, "Modulate", "the texels lit by the material",
         F},
        {actionValue(A::PREVIOUS_DATA), {'<', ','}, nullptr, "previous data item", F},
        {actionValue(A::NEXT_DATA), {'>', '.'}, nullptr, "next data item", F},
        {actionValue(A::PRINT_POSE), {'+'}, nullptr, "print the pose", F},
        {actionValue(A::ORIENT_FACES), {}, "Orient faces consistently", "turn faces to agree with their neighbours", F},
    };
    static const BindingTable table("mesh", rows, BindingTable::WITH_COLOR_MAPS, ElementCleaning::bindingRows());
    return table;
}

int GLMeshObject::notifyKey(int key) { return notifyCommand(key); }

bool GLMeshObject::applyClippingSwitch(int plane, bool on)
{
    if (plane < 0 || plane >= 6)
        return false;
    enableClippingPlane(plane, on);
    postRedisplay();
    return true;
}

bool GLMeshObject::applyClippingPlane(int plane, const float abcd[4])
{
    if (plane < 0 || plane >= 6 || !abcd)
        return false;
    const float *p = abcd;
    const double n = std::sqrt(double(p[0]) * p[0] + double(p[1]) * p[1] + double(p[2]) * p[2]);
    if (!(n > 0) || !std::isfinite(n) || !std::isfinite(p[3]))
        return false;
    const double plane4[4] = {p[0] / n, p[1] / n, p[2] / n, p[3]};
    setClippingPlane(plane4, plane);
    postRedisplay();
    return true;
}

bool GLMeshObject::runAction(const KeyBinding &row)
{
    switch (static_cast<Action>(row.action)) {
    case Action::ORIENT_FACES:
        orientFacesConsistently();
        break;
    case Action::WIRE_FRAME:
        toggleWireFrame();
        break;
    case Action::SHADE:
        setDrawTriangles();
        break;
    case Action::TEXTURE:
        setDrawTexture();
        break;
    case Action::DEPTH_BUFFER:
        setDrawDepthBuffer();
        break;
    case Action::DATA:
        setDrawData();
        break;
    case Action::DATA_TEXTURE:
        setDrawTextureFromData();
        break;
    case Action::TEXTURE_NEAREST:
    case Action::TEXTURE_LINEAR:
        setTextureInterpolation(row.action == actionValue(Action::TEXTURE_LINEAR) ? 1 : 0);
        break;
    case Action::TEXTURE_DECAL:
    case Action::TEXTURE_MODULATE:
        setTextureModulation(row.action == actionValue(Action::TEXTURE_MODULATE) ? 1 : 0);
        break;
    case Action::PREVIOUS_DATA:
    case Action::NEXT_DATA:
        // computeColors() brings the index back into the range of the data items.
        if (nDataItems > 0) {
            currentDataItem += row.action == actionValue(Action::PREVIOUS_DATA) ? -1 : 1;
            computeColors();
        }
        break;
    case Action::PRINT_POSE:
        printPose();
        break;
    }
    return true;
}
