#include "render/GLFont.h"

#include "support/GLTestFixture.h"

#include <EGL/egl.h>
#include <GL/gl.h>

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <vector>

namespace {

using testsupport::GLTestFixture;
using testsupport::RgbaImage;
using Positions = std::vector<std::pair<float, float>>;

// Bounds of the non-black pixels in columns x0..x1-1, in window coordinates (y up).
struct Ink {
    int count = 0, minX = 1 << 20, maxX = -1, minY = 1 << 20, maxY = -1;
};

Ink findInk(const RgbaImage &img, int x0 = 0, int x1 = 1 << 20)
{
    Ink ink;
    for (int row = 0; row < img.height; ++row)
        for (int x = x0; x < std::min(x1, img.width); ++x) {
            const unsigned char *p = img.at(x, row);
            if (p[0] + p[1] + p[2] == 0)
                continue;
            const int y = img.height - 1 - row;
            ++ink.count;
            ink.minX = std::min(ink.minX, x);
            ink.maxX = std::max(ink.maxX, x);
            ink.minY = std::min(ink.minY, y);
            ink.maxY = std::max(ink.maxY, y);
        }
    return ink;
}

// The raster positions of the glyphs `draw` emits, read back from the feedback buffer.
template <class Draw> Positions bitmapPositions(Draw draw)
{
    std::vector<GLfloat> buffer(4096);
    glFeedbackBuffer(static_cast<GLsizei>(buffer.size()), GL_2D, buffer.data());
    glRenderMode(GL_FEEDBACK);
    draw();
    const GLint n = glRenderMode(GL_RENDER);
    Positions positions;
    for (GLint i = 0; i + 2 < n; i += 3) {
        EXPECT_EQ(buffer[i], GL_BITMAP_TOKEN);
        positions.emplace_back(buffer[i + 1], buffer[i + 2]);
    }
    return positions;
}

// One unit is one pixel, origin at the lower left; white text.
class GLFontTest : public GLTestFixture {
protected:
    void SetUp() override
    {
        GLTestFixture::SetUp();
        orthographic(0, kSize, 0, kSize, -1, 1);
        GLFont::setFgColor(Point4(1, 1, 1, 1));
    }
    void TearDown() override
    {
        GLFont::setFgColor(Point4(0, 0, 0, 1));
        GLTestFixture::TearDown();
    }
};

TEST_F(GLFontTest, TextStandsOnItsBaselineInTheForegroundColour)
{
    // No createOpenGLFonts: the first print in a fresh context builds the lists.
    GLFont::setFgColor(Point4(1, 0.5f, 0, 1));
    glColor4f(0.2f, 0.4f, 0.6f, 1);
    GLFont::print("HH", 20, 30);
    expectNoGLError();
    const RgbaImage img = capture();

    // Capitals 9 rows high on the baseline, each in its 7-pixel cell, the two identical.
    const Ink first = findInk(img, 20, 27), second = findInk(img, 27, 34);
    ASSERT_GT(first.count, 10);
    EXPECT_EQ(first.minY, 30);
    EXPECT_EQ(first.maxY, 38);
    EXPECT_EQ(second.count, first.count);
    EXPECT_EQ(second.minX, first.minX + GLFont::charWidth);
    EXPECT_EQ(findInk(img).count, 2 * first.count);
    int offColour = 0;
    for (size_t i = 0; i < img.pixels.size(); i += 4)
        offColour += img.pixels[i + 1] != 0 && (img.pixels[i] != 255 || std::abs(img.pixels[i + 1] - 128) > 1 ||
                                                img.pixels[i + 2] != 0);
    EXPECT_EQ(offColour, 0);
    GLfloat colour[4];
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_FLOAT_EQ(colour[2], 0.6f) << "the caller's colour was not restored";
}

TEST_F(GLFontTest, EveryGlyphReachesTheFeedbackBufferAsABitmap)
{
    EXPECT_EQ(bitmapPositions([] { GLFont::print("abc", 5, 6); }), (Positions{{5, 6}, {12, 6}, {19, 6}}));
    EXPECT_EQ(bitmapPositions([] { GLFont::printBig("ab", 40, 70); }), (Positions{{40, 70}, {49, 70}}));
    // Each line starts again at x, 12 units below the one before; an empty line counts.
    EXPECT_EQ(bitmapPositions([] { GLFont::fprint("ab\ncd\n\ne", 10, 50); }),
              (Positions{{10, 50}, {17, 50}, {10, 38}, {17, 38}, {10, 14}}));
    // Control characters neither draw nor move the pen.
    EXPECT_EQ(bitmapPositions([] { GLFont::print("a\tb", 0, 0); }), (Positions{{0, 0}, {7, 0}}));
}

TEST_F(GLFontTest, BytesBeyondTheFontAreDrawnAsQuestionMarks)
{
    // Passed on unchanged, these bytes would call the big font's lists (or none).
    GLFont::print("??", 10, 40);
    const RgbaImage question = capture();
    glClear(GL_COLOR_BUFFER_BIT);
    GLFont::print("\xe9\xff", 10, 40);
    EXPECT_GT(findInk(question).count, 10);
    EXPECT_EQ(capture().pixels, question.pixels);
    GLFont::print(nullptr, 10, 40);
    GLFont::fprint(nullptr, 10, 40);
    GLFont::printString(nullptr, 10, 40);
    expectNoGLError();
}

TEST_F(GLFontTest, PrintStringUsesWindowPixelsWhateverTheState)
{
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glFrustum(-1, 1, -1, 1, 1, 10);
    glMatrixMode(GL_MODELVIEW);
    glTranslatef(3, -2, -5);
    GLfloat modelview[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
    // Black lighting, a black texture, a plane that clips everything and a depth buffer
    // that nothing passes: any of them left on would hide or blacken the text.
    const GLfloat black[4] = {0, 0, 0, 1};
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, black);
    glEnable(GL_LIGHTING);
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    const unsigned char texel[4] = {0, 0, 0, 255};
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, texel);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glEnable(GL_TEXTURE_2D);
    const GLdouble cutAll[4] = {0, 0, 0, -1};
    glClipPlane(GL_CLIP_PLANE0, cutAll);
    glEnable(GL_CLIP_PLANE0);
    glClearDepth(0);
    glClear(GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);

    EXPECT_EQ(bitmapPositions([] { GLFont::printString("xy", 30, 40); }), (Positions{{30, 40}, {37, 40}}));
    GLFont::printString("H", 30, 40);
    expectNoGLError();
    const RgbaImage img = capture();
    const Ink ink = findInk(img);
    ASSERT_GT(ink.count, 10);
    EXPECT_EQ(ink.minY, 40);
    const unsigned char *p = img.at(ink.minX, kSize - 1 - ink.minY);
    EXPECT_EQ(p[0] + p[1] + p[2], 3 * 255) << "lighting or texturing tinted the text";

    GLfloat after[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, after);
    EXPECT_EQ(std::vector<GLfloat>(after, after + 16), std::vector<GLfloat>(modelview, modelview + 16));
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
    for (GLenum cap : {GL_LIGHTING, GL_TEXTURE_2D, GL_CLIP_PLANE0, GL_DEPTH_TEST})
        EXPECT_TRUE(glIsEnabled(cap)) << "capability 0x" << std::hex << cap;

    // Window coordinates, not viewport-relative ones.
    glViewport(64, 32, 64, 64);
    EXPECT_EQ(bitmapPositions([] { GLFont::printString("a", 70, 40); }), (Positions{{70, 40}}));
}

TEST_F(GLFontTest, EachContextGetsItsOwnLists)
{
    // This context already holds lists at the numbers an earlier context's fonts had.
    const GLuint foreign = glGenLists(300);
    for (GLuint i = 0; i < 300; ++i) {
        glNewList(foreign + i, GL_COMPILE);
        glEndList();
    }
    GLFont::print("H", 10, 10);
    EXPECT_GT(findInk(capture()).count, 10);
    const GLuint base = GLFont::fontListBase;
    EXPECT_GE(base, foreign + 300);

    OffscreenContext second;
    ASSERT_TRUE(second.create(kSize, kSize)) << second.error();
    glOrtho(0, kSize, 0, kSize, -1, 1);
    EXPECT_EQ(bitmapPositions([] { GLFont::print("H", 10, 10); }).size(), 1u);

    // Back in the first context its own lists are found again, not rebuilt...
    ASSERT_TRUE(context.makeCurrent());
    GLFont::print("H", 10, 10);
    EXPECT_EQ(GLFont::fontListBase, base);
    // ... unless somebody deleted them ...
    glDeleteLists(GLFont::fontListBase, 128);
    glClear(GL_COLOR_BUFFER_BIT);
    GLFont::print("H", 10, 10);
    EXPECT_GT(findInk(capture()).count, 10);
    // ... or the context was declared gone (its handle may come back for a new context).
    const GLuint rebuilt = GLFont::fontListBase;
    GLFont::forgetContext(eglGetCurrentContext());
    EXPECT_EQ(GLFont::fontListBase, 0u);
    GLFont::print("H", 10, 10);
    EXPECT_NE(GLFont::fontListBase, rebuilt);
    expectNoGLError();
}

TEST_F(GLFontTest, TextInACompiledListNeedsFontsMadeBeforehand)
{
    // Lists cannot be built while one is compiled: the text is dropped, without errors.
    const GLuint list = glGenLists(1);
    glNewList(list, GL_COMPILE);
    GLFont::print("H", 10, 10);
    glEndList();
    glCallList(list);
    expectNoGLError();
    EXPECT_EQ(findInk(capture()).count, 0);

    GLFont::createOpenGLFonts();
    glNewList(list, GL_COMPILE);
    GLFont::print("H", 10, 10);
    glEndList();
    glCallList(list);
    EXPECT_GT(findInk(capture()).count, 10);
}

} // namespace
