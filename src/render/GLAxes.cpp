#include "render/GLAxes.h"

#include <GL/gl.h>

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
