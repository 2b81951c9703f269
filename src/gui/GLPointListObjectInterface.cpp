#include "gui/GLPointListObjectInterface.h"

#include "gui/DistancePanel.h"
#include "gui/ListDialog.h"
#include "formats/ColorMap.h"
#include "objects/GLPointListObject.h"

#include <cstring>
#include <string>
#include <vector>

GLPointListObjectInterface::GLPointListObjectInterface(GLPointListObject *c) : ElementPanel(c, "PointList"), cloud(c)
{
    addMenuItem("Palette properties...", "palette");

    GtkWidget *modes = addFrame("visualization mode", nullptr, false);
    using A = GLPointListObject::Action;
    addActionButton(modes, A::DATA);
    addActionButton(modes, A::DEPTH_BUFFER);
    GtkWidget *size = addFrame("point size", nullptr, false);
    addActionButton(size, A::BIGGER_POINTS);
    addActionButton(size, A::SMALLER_POINTS);
    GtkWidget *distance = gtk_button_new_with_label("Distance to...");
    g_signal_connect_swapped(distance, "clicked", G_CALLBACK(+[](GLPointListObjectInterface *self) {
                                 self->openDistancePanel();
                             }), this);
    gtk_box_pack_start(GTK_BOX(addFrame("measure", nullptr, false)), distance, FALSE, FALSE, 0);
}

DistancePanel *GLPointListObjectInterface::openDistancePanel()
{
    if (GtkWidget *open = getOpenDialog("Distance to...")) {
        gtk_window_present(GTK_WINDOW(open));
        return static_cast<DistancePanel *>(g_object_get_data(G_OBJECT(open), "panel"));
    }
    DistancePanel *panel = new DistancePanel(cloud, [this](const DataItem &item) {
        cloud->setValues(item.getName(), item.getData(), item.getNElements());
        update();
        redraw();
    });
    g_object_set_data(G_OBJECT(panel->getDialog()), "panel", panel);
    adoptDialog(panel->getDialog());
    return panel;
}

void GLPointListObjectInterface::setColorMap(int index) { cloud->setColorMap(index); }

void GLPointListObjectInterface::menuBarResponse(const char *key)
{
    if (std::strcmp(key, "palette") != 0) {
        ElementPanel::menuBarResponse(key);
        return;
    }
    if (GtkWidget *open = getPaletteDialog()) {
        gtk_window_present(GTK_WINDOW(open));
    } else {
        std::vector<std::string> names;
        for (int i = 0; i < ColorMap::getNumberOfColorMaps(); ++i)
            names.push_back(ColorMap::getColorMapName(i));
        ListDialog *dialog = new ListDialog("Palette properties", names,
                                            fastdelegate::MakeDelegate(this, &GLPointListObjectInterface::setColorMap));
        // The current map starts selected; choosing it again changes nothing.
        GtkTreePath *path = gtk_tree_path_new_from_indices(cloud->getColorMap(), -1);
        gtk_tree_selection_select_path(gtk_tree_view_get_selection(dialog->getList()), path);
        gtk_tree_path_free(path);
        adoptDialog(dialog->getDialog());
    }
    redraw();
}
