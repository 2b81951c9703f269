#define GL_GLEXT_PROTOTYPES 1
#include "objects/GLMeshDrawing.h"

#include "math/JoiningThread.h"
#include "math/Messages.h"
#include "core/StartupTiming.h"
#include "objects/GL3DObject.h"
#include "objects/GLMeshPicking.h"
#include "objects/GLMeshTexturing.h"
#include "objects/MeshReduction.h"
#include "render/CoveringTriangles.h"
#include "render/GLBuffer.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// The attributes every drawing method saves: enable, lighting, polygon and current, and the
// colour-buffer state so that the blending function of translucent faces does not leak.
constexpr GLbitfield kFrameAttributes =
    GL_ENABLE_BIT | GL_LIGHTING_BIT | GL_POLYGON_BIT | GL_CURRENT_BIT | GL_COLOR_BUFFER_BIT;

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
struct GLMeshDrawing::Buffers {
    uint64_t geometryVersion = 1; ///< grows with every change of the geometry
    uint64_t colourVersion = 1;   ///< grows with every change of the colours
    uint64_t sortVersion = 0;
    Layer full, reduced;

    // A fixed subset of the triangles, drawn during drags until the stand-in is there.
    Slot subset{GL_ELEMENT_ARRAY_BUFFER};
    std::vector<int> subsetTriangles;

    ReducedMesh stand;
    std::atomic<bool> cancel{false};
    std::atomic<bool> done{false}; ///< the builder finished (`built` tells how)
    bool built = false;
    bool started = false;
    JoiningThread builder; ///< after what it writes
    std::vector<unsigned char> standRgb; ///< the colours of the stand-in's source vertices
    uint64_t standRgbVersion = 0;
    std::vector<int> standSorted;
    std::vector<int> covering; ///< the triangles a frame on a software renderer draws

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
        builder.join();
        return built;
    }
};

GLMeshDrawing::GLMeshDrawing(GL3DObject &mesh, const MeshModel &meshModel, GLMeshPicking &meshPicking,
                             GLMeshTexturing &meshTexturing)
    : element(mesh), model(meshModel), picking(meshPicking), texturing(meshTexturing),
      buffers(std::make_unique<Buffers>())
{
}

bool GLMeshDrawing::hasSurface() const
{
    const MeshArrays a = model.arrays();
    return a.nTriangles > 0 && a.vertices;
}

GLMeshDrawing::~GLMeshDrawing() = default;

void GLMeshDrawing::defaultDrawing()
{
    if (!hasSurface() || !model.arrays().normals)
        return;
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glMultMatrixf(element.getPose());
    glPushAttrib(GL_ENABLE_BIT | GL_LIGHTING_BIT | GL_CURRENT_BIT | GL_POLYGON_BIT);
    glEnable(GL_RESCALE_NORMAL); // a pose that scales (an aligned model) keeps the shading
    display().material.set();
    glEnable(GL_LIGHTING);
    glShadeModel(static_cast<GLenum>(display().shadingModel));
    glDisable(GL_TEXTURE_2D);
    glPolygonMode(GL_FRONT, GL_FILL);
    drawElements(false, true, false);
    glPopAttrib();
    glPopMatrix();
}

void GLMeshDrawing::geometryChanged()
{
    Buffers &b = *buffers;
    b.stop();
    ++b.geometryVersion;
    ++b.colourVersion;
    b.full.release();
    b.reduced.release();
    b.subset.release();
}

void GLMeshDrawing::coloursChanged()
{
    if (buffers)
        ++buffers->colourVersion;
}

void GLMeshDrawing::orderChanged()
{
    if (buffers) {
        buffers->stop();
        ++buffers->geometryVersion;
        ++buffers->colourVersion;
    }
    sortedTriangles.reset();
}

bool GLMeshDrawing::hasVertexBuffers() const
{
    const Buffers &b = *buffers;
    const uint64_t v = b.geometryVersion;
    return b.full.vertices.holds(v) && b.full.normals.holds(v) && (indicesReadInPlace() || b.full.indices.holds(v));
}

void GLMeshDrawing::startReduction()
{
    Buffers &b = *buffers;
    if (!element.getReducedDrawing() || b.started)
        return;
    b.started = true;
    const MeshArrays a = model.arrays();
    // Until the stand-in is built, drags show every k-th triangle.
    const size_t n = static_cast<size_t>(a.nTriangles);
    const size_t step = (n + kReducedTriangles - 1) / kReducedTriangles;
    b.subsetTriangles.reserve(3 * (n / step + 1));
    for (size_t i = 0; i < n; i += step)
        b.subsetTriangles.insert(b.subsetTriangles.end(), &a.triangles[3 * i], &a.triangles[3 * i + 3]);
    // The arrays stay as they are while the builder reads them: every change of the
    // geometry goes through geometryChanged(), which stops it first.
    const float *v = a.vertices;
    const int *t = a.triangles;
    const Point3 *nrm = a.normals;
    const int nv = a.nVertices, nt = a.nTriangles;
    Buffers *target = buffers.get();
    b.builder = JoiningThread([=] {
        target->built = reduceMesh(v, nv, t, nt, nrm, kReducedTriangles, &target->cancel, target->stand);
        target->done.store(true, std::memory_order_release);
    });
}

bool GLMeshDrawing::waitForReducedMesh()
{
    Buffers &b = *buffers;
    b.builder.join();
    return b.standReady();
}

int GLMeshDrawing::getDrawnTriangles() const
{
    const Buffers &b = *buffers;
    const int all = model.arrays().nTriangles;
    if (!element.getReducedDrawing())
        return all;
    if (b.done.load(std::memory_order_acquire) && b.built)
        return b.stand.nTriangles();
    return b.subsetTriangles.empty() ? all : static_cast<int>(b.subsetTriangles.size() / 3);
}

void GLMeshDrawing::drawElements(bool sorted, bool withNormals, bool withColours, bool withAlpha, unsigned char alpha)
{
    Buffers &b = *buffers;
    const bool reduced = element.getReducedDrawing();
    const bool useStand = reduced && b.standReady() && b.stand.nTriangles() > 0;
    const bool useSubset = reduced && !useStand && !sorted && !b.subsetTriangles.empty();
    Layer &layer = useStand ? b.reduced : b.full;
    const MeshArrays a = model.arrays();
    const float *v = a.vertices;
    const Point3 *n = a.normals;
    const int *t = a.triangles;
    size_t nv = static_cast<size_t>(a.nVertices), nt = static_cast<size_t>(a.nTriangles);
    const unsigned char *rgb = a.colors;
    if (useStand) {
        v = b.stand.vertices.data();
        n = b.stand.normals.data();
        t = b.stand.triangles.data();
        nv = static_cast<size_t>(b.stand.nVertices());
        nt = static_cast<size_t>(b.stand.nTriangles());
        if (withColours && a.colors && b.standRgbVersion != b.colourVersion) {
            b.standRgb.resize(3 * nv);
            for (size_t i = 0; i < nv; ++i)
                std::copy_n(a.colors + 3 * static_cast<size_t>(b.stand.sources[i]), 3, &b.standRgb[3 * i]);
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
    } else if (inPlace && nt > kSoftwareBatch && CoveringTriangles::select(v, nv, t, nt, b.covering)) {
        // A software renderer is spared the triangles that cannot colour a pixel.
        nt = b.covering.size() / 3;
        if (StartupTiming::enabled())
            StartupTiming::mark("mesh triangles that cover pixels chosen");
        indices = b.covering.data();
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

void GLMeshDrawing::callShadeList() { drawElements(false, true, false); }

void GLMeshDrawing::beginFrame()
{
    // The planes are loaded before the pose so that they stay where the user put them.
    element.computeClippingPlanes();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glMultMatrixf(element.getPose());
    glPushAttrib(kFrameAttributes);
    // A pose that scales (an aligned model) would otherwise scale the normals' lighting.
    glEnable(GL_RESCALE_NORMAL);
}

void GLMeshDrawing::endFrame()
{
    glPopAttrib();
    glPopMatrix();
#ifndef NDEBUG
    // Debug builds name the first drawing method that left an error behind.
    for (GLenum e = glGetError(); e != GL_NO_ERROR; e = glGetError())
        msg::diagnostic("GLMeshObject: OpenGL error 0x%04x after drawing\n", e);
#endif
}

void GLMeshDrawing::applyDoubleFace() const
{
    if (display().doubleFace)
        glDisable(GL_CULL_FACE);
}

void GLMeshDrawing::drawWireframeInFront()
{
    if (!display().wireFrame)
        return;
    drawWireframe();
    // The surface is pushed back a little so that the lines stay in front of it.
    glEnable(GL_POLYGON_OFFSET_FILL);
    glPolygonOffset(1, 2);
}

void GLMeshDrawing::drawTriangles()
{
    if (!hasSurface())
        return;
    glPushAttrib(GL_POLYGON_BIT);
    drawWireframeInFront();
    drawShade();
    glPopAttrib();
    picking.drawPath();
}

void GLMeshDrawing::drawShade()
{
    if (!hasSurface())
        return;
    beginFrame();
    setLitState();
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    drawSurface(true);
    endFrame();
    picking.drawSelectedPoint();
}

void GLMeshDrawing::drawSurface(bool withNormals)
{
    if (display().material.blend() && display().triangleSorting) {
        // Translucent faces show their back sides too, in back-to-front order.
        glDisable(GL_CULL_FACE);
        drawElements(true, withNormals, false);
    } else {
        drawElements(false, withNormals, false);
    }
}

void GLMeshDrawing::setUnlitState(unsigned shading, unsigned polygons)
{
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    element.setClippingPlanes();
    applyDoubleFace();
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glShadeModel(shading);
    glPolygonMode(GL_FRONT_AND_BACK, polygons);
}

void GLMeshDrawing::setLitState()
{
    display().material.set();
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    element.setClippingPlanes();
    applyDoubleFace();
    glEnable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glShadeModel(static_cast<GLenum>(display().shadingModel));
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
}

void GLMeshDrawing::drawWireframe()
{
    if (!hasSurface())
        return;
    beginFrame();
    setUnlitState(GL_FLAT, GL_LINE);
    if (display().material.wireBlend()) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    }
    glColor4fv(display().material.wireColor);
    glPushAttrib(GL_LINE_BIT);
    glLineWidth(display().wireSize);
    callShadeList();
    glPopAttrib();
    endFrame();
}

void GLMeshDrawing::drawData()
{
    if (display().wireFrame)
        drawDataWire();
    else
        drawDataShade();
    picking.drawPath();
}

void GLMeshDrawing::drawFileColours()
{
    if (!model.arrays().colors || !hasSurface())
        return;
    glPushAttrib(GL_POLYGON_BIT);
    drawWireframeInFront();
    beginFrame();
    setLitState();
    glDisable(GL_BLEND);
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    glEnable(GL_COLOR_MATERIAL);
    drawElements(false, true, true);
    endFrame();
    glPopAttrib();
    picking.drawSelectedPoint();
    picking.drawPath();
}

void GLMeshDrawing::drawDataElements(bool translucent, float alpha, bool sorted)
{
    if (!translucent) {
        drawElements(false, false, true);
        return;
    }
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    // Sorted triangles are drawn back to front whichever way they face.
    if (sorted)
        glDisable(GL_CULL_FACE);
    drawElements(sorted, false, true, true, static_cast<unsigned char>(std::clamp(alpha, 0.0f, 1.0f) * 255));
}

void GLMeshDrawing::drawDataShade()
{
    if (!model.arrays().colors || !hasSurface())
        return;
    beginFrame();
    setUnlitState(static_cast<GLenum>(display().shadingModel), GL_FILL);
    const MeshDisplay &shown = display();
    drawDataElements(shown.material.blend(), shown.material.frontDiffuse[3], shown.triangleSorting);
    endFrame();
    picking.drawSelectedPoint();
}

void GLMeshDrawing::drawDataWire()
{
    if (!model.arrays().colors || !hasSurface())
        return;
    beginFrame();
    // The coloured lines.
    glDisable(GL_BLEND);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_DEPTH_TEST);
    glShadeModel(static_cast<GLenum>(display().shadingModel));
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    element.setClippingPlanes();
    applyDoubleFace();
    glPushAttrib(GL_LINE_BIT);
    glLineWidth(display().wireSize);
    drawDataElements(display().material.wireBlend(), display().material.wireColor[3], false);
    glPopAttrib();

    // The surface under them, in the material's diffuse colour, pushed back behind the lines.
    display().material.set();
    setUnlitState(static_cast<GLenum>(display().shadingModel), GL_FILL);
    glEnable(GL_POLYGON_OFFSET_FILL);
    glPolygonOffset(1, 2);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4fv(display().material.frontDiffuse);
    drawSurface(false);
    endFrame();
    picking.drawSelectedPoint();
}

void GLMeshDrawing::drawTexture()
{
    // A mesh without texture chunks shows its plain triangles.
    if (!hasSurface() || !texturing.upload()) {
        drawTriangles();
        return;
    }
    glPushAttrib(GL_POLYGON_BIT);
    drawWireframeInFront();
    beginFrame();
    glPushAttrib(GL_TEXTURE_BIT);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, display().textureMode);
    setLitState();
    glEnable(GL_TEXTURE_2D);
    texturing.draw(display().textureFilter);
    glPopAttrib();
    endFrame();
    glPopAttrib();
    picking.drawSelectedPoint();
    picking.drawPath();
}

void GLMeshDrawing::drawTextureModulate()
{
    // The environment is part of the texture state: it is put back once drawn.
    glPushAttrib(GL_TEXTURE_BIT);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    drawTexture();
    glPopAttrib();
}

void GLMeshDrawing::drawTextureDecal()
{
    glPushAttrib(GL_TEXTURE_BIT);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_DECAL);
    drawTexture();
    glPopAttrib();
}

void GLMeshDrawing::sortTrianglesByDepth()
{
    // Called inside a drawing frame: the model-view matrix already carries the pose.
    sortTrianglesByDepth(currentToClip());
}

void GLMeshDrawing::sortTrianglesByDepth(const Matrix4 &toClip)
{
    const MeshArrays a = model.arrays();
    if (a.nTriangles <= 0)
        return;
    const size_t n = static_cast<size_t>(a.nTriangles);
    if (!sortedTriangles)
        sortedTriangles = allocateLargeArray<int>(3 * n);
    sortByDepth(a.vertices, a.triangles, n, toClip, sorter, sortedTriangles.get());
}

void GLMeshDrawing::drawShadow(float *plane, float *light, float *color)
{
    if (!hasSurface())
        return;
    element.beginShadowPass(plane, light, color);
    callShadeList();
    element.endShadowPass();
}
