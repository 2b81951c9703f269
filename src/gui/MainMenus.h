#ifndef VELMORA_MAINMENUS_H
#define VELMORA_MAINMENUS_H

#include "core/UpAxis.h"
#include "gui/MainInterface.h"
#include "math/NonCopyable.h"

#include <gtk/gtk.h>

#include <cstddef>
#include <string>

/// The control window's own menus (File, View, Help) and what they open: the "open file" dialog,
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
    void fitAll();
    void resetCamera();
    void toggleTriad();
    /// The measure tool, the split view and the swap of its sides, as their keys (M, A, w).
    void toggleMeasure();
    void cycleSplitView();
    void swapSides();
    /// "Set scale...": asks for the length the measured distance A-B stands for and scales
    /// the scene and its cameras to it.
    void openSetScale();
    /// The scene takes `axis`, the View menu shows it and it is kept for the next runs.
    void chooseUpAxis(UpAxis axis);
    /// The View menu shows the scene's axis.
    void showUpAxis();
    /// The folder "open file" starts in: that of the last file opened (in this run, else in
    /// an earlier one while it is there), else the working folder.
    std::string startFolder() const;
    /// The File menu's "Recent files" lists the recent files as they are kept now.
    void showRecentFiles();

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
    static const Item kViewMenu[];
    /// The View menu's "Up axis" choices, after its items.
    void addUpAxisMenu(GtkWidget *viewTitle);
    static void onUpAxisItem(GtkCheckMenuItem *item, gpointer data);
    bool showingUpAxis = false;
    /// The File menu's "Recent files" submenu, after "Add".
    void addRecentFilesMenu(GtkWidget *fileTitle);
    static void onRecentFile(GtkMenuItem *item, gpointer data);

    /// Appends the menu `title` of `items` to the menu bar; returns its title item.
    GtkWidget *addMenu(const char *title, const Item *items, size_t count);
    static void onMenuItem(GtkMenuItem *item, gpointer data);

    MainInterface::Impl &win;
};

#endif
