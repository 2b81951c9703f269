#ifndef VELMORA_GLSPLATOBJECTINTERFACE_H
#define VELMORA_GLSPLATOBJECTINTERFACE_H

#include "gui/ElementPanel.h"

#include <gtk/gtk.h>

class GLSplatObject;

/// The panel of a splat scene: menu "Splats" (the common items, "Palette properties...",
/// "Save splats as..."), the
/// scene's information, the drawing buttons (splats, centres, the centres' colour or data),
/// the spherical-harmonic degree buttons, the sliders "scale factor" and "opacity floor" and the
/// frame "selection" (see ElementPanel::addCleaningFrame).
class GLSplatObjectInterface : public ElementPanel {
public:
    explicit GLSplatObjectInterface(GLSplatObject *splats);

    void update() override;

private:
    void sliderMoved(GtkWidget *slider, double value);
    void setColorMap(int index);

    GLSplatObject *splats;
    GtkWidget *scaleSlider = nullptr;
    GtkWidget *floorSlider = nullptr;
};

#endif
