#include "gui/InterfaceLoader.h"

#include "core/GLObject.h"
#include "gui/GLOctreeObjectInterface.h"
#include "gui/GLVolumeObjectInterface.h"
#include "gui/defaultInterface.h"
#include "objects/GLOctreeObject.h"
#include "objects/GLVolumeObject.h"

GLInterface *InterfaceLoader::load(GLObject *element)
{
    if (!element)
        return nullptr;
    unload(element);
    // Kinds without a panel of their own get the plain one.
    GLInterface *panel = nullptr;
    if (element->getType() == GLObject::OCTREE)
        panel = new GLOctreeObjectInterface(static_cast<GLOctreeObject *>(element));
    else if (element->getType() == GLObject::VOLUME)
        panel = new GLVolumeObjectInterface(static_cast<GLVolumeObject *>(element));
    else
        panel = new defaultInterface(element);
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
