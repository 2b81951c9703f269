#ifndef VELMORA_GTKPANEL_H
#define VELMORA_GTKPANEL_H

#include "core/GLInterface.h"

#include <gtk/gtk.h>

class GLObject;
class SceneWindow;

/// An element's panel as the main window places it: its top widget (shown in the control
/// window's panel area while the element is selected), its own menu-bar entry and the
/// accelerators of its menu. Every panel InterfaceLoader builds is one; the element itself
/// only knows the GLInterface part.
class GtkPanel : public GLInterface {
public:
    GtkWidget *getMainWidget() const { return mainWidget; }
    GtkWidget *getMainMenuBar() const { return mainMenuBar; }
    GtkAccelGroup *getAccelGroup() const { return accelGroup; }
    /// The window that lists the panel's element (its view is redrawn after a button), not owned.
    SceneWindow *getParent() const { return parent; }
    void setParent(SceneWindow *window) { parent = window; }

    /// The panel attached to `element`, or null when it has none (or one that is not the
    /// window layer's).
    static GtkPanel *of(const GLObject *element);

protected:
    GtkWidget *mainWidget = nullptr;      ///< holds a reference of its own while the panel lives
    GtkWidget *mainMenuBar = nullptr;     ///< the panel's menu-bar entry
    GtkAccelGroup *accelGroup = nullptr;  ///< added to the main window's windows while selected
    SceneWindow *parent = nullptr;
};

#endif
