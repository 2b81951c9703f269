#ifndef VELMORA_ELEMENTPANEL_H
#define VELMORA_ELEMENTPANEL_H

#include "gui/GtkPanel.h"

#include <gtk/gtk.h>

#include <string>
#include <vector>

class GLObject;

/// What every element panel shares: the accelerator group, the menu (a title item whose
/// submenu the panel fills; 3D objects start it with "Show bounding box" and "Show Object
/// Axes"), the main box with the "information" frame, buttons that send the element one of
/// its key codes, and the dialogs the panel opened, which close with it.
///
/// Controls that mirror a state of the element (check items, toggles, radio buttons) are
/// set again by update(); while it runs their handlers do nothing, so refreshing never acts
/// on the element.
class ElementPanel : public GtkPanel {
public:
    /// With `commonItems` false a 3D object's menu starts empty (its panel has nothing
    /// beyond the title).
    ElementPanel(GLObject *element, const char *menuTitle, bool commonItems = true);
    ~ElementPanel() override;

    ElementPanel(const ElementPanel &) = delete;
    ElementPanel &operator=(const ElementPanel &) = delete;

    /// Runs the menu item `key`; the base panel knows "bbox" and "axes" (3D objects only).
    /// Every menu action ends with a redraw request.
    virtual void menuBarResponse(const char *key);
    /// Sends `key` to the element's command handler as the keyboard does, asks for a redraw
    /// and refreshes the panel. Returns whether the element took it.
    virtual bool sendKey(int key);
    /// The information text and the state controls, from the element.
    void update() override;

    GLObject *getElement() const { return element; }
    /// The panel's menu (the submenu under its title).
    GtkWidget *getMenu() const { return menu; }
    /// The text of the "information" frame as shown.
    std::string getInformationText() const;
    /// The dialogs this panel opened that are still open, oldest first.
    std::vector<GtkWidget *> getOpenDialogs() const;
    /// The open dialog titled `title`, null when none is.
    GtkWidget *getOpenDialog(const char *title) const;

    /// The element's information text: getInformation() of meshes and other 3D objects,
    /// the views of a camera.
    static std::string informationOf(GLObject *element);

protected:
    /// The "information" frame with the element's text (3D object panels get it first
    /// thing; other panels call it where they want it).
    void addInformationFrame();
    /// A menu item that calls menuBarResponse(key); `accel` (0 for none) is its accelerator
    /// in the panel's group. Added to `into`, or to the panel's menu when null.
    GtkWidget *addMenuItem(const char *label, const char *key, guint accel = 0, GtkWidget *into = nullptr);
    /// A check item that calls menuBarResponse(key) when the user flips it; its state
    /// follows `state` (called with the element on every update).
    GtkWidget *addCheckMenuItem(const char *label, const char *key, bool (*state)(GLObject *),
                                GtkWidget *into = nullptr);
    /// A submenu item titled `label` in the panel's menu; returns the submenu.
    GtkWidget *addSubmenu(const char *label);
    /// A framed box titled `title` packed in `into` (the main box when null).
    GtkWidget *addFrame(const char *title, GtkWidget *into = nullptr, bool vertical = true);
    /// A button sending `key` when clicked (or, with onPress, as soon as it is pressed).
    GtkWidget *addKeyButton(GtkWidget *box, const char *label, int key, bool onPress = false);
    /// A button sending `key` whose face is an arrow.
    GtkWidget *addArrowButton(GtkWidget *box, GtkArrowType arrow, int key);
    /// A toggle button sending `key` whenever the user flips it; shows `state`.
    GtkWidget *addKeyToggle(GtkWidget *box, const char *label, int key, bool (*state)(GLObject *));
    /// Keeps `dialog` until the user closes it; the panel destroys it when it goes first.
    void adoptDialog(GtkWidget *dialog);
    /// Makes the view's OpenGL context current for operations that touch textures.
    void makeViewCurrent();
    /// Asks the window for a redraw of the scene.
    void redraw();

    /// Controls refreshed by update(), with the element state they show.
    struct StateControl {
        GtkWidget *widget;
        bool (*state)(GLObject *);
    };

    GLObject *element;
    GtkWidget *menu;
    GtkWidget *box;
    GtkWidget *informationLabel;
    std::vector<StateControl> stateControls;
    bool updating;

private:
    static void onMenuItem(GtkMenuItem *item, gpointer data);
    static void onKeyButton(GtkButton *button, gpointer data);
    static void onKeyToggle(GtkToggleButton *button, gpointer data);
    static void onDialogGone(gpointer data, GObject *dialog);

    std::vector<GtkWidget *> dialogs;
};

/// Finds the widget named `name` under `root` (root included). Prints "Widget not found: %s"
/// and returns null when there is none.
GtkWidget *lookupWidget(GtkWidget *root, const char *name);

#endif
