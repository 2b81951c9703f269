#ifndef VELMORA_GLINTERFACE_H
#define VELMORA_GLINTERFACE_H

/// Base of every element panel, as the element and the scene manager see it. The panel's
/// widgets belong to the window layer, which derives its panels from this (GtkPanel): no
/// toolkit object is held, nor named, here.
class GLInterface {
public:
    GLInterface() = default;
    virtual ~GLInterface();

    GLInterface(const GLInterface &) = delete;
    GLInterface &operator=(const GLInterface &) = delete;

    /// Refreshes the panel's controls from its element; the base panel has none.
    virtual void update();
};

#endif
