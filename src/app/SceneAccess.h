#ifndef VELMORA_SCENEACCESS_H
#define VELMORA_SCENEACCESS_H

#include "core/FrameContext.h"
#include "math/Point4.h"

#include <cstddef>
#include <string>

class GLCamera;
class GL3DObject;
class GLObject;
class SceneMeasure;
class SceneWindow;
class SplitView;

/// What the parts of the scene manager (the input of its view, its captures and the light
/// sub-window) may reach of it: the current camera and object, the focus, the window and its
/// size, its frames, its light and a redraw request. The scene manager implements it for its
/// parts alone; nothing else of the scene is theirs to change.
class SceneAccess {
public:
    virtual SceneWindow &sceneWindow() = 0;
    virtual void windowSize(int &width, int &height) const = 0;
    virtual GLCamera *camera() const = 0;
    virtual GL3DObject *object() const = 0;
    /// The camera `object` was loaded with from one reconstruction, null for none.
    virtual GLCamera *cameraLoadedWith(const GL3DObject *object) const = 0;
    /// The focused element: the current object takes keys before the camera only when it has it.
    virtual GLObject *focused() const = 0;
    virtual void requestRedraw() = 0;
    /// Tells the user `text` (lines ending in '\n'): printed as a note and shown on the
    /// window's message line, where the next message replaces it.
    virtual void tell(const std::string &text) = 0;

    // --- Frames ----------------------------------------------------------------------------
    /// A frame of `kind` with the scene's budgets.
    virtual FrameContext frameOf(FrameContext::Kind kind) const = 0;
    /// Draws the frame `f` describes; a capture is not shown. With `scale` above 1 it covers
    /// that multiple of the window size, without the text overlay.
    virtual void drawFrame(const FrameContext &f, int scale) = 0;
    /// True while the frames of a drag draw reduced objects.
    virtual bool drawingReduced() const = 0;
    /// Whether the last frame of the window drew less than a capture would.
    virtual bool lastFrameLessThanCapture() const = 0;
    /// Whether frames show the current object's text overlay (drawn by GL3DObject::drawInfo).
    virtual bool showsInfo() const = 0;

    // --- The objects -------------------------------------------------------------------------
    /// What a frame of all the objects costs, in triangles (or points).
    virtual size_t drawingCost() const = 0;
    /// Every object's plain opaque drawing, under the current matrices.
    virtual void drawObjectsPlainly() = 0;
    virtual void updateCameraZPlanes() = 0;
    /// The camera back at its original view, the scene framed and the planes around it.
    virtual void resetCamera() = 0;
    /// Every object framed from the direction the camera looks in now.
    virtual void fitAll() = 0;
    virtual void toggleTriad() = 0;

    /// The scene's 3D objects, in their order.
    virtual int objectCount() const = 0;
    virtual GL3DObject *objectAt(int i) const = 0;

    // --- The tools of the view ---------------------------------------------------------------
    virtual SceneMeasure &measure() = 0;
    virtual SplitView &splitView() = 0;
    /// Whether the current camera has a photograph for its current view.
    virtual bool hasPhotograph() const = 0;

    // --- Shadows and light -------------------------------------------------------------------
    virtual void toggleShadows() = 0;
    virtual int lightCount() const = 0;
    virtual Point4 lightPosition(int i) const = 0;
    /// Light 0 from the eye of the current model-view matrix, along its viewing axis.
    virtual void takeLightFromCamera() = 0;
    /// Prints how well the splat scenes reproduce the current view's photograph.
    virtual void printSplatPsnr() = 0;

protected:
    ~SceneAccess() = default;
};

#endif
