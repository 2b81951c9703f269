#include "app/OffscreenWindow.h"

#include "app/GLMachine.h"
#include "render/GLFont.h"

#include <stdexcept>

const char *OffscreenWindow::failureText(OffscreenContext::Failure failure)
{
    // OpenGL that is there but offers no buffer of the kind the scene draws into is told
    // apart from no OpenGL at all.
    return failure == OffscreenContext::NO_VISUAL ? "no appropriate visual found" : "impossible to use OpenGL/GLX";
}

OffscreenWindow::OffscreenWindow(GLMachine *m, int width, int height) : machine(m)
{
    if (!buffer.create(width, height))
        throw std::runtime_error(failureText(buffer.failure()));
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

bool OffscreenWindow::updateDisplayWhole() { return !machine || machine->drawWhole(); }

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
