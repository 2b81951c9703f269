#include "objects/GLMeshObject.h"

#include "support/GLTestFixture.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>
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
        glMatrixMode(GL_PROJECTION);
        glOrtho(-1, 1, -1, 1, -10, 10);
        glMatrixMode(GL_MODELVIEW);
        // The scene manager's state: depth test, back faces culled, the first light on.
        glEnable(GL_DEPTH_TEST);
        glEnable(GL_CULL_FACE);
        glEnable(GL_LIGHT0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
};

TEST_F(MeshDrawing, LoadedMeshIsDrawnSmoothShadedThroughItsDefaultMethod)
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

    // An emptied mesh draws nothing and leaves no error.
    testing::internal::CaptureStdout();
    mesh.freeData();
    testing::internal::GetCapturedStdout();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    mesh.draw();
    expectNoGLError();
    EXPECT_EQ(capture().at(96, 64)[0], 0);
}

} // namespace
