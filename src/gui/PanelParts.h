#ifndef VELMORA_PANELPARTS_H
#define VELMORA_PANELPARTS_H

#include "gui/FastDelegate.h"

#include <gtk/gtk.h>

#include <string>

class GL3DObject;

/// The pieces the 3D object panels share: the menu with its two common check items, the
/// "information" frame, framed rows of key buttons and labelled sliders. Callables are bound
/// through the Delegate binders, so a connection lives exactly as long as its widget.
namespace PanelParts {

/// A menu attached to `group`, beginning with "Show bounding box" ("bbox") and "Show Object
/// Axes" ("axes"), whose items call `respond` with their key.
GtkWidget *menuWithCommonItems(GtkAccelGroup *group, const GL3DObject *object,
                               fastdelegate::FastDelegate1<const char *> respond);
/// Appends a plain item (or a check item showing `checked` when `check` is set) calling
/// `respond` with `key`.
GtkWidget *addMenuItem(GtkWidget *menu, const char *label, const char *key,
                       fastdelegate::FastDelegate1<const char *> respond, bool check = false, bool checked = false);
/// The menu-bar entry `title` holding `menu`, referenced so that it outlives reparenting.
void *menuBarEntry(const char *title, GtkWidget *menu);

/// The "information" frame showing `text`, packed into `box`.
void addInformation(GtkWidget *box, const std::string &text);
/// A frame `title` packed into `box`, holding a horizontal row that is returned.
GtkWidget *addFrameRow(GtkWidget *box, const char *title);
/// A frame `title` packed into `box`, holding a vertical box that is returned.
GtkWidget *addFrameColumn(GtkWidget *box, const char *title);
/// A button `label` in `row` that calls `press` with `key`.
GtkWidget *addKeyButton(GtkWidget *row, const char *label, int key, fastdelegate::FastDelegate1<int> press);
/// A toggle `label` in `row` showing `active`, calling `press` with `key` on every change.
GtkWidget *addKeyToggle(GtkWidget *row, const char *label, bool active, int key,
                        fastdelegate::FastDelegate1<int> press);
/// A horizontal slider over [lo, hi] (widened to a unit range when empty) at `value`, named
/// `name` (so that tests can find it), with `label` before it, packed into `column`;
/// `moved` receives the slider on every value change.
GtkWidget *addSlider(GtkWidget *column, const char *label, const char *name, double lo, double hi, double value,
                     int digits, fastdelegate::FastDelegate1<GtkWidget *> moved);

/// The palette dialog "Palette properties": the colour maps by name with `current`
/// preselected; choosing one calls `choose` with its index. Returns the dialog window, which
/// goes away by itself when closed.
GtkWidget *openPaletteDialog(int current, fastdelegate::FastDelegate1<int> choose);

/// Keeps `*slot` pointing at `dialog` until the dialog is destroyed (then null).
void watchDialog(GtkWidget *dialog, GtkWidget **slot);
/// Destroys the dialog `*slot` points at, if any (a panel going away takes its dialogs along,
/// since they act on the panel's element).
void closeDialog(GtkWidget **slot);

/// Releases what a panel holds: its main widget, its menu-bar entry and its accelerators.
void destroyPanel(void *mainWidget, void *menuBar, void *accelGroup);

} // namespace PanelParts

#endif
