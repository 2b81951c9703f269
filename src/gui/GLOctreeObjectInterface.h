#ifndef VELMORA_GLOCTREEOBJECTINTERFACE_H
#define VELMORA_GLOCTREEOBJECTINTERFACE_H

#include "gui/GtkPanel.h"

#include <gtk/gtk.h>

class GLOctreeObject;

/// The octree's panel: menu "Octree" (the common items, "Draw Structure", "Palette
/// properties...", "Interpolation properties..."), the drawing-mode buttons, point size, the
/// data threshold, the slice thresholds, and the three viewing planes with their sliders.
/// Buttons and toggles send the octree the key of the same action.
class GLOctreeObjectInterface : public GtkPanel {
public:
    explicit GLOctreeObjectInterface(GLOctreeObject *octree);
    ~GLOctreeObjectInterface() override;

    /// Runs the menu item `key`: "bbox", "axes", "structure", "palette", "interpolation".
    void menuBarResponse(const char *key);
    /// Brings the sliders and toggles back to the octree's state.
    void update() override;

    GtkWidget *getInterpolationDialog() const { return interpolationDialog; }

private:
    void createMenuBar();
    void createInterface();
    void sendKey(int key);
    void sliderMoved(GtkWidget *slider);
    void setColorMap(int index);
    void openInterpolationDialog();
    void interpolationChosen(GtkWidget *button);

    GLOctreeObject *octree;
    GtkWidget *dataThreshold = nullptr;
    GtkWidget *lowerThreshold = nullptr;
    GtkWidget *upperThreshold = nullptr;
    GtkWidget *positions[3] = {nullptr, nullptr, nullptr};
    GtkWidget *planeToggles[3] = {nullptr, nullptr, nullptr};
    GtkWidget *paletteDialog = nullptr;
    GtkWidget *interpolationDialog = nullptr;
    GtkWidget *linearButton = nullptr;
    bool updating = false;
};

#endif
