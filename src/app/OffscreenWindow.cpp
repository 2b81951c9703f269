#include "app/OffscreenWindow.h"

#include "app/GLMachine.h"
#include "render/GLFont.h"

#include <stdexcept>

OffscreenWindow::OffscreenWindow(GLMachine *m, int width, int height) : machine(m)
{
    if (!buffer.create(width, height))
        throw std::runtime_error("impossible to use OpenGL/GLX");
    GLFont::createOpenGLFonts();
    if (machine)
        machine->initGL();
}

bool OffscreenWindow::makeCurrent(bool sub)
{
    // There is no sub-window to draw into.
    return !sub && buffer.makeCurrent();
}

void OffscreenWindow::updateDisplay()
{
    if (makeCurrent(false) && machine)
        machine->draw();
}

void OffscreenWindow::reshapeWindow(int width, int height)
{
    if (buffer.width() == width && buffer.height() == height)
        return;
    if (!buffer.create(width, height))
        return;
    // The new context starts with no fonts and no scene state.
    GLFont::createOpenGLFonts();
    if (machine) {
        machine->initGL();
        machine->setWindowSize(width, height);
    }
}
