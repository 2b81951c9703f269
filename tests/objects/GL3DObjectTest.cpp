#include "objects/GL3DObject.h"

#include "math/Messages.h"
#include "objects/GLGraphObject.h"
#include "objects/GLMeshObject.h"
#include "objects/GLOctreeObject.h"
#include "objects/GLVolumeObject.h"
#include "support/CapturedMessages.h"
#include "support/MeshBytes.h"
#include "support/ImageCompare.h"
#include "support/TestObject.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

namespace {

using testsupport::TestObject;

class EmptyObject : public GL3DObject {
public:
    EmptyObject() : GL3DObject(GLObject::OCTREE) {}
};

TEST(GL3DObject, FreshObjectHasIdentityPoseAndNoBox)
{
    EmptyObject o;
    EXPECT_TRUE(o.is3DObject());
    EXPECT_EQ(o.getType(), GLObject::OCTREE);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            EXPECT_EQ(o.getPose()(i, j), i == j ? 1.f : 0.f);
    EXPECT_EQ(o.getBBMin().x, -std::numeric_limits<float>::infinity());
    EXPECT_EQ(o.getBBMax().x, std::numeric_limits<float>::infinity());

    CapturingMessageSink said;
    ScopedMessageSink scope(said);
    EXPECT_EQ(o.getMaxRadius(), 0.f);
    o.reload();
    EXPECT_EQ(said.text(MessageLevel::Warning), "GL3DObject::bounding box variables not initialized\n"
                                                "GL3DObject: reload method not implemented\n");
    // Nothing consumes keys or commands in the base class.
    EXPECT_EQ(o.notifyKey('a'), 0);
    EXPECT_EQ(o.notifyCommand(6000), 0);
}

TEST(GL3DObject, BoxRadiusExtentsAndClippingPlanes)
{
    std::unique_ptr<TestObject> o(TestObject::box(Point3(0, 0, 0), Point3(2, 4, 6)));
    EXPECT_EQ(o->getCenter(), Point3(1, 2, 3));
    EXPECT_FLOAT_EQ(o->getMaxRadius(), std::sqrt(56.f) / 2);

    EXPECT_FLOAT_EQ(o->getMaxIntoDirection(Point3(0, 0, 5)), 6);
    EXPECT_FLOAT_EQ(o->getMinIntoDirection(Point3(0, 0, 5)), 0);
    EXPECT_FLOAT_EQ(o->getMaxIntoDirection(Point3(1, 1, 0)), 6 / std::sqrt(2.f));
    EXPECT_FLOAT_EQ(o->getMinIntoDirection(Point3(-1, 0, 0)), -2);

    double plane[4];
    EXPECT_EQ(o->getClippingPlane(plane, 1), 0);
    EXPECT_THAT(plane, testing::ElementsAre(0, 1, 0, -2));
    o->getClippingPlane(plane, 5);
    EXPECT_THAT(plane, testing::ElementsAre(0, 0, -1, 3));
    o->getClippingPlane(plane, 3);
    EXPECT_THAT(plane, testing::ElementsAre(-1, 0, 0, 1));

    // Enabling survives a reset; only the equations are recomputed.
    o->enableClippingPlane(2, true);
    o->resetClippingPlanes();
    EXPECT_EQ(o->getClippingPlane(plane, 2), 1);
    EXPECT_EQ(o->getClippingPlane(plane, 6), 0);
    EXPECT_EQ(o->getClippingPlane(plane, -1), 0);

    // The rotation-axis plane crosses the middle of the extent along the axis.
    o->setRotationAxis(Point3(0, 1, 0));
    o->getClippingPlane(plane, 0);
    EXPECT_THAT(plane, testing::ElementsAre(0, -1, 0, 2));
}

TEST(GL3DObject, ShadowMatrixFlattensOntoThePlaneAlongTheLight)
{
    const float plane[4] = {0, 1, 0, 0};
    const float light[4] = {0, 10, 0, 1};
    float m[16];
    GL3DObject::MakeShadowMatrix(plane, light, m);
    const float p[4] = {1, 5, 1, 1};
    float q[4];
    for (int r = 0; r < 4; ++r)
        q[r] = m[r] * p[0] + m[4 + r] * p[1] + m[8 + r] * p[2] + m[12 + r] * p[3];
    EXPECT_FLOAT_EQ(q[1] / q[3], 0);
    // Seen from a light straight above, the point keeps its x and z.
    EXPECT_FLOAT_EQ(q[0] / q[3], 2);
    EXPECT_FLOAT_EQ(q[2] / q[3], 2);

    // A light off to the side throws the shadow away from it.
    const float side[4] = {-4, 4, 0, 1};
    GL3DObject::MakeShadowMatrix(plane, side, m);
    const float top[4] = {0, 2, 0, 1};
    for (int r = 0; r < 4; ++r)
        q[r] = m[r] * top[0] + m[4 + r] * top[1] + m[8 + r] * top[2] + m[12 + r] * top[3];
    EXPECT_FLOAT_EQ(q[1] / q[3], 0);
    EXPECT_FLOAT_EQ(q[0] / q[3], 4);
}

TEST(GL3DObject, NearestVertexInSpace)
{
    TestObject o({0, 0, 0, 1, 0, 0, 1, 0, 0, 5, 5, 5});
    float p[3] = {0.9f, 0.1f, 0};
    EXPECT_EQ(o.getVertex(p), 1) << "ties keep the earlier index";
    float far[3] = {4, 6, 5};
    EXPECT_EQ(o.getVertex(far), 3);
    float veryFar[3] = {1e6f, 0, 0};
    EXPECT_EQ(o.getVertex(veryFar), 0) << "nothing within the start distance";

    EmptyObject empty;
    EXPECT_EQ(empty.getVertex(p), 0);
}

TEST(GL3DObject, ToggleBoxAndAxes)
{
    EmptyObject o;
    EXPECT_FALSE(o.getShowBoundingBox());
    o.toggleBoundingBox();
    o.toggleAxes();
    EXPECT_TRUE(o.getShowBoundingBox());
    EXPECT_TRUE(o.getShowAxes());
    o.toggleAxes();
    EXPECT_FALSE(o.getShowAxes());
}

} // namespace

namespace {

// The box shows its extent to two significant digits, whatever the model's size.
TEST(GL3DObjectInformation, TheBoxKeepsTheDigitsItsSizeNeeds)
{
    const struct {
        Point3 lo, hi;
        const char *box;
    } cases[] = {
        {{-0.1f, 0, -0.1f}, {0.1f, 0.2f, 0.1f}, "[-0.10,0.00,-0.10]\n[0.10,0.20,0.10]"},
        {{0, 0, 0}, {2, 4, 6}, "[0.0,0.0,0.0]\n[2.0,4.0,6.0]"},
        {{1, 1, 1}, {1.0004f, 1.0003f, 1}, "[1.00000,1.00000,1.00000]\n[1.00040,1.00030,1.00000]"},
        {{-500, 0, 0}, {500, 1, 1}, "[-500.0,0.0,0.0]\n[500.0,1.0,1.0]"},
    };
    for (const auto &c : cases) {
        std::unique_ptr<testsupport::TestObject> box(testsupport::TestObject::box(c.lo, c.hi));
        EXPECT_EQ(box->getInformation(), std::string("8 vertices\nbounding box:\n") + c.box + "\n\n");
    }
}

// Every kind of object a fifth of a unit across shows its box with two decimals.
TEST(GL3DObjectInformation, EveryKindShowsItsBoxWithTheDigitsItsSizeNeeds)
{
    const std::string graphFile = testsupport::makeTempDir("Information") + "/small.gph";
    testsupport::MeshBytes graph;
    graph.u16(0x454C).i32(2).i32(1).f32(0).f32(0).f32(0).f32(0.2f).f32(0.15f).f32(0.1f).i32(0).i32(1);
    graph.write(graphFile);
    const float corners[] = {0, 0, 0, 0.2f, 0, 0, 0, 0.15f, 0, 0, 0, 0.1f};
    const int faces[] = {0, 1, 2, 0, 2, 3};
    GLMeshObject::MeshRecord mesh{4, 2, corners, faces, 0, nullptr};
    VolumeData volume;
    OctreeData octree;
    // One leaf at the far corner of a grid of 2 x 2 x 2.
    octree.levels = 1;
    octree.leaves = {{}, {{1, 1, 1}}};
    octree.values = {{}, {0}};
    octree.order = {{}, {0}};
    octree.nLeaves = 1;
    volume.samples = allocateLargeArray<float>(8);
    for (int k = 0; k < 3; ++k) {
        volume.size[k] = 2;
        volume.voxelSize[k] = octree.voxelSize[k] = 0.1f - 0.025f * static_cast<float>(k);
    }
    testsupport::CapturedMessages captured;
    std::unique_ptr<GL3DObject> objects[] = {
        std::make_unique<GLMeshObject>(&mesh), std::make_unique<GLGraphObject>(graphFile.c_str()),
        std::make_unique<GLVolumeObject>(std::move(volume), 64), std::make_unique<GLOctreeObject>(std::move(octree), 64)};
    captured.take();
    for (const auto &o : objects) {
        const std::string info = o->getInformation();
        EXPECT_NE(info.find("bounding box:\n[0.00,0.00,0.00]\n[0.20,0.15,0.10]\n"), std::string::npos) << info;
    }
}

} // namespace
