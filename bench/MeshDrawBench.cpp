// Drawing meshes in the off-screen context (Mesa; llvmpipe on a machine without a GPU).
//
// Redraw, 2,000,000 triangles, 1024 x 1024, lit (two-sided, as the material sets it), back
// faces culled, smooth shaded:
//   BareVertexBufferFrame  the baseline: the same vertices, normals and indices in buffer
//                          objects of the driver, the same material, light, culling and
//                          shading, one glDrawElements call, nothing else. It is the
//                          fastest honest way to draw the same triangles into the same kind
//                          of memory (driver buffers) with the fixed-function pipeline.
//   MeshShadedFrame        the mesh's own shaded drawing (GLMeshDrawing::drawShade), its
//                          buffers already filled. (On llvmpipe the mesh reads its indices
//                          in place and flushes every 32,768 triangles, to bound the
//                          renderer's memory; the baseline keeps its indices in a buffer
//                          and draws in one call, as the plain way to do it.)
// First frames, per size class (100,000 and 2,000,000 triangles): the geometry has just
// changed, so the frame includes filling the buffers:
//   BareFirstFrame/N       glBufferData of the three arrays, then the bare frame above.
//   MeshFirstFrame/N       GLMeshDrawing::drawShade right after GLMeshObject::update.
// Dragging, 8,000,000 triangles, 512 x 512, the view turning a little every frame:
//   MeshFullFrame8M        the whole mesh, as before any reduction.
//   MeshDragFrame8M        the reduced stand-in that a drag of a large scene draws.
//   MeshReduction8M        building the stand-in (done once, in the background, in the viewer).
// Frames end with glFinish, so the times are whole frames; wall-clock time.
//   build/bench/MeshDrawBench [--benchmark_filter=...]
#define GL_GLEXT_PROTOTYPES 1
#include "render/OffscreenContext.h"
#include "objects/GLMeshObject.h"
#include "objects/MeshReduction.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// A sphere of `rings` by `slices` quads: 2 x rings x slices triangles, counter-clockwise
// seen from outside.
struct Sphere {
    std::vector<float> v;
    std::vector<int> t;
    Sphere(int rings, int slices)
    {
        v.reserve(3 * static_cast<size_t>(rings + 1) * slices);
        for (int i = 0; i <= rings; ++i)
            for (int j = 0; j < slices; ++j) {
                const double theta = M_PI * i / rings, phi = 2 * M_PI * j / slices;
                v.insert(v.end(), {static_cast<float>(0.8 * std::sin(theta) * std::cos(phi)),
                                   static_cast<float>(0.8 * std::sin(theta) * std::sin(phi)),
                                   static_cast<float>(0.8 * std::cos(theta))});
            }
        t.reserve(6 * static_cast<size_t>(rings) * slices);
        for (int i = 0; i < rings; ++i)
            for (int j = 0; j < slices; ++j) {
                const int a = i * slices + j, b = i * slices + (j + 1) % slices;
                const int c = (i + 1) * slices + (j + 1) % slices, d = (i + 1) * slices + j;
                t.insert(t.end(), {a, d, c, a, c, b});
            }
    }
    GLMeshObject::MeshRecord record() const
    {
        return {static_cast<int>(v.size() / 3), static_cast<int>(t.size() / 3), v.data(), t.data(), 0, nullptr};
    }
};

// The scene manager's state: an orthographic view of the unit box, depth test, back faces
// culled, the first light on.
void setUpView()
{
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-1, 1, -1, 1, -10, 10);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    glEnable(GL_LIGHT0);
}

struct Context {
    OffscreenContext context;
    bool ok = false;
    explicit Context(int size)
    {
        ok = context.create(size, size);
        if (!ok)
            std::fprintf(stderr, "MeshDrawBench: %s\n", context.error().c_str());
        else
            setUpView();
    }
    bool use() { return ok && context.makeCurrent(); }
};

Context &large()
{
    static Context c(1024);
    return c;
}

Context &small()
{
    static Context c(512);
    return c;
}

// Meshes, made on first use (a mesh keeps its buffers in the context that first drew it).
struct Meshes {
    std::unique_ptr<Sphere> sphere2m;
    std::unique_ptr<GLMeshObject> mesh2m, mesh8m;
    GLMeshObject &get2m()
    {
        if (!mesh2m) {
            sphere2m = std::make_unique<Sphere>(1000, 1000);
            const GLMeshObject::MeshRecord r = sphere2m->record();
            mesh2m = std::make_unique<GLMeshObject>(&r);
        }
        return *mesh2m;
    }
    GLMeshObject &get8m()
    {
        if (!mesh8m) {
            const Sphere sphere(2000, 2000);
            const GLMeshObject::MeshRecord r = sphere.record();
            mesh8m = std::make_unique<GLMeshObject>(&r);
        }
        return *mesh8m;
    }
};

Meshes &meshes()
{
    static Meshes m;
    return m;
}

// The bare frame's three buffers.
struct BareBuffers {
    GLuint names[3] = {0, 0, 0};
    GLsizei count = 0;
    BareBuffers() { glGenBuffers(3, names); }
    ~BareBuffers() { glDeleteBuffers(3, names); }
    void fill(const GLMeshObject &m)
    {
        const MeshArrays a = m.getArrays();
        const size_t nv = static_cast<size_t>(a.nVertices), ni = 3 * static_cast<size_t>(a.nTriangles);
        glBindBuffer(GL_ARRAY_BUFFER, names[0]);
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(nv * 3 * sizeof(float)), a.vertices,
                     GL_STATIC_DRAW);
        glBindBuffer(GL_ARRAY_BUFFER, names[1]);
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(nv * sizeof(Point3)), a.normals,
                     GL_STATIC_DRAW);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, names[2]);
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(ni * sizeof(int)), a.triangles,
                     GL_STATIC_DRAW);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        count = static_cast<GLsizei>(ni);
    }
    // The state of the mesh's shaded drawing, set once: material (two-sided lighting),
    // lighting, smooth shading, filled polygons, back faces culled.
    static void beginState(const GLMeshObject &m)
    {
        glPushAttrib(GL_ENABLE_BIT | GL_LIGHTING_BIT | GL_POLYGON_BIT | GL_CURRENT_BIT | GL_COLOR_BUFFER_BIT);
        m.getDisplay().material.set();
        glEnable(GL_DEPTH_TEST);
        glEnable(GL_CULL_FACE);
        glEnable(GL_LIGHTING);
        glShadeModel(GL_SMOOTH);
        glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    }
    void frame() const
    {
        glBindBuffer(GL_ARRAY_BUFFER, names[0]);
        glVertexPointer(3, GL_FLOAT, 0, nullptr);
        glBindBuffer(GL_ARRAY_BUFFER, names[1]);
        glNormalPointer(GL_FLOAT, sizeof(Point3), nullptr);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_NORMAL_ARRAY);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, names[2]);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glDrawElements(GL_TRIANGLES, count, GL_UNSIGNED_INT, nullptr);
        glFinish();
        glDisableClientState(GL_VERTEX_ARRAY);
        glDisableClientState(GL_NORMAL_ARRAY);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    }
};

void BareVertexBufferFrame(benchmark::State &state)
{
    if (!large().use()) {
        state.SkipWithError("no off-screen context");
        return;
    }
    const GLMeshObject &m = meshes().get2m();
    BareBuffers buffers;
    buffers.fill(m);
    BareBuffers::beginState(m);
    buffers.frame();
    for (auto _ : state)
        buffers.frame();
    glPopAttrib();
    state.SetItemsProcessed(state.iterations() * m.getArrays().nTriangles);
}

void MeshShadedFrame(benchmark::State &state)
{
    if (!large().use()) {
        state.SkipWithError("no off-screen context");
        return;
    }
    GLMeshObject &m = meshes().get2m();
    m.getDrawing().drawShade(); // fills the buffers
    for (auto _ : state) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        m.getDrawing().drawShade();
        glFinish();
    }
    state.SetItemsProcessed(state.iterations() * m.getArrays().nTriangles);
}

// Sphere sides for the size classes: 224 x 224 quads is 100,352 triangles.
int sidesFor(int64_t triangles) { return static_cast<int>(std::lround(std::sqrt(triangles / 2.0))); }

void BareFirstFrame(benchmark::State &state)
{
    if (!large().use()) {
        state.SkipWithError("no off-screen context");
        return;
    }
    const int side = sidesFor(state.range(0));
    const Sphere sphere(side, side);
    const GLMeshObject::MeshRecord r = sphere.record();
    const GLMeshObject m(&r);
    for (auto _ : state) {
        auto buffers = std::make_unique<BareBuffers>();
        buffers->fill(m);
        BareBuffers::beginState(m);
        buffers->frame();
        glPopAttrib();
        // Deleting them is not part of the frame (the mesh deletes its own in update()).
        state.PauseTiming();
        buffers.reset();
        glFinish();
        state.ResumeTiming();
    }
    state.counters["triangles"] = m.getArrays().nTriangles;
}

void MeshFirstFrame(benchmark::State &state)
{
    if (!large().use()) {
        state.SkipWithError("no off-screen context");
        return;
    }
    const int side = sidesFor(state.range(0));
    const Sphere sphere(side, side);
    const GLMeshObject::MeshRecord r = sphere.record();
    GLMeshObject m(&r);
    for (auto _ : state) {
        // New geometry (the same triangles again): the next frame fills the buffers.
        state.PauseTiming();
        m.update(&r);
        glFinish();
        state.ResumeTiming();
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        m.getDrawing().drawShade();
        glFinish();
    }
    state.counters["triangles"] = m.getArrays().nTriangles;
}

// One frame of a drag: the view turns by a small angle each time.
void dragFrames(benchmark::State &state, GLMeshObject &m, const FrameContext &frame)
{
    float angle = 0;
    for (auto _ : state) {
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glRotatef(angle += 2, 0.3f, 1, 0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        m.draw(frame);
        glFinish();
    }
    glLoadIdentity();
    state.counters["drawn triangles"] = m.getDrawing().getDrawnTriangles();
}

void MeshFullFrame8M(benchmark::State &state)
{
    if (!small().use()) {
        state.SkipWithError("no off-screen context");
        return;
    }
    GLMeshObject &m = meshes().get8m();
    m.draw();
    dragFrames(state, m, FrameContext());
}

void MeshDragFrame8M(benchmark::State &state)
{
    if (!small().use()) {
        state.SkipWithError("no off-screen context");
        return;
    }
    GLMeshObject &m = meshes().get8m();
    const FrameContext drag = FrameContext::of(FrameContext::Kind::Reduced);
    m.draw(drag); // starts the stand-in
    if (!m.getDrawing().waitForReducedMesh()) {
        state.SkipWithError("no reduced mesh");
        return;
    }
    m.draw(drag); // fills the stand-in's buffers
    dragFrames(state, m, drag);
}

void MeshReduction8M(benchmark::State &state)
{
    GLMeshObject &m = meshes().get8m();
    for (auto _ : state) {
        ReducedMesh out;
        const MeshArrays a = m.getArrays();
        reduceMesh(a.vertices, a.nVertices, a.triangles, a.nTriangles, a.normals,
                   GLMeshDrawing::kReducedTriangles, nullptr, out);
        state.counters["triangles"] = out.nTriangles();
    }
}

BENCHMARK(BareVertexBufferFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(MeshShadedFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BareFirstFrame)->Arg(100000)->Arg(2000000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(MeshFirstFrame)->Arg(100000)->Arg(2000000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(MeshFullFrame8M)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(MeshDragFrame8M)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(MeshReduction8M)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace

BENCHMARK_MAIN();
