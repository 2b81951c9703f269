#ifndef VELMORA_ELEMENTPANEL_H
#define VELMORA_ELEMENTPANEL_H

#include "core/GLObject.h"
#include "gui/FastDelegate.h"
#include "gui/GtkPanel.h"
#include "math/NonCopyable.h"

#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

/// What every element panel shares: the accelerator group, the menu (a title item whose
/// submenu the panel fills; 3D objects start it with "Show bounding box" and "Show Object
/// Axes"), the main box with the "information" frame, buttons that run one of the element's
/// actions (with the label its binding table gives), and the dialogs the panel opened, which
/// close with it.
///
/// Controls that mirror a state of the element (check items, toggles, radio buttons) are
/// set again by update(); while it runs their handlers do nothing, so refreshing never acts
/// on the element.
class ElementPanel : public GtkPanel, NonCopyable {
public:
    /// How a panel's controls look. The slice panels (octree, volume) have toggle buttons
    /// filling their row, unpadded buttons, a bare information label and one palette dialog
    /// at a time; the other panels the defaults.
    struct Look {
        /// A 3D object's menu starts with "Show bounding box" and "Show Object Axes".
        bool commonItems = true;
        /// Toggles are toggle buttons filling their row, rather than check buttons.
        bool toggleButtons = false;
        /// Padding of buttons and toggles in their row.
        guint padding = 1;
        /// The information label sits in its frame directly, padded 4 by 2, rather than in a
        /// bordered box.
        bool bareInformation = false;
        /// Opening the palette dialog again replaces the open one, rather than adding another.
        bool onePaletteDialog = false;
        /// Asking for the palette dialog again brings the open one to the front instead.
        bool presentOpenPalette = false;
    };
    static Look sliceLook();

    /// With `commonItems` false a 3D object's menu starts empty (its panel has nothing
    /// beyond the title).
    ElementPanel(GLObject *element, const char *menuTitle, bool commonItems = true);
    ElementPanel(GLObject *element, const char *menuTitle, const Look &look);
    ~ElementPanel() override;

    /// Runs the menu item `key`: the action it was added with, else "bbox" and "axes" (3D
    /// objects only). Every menu action ends with a redraw request.
    virtual void menuBarResponse(const char *key);
    /// Runs the action of `row` (a row of the element's binding table) as its key would, asks
    /// for a redraw and refreshes the panel. Returns whether the element took it.
    bool sendAction(const KeyBinding &row);
    /// The same for an action of the element's kind, by value.
    template <class A>
    bool sendAction(A action)
    {
        return sendAction(rowOf(action));
    }
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
    /// A menu item that calls menuBarResponse(key); an underscore in `label` marks the letter
    /// that picks it in the open menu. `accel` (0 for none) is its accelerator
    /// in the panel's group. Added to `into`, or to the panel's menu when null.
    GtkWidget *addMenuItem(const char *label, const char *key, guint accel = 0, GtkWidget *into = nullptr);
    /// A check item that calls menuBarResponse(key) when the user flips it; its state
    /// follows `state` (called with the element on every update).
    GtkWidget *addCheckMenuItem(const char *label, const char *key, bool (*state)(GLObject *),
                                GtkWidget *into = nullptr);
    /// The same items, each running `action` when chosen (see menuBarResponse).
    GtkWidget *addMenuItem(const char *label, const char *key, std::function<void()> action, guint accel = 0,
                           GtkWidget *into = nullptr);
    GtkWidget *addCheckMenuItem(const char *label, const char *key, bool (*state)(GLObject *),
                                std::function<void()> action, GtkWidget *into = nullptr);
    /// A submenu item titled `label` in the panel's menu; returns the submenu.
    GtkWidget *addSubmenu(const char *label);
    /// A framed box titled `title` packed in `into` (the main box when null).
    GtkWidget *addFrame(const char *title, GtkWidget *into = nullptr, bool vertical = true);
    /// The row of `action` in the element's binding table.
    template <class A>
    const KeyBinding &rowOf(A action) const
    {
        return element->getBindings()->row(actionValue(action));
    }
    /// A button labelled as its row says, running the row's action when clicked (or, with
    /// onPress, as soon as it is pressed).
    GtkWidget *addActionButton(GtkWidget *box, const KeyBinding &row, bool onPress = false);
    template <class A>
    GtkWidget *addActionButton(GtkWidget *into, A action, bool onPress = false)
    {
        return addActionButton(into, rowOf(action), onPress);
    }
    /// A button running the row's action whose face is an arrow.
    GtkWidget *addArrowButton(GtkWidget *box, GtkArrowType arrow, const KeyBinding &row);
    /// A check button labelled as its row says, running the row's action whenever the user
    /// flips it; shows `state`.
    GtkWidget *addActionToggle(GtkWidget *box, const KeyBinding &row, bool (*state)(GLObject *));
    /// A button `label` whose click calls `press` with `value`.
    GtkWidget *addValueButton(GtkWidget *box, const char *label, int value, fastdelegate::FastDelegate1<int> press);
    /// Receives a slider the user moved, with its new value.
    using SliderMoved = fastdelegate::FastDelegate2<GtkWidget *, double>;
    /// A horizontal slider over [lo, hi] (widened to a unit range when empty) at `value`,
    /// named `name` (so that tests can find it), with `label` before it, packed into
    /// `column`; `moved` receives every value change but those update() makes.
    GtkWidget *addSlider(GtkWidget *column, const char *label, const char *name, double lo, double hi, double value,
                         int digits, SliderMoved moved);
    /// The menu item "Palette properties..." (key "palette"): its dialog lists the colour maps
    /// by name with `current()` preselected; choosing one calls `choose` with its index. The
    /// panel keeps the dialog (see adoptDialog).
    void addPaletteItem(std::function<int()> current, fastdelegate::FastDelegate1<int> choose);
    /// The frame "selection" of a cleanable element (GL3DObject::getCleaning(); nothing for
    /// another): the selection tool and the edits as buttons of their keys, and the rules with
    /// their settings (how they join the selection, the values and their range, the number of
    /// views of carving and the folder of masks). See ElementPanelCleaning.cpp.
    void addCleaningFrame();
    /// The menu item "Save as..." (key "saveAs") of a cleanable element: a file chooser whose
    /// name, by its extension, picks the format.
    void addSaveAsItem(const char *label = "Save as...");
    /// Saves the cleanable element to `path` ("Save as...").
    void saveChosen(const char *path);
    /// Keeps `dialog` until the user closes it; the panel destroys it when it goes first.
    void adoptDialog(GtkWidget *dialog);
    /// Closes the open dialog titled `title`, if any.
    void closeDialog(const char *title);
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
    std::vector<std::pair<GtkWidget *, SliderMoved>> sliders;
    bool updating;
    Look look;

private:
    void sliderChanged(GtkWidget *slider);
    static void onMenuItem(GtkMenuItem *item, gpointer data);
    static void onKeyButton(GtkButton *button, gpointer data);
    static void onKeyToggle(GtkToggleButton *button, gpointer data);
    static void onDialogGone(gpointer data, GObject *dialog);
    void openPaletteDialog();

    struct MenuAction {
        const char *key;
        std::function<void()> run;
    };

    std::vector<GtkWidget *> dialogs;
    std::vector<MenuAction> menuActions;
    std::function<int()> paletteCurrent;
    fastdelegate::FastDelegate1<int> paletteChoose;
};

/// Finds the widget named `name` under `root` (root included). Prints "Widget not found: %s"
/// and returns null when there is none.
GtkWidget *lookupWidget(GtkWidget *root, const char *name);

#endif
