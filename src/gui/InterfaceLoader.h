#ifndef VELMORA_INTERFACELOADER_H
#define VELMORA_INTERFACELOADER_H

class GLInterface;
class GLObject;

/// Builds and destroys the panel of a scene element. The panel is attached to the element
/// (GLObject::setInterface) but owned here: the element never deletes it.
class InterfaceLoader {
public:
    static GLInterface *load(GLObject *element);
    static void unload(GLObject *element);
};

#endif
