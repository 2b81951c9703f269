#include "gui/GLVolumeObjectInterface.h"

#include "gui/PanelParts.h"
#include "objects/GLVolumeObject.h"

#include <cstring>

using fastdelegate::MakeDelegate;

GLVolumeObjectInterface::GLVolumeObjectInterface(GLVolumeObject *v) : volume(v)
{
    accelGroup = gtk_accel_group_new();
    createMenuBar();
    createInterface();
}

GLVolumeObjectInterface::~GLVolumeObjectInterface()
{
    PanelParts::closeDialog(&paletteDialog);
    PanelParts::destroyPanel(mainWidget, mainMenuBar, accelGroup);
}

void GLVolumeObjectInterface::createMenuBar()
{
    const auto respond = MakeDelegate(this, &GLVolumeObjectInterface::menuBarResponse);
    GtkWidget *menu = PanelParts::menuWithCommonItems(GTK_ACCEL_GROUP(accelGroup), volume, respond);
    PanelParts::addMenuItem(menu, "Palette properties...", "palette", respond);
    mainMenuBar = GTK_WIDGET(PanelParts::menuBarEntry("Volume", menu));
}

void GLVolumeObjectInterface::createInterface()
{
    GtkWidget *box = gtk_vbox_new(FALSE, 0);
    PanelParts::addInformation(box, volume->getInformation());
    const auto press = MakeDelegate(this, &GLVolumeObjectInterface::sendKey);
    const auto moved = MakeDelegate(this, &GLVolumeObjectInterface::sliderMoved);

    int size[3], position[3];
    bool visible[3];
    volume->getSize(size);
    volume->getCurrentPosition(position);
    volume->getPlaneStates(visible);
    GtkWidget *planes = PanelParts::addFrameColumn(box, "viewing planes");
    const char *labels[3] = {"X", "Y", "Z"};
    const char *names[3] = {"sliderX", "sliderY", "sliderZ"};
    GtkWidget *toggles = gtk_hbox_new(TRUE, 2);
    for (int k = 0; k < 3; ++k)
        planeToggles[k] = PanelParts::addKeyToggle(toggles, labels[k], visible[k], '1' + k, press);
    gtk_box_pack_start(GTK_BOX(planes), toggles, FALSE, FALSE, 0);
    for (int k = 0; k < 3; ++k)
        positions[k] = PanelParts::addSlider(planes, labels[k], names[k], 0, size[k] - 1, position[k], 0, moved);

    float range[2], bounds[2];
    volume->getMinMax(range);
    volume->getMinMaxThreshold(bounds);
    GtkWidget *thresholds = PanelParts::addFrameColumn(box, "data threshold");
    lowerThreshold = PanelParts::addSlider(thresholds, "min", "lowerThreshold", range[0], range[1], bounds[0], 2, moved);
    upperThreshold = PanelParts::addSlider(thresholds, "max", "upperThreshold", range[0], range[1], bounds[1], 2, moved);

    GtkWidget *filter = PanelParts::addFrameRow(box, "interpolation");
    const auto choose = MakeDelegate(this, &GLVolumeObjectInterface::setInterpolation);
    PanelParts::addKeyButton(filter, "Nearest", 0, choose);
    PanelParts::addKeyButton(filter, "Linear", 1, choose);

    gtk_widget_show_all(box);
    mainWidget = GTK_WIDGET(g_object_ref_sink(box));
}

void GLVolumeObjectInterface::sendKey(int key)
{
    if (updating)
        return;
    volume->notifyCommand(key);
    volume->postRedisplay();
}

void GLVolumeObjectInterface::sliderMoved(GtkWidget *slider)
{
    if (updating)
        return;
    const double value = gtk_range_get_value(GTK_RANGE(slider));
    if (slider == lowerThreshold || slider == upperThreshold) {
        float bounds[2];
        volume->getMinMaxThreshold(bounds);
        bounds[slider == lowerThreshold ? 0 : 1] = static_cast<float>(value);
        volume->setMinMaxThreshold(bounds[0], bounds[1]);
    } else {
        int position[3];
        volume->getCurrentPosition(position);
        for (int k = 0; k < 3; ++k)
            if (slider == positions[k])
                position[k] = static_cast<int>(value);
        volume->setCurrentPosition(position[0], position[1], position[2]);
    }
    volume->postRedisplay();
}

void GLVolumeObjectInterface::setInterpolation(int mode)
{
    volume->setInterpolationMode(mode);
    volume->postRedisplay();
}

void GLVolumeObjectInterface::setColorMap(int index)
{
    volume->setColorMap(index);
    volume->postRedisplay();
}

void GLVolumeObjectInterface::menuBarResponse(const char *key)
{
    if (std::strcmp(key, "bbox") == 0)
        volume->toggleBoundingBox();
    else if (std::strcmp(key, "axes") == 0)
        volume->toggleAxes();
    else if (std::strcmp(key, "palette") == 0)
        PanelParts::watchDialog(
            PanelParts::openPaletteDialog(volume->getColorMap(), MakeDelegate(this, &GLVolumeObjectInterface::setColorMap)),
            &paletteDialog);
    volume->postRedisplay();
}

void GLVolumeObjectInterface::update()
{
    updating = true;
    int position[3];
    bool visible[3];
    volume->getCurrentPosition(position);
    volume->getPlaneStates(visible);
    for (int k = 0; k < 3; ++k) {
        gtk_range_set_value(GTK_RANGE(positions[k]), position[k]);
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(planeToggles[k]), visible[k]);
    }
    updating = false;
}
