// ctest-label: thread
#include "objects/GLPointListObject.h"
#include "objects/PointLod.h"
#include "formats/PlyReader.h"
#include "formats/PointLodCells.h"

#include "math/Messages.h"
#include "objects/GL3DObjectLoader.h"
#include "support/GLTestFixture.h"
#include "support/PointClouds.h"
#include "support/ImageCompare.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <numeric>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using testsupport::GLTestFixture;
using testsupport::RgbaImage;
using testsupport::Cloud;
using testsupport::plyCloud;
using testsupport::readPly;

class PointLodFrames : public GLTestFixture {
protected:
    void SetUp() override
    {
        GLTestFixture::SetUp();
        orthographic(1);
        enableState(DepthTest);
    }
    RgbaImage frame(GLPointListObject &cloud, FrameContext::Kind kind = FrameContext::Kind::Interactive)
    {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        FrameContext f = budgets;
        f.kind = kind;
        cloud.draw(f);
        expectNoGLError();
        return capture();
    }
    static void command(GLPointListObject &cloud, int c, int times = 1)
    {
        CapturingMessageSink quiet;
        ScopedMessageSink scope(quiet);
        for (int i = 0; i < times; ++i)
            cloud.notifyCommand(c);
    }
    FrameContext budgets; ///< the budgets of the frames drawn
};

} // namespace

TEST_F(PointLodFrames, TheHierarchyDrawsTheSamePixelsAsTheWholeCloud)
{
    // 128 x 128 points: a root sample and children, every point on a pixel of its own.
    const Cloud c(128);
    const PointListRecord record{c.size(), c.p.data(), nullptr, c.score.data()};
    GLPointListObject whole(&record), lod(&record);
    lod.buildLevelOfDetail();
    ASSERT_TRUE(lod.hasLevelOfDetail());
    EXPECT_FALSE(whole.hasLevelOfDetail());
    // Reordered: the values follow the points.
    int moved = 0;
    for (int i = 0; i < c.size(); ++i) {
        const int f = lod.getFileIndex(i);
        moved += f != i;
        ASSERT_EQ(lod.getValues()[i], c.score[static_cast<size_t>(f)]);
        ASSERT_EQ(lod.getVertices()[3 * i + 2], c.p[3 * static_cast<size_t>(f) + 2]);
    }
    EXPECT_GT(moved, c.size() / 2);

    struct Step {
        int key, times;
    };
    // As read, a raised threshold, another colour map, the threshold back down.
    for (const Step s : {Step{0, 0}, Step{'>', 40}, Step{6006, 1}, Step{'<', 25}}) {
        SCOPED_TRACE(s.key);
        command(whole, s.key, s.times);
        command(lod, s.key, s.times);
        const RgbaImage a = frame(whole), b = frame(lod);
        EXPECT_EQ(lod.getDrawnCount(), whole.getDrawnCount());
        int differ = 0, lit = 0;
        for (int y = 0; y < a.height; ++y)
            for (int x = 0; x < a.width; ++x) {
                differ += !std::equal(a.at(x, y), a.at(x, y) + 3, b.at(x, y));
                lit += a.at(x, y)[0] + a.at(x, y)[1] + a.at(x, y)[2] > 0;
            }
        EXPECT_EQ(differ, 0);
        EXPECT_GT(lit, 1000);
    }
}

TEST_F(PointLodFrames, PickingAReorderedCloudReportsTheFileIndexAndCoordinates)
{
    const Cloud c(128);
    const PointListRecord record{c.size(), c.p.data(), c.rgb.data(), nullptr};
    GLPointListObject cloud(&record);
    cloud.buildLevelOfDetail();
    frame(cloud);
    // Pixel (121, 120) from the top is the point (x, y) = (0.9, -0.9), i = 127, j = 0: the
    // nearest to the eye of those within reach.
    CapturingMessageSink said;
    {
        ScopedMessageSink scope(said);
        cloud.notifyClick(121, 120);
    }
    const int stored = cloud.getSelectedVertex();
    ASSERT_GE(stored, 0);
    EXPECT_NE(stored, 127); // the hierarchy moved it
    EXPECT_EQ(said.text(MessageLevel::Note), "Selected vertex n:\t127,\t[0.900000 -0.900000 0.174700]\n");
    EXPECT_EQ(cloud.getOrigin(), Point3(0.9f, -0.9f, c.p[3 * 127 + 2]));
}

// A cloud its reader grouped by cells reports the index a point has in the file, before its
// hierarchy is built and after.
TEST_F(PointLodFrames, PickingACloudGroupedByItsReaderReportsTheFileIndex)
{
    const Cloud c(128);
    ForeignModel model = readPly(plyCloud(c.p, c.rgb), 1);
    ASSERT_TRUE(model.points.cellOrder);
    GLPointListObject cloud(std::move(model.points));
    const std::string said127 = "Selected vertex n:\t127,\t[0.900000 -0.900000 0.174700]\n";
    const auto click = [&] {
        CapturingMessageSink said;
        ScopedMessageSink scope(said);
        cloud.notifyClick(121, 120);
        return said.text(MessageLevel::Note);
    };
    frame(cloud);
    EXPECT_EQ(click(), said127);
    EXPECT_NE(cloud.getSelectedVertex(), 127); // grouped, not in the file's order
    budgets.points.drag = 1000;
    frame(cloud); // the hierarchy starts from the reader's groups
    cloud.buildLevelOfDetail();
    EXPECT_EQ(cloud.getOrigin(), Point3(0.9f, -0.9f, c.p[3 * 127 + 2]));
    frame(cloud);
    EXPECT_EQ(click(), said127);
}

// A point picked before the hierarchy is started (no frame yet) is marked, and turns the
// view, at its place while the worker reorders the arrays under it.
TEST_F(PointLodFrames, APointPickedBeforeTheBuildKeepsItsPlaceWhileItRuns)
{
    const Cloud c(128);
    const PointListRecord record{c.size(), c.p.data(), c.rgb.data(), nullptr};
    GLPointListObject cloud(&record);
    budgets.points.drag = 1000;
    {
        CapturingMessageSink said;
        ScopedMessageSink scope(said);
        cloud.notifyClick(121, 120);
    }
    ASSERT_EQ(cloud.getSelectedVertex(), 127);
    const Point3 picked(0.9f, -0.9f, c.p[3 * 127 + 2]);
    frame(cloud); // starts the worker
    EXPECT_EQ(cloud.getOrigin(), picked);
    frame(cloud);
    cloud.buildLevelOfDetail();
    EXPECT_EQ(cloud.getOrigin(), picked);
}

TEST_F(PointLodFrames, FramesKeepToTheirBudget)
{
    const Cloud c(128);
    const PointListRecord record{c.size(), c.p.data(), c.rgb.data(), nullptr};
    GLPointListObject cloud(&record);
    cloud.buildLevelOfDetail();
    budgets.points.still = 9000;
    budgets.points.drag = 5000;
    frame(cloud, FrameContext::Kind::Reduced);
    EXPECT_LE(cloud.getDrawnCount(), 5000u);
    EXPECT_GT(cloud.getDrawnCount(), 2000u);
    // Still: the same view refines up to the still budget over the next frames.
    size_t last = 0;
    for (int i = 0; i < 4; ++i) {
        frame(cloud);
        EXPECT_GE(cloud.getDrawnCount(), last);
        last = cloud.getDrawnCount();
    }
    EXPECT_LE(last, 9000u);
    EXPECT_GT(last, 5000u);
    // So does the frame after an edit (a delete here): light first, then the still budget.
    ElementCleaning &cleaning = *cloud.getCleaning();
    cleaning.getSelection().addRange(0, 100);
    cleaning.remove();
    frame(cloud);
    EXPECT_LE(cloud.getDrawnCount(), 5000u);
    for (int i = 0; i < 4; ++i)
        frame(cloud);
    EXPECT_GT(cloud.getDrawnCount(), 5000u);
    cleaning.undo();
    frame(cloud, FrameContext::Kind::Capture);
    EXPECT_GT(cloud.getDrawnCount(), 5000u);
    EXPECT_LE(cloud.getDrawnCount(), 9000u);
    budgets.points.captureEveryPoint = true;
    frame(cloud, FrameContext::Kind::Capture);
    EXPECT_EQ(cloud.getDrawnCount(), static_cast<size_t>(c.size()));
    // Zoomed in on a corner: the nodes out of view are skipped.
    budgets.points.still = 1000000;
    orthographic(0.7, 1.0, 0.7, 1.0);
    frame(cloud);
    frame(cloud);
    EXPECT_LT(cloud.getDrawnCount(), static_cast<size_t>(c.size()) / 2);
    // Over photographs, its points ringed, a new view starts with fewer, then refines to all.
    budgets.points.drag = 15000;
    orthographic(0.95);
    const size_t plain = (frame(cloud), cloud.getDrawnCount());
    budgets.overPhotographs = true;
    orthographic(1);
    frame(cloud);
    EXPECT_LT(cloud.getDrawnCount(), plain / 2);
    frame(cloud);
    EXPECT_EQ(cloud.getDrawnCount(), static_cast<size_t>(c.size()));
}
