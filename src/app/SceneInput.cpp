#include "app/SceneInput.h"

#include "app/SplatComparison.h"

#include "app/GLMachine.h"
#include "camera/GLCamera.h"
#include "core/KeyCodes.h"
#include "app/SceneWindow.h"
#include "objects/GL3DObject.h"
#include "ps/CPsRenderer.h"

#include <GL/gl.h>

namespace {

constexpr float kPi = 3.1415927f;

} // namespace

void SceneInput::notifyClick(int button, int eventType, int x, int y, int modifiers)
{
    if (eventType == GLMachine::RELEASE) {
        m.window->overrideCursor();
        // The drag is over: the next frame draws everything.
        if (m.drawingReduced) {
            m.setReducedDrawing(false);
            m.requestRedraw();
        }
    }
    else if (button == 3)
        m.window->setCursor(ElementWindow::ZOOM_CURSOR);
    else if (button == 2)
        m.window->setCursor(ElementWindow::PAN_CURSOR);
    if (!m.currentCamera)
        return;

    if (button == 4) {
        m.currentCamera->zoomin();
        m.requestRedraw();
        return;
    }
    if (button == 5) {
        m.currentCamera->zoomout();
        m.requestRedraw();
        return;
    }
    if (button == 1 && eventType == GLMachine::RELEASE && x == pressX && y == pressY) {
        if (m.currentObject) {
            if (modifiers & GLMachine::SHIFT) {
                // Shift measures across the plane section (mode 0), Shift+Control along the
                // mesh's edges (mode 1).
                m.currentObject->notifyAdditionalClick(x, y, (modifiers & GLMachine::CONTROL) ? 1 : 0);
            } else {
                m.currentObject->notifyClick(x, y);
                m.currentCamera->setRotationPoint(m.currentObject->getOrigin());
            }
        }
        anchorX = anchorY = -1;
        m.requestRedraw();
        return;
    }
    if (eventType == GLMachine::PRESS) {
        pressX = anchorX = x;
        pressY = anchorY = y;
        if (modifiers & GLMachine::SHIFT) {
            if (m.currentObject)
                m.currentObject->backupPosition();
        } else {
            m.currentCamera->backupPosition();
        }
    }
}

void SceneInput::notifyDrag(int x, int y, int button, int modifiers)
{
    if (!m.currentCamera || anchorX < 0)
        return;
    const float w = static_cast<float>(m.windowWidth > 0 ? m.windowWidth : 1);
    const float h = static_cast<float>(m.windowHeight > 0 ? m.windowHeight : 1);
    const bool shift = modifiers & GLMachine::SHIFT, control = modifiers & GLMachine::CONTROL;
    if (!m.drawingReduced && m.dragReductionThreshold > 0) {
        long long cost = 0;
        for (const auto &o : m.objects)
            cost += static_cast<long long>(o->getDrawingCost());
        if (cost > m.dragReductionThreshold)
            m.setReducedDrawing(true);
    }

    if (button == 3) {
        const float f = (anchorY - y) / h + 1;
        if (shift && m.currentObject) {
            m.currentObject->setPosition(static_cast<float>(anchorY - y));
            m.updateCameraZPlanes();
            m.currentCamera->setRotationPoint(m.currentObject->getOrigin());
        } else if (control) {
            m.currentCamera->perspective(f);
        } else {
            m.currentCamera->zoom(f);
        }
        anchorX = x;
        anchorY = y;
        m.window->setCursor(ElementWindow::ZOOM_CURSOR);
    } else if (button == 2) {
        if (shift && m.currentObject)
            m.currentObject->setPosition(anchorX - x, anchorY - y);
        else
            m.currentCamera->panning(anchorX - x, anchorY - y);
        anchorX = x;
        anchorY = y;
        m.window->setCursor(ElementWindow::PAN_CURSOR);
    } else if (control) {
        const float u = (x - anchorX) / w, v = (y - anchorY) / h;
        if (m.currentObject)
            m.currentObject->notifyDrag(u, v);
        else
            m.currentCamera->notifyDrag(u, v);
        anchorX = x;
        anchorY = y;
    } else {
        // Measured from the press: the pose saved then is the reference of the whole drag.
        const float alpha = (x - anchorX) * kPi / w, beta = (y - anchorY) * kPi / h;
        if (shift) {
            if (m.currentObject)
                m.currentObject->setRotation(alpha, beta);
        } else {
            m.currentCamera->setPosition(alpha, beta);
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
    };
    static const BindingTable table("scene", rows);
    return table;
}

void SceneInput::notifyCommand(int key)
{
    const KeyBinding *row = bindings().find(key);
    if (!row) {
        int handled = 0;
        if (m.focus && m.focus->is3DObject() && m.currentObject)
            handled = m.currentObject->notifyCommand(key);
        if (!handled && m.currentCamera)
            m.currentCamera->notifyCommand(key);
        m.requestRedraw();
        return;
    }
    switch (static_cast<Action>(row->action)) {
    case Action::CAPTURE:
        m.capture.saveFrameBuffer("capture", m.capture.takeNumber());
        // A capture at the window's size leaves the scene as it was and the view showing
        // it: no new frame is needed.
        if (m.capture.getCaptureScale() == 1)
            return;
        break;
    case Action::VECTOR_CAPTURE: {
        // Vector captures share the image captures' numbering.
        const int number = m.capture.takeNumber();
        m.capture.vectorCapture([number](CPsRenderer &renderer, const PsRenderer::FunctorBase *drawFrame) {
            return renderer.save("capture", number, drawFrame);
        });
        break;
    }
    case Action::QUIT:
        m.window->stopLoop();
        break;
    case Action::NOTHING:
        break;
    case Action::SHADOWS:
        m.shadows = !m.shadows;
        break;
    case Action::LIGHT_MODE:
        if (m.window->isSubWindowEnabled()) {
            m.window->enableSubWindow(false);
            m.getLightPositionFromCamera();
            glLightfv(GL_LIGHT0, GL_POSITION, m.lights[0].position);
        } else {
            m.window->enableSubWindow(true);
        }
        break;
    case Action::KEEP_ABOVE:
        m.window->toggleTransient();
        break;
    case Action::SPLAT_PSNR:
        SplatComparison::printPsnr(m);
        return;
    case Action::RESET:
        // Back to the start: the object where it was loaded, the camera at its view.
        if (m.currentObject)
            m.currentObject->resetPosition();
        if (m.currentCamera) {
            m.window->makeCurrent(false);
            m.currentCamera->reset();
        }
        break;
    }
    m.requestRedraw();
}
