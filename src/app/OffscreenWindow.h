#ifndef VELMORA_OFFSCREENWINDOW_H
#define VELMORA_OFFSCREENWINDOW_H

#include "app/SceneWindow.h"
#include "render/OffscreenContext.h"

class GLMachine;

/// The scene manager's window when nothing is shown: an off-screen buffer of a fixed size
/// that every frame is drawn into and captures read back. It needs no display. There is no
/// sub-window, no element list and no event loop; cursors and redraw requests do nothing.
class OffscreenWindow : public SceneWindow {
public:
    /// Creates the buffer, the bitmap fonts and the scene's OpenGL state. Throws
    /// std::runtime_error("no appropriate visual found") when OpenGL offers no buffer with
    /// colour and depth, and std::runtime_error("impossible to use OpenGL/GLX") when no
    /// context can be made otherwise.
    OffscreenWindow(GLMachine *machine, int width, int height);

    /// The text raised for a buffer that could not be made.
    static const char *failureText(OffscreenContext::Failure failure);

    bool makeCurrent(bool sub = false) override;
    void swapBuffers(bool) override {}
    bool isOffscreen() const override { return true; }
    void postRedisplay(bool) override {}
    void updateDisplay() override;
    bool updateDisplayWhole() override;
    /// The buffer has a fixed size: a new one of the new size replaces it.
    void reshapeWindow(int width, int height) override;
    void setCursor(int) override {}
    void overrideCursor() override {}
    bool isSubWindowEnabled() const override { return false; }
    void enableSubWindow(bool) override {}
    void toggleTransient() override {}
    void registerInterface(GLObject *, const char *) override {}
    void unregisterInterface(GLObject *) override {}
    /// Nothing is shown, so the elements' requests do nothing: only the scene manager draws
    /// into the buffer and resizes it.
    ElementHost &elementHost() override { return quiet; }
    void runLoop() override {}
    void stopLoop() override {}

    const OffscreenContext &context() const { return buffer; }

private:
    GLMachine *machine;
    OffscreenContext buffer;
    QuietHost quiet;
};

#endif
