// The selections and edits every cleanable kind shares, through each kind's own frames and
// keys: a point cloud (with its level-of-detail hierarchy, which stores its points in another
// order than the file's), a splat scene and a mesh, all of one 16 x 16 grid.
#include "formats/PlyReader.h"
#include "formats/SplatFile.h"
#include "math/Messages.h"
#include "objects/GLMeshObject.h"
#include "objects/GLPointListObject.h"
#include "objects/GLSplatObject.h"
#include "support/CapturedMessages.h"
#include "support/GLTestFixture.h"
#include "support/PointClouds.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace {

using testsupport::GLTestFixture;

using Grid = testsupport::PointGrid;

enum class Kind { Cloud, Splats, Mesh };

std::unique_ptr<GL3DObject> make(Kind kind, const Grid &g)
{
    if (kind == Kind::Cloud) {
        const PointListRecord record{256, g.p.data(), g.rgb.data(), nullptr};
        auto cloud = std::make_unique<GLPointListObject>(&record);
        // The hierarchy stores the points in its own order: the file's indices must survive it.
        cloud->buildLevelOfDetail();
        int moved = 0;
        for (int i = 0; i < 256; ++i)
            moved += cloud->getFileIndex(i) != i;
        EXPECT_GT(moved, 0);
        cloud->notifyCommand('+');
        return cloud;
    }
    if (kind == Kind::Splats) {
        SplatScene s;
        s.resize(256, 0);
        std::copy(g.p.begin(), g.p.end(), s.position.begin());
        for (size_t i = 0; i < 256; ++i) {
            s.rotation[4 * i] = 1;
            s.opacity[i] = 0.5f + static_cast<float>(i) / 1024;
            for (int k = 0; k < 3; ++k)
                s.scale[3 * i + k] = 0.01f;
        }
        return std::make_unique<GLSplatObject>(std::move(s));
    }
    const GLMeshObject::MeshRecord record{256, static_cast<int>(g.triangles.size() / 3), g.p.data(),
                                          g.triangles.data(), 0, nullptr};
    return std::make_unique<GLMeshObject>(&record);
}

// The positions of what `object` saves to `path`, in the saved order.
std::vector<float> savedPositions(Kind kind, GL3DObject &object, const std::string &path)
{
    EXPECT_EQ(object.getCleaning()->save(path), object.getCleaning()->getEdits().keptCount());
    if (kind == Kind::Splats)
        return SplatFile::read(path.c_str()).position;
    ForeignModel m = PlyReader::read(path.c_str());
    if (kind == Kind::Cloud)
        return std::vector<float>(m.points.points.get(), m.points.points.get() + 3 * m.points.nPoints);
    return std::vector<float>(m.mesh.vertices.get(), m.mesh.vertices.get() + 3 * m.mesh.nVertices);
}

class Cleaning : public GLTestFixture, public ::testing::WithParamInterface<Kind> {
protected:
    void SetUp() override
    {
        GLTestFixture::SetUp();
        orthographic(1);
        enableState(DepthTest);
    }
    void redraw(GL3DObject &object)
    {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        object.draw();
        expectNoGLError();
    }
    static std::string command(GL3DObject &object, int key)
    {
        CapturingMessageSink said;
        ScopedMessageSink scope(said);
        object.notifyCommand(key);
        return said.text(MessageLevel::Note);
    }
    static void drag(GL3DObject &object, const std::vector<Point2> &path, unsigned modifiers)
    {
        object.notifyWindowDrag(InputEvent::press(1, modifiers), int(path[0].x), int(path[0].y));
        for (size_t k = 1; k < path.size(); ++k)
            object.notifyWindowDrag(k + 1 < path.size() ? InputEvent::motion(1, modifiers)
                                                        : InputEvent::release(1, modifiers),
                                    int(path[k].x), int(path[k].y));
    }
};

TEST_P(Cleaning, WindowShapesAndTheBoxSelectAndDeletionsKeepEveryIndexAndValue)
{
    const Grid g;
    std::unique_ptr<GL3DObject> object = make(GetParam(), g);
    ElementCleaning &cleaning = *object->getCleaning();
    redraw(*object);
    EXPECT_FALSE(object->takesWindowDrags());
    command(*object, 'O');
    ASSERT_TRUE(object->takesWindowDrags());
    drag(*object, {Point2(0, 0), Point2(30, 60), Point2(64, 127)}, 0); // columns 0 .. 7
    EXPECT_EQ(cleaning.getSelection().count(), 128u);
    EXPECT_TRUE(cleaning.getSelection().contains(7) && !cleaning.getSelection().contains(8));
    drag(*object, {Point2(0, 0), Point2(127, 30)}, InputEvent::CONTROL); // rows 13 .. 15 go
    EXPECT_EQ(cleaning.getSelection().count(), 104u);
    command(*object, 'O');
    drag(*object, {Point2(100, 100), Point2(127, 100), Point2(127, 127), Point2(100, 127)}, InputEvent::SHIFT);
    EXPECT_EQ(cleaning.getSelection().count(), 108u); // columns 14, 15 of rows 0, 1
    redraw(*object);
    const testsupport::RgbaImage marked = capture();
    EXPECT_EQ(marked.at(16, 111)[0], 255); // point (0, 0), marked yellow
    EXPECT_EQ(marked.at(16, 111)[2], 0);

    // The box: its face at x = 0.75 dragged 60 pixels in, to x = -0.1875 (columns 0 .. 5).
    EXPECT_NE(command(*object, 'O').find("selection tool box"), std::string::npos);
    drag(*object, {Point2(112, 64), Point2(90, 64), Point2(52, 64)}, 0);
    EXPECT_EQ(cleaning.getSelection().count(), 96u);
    EXPECT_NEAR(cleaning.getBox().centre.x + cleaning.getBox().half.x, -0.1875f, 1e-4f);

    // Deleting takes the points away from the frame and the file, never moving one.
    const std::string tag = std::string(GetParam() == Kind::Cloud ? "cloud" : GetParam() == Kind::Splats ? "splats" : "mesh");
    const std::string file = testsupport::makeTempDir("Cleaning") + "/" + tag + ".ply";
    EXPECT_NE(command(*object, 'r').find(" 96 "), std::string::npos);
    std::vector<float> saved = savedPositions(GetParam(), *object, file);
    ASSERT_EQ(saved.size(), 3u * 160);
    for (size_t k = 0, f = 0; f < 256; ++f) {
        if (f % 16 < 6)
            continue; // deleted
        for (int c = 0; c < 3; ++c)
            ASSERT_FLOAT_EQ(saved[3 * k + c], g.p[3 * f + c]) << tag << " kept point " << f;
        ++k;
    }
    command(*object, 'u');
    EXPECT_NE(command(*object, 'u').find("nothing to undo"), std::string::npos);
    saved = savedPositions(GetParam(), *object, file);
    EXPECT_EQ(saved, g.p) << tag << ": every point back at its index";
    redraw(*object);
    const testsupport::RgbaImage after = capture();
    const unsigned char *first = after.at(16, 111); // drawn again, and no longer marked
    EXPECT_GT(first[0] + first[1] + first[2], 0);
    EXPECT_FALSE(first[0] == 255 && first[1] == 230 && first[2] == 0);
}

INSTANTIATE_TEST_SUITE_P(EveryKind, Cleaning, ::testing::Values(Kind::Cloud, Kind::Splats, Kind::Mesh));

} // namespace
