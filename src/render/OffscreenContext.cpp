#include "render/OffscreenContext.h"

#include "render/GLFont.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>

#include <cstdio>
#include <cstring>

#ifndef EGL_PLATFORM_SURFACELESS_MESA
#define EGL_PLATFORM_SURFACELESS_MESA 0x31DD
#endif

namespace {

std::string eglErrorText(const char *what)
{
    char buf[96];
    std::snprintf(buf, sizeof buf, "%s failed (EGL error 0x%04x)", what, (unsigned)eglGetError());
    return buf;
}

// The surfaceless platform is an extension; without it fall back to the default display,
// which on a machine with Mesa still works without X when EGL_PLATFORM is set.
EGLDisplay openDisplay()
{
    const char *clientExt = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    if (clientExt && std::strstr(clientExt, "EGL_MESA_platform_surfaceless")) {
        auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
            eglGetProcAddress("eglGetPlatformDisplayEXT"));
        if (getPlatformDisplay) {
            EGLDisplay d = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
            if (d != EGL_NO_DISPLAY)
                return d;
        }
    }
    return eglGetDisplay(EGL_DEFAULT_DISPLAY);
}

} // namespace

OffscreenContext::OffscreenContext() = default;

OffscreenContext::~OffscreenContext() { destroy(); }

bool OffscreenContext::fail(const std::string &what, Failure kind)
{
    error_ = what;
    failure_ = kind;
    destroy();
    return false;
}

bool OffscreenContext::create(int width, int height)
{
    destroy();
    error_.clear();
    failure_ = NO_FAILURE;
    if (width <= 0 || height <= 0)
        return fail("off-screen size must be positive");

    EGLDisplay dpy = openDisplay();
    if (dpy == EGL_NO_DISPLAY)
        return fail(eglErrorText("eglGetDisplay"), NO_OPENGL);
    display_ = dpy;
    EGLint major = 0, minor = 0;
    if (!eglInitialize(dpy, &major, &minor)) {
        display_ = nullptr;
        return fail(eglErrorText("eglInitialize"), NO_OPENGL);
    }
    if (!eglBindAPI(EGL_OPENGL_API))
        return fail(eglErrorText("eglBindAPI(EGL_OPENGL_API)"), NO_OPENGL);

    const EGLint configAttribs[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT,
                                    EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                    EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8,
                                    EGL_ALPHA_SIZE, 8, EGL_DEPTH_SIZE, 24, EGL_STENCIL_SIZE, 8,
                                    EGL_NONE};
    EGLConfig config = nullptr;
    EGLint count = 0;
    if (!eglChooseConfig(dpy, configAttribs, &config, 1, &count) || count < 1)
        return fail(eglErrorText("eglChooseConfig (RGBA8, depth 24, pbuffer, OpenGL)"), NO_VISUAL);

    const EGLint pbufferAttribs[] = {EGL_WIDTH, width, EGL_HEIGHT, height, EGL_NONE};
    EGLSurface surface = eglCreatePbufferSurface(dpy, config, pbufferAttribs);
    if (surface == EGL_NO_SURFACE)
        return fail(eglErrorText("eglCreatePbufferSurface"));
    surface_ = surface;

    // A compatibility-profile context: the drawing code uses the fixed-function pipeline.
    const EGLint contextAttribs[] = {EGL_NONE};
    EGLContext ctx = eglCreateContext(dpy, config, EGL_NO_CONTEXT, contextAttribs);
    if (ctx == EGL_NO_CONTEXT)
        return fail(eglErrorText("eglCreateContext"));
    context_ = ctx;

    width_ = width;
    height_ = height;
    if (!makeCurrent())
        return fail(error_);
    glViewport(0, 0, width, height);
    return true;
}

bool OffscreenContext::makeCurrent()
{
    if (!display_ || !context_ || !surface_) {
        error_ = "no off-screen context";
        return false;
    }
    if (!eglMakeCurrent(display_, surface_, surface_, context_)) {
        error_ = eglErrorText("eglMakeCurrent");
        return false;
    }
    return true;
}

void OffscreenContext::destroy()
{
    if (display_) {
        EGLDisplay dpy = display_;
        // Display lists die with the context; a later context may get the same handle.
        GLFont::forgetContext(context_);
        if (eglGetCurrentContext() == context_ && context_)
            eglMakeCurrent(dpy, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        if (context_)
            eglDestroyContext(dpy, context_);
        if (surface_)
            eglDestroySurface(dpy, surface_);
        // The display is shared by every context of the process; terminating it here would
        // pull the rug from under another live context, so it stays initialised.
    }
    display_ = nullptr;
    context_ = nullptr;
    surface_ = nullptr;
    width_ = height_ = 0;
}

std::vector<unsigned char> OffscreenContext::readPixelsRGBA() const
{
    std::vector<unsigned char> pixels;
    if (!isValid())
        return pixels;
    const size_t row = static_cast<size_t>(width_) * 4;
    pixels.resize(row * height_);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glFinish();
    glReadPixels(0, 0, width_, height_, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    std::vector<unsigned char> flipped(pixels.size());
    for (int y = 0; y < height_; ++y)
        std::memcpy(&flipped[static_cast<size_t>(y) * row],
                    &pixels[static_cast<size_t>(height_ - 1 - y) * row], row);
    return flipped;
}
