#ifndef VELMORA_OFFSCREENCONTEXT_H
#define VELMORA_OFFSCREENCONTEXT_H

#include "math/NonCopyable.h"

#include <string>
#include <vector>

/// An OpenGL (compatibility profile) context drawing into an off-screen pbuffer.
///
/// It runs on Mesa's surfaceless EGL platform, so it needs no X display at all: the
/// off-screen mode of the scene manager and every rendering test draw through it.
/// Only one context is current per thread; `makeCurrent` makes this one current.
class OffscreenContext : NonCopyable {
public:
    OffscreenContext();
    ~OffscreenContext();

    /// Why `create` failed.
    enum Failure {
        NO_FAILURE,
        NO_OPENGL,  ///< no EGL display, or no OpenGL through it
        NO_VISUAL,  ///< OpenGL is there but offers no RGBA pbuffer with a depth buffer
        NO_CONTEXT, ///< the surface or the context could not be made
    };

    /// Creates the context and a `width` x `height` RGBA pbuffer with a depth buffer and
    /// makes it current. Returns false and fills `error()` and `failure()` when EGL or
    /// OpenGL is unusable.
    bool create(int width, int height);
    /// Makes the context current again (after another context was used on this thread).
    bool makeCurrent();
    /// Releases the context and the pbuffer; `create` may be called again afterwards.
    void destroy();

    bool isValid() const { return surface_ != nullptr; }
    int width() const { return width_; }
    int height() const { return height_; }
    const std::string &error() const { return error_; }
    Failure failure() const { return failure_; }

    /// Reads the whole colour buffer as RGBA bytes, top row first (OpenGL delivers the
    /// bottom row first, so the rows are flipped here).
    std::vector<unsigned char> readPixelsRGBA() const;

private:
    bool fail(const std::string &what, Failure kind = NO_CONTEXT);

    void *display_ = nullptr;
    void *context_ = nullptr;
    void *surface_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    std::string error_;
    Failure failure_ = NO_FAILURE;
};

#endif
