#include "objects/GL3DObject.h"

#include "math/Messages.h"
#include "support/GLTestFixture.h"
#include "support/TestObject.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace {

using testsupport::GLTestFixture;
using testsupport::RgbaImage;
using testsupport::TestObject;

class GL3DObjectGL : public GLTestFixture {
protected:
    void lookFromFront(float half = 2) { orthographic(half); }
};

Point3 transform(const Matrix4 &m, const Point3 &p) { return m * p; }

TEST_F(GL3DObjectGL, DragRotationTurnsAboutTheBoxCentre)
{
    lookFromFront();
    std::unique_ptr<TestObject> o(TestObject::box(Point3(1, 1, 1), Point3(3, 5, 7)));
    const Point3 origin = o->getOrigin();

    o->backupPosition();
    o->setRotation(0, 0);
    EXPECT_EQ(transform(o->getPose(), Point3(9, 8, 7)), Point3(9, 8, 7));

    o->setRotation(static_cast<float>(M_PI) / 2, 0);
    const Point3 moved = o->getOrigin();
    EXPECT_NEAR(moved.x, origin.x, 1e-4);
    EXPECT_NEAR(moved.y, origin.y, 1e-4);
    EXPECT_NEAR(moved.z, origin.z, 1e-4);
    // A quarter turn about the screen's vertical axis takes the x offset into z.
    const Point3 corner = transform(o->getPose(), o->getCenter() + Point3(1, 0, 0));
    EXPECT_NEAR(corner.x, origin.x, 1e-4);
    EXPECT_NEAR(std::fabs(corner.z - origin.z), 1, 1e-4);
    EXPECT_NEAR(corner.y, origin.y, 1e-4);

    // Rotations of one drag are relative to its start, not accumulated.
    o->setRotation(static_cast<float>(M_PI) / 2, 0);
    const Point3 again = transform(o->getPose(), o->getCenter() + Point3(1, 0, 0));
    EXPECT_NEAR(again.z, corner.z, 1e-4);

    o->resetPosition();
    EXPECT_EQ(transform(o->getPose(), Point3(1, 2, 3)), Point3(1, 2, 3));
}

TEST_F(GL3DObjectGL, ScreenAndDepthTranslation)
{
    lookFromFront();
    std::unique_ptr<TestObject> o(TestObject::box(Point3(0, 0, 0), Point3(1, 1, 1)));
    o->backupPosition();
    o->setPosition(0, 0);
    EXPECT_EQ(o->getOrigin(), Point3(0.5f, 0.5f, 0.5f));
    o->setPosition(10, 0);
    EXPECT_NEAR(o->getOrigin().x, 0.4f, 1e-6);
    o->setPosition(0, 10);
    EXPECT_NEAR(o->getOrigin().y, 0.6f, 1e-6);
    o->setPosition(2.0f);
    EXPECT_NEAR(o->getOrigin().z, 0.7f, 1e-6);

    // With the view turned a quarter about y, the screen's x axis is the object's z axis.
    glRotatef(90, 0, 1, 0);
    o->resetPosition();
    o->setPosition(10, 0);
    EXPECT_NEAR(o->getOrigin().z, 0.4f, 1e-5);
    EXPECT_NEAR(o->getOrigin().x, 0.5f, 1e-5);
}

TEST_F(GL3DObjectGL, PickingPrefersTheVertexNearerToTheViewer)
{
    lookFromFront();
    // Two vertices at the same screen position (the centre), one nearer to the viewer.
    TestObject o({0, 0, -1, 0, 0, 1, 1.5f, 1.5f, 0});
    const int c = kSize / 2;
    EXPECT_EQ(o.getVertex(c, c - 1), 1);
    EXPECT_EQ(o.getVertex(c + 3, c + 2), 1);
    EXPECT_EQ(o.getVertex(c + 5, c), -1);
    // (1.5, 1.5) lies at pixel (112, 16) with y counted from the top.
    EXPECT_EQ(o.getVertex(112, 15), 2);

    TestObject empty({});
    EXPECT_EQ(empty.getVertex(c, c), -1);
}

TEST_F(GL3DObjectGL, DrawRunsTheBannerUntilAMethodIsChosenAndStillDrawsBoxAndAxes)
{
    lookFromFront(3);
    std::unique_ptr<TestObject> o(TestObject::box(Point3(-1, -1, -1), Point3(1, 1, 1)));
    o->toggleBoundingBox();
    CapturingMessageSink said;
    ScopedMessageSink scope(said);
    o->draw();
    EXPECT_EQ(said.text(MessageLevel::Warning), "GL3DObject::function not implemented\n");
    expectNoGLError();
    const RgbaImage img = capture();
    EXPECT_EQ(img.at(64, 64)[0], 0);

    o->useSurface();
    said.clear();
    o->draw();
    EXPECT_EQ(said.text(), "");
    EXPECT_EQ(o->surfaceDraws, 1);
}

TEST_F(GL3DObjectGL, BoundingBoxWithAxesMatchesBaseline)
{
    glClearColor(0.75f, 0.75f, 0.75f, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    lookFromFront(2.5f);
    glRotatef(25, 1, 0, 0);
    glRotatef(-35, 0, 1, 0);
    std::unique_ptr<TestObject> o(TestObject::box(Point3(-1, -0.5f, -0.75f), Point3(1, 0.5f, 0.75f)));
    o->useSurface();
    o->toggleBoundingBox();
    o->toggleAxes();
    // Only the box and the axes: the chosen drawing method draws nothing of its own.
    o->setDrawMethod(static_cast<GL3DObject::DrawMethod>(&GL3DObject::drawInfo));
    o->draw();
    expectNoGLError();
    std::string message;
    EXPECT_TRUE(testsupport::matchesBaseline("BoundingBoxAxes", capture(), message)) << message;
}

TEST_F(GL3DObjectGL, DepthBufferModeShadesTheDepthMap)
{
    glClearColor(0.75f, 0.75f, 0.75f, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    lookFromFront(1.2f);
    glEnable(GL_DEPTH_TEST);
    std::unique_ptr<TestObject> o(TestObject::sphere(1, 48));
    o->setDrawDepthBuffer();
    o->draw();
    expectNoGLError();
    const RgbaImage img = capture();

    // The background stays as it was (depth 1 is transparent) ...
    EXPECT_EQ(img.at(2, 2)[0], 191);
    EXPECT_EQ(img.at(2, 2)[1], 191);
    // ... the sphere faces the light in its middle and turns away towards its rim.
    const int centre = img.at(64, 64)[0];
    EXPECT_GT(centre, 200);
    EXPECT_LT(img.at(64 + 44, 64)[0], centre - 40);
    // Grey shading: the three channels agree.
    EXPECT_EQ(img.at(64, 64)[0], img.at(64, 64)[2]);

    std::string message;
    EXPECT_TRUE(testsupport::matchesBaseline("DepthBufferSphere", img, message)) << message;
}

TEST_F(GL3DObjectGL, DepthBufferModeWithoutAPlainDrawingDoesNotRecurse)
{
    lookFromFront();
    class Bare : public GL3DObject {
    public:
        Bare() : GL3DObject(GLObject::GRAPH) {}
    } bare;
    bare.setDrawDepthBuffer();
    bare.draw();   // must return, drawing nothing
    expectNoGLError();
    EXPECT_EQ(capture().at(64, 64)[0], 0);
}

TEST_F(GL3DObjectGL, EnabledClippingPlaneCutsTheObject)
{
    lookFromFront();
    std::unique_ptr<TestObject> o(TestObject::box(Point3(-1, -1, -1), Point3(1, 1, 1)));
    o->useSurface();
    o->enableClippingPlane(0, true);   // keeps x >= 0
    o->draw();
    expectNoGLError();
    const RgbaImage img = capture();
    EXPECT_GT(img.at(64 + 20, 64)[0], 200);
    EXPECT_EQ(img.at(64 - 20, 64)[0], 0);
}

} // namespace
