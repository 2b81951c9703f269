#include "camera/GLCameraAnimation.h"

// The flight editor (key cameras, interpolation, exports and its window) is not part of the
// program yet. Until it is, the camera runs without one: turning the animation on leaves the
// camera's animation pointer null, and every use of it is skipped.
GLCameraAnimation *GLCameraAnimationFactory(GLCamera *)
{
    return nullptr;
}
