#ifndef VELMORA_SCENEINPUT_H
#define VELMORA_SCENEINPUT_H

#include "core/InputEvent.h"
#include "core/KeyBinding.h"
#include "math/NonCopyable.h"

class SceneAccess;
class SceneCapture;

/// The mouse and keys of a GLMachine's main view: clicks and drags turn, pan and zoom the
/// current camera or move the current object (with Shift), pick and measure on it; keys run
/// the scene's own commands (captures, quit, shadows, the light sub-window, reset, the measure
/// tool, the split view) and pass the others to the element that has the focus, then to the
/// camera. While the measure tool is on, a left click measures instead of picking; while the
/// view is split, a left drag that starts on the divider moves it.
class SceneInput : NonCopyable {
public:
    SceneInput(SceneAccess &scene, SceneCapture &captures) : m(scene), capture(captures) {}

    // See the methods of the same names in GLMachine.
    void notifyClick(const InputEvent &event, int x, int y);
    void notifyDrag(const InputEvent &event, int x, int y);
    void notifyCommand(int key);

    /// True while the frames of a drag draw reduced objects: from the first motion of a drag
    /// of a scene that costs more than the threshold to the release.
    bool isDrawingReduced() const { return drawingReduced; }
    /// 0 never reduces.
    void setDragReductionThreshold(long long triangles);
    long long getDragReductionThreshold() const { return dragReductionThreshold; }
    static constexpr long long kDefaultDragReductionThreshold = 1000000;

    /// The scene's own keys, taken before the focused object and the camera see them.
    enum class Action {
        CAPTURE, VECTOR_CAPTURE, QUIT, NOTHING, SHADOWS, LIGHT_MODE, KEEP_ABOVE, RESET, SPLAT_PSNR, FIT_ALL, TRIAD,
        MEASURE, SPLIT_VIEW, SWAP_SIDES,
    };
    static const BindingTable &bindings();

private:
    SceneAccess &m;
    SceneCapture &capture;
    long long dragReductionThreshold = kDefaultDragReductionThreshold;
    bool drawingReduced = false;
    int pressX = 0, pressY = 0;   ///< where the last button went down
    int anchorX = -1, anchorY = -1; ///< where the drag stands; -1 outside a drag
    bool selecting = false;         ///< a left drag of an object's selection tool is under way
    bool movingDivider = false;     ///< a left drag moves the divider of the split view
};

#endif
