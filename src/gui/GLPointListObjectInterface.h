#ifndef VELMORA_GLPOINTLISTOBJECTINTERFACE_H
#define VELMORA_GLPOINTLISTOBJECTINTERFACE_H

#include "gui/ElementPanel.h"

class DistancePanel;
class GLPointListObject;

/// The panel of a point cloud: the menu "PointList" (bounding box, axes, "Palette
/// properties..."), the cloud's information, the buttons "Data" and "Zbuffer" and the
/// "point size" buttons "+" and "-", the "thresholds" button "Select", and for dense clouds the toggles "Eye-dome lighting" (with
/// its strength) and "Adaptive size". The buttons send the cloud the keys they stand for.
class GLPointListObjectInterface : public ElementPanel {
public:
    explicit GLPointListObjectInterface(GLPointListObject *cloud);

    /// The open "Palette properties" dialog, null when closed.
    GtkWidget *getPaletteDialog() const { return getOpenDialog("Palette properties"); }
    /// The window "Distance to..." (button of the frame "measure"), opened or brought forward.
    DistancePanel *openDistancePanel();

private:
    void setColorMap(int index);
    static void onStrength(GtkSpinButton *spin, gpointer data);

    GLPointListObject *cloud;
};

#endif
