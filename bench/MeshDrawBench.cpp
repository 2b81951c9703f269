// One shaded frame of a mesh of 2,000,000 triangles in the off-screen context (1024 x 1024,
// lit, back faces culled): the mesh's own shaded drawing against a bare glDrawElements frame
// of the same arrays from vertex buffers, with the same state.
#define GL_GLEXT_PROTOTYPES 1
#include "render/OffscreenContext.h"
#include "objects/GLMeshObject.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr int kSize = 1024;

// A sphere of 1000 rings by 1000 slices: 2,000,000 triangles.
struct BigSphere {
    std::vector<float> v;
    std::vector<int> t;
    BigSphere()
    {
        const int rings = 1000, slices = 1000;
        for (int i = 0; i <= rings; ++i)
            for (int j = 0; j < slices; ++j) {
                const double theta = M_PI * i / rings, phi = 2 * M_PI * j / slices;
                v.insert(v.end(), {static_cast<float>(0.8 * std::sin(theta) * std::cos(phi)),
                                   static_cast<float>(0.8 * std::sin(theta) * std::sin(phi)),
                                   static_cast<float>(0.8 * std::cos(theta))});
            }
        for (int i = 0; i < rings; ++i)
            for (int j = 0; j < slices; ++j) {
                const int a = i * slices + j, b = i * slices + (j + 1) % slices;
                const int c = (i + 1) * slices + (j + 1) % slices, d = (i + 1) * slices + j;
                t.insert(t.end(), {a, d, c, a, c, b});
            }
    }
};

struct Scene {
    OffscreenContext context;
    BigSphere sphere;
    GLMeshObject *mesh = nullptr;
    bool ok = false;
    Scene()
    {
        if (!context.create(kSize, kSize)) {
            std::fprintf(stderr, "MeshDrawBench: %s\n", context.error().c_str());
            return;
        }
        const GLMeshObject::MeshRecord record = {static_cast<int>(sphere.v.size() / 3),
                                                 static_cast<int>(sphere.t.size() / 3),
                                                 sphere.v.data(), sphere.t.data(), 0, nullptr};
        mesh = new GLMeshObject(&record);
        glMatrixMode(GL_PROJECTION);
        glOrtho(-1, 1, -1, 1, -10, 10);
        glMatrixMode(GL_MODELVIEW);
        glEnable(GL_DEPTH_TEST);
        glEnable(GL_CULL_FACE);
        glEnable(GL_LIGHT0);
        ok = true;
    }
};

Scene &scene()
{
    static Scene s;
    return s;
}

void MeshShadedFrame(benchmark::State &state)
{
    Scene &s = scene();
    if (!s.ok) {
        state.SkipWithError("no off-screen context");
        return;
    }
    for (auto _ : state) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        s.mesh->drawShade();
        glFinish();
    }
    state.SetItemsProcessed(state.iterations() * s.mesh->getNTriangles());
}

// The baseline: the same vertices, normals and indices in buffers on the driver's side.
void BareVertexBufferFrame(benchmark::State &state)
{
    Scene &s = scene();
    if (!s.ok) {
        state.SkipWithError("no off-screen context");
        return;
    }
    const GLMeshObject &m = *s.mesh;
    const size_t nv = static_cast<size_t>(m.getNVertices()), ni = 3 * static_cast<size_t>(m.getNTriangles());
    GLuint buffers[3];
    glGenBuffers(3, buffers);
    glBindBuffer(GL_ARRAY_BUFFER, buffers[0]);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(nv * 3 * sizeof(float)), m.getVertices(), GL_STATIC_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, buffers[1]);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(nv * sizeof(Point3)), m.getNormals(), GL_STATIC_DRAW);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffers[2]);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(ni * sizeof(int)), m.getTriangles(), GL_STATIC_DRAW);

    glPushAttrib(GL_ENABLE_BIT | GL_LIGHTING_BIT | GL_POLYGON_BIT | GL_CURRENT_BIT | GL_COLOR_BUFFER_BIT);
    m.getMaterial().set();
    glEnable(GL_LIGHTING);
    glShadeModel(GL_SMOOTH);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glBindBuffer(GL_ARRAY_BUFFER, buffers[0]);
    glVertexPointer(3, GL_FLOAT, 0, nullptr);
    glBindBuffer(GL_ARRAY_BUFFER, buffers[1]);
    glNormalPointer(GL_FLOAT, sizeof(Point3), nullptr);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    for (auto _ : state) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(ni), GL_UNSIGNED_INT, nullptr);
        glFinish();
    }
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
    glPopAttrib();
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    glDeleteBuffers(3, buffers);
    state.SetItemsProcessed(state.iterations() * m.getNTriangles());
}

BENCHMARK(BareVertexBufferFrame)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(MeshShadedFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
