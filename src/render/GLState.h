#ifndef VELMORA_GLSTATE_H
#define VELMORA_GLSTATE_H

/// Turns off every clipping plane the current context has, so that an overlay drawn in window
/// coordinates is not cut by the planes an object set for itself. Part of GL_ENABLE_BIT.
void disableClipPlanes();

/// Unpacks pixel rows as they lie in memory: alignment 1, no row length and no skipped rows
/// or pixels. Part of GL_CLIENT_PIXEL_STORE_BIT.
void unpackTightRows();

/// Blends a w x h luminance-alpha image (2 bytes a pixel, rows bottom up) over the view from
/// its lower-left corner, in pixel coordinates; the projection and model-view matrices are put
/// back, the matrix mode left at model-view. Changes the enable, colour-buffer, pixel-mode and
/// pixel-store state (blending on, zoom 1, tight rows): the caller saves what it keeps.
void blendLuminanceAlpha(int w, int h, const unsigned char *pixels);

/// Saves `attributes` and the client vertex-array state, then multiplies the model-view matrix
/// by `pose` (16 floats, column-major) on a new level of its stack, the matrix mode left at
/// model-view: how an element starts drawing its arrays. The caller pops the three.
void pushPoseAndArrays(unsigned attributes, const float *pose);

/// How an overlay in window pixels starts: saves `attributes` with the enable, current and
/// transform state, turns lighting, texturing, the depth test and the clipping planes off, and
/// puts w x h pixel coordinates (origin at the lower left) on new levels of both matrix stacks,
/// the matrix mode left at model-view. endWindowOverlay() puts all of it back.
void beginWindowOverlay(unsigned attributes, int w, int h);
void endWindowOverlay();

/// Sets the current colour to black over a light background and white over a dark one, by
/// the luminance of the clear colour: points without colours of their own stand out either way.
void colorContrastingBackground();

/// A closed line through `n` corners in their order.
void drawLineLoop(const float (*corners)[3], int n);

/// While it lives, drawing is in window pixels of a w x h window: origin top-left, y down, no
/// depth test, lighting, culling or texture. Every attribute and both matrices are put back.
class WindowOverlay {
public:
    WindowOverlay(int w, int h);
    ~WindowOverlay();
    WindowOverlay(const WindowOverlay &) = delete;
    WindowOverlay &operator=(const WindowOverlay &) = delete;
};

#endif
