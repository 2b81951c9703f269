#define GL_GLEXT_PROTOTYPES 1
#include "render/GLBuffer.h"

#include <EGL/egl.h>
#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/glx.h>

#include <utility>

GLBuffer::GLBuffer(unsigned target) : bufferTarget(target), name(0), bytes(0), context(nullptr) {}

GLBuffer::~GLBuffer() { reset(); }

GLBuffer::GLBuffer(GLBuffer &&other) noexcept
    : bufferTarget(other.bufferTarget), name(std::exchange(other.name, 0u)), bytes(std::exchange(other.bytes, 0)),
      context(std::exchange(other.context, nullptr))
{
}

GLBuffer &GLBuffer::operator=(GLBuffer &&other) noexcept
{
    if (this != &other) {
        reset();
        bufferTarget = other.bufferTarget;
        name = std::exchange(other.name, 0u);
        bytes = std::exchange(other.bytes, 0);
        context = std::exchange(other.context, nullptr);
    }
    return *this;
}

const void *GLBuffer::currentContext()
{
    // The off-screen scene runs on EGL, the windows on GLX; only one of them is current.
    const EGLContext egl = eglGetCurrentContext();
    if (egl != EGL_NO_CONTEXT)
        return egl;
    return glXGetCurrentContext();
}

bool GLBuffer::usable() const { return name != 0 && context == currentContext(); }

bool GLBuffer::upload(const void *data, size_t size, unsigned usage)
{
    const void *current = currentContext();
    if (!current) {
        reset();
        return false;
    }
    if (name != 0 && context != current)
        reset();
    if (name == 0) {
        GLuint made = 0;
        glGenBuffers(1, &made);
        if (made == 0)
            return false;
        name = made;
        context = current;
    }
    // Errors left by earlier drawing are not this upload's.
    while (glGetError() != GL_NO_ERROR) {
    }
    glBindBuffer(bufferTarget, name);
    glBufferData(bufferTarget, static_cast<GLsizeiptr>(size), data, usage);
    const bool stored = glGetError() == GL_NO_ERROR;
    glBindBuffer(bufferTarget, 0);
    if (!stored) {
        reset();
        return false;
    }
    bytes = size;
    return true;
}

void GLBuffer::bind() const { glBindBuffer(bufferTarget, name); }

void GLBuffer::unbind(unsigned target) { glBindBuffer(target, 0); }

void GLBuffer::reset()
{
    if (name != 0 && context && context == currentContext()) {
        const GLuint n = name;
        glDeleteBuffers(1, &n);
    }
    name = 0;
    bytes = 0;
    context = nullptr;
}
