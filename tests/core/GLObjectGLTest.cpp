#include "core/GLObject.h"

#include "support/GLTestFixture.h"

#include <GL/gl.h>

namespace {

using testsupport::GLTestFixture;
using testsupport::RgbaImage;

// Counts pixels of one pure colour channel (the others dark) inside a rectangle.
int countColour(const RgbaImage &img, int channel, int x0, int y0, int x1, int y1)
{
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            const unsigned char *p = img.at(x, y);
            bool match = p[channel] > 100;
            for (int c = 0; c < 3; ++c)
                if (c != channel && p[c] > 60)
                    match = false;
            n += match;
        }
    return n;
}

class Axes : public GLTestFixture {};

TEST_F(Axes, ArrowsPointAlongPlusXMinusYPlusZ)
{
    // Seen from a point off the axes so that the z arrow is visible: the camera looks at
    // the origin from (+x, +y, +z), turned so that +x goes right and +z comes down-right.
    glMatrixMode(GL_PROJECTION);
    glOrtho(-1.5, 1.5, -1.5, 1.5, -5, 5);
    glMatrixMode(GL_MODELVIEW);

    // Plain front view first: x to the right, y up; z points at the viewer.
    GLObject::draw3DAxes(Point3(0, 0, 0), Point3(1, 1, 1));
    expectNoGLError();
    RgbaImage front = capture();
    const int c = kSize / 2;
    // Red arrow right of the centre, none left of it.
    EXPECT_GT(countColour(front, 0, c + 10, c - 4, kSize, c + 4), 20);
    EXPECT_EQ(countColour(front, 0, 0, 0, c - 4, kSize), 0);
    // Green arrow below the centre (image rows grow downwards), none above.
    EXPECT_GT(countColour(front, 1, c - 4, c + 10, c + 4, kSize), 20);
    EXPECT_EQ(countColour(front, 1, 0, 0, kSize, c - 4), 0);

    // Turned 90 degrees about y, +z goes to the right and x points away from the viewer.
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    glRotatef(90, 0, 1, 0);
    GLObject::draw3DAxes(Point3(0, 0, 0), Point3(1, 1, 1));
    RgbaImage side = capture();
    EXPECT_GT(countColour(side, 2, c + 10, c - 4, kSize, c + 4), 20);
    EXPECT_EQ(countColour(side, 2, 0, 0, c - 4, kSize), 0);
    EXPECT_GT(countColour(side, 1, c - 4, c + 10, c + 4, kSize), 20);
}

TEST_F(Axes, OriginAndScaleMoveTheArrowsAndStateIsRestored)
{
    glMatrixMode(GL_PROJECTION);
    glOrtho(-2, 2, -2, 2, -5, 5);
    glMatrixMode(GL_MODELVIEW);
    glColor3f(0.25f, 0.5f, 0.75f);
    glLineWidth(5);
    GLfloat before[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, before);

    GLObject::draw3DAxes(Point3(-1, 1, 0), Point3(2, 0.5f, 1));
    expectNoGLError();

    GLfloat after[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, after);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(before[i], after[i]);
    GLfloat colour[4];
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_FLOAT_EQ(colour[0], 0.25f);
    EXPECT_FLOAT_EQ(colour[2], 0.75f);
    GLfloat width = 0;
    glGetFloatv(GL_LINE_WIDTH, &width);
    EXPECT_EQ(width, 5.f);
    EXPECT_FALSE(glIsEnabled(GL_BLEND));

    // The origin (-1, 1) maps to pixel (32, 32); the red arrow of length 2 reaches x = +1
    // (pixel 96) and stops there.
    RgbaImage img = capture();
    EXPECT_GT(countColour(img, 0, 40, 28, 92, 36), 30);
    EXPECT_EQ(countColour(img, 0, 100, 0, kSize, kSize), 0);
    // The green arrow is half a unit long: from row 32 down to row 48 at most.
    EXPECT_GT(countColour(img, 1, 28, 36, 36, 46), 4);
    EXPECT_EQ(countColour(img, 1, 0, 56, kSize, kSize), 0);
}

TEST_F(Axes, MatchesBaseline)
{
    glMatrixMode(GL_PROJECTION);
    glOrtho(-1.5, 1.5, -1.5, 1.5, -5, 5);
    glMatrixMode(GL_MODELVIEW);
    glRotatef(30, 1, 0, 0);
    glRotatef(-40, 0, 1, 0);
    GLObject::draw3DAxes(Point3(0, 0, 0), Point3(1, 1, 1));
    std::string message;
    EXPECT_TRUE(testsupport::matchesBaseline("Axes", capture(), message)) << message;
}

} // namespace
