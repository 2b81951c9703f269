#ifndef VELMORA_MAININTERFACE_H
#define VELMORA_MAININTERFACE_H

#include "app/SceneWindow.h"
#include "math/NonCopyable.h"

#include <memory>
#include <string>
#include <vector>

class GLMachine;
class GLObject;
class WindowHost;

/// The program's windows: the view window "Velmora" with the scene's OpenGL area, the
/// control window "Interface" with menus, the object list and the selected element's panel,
/// the light-direction sub-window, cursors and dialogs.
///
/// No toolkit type appears here; the toolkit's state lives behind Impl.
class MainInterface : public SceneWindow, NonCopyable {
public:
    /// Opens both windows. Exits with status 1 after "Viewer: cannot open the X display ..."
    /// when there is no display, and after "Viewer:impossible to use OpenGL/GLX" on standard
    /// error when the display has no OpenGL.
    MainInterface(GLMachine *machine, const char *title, int width, int height);
    ~MainInterface() override;

    /// Runs the toolkit's event loop until stopLoop().
    void runLoop() override;
    void stopLoop() override;

    bool isOffscreen() const override { return false; }
    bool lastFrame(int &width, int &height, const unsigned char *&pixels) const override;
    bool makeCurrent(bool sub = false) override;
    void swapBuffers(bool sub = false) override;
    void postRedisplay(bool sub = false) override;
    void updateDisplay() override;
    bool updateDisplayWhole() override;
    void reshapeWindow(int width, int height) override;
    void setCursor(int id) override;
    void overrideCursor() override;
    void toggleTransient() override;
    /// Raises the control window when it is kept above the view.
    void ensureTransient();
    /// Places the control window to the left of the view window, as at start-up (there
    /// with one move of the view window to measure the window manager's frame).
    void initInterfacePosition();
    bool isSubWindowEnabled() const override;
    void enableSubWindow(bool on) override;
    ElementHost &elementHost() override;
    /// Shows the last line of `text` on the control window's message line (the whole text as
    /// its tooltip); it stays until the next message.
    void showMessage(const std::string &text);
    /// What the message line shows; empty before the first message.
    std::string getMessageLine() const;
    void registerInterface(GLObject *element, const char *name) override;
    void unregisterInterface(GLObject *element) override;
    /// Keeps `name` first among the recent files (and for the next runs) and makes its folder
    /// the one the next "open file" starts in.
    void fileOpened(const char *name) override;
    GLObject *getSelectedObject();
    GLMachine *getMachine() const;
    /// The object list's elements and labels, top to bottom.
    std::vector<ElementHost::LoadedElement> loadedElements() const;
    void moveListEntry(bool up);

    int getCurrentCursor() const;

    /// The toolkit's cursor keys (Left, Right, Up, Down, Home, End, Page Up, Page Down), Return
    /// and Escape as the scene's codes of KeyCodes.h; a printable key as its Latin-1 character;
    /// 0 for any other key (the scene takes none).
    static int mapKey(unsigned keyval);
    /// The toolkit's button number of a press or release as the scene's: 2 and 3 exchange.
    static int mapButton(int button);
    /// The top-left corner of the control window (w x h with its frame) beside the view
    /// window's frame (at viewX, viewY, viewW wide) on a screen of screenW x screenH: left of
    /// it where it fits, else right of it; where neither side has room but the screen has
    /// for both side by side, the two are centred together and `viewX` says where the view
    /// window goes; else at the screen edge with more room. Always on the screen.
    struct Corner {
        int x, y;
        int viewX; ///< the view window's new left edge (viewX itself when it stays)
    };
    static Corner controlWindowCorner(int viewX, int viewY, int viewW, int w, int h, int screenW,
                                      int screenH);
    /// The local files of a dropped "text/uri-list" (lines of URIs, comments starting with
    /// "#"): "file:" URIs decoded to file names; other URIs are left out with a message.
    static std::vector<std::string> filesFromUriList(const char *uriList);
    /// Registers dropped files as the "open file" dialog does, once the toolkit is idle
    /// (the drop has finished by then); both windows accept file drops.
    void openDroppedFiles(const std::vector<std::string> &files);
    /// Starts the toolkit and opens the display (the constructor does it otherwise); ends
    /// the program with a message on standard error when the display cannot be opened.
    static void initToolkit();

    /// Toolkit state, defined where the toolkit is included.
    struct Impl;

private:
    static void quitLoop();

    Impl *impl;
    std::unique_ptr<WindowHost> host; ///< what the scene's elements see of these windows
};

#endif
