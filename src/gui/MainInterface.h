#ifndef VELMORA_MAININTERFACE_H
#define VELMORA_MAININTERFACE_H

class GLMachine;
class GLObject;

/// The program's window layer: the view window "Velmora" with the scene's OpenGL area, the
/// control window "Interface" with menus, the object list and the selected element's panel,
/// the light-direction sub-window, cursors and dialogs. In off-screen mode there is no
/// window at all: drawing goes to an off-screen buffer of the given size and every window
/// operation does nothing.
///
/// No toolkit type appears here, so the scene manager and the elements build and are
/// tested without a display. Operations are virtual so that tests can stand in for it.
class MainInterface {
public:
    /// Window mode exits with status 1 after "Viewer:impossible to use OpenGL/GLX" on
    /// standard error when the display has no OpenGL. Off-screen mode throws
    /// std::runtime_error("impossible to use OpenGL/GLX") or ("no appropriate visual found").
    MainInterface(GLMachine *machine, const char *title, int width, int height, bool offscreen);
    virtual ~MainInterface();

    MainInterface(const MainInterface &) = delete;
    MainInterface &operator=(const MainInterface &) = delete;

    /// Runs the toolkit's event loop until stopLoop().
    static void mainLoop();
    static void stopLoop();

    bool isOffscreen() const;

    /// Makes the off-screen buffer, the sub-window area (sub) or the view area current.
    virtual bool makeCurrent(bool sub = false);
    /// Both do nothing in off-screen mode.
    virtual void swapBuffers(bool sub = false);
    virtual void postRedisplay(bool sub = false);
    /// Makes the view current and draws a frame at once.
    virtual void updateDisplay();
    /// Resizes the view window so that its drawing area is width x height.
    virtual void reshapeWindow(int width, int height);
    /// 0 default, 1 four-way arrow (panning), 2 zoom, 3 busy.
    virtual void setCursor(int id);
    /// Back to the default cursor.
    virtual void overrideCursor();
    virtual void toggleTransient();
    virtual void ensureTransient();
    virtual bool isSubWindowEnabled() const;
    virtual void enableSubWindow(bool on);
    /// Lists the element under the last part of `name` and builds its panel.
    virtual void registerInterface(GLObject *element, const char *name);
    virtual void unregisterInterface(GLObject *element);
    virtual GLObject *getSelectedObject();
    virtual void moveListEntry(bool up);

    int getCurrentCursor() const;

    /// The toolkit's cursor keys (Left, Right, Up, Down, Home, End, Page Up, Page Down) as the
    /// scene's codes 6000-6007; any other key value unchanged.
    static int mapKey(unsigned keyval);
    /// The toolkit's button number of a press or release as the scene's: 2 and 3 exchange.
    static int mapButton(int button);

protected:
    /// No window and no context: for stand-ins in tests.
    MainInterface();

public:
    /// Toolkit state, defined where the toolkit is included.
    struct Impl;

private:
    Impl *impl;
};

#endif
