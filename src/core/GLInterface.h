#ifndef VELMORA_GLINTERFACE_H
#define VELMORA_GLINTERFACE_H

class ElementWindow;

/// Base of every element panel: the panel's widgets and the main window that shows it.
/// Widgets are held as opaque pointers so that this header needs no toolkit.
class GLInterface {
public:
    GLInterface();
    explicit GLInterface(void *mainWidget);
    virtual ~GLInterface();

    /// Refreshes the panel's controls from its element; the base panel has none.
    virtual void update();

    void *getMainWidget() const { return mainWidget; }
    void *getMainMenuBar() const { return mainMenuBar; }
    ElementWindow *getParent() const { return parent; }
    void setParent(ElementWindow *p) { parent = p; }
    void *getAccelGroup() const { return accelGroup; }
    void setAccelGroup(void *group) { accelGroup = group; }

protected:
    void *mainWidget;        ///< the panel's top widget, placed in the main window's panel area
    void *mainMenuBar;       ///< the panel's own menu bar
    void *accelGroup;        ///< accelerators attached to the main window while selected
    ElementWindow *parent;   ///< the window showing the panel, not owned
};

#endif
