#include "gui/PanelParts.h"

#include "gui/Delegate1.h"
#include "gui/ListDialog.h"
#include "formats/ColorMap.h"
#include "objects/GL3DObject.h"

#include <vector>

namespace PanelParts {

GtkWidget *addMenuItem(GtkWidget *menu, const char *label, const char *key,
                       fastdelegate::FastDelegate1<const char *> respond, bool check, bool checked)
{
    GtkWidget *item = check ? gtk_check_menu_item_new_with_label(label) : gtk_menu_item_new_with_label(label);
    if (check)
        gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(item), checked);
    Delegate1<const char *>::connectObject(item, "activate", respond, key);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
    return item;
}

GtkWidget *menuWithCommonItems(GtkAccelGroup *group, const GL3DObject *object,
                               fastdelegate::FastDelegate1<const char *> respond)
{
    GtkWidget *menu = gtk_menu_new();
    gtk_menu_set_accel_group(GTK_MENU(menu), group);
    addMenuItem(menu, "Show bounding box", "bbox", respond, true, object->getShowBoundingBox());
    addMenuItem(menu, "Show Object Axes", "axes", respond, true, object->getShowAxes());
    return menu;
}

void *menuBarEntry(const char *title, GtkWidget *menu)
{
    GtkWidget *entry = gtk_menu_item_new_with_label(title);
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(entry), menu);
    // The menu and the panel move in and out of containers: keep them alive meanwhile.
    return g_object_ref_sink(entry);
}

void addInformation(GtkWidget *box, const std::string &text)
{
    GtkWidget *frame = gtk_frame_new("information");
    GtkWidget *label = gtk_label_new(text.c_str());
    gtk_misc_set_alignment(GTK_MISC(label), 0, 0);
    gtk_misc_set_padding(GTK_MISC(label), 4, 2);
    gtk_container_add(GTK_CONTAINER(frame), label);
    gtk_box_pack_start(GTK_BOX(box), frame, FALSE, FALSE, 2);
}

namespace {

GtkWidget *addFrame(GtkWidget *box, const char *title, GtkWidget *inner)
{
    GtkWidget *frame = gtk_frame_new(title);
    gtk_container_set_border_width(GTK_CONTAINER(inner), 2);
    gtk_container_add(GTK_CONTAINER(frame), inner);
    gtk_box_pack_start(GTK_BOX(box), frame, FALSE, FALSE, 2);
    return inner;
}

} // namespace

GtkWidget *addFrameRow(GtkWidget *box, const char *title) { return addFrame(box, title, gtk_hbox_new(TRUE, 2)); }

GtkWidget *addFrameColumn(GtkWidget *box, const char *title) { return addFrame(box, title, gtk_vbox_new(FALSE, 2)); }

GtkWidget *addKeyButton(GtkWidget *row, const char *label, int key, fastdelegate::FastDelegate1<int> press)
{
    GtkWidget *button = gtk_button_new_with_label(label);
    Delegate1<int>::connectObject(button, "clicked", press, key);
    gtk_box_pack_start(GTK_BOX(row), button, TRUE, TRUE, 0);
    return button;
}

GtkWidget *addKeyToggle(GtkWidget *row, const char *label, bool active, int key,
                        fastdelegate::FastDelegate1<int> press)
{
    GtkWidget *toggle = gtk_toggle_button_new_with_label(label);
    // Set before connecting: showing the element's state must not send its key.
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(toggle), active);
    Delegate1<int>::connectObject(toggle, "toggled", press, key);
    gtk_box_pack_start(GTK_BOX(row), toggle, TRUE, TRUE, 0);
    return toggle;
}

GtkWidget *addSlider(GtkWidget *column, const char *label, const char *name, double lo, double hi, double value,
                     int digits, fastdelegate::FastDelegate1<GtkWidget *> moved)
{
    // A scale needs a non-empty range; the value stays where the element has it.
    if (!(hi > lo))
        hi = lo + 1;
    const double step = digits == 0 ? 1 : (hi - lo) / 100;
    GtkWidget *row = gtk_hbox_new(FALSE, 2);
    if (label && *label)
        gtk_box_pack_start(GTK_BOX(row), gtk_label_new(label), FALSE, FALSE, 2);
    GtkWidget *slider = gtk_hscale_new_with_range(lo, hi, step);
    gtk_widget_set_name(slider, name);
    gtk_scale_set_digits(GTK_SCALE(slider), digits);
    gtk_range_set_value(GTK_RANGE(slider), value);
    Delegate1<GtkWidget *>::connect(slider, "value-changed", moved);
    gtk_box_pack_start(GTK_BOX(row), slider, TRUE, TRUE, 2);
    gtk_box_pack_start(GTK_BOX(column), row, FALSE, FALSE, 0);
    return slider;
}

GtkWidget *openPaletteDialog(int current, fastdelegate::FastDelegate1<int> choose)
{
    std::vector<std::string> names;
    for (int i = 0; i < ColorMap::getNumberOfColorMaps(); ++i)
        names.emplace_back(ColorMap::getColorMapName(i));
    ListDialog *dialog = new ListDialog("Palette properties", names, choose);
    GtkTreePath *path = gtk_tree_path_new_from_indices(current, -1);
    gtk_tree_selection_select_path(gtk_tree_view_get_selection(dialog->getList()), path);
    gtk_tree_path_free(path);
    return dialog->getDialog();
}

void watchDialog(GtkWidget *dialog, GtkWidget **slot)
{
    closeDialog(slot);
    *slot = dialog;
    g_object_add_weak_pointer(G_OBJECT(dialog), reinterpret_cast<gpointer *>(slot));
}

void closeDialog(GtkWidget **slot)
{
    if (!*slot)
        return;
    GtkWidget *dialog = *slot;
    g_object_remove_weak_pointer(G_OBJECT(dialog), reinterpret_cast<gpointer *>(slot));
    *slot = nullptr;
    gtk_widget_destroy(dialog);
}

void destroyPanel(void *mainWidget, void *menuBar, void *accelGroup)
{
    if (mainWidget) {
        gtk_widget_destroy(static_cast<GtkWidget *>(mainWidget));
        g_object_unref(mainWidget);
    }
    if (menuBar) {
        gtk_widget_destroy(static_cast<GtkWidget *>(menuBar));
        g_object_unref(menuBar);
    }
    if (accelGroup)
        g_object_unref(accelGroup);
}

} // namespace PanelParts
