#ifndef VELMORA_GLVOLUMEOBJECTINTERFACE_H
#define VELMORA_GLVOLUMEOBJECTINTERFACE_H

#include "gui/GtkPanel.h"

#include <gtk/gtk.h>

class GLVolumeObject;

/// The volume's panel: menu "Volume" (the common items and "Palette properties..."), the
/// three viewing planes with their toggles (keys "1", "2", "3") and position sliders, the
/// lower and upper slice thresholds, and the interpolation choice.
class GLVolumeObjectInterface : public GtkPanel {
public:
    explicit GLVolumeObjectInterface(GLVolumeObject *volume);
    ~GLVolumeObjectInterface() override;

    /// Runs the menu item `key`: "bbox", "axes", "palette".
    void menuBarResponse(const char *key);
    /// Brings the sliders and toggles back to the volume's state.
    void update() override;

private:
    void createMenuBar();
    void createInterface();
    void sendKey(int key);
    void sliderMoved(GtkWidget *slider);
    void setInterpolation(int mode);
    void setColorMap(int index);

    GLVolumeObject *volume;
    GtkWidget *lowerThreshold = nullptr;
    GtkWidget *upperThreshold = nullptr;
    GtkWidget *positions[3] = {nullptr, nullptr, nullptr};
    GtkWidget *planeToggles[3] = {nullptr, nullptr, nullptr};
    GtkWidget *paletteDialog = nullptr;
    bool updating = false;
};

#endif
