#ifndef VELMORA_SLICEPANEL_H
#define VELMORA_SLICEPANEL_H

#include "gui/ElementPanel.h"

#include <gtk/gtk.h>

class GLSlicedObject;

/// What the octree's and the volume's panels share: the slice look, the three plane toggles,
/// the position sliders and the two slice-threshold sliders of a sliced element, and the
/// refreshing of the positions. Each panel places these parts where its layout wants them.
class SlicePanel : public ElementPanel {
public:
    /// Brings the common controls and the position sliders back to the element's state.
    void update() override;

protected:
    SlicePanel(GLSlicedObject *sliced, const char *menuTitle);

    /// The X, Y, Z plane toggles in a row of `frame`, running the rows' actions.
    void addPlaneToggles(GtkWidget *frame, const KeyBinding &x, const KeyBinding &y, const KeyBinding &z);
    /// The "X", "Y", "Z" position sliders ("sliderX", ...) over 0 .. size - 1 of each axis.
    void addPositionSliders(GtkWidget *frame, const int size[3], SliderMoved moved);
    /// The "min" and "max" slice-threshold sliders over the element's value range.
    void addThresholdSliders(GtkWidget *frame, SliderMoved moved);
    /// Hands a moved threshold or position slider's value to the element; false for any
    /// other slider.
    bool applySliceSlider(GtkWidget *slider, double value);
    /// "Palette properties...": the element's colour map, one dialog at a time.
    void addSlicePaletteItem();
    void setColorMap(int index);

    GLSlicedObject *sliced;
    GtkWidget *lowerThreshold = nullptr;
    GtkWidget *upperThreshold = nullptr;
    GtkWidget *positions[3] = {nullptr, nullptr, nullptr};
};

#endif
