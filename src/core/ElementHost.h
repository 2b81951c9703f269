#ifndef VELMORA_ELEMENTHOST_H
#define VELMORA_ELEMENTHOST_H

#include "core/ElementWindow.h"

#include "math/Messages.h"

#include <functional>
#include <string>
#include <vector>

class CameraAnimationWindow;
class GLObject;
class GLCameraAnimationImpl;
class PathDisplay;

/// The progress window of a long task (a flight export), as the task sees it. Deleting it
/// closes the window (unless it shows an error, which stays until the user closes it).
class ExportProgress
{
  public:
    virtual ~ExportProgress() = default;
    /// Shows `percent` (0 to 100); false once the user asked to stop the task.
    virtual bool setValue(float percent) = 0;
    /// Shows why the task failed.
    virtual void showError(const char *text) = 0;
};

/// Everything a scene element may ask of the user interface: the window's redraws and
/// cursors (ElementWindow), the windows of its own (a mesh's "Path Distance" window, the
/// camera's "Camera Animation" window), a message the user should see, a progress window.
///
/// The scene manager hands one to every element it registers (GLObject::attach); the main
/// window implements it, the off-screen runs implement it with QuietHost (nothing shown).
/// The windows' classes live in the layers that use them: only their names are known here.
class ElementHost : public ElementWindow
{
  public:
    /// A new "Path Distance" window (owned by the caller), or null where none can be shown.
    virtual PathDisplay *openDistanceWindow() = 0;
    /// A new "Camera Animation" window for `animation` (owned by the caller), or null.
    virtual CameraAnimationWindow *openCameraAnimationWindow(GLCameraAnimationImpl *animation) = 0;
    /// A progress window titled `title` (owned by the caller), or null.
    virtual ExportProgress *openProgress(const char *title) = 0;
    /// Shows a message that was also written to the message sink (one or more lines, each
    /// ending in '\n'). Does nothing where nothing is shown.
    virtual void showMessage(MessageLevel level, const std::string &text) = 0;

    /// A scene element and the name the object list shows for it.
    struct LoadedElement {
        GLObject *element;
        std::string name;
    };
    /// The elements loaded in the scene, in the object list's order (for a panel that works
    /// with another element: "Distance to..."); none where no list is kept.
    virtual std::vector<LoadedElement> loadedElements() { return {}; }
    /// Opens the window "Views" of `camera` (every original view against its photograph);
    /// nothing where no window can be shown.
    virtual void openViewsWindow(GLObject *camera) { (void)camera; }
    /// Asks for a redraw of the view once `ready` (asked now and then, on the thread of the
    /// user interface) returns true: for work in the background whose result changes the
    /// picture, without drawing the same frame again meanwhile. Where nothing is shown it
    /// asks for a redraw at once.
    virtual void redisplayWhen(std::function<bool()> ready)
    {
        (void)ready;
        postRedisplay(false);
    }
};

/// The host of elements that nothing is shown for (off-screen drawing, tools, tests): every
/// request is granted silently and no window is ever opened.
class QuietHost : public ElementHost
{
  public:
    void postRedisplay(bool) override {}
    void updateDisplay() override {}
    void reshapeWindow(int, int) override {}
    void setCursor(int) override {}
    void overrideCursor() override {}
    PathDisplay *openDistanceWindow() override { return nullptr; }
    CameraAnimationWindow *openCameraAnimationWindow(GLCameraAnimationImpl *) override { return nullptr; }
    ExportProgress *openProgress(const char *) override { return nullptr; }
    void showMessage(MessageLevel, const std::string &) override {}
};

#endif
