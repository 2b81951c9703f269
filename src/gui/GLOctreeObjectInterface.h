#ifndef VELMORA_GLOCTREEOBJECTINTERFACE_H
#define VELMORA_GLOCTREEOBJECTINTERFACE_H

#include "gui/SlicePanel.h"

#include <gtk/gtk.h>

class GLOctreeObject;

/// The octree's panel: menu "Octree" (the common items, "Draw Structure", "Palette
/// properties...", "Interpolation properties..."), the drawing-mode buttons, point size, the
/// data threshold, the slice thresholds, and the three viewing planes with their sliders.
/// Buttons and toggles run the octree's actions, as their keys do.
class GLOctreeObjectInterface : public SlicePanel {
public:
    explicit GLOctreeObjectInterface(GLOctreeObject *octree);

    GtkWidget *getInterpolationDialog() const { return getOpenDialog(kInterpolationTitle); }

private:
    static constexpr const char *kInterpolationTitle = "Interpolation properties";

    void createInterface();
    void sliderMoved(GtkWidget *slider, double value);
    void openInterpolationDialog();
    void interpolationChosen(GtkWidget *button);

    GLOctreeObject *octree;
    GtkWidget *dataThreshold = nullptr;
};

#endif
