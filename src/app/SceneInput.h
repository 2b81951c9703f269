#ifndef VELMORA_SCENEINPUT_H
#define VELMORA_SCENEINPUT_H

#include "core/KeyBinding.h"
#include "math/NonCopyable.h"

class GLMachine;

/// The mouse and keys of a GLMachine's main view: clicks and drags turn, pan and zoom the
/// current camera or move the current object (with Shift), pick and measure on it; keys run
/// the scene's own commands (captures, quit, shadows, the light sub-window, reset) and pass
/// the others to the element that has the focus, then to the camera.
class SceneInput : NonCopyable {
public:
    explicit SceneInput(GLMachine &machine) : m(machine) {}

    // See the methods of the same names in GLMachine.
    void notifyClick(int button, int eventType, int x, int y, int modifiers);
    void notifyDrag(int x, int y, int button, int modifiers);
    void notifyCommand(int key);

    /// The scene's own keys, taken before the focused object and the camera see them.
    enum class Action { CAPTURE, VECTOR_CAPTURE, QUIT, NOTHING, SHADOWS, LIGHT_MODE, KEEP_ABOVE, RESET, SPLAT_PSNR };
    static const BindingTable &bindings();

private:
    GLMachine &m;
    int pressX = 0, pressY = 0;   ///< where the last button went down
    int anchorX = -1, anchorY = -1; ///< where the drag stands; -1 outside a drag
};

#endif
