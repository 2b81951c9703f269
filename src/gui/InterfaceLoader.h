#ifndef VELMORA_INTERFACELOADER_H
#define VELMORA_INTERFACELOADER_H

class GtkPanel;
class GLObject;

/// Builds and destroys the panel of a scene element. The panel is attached to the element
/// (GLObject::setInterface) but owned here: the element never deletes it.
class InterfaceLoader {
public:
    static GtkPanel *load(GLObject *element);
    static void unload(GLObject *element);
};

#endif
