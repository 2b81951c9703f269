#include "objects/GLPointListObject.h"
#include "formats/CloudFile.h"

#include "math/Messages.h"
#include "support/GLTestFixture.h"
#include "support/PointClouds.h"
#include "support/MeshBytes.h"
#include "support/CapturedMessages.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using testsupport::GLTestFixture;
using testsupport::RgbaImage;

using Grid = testsupport::PointGrid;

class PointCloud : public GLTestFixture {
protected:
    void SetUp() override
    {
        GLTestFixture::SetUp();
        orthographic(1);
        enableState(DepthTest);
    }
    // Lit pixels of the frame.
    static int litPixels(const RgbaImage &image)
    {
        int n = 0;
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x)
                n += image.at(x, y)[0] + image.at(x, y)[1] + image.at(x, y)[2] > 0;
        return n;
    }
    void redraw(GLPointListObject &cloud)
    {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        cloud.draw();
        expectNoGLError();
    }
    std::string command(GLPointListObject &cloud, int c)
    {
        CapturingMessageSink said;
        ScopedMessageSink scope(said);
        cloud.notifyCommand(c);
        return said.text(MessageLevel::Note);
    }
};

TEST_F(PointCloud, ColouredPointsAreDrawnInTheirColours)
{
    const Grid g;
    const PointListRecord record{256, g.p.data(), g.rgb.data(), nullptr};
    GLPointListObject cloud(&record);
    EXPECT_EQ(command(cloud, '+'), "\rpointSize @ 2.00");
    command(cloud, '+');
    redraw(cloud);
    const RgbaImage image = capture();
    std::string message;
    EXPECT_TRUE(testsupport::matchesBaseline("PointListColours", image, message)) << message;
    // Point (i, j) = (15, 0) sits at x = 0.75, y = -0.75: pixel (112, 111) from the top,
    // coloured (240, 0, 200).
    EXPECT_EQ(image.at(112, 111)[0], 240);
    EXPECT_EQ(image.at(112, 111)[2], 200);
    EXPECT_FALSE(glIsEnabled(GL_VERTEX_ARRAY));
    GLint buffer = -1;
    glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &buffer);
    EXPECT_EQ(buffer, 0);

    // Picking: the point under (112, 111) is number 15; it is drawn again in red.
    CapturingMessageSink said;
    {
        ScopedMessageSink scope(said);
        cloud.notifyClick(112, 111);
    }
    EXPECT_EQ(said.text(MessageLevel::Note), "Selected vertex n:\t15,\t[0.750000 -0.750000 0.000000]\n");
    EXPECT_EQ(cloud.getOrigin(), Point3(0.75f, -0.75f, 0));
    redraw(cloud);
    const RgbaImage again = capture();
    const unsigned char *selected = again.at(112, 111);
    EXPECT_EQ(selected[0], 255);
    EXPECT_EQ(selected[2], 0);
    cloud.notifyClick(2, 2);
    EXPECT_EQ(cloud.getSelectedVertex(), -1);

    // Moved, the cloud turns the view about the moved point, or its moved centre.
    {
        ScopedMessageSink scope(said);
        cloud.notifyClick(112, 111);
    }
    Matrix4 moved = Matrix4::Identity;
    moved(0, 3) = 2;
    cloud.setPose(moved);
    EXPECT_EQ(cloud.getOrigin(), Point3(2.75f, -0.75f, 0));
    cloud.notifyClick(2, 2);
    EXPECT_NEAR(cloud.getOrigin().x, 2, 1e-5f);
}

// The selection tool in the window: a rectangle over the left half, a lasso added with Shift,
// a rectangle taken away with Control; the selected points are marked, and deleting, undoing,
// keeping and hiding change what is drawn, never the points' indices.
TEST_F(PointCloud, WindowSelectionsMarkAndDeletionsUndo)
{
    const Grid g;
    const PointListRecord record{256, g.p.data(), g.rgb.data(), nullptr};
    GLPointListObject cloud(&record);
    command(cloud, '+');
    redraw(cloud);
    const auto drag = [&](std::vector<Point2> path, unsigned modifiers) {
        cloud.notifyWindowDrag(InputEvent::press(1, modifiers), static_cast<int>(path[0].x), static_cast<int>(path[0].y));
        for (size_t k = 1; k < path.size(); ++k)
            cloud.notifyWindowDrag(k + 1 < path.size() ? InputEvent::motion(1, modifiers) : InputEvent::release(1, modifiers),
                                   static_cast<int>(path[k].x), static_cast<int>(path[k].y));
    };
    EXPECT_FALSE(cloud.takesWindowDrags());
    EXPECT_EQ(command(cloud, 'O'), "GLPointListObject: selection tool rectangle\n");
    ASSERT_TRUE(cloud.takesWindowDrags());
    // Pixel x = 64 (1 + x): columns 0..7 lie left of 64.
    drag({Point2(0, 0), Point2(30, 60), Point2(64, 127)}, 0);
    EXPECT_EQ(cloud.getSelection().count(), 128u);
    EXPECT_TRUE(cloud.getSelection().contains(7) && !cloud.getSelection().contains(8));
    drag({Point2(0, 0), Point2(127, 30)}, InputEvent::CONTROL); // the top rows j = 13..15
    EXPECT_EQ(cloud.getSelection().count(), 104u);
    command(cloud, 'O');
    drag({Point2(100, 100), Point2(127, 100), Point2(127, 127), Point2(100, 127)}, InputEvent::SHIFT);
    EXPECT_EQ(cloud.getSelection().count(), 108u); // columns 14, 15 of rows 0, 1
    redraw(cloud);
    const RgbaImage marked = capture();
    EXPECT_EQ(marked.at(16, 111)[0], 255); // point (0, 0), marked yellow
    EXPECT_EQ(marked.at(16, 111)[2], 0);

    EXPECT_EQ(command(cloud, 'r'), "GLPointListObject: 108 points deleted\n");
    EXPECT_TRUE(cloud.getSelection().empty());
    redraw(cloud);
    EXPECT_EQ(cloud.getDrawnCount(), 148u);
    const RgbaImage afterDeletion = capture();
    const unsigned char *gone = afterDeletion.at(16, 111);
    EXPECT_EQ(gone[0] + gone[1] + gone[2], 0);
    for (int k = 0; k < 3; ++k)
        command(cloud, 'O'); // box, box along the view, off: the left button turns the view again
    EXPECT_FALSE(cloud.takesWindowDrags());
    command(cloud, 'n'); // every point not deleted ...
    EXPECT_EQ(cloud.getSelection().count(), 148u);
    EXPECT_EQ(command(cloud, 'k'), "GLPointListObject: 0 points deleted\n");
    command(cloud, 'u');
    redraw(cloud);
    EXPECT_EQ(cloud.getDrawnCount(), 256u);
    EXPECT_EQ(command(cloud, 'u'), "GLPointListObject: nothing to undo\n");
    command(cloud, 'U');
    EXPECT_EQ(cloud.getEdits().keptCount(), 148u);
    command(cloud, 'u');
    // Hiding draws fewer without deleting; the grown selection takes the neighbours at 0.1.
    cloud.getSelection().add(0);
    cloud.getCleaning()->grow(0.11f);
    EXPECT_EQ(cloud.getSelection().count(), 3u);
    EXPECT_EQ(command(cloud, 'h'), "GLPointListObject: 3 points hidden\n");
    redraw(cloud);
    EXPECT_EQ(cloud.getDrawnCount(), 253u);
    EXPECT_EQ(cloud.getEdits().keptCount(), 256u);
    command(cloud, 'H');
    redraw(cloud);
    EXPECT_EQ(cloud.getDrawnCount(), 256u);
}

TEST_F(PointCloud, ScoresAreColouredAndTheLowerThresholdHidesTheLowOnes)
{
    const Grid g;
    const PointListRecord record{256, g.p.data(), nullptr, g.score.data()};
    GLPointListObject cloud(&record);
    EXPECT_STREQ(cloud.getLegend().getTitle(), "Correlation");
    command(cloud, '+');
    command(cloud, '+');
    redraw(cloud);
    const int all = litPixels(capture());
    std::string message;
    EXPECT_TRUE(testsupport::matchesBaseline("PointListScores", capture(), message)) << message;

    // Each step is a hundredth of the range (15): 34 steps pass the scores 0 .. 5.
    for (int i = 0; i < 34; ++i)
        command(cloud, '>');
    EXPECT_NEAR(cloud.getLowerThreshold(), 5.1f, 1e-4f);
    EXPECT_EQ(cloud.getVisibleCount(), 10 * 16);
    redraw(cloud);
    const RgbaImage raised = capture();
    // Columns of points fall on 6 or 7 pixel steps: the share is 10 / 16 within a column.
    EXPECT_NEAR(litPixels(raised), all * 10 / 16, all / 14);
    EXPECT_EQ(raised.at(16, 64)[0] + raised.at(16, 64)[1] + raised.at(16, 64)[2], 0); // score 0 column
    // What the threshold hides cannot be clicked: point (0, 7) of the score 0 column.
    {
        CapturingMessageSink said;
        ScopedMessageSink scope(said);
        cloud.notifyClick(16, 67);
        EXPECT_EQ(cloud.getSelectedVertex(), -1);
        cloud.notifyClick(80, 67);
        EXPECT_EQ(cloud.getSelectedVertex(), 7 * 16 + 10);
        cloud.notifyClick(2, 2);
    }
    // Drawing the same threshold again changes nothing.
    redraw(cloud);
    EXPECT_EQ(litPixels(capture()), litPixels(raised));

    // 100 steps down from the start: the threshold is a whole range below the minimum.
    for (int i = 0; i < 134; ++i)
        command(cloud, '<');
    EXPECT_NEAR(cloud.getLowerThreshold(), -15, 1e-3f);
    redraw(cloud);
    EXPECT_EQ(litPixels(capture()), all);

    // The upper threshold hides the high ones: 34 steps down leave the scores 0 .. 9, and
    // "By values" keeps them as the selection (point row * 16 + column has the column's score).
    for (int i = 0; i < 34; ++i)
        command(cloud, '[');
    EXPECT_NEAR(cloud.getUpperThreshold(), 15 - 5.1f, 1e-3f);
    EXPECT_EQ(cloud.getVisibleCount(), 10 * 16);
    redraw(cloud);
    EXPECT_NEAR(litPixels(capture()), all * 10 / 16, all / 14);
    command(cloud, 'T');
    EXPECT_EQ(cloud.getSelection().count(), 10u * 16);
    EXPECT_TRUE(cloud.getSelection().contains(16 * 3 + 9));
    EXPECT_FALSE(cloud.getSelection().contains(16 * 3 + 10));
    // Back up, it lands on the top score exactly: every point shows again.
    command(cloud, 'N');
    for (int i = 0; i < 34; ++i)
        command(cloud, ']');
    EXPECT_EQ(cloud.getUpperThreshold(), cloud.getMaxValue());
    redraw(cloud);
    EXPECT_EQ(litPixels(capture()), all);

    // Another colour map recolours; the depth-buffer mode hides the legend.
    const std::vector<unsigned char> before(cloud.getColors(), cloud.getColors() + 3 * 256);
    command(cloud, 6006);
    EXPECT_EQ(cloud.getColorMap(), 1);
    EXPECT_NE(std::vector<unsigned char>(cloud.getColors(), cloud.getColors() + 3 * 256), before);
    command(cloud, '2');
    EXPECT_EQ(cloud.getDrawMethod(), &GL3DObject::drawDepthBuffer);
    command(cloud, '1');
    EXPECT_NE(cloud.getDrawMethod(), &GL3DObject::drawDepthBuffer);
}

TEST_F(PointCloud, MeasuredValuesReplaceTheColoursAndNaNPointsAreNotDrawn)
{
    const Grid g;
    const PointListRecord record{256, g.p.data(), g.rgb.data(), nullptr};
    GLPointListObject cloud(&record);
    command(cloud, '+');
    command(cloud, '+');
    redraw(cloud);
    const int all = litPixels(capture());
    std::vector<float> d = g.score;
    for (int j = 0; j < 16; ++j)
        d[16 * j] = NAN; // the left column: beyond the maximum distance
    EXPECT_FALSE(cloud.setValues("distance to mesh", d.data(), 255));
    EXPECT_FALSE(cloud.hasValues());
    ASSERT_TRUE(cloud.setValues("distance to mesh", d.data(), 256));
    EXPECT_STREQ(cloud.getLegend().getTitle(), "distance to mesh");
    EXPECT_FLOAT_EQ(cloud.getMinValue(), 1);
    EXPECT_FLOAT_EQ(cloud.getMaxValue(), 15);
    EXPECT_EQ(cloud.getVisibleCount(), 15 * 16);
    redraw(cloud);
    const RgbaImage measured = capture();
    EXPECT_NEAR(litPixels(measured), all * 15 / 16, all / 14);
    EXPECT_EQ(measured.at(16, 64)[0] + measured.at(16, 64)[1] + measured.at(16, 64)[2], 0);
    // The cloud's own colours stay one key away.
    EXPECT_TRUE(cloud.setShowOwnColors(true));
    EXPECT_EQ(cloud.getColors()[3 * 17], g.rgb[3 * 17]);
}

TEST_F(PointCloud, PointsWithoutColoursStandOutFromTheBackground)
{
    const Grid g;
    const PointListRecord record{256, g.p.data(), nullptr, nullptr};
    GLPointListObject cloud(&record);
    cloud.setEyeDome(false);
    command(cloud, '+');
    command(cloud, '+');
    const float backgrounds[][3] = {{0, 0, 0}, {1, 1, 1}, {0.75f, 0.75f, 0.75f}, {0.1f, 0.1f, 0.4f}};
    for (const auto &b : backgrounds) {
        glClearColor(b[0], b[1], b[2], 1);
        redraw(cloud);
        const auto shot = capture();
        const unsigned char *p = shot.at(112, 111);
        const float luminance = (0.2126f * p[0] + 0.7152f * p[1] + 0.0722f * p[2]) / 255;
        EXPECT_GT(std::fabs(luminance - (0.2126f * b[0] + 0.7152f * b[1] + 0.0722f * b[2])), 0.5f)
            << "background " << b[0] << " " << b[1] << " " << b[2];
    }
    glClearColor(0, 0, 0, 0);
}

// Until a size is chosen, the points are as large as the count and the window allow: one
// point at the centre of the viewport (the others stacked in a corner) shows the size.
TEST_F(PointCloud, TheDefaultSizeGrowsAsTheCloudThinsOutInItsWindow)
{
    const struct { int count, viewport, size; } cases[] = {{1, 128, 4}, {9, 128, 4}, {1024, 128, 2}, {16384, 128, 1},
                                                          {1024, 64, 1}, {256, 64, 2}};
    for (const auto &c : cases) {
        std::vector<float> p(3 * static_cast<size_t>(c.count), 0.9f);
        p[0] = p[1] = p[2] = 0;
        const PointListRecord record{c.count, p.data(), nullptr, nullptr};
        GLPointListObject cloud(&record);
        glViewport(0, 0, c.viewport, c.viewport);
        redraw(cloud);
        const RgbaImage shot = capture();
        int lit = 0;
        for (int y = kSize - c.viewport / 2 - 6; y < kSize - c.viewport / 2 + 6; ++y)
            for (int x = c.viewport / 2 - 6; x < c.viewport / 2 + 6; ++x)
                lit += shot.at(x, y)[0] > 0;
        EXPECT_EQ(lit, c.size * c.size) << c.count << " points in " << c.viewport;
        // The keys start from it; a chosen size holds whatever the window.
        command(cloud, '+');
        glViewport(0, 0, kSize, kSize);
        redraw(cloud);
        EXPECT_EQ(cloud.getPointSize(), c.size + 1) << c.count << " points in " << c.viewport;
    }
}

// A survey's classes and return numbers reach the cloud's legend as categories: one band a
// value present, a class labelled with its ASPRS name.
TEST_F(PointCloud, ALasFileGivesCategoryLegends)
{
    testsupport::CapturedMessages captured;
    GLPointListObject las((std::string(VELMORA_SOURCE_DIR) + "/tests/data/laz/simple.las").c_str());
    const std::pair<std::string, std::vector<std::string>> expected[] = {
        {"classification", {"1 unclassified", "2 ground"}}, {"return number", {"1", "2", "3", "4"}}};
    for (const auto &[item, labels] : expected) {
        for (int k = 0; k < 8 && (!las.hasValues() || las.getValueName() != item); ++k)
            command(las, '3');
        ASSERT_EQ(las.getValueName(), item);
        const Legend &legend = las.getLegend();
        EXPECT_STREQ(legend.getTitle(), item.c_str());
        std::vector<std::string> shown;
        for (int i = 0; i < legend.getNumberOfLabels(); ++i)
            shown.push_back(legend.getLabel(i));
        EXPECT_EQ(shown, labels);
        EXPECT_EQ(legend.getNumberOfColors(), static_cast<int>(labels.size())) << item;
    }
}

TEST(PointListFiles, TheExtensionChoosesTheReader)
{
    const std::string dir = testsupport::makeTempDir("PointListFiles");
    testsupport::MeshBytes b;
    b.u16(0x454C).i32(2);
    for (float x : {1.f, 2.f, 3.f, 4.f, 5.f, 6.f})
        b.f32(x);
    b.f32(0.5f).f32(1.5f);
    b.write(dir + "/c.bin");
    b.write(dir + "/c.BIN");
    std::ofstream(dir + "/c.las") << "1 2 3\n4 5 6\n";

    testsupport::CapturedMessages captured;
    GLPointListObject bin((dir + "/c.bin").c_str());
    GLPointListObject las((dir + "/c.las").c_str());
    captured.take();
    EXPECT_TRUE(bin.hasValues());
    EXPECT_EQ(bin.getMinValue(), 0.5f);
    EXPECT_EQ(bin.getUpperThreshold(), 1.5f);
    EXPECT_EQ(bin.getInformation(), "2 points\nbounding box:\n[1.0,2.0,3.0]\n[4.0,5.0,6.0]\n\n");
    EXPECT_FALSE(las.hasValues());
    EXPECT_EQ(las.getNVertices(), 2);
    las.getSelection().add(1);
    EXPECT_EQ(las.getSelection().count(), 1u);
    EXPECT_EQ(las.getLegend().getTitle(), nullptr);
    las.centerObject(Point3(1, 2, 3));
    EXPECT_EQ(las.getBBMax(), Point3(3, 3, 3));
    // The panel shows the file's coordinates, however the points are kept.
    EXPECT_EQ(las.getInformation(), "2 points\nbounding box:\n[1.0,2.0,3.0]\n[4.0,5.0,6.0]\n\n");
    std::ofstream(dir + "/geo.xyz") << "612345.5 5012345.5 250\n612375.5 5012385.5 262\n";
    GLPointListObject geo((dir + "/geo.xyz").c_str());
    captured.take();
    EXPECT_EQ(geo.getInformation(), "2 points\nbounding box:\n[612345.5,5012345.5,250.0]\n[612375.5,5012385.5,262.0]\n\n");
    // Reading another file into a cloud replaces its box with the new points'.
    testsupport::CapturedMessages captured2;
    las.readBIN((dir + "/c.bin").c_str());
    captured2.take();
    EXPECT_EQ(las.getBBMin(), Point3(1, 2, 3));
    EXPECT_EQ(las.getBBMax(), Point3(4, 5, 6));
    EXPECT_TRUE(las.hasValues());
    EXPECT_EQ(las.getSelection().size(), 2u);
    EXPECT_TRUE(las.getSelection().empty());

    // Upper-case names of other programs are the same formats.
    std::ofstream(dir + "/C.XYZ") << "1 2 3\n4 5 6\n7 8 9\n";
    std::filesystem::copy_file(std::string(VELMORA_SOURCE_DIR) + "/tests/fuzz/seeds/las_binary/format0.las",
                               dir + "/S.LAS");
    for (const auto &[name, count] : {std::pair<const char *, int>{"/c.BIN", 2}, {"/C.XYZ", 3}, {"/S.LAS", 3}}) {
        EXPECT_TRUE(CloudFile::isCloudName((dir + name).c_str())) << name;
        GLPointListObject upper((dir + name).c_str());
        captured.take();
        EXPECT_EQ(upper.getNVertices(), count) << name;
    }
    try {
        GLPointListObject refused((dir + "/c.ply").c_str());
        ADD_FAILURE();
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "can't recognize extension\n");
    }
    try {
        GLPointListObject missing((dir + "/none.bin").c_str());
        ADD_FAILURE();
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "can't read file\n");
    }
}

} // namespace
