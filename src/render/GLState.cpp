#include "render/GLState.h"

#include <GL/gl.h>

void disableClipPlanes()
{
    GLint planes = 0;
    glGetIntegerv(GL_MAX_CLIP_PLANES, &planes);
    for (GLint i = 0; i < planes; ++i)
        glDisable(GL_CLIP_PLANE0 + i);
}

namespace {

// Window pixels w x h, origin at the lower left, on new levels of both matrix stacks; the
// matrix mode is left at model-view.
void pushPixelMatrices(int w, int h)
{
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, w, 0, h, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
}

void popPixelMatrices()
{
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
}

} // namespace

void beginWindowOverlay(unsigned attributes, int w, int h)
{
    glPushAttrib(attributes | GL_ENABLE_BIT | GL_CURRENT_BIT | GL_TRANSFORM_BIT);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_1D);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_DEPTH_TEST);
    disableClipPlanes();
    pushPixelMatrices(w, h);
}

void endWindowOverlay()
{
    popPixelMatrices();
    glPopAttrib();
}

void unpackTightRows()
{
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
}

void blendLuminanceAlpha(int w, int h, const unsigned char *pixels)
{
    pushPixelMatrices(w, h);
    unpackTightRows();
    glRasterPos2i(0, 0);
    glPixelZoom(1, 1);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDrawPixels(w, h, GL_LUMINANCE_ALPHA, GL_UNSIGNED_BYTE, pixels);
    popPixelMatrices();
}

void drawLineLoop(const float (*corners)[3], int n)
{
    glBegin(GL_LINE_LOOP);
    for (int i = 0; i < n; ++i)
        glVertex3fv(corners[i]);
    glEnd();
}

void pushPoseAndArrays(unsigned attributes, const float *pose)
{
    glPushAttrib(attributes);
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glMultMatrixf(pose);
}

void colorContrastingBackground()
{
    GLfloat clear[4] = {0, 0, 0, 0};
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    const float luminance = 0.2126f * clear[0] + 0.7152f * clear[1] + 0.0722f * clear[2];
    const GLubyte c = luminance > 0.5f ? 0 : 255;
    glColor3ub(c, c, c);
}

WindowOverlay::WindowOverlay(int w, int h)
{
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glDisable(GL_TEXTURE_2D);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, w, h, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
}

WindowOverlay::~WindowOverlay()
{
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glPopAttrib();
}
