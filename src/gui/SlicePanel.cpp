#include "gui/SlicePanel.h"

#include "objects/GLSlicedObject.h"

namespace {

template <int k>
bool planeShown(GLObject *e)
{
    bool visible[3];
    static_cast<GLSlicedObject *>(e)->getPlaneStates(visible);
    return visible[k];
}

} // namespace

SlicePanel::SlicePanel(GLSlicedObject *s, const char *menuTitle)
    : ElementPanel(s, menuTitle, sliceLook()), sliced(s)
{
}

void SlicePanel::addPlaneToggles(GtkWidget *frame, const KeyBinding &x, const KeyBinding &y, const KeyBinding &z)
{
    GtkWidget *toggles = gtk_hbox_new(TRUE, 2);
    addActionToggle(toggles, x, planeShown<0>);
    addActionToggle(toggles, y, planeShown<1>);
    addActionToggle(toggles, z, planeShown<2>);
    gtk_box_pack_start(GTK_BOX(frame), toggles, FALSE, FALSE, 0);
}

void SlicePanel::addPositionSliders(GtkWidget *frame, const int size[3], SliderMoved moved)
{
    int position[3];
    sliced->getCurrentPosition(position);
    const char *labels[3] = {"X", "Y", "Z"};
    const char *names[3] = {"sliderX", "sliderY", "sliderZ"};
    for (int k = 0; k < 3; ++k)
        positions[k] = addSlider(frame, labels[k], names[k], 0, size[k] - 1, position[k], 0, moved);
}

void SlicePanel::addThresholdSliders(GtkWidget *frame, SliderMoved moved)
{
    float range[2], bounds[2];
    sliced->getMinMax(range);
    sliced->getMinMaxThreshold(bounds);
    lowerThreshold = addSlider(frame, "min", "lowerThreshold", range[0], range[1], bounds[0], 2, moved);
    upperThreshold = addSlider(frame, "max", "upperThreshold", range[0], range[1], bounds[1], 2, moved);
}

bool SlicePanel::applySliceSlider(GtkWidget *slider, double value)
{
    if (slider == lowerThreshold || slider == upperThreshold) {
        float bounds[2];
        sliced->getMinMaxThreshold(bounds);
        bounds[slider == lowerThreshold ? 0 : 1] = static_cast<float>(value);
        sliced->setMinMaxThreshold(bounds[0], bounds[1]);
        return true;
    }
    int position[3];
    sliced->getCurrentPosition(position);
    bool moved = false;
    for (int k = 0; k < 3; ++k)
        if (slider == positions[k]) {
            position[k] = static_cast<int>(value);
            moved = true;
        }
    if (moved)
        sliced->setCurrentPosition(position[0], position[1], position[2]);
    return moved;
}

void SlicePanel::update()
{
    ElementPanel::update();
    updating = true;
    int position[3];
    sliced->getCurrentPosition(position);
    for (int k = 0; k < 3; ++k)
        gtk_range_set_value(GTK_RANGE(positions[k]), position[k]);
    updating = false;
}

void SlicePanel::setColorMap(int index)
{
    sliced->setColorMap(index);
    sliced->postRedisplay();
}

void SlicePanel::addSlicePaletteItem()
{
    addPaletteItem([this] { return sliced->getColorMap(); }, fastdelegate::MakeDelegate(this, &SlicePanel::setColorMap));
}
