#include "gui/GLPointListObjectInterface.h"

#include "gui/ListDialog.h"
#include "objects/ColorMap.h"
#include "objects/GLPointListObject.h"

#include <gtk/gtk.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

void onMenuItem(GtkMenuItem *item, gpointer data)
{
    const char *key = static_cast<const char *>(g_object_get_data(G_OBJECT(item), "menu-key"));
    if (key)
        static_cast<GLPointListObjectInterface *>(data)->menuBarResponse(key);
}

void onButton(GtkButton *button, gpointer data)
{
    const int key = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "key"));
    static_cast<GLPointListObjectInterface *>(data)->sendCommand(key);
}

GtkWidget *keyButton(const char *label, int key, gpointer panel)
{
    GtkWidget *b = gtk_button_new_with_label(label);
    g_object_set_data(G_OBJECT(b), "key", GINT_TO_POINTER(key));
    g_signal_connect(b, "clicked", G_CALLBACK(onButton), panel);
    return b;
}

} // namespace

GLPointListObjectInterface::GLPointListObjectInterface(GLPointListObject *c) : cloud(c), information(nullptr), paletteDialog(nullptr)
{
    accelGroup = gtk_accel_group_new();
    createMenuBar();
    createInterface();
}

GLPointListObjectInterface::~GLPointListObjectInterface()
{
    // The palette dialog calls the panel back: it goes with it.
    if (paletteDialog) {
        g_object_remove_weak_pointer(G_OBJECT(paletteDialog), &paletteDialog);
        gtk_widget_destroy(static_cast<GtkWidget *>(paletteDialog));
    }
    if (mainWidget) {
        gtk_widget_destroy(static_cast<GtkWidget *>(mainWidget));
        g_object_unref(mainWidget);
    }
    if (mainMenuBar) {
        gtk_widget_destroy(static_cast<GtkWidget *>(mainMenuBar));
        g_object_unref(mainMenuBar);
    }
    if (accelGroup)
        g_object_unref(accelGroup);
}

void GLPointListObjectInterface::createMenuBar()
{
    GtkWidget *menu = gtk_menu_new();
    gtk_menu_set_accel_group(GTK_MENU(menu), GTK_ACCEL_GROUP(accelGroup));
    const char *labels[3] = {"Show bounding box", "Show Object Axes", "Palette properties..."};
    const char *keys[3] = {"bbox", "axes", "palette"};
    for (int i = 0; i < 3; ++i) {
        GtkWidget *item = i < 2 ? gtk_check_menu_item_new_with_label(labels[i]) : gtk_menu_item_new_with_label(labels[i]);
        g_object_set_data(G_OBJECT(item), "menu-key", const_cast<char *>(keys[i]));
        g_signal_connect(item, "activate", G_CALLBACK(onMenuItem), this);
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
    }
    GtkWidget *title = gtk_menu_item_new_with_label("PointList");
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(title), menu);
    mainMenuBar = g_object_ref_sink(title);
}

void GLPointListObjectInterface::createInterface()
{
    GtkWidget *box = gtk_vbox_new(FALSE, 0);
    GtkWidget *frame = gtk_frame_new("information");
    GtkWidget *label = gtk_label_new(cloud->getInformation().c_str());
    gtk_misc_set_alignment(GTK_MISC(label), 0, 0);
    gtk_container_add(GTK_CONTAINER(frame), label);
    information = label;
    gtk_box_pack_start(GTK_BOX(box), frame, FALSE, FALSE, 2);

    GtkWidget *modes = gtk_frame_new("visualization mode");
    GtkWidget *row = gtk_hbox_new(TRUE, 2);
    gtk_box_pack_start(GTK_BOX(row), keyButton("Data", '1', this), TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(row), keyButton("Zbuffer", '2', this), TRUE, TRUE, 0);
    gtk_container_add(GTK_CONTAINER(modes), row);
    gtk_box_pack_start(GTK_BOX(box), modes, FALSE, FALSE, 2);

    GtkWidget *size = gtk_frame_new("point size");
    GtkWidget *sizes = gtk_hbox_new(TRUE, 2);
    gtk_box_pack_start(GTK_BOX(sizes), keyButton("+", '+', this), TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(sizes), keyButton("-", '-', this), TRUE, TRUE, 0);
    gtk_container_add(GTK_CONTAINER(size), sizes);
    gtk_box_pack_start(GTK_BOX(box), size, FALSE, FALSE, 2);
    mainWidget = g_object_ref_sink(box);
}

void GLPointListObjectInterface::update()
{
    if (information)
        gtk_label_set_text(GTK_LABEL(information), cloud->getInformation().c_str());
}

void GLPointListObjectInterface::sendCommand(int command)
{
    cloud->notifyCommand(command);
    cloud->postRedisplay();
}

void GLPointListObjectInterface::setColorMap(int index) { cloud->setColorMap(index); }

void GLPointListObjectInterface::menuBarResponse(const char *key)
{
    if (std::strcmp(key, "bbox") == 0) {
        cloud->toggleBoundingBox();
    } else if (std::strcmp(key, "axes") == 0) {
        cloud->toggleAxes();
    } else if (std::strcmp(key, "palette") == 0 && paletteDialog) {
        gtk_window_present(GTK_WINDOW(paletteDialog));
    } else if (std::strcmp(key, "palette") == 0) {
        std::vector<std::string> names;
        for (int i = 0; i < ColorMap::getNumberOfColorMaps(); ++i)
            names.push_back(ColorMap::getColorMapName(i));
        ListDialog *dialog = new ListDialog("Palette properties", names,
                                            fastdelegate::MakeDelegate(this, &GLPointListObjectInterface::setColorMap));
        // The current map starts selected; choosing it again changes nothing.
        GtkTreePath *path = gtk_tree_path_new_from_indices(cloud->getColorMap(), -1);
        gtk_tree_selection_select_path(gtk_tree_view_get_selection(dialog->getList()), path);
        gtk_tree_path_free(path);
        paletteDialog = dialog->getDialog();
        g_object_add_weak_pointer(G_OBJECT(paletteDialog), &paletteDialog);
    }
    cloud->postRedisplay();
}
