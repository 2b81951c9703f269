#ifndef VELMORA_GLVOLUMEOBJECTINTERFACE_H
#define VELMORA_GLVOLUMEOBJECTINTERFACE_H

#include "gui/SlicePanel.h"

#include <gtk/gtk.h>

class GLVolumeObject;

/// The volume's panel: menu "Volume" (the common items and "Palette properties..."), the
/// three viewing planes with their toggles (keys "1", "2", "3") and position sliders, the
/// lower and upper slice thresholds, and the interpolation choice.
class GLVolumeObjectInterface : public SlicePanel {
public:
    explicit GLVolumeObjectInterface(GLVolumeObject *volume);

private:
    void createInterface();
    void sliderMoved(GtkWidget *slider, double value);
    void setInterpolation(int mode);

    GLVolumeObject *volume;
};

#endif
