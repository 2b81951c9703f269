#ifndef VELMORA_GLPOINTLISTOBJECTINTERFACE_H
#define VELMORA_GLPOINTLISTOBJECTINTERFACE_H

#include "core/GLInterface.h"

class GLPointListObject;

/// The panel of a point cloud: the menu "PointList" (bounding box, axes, "Palette
/// properties..."), the cloud's information, the buttons "Data" and "Zbuffer" and the
/// "point size" buttons "+" and "-". The buttons send the cloud the keys they stand for.
class GLPointListObjectInterface : public GLInterface {
public:
    explicit GLPointListObjectInterface(GLPointListObject *cloud);
    ~GLPointListObjectInterface() override;

    /// Runs the menu item `key` ("bbox", "axes", "palette").
    void menuBarResponse(const char *key);
    /// Sends the key `command` to the cloud, as its button does, and asks for a redraw.
    void sendCommand(int command);
    void *getPaletteDialog() const { return paletteDialog; }
    /// Refreshes the information text.
    void update() override;

private:
    void createMenuBar();
    void createInterface();
    void setColorMap(int index);

    GLPointListObject *cloud;
    void *information;   ///< the label of the information frame
    void *paletteDialog; ///< the open palette dialog's window, cleared by the toolkit when it goes
};

#endif
