#include "app/SceneInput.h"

#include "app/SceneAccess.h"
#include "app/SceneCapture.h"
#include "app/SceneMeasure.h"
#include "app/SplitView.h"
#include "camera/GLCamera.h"
#include "core/GLInterface.h"
#include "core/KeyCodes.h"
#include "app/SceneWindow.h"
#include "objects/GL3DObject.h"
#include "objects/GLPointListObject.h"
#include "ps/CPsRenderer.h"
#include "math/Messages.h"

#include <GL/gl.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr float kPi = 3.1415927f;

} // namespace

void SceneInput::setDragReductionThreshold(long long triangles) { dragReductionThreshold = std::max(0LL, triangles); }

namespace {

// A click on the points of a reconstruction shows the clicked point's track on the camera the
// points were loaded with, and its figures in the panel.
void showTrack(GLCamera *camera, GL3DObject &object)
{
    auto *points = dynamic_cast<GLPointListObject *>(&object);
    if (!points || !camera || camera->getTracks().pointCount() == 0)
        return;
    const int selected = points->getSelectedVertex();
    camera->getTracks().show(selected < 0 ? -1 : points->getFileIndex(selected), object.getOrigin());
    if (selected >= 0 && !(camera->getOptions() & GLCamera::CAMERA_ORIGINS))
        camera->toggleOption(GLCamera::CAMERA_ORIGINS);
    if (object.getInterface())
        object.getInterface()->update();
}

// The light mode's light set from the camera again, and handed to OpenGL.
void lightFromCamera(SceneAccess &m)
{
    m.takeLightFromCamera();
    glLightfv(GL_LIGHT0, GL_POSITION, m.lightPosition(0));
}

} // namespace

void SceneInput::notifyClick(const InputEvent &event, int x, int y)
{
    const int button = event.button;
    SceneWindow &window = m.sceneWindow();
    if (event.isRelease()) {
        window.overrideCursor();
        // The drag is over: the next frame draws everything.
        if (drawingReduced) {
            drawingReduced = false;
            m.requestRedraw();
        }
    }
    else if (button == 3)
        window.setCursor(ElementWindow::ZOOM_CURSOR);
    else if (button == 2)
        window.setCursor(ElementWindow::PAN_CURSOR);
    GLCamera *camera = m.camera();
    GL3DObject *object = m.object();
    if (!camera)
        return;
    // The divider of a split view is taken where it is, before anything else.
    int width = 0, height = 0;
    m.windowSize(width, height);
    if (button == 1 && (movingDivider || (event.phase == InputEvent::Phase::Press && m.splitView().grabs(x, width)))) {
        movingDivider = !event.isRelease();
        m.splitView().setDivider(static_cast<float>(x) / static_cast<float>(std::max(1, width)));
        m.requestRedraw();
        return;
    }
    // An object's selection tool takes the left button while it is on.
    if (button == 1 && object && object->takesWindowDrags()) {
        object->notifyWindowDrag(event, x, y);
        selecting = !event.isRelease();
        m.requestRedraw();
        return;
    }

    if (button == 4) {
        camera->zoomin();
        m.requestRedraw();
        return;
    }
    if (button == 5) {
        camera->zoomout();
        m.requestRedraw();
        return;
    }
    if (button == 1 && event.isRelease() && x == pressX && y == pressY) {
        if (m.measure().isOn()) {
            if (!m.measure().pick(x, y))
                msg::note("Measure: nothing under the pointer\n");
        } else if (object) {
            if (event.shift()) {
                // Shift measures across the plane section (mode 0), Shift+Control along the
                // mesh's edges (mode 1).
                object->notifyAdditionalClick(x, y, event.control() ? 1 : 0);
            } else {
                object->notifyClick(x, y);
                camera->setRotationPoint(object->getOrigin());
                showTrack(m.cameraLoadedWith(object), *object);
            }
        }
        anchorX = anchorY = -1;
        m.requestRedraw();
        return;
    }
    if (event.phase == InputEvent::Phase::Press) {
        pressX = anchorX = x;
        pressY = anchorY = y;
        if (event.shift()) {
            if (object)
                object->backupPosition();
        } else {
            camera->backupPosition();
        }
    }
}

void SceneInput::notifyDrag(const InputEvent &event, int x, int y)
{
    GLCamera *camera = m.camera();
    GL3DObject *object = m.object();
    const int button = event.button;
    if (movingDivider && button == 1) {
        int width = 0, height = 0;
        m.windowSize(width, height);
        m.splitView().setDivider(static_cast<float>(x) / static_cast<float>(std::max(1, width)));
        m.requestRedraw();
        return;
    }
    if (selecting && button == 1 && object && object->takesWindowDrags()) {
        object->notifyWindowDrag(event, x, y);
        m.requestRedraw();
        return;
    }
    if (!camera || anchorX < 0)
        return;
    int width = 0, height = 0;
    m.windowSize(width, height);
    const float w = static_cast<float>(width > 0 ? width : 1);
    const float h = static_cast<float>(height > 0 ? height : 1);
    const bool shift = event.shift(), control = event.control();
    if (!drawingReduced && dragReductionThreshold > 0 &&
        static_cast<long long>(m.drawingCost()) > dragReductionThreshold)
        drawingReduced = true;

    if (button == 3) {
        const float f = (anchorY - y) / h + 1;
        if (shift && object) {
            object->setPosition(static_cast<float>(anchorY - y));
            m.updateCameraZPlanes();
            camera->setRotationPoint(object->getOrigin());
        } else if (control) {
            camera->perspective(f);
        } else {
            camera->zoom(f);
        }
        anchorX = x;
        anchorY = y;
        m.sceneWindow().setCursor(ElementWindow::ZOOM_CURSOR);
    } else if (button == 2) {
        if (shift && object)
            object->setPosition(anchorX - x, anchorY - y);
        else
            camera->panning(anchorX - x, anchorY - y);
        anchorX = x;
        anchorY = y;
        m.sceneWindow().setCursor(ElementWindow::PAN_CURSOR);
    } else if (control) {
        const float u = (x - anchorX) / w, v = (y - anchorY) / h;
        if (object)
            object->notifyDrag(u, v);
        else
            camera->notifyDrag(u, v);
        anchorX = x;
        anchorY = y;
    } else {
        // Measured from the press: the pose saved then is the reference of the whole drag.
        const float alpha = (x - anchorX) * kPi / w, beta = (y - anchorY) * kPi / h;
        if (shift) {
            if (object)
                object->setRotation(alpha, beta);
        } else {
            camera->setPosition(alpha, beta);
        }
    }
    m.requestRedraw();
}

const BindingTable &SceneInput::bindings()
{
    static const KeyBinding rows[] = {
        {actionValue(Action::CAPTURE), {'c'}, nullptr, "capture image (PNG)", 0},
        {actionValue(Action::VECTOR_CAPTURE), {'C'}, nullptr, "capture vector image (EPS)", 0},
        {actionValue(Action::QUIT), {'q', 'Q'}, nullptr, "quit", 0},
        // 'a' is one of the scene's own keys and runs nothing: taken here, it never reaches the
        // object or the camera (whose 'a' would otherwise be free to mean something).
        {actionValue(Action::NOTHING), {'a'}, nullptr, "nothing (the scene keeps it)", 0},
        {actionValue(Action::SHADOWS), {'s'}, nullptr, "shadows on/off", 0},
        {actionValue(Action::LIGHT_MODE), {KeyCode::RETURN}, nullptr, "light mode (sub-window) on/off", 0},
        {actionValue(Action::KEEP_ABOVE), {KeyCode::ESCAPE}, nullptr, "control window above on/off", 0},
        {actionValue(Action::RESET), {'i'}, nullptr, "object and camera reset", 0},
        {actionValue(Action::SPLAT_PSNR), {'E'}, nullptr, "PSNR of the splats against the view's photograph", 0},
        {actionValue(Action::FIT_ALL), {'f'}, "Fit all", "frame every object from this direction", 0},
        {actionValue(Action::TRIAD), {'o'}, "Orientation triad", "orientation triad on/off", 0},
        {actionValue(Action::MEASURE), {'M'}, "Measure", "measure tool on/off: clicks give distances and an angle", 0},
        {actionValue(Action::SPLIT_VIEW), {'A'}, "A/B", "split view: two objects, the object and the photograph, off", 0},
        {actionValue(Action::SWAP_SIDES), {'w'}, "Swap A/B", "split view: A and B change sides", 0},
    };
    static const BindingTable table("scene", rows);
    return table;
}

void SceneInput::notifyCommand(int key)
{
    GLCamera *camera = m.camera();
    GL3DObject *object = m.object();
    SceneWindow &window = m.sceneWindow();
    const KeyBinding *row = bindings().find(key);
    if (!row) {
        int handled = 0;
        const GLObject *focus = m.focused();
        if (focus && focus->is3DObject() && object)
            handled = object->notifyCommand(key);
        if (!handled && camera)
            camera->notifyCommand(key);
        m.requestRedraw();
        return;
    }
    switch (static_cast<Action>(row->action)) {
    case Action::CAPTURE:
        capture.saveFrameBuffer("capture", capture.takeNumber());
        // A capture at the window's size leaves the scene as it was and the view showing
        // it: no new frame is needed.
        if (capture.getCaptureScale() == 1)
            return;
        break;
    case Action::VECTOR_CAPTURE: {
        // Vector captures share the image captures' numbering.
        const int number = capture.takeNumber();
        capture.vectorCapture([this, number](CPsRenderer &renderer, const PsRenderer::FunctorBase *drawFrame) {
            const bool saved = renderer.save("capture", number, drawFrame);
            char name[32];
            std::snprintf(name, sizeof name, "capture%04d.eps", number);
            if (saved)
                m.tell(std::string("GLMachine: capture saved as ") + name + "\n");
            return saved;
        });
        break;
    }
    case Action::QUIT:
        window.stopLoop();
        break;
    case Action::NOTHING:
        break;
    case Action::SHADOWS:
        m.toggleShadows();
        break;
    case Action::LIGHT_MODE:
        if (window.isSubWindowEnabled()) {
            window.enableSubWindow(false);
            lightFromCamera(m);
        } else {
            window.enableSubWindow(true);
        }
        break;
    case Action::KEEP_ABOVE:
        window.toggleTransient();
        break;
    case Action::SPLAT_PSNR:
        m.printSplatPsnr();
        return;
    case Action::RESET:
        // Back to the start: the object where it was loaded, the camera at its first view
        // (the cursor keys step through the views, and the light comes with the view), and
        // a light set in the light mode from the camera again.
        if (object)
            object->resetPosition();
        if (camera && camera->getCurrentView() != 0)
            camera->goToView(0);
        m.resetCamera();
        if (window.isSubWindowEnabled())
            lightFromCamera(m);
        break;
    case Action::FIT_ALL:
        m.fitAll();
        break;
    case Action::TRIAD:
        m.toggleTriad();
        break;
    case Action::MEASURE:
        m.measure().setOn(!m.measure().isOn());
        msg::note("Measure: %s\n", m.measure().isOn() ? "on, click two points for their distance, a third for the angle"
                                                         : "off");
        break;
    case Action::SPLIT_VIEW: {
        std::vector<GL3DObject *> all;
        for (int i = 0; i < m.objectCount(); ++i)
            all.push_back(m.objectAt(i));
        m.splitView().cycle(all, object, m.hasPhotograph());
        msg::note("Split view: %s\n", m.splitView().isOn() ? m.splitView().describe(all).c_str() : "off");
        break;
    }
    case Action::SWAP_SIDES:
        m.splitView().flip();
        break;
    }
    m.requestRedraw();
}
