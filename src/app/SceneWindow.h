#ifndef VELMORA_SCENEWINDOW_H
#define VELMORA_SCENEWINDOW_H

#include "core/ElementHost.h"

class GLObject;

/// What the scene manager needs of the window it draws in: the view's OpenGL context, the
/// light-direction sub-window, the list of elements with their panels, the event loop.
/// The toolkit's main window implements it; the off-screen window implements it with no
/// window system at all, so the scene manager and its tests never need a display.
class SceneWindow : public ElementWindow {
public:
    /// What the registered elements may ask of the user interface; the scene manager attaches
    /// it to each of them (GLObject::attach). It lives as long as the window.
    virtual ElementHost &elementHost() = 0;

    /// Makes the view (sub false) or the sub-window's context current; false when that area
    /// does not exist (yet).
    virtual bool makeCurrent(bool sub = false) = 0;
    virtual void swapBuffers(bool sub = false) = 0;
    virtual bool isOffscreen() const = 0;
    /// The view's last frame as it was read back after drawing (RGBA, bottom row first),
    /// when the window kept it and nothing has asked for a redraw since: a capture of the
    /// view then needs no new frame. False when there is none (the caller draws one).
    virtual bool lastFrame(int &width, int &height, const unsigned char *&pixels) const
    {
        (void)width;
        (void)height;
        (void)pixels;
        return false;
    }

    /// The light-direction sub-window.
    virtual bool isSubWindowEnabled() const = 0;
    virtual void enableSubWindow(bool on) = 0;
    /// Keeps the control window above the view window, or stops doing so.
    virtual void toggleTransient() = 0;

    /// Lists the element under the last part of `name` and builds its panel.
    virtual void registerInterface(GLObject *element, const char *name) = 0;
    /// Removes the element's list entry and releases its panel; the element stays alive.
    virtual void unregisterInterface(GLObject *element) = 0;
    /// The user opened the file (or folder) `name`, and it loaded: a window keeps it among the
    /// recent files and opens the next file dialog beside it. Nothing by default.
    virtual void fileOpened(const char *name) { (void)name; }

    /// Runs the event loop until stopLoop(); returns at once where there is no loop.
    virtual void runLoop() = 0;
    virtual void stopLoop() = 0;
};

#endif
