#include "render/GLAxes.h"

#include "render/GLFont.h"

#include <GL/gl.h>

#include <cmath>

void GLAxes::drawArrow()
{
    glEnable(GL_BLEND);
    glEnable(GL_LINE_SMOOTH);
    glDisable(GL_LIGHTING);
    glLineWidth(2);

    glBegin(GL_LINES);
    glVertex3f(0, 0, 0);
    glVertex3f(1, 0, 0);
    glEnd();

    // The head: the square base and the four edges to the tip, in one strip.
    glBegin(GL_LINE_STRIP);
    glVertex3f(0.7f, -0.15f, 0.15f);
    glVertex3f(0.7f, 0.15f, 0.15f);
    glVertex3f(0.7f, 0.15f, -0.15f);
    glVertex3f(0.7f, -0.15f, -0.15f);
    glVertex3f(0.7f, -0.15f, 0.15f);
    glVertex3f(1, 0, 0);
    glVertex3f(0.7f, 0.15f, 0.15f);
    glVertex3f(1, 0, 0);
    glVertex3f(0.7f, 0.15f, -0.15f);
    glVertex3f(1, 0, 0);
    glVertex3f(0.7f, -0.15f, -0.15f);
    glEnd();
}

void GLAxes::drawAxes(Point3 origin, Point3 scale)
{
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glTranslatef(origin.x, origin.y, origin.z);
    glScalef(scale.x, scale.y, scale.z);

    glColor3f(1, 0, 0);
    drawArrow();
    // The x arrow turned by -90 degrees about z points along -y ...
    glRotatef(-90, 0, 0, 1);
    glColor3f(0, 1, 0);
    drawArrow();
    // ... and turned further by -90 degrees about (the turned) y it points along +z.
    glRotatef(-90, 0, 1, 0);
    glColor3f(0, 0, 1);
    drawArrow();

    glPopMatrix();
    glPopAttrib();
}

void GLAxes::drawTriad(const float *modelView, int side)
{
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT | GL_LINE_BIT | GL_VIEWPORT_BIT | GL_COLOR_BUFFER_BIT);
    glViewport(viewport[0], viewport[1], side, side);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(-1, 1, -1, 1, -2, 2);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    // Only the turn: the triad stays in its corner wherever the camera stands. The columns
    // are normalised so that a scaled pose does not scale the triad.
    float turn[16] = {0};
    for (int c = 0; c < 3; ++c) {
        float n = 0;
        for (int r = 0; r < 3; ++r)
            n += modelView[4 * c + r] * modelView[4 * c + r];
        n = n > 0 ? 1 / std::sqrt(n) : 0;
        for (int r = 0; r < 3; ++r)
            turn[4 * c + r] = 0.75f * n * modelView[4 * c + r];
    }
    turn[15] = 1;
    glLoadMatrixf(turn);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    for (int c = 0; c < 4; ++c)
        glDisable(GL_CLIP_PLANE0 + c);
    glLineWidth(2);
    static const char *const letters[3] = {"X", "Y", "Z"};
    for (int a = 0; a < 3; ++a) {
        const float tip[3] = {a == 0 ? 1.0f : 0.0f, a == 1 ? 1.0f : 0.0f, a == 2 ? 1.0f : 0.0f};
        glColor3f(tip[0], tip[1], tip[2]);
        glBegin(GL_LINES);
        glVertex3f(0, 0, 0);
        glVertex3fv(tip);
        glEnd();
        // The letter a little beyond the tip, in window pixels (the triad's ortho maps -1..1
        // onto the square).
        const float x = 1.1f * turn[4 * a], y = 1.1f * turn[4 * a + 1];
        const Point4 before = GLFont::getFgColor();
        GLFont::setFgColor(Point4(tip[0], tip[1], tip[2], 1));
        GLFont::printString(letters[a], viewport[0] + static_cast<int>((x + 1) / 2 * side) - 3,
                            viewport[1] + static_cast<int>((y + 1) / 2 * side) - 4);
        GLFont::setFgColor(before);
    }
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopAttrib();
}
