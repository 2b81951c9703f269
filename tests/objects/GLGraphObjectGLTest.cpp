#include "objects/GLGraphObject.h"

#include "core/KeyCodes.h"
#include "math/Messages.h"
#include "objects/GL3DObjectLoader.h"
#include "support/GLTestFixture.h"
#include "support/MeshBytes.h"
#include "support/CapturedMessages.h"

#include <GL/gl.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using testsupport::GLTestFixture;
using testsupport::RgbaImage;

// A square of four nodes at (+-0.5, +-0.5) joined around, and a fifth node in the middle
// with no edge.
class Graph : public GLTestFixture {
protected:
    void SetUp() override
    {
        GLTestFixture::SetUp();
        orthographic(1);
        enableState(DepthTest);

        path = testsupport::makeTempDir("Graph") + "/square.gph";
        testsupport::MeshBytes b;
        b.u16(0x454C).i32(5).i32(4);
        for (float v : {-0.5f, -0.5f, 0.f, 0.5f, -0.5f, 0.f, 0.5f, 0.5f, 0.f, -0.5f, 0.5f, 0.f, 0.f, 0.f, 0.f})
            b.f32(v);
        for (int e : {0, 1, 1, 2, 2, 3, 3, 0})
            b.i32(e);
        b.write(path);
        testsupport::CapturedMessages captured;
        GL3DObject *o = GL3DObjectLoader::load(path.c_str());
        loaded = captured.take();
        graph.reset(dynamic_cast<GLGraphObject *>(o));
        ASSERT_NE(graph, nullptr);
    }
    std::string click(int x, int y)
    {
        CapturingMessageSink said;
        ScopedMessageSink scope(said);
        graph->notifyClick(x, y);
        return said.text(MessageLevel::Note);
    }

    std::string path, loaded;
    std::unique_ptr<GLGraphObject> graph;
};

TEST_F(Graph, NodesAndEdgesAreDrawnInTheirColours)
{
    EXPECT_EQ(loaded, "Detected LITTLE ENDIAN model in a LITTLE ENDIAN machine\n"
                      "reading a graph with 5 nodes and 4 edges\n");
    EXPECT_EQ(graph->getType(), GLObject::GRAPH);
    EXPECT_EQ(graph->getInformation(), "5 points\nbounding box:\n[-0.5,-0.5,0.0]\n[0.5,0.5,0.0]\n\n");
    graph->draw();
    expectNoGLError();
    const RgbaImage image = capture();
    std::string message;
    EXPECT_TRUE(testsupport::matchesBaseline("GraphDrawing", image, message)) << message;
    // Red nodes, a green edge between them, nothing inside the square but the middle node.
    EXPECT_GT(image.at(96, 31)[0], 200);
    EXPECT_GT(image.at(64, 32)[1], 100);
    EXPECT_EQ(image.at(64, 32)[0], 0);
    EXPECT_EQ(image.at(80, 80)[1], 0);
    EXPECT_GT(image.at(64, 63)[0], 200);
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    GLfloat width = 0;
    glGetFloatv(GL_LINE_WIDTH, &width);
    EXPECT_EQ(width, 1);

    const double blue[4] = {0.2, 0.4, 0.6, 1};
    graph->setEdgeColor(blue);
    double back[4];
    graph->getEdgeColor(back);
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(back[k], static_cast<double>(static_cast<float>(blue[k])));
    graph->setPointColor(blue);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    graph->draw();
    EXPECT_GT(capture().at(96, 31)[2], 120);
}

TEST_F(Graph, AClickSelectsTheNodeUnderItOrElseTheNearestEdge)
{
    // The node at (0.5, 0.5) is pixel (96, 31) counted from the top.
    EXPECT_EQ(click(96, 31), "Selected vertex n:\t2\n");
    EXPECT_EQ(graph->getSelectedVertex(), 2);
    EXPECT_EQ(graph->getSelectedEdge(), -1);
    // Beside the bottom edge (y = -0.5 is row 96), half way along it: edge 0.
    EXPECT_EQ(click(60, 100), "Selected edge n:\t0\n");
    EXPECT_EQ(graph->getSelectedVertex(), -1);
    EXPECT_EQ(graph->getSelectedEdge(), 0);
    // Nearer the right edge than the bottom one.
    EXPECT_EQ(click(92, 90), "Selected edge n:\t1\n");
    // The selected edge is drawn black over the green one.
    graph->draw();
    expectNoGLError();
    const RgbaImage image = capture();
    EXPECT_EQ(image.at(96, 64)[1], 0);
    EXPECT_GT(image.at(64, 32)[1], 100);
    // Outside every edge's span (beyond the square's corner): nothing.
    EXPECT_EQ(click(124, 4), "");
    EXPECT_EQ(graph->getSelectedEdge(), -1);
    // A click on the middle node selects it though it has no edge.
    EXPECT_EQ(click(64, 63), "Selected vertex n:\t4\n");
}

TEST_F(Graph, KeysChangeSizesAndModes)
{
    CapturingMessageSink said;
    {
        ScopedMessageSink scope(said);
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(graph->notifyKey('-'), 1);
        EXPECT_EQ(graph->perform(GLGraphObject::Action::WIDER_EDGES), 1);
        EXPECT_EQ(graph->notifyCommand('3'), 1);
    }
    EXPECT_EQ(said.text(MessageLevel::Note), "\rpointSize @ 4.00\rpointSize @ 3.00\rpointSize @ 2.00"
                                             "\rpointSize @ 1.00\rpointSize @ 0.00\rlineSize @ 2.00");
    EXPECT_EQ(graph->getPointSize(), 0);
    EXPECT_EQ(graph->getLineWidth(), 2);
    EXPECT_EQ(graph->getDrawMethod(), &GL3DObject::drawDepthBuffer);
    EXPECT_EQ(graph->notifyKey('z'), 0);
    // Size 0 hides the nodes without an OpenGL error.
    graph->notifyCommand('1');
    graph->draw();
    expectNoGLError();
    EXPECT_EQ(capture().at(64, 63)[0], 0);
}

} // namespace
