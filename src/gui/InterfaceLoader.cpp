#include "gui/InterfaceLoader.h"

#include "core/GLObject.h"
#include "gui/defaultInterface.h"

GLInterface *InterfaceLoader::load(GLObject *element)
{
    if (!element)
        return nullptr;
    unload(element);
    // Every kind gets the plain panel until it has a panel of its own.
    GLInterface *panel = new defaultInterface(element);
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
