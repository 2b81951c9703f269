#include "gui/GLOctreeObjectInterface.h"

#include "gui/Delegate1.h"
#include "gui/PanelParts.h"
#include "objects/GLOctreeObject.h"

#include <cstring>

using fastdelegate::MakeDelegate;

GLOctreeObjectInterface::GLOctreeObjectInterface(GLOctreeObject *o) : octree(o)
{
    accelGroup = gtk_accel_group_new();
    createMenuBar();
    createInterface();
}

GLOctreeObjectInterface::~GLOctreeObjectInterface()
{
    PanelParts::closeDialog(&paletteDialog);
    PanelParts::closeDialog(&interpolationDialog);
    PanelParts::destroyPanel(mainWidget, mainMenuBar, accelGroup);
}

void GLOctreeObjectInterface::createMenuBar()
{
    const auto respond = MakeDelegate(this, &GLOctreeObjectInterface::menuBarResponse);
    GtkWidget *menu = PanelParts::menuWithCommonItems(GTK_ACCEL_GROUP(accelGroup), octree, respond);
    PanelParts::addMenuItem(menu, "Draw Structure", "structure", respond, true, octree->getDrawStructure());
    PanelParts::addMenuItem(menu, "Palette properties...", "palette", respond);
    PanelParts::addMenuItem(menu, "Interpolation properties...", "interpolation", respond);
    mainMenuBar = GTK_WIDGET(PanelParts::menuBarEntry("Octree", menu));
}

void GLOctreeObjectInterface::createInterface()
{
    GtkWidget *box = gtk_vbox_new(FALSE, 0);
    PanelParts::addInformation(box, octree->getInformation());
    const auto press = MakeDelegate(this, &GLOctreeObjectInterface::sendKey);
    const auto moved = MakeDelegate(this, &GLOctreeObjectInterface::sliderMoved);

    GtkWidget *modes = PanelParts::addFrameRow(box, "visualization mode");
    PanelParts::addKeyButton(modes, "Data", '1', press);
    PanelParts::addKeyButton(modes, "Volume", '2', press);
    PanelParts::addKeyButton(modes, "Octree", '3', press);
    PanelParts::addKeyButton(modes, "Zbuffer", '4', press);

    GtkWidget *size = PanelParts::addFrameRow(box, "point size");
    PanelParts::addKeyButton(size, "+", '+', press);
    PanelParts::addKeyButton(size, "-", '-', press);

    float range[2], bounds[2];
    octree->getMinMax(range);
    octree->getMinMaxThreshold(bounds);
    GtkWidget *data = PanelParts::addFrameColumn(box, "data threshold");
    dataThreshold = PanelParts::addSlider(data, "", "dataThreshold", range[0], range[1], octree->getDataThreshold(), 2,
                                          moved);
    GtkWidget *slice = PanelParts::addFrameColumn(box, "data threshold");
    lowerThreshold = PanelParts::addSlider(slice, "min", "lowerThreshold", range[0], range[1], bounds[0], 2, moved);
    upperThreshold = PanelParts::addSlider(slice, "max", "upperThreshold", range[0], range[1], bounds[1], 2, moved);

    int grid[3], position[3];
    bool visible[3];
    octree->getSize(grid);
    octree->getCurrentPosition(position);
    octree->getPlaneStates(visible);
    GtkWidget *planes = PanelParts::addFrameColumn(box, "viewing planes");
    const char *labels[3] = {"X", "Y", "Z"};
    const char *names[3] = {"sliderX", "sliderY", "sliderZ"};
    for (int k = 0; k < 3; ++k)
        positions[k] = PanelParts::addSlider(planes, labels[k], names[k], 0, grid[k] - 1, position[k], 0, moved);
    GtkWidget *toggles = gtk_hbox_new(TRUE, 2);
    for (int k = 0; k < 3; ++k)
        planeToggles[k] = PanelParts::addKeyToggle(toggles, labels[k], visible[k], '6' + k, press);
    gtk_box_pack_start(GTK_BOX(planes), toggles, FALSE, FALSE, 0);

    gtk_widget_show_all(box);
    mainWidget = GTK_WIDGET(g_object_ref_sink(box));
}

void GLOctreeObjectInterface::sendKey(int key)
{
    if (updating)
        return;
    octree->notifyCommand(key);
    octree->postRedisplay();
}

void GLOctreeObjectInterface::sliderMoved(GtkWidget *slider)
{
    if (updating)
        return;
    const double value = gtk_range_get_value(GTK_RANGE(slider));
    if (slider == dataThreshold) {
        octree->setDataThreshold(static_cast<float>(value));
    } else if (slider == lowerThreshold || slider == upperThreshold) {
        float bounds[2];
        octree->getMinMaxThreshold(bounds);
        bounds[slider == lowerThreshold ? 0 : 1] = static_cast<float>(value);
        octree->setMinMaxThreshold(bounds[0], bounds[1]);
    } else {
        int position[3];
        octree->getCurrentPosition(position);
        for (int k = 0; k < 3; ++k)
            if (slider == positions[k])
                position[k] = static_cast<int>(value);
        octree->setCurrentPosition(position[0], position[1], position[2]);
    }
    octree->postRedisplay();
}

void GLOctreeObjectInterface::setColorMap(int index)
{
    octree->setColorMap(index);
    octree->postRedisplay();
}

void GLOctreeObjectInterface::menuBarResponse(const char *key)
{
    if (std::strcmp(key, "bbox") == 0)
        octree->toggleBoundingBox();
    else if (std::strcmp(key, "axes") == 0)
        octree->toggleAxes();
    else if (std::strcmp(key, "structure") == 0)
        octree->setDrawStructure(!octree->getDrawStructure());
    else if (std::strcmp(key, "palette") == 0)
        PanelParts::watchDialog(
            PanelParts::openPaletteDialog(octree->getColorMap(), MakeDelegate(this, &GLOctreeObjectInterface::setColorMap)),
            &paletteDialog);
    else if (std::strcmp(key, "interpolation") == 0)
        openInterpolationDialog();
    octree->postRedisplay();
}

void GLOctreeObjectInterface::openInterpolationDialog()
{
    GtkWidget *dialog = gtk_dialog_new_with_buttons("Interpolation properties", nullptr, GTK_DIALOG_NO_SEPARATOR,
                                                    GTK_STOCK_OK, GTK_RESPONSE_OK, nullptr);
    GtkWidget *area = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
    GtkWidget *nearest = gtk_radio_button_new_with_label(nullptr, "Nearest");
    linearButton = gtk_radio_button_new_with_label_from_widget(GTK_RADIO_BUTTON(nearest), "Linear");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(octree->getInterpolationMode() ? linearButton : nearest), TRUE);
    gtk_box_pack_start(GTK_BOX(area), nearest, FALSE, FALSE, 2);
    gtk_box_pack_start(GTK_BOX(area), linearButton, FALSE, FALSE, 2);
    // Only the button that becomes active acts; the pair always changes together.
    Delegate1<GtkWidget *>::connect(linearButton, "toggled", MakeDelegate(this, &GLOctreeObjectInterface::interpolationChosen));
    // "OK" and the close box end the dialog.
    g_signal_connect(dialog, "response", G_CALLBACK(gtk_widget_destroy), nullptr);
    PanelParts::watchDialog(dialog, &interpolationDialog);
    gtk_widget_show_all(dialog);
}

void GLOctreeObjectInterface::interpolationChosen(GtkWidget *button)
{
    octree->setInterpolationMode(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(button)) ? 1 : 0);
    octree->postRedisplay();
}

void GLOctreeObjectInterface::update()
{
    updating = true;
    int position[3];
    bool visible[3];
    octree->getCurrentPosition(position);
    octree->getPlaneStates(visible);
    for (int k = 0; k < 3; ++k) {
        gtk_range_set_value(GTK_RANGE(positions[k]), position[k]);
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(planeToggles[k]), visible[k]);
    }
    updating = false;
}
