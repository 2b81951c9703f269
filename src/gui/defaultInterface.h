#ifndef VELMORA_DEFAULTINTERFACE_H
#define VELMORA_DEFAULTINTERFACE_H

#include "gui/ElementPanel.h"

class GLObject;

/// The panel of an element kind that has no panel of its own (the textured object, for
/// example): the menu "Default" (with the bounding box and axes toggles for 3D objects) and
/// the "information" frame.
class defaultInterface : public ElementPanel {
public:
    explicit defaultInterface(GLObject *element);
};

#endif
