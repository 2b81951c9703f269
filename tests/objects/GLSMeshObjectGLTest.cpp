#include "objects/GLSMeshObject.h"

#include "math/Messages.h"
#include "objects/GL3DObjectLoader.h"
#include "support/GLTestFixture.h"
#include "support/Process.h"
#include "support/CapturedMessages.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using testsupport::GLTestFixture;
using testsupport::RgbaImage;

// The sample simplex mesh (dual to the triangulated sample torus), opened through the
// loader as the viewer opens it, seen from above.
class SimplexDrawing : public GLTestFixture {
protected:
    void SetUp() override
    {
        GLTestFixture::SetUp();
        const std::string dir = testsupport::makeTempDir("SimplexDrawing");
        const auto r = testsupport::runProcess({std::string(VELMORA_BINARY_DIR) + "/make_sample_cloud", dir, "48", "16"});
        ASSERT_EQ(r.exitStatus, 0) << r.err;
        path = dir + "/simplex.tri";
        testsupport::CapturedMessages captured;
        mesh.reset(dynamic_cast<GLSMeshObject *>(GL3DObjectLoader::load(path.c_str())));
        printed = captured.take();
        ASSERT_NE(mesh, nullptr) << printed;

        orthographic(4.8);
        enableState(DepthTest | CullBackFaces | FirstLight);
    }
    RgbaImage draw()
    {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        mesh->draw();
        expectNoGLError();
        return capture();
    }

    std::string path, printed;
    std::unique_ptr<GLSMeshObject> mesh;
};

TEST_F(SimplexDrawing, ARefusedTriangleMeshOpensAsSimplexMeshAndDrawsItsDualSurface)
{
    EXPECT_NE(printed.find("is no triangle mesh (wrong mesh type), trying a simplicial mesh\n"), std::string::npos);
    EXPECT_NE(printed.find("1536 triangles, 1536 vertex\n"), std::string::npos);
    // The dual of the dual: one face a grid vertex, one dual triangle a simplex vertex.
    EXPECT_EQ(mesh->getNDualVertices(), 48 * 16);
    const RgbaImage shaded = draw();
    std::string message;
    EXPECT_TRUE(testsupport::matchesBaseline("SimplexDualSurface", shaded, message)) << message;
    // The ring is lit from the front (outward faces kept by culling); its hole and the
    // corners stay dark.
    EXPECT_GT(shaded.at(64, 20)[0] + shaded.at(64, 20)[1] + shaded.at(64, 20)[2], 60);
    EXPECT_EQ(shaded.at(64, 64)[0], 0);
    EXPECT_EQ(shaded.at(2, 2)[0], 0);
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    EXPECT_FALSE(glIsEnabled(GL_VERTEX_ARRAY));

    mesh->notifyCommand('1');
    EXPECT_TRUE(testsupport::matchesBaseline("SimplexWireFrame", draw(), message)) << message;
    mesh->notifyCommand('1');
    mesh->notifyCommand('7');
    const RgbaImage data = draw();
    EXPECT_TRUE(testsupport::matchesBaseline("SimplexData", data, message)) << message;
    mesh->notifyCommand('6');
    draw();
}

TEST_F(SimplexDrawing, AClickSelectsAVertexAndItsData)
{
    draw();
    // Find a pixel over a simplex vertex: project vertex 0.
    const float *v = mesh->getVertices();
    const int x = static_cast<int>(64 + v[0] / 4.8f * 64), y = static_cast<int>(127 - (64 + v[1] / 4.8f * 64));
    CapturingMessageSink said;
    {
        ScopedMessageSink scope(said);
        mesh->notifyClick(x, y);
    }
    const std::string out = said.text(MessageLevel::Note);
    EXPECT_EQ(said.text(), out);
    ASSERT_GE(mesh->getSelectedVertex(), 0);
    EXPECT_EQ(out.rfind("Selected vertex n:\t" + std::to_string(mesh->getSelectedVertex()) + "\n\t", 0), 0u) << out;
    EXPECT_NE(out.find("height"), std::string::npos) << out;
    const Point3 o = mesh->getOrigin();
    const float *s = mesh->getVertices() + 3 * mesh->getSelectedVertex();
    EXPECT_EQ(o, Point3(s[0], s[1], s[2]));
    // Moved, it turns the view about the moved vertex.
    Matrix4 moved = Matrix4::Identity;
    moved(0, 3) = 2;
    mesh->setPose(moved);
    EXPECT_NEAR((mesh->getOrigin() - Point3(s[0] + 2, s[1], s[2])).norm(), 0, 1e-5f);
}

} // namespace
