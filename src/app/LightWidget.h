#ifndef VELMORA_LIGHTWIDGET_H
#define VELMORA_LIGHTWIDGET_H

#include "core/InputEvent.h"
#include "core/KeyBinding.h"
#include "math/Matrix4.h"
#include "math/Point4.h"
#include "math/NonCopyable.h"

class SceneAccess;

/// The light-direction sub-window of a GLMachine: the scene's objects drawn plainly under the
/// light, which a drag turns around the camera's rotation point.
class LightWidget : NonCopyable {
public:
    explicit LightWidget(SceneAccess &scene) : m(scene) {}

    // The sub-window's context, size and input, as the window hands them on.
    void initGL();
    void draw();
    void setSize(int width, int height);
    void notifyClick(const InputEvent &event, int x, int y);
    void notifyDrag(const InputEvent &event, int x, int y);
    void notifyCommand(int key);

    enum class Action { QUIT, RESET };
    static const BindingTable &bindings();

private:
    SceneAccess &m;
    Point4 backgroundColor{0.75f, 0.75f, 0.75f, 1};
    int anchorX = 0, anchorY = 0;
    Matrix4 savedMatrix;
};

#endif
