#ifndef VELMORA_GLBUFFER_H
#define VELMORA_GLBUFFER_H

#include <cstddef>

/// An OpenGL buffer object (vertex or index data on the driver's side), owned like a
/// unique_ptr: it is deleted when the owner lets go of it.
///
/// A buffer belongs to the context that was current when its data was stored. Contexts
/// that do not share objects with it (the light sub-window's, or a context made after the
/// first one was destroyed) cannot use its name: `usable()` tells, and `reset()` deletes
/// the name only while its own context is current (anywhere else the name may stand for
/// another buffer, so it is then merely forgotten). Owners therefore release their buffers
/// with their context current, as the scene manager does when it drops objects.
class GLBuffer {
public:
    /// `target` is GL_ARRAY_BUFFER or GL_ELEMENT_ARRAY_BUFFER.
    explicit GLBuffer(unsigned target);
    ~GLBuffer();
    GLBuffer(GLBuffer &&other) noexcept;
    GLBuffer &operator=(GLBuffer &&other) noexcept;
    GLBuffer(const GLBuffer &) = delete;
    GLBuffer &operator=(const GLBuffer &) = delete;

    /// Stores `bytes` bytes from `data` (null leaves them undefined) in the buffer, made in
    /// the current context when there is none yet or the current context cannot use it.
    /// `usage` is GL_STATIC_DRAW, GL_STREAM_DRAW... Returns false, keeping no buffer, when
    /// there is no context or the driver refuses (out of memory).
    bool upload(const void *data, size_t bytes, unsigned usage);
    /// Binds the buffer to its target (after a successful upload in the current context).
    void bind() const;
    /// Binds no buffer to `target`.
    static void unbind(unsigned target);
    /// Deletes the buffer (see above about contexts); it then holds nothing.
    void reset();

    /// True when the buffer holds data the current context can draw from.
    bool usable() const;
    bool empty() const { return name == 0; }
    size_t size() const { return bytes; }
    unsigned target() const { return bufferTarget; }

    /// An identity of the context current on this thread (EGL or GLX), null without one.
    static const void *currentContext();

private:
    unsigned bufferTarget;
    unsigned name;
    size_t bytes;
    const void *context;
};

#endif
