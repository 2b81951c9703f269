#ifndef VELMORA_GLCAMERAANIMATION_H
#define VELMORA_GLCAMERAANIMATION_H

class GLCamera;

/// A camera flight editor attached to the viewing camera: key cameras, playback and the
/// drawing of the flight path. The camera owns it while the animation window is open,
/// forwards its clicks and drags to it, draws it every frame and, while recording, adds a
/// key camera after each mouse rotation.
class GLCameraAnimation {
public:
    virtual ~GLCameraAnimation() = default;
    virtual void notifyClick(int x, int y) = 0;
    virtual void notifyDrag(float dx, float dy) = 0;
    virtual void notifyKey(int key) = 0;
    /// Draws the path and advances a running flight by one frame.
    virtual void draw() = 0;
    /// Appends the camera's current pose as a key camera.
    virtual void add() = 0;
};

/// The flight editor (GLCameraAnimationImpl) of `camera`, owned by the caller.
GLCameraAnimation *GLCameraAnimationFactory(GLCamera *camera);

#endif
