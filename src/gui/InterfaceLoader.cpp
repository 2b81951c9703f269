#include "gui/InterfaceLoader.h"

#include "core/GLObject.h"
#include "gui/GLGraphObjectInterface.h"
#include "gui/GLOctreeObjectInterface.h"
#include "gui/GLPointListObjectInterface.h"
#include "gui/GLVolumeObjectInterface.h"
#include "gui/defaultInterface.h"
#include "objects/GLGraphObject.h"
#include "objects/GLOctreeObject.h"
#include "objects/GLPointListObject.h"
#include "objects/GLVolumeObject.h"

GLInterface *InterfaceLoader::load(GLObject *element)
{
    if (!element)
        return nullptr;
    unload(element);
    // Every kind gets the plain panel until it has a panel of its own.
    GLInterface *panel = nullptr;
    switch (element->getType()) {
    case GLObject::POINTLIST:
        panel = new GLPointListObjectInterface(static_cast<GLPointListObject *>(element));
        break;
    case GLObject::GRAPH:
        panel = new GLGraphObjectInterface(static_cast<GLGraphObject *>(element));
        break;
    case GLObject::OCTREE:
        panel = new GLOctreeObjectInterface(static_cast<GLOctreeObject *>(element));
        break;
    case GLObject::VOLUME:
        panel = new GLVolumeObjectInterface(static_cast<GLVolumeObject *>(element));
        break;
    default:
        panel = new defaultInterface(element);
    }
    element->setInterface(panel);
    return panel;
}

void InterfaceLoader::unload(GLObject *element)
{
    if (!element)
        return;
    delete element->getInterface();
    element->setInterface(nullptr);
}
