#include "gui/WindowHost.h"

#include "gui/GLCameraInterface.h"
#include "gui/MainInterface.h"
#include "gui/cameraAnimationInterface.h"
#include "gui/distanceInterface.h"

void WindowHost::postRedisplay(bool sub) { window.postRedisplay(sub); }

void WindowHost::updateDisplay() { window.updateDisplay(); }

void WindowHost::reshapeWindow(int width, int height) { window.reshapeWindow(width, height); }

void WindowHost::setCursor(int id) { window.setCursor(id); }

void WindowHost::overrideCursor() { window.overrideCursor(); }

PathDisplay *WindowHost::openDistanceWindow() { return new distanceInterface; }

CameraAnimationWindow *WindowHost::openCameraAnimationWindow(GLCameraAnimationImpl *animation)
{
    return new cameraAnimationInterface(animation);
}

ExportProgress *WindowHost::openProgress(const char *title) { return cameraAnimationInterface::openProgress(title); }

void WindowHost::showMessage(MessageLevel, const std::string &text) { window.showMessage(text); }

std::vector<ElementHost::LoadedElement> WindowHost::loadedElements() { return window.loadedElements(); }

void WindowHost::openViewsWindow(GLObject *camera)
{
    if (auto *panel = dynamic_cast<GLCameraInterface *>(camera ? camera->getInterface() : nullptr))
        panel->openViews();
}
