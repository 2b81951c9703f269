#ifndef VELMORA_CAPTURETARGET_H
#define VELMORA_CAPTURETARGET_H

#include "math/NonCopyable.h"

#include <string>

/// A framebuffer object of its own size in the current OpenGL context: frames drawn while
/// it is bound land in it instead of the window, so a capture can be larger than the window
/// while still sharing the context's display lists and textures.
///
/// `create` binds it; `release` (or the destructor) binds back the framebuffer that was bound
/// before and deletes it. The context that was current at `create` must be current then.
class CaptureTarget : NonCopyable {
public:
    CaptureTarget() = default;
    ~CaptureTarget();

    /// A width x height RGBA buffer with depth and stencil, bound for drawing and reading.
    /// False, with `error()` saying why, when the context cannot make one that large.
    bool create(int width, int height);
    void release();

    /// The largest width and height the current context accepts for a target (0 without
    /// framebuffer objects).
    static int maxSize();

    bool isValid() const { return framebuffer != 0; }
    const std::string &error() const { return error_; }

private:
    unsigned framebuffer = 0;
    unsigned colour = 0;
    unsigned depth = 0;
    int previous = 0;
    int previousDraw = 0;
    int previousRead = 0;
    std::string error_;
};

#endif
