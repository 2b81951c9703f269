#include "objects/Legend.h"

#include "render/GLFont.h"
#include "support/GLTestFixture.h"

#include <GL/gl.h>

#include <algorithm>
#include <cstdlib>

namespace {

using testsupport::GLTestFixture;
using testsupport::RgbaImage;

const float kWhite[4] = {1, 1, 1, 1};

// Bounds of the white pixels (the text, drawn white on black) inside a rectangle given in
// window coordinates (y up, upper bounds excluded).
struct Ink {
    int count = 0, minX = 1 << 20, maxX = -1, minY = 1 << 20, maxY = -1;
};

Ink whiteInk(const RgbaImage &img, int x0, int y0, int x1, int y1)
{
    Ink ink;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            const unsigned char *p = img.at(x, img.height - 1 - y);
            if (std::min({p[0], p[1], p[2]}) < 200)
                continue;
            ++ink.count;
            ink.minX = std::min(ink.minX, x);
            ink.maxX = std::max(ink.maxX, x);
            ink.minY = std::min(ink.minY, y);
            ink.maxY = std::max(ink.maxY, y);
        }
    return ink;
}

::testing::AssertionResult isColour(const RgbaImage &img, int x, int y, int r, int g, int b)
{
    const unsigned char *p = img.at(x, img.height - 1 - y);
    if (std::abs(p[0] - r) <= 3 && std::abs(p[1] - g) <= 3 && std::abs(p[2] - b) <= 3)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is (" << int(p[0]) << ", "
                                         << int(p[1]) << ", " << int(p[2]) << ")";
}

// Fifteen 13-pixel labels need more than the two thirds of 128 pixels the bar would get.
class VerticalLegend : public GLTestFixture {
protected:
    static constexpr int kWidth = 128, kHeight = 320;
    VerticalLegend() : GLTestFixture(kWidth, kHeight) {}
};

class HorizontalLegend : public GLTestFixture {
protected:
    static constexpr int kWidth = 320, kHeight = 100;
    HorizontalLegend() : GLTestFixture(kWidth, kHeight) {}
};

TEST_F(VerticalLegend, NothingIsDrawnWithoutATitleAndNoBarWithoutBands)
{
    Legend legend;
    legend.add(ColorMap::jetColorMap, 0, 14, 14);
    const RgbaImage before = capture();
    legend.draw(10, 10);
    legend.drawH(10, 10);
    EXPECT_EQ(capture().pixels, before.pixels);

    Legend titleOnly;
    titleOnly.setTitle("empty");
    titleOnly.setTextColor(kWhite);
    titleOnly.add("lonely");
    titleOnly.draw(10, 10);
    titleOnly.drawH(10, 10);
    expectNoGLError();
    EXPECT_GT(whiteInk(capture(), 0, kHeight - 30, kWidth, kHeight).count, 20);
}

TEST_F(VerticalLegend, BandsRunDownFromTheTopWithALabelAtEachCentre)
{
    Legend legend;
    legend.setTitle("jet");
    legend.setTextColor(kWhite);
    legend.add(ColorMap::jetColorMap, 0, 14, 14);
    legend.draw(10, 10);
    expectNoGLError();
    const RgbaImage img = capture();

    // The bar: x 20..40, from 30 pixels under the top (y 280) down over two thirds of the
    // height, band 0 (blue) first; a dark outline between bands 6 and 7, both full green.
    const int top = kHeight - 40;
    const float band = kHeight / 1.5f / 15;
    EXPECT_TRUE(isColour(img, 30, top - static_cast<int>(band / 2), 0, 0, 255));
    EXPECT_TRUE(isColour(img, 30, top - static_cast<int>(14.5f * band), 255, 0, 0));
    EXPECT_TRUE(isColour(img, 30, top + 4, 0, 0, 0));
    EXPECT_TRUE(isColour(img, 30, top - static_cast<int>(15 * band) - 4, 0, 0, 0));
    const int edge = static_cast<int>(top - 7 * band);
    EXPECT_LT(img.at(30, kHeight - 1 - edge)[1], 160);
    EXPECT_GT(img.at(30, kHeight - 1 - (edge + 4))[1], 240);

    // The title in the big font starts at x + 10 above the bar; label j right of the bar,
    // its digits centred on band j.
    const Ink title = whiteInk(img, 0, top, kWidth, kHeight);
    EXPECT_GE(title.minX, 20);
    EXPECT_LE(title.maxX, 20 + 3 * GLFont::bigCharWidth);
    for (int j = 0; j < 15; ++j) {
        const int centre = top - static_cast<int>((j + 0.5f) * band);
        const Ink label = whiteInk(img, 41, centre - 8, kWidth, centre + 9);
        ASSERT_GT(label.count, 5) << "label " << j;
        EXPECT_GE(label.minX, 45) << "label " << j;
        EXPECT_LE(label.maxX, 45 + (j < 10 ? 1 : 2) * GLFont::charWidth) << "label " << j;
        EXPECT_LE(std::abs((label.minY + label.maxY) / 2 - centre), 2) << "label " << j;
    }
}

TEST_F(VerticalLegend, DrawingRestoresStateAndIgnoresTheScenesPolygonSettings)
{
    glEnable(GL_LIGHTING);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_FRONT_AND_BACK);
    glPolygonMode(GL_FRONT_AND_BACK, GL_POINT);
    glLineWidth(3);
    glColor4f(0.1f, 0.2f, 0.3f, 0.4f);
    glMatrixMode(GL_PROJECTION);
    glOrtho(-3, 3, -3, 3, -3, 3);
    GLfloat projection[16], after[16];
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    GLFont::setFgColor(Point4(0, 1, 0, 1));

    Legend legend;
    legend.setTitle("state");
    legend.add(ColorMap::jetColorMap, 0, 4, 4);
    legend.draw(10, 10);
    expectNoGLError();
    // Filled in spite of the culling and the point mode.
    EXPECT_TRUE(isColour(capture(), 30, kHeight - 45, 0, 0, 255));

    GLint mode = 0, polygonMode[2] = {0, 0};
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_PROJECTION);
    glGetFloatv(GL_PROJECTION_MATRIX, after);
    EXPECT_TRUE(std::equal(after, after + 16, projection));
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING) && glIsEnabled(GL_CULL_FACE));
    EXPECT_FALSE(glIsEnabled(GL_BLEND) || glIsEnabled(GL_LINE_SMOOTH));
    glGetIntegerv(GL_POLYGON_MODE, polygonMode);
    EXPECT_EQ(polygonMode[0], GL_POINT);
    GLfloat width = 0, colour[4];
    glGetFloatv(GL_LINE_WIDTH, &width);
    EXPECT_EQ(width, 3.f);
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_FLOAT_EQ(colour[3], 0.4f);
    EXPECT_EQ(GLFont::getFgColor(), Point4(0, 1, 0, 1));
    GLFont::setFgColor(Point4(0, 0, 0, 1));
}

TEST_F(HorizontalLegend, LabelsStartEndOrCentreOnTheirTicks)
{
    Legend legend;
    legend.setTitle("jet");
    legend.setTextColor(kWhite);
    legend.add(ColorMap::jetColorMap, 0.f, 1.f, 4, 2);
    legend.drawH(10, 10);
    const RgbaImage img = capture();

    // Bar from x 40 over 240 pixels, between y 30 and 50, blue at the left, red at the
    // right; with fewer labels than bands only its frame is outlined, so every pixel
    // across it keeps jet's full channel.
    EXPECT_TRUE(isColour(img, 43, 40, 0, 0, 255));
    EXPECT_TRUE(isColour(img, 277, 40, 255, 0, 0));
    EXPECT_TRUE(isColour(img, 36, 40, 0, 0, 0));
    EXPECT_TRUE(isColour(img, 160, 54, 0, 0, 0));
    for (int x = 42; x < 279; ++x) {
        const unsigned char *p = img.at(x, kHeight - 1 - 40);
        EXPECT_GT(std::max({p[0], p[1], p[2]}), 240) << "x = " << x;
    }

    // Ticks at 40, 100, ..., 280 under the bar; the labels are four characters wide.
    for (int j = 0; j < 5; ++j) {
        const int tick = 40 + 60 * j;
        const Ink label = whiteInk(img, tick - 30, 0, std::min(kWidth, tick + 30), 29);
        ASSERT_GT(label.count, 10) << "label " << j;
        if (j == 0)
            EXPECT_TRUE(label.minX >= tick && label.minX <= tick + 2) << label.minX;
        else if (j == 4)
            EXPECT_TRUE(label.maxX <= tick - 1 && label.maxX >= tick - 3) << label.maxX;
        else
            EXPECT_LE(std::abs(label.minX + label.maxX - 2 * tick), 3) << "label " << j;
    }
}

// Reference pictures: a light background and the default black text, as in the viewer.
void clearToLightGray()
{
    glClearColor(0.8f, 0.8f, 0.8f, 1);
    glClear(GL_COLOR_BUFFER_BIT);
}

TEST_F(VerticalLegend, MatchesBaselineFlatBands)
{
    clearToLightGray();
    Legend legend;
    legend.setTitle("height");
    legend.add(ColorMap::jetColorMap, 0, 14, 14);
    legend.draw(10, 10);
    std::string message;
    EXPECT_TRUE(testsupport::matchesBaseline("LegendVertical", capture(), message)) << message;
}

TEST_F(VerticalLegend, MatchesBaselineSmoothBands)
{
    clearToLightGray();
    Legend legend;
    legend.setTitle("curvature");
    legend.setSmoothDrawing();
    legend.add(ColorMap::colorMap, -1.f, 1.f, 2, 2);
    legend.draw(4, 4);
    std::string message;
    EXPECT_TRUE(testsupport::matchesBaseline("LegendVerticalSmooth", capture(), message)) << message;
}

TEST_F(HorizontalLegend, MatchesBaseline)
{
    clearToLightGray();
    Legend legend;
    legend.setTitle("distance");
    legend.add(ColorMap::hotColorMap, 0.f, 2.5f, 5, 1);
    legend.drawH(10, 10);
    std::string message;
    EXPECT_TRUE(testsupport::matchesBaseline("LegendHorizontal", capture(), message)) << message;
}

} // namespace
