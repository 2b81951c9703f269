#ifndef VELMORA_DEFAULTINTERFACE_H
#define VELMORA_DEFAULTINTERFACE_H

#include "core/GLInterface.h"

class GLObject;

/// The plain panel of an element: a menu titled after the element's kind (with the bounding
/// box and axes toggles for 3D objects, "Camera Animation" for the camera), an "information"
/// frame and an accelerator group.
class defaultInterface : public GLInterface {
public:
    explicit defaultInterface(GLObject *element);
    ~defaultInterface() override;

    /// Runs the menu item `key` ("bbox", "axes", "animation") on the element.
    void menuBarResponse(const char *key);
    /// The menu title of an element kind ("Mesh", "Camera", ...).
    static const char *menuTitle(short type);

private:
    GLObject *element;
};

#endif
