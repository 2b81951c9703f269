#define GL_GLEXT_PROTOTYPES 1
#include "render/CaptureTarget.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Framebuffer objects are core from OpenGL 3.0 on and an extension before.
bool haveFramebufferObjects()
{
    const char *version = reinterpret_cast<const char *>(glGetString(GL_VERSION));
    if (!version)
        return false;
    if (std::atoi(version) >= 3)
        return true;
    const char *extensions = reinterpret_cast<const char *>(glGetString(GL_EXTENSIONS));
    return extensions && std::strstr(extensions, "GL_ARB_framebuffer_object");
}

} // namespace

CaptureTarget::~CaptureTarget() { release(); }

int CaptureTarget::maxSize()
{
    if (!haveFramebufferObjects())
        return 0;
    GLint renderbuffer = 0, viewport[2] = {0, 0};
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &renderbuffer);
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, viewport);
    return std::min({renderbuffer, viewport[0], viewport[1]});
}

bool CaptureTarget::create(int width, int height)
{
    release();
    error_.clear();
    const int largest = maxSize();
    if (largest <= 0) {
        error_ = "this OpenGL has no framebuffer objects";
        return false;
    }
    if (width <= 0 || height <= 0 || width > largest || height > largest) {
        char text[128];
        std::snprintf(text, sizeof text, "a %d x %d capture exceeds this OpenGL's limit of %d pixels", width, height,
                      largest);
        error_ = text;
        return false;
    }
    while (glGetError() != GL_NO_ERROR) {
    }
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previous);
    glGetIntegerv(GL_DRAW_BUFFER, &previousDraw);
    glGetIntegerv(GL_READ_BUFFER, &previousRead);
    glGenFramebuffers(1, &framebuffer);
    glGenRenderbuffers(1, &colour);
    glGenRenderbuffers(1, &depth);
    glBindRenderbuffer(GL_RENDERBUFFER, colour);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    glBindRenderbuffer(GL_RENDERBUFFER, depth);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, width, height);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, depth);
    const GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
    if (status != GL_FRAMEBUFFER_COMPLETE || glGetError() != GL_NO_ERROR) {
        release();
        error_ = "the capture buffer could not be made (out of memory?)";
        return false;
    }
    glDrawBuffer(GL_COLOR_ATTACHMENT0);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    return true;
}

void CaptureTarget::release()
{
    if (!framebuffer)
        return;
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(previous));
    glDrawBuffer(static_cast<GLenum>(previousDraw));
    glReadBuffer(static_cast<GLenum>(previousRead));
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteRenderbuffers(1, &colour);
    glDeleteRenderbuffers(1, &depth);
    framebuffer = colour = depth = 0;
}
