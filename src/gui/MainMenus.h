#ifndef VELMORA_MAINMENUS_H
#define VELMORA_MAINMENUS_H

#include "gui/MainInterface.h"
#include "math/NonCopyable.h"

#include <gtk/gtk.h>

#include <cstddef>

/// The control window's own menus (File, Help) and what they open: the "open file" dialog,
/// the key table of the Help window and the About window.
class MainMenus : NonCopyable {
public:
    explicit MainMenus(MainInterface::Impl &window) : win(window) {}

    /// The menu bar, packed at the top of `box`, with its accelerators.
    void createMenuBar(GtkWidget *box);
    /// Registers the files (or the folder) the user chooses, in the order chosen.
    void openFileDialog();
    void createHelpDialog();
    void createAboutDialog();
    /// Ends the event loop, as the key q does.
    void quit();
    /// The selected element leaves the scene and the list.
    void removeSelected();
    void moveSelectedUp();
    void moveSelectedDown();
    void openPreferences();

private:
    /// A menu item: its label (null for a separator), its accelerator and what it runs.
    struct Item {
        const char *label;
        guint accel;
        GdkModifierType mods;
        void (MainMenus::*run)();
    };
    static const Item kFileMenu[];
    static const Item kHelpMenu[];

    /// Appends the menu `title` of `items` to the menu bar; returns its title item.
    GtkWidget *addMenu(const char *title, const Item *items, size_t count);
    static void onMenuItem(GtkMenuItem *item, gpointer data);

    MainInterface::Impl &win;
};

#endif
