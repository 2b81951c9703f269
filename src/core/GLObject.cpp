#include "core/GLObject.h"

#include "core/GLInterface.h"
#include "gui/GLFont.h"
#include "gui/MainInterface.h"

#include <GL/gl.h>

GLObject::GLObject(short t) : type(t), interface(nullptr) {}

void GLObject::setID(unsigned char id) { type = static_cast<short>((type & ~0xFF) | id); }

unsigned char GLObject::getID() const { return static_cast<unsigned char>(type & 0xFF); }

bool GLObject::isCamera() const { return (type & 0xF000) != 0; }

bool GLObject::is3DObject() const { return (type & 0x0F00) != 0; }

short GLObject::getType() const { return static_cast<short>(type & ~0xFF); }

void GLObject::postRedisplay()
{
    if (interface && interface->getParent())
        interface->getParent()->postRedisplay(false);
}

void GLObject::reshapeWindow(int width, int height)
{
    if (interface && interface->getParent())
        interface->getParent()->reshapeWindow(width, height);
}

void GLObject::updateDisplay()
{
    if (interface && interface->getParent())
        interface->getParent()->updateDisplay();
}

void GLObject::setBusy(bool busy)
{
    if (!interface || !interface->getParent())
        return;
    if (busy)
        interface->getParent()->setCursor(3);
    else
        interface->getParent()->overrideCursor();
}

void GLObject::GLprint(const char *text, int x, int y) { GLFont::print(text, x, y); }

void GLObject::GLprintBig(const char *text, int x, int y) { GLFont::printBig(text, x, y); }

void GLObject::GLfprint(const char *text, int x, int y) { GLFont::fprint(text, x, y); }

void GLObject::GLprintString(const char *text, int x, int y) { GLFont::printString(text, x, y); }

void GLObject::draw3DArrow()
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

void GLObject::draw3DAxes(Point3 origin, Point3 scale)
{
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glTranslatef(origin.x, origin.y, origin.z);
    glScalef(scale.x, scale.y, scale.z);

    glColor3f(1, 0, 0);
    draw3DArrow();
    // The x arrow turned by -90 degrees about z points along -y ...
    glRotatef(-90, 0, 0, 1);
    glColor3f(0, 1, 0);
    draw3DArrow();
    // ... and turned further by -90 degrees about (the turned) y it points along +z.
    glRotatef(-90, 0, 1, 0);
    glColor3f(0, 0, 1);
    draw3DArrow();

    glPopMatrix();
    glPopAttrib();
}
