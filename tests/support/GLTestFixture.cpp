#include "support/GLTestFixture.h"

#include <GL/gl.h>

namespace testsupport {

void GLTestFixture::SetUp()
{
    ASSERT_TRUE(context.create(width_, height_)) << context.error();
    glViewport(0, 0, width_, height_);
    glClearColor(0, 0, 0, 1);
    glClearDepth(1.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void GLTestFixture::TearDown() { context.destroy(); }

void GLTestFixture::orthographic(double left, double right, double bottom, double top, double zNear, double zFar)
{
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(left, right, bottom, top, zNear, zFar);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void GLTestFixture::enableState(int parts)
{
    if (parts & DepthTest)
        glEnable(GL_DEPTH_TEST);
    if (parts & CullBackFaces)
        glEnable(GL_CULL_FACE);
    if (parts & FirstLight)
        glEnable(GL_LIGHT0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

RgbaImage GLTestFixture::capture() const
{
    RgbaImage image;
    image.width = context.width();
    image.height = context.height();
    image.pixels = context.readPixelsRGBA();
    return image;
}

void GLTestFixture::expectNoGLError() const
{
    const GLenum e = glGetError();
    EXPECT_EQ(e, static_cast<GLenum>(GL_NO_ERROR)) << "OpenGL error 0x" << std::hex << e;
}

} // namespace testsupport
