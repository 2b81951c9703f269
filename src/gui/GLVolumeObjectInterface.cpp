#include "gui/GLVolumeObjectInterface.h"

#include "objects/GLVolumeObject.h"

#include <cstring>

using fastdelegate::MakeDelegate;

namespace {

template <int k>
bool planeShown(GLObject *e)
{
    bool visible[3];
    static_cast<GLVolumeObject *>(e)->getPlaneStates(visible);
    return visible[k];
}

} // namespace

GLVolumeObjectInterface::GLVolumeObjectInterface(GLVolumeObject *v)
    : ElementPanel(v, "Volume", sliceLook()), volume(v)
{
    addMenuItem("Palette properties...", "palette");
    createInterface();
}

void GLVolumeObjectInterface::createInterface()
{
    const auto moved = MakeDelegate(this, &GLVolumeObjectInterface::sliderMoved);
    using A = GLVolumeObject::Action;

    int size[3], position[3];
    volume->getSize(size);
    volume->getCurrentPosition(position);
    GtkWidget *planes = addFrame("viewing planes");
    const char *labels[3] = {"X", "Y", "Z"};
    const char *names[3] = {"sliderX", "sliderY", "sliderZ"};
    GtkWidget *toggles = gtk_hbox_new(TRUE, 2);
    addActionToggle(toggles, rowOf(A::X_PLANE), planeShown<0>);
    addActionToggle(toggles, rowOf(A::Y_PLANE), planeShown<1>);
    addActionToggle(toggles, rowOf(A::Z_PLANE), planeShown<2>);
    gtk_box_pack_start(GTK_BOX(planes), toggles, FALSE, FALSE, 0);
    for (int k = 0; k < 3; ++k)
        positions[k] = addSlider(planes, labels[k], names[k], 0, size[k] - 1, position[k], 0, moved);

    float range[2], bounds[2];
    volume->getMinMax(range);
    volume->getMinMaxThreshold(bounds);
    GtkWidget *thresholds = addFrame("data threshold");
    lowerThreshold = addSlider(thresholds, "min", "lowerThreshold", range[0], range[1], bounds[0], 2, moved);
    upperThreshold = addSlider(thresholds, "max", "upperThreshold", range[0], range[1], bounds[1], 2, moved);

    GtkWidget *filter = addFrame("interpolation", nullptr, false);
    const auto choose = MakeDelegate(this, &GLVolumeObjectInterface::setInterpolation);
    addValueButton(filter, "Nearest", 0, choose);
    addValueButton(filter, "Linear", 1, choose);

    gtk_widget_show_all(box);
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
    if (std::strcmp(key, "palette") == 0)
        openPaletteDialog(volume->getColorMap(), MakeDelegate(this, &GLVolumeObjectInterface::setColorMap));
    // The common items, and the redraw every menu item ends with.
    ElementPanel::menuBarResponse(key);
}

void GLVolumeObjectInterface::update()
{
    ElementPanel::update();
    updating = true;
    int position[3];
    volume->getCurrentPosition(position);
    for (int k = 0; k < 3; ++k)
        gtk_range_set_value(GTK_RANGE(positions[k]), position[k]);
    updating = false;
}
