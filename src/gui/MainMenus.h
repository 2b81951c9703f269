#ifndef VELMORA_MAINMENUS_H
#define VELMORA_MAINMENUS_H

#include "gui/MainInterface.h"
#include "math/NonCopyable.h"

#include <gtk/gtk.h>

/// The control window's own menus (File, Help) and what they open: the "open file" dialog,
/// the key table of the Help window and the About window.
class MainMenus : NonCopyable {
public:
    explicit MainMenus(MainInterface::Impl &window) : win(window) {}

    /// The menu bar, packed at the top of `box`, with its accelerators.
    void createMenuBar(GtkWidget *box);
    /// Runs the menu item named `key` ("quit", "object.add", "preferences", "help.keys", ...).
    void menuResponse(const char *key);
    /// Registers the files (or the folder) the user chooses, in the order chosen.
    void openFileDialog();
    void createHelpDialog();
    void createAboutDialog();

private:
    void addMenuItem(GtkWidget *menu, const char *label, const char *key, guint accel, GdkModifierType mods);
    static void onMenuItem(GtkMenuItem *item, gpointer data);

    MainInterface::Impl &win;
};

#endif
