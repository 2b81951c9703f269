#include "gui/MainMenus.h"

#include "app/GLMachine.h"
#include "app/KeyHelp.h"
#include "core/GLObject.h"
#include "gui/FileDialog.h"
#include "gui/MainInterfaceImpl.h"
#include "formats/RecentFiles.h"
#include "formats/UserSettings.h"
#include "math/Messages.h"

#include <gdk/gdkkeysyms.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>


namespace {

constexpr GdkModifierType kNone = static_cast<GdkModifierType>(0);

} // namespace

// The items of the File and Help menus, in their order; a null label is a separator.
const MainMenus::Item MainMenus::kFileMenu[] = {
    {"_Add", GDK_a, GDK_CONTROL_MASK, &MainMenus::openFileDialog},
    {"_Remove", GDK_r, GDK_CONTROL_MASK, &MainMenus::removeSelected},
    {nullptr, 0, kNone, nullptr},
    {"_Up", GDK_u, GDK_CONTROL_MASK, &MainMenus::moveSelectedUp},
    {"_Down", GDK_d, GDK_CONTROL_MASK, &MainMenus::moveSelectedDown},
    {nullptr, 0, kNone, nullptr},
    {"_Preferences", GDK_p, GDK_CONTROL_MASK, &MainMenus::openPreferences},
    {nullptr, 0, kNone, nullptr},
    {"_Quit", GDK_q, kNone, &MainMenus::quit},
};

const MainMenus::Item MainMenus::kHelpMenu[] = {
    {"_Help", GDK_h, kNone, &MainMenus::createHelpDialog},
    {nullptr, 0, kNone, nullptr},
    {"About Velmora", 0, kNone, &MainMenus::createAboutDialog},
};

const MainMenus::Item MainMenus::kViewMenu[] = {
    {"_Fit all", 0, kNone, &MainMenus::fitAll},
    {"_Reset camera", 0, kNone, &MainMenus::resetCamera},
    {"Orientation _triad", 0, kNone, &MainMenus::toggleTriad},
    {nullptr, 0, kNone, nullptr},
    {"_Measure", 0, kNone, &MainMenus::toggleMeasure},
    {"Set _scale...", 0, kNone, &MainMenus::openSetScale},
    {nullptr, 0, kNone, nullptr},
    {"_A/B split view", 0, kNone, &MainMenus::cycleSplitView},
    {"S_wap A and B", 0, kNone, &MainMenus::swapSides},
};

GtkWidget *MainMenus::addMenu(const char *title, const Item *items, size_t count)
{
    GtkWidget *menu = gtk_menu_new();
    for (size_t i = 0; i < count; ++i) {
        const Item &entry = items[i];
        if (!entry.label) {
            gtk_menu_shell_append(GTK_MENU_SHELL(menu), gtk_separator_menu_item_new());
            continue;
        }
        GtkWidget *item = gtk_menu_item_new_with_mnemonic(entry.label);
        g_object_set_data(G_OBJECT(item), "menu-item", const_cast<Item *>(&entry));
        g_signal_connect(item, "activate", G_CALLBACK(onMenuItem), this);
        if (entry.accel)
            gtk_widget_add_accelerator(item, "activate", win.mainAccelGroup, entry.accel, entry.mods, GTK_ACCEL_VISIBLE);
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
    }
    GtkWidget *top = gtk_menu_item_new_with_mnemonic(title);
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(top), menu);
    gtk_menu_shell_append(GTK_MENU_SHELL(win.mainMenuBar), top);
    return top;
}

void MainMenus::createMenuBar(GtkWidget *box)
{
    win.mainMenuBar = gtk_menu_bar_new();
    gtk_box_pack_start(GTK_BOX(box), win.mainMenuBar, FALSE, FALSE, 0);
    addRecentFilesMenu(addMenu("_File", kFileMenu, sizeof kFileMenu / sizeof kFileMenu[0]));
    addUpAxisMenu(addMenu("_View", kViewMenu, sizeof kViewMenu / sizeof kViewMenu[0]));
    GtkWidget *help = addMenu("_Help", kHelpMenu, sizeof kHelpMenu / sizeof kHelpMenu[0]);
    gtk_menu_item_set_right_justified(GTK_MENU_ITEM(help), TRUE);
}

void MainMenus::onMenuItem(GtkMenuItem *item, gpointer data)
{
    const Item *entry = static_cast<const Item *>(g_object_get_data(G_OBJECT(item), "menu-item"));
    if (entry && entry->run)
        (static_cast<MainMenus *>(data)->*(entry->run))();
}

void MainMenus::quit() { win.self->stopLoop(); }

void MainMenus::removeSelected()
{
    GLObject *element = win.self->getSelectedObject();
    if (element && win.machine) {
        win.self->unregisterInterface(element);
        win.machine->unregisterObject(element);
    }
}

void MainMenus::addUpAxisMenu(GtkWidget *viewTitle)
{
    GtkWidget *view = gtk_menu_item_get_submenu(GTK_MENU_ITEM(viewTitle));
    gtk_menu_shell_append(GTK_MENU_SHELL(view), gtk_separator_menu_item_new());
    GtkWidget *axes = gtk_menu_new();
    GSList *group = nullptr;
    const std::pair<const char *, UpAxis> choices[] = {
        {"By file", UpAxis::ByFile}, {"+Y", UpAxis::PlusY}, {"+Z", UpAxis::PlusZ}};
    for (const auto &[label, axis] : choices) {
        GtkWidget *item = gtk_radio_menu_item_new_with_label(group, label);
        group = gtk_radio_menu_item_get_group(GTK_RADIO_MENU_ITEM(item));
        g_object_set_data(G_OBJECT(item), "up-axis", GINT_TO_POINTER(static_cast<int>(axis)));
        win.upAxisItems[static_cast<int>(axis)] = item;
        gtk_menu_shell_append(GTK_MENU_SHELL(axes), item);
    }
    showUpAxis();
    for (GtkWidget *item : win.upAxisItems)
        g_signal_connect(item, "toggled", G_CALLBACK(onUpAxisItem), this);
    // The axis may have been set since (the command line, Preferences): shown as it is now.
    g_signal_connect_swapped(viewTitle, "activate", G_CALLBACK(+[](gpointer data) {
                                 static_cast<MainMenus *>(data)->showUpAxis();
                             }),
                             this);
    GtkWidget *title = gtk_menu_item_new_with_mnemonic("_Up axis");
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(title), axes);
    gtk_menu_shell_append(GTK_MENU_SHELL(view), title);
}

void MainMenus::addRecentFilesMenu(GtkWidget *fileTitle)
{
    GtkWidget *file = gtk_menu_item_get_submenu(GTK_MENU_ITEM(fileTitle));
    win.recentFiles = gtk_menu_new();
    GtkWidget *title = gtk_menu_item_new_with_mnemonic("Recent _files");
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(title), win.recentFiles);
    gtk_menu_shell_insert(GTK_MENU_SHELL(file), title, 1);
    showRecentFiles();
    // Other runs and this one's files may have changed the list since: made again on opening.
    g_signal_connect_swapped(fileTitle, "activate", G_CALLBACK(+[](gpointer data) {
                                 static_cast<MainMenus *>(data)->showRecentFiles();
                             }),
                             this);
}

void MainMenus::showRecentFiles()
{
    GList *old = gtk_container_get_children(GTK_CONTAINER(win.recentFiles));
    for (GList *i = old; i; i = i->next)
        gtk_widget_destroy(GTK_WIDGET(i->data));
    g_list_free(old);
    const std::vector<std::string> files = RecentFiles::list();
    for (const std::string &path : files) {
        gchar *name = g_path_get_basename(path.c_str());
        GtkWidget *item = gtk_menu_item_new_with_label(name);
        g_free(name);
        gtk_widget_set_tooltip_text(item, path.c_str());
        g_object_set_data_full(G_OBJECT(item), "path", g_strdup(path.c_str()), g_free);
        g_signal_connect(item, "activate", G_CALLBACK(onRecentFile), this);
        gtk_menu_shell_append(GTK_MENU_SHELL(win.recentFiles), item);
    }
    if (files.empty()) {
        GtkWidget *none = gtk_menu_item_new_with_label("(none yet)");
        gtk_widget_set_sensitive(none, FALSE);
        gtk_menu_shell_append(GTK_MENU_SHELL(win.recentFiles), none);
    }
    gtk_widget_show_all(win.recentFiles);
}

void MainMenus::onRecentFile(GtkMenuItem *item, gpointer data)
{
    MainMenus *self = static_cast<MainMenus *>(data);
    const std::string path = static_cast<const char *>(g_object_get_data(G_OBJECT(item), "path"));
    if (self->win.machine)
        self->win.machine->openFile(path.c_str());
}

std::string MainMenus::startFolder() const
{
    if (!win.lastDirectory.empty())
        return win.lastDirectory;
    for (const std::string &path : RecentFiles::list()) {
        gchar *folder = g_path_get_dirname(path.c_str());
        const std::string found = g_file_test(folder, G_FILE_TEST_IS_DIR) ? folder : "";
        g_free(folder);
        if (!found.empty())
            return found;
    }
    gchar *here = g_get_current_dir();
    const std::string folder = here;
    g_free(here);
    return folder;
}

void MainMenus::onUpAxisItem(GtkCheckMenuItem *item, gpointer data)
{
    MainMenus *self = static_cast<MainMenus *>(data);
    if (self->showingUpAxis || !gtk_check_menu_item_get_active(item))
        return;
    self->chooseUpAxis(static_cast<UpAxis>(GPOINTER_TO_INT(g_object_get_data(G_OBJECT(item), "up-axis"))));
}

void MainMenus::chooseUpAxis(UpAxis axis)
{
    if (!win.machine)
        return;
    win.machine->setUpAxis(axis);
    showUpAxis();
    if (!upaxis::keep(axis))
        msg::warning("MainInterface: the up axis could not be kept for the next runs (%s)\n",
                     UserSettings::defaultPath().c_str());
}

void MainMenus::showUpAxis()
{
    GtkWidget *item = win.upAxisItems[static_cast<int>(win.machine ? win.machine->getUpAxis() : UpAxis::ByFile)];
    if (!item)
        return;
    showingUpAxis = true;
    gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(item), TRUE);
    showingUpAxis = false;
}

void MainMenus::fitAll()
{
    if (win.machine)
        win.machine->fitAll();
}

void MainMenus::resetCamera()
{
    if (win.machine)
        win.machine->resetCamera();
}

void MainMenus::toggleTriad()
{
    if (win.machine)
        win.machine->toggleTriad();
}

void MainMenus::toggleMeasure()
{
    if (win.machine)
        win.machine->notifyCommand('M');
}

void MainMenus::cycleSplitView()
{
    if (win.machine)
        win.machine->notifyCommand('A');
}

void MainMenus::swapSides()
{
    if (win.machine)
        win.machine->notifyCommand('w');
}

void MainMenus::openSetScale()
{
    if (!win.machine)
        return;
    const double measured = win.machine->getMeasure().distance();
    if (!(measured > 0)) {
        msg::error("Set scale: measure a distance first: two clicks with the measure tool (key M)\n");
        return;
    }
    GtkWidget *dialog = gtk_dialog_new_with_buttons("Set scale", GTK_WINDOW(win.controlWindow), GTK_DIALOG_MODAL,
                                                    GTK_STOCK_CANCEL, GTK_RESPONSE_CANCEL, GTK_STOCK_OK,
                                                    GTK_RESPONSE_ACCEPT, nullptr);
    char text[96];
    std::snprintf(text, sizeof text, "The distance A-B measured, %.6g, is in fact:", measured);
    gtk_box_pack_start(GTK_BOX(GTK_DIALOG(dialog)->vbox), gtk_label_new(text), FALSE, FALSE, 4);
    GtkWidget *entry = gtk_entry_new();
    gtk_widget_set_name(entry, "length");
    gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    gtk_box_pack_start(GTK_BOX(GTK_DIALOG(dialog)->vbox), entry, FALSE, FALSE, 4);
    gtk_widget_show_all(dialog);
    if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
        // Whatever the locale, a point is the decimal separator.
        const char *typed = gtk_entry_get_text(GTK_ENTRY(entry));
        char *end = nullptr;
        const double length = g_ascii_strtod(typed, &end);
        std::string why = "not a number: " + std::string(typed);
        if (end == typed || *end != '\0' || !win.machine->setScale(length, why))
            msg::error("Set scale: %s\n", why.c_str());
    }
    gtk_widget_destroy(dialog);
}

void MainMenus::moveSelectedUp() { win.self->moveListEntry(true); }
void MainMenus::moveSelectedDown() { win.self->moveListEntry(false); }
void MainMenus::openPreferences() { win.preferences.open(); }

void MainMenus::openFileDialog()
{
    // "Open folder" opens the selected folder (or the one shown), for the reconstructions
    // that are a folder of files, such as a COLMAP model.
    const int openFolder = 1;
    GtkWidget *dialog = gtk_file_chooser_dialog_new("open file", GTK_WINDOW(win.controlWindow), GTK_FILE_CHOOSER_ACTION_OPEN,
                                                    "Open _folder", openFolder, GTK_STOCK_CANCEL, GTK_RESPONSE_CANCEL,
                                                    GTK_STOCK_OK, GTK_RESPONSE_ACCEPT, nullptr);
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_MOUSE);
    gtk_file_chooser_set_select_multiple(GTK_FILE_CHOOSER(dialog), TRUE);
    // Not the toolkit's "Recently Used", which lists nothing of ours.
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dialog), startFolder().c_str());
    FileDialog::addModelFilters(GTK_FILE_CHOOSER(dialog));
    PickOrder order;
    PickOrder::follow(GTK_FILE_CHOOSER(dialog), &order);
    std::vector<std::string> names;
    const int response = gtk_dialog_run(GTK_DIALOG(dialog));
    if (response == GTK_RESPONSE_ACCEPT || response == openFolder) {
        for (const std::string &name : order.ordered(PickOrder::namesOf(GTK_FILE_CHOOSER(dialog))))
            if (response == GTK_RESPONSE_ACCEPT || g_file_test(name.c_str(), G_FILE_TEST_IS_DIR))
                names.push_back(name);
        if (response == openFolder && names.empty()) {
            gchar *shown = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(dialog));
            if (shown) {
                names.emplace_back(shown);
                g_free(shown);
            }
        }
        gchar *folder = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(dialog));
        if (folder) {
            win.lastDirectory = folder;
            g_free(folder);
        }
    }
    gtk_widget_destroy(dialog);
    // Registered after the dialog is gone, in the order they were chosen.
    for (const std::string &name : names)
        if (win.machine)
            win.machine->openFile(name.c_str());
}

void MainMenus::createHelpDialog()
{
    GtkWidget *dialog = gtk_dialog_new_with_buttons("Help", nullptr, static_cast<GtkDialogFlags>(0), "OK",
                                                    GTK_RESPONSE_OK, nullptr);
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    GtkWidget *frame = gtk_frame_new("key shortcuts");
    gtk_box_pack_start(GTK_BOX(GTK_DIALOG(dialog)->vbox), frame, TRUE, TRUE, 4);
    GtkWidget *columns = gtk_hbox_new(FALSE, 16);
    gtk_container_add(GTK_CONTAINER(frame), columns);

    // Made from the binding tables that the keys run through, so it lists what they do.
    for (const auto &column : KeyHelp::columns()) {
        const std::vector<KeyHelp::Row> rows = KeyHelp::rows(column);
        GtkWidget *table = gtk_table_new(static_cast<guint>(std::max<size_t>(1, rows.size())), 2, FALSE);
        gtk_table_set_col_spacings(GTK_TABLE(table), 12);
        // Rows keep their height: a shorter column ends higher up.
        const GtkAttachOptions fill = static_cast<GtkAttachOptions>(GTK_EXPAND | GTK_FILL);
        for (size_t r = 0; r < rows.size(); ++r) {
            const guint row = static_cast<guint>(r);
            GtkWidget *keyLabel = gtk_label_new(nullptr);
            gchar *markup = g_markup_printf_escaped(rows[r].heading ? "<b><i>%s</i></b>" : "<b>%s</b>",
                                                    rows[r].keys.c_str());
            gtk_label_set_markup(GTK_LABEL(keyLabel), markup);
            g_free(markup);
            gtk_misc_set_alignment(GTK_MISC(keyLabel), 0, 0.5f);
            if (rows[r].heading) {
                gtk_table_attach(GTK_TABLE(table), keyLabel, 0, 2, row, row + 1, fill, GTK_FILL, 0, 0);
                continue;
            }
            GtkWidget *desc = gtk_label_new(rows[r].description.c_str());
            gtk_misc_set_alignment(GTK_MISC(desc), 0, 0.5f);
            gtk_table_attach(GTK_TABLE(table), keyLabel, 0, 1, row, row + 1, fill, GTK_FILL, 0, 0);
            gtk_table_attach(GTK_TABLE(table), desc, 1, 2, row, row + 1, fill, GTK_FILL, 0, 0);
        }
        gtk_box_pack_start(GTK_BOX(columns), table, TRUE, TRUE, 4);
    }
    g_signal_connect(dialog, "response", G_CALLBACK(gtk_widget_destroy), nullptr);
    gtk_widget_show_all(dialog);
}

void MainMenus::createAboutDialog()
{
    GtkWidget *dialog = gtk_dialog_new();
    gtk_window_set_title(GTK_WINDOW(dialog), "About");
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    GtkWidget *title = gtk_label_new(nullptr);
    gtk_label_set_markup(GTK_LABEL(title), "<span size=\"x-large\" weight=\"bold\">\nVelmora 1.1.0</span>");
    gtk_box_pack_start(GTK_BOX(GTK_DIALOG(dialog)->vbox), title, TRUE, TRUE, 4);
    GtkWidget *authors = gtk_label_new("A viewer for image-based 3D reconstruction by the Velmora developers");
    gtk_box_pack_start(GTK_BOX(GTK_DIALOG(dialog)->vbox), authors, TRUE, TRUE, 4);
    GtkWidget *ok = gtk_dialog_add_button(GTK_DIALOG(dialog), "OK", GTK_RESPONSE_OK);
    gtk_widget_grab_focus(ok);
    g_signal_connect(dialog, "response", G_CALLBACK(gtk_widget_destroy), nullptr);
    gtk_widget_show_all(dialog);
}
