#include "core/GLObject.h"

#include "core/ElementHost.h"
#include "render/GLAxes.h"
#include "render/GLFont.h"

GLObject::GLObject(short t) : type(t), interface(nullptr), host(nullptr) {}

void GLObject::setID(unsigned char id) { type = static_cast<short>((type & ~0xFF) | id); }

unsigned char GLObject::getID() const { return static_cast<unsigned char>(type & 0xFF); }

bool GLObject::isCamera() const { return (type & 0xF000) != 0; }

bool GLObject::is3DObject() const { return (type & 0x0F00) != 0; }

short GLObject::getType() const { return static_cast<short>(type & ~0xFF); }

int GLObject::notifyCommand(int key)
{
    const BindingTable *table = getBindings();
    const KeyBinding *row = table ? table->find(key) : nullptr;
    return row ? performAction(*row) : 0;
}

int GLObject::performAction(const KeyBinding &row)
{
    const bool busy = (row.flags & KeyBinding::BUSY) != 0;
    if (busy)
        setBusy(true);
    bool taken;
    if (row.flags & KeyBinding::NEXT_COLOR_MAP)
        taken = stepColorMap(1);
    else if (row.flags & KeyBinding::PREVIOUS_COLOR_MAP)
        taken = stepColorMap(-1);
    else if (row.flags & KeyBinding::SHARED)
        taken = runSharedAction(row);
    else
        taken = runAction(row);
    if (busy)
        setBusy(false);
    if (taken && (row.flags & KeyBinding::REDRAW))
        postRedisplay();
    return taken ? 1 : 0;
}

void GLObject::postRedisplay()
{
    if (host)
        host->postRedisplay(false);
}

void GLObject::reshapeWindow(int width, int height)
{
    if (host)
        host->reshapeWindow(width, height);
}

void GLObject::updateDisplay()
{
    if (host)
        host->updateDisplay();
}

bool GLObject::updateDisplayWhole() { return !host || host->updateDisplayWhole(); }

void GLObject::setBusy(bool busy)
{
    if (!host)
        return;
    if (busy)
        host->setCursor(ElementWindow::BUSY_CURSOR);
    else
        host->overrideCursor();
}

void GLObject::GLfprint(const char *text, int x, int y) { GLFont::fprint(text, x, y); }

void GLObject::draw3DAxes(Point3 origin, Point3 scale) { GLAxes::drawAxes(origin, scale); }
