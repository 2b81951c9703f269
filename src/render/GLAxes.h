#ifndef VELMORA_GLAXES_H
#define VELMORA_GLAXES_H

#include "math/Point3.h"

/// Small fixed drawings shared by every element: plain OpenGL, drawn in the current colour
/// and model-view matrix of a current context.
namespace GLAxes {

/// A unit arrow along +x with a square-based head, in the current colour. Enables blending
/// and smooth lines, disables lighting and sets the line width 2: the caller saves the state.
void drawArrow();

/// Red +x, green -y and blue +z arrows scaled by `scale` at `origin`; every state it changes
/// is restored.
void drawAxes(Point3 origin, Point3 scale);

/// The orientation triad: the world's x (red), y (green) and z (blue) axes as the model-view
/// `modelView` (16 floats, OpenGL order) turns them, without its translation, in a square of
/// `side` pixels at the lower left corner of the viewport, each tipped with its letter. Drawn
/// over everything (the depth buffer is left alone); every state it changes is restored.
void drawTriad(const float *modelView, int side);

} // namespace GLAxes

#endif
