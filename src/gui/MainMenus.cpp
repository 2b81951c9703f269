#include "gui/MainMenus.h"

#include "app/GLMachine.h"
#include "app/KeyHelp.h"
#include "core/GLObject.h"
#include "gui/FileDialog.h"
#include "gui/MainInterfaceImpl.h"

#include <gdk/gdkkeysyms.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>


void MainMenus::addMenuItem(GtkWidget *menu, const char *label, const char *key, guint accel,
                                      GdkModifierType mods)
{
    GtkWidget *item = gtk_menu_item_new_with_mnemonic(label);
    g_object_set_data(G_OBJECT(item), "menu-key", const_cast<char *>(key));
    g_signal_connect(item, "activate", G_CALLBACK(onMenuItem), this);
    if (accel)
        gtk_widget_add_accelerator(item, "activate", win.mainAccelGroup, accel, mods, GTK_ACCEL_VISIBLE);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
}

void MainMenus::createMenuBar(GtkWidget *box)
{
    win.mainMenuBar = gtk_menu_bar_new();
    gtk_box_pack_start(GTK_BOX(box), win.mainMenuBar, FALSE, FALSE, 0);

    GtkWidget *file = gtk_menu_new();
    addMenuItem(file, "_Add", "object.add", GDK_a, GDK_CONTROL_MASK);
    addMenuItem(file, "_Remove", "object.del", GDK_r, GDK_CONTROL_MASK);
    gtk_menu_shell_append(GTK_MENU_SHELL(file), gtk_separator_menu_item_new());
    addMenuItem(file, "_Up", "object.up", GDK_u, GDK_CONTROL_MASK);
    addMenuItem(file, "_Down", "object.down", GDK_d, GDK_CONTROL_MASK);
    gtk_menu_shell_append(GTK_MENU_SHELL(file), gtk_separator_menu_item_new());
    addMenuItem(file, "_Preferences", "preferences", GDK_p, GDK_CONTROL_MASK);
    gtk_menu_shell_append(GTK_MENU_SHELL(file), gtk_separator_menu_item_new());
    addMenuItem(file, "_Quit", "quit", GDK_q, static_cast<GdkModifierType>(0));
    GtkWidget *fileItem = gtk_menu_item_new_with_mnemonic("_File");
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(fileItem), file);
    gtk_menu_shell_append(GTK_MENU_SHELL(win.mainMenuBar), fileItem);

    GtkWidget *help = gtk_menu_new();
    addMenuItem(help, "_Help", "help.keys", GDK_h, static_cast<GdkModifierType>(0));
    gtk_menu_shell_append(GTK_MENU_SHELL(help), gtk_separator_menu_item_new());
    addMenuItem(help, "About Velmora", "help.about", 0, static_cast<GdkModifierType>(0));
    GtkWidget *helpItem = gtk_menu_item_new_with_mnemonic("_Help");
    gtk_menu_item_set_right_justified(GTK_MENU_ITEM(helpItem), TRUE);
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(helpItem), help);
    gtk_menu_shell_append(GTK_MENU_SHELL(win.mainMenuBar), helpItem);
}

void MainMenus::onMenuItem(GtkMenuItem *item, gpointer data)
{
    const char *key = static_cast<const char *>(g_object_get_data(G_OBJECT(item), "menu-key"));
    if (key)
        static_cast<MainMenus *>(data)->menuResponse(key);
}

void MainMenus::menuResponse(const char *key)
{
    if (std::strcmp(key, "quit") == 0) {
        if (win.machine)
            win.machine->notifyCommand('q');
    } else if (std::strcmp(key, "object.add") == 0) {
        openFileDialog();
    } else if (std::strcmp(key, "object.del") == 0) {
        GLObject *element = win.self->getSelectedObject();
        if (element && win.machine) {
            win.self->unregisterInterface(element);
            win.machine->unregisterObject(element);
        }
    } else if (std::strcmp(key, "object.up") == 0) {
        win.self->moveListEntry(true);
    } else if (std::strcmp(key, "object.down") == 0) {
        win.self->moveListEntry(false);
    } else if (std::strcmp(key, "preferences") == 0) {
        win.preferences.open();
    } else if (std::strcmp(key, "help.keys") == 0) {
        createHelpDialog();
    } else if (std::strcmp(key, "help.about") == 0) {
        createAboutDialog();
    }
}

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
    if (!win.lastDirectory.empty())
        gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dialog), win.lastDirectory.c_str());
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
            win.machine->registerObject(name.c_str());
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
