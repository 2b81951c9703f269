// ctest-label: thread
#include "objects/GL3DObjectLoader.h"
#include "objects/GLMeshObject.h"

#include "math/Messages.h"

#include "support/GLTestFixture.h"
#include "support/CapturedMessages.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <memory>
#include <functional>
#include <string>
#include <vector>

namespace {

using testsupport::GLTestFixture;
using testsupport::RgbaImage;

// A sphere of radius r by latitude and longitude, counter-clockwise seen from outside.
struct Sphere {
    std::vector<float> v;
    std::vector<int> t;

    Sphere(float r, int rings, int slices)
    {
        for (int i = 0; i <= rings; ++i)
            for (int j = 0; j < slices; ++j) {
                const double theta = M_PI * i / rings, phi = 2 * M_PI * j / slices;
                v.insert(v.end(), {static_cast<float>(r * std::sin(theta) * std::cos(phi)),
                                   static_cast<float>(r * std::sin(theta) * std::sin(phi)),
                                   static_cast<float>(r * std::cos(theta))});
            }
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

class MeshDrawing : public GLTestFixture {
protected:
    void SetUp() override
    {
        GLTestFixture::SetUp();
        orthographic(1);
        // The scene manager's state: depth test, back faces culled, the first light on.
        enableState(DepthTest | CullBackFaces | FirstLight);
    }
};

TEST_F(MeshDrawing, LoadedMeshIsDrawnSmoothShaded)
{
    const Sphere sphere(0.8f, 24, 32);
    const GLMeshObject::MeshRecord record = sphere.record();
    GLMeshObject mesh(&record);
    mesh.draw();
    expectNoGLError();
    const RgbaImage image = capture();
    std::string message;
    EXPECT_TRUE(testsupport::matchesBaseline("MeshDefaultDrawing", image, message)) << message;

    // Lit from the viewer: the middle is brighter than the rim, the corners stay clear.
    EXPECT_GT(image.at(64, 64)[0], image.at(64, 15)[0] + 40);
    EXPECT_EQ(image.at(2, 2)[0], 0);
}

TEST_F(MeshDrawing, PoseIsAppliedAndEveryStateRestored)
{
    const Sphere sphere(0.3f, 12, 16);
    const GLMeshObject::MeshRecord record = sphere.record();
    GLMeshObject mesh(&record);
    Matrix4 pose = Matrix4::Identity;
    pose(0, 3) = 0.5f;
    mesh.setPose(pose);

    GLint depthBefore = 0;
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depthBefore);
    mesh.draw();
    expectNoGLError();
    GLint depthAfter = 0;
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depthAfter);
    EXPECT_EQ(depthAfter, depthBefore);
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    EXPECT_FALSE(glIsEnabled(GL_VERTEX_ARRAY));
    EXPECT_FALSE(glIsEnabled(GL_NORMAL_ARRAY));
    GLint model = 0;
    glGetIntegerv(GL_LIGHT_MODEL_TWO_SIDE, &model);
    EXPECT_EQ(model, 0);

    // Moved half a unit right: drawn about pixel 96, nothing at the centre.
    const RgbaImage image = capture();
    EXPECT_GT(image.at(96, 64)[0], 0);
    EXPECT_EQ(image.at(64, 64)[0], 0);
    EXPECT_EQ(image.at(32, 64)[0], 0);

    // A pose that also scales (an aligned reconstruction) keeps the shading: a sphere ten
    // times larger, scaled down to the same place, is lit like the first one.
    const Sphere large(3.0f, 12, 16);
    const GLMeshObject::MeshRecord largeRecord = large.record();
    GLMeshObject scaled(&largeRecord);
    Matrix4 shrink = pose;
    for (int k = 0; k < 3; ++k)
        shrink(k, k) = 0.1f;
    scaled.setPose(shrink);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    scaled.draw();
    expectNoGLError();
    EXPECT_FALSE(glIsEnabled(GL_RESCALE_NORMAL));
    const RgbaImage same = capture();
    for (int x : {88, 96, 104})
        EXPECT_NEAR(same.at(x, 64)[0], image.at(x, 64)[0], 3) << "pixel " << x;

    // An emptied mesh draws nothing and leaves no error.
    testsupport::CapturedMessages captured;
    mesh.freeData();
    captured.take();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    mesh.draw();
    expectNoGLError();
    EXPECT_EQ(capture().at(96, 64)[0], 0);
}

// Pixels of the image for which `pick` holds.
int countPixels(const RgbaImage &image, const std::function<bool(const unsigned char *)> &pick)
{
    int n = 0;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            n += pick(image.at(x, y)) ? 1 : 0;
    return n;
}

bool same(const RgbaImage &a, const RgbaImage &b) { return a.pixels == b.pixels; }

void expectBaseline(const char *name, const RgbaImage &image)
{
    std::string message;
    EXPECT_TRUE(testsupport::matchesBaseline(name, image, message)) << message;
}

// Two squares of two triangles each, facing the viewer: the first at z = 0.5 (near, given
// first), the second at z = -0.5 (far), overlapping in the middle of the view.
struct TwoSquares {
    std::vector<float> v = {-0.6f, -0.6f, 0.5f, 0.2f, -0.6f, 0.5f, 0.2f, 0.2f, 0.5f, -0.6f, 0.2f, 0.5f,
                            -0.2f, -0.2f, -0.5f, 0.6f, -0.2f, -0.5f, 0.6f, 0.6f, -0.5f, -0.2f, 0.6f, -0.5f};
    std::vector<int> t = {0, 1, 2, 0, 2, 3, 4, 5, 6, 4, 6, 7};
    GLMeshObject::MeshRecord record() const { return {8, 4, v.data(), t.data(), 0, nullptr}; }
};

TEST_F(MeshDrawing, FlatShadingAndWireFrameOverlay)
{
    const Sphere sphere(0.8f, 12, 16);
    const GLMeshObject::MeshRecord record = sphere.record();
    GLMeshObject mesh(&record);
    mesh.draw();
    const RgbaImage smooth = capture();

    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    mesh.toggleShadingModel();
    mesh.draw();
    expectNoGLError();
    const RgbaImage flat = capture();
    expectBaseline("MeshFlatShading", flat);
    EXPECT_FALSE(same(flat, smooth));
    // Flat facets: two neighbouring pixels inside one facet have the very same colour.
    EXPECT_EQ(flat.at(64, 64)[0], flat.at(65, 64)[0]);

    // The black wire frame lies over the lit surface: dark pixels appear inside the disc.
    auto darkInside = [&](const RgbaImage &img) {
        int n = 0;
        for (int y = 30; y < 98; ++y)
            for (int x = 30; x < 98; ++x)
                n += img.at(x, y)[0] < 20 ? 1 : 0;
        return n;
    };
    EXPECT_EQ(darkInside(flat), 0);
    mesh.toggleShadingModel();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    EXPECT_NE(mesh.notifyCommand('1'), 0);
    mesh.draw();
    expectNoGLError();
    const RgbaImage wire = capture();
    expectBaseline("MeshWireFrame", wire);
    EXPECT_GT(darkInside(wire), 300);
    GLint polygonMode[2] = {0, 0};
    glGetIntegerv(GL_POLYGON_MODE, polygonMode);
    EXPECT_EQ(polygonMode[0], GL_FILL);
    EXPECT_FALSE(glIsEnabled(GL_POLYGON_OFFSET_FILL));
}

TEST_F(MeshDrawing, DataColoursOpaqueAndWithWireFrame)
{
    const Sphere sphere(0.8f, 24, 32);
    std::vector<float> heights;
    for (size_t i = 1; i < sphere.v.size(); i += 3)
        heights.push_back(sphere.v[i]);
    const DataItem height("height", heights.data(), static_cast<int>(heights.size()));
    const DataItem *items[] = {&height};
    GLMeshObject::MeshRecord record = sphere.record();
    record.nDataItems = 1;
    record.dataItems = items;
    GLMeshObject mesh(&record);
    EXPECT_NE(mesh.notifyCommand('5'), 0);
    mesh.draw();
    expectNoGLError();
    const RgbaImage data = capture();
    expectBaseline("MeshDataColours", data);
    // Unlit colours of the data: top and bottom of the sphere differ, the rim is not dark.
    const unsigned char *top = data.at(64, 20), *bottom = data.at(64, 108);
    EXPECT_NE(std::vector<int>(top, top + 3), std::vector<int>(bottom, bottom + 3));
    EXPECT_GT(data.at(14, 64)[0] + data.at(14, 64)[1] + data.at(14, 64)[2], 100);
    EXPECT_FALSE(glIsEnabled(GL_COLOR_ARRAY));

    // With the wire frame: coloured lines over the grey surface of the material.
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    mesh.toggleWireFrame();
    mesh.draw();
    expectNoGLError();
    const RgbaImage wire = capture();
    expectBaseline("MeshDataWireFrame", wire);
    const int grey = countPixels(wire, [](const unsigned char *p) {
        return p[0] > 100 && p[0] == p[1] && p[1] == p[2];
    });
    EXPECT_GT(grey, 1000);
    EXPECT_FALSE(same(wire, data));
}

TEST_F(MeshDrawing, TranslucentTrianglesAreSortedBackToFront)
{
    const TwoSquares squares;
    const GLMeshObject::MeshRecord record = squares.record();
    GLMeshObject mesh(&record);
    std::vector<unsigned char> rgb = {0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0,
                                      255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0};
    ASSERT_TRUE(mesh.setColors(rgb.data(), 8));
    Material glass = Material::predefined[0];
    glass.frontDiffuse[3] = 0.5f;
    mesh.setMaterial(glass);
    mesh.notifyCommand('5');

    // In file order the near green square comes first and hides the far red one: the depth
    // test rejects what lies behind a translucent face drawn earlier.
    mesh.draw();
    expectNoGLError();
    const RgbaImage unsorted = capture();
    EXPECT_LT(unsorted.at(64, 64)[0], 8);
    EXPECT_NEAR(unsorted.at(64, 64)[1], 128, 3);

    // Sorted, the red square is blended first and shows through the green one.
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    EXPECT_TRUE(mesh.toggleTriangleSorting());
    mesh.draw();
    expectNoGLError();
    const RgbaImage sorted = capture();
    EXPECT_NEAR(sorted.at(64, 64)[0], 64, 3);
    EXPECT_NEAR(sorted.at(64, 64)[1], 128, 3);
    ASSERT_NE(mesh.getDrawing().getSortedTriangles(), nullptr);
    EXPECT_EQ(mesh.getDrawing().getSortedTriangles()[0], 4);
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    GLint source = 0;
    glGetIntegerv(GL_BLEND_SRC, &source);
    EXPECT_EQ(source, GL_ONE);

    // Lit and translucent through the triangles method, sorted the same way.
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    mesh.notifyCommand('2');
    mesh.draw();
    expectNoGLError();
    const RgbaImage lit = capture();
    expectBaseline("MeshTranslucentSorted", lit);
    // Grey over grey: the overlap is brighter than either square alone, and stays grey.
    const unsigned char *both = lit.at(64, 64), *nearOnly = lit.at(40, 90);
    EXPECT_GT(both[0], nearOnly[0] + 10);
    EXPECT_NEAR(both[0], both[1], 2);
}

TEST_F(MeshDrawing, DoubleFaceAndClippingPlanes)
{
    // One triangle turned away from the viewer: culled unless both faces are drawn.
    const std::vector<float> v = {-0.5f, -0.5f, 0, 0, 0.5f, 0, 0.5f, -0.5f, 0};
    const std::vector<int> t = {0, 1, 2};
    GLMeshObject::MeshRecord back = {3, 1, v.data(), t.data(), 0, nullptr};
    GLMeshObject away(&back);
    away.draw();
    EXPECT_EQ(capture().at(64, 70)[0], 0);
    away.toggleDoubleFace();
    away.draw();
    expectNoGLError();
    EXPECT_GT(capture().at(64, 70)[0], 0);
    EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));

    // Plane 0 keeps the half of the sphere beyond its centre along x; it stays in place
    // while the sphere moves under it.
    const Sphere sphere(0.6f, 24, 32);
    const GLMeshObject::MeshRecord record = sphere.record();
    GLMeshObject mesh(&record);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    EXPECT_NE(mesh.applyClippingSwitch(0, true), 0);
    mesh.draw();
    expectNoGLError();
    const RgbaImage clipped = capture();
    expectBaseline("MeshClippedHalf", clipped);
    EXPECT_EQ(clipped.at(44, 64)[0], 0);
    EXPECT_GT(clipped.at(84, 64)[0], 0);
    EXPECT_FALSE(glIsEnabled(GL_CLIP_PLANE0));

    Matrix4 pose = Matrix4::Identity;
    pose(0, 3) = -0.3f;
    mesh.setPose(pose);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    mesh.draw();
    const RgbaImage moved = capture();
    EXPECT_EQ(moved.at(60, 64)[0], 0);
    EXPECT_GT(moved.at(70, 64)[0], 0);
    EXPECT_EQ(moved.at(90, 64)[0], 0);
}

// A PLY file of another program: `v` and `t` with one colour on every vertex.
std::string writePly(const std::string &path, const std::vector<float> &v, const std::vector<int> &t, int r, int g, int b)
{
    std::ofstream out(path);
    out << "ply\nformat ascii 1.0\nelement vertex " << v.size() / 3
        << "\nproperty float x\nproperty float y\nproperty float z\nproperty uchar red\nproperty uchar green\n"
           "property uchar blue\nelement face "
        << t.size() / 3 << "\nproperty list uchar int vertex_indices\nend_header\n";
    for (size_t i = 0; i < v.size(); i += 3)
        out << v[i] << ' ' << v[i + 1] << ' ' << v[i + 2] << ' ' << r << ' ' << g << ' ' << b << '\n';
    for (size_t i = 0; i < t.size(); i += 3)
        out << "3 " << t[i] << ' ' << t[i + 1] << ' ' << t[i + 2] << '\n';
    return path;
}

TEST_F(MeshDrawing, FileColoursAreLitAndImportedMeshesShowBothSides)
{
    const std::string dir = testsupport::makeTempDir("MeshFileColours");
    const Sphere sphere(0.8f, 24, 32);
    testsupport::CapturedMessages captured;
    std::unique_ptr<GL3DObject> ball(GL3DObjectLoader::load(writePly(dir + "/ball.ply", sphere.v, sphere.t, 200, 100, 40).c_str()));
    ASSERT_NE(ball, nullptr);
    ball->draw();
    expectNoGLError();
    const RgbaImage lit = capture();
    // The colour times the shading: brighter towards the middle than at the rim, in its own
    // hue off the highlight.
    const unsigned char *inner = lit.at(64, 40), *outer = lit.at(64, 20);
    EXPECT_GT(inner[0], outer[0] + 40);
    EXPECT_NEAR(outer[0], 2.0 * outer[1], 3);
    EXPECT_NEAR(outer[1], 2.5 * outer[2], 3);

    // A single triangle turned away from the viewer, as modelling programs leave them.
    const std::vector<float> v = {-0.5f, -0.5f, 0, 0, 0.5f, 0, 0.5f, -0.5f, 0};
    std::unique_ptr<GL3DObject> sheet(GL3DObjectLoader::load(writePly(dir + "/sheet.ply", v, {0, 1, 2}, 90, 90, 90).c_str()));
    captured.take();
    ASSERT_NE(sheet, nullptr);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    sheet->draw();
    EXPECT_GT(capture().at(64, 70)[0], 0);
}

TEST_F(MeshDrawing, ShadowIsTheMeshFlattenedFromTheLight)
{
    const Sphere sphere(0.3f, 12, 16);
    const GLMeshObject::MeshRecord record = sphere.record();
    GLMeshObject mesh(&record);
    // A point light on the axis, ten units away; the plane z = -1 behind the sphere.
    float plane[4] = {0, 0, 1, 1}, light[4] = {0, 0, 10, 1}, colour[3] = {0.2f, 0.4f, 0.6f};
    glEnable(GL_LIGHTING);
    mesh.drawShadow(plane, light, colour);
    expectNoGLError();
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
    glDisable(GL_LIGHTING);
    const RgbaImage image = capture();
    EXPECT_NEAR(image.at(64, 64)[0], 51, 1);
    EXPECT_NEAR(image.at(64, 64)[1], 102, 1);
    EXPECT_NEAR(image.at(64, 64)[2], 153, 1);
    // Widened by 11/10 from the light: beyond the sphere's own outline at 0.3.
    EXPECT_NEAR(image.at(64 + 20, 64)[2], 153, 1);
    EXPECT_EQ(image.at(64 + 25, 64)[2], 0);
}

TEST_F(MeshDrawing, PickingVerticesAndTriangles)
{
    // A square of two triangles with corners at +-0.5: pixels 32 and 96.
    const std::vector<float> v = {-0.5f, -0.5f, 0, 0.5f, -0.5f, 0, 0.5f, 0.5f, 0, -0.5f, 0.5f, 0, 0, 0, 0};
    const std::vector<int> t = {0, 1, 4, 1, 2, 4, 2, 3, 4, 3, 0, 4};
    GLMeshObject::MeshRecord record = {5, 4, v.data(), t.data(), 0, nullptr};
    GLMeshObject mesh(&record);

    // Corners 1 (96, 96), 2 (96, 32) and the centre 4 (64, 64), in any order.
    CapturingMessageSink sink;
    ScopedMessageSink scope(sink);
    mesh.getPicking().notifyAdditionalClick(64, 64);
    mesh.getPicking().notifyAdditionalClick(96, 32);
    mesh.getPicking().notifyAdditionalClick(96, 96);
    EXPECT_EQ(sink.text(), "triangle: 1\n");
    // A click beside the mesh starts again: the two clicks before it count no more.
    sink.clear();
    mesh.getPicking().notifyAdditionalClick(32, 96);
    mesh.getPicking().notifyAdditionalClick(64, 64);
    mesh.getPicking().notifyAdditionalClick(5, 5);
    mesh.getPicking().notifyAdditionalClick(32, 32);
    mesh.getPicking().notifyAdditionalClick(32, 96);
    mesh.getPicking().notifyAdditionalClick(64, 64);
    EXPECT_EQ(sink.text(), "triangle: 3\n");

    // Selecting the centre: its one-ring is the four corners, drawn in red over the mesh.
    sink.clear();
    mesh.notifyClick(65, 63);
    EXPECT_EQ(sink.text(), "Selected vertex n:\t4,\t[0.000000 0.000000 0.000000]\n\tvalence=4\n");
    EXPECT_EQ(mesh.getSelectedVertex(), 4);
    EXPECT_EQ(mesh.getPicking().getNNeighbours(), 4);
    mesh.draw();
    expectNoGLError();
    const RgbaImage selected = capture();
    expectBaseline("MeshSelectedVertex", selected);
    const int red = countPixels(selected, [](const unsigned char *p) { return p[0] > 200 && p[1] < 60 && p[2] < 60; });
    EXPECT_GT(red, 100);
    EXPECT_FALSE(glIsEnabled(GL_BLEND));

    // A click on empty space clears the selection.
    mesh.notifyClick(5, 5);
    EXPECT_EQ(mesh.getSelectedVertex(), -1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    mesh.draw();
    EXPECT_EQ(countPixels(capture(), [](const unsigned char *p) { return p[0] > 200 && p[1] < 60; }), 0);
}

TEST_F(MeshDrawing, LegendIsShownWithDataColoursAndTheDataTextureOnly)
{
    const Sphere sphere(0.3f, 12, 16);
    std::vector<float> heights;
    for (size_t i = 2; i < sphere.v.size(); i += 3)
        heights.push_back(sphere.v[i]);
    const DataItem height("height", heights.data(), static_cast<int>(heights.size()));
    const DataItem *items[] = {&height};
    GLMeshObject::MeshRecord record = sphere.record();
    record.nDataItems = 1;
    record.dataItems = items;
    GLMeshObject mesh(&record);
    auto overlay = [&]() {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        mesh.drawInfo();
        expectNoGLError();
        return countPixels(capture(), [](const unsigned char *p) { return p[0] + p[1] + p[2] > 0; });
    };
    EXPECT_EQ(overlay(), 0);
    mesh.notifyCommand('5');
    EXPECT_GT(overlay(), 200);
    // The data texture of a sphere (no vertex grid) has its scale too.
    mesh.notifyCommand('9');
    EXPECT_GT(overlay(), 200);
    mesh.toggleLegendDrawing();
    EXPECT_EQ(overlay(), 0);
}

TEST_F(MeshDrawing, BuffersFollowTheGeometryAndTheColours)
{
    const Sphere sphere(0.3f, 12, 16);
    std::vector<float> heights;
    for (size_t i = 1; i < sphere.v.size(); i += 3)
        heights.push_back(sphere.v[i]);
    const DataItem height("height", heights.data(), static_cast<int>(heights.size()));
    const DataItem *items[] = {&height};
    GLMeshObject::MeshRecord record = sphere.record();
    record.nDataItems = 1;
    record.dataItems = items;
    GLMeshObject mesh(&record);
    EXPECT_FALSE(mesh.getDrawing().hasVertexBuffers());
    mesh.draw();
    EXPECT_TRUE(mesh.getDrawing().hasVertexBuffers());
    EXPECT_GT(capture().at(64, 64)[0], 0);

    // New colours reach the colour buffer: the data drawing shows them on the next frame.
    mesh.setDrawData();
    std::vector<unsigned char> blue(3 * heights.size(), 0);
    for (size_t i = 2; i < blue.size(); i += 3)
        blue[i] = 255;
    mesh.draw();
    ASSERT_TRUE(mesh.setColors(blue.data(), static_cast<int>(heights.size())));
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    mesh.draw();
    const RgbaImage recoloured = capture();
    EXPECT_EQ(std::vector<int>(recoloured.at(64, 64), recoloured.at(64, 64) + 3), std::vector<int>({0, 0, 255}));

    // New geometry: the old shape is not drawn from stale buffers.
    mesh.setDrawTriangles();
    Sphere moved(0.3f, 12, 16);
    for (size_t i = 0; i < moved.v.size(); i += 3)
        moved.v[i] += 0.5f;
    const GLMeshObject::MeshRecord movedRecord = moved.record();
    mesh.update(&movedRecord);
    EXPECT_FALSE(mesh.getDrawing().hasVertexBuffers());
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    mesh.draw();
    expectNoGLError();
    EXPECT_EQ(capture().at(64, 64)[0], 0);
    EXPECT_GT(capture().at(96, 64)[0], 0);
}

TEST_F(MeshDrawing, LargeMeshDrawsAStandInOnlyWhileAsked)
{
    // A 1100 x 300 grid over the square [-0.8, 0.8]^2: 657,202 triangles, above the size
    // that gets a stand-in.
    const int nx = 1100, ny = 300;
    std::vector<float> v;
    std::vector<int> t;
    for (int j = 0; j <= ny; ++j)
        for (int i = 0; i <= nx; ++i)
            v.insert(v.end(), {-0.8f + 1.6f * i / nx, -0.8f + 1.6f * j / ny, 0});
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            const int a = j * (nx + 1) + i, b = a + 1, c = a + nx + 2, d = a + nx + 1;
            t.insert(t.end(), {a, b, c, a, c, d});
        }
    const GLMeshObject::MeshRecord record = {static_cast<int>(v.size() / 3), static_cast<int>(t.size() / 3), v.data(),
                                             t.data(), 0, nullptr};
    GLMeshObject mesh(&record);
    ASSERT_GT(mesh.getArrays().nTriangles, GLMeshDrawing::kReduceAbove);
    mesh.draw();
    const RgbaImage full = capture();

    const FrameContext drag = FrameContext::of(FrameContext::Kind::Reduced);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    mesh.draw(drag);
    EXPECT_TRUE(mesh.getReducedDrawing());
    // Until the stand-in is there, a fixed subset of the triangles.
    EXPECT_LE(mesh.getDrawing().getDrawnTriangles(), GLMeshDrawing::kReducedTriangles + 1);
    ASSERT_TRUE(mesh.getDrawing().waitForReducedMesh());
    EXPECT_LE(mesh.getDrawing().getDrawnTriangles(), GLMeshDrawing::kReducedTriangles * 5 / 4);
    EXPECT_GT(mesh.getDrawing().getDrawnTriangles(), 1000);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    mesh.draw(drag);
    expectNoGLError();
    // The stand-in covers the same square, lit the same way, facing the viewer.
    const RgbaImage reduced = capture();
    EXPECT_GT(reduced.at(64, 64)[0], 0);
    EXPECT_EQ(reduced.at(2, 2)[0], 0);
    EXPECT_NEAR(reduced.at(40, 40)[0], full.at(40, 40)[0], 2);

    // Off again: the whole mesh, and its shadow, from its buffers.
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    mesh.draw();
    EXPECT_EQ(mesh.getDrawing().getDrawnTriangles(), mesh.getArrays().nTriangles);
    EXPECT_TRUE(same(capture(), full));
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    float plane[4] = {0, 0, 1, 1}, light[4] = {0, 0, 10, 0}, colour[3] = {0, 0, 1};
    mesh.drawShadow(plane, light, colour);
    expectNoGLError();
    EXPECT_GT(capture().at(64, 60)[2], 200);

    // A small mesh never asks for one.
    const Sphere sphere(0.3f, 12, 16);
    const GLMeshObject::MeshRecord small = sphere.record();
    GLMeshObject smallMesh(&small);
    smallMesh.draw(drag);
    EXPECT_FALSE(smallMesh.getReducedDrawing());
}

} // namespace
