#include "gui/WindowHost.h"

#include "gui/GLCameraInterface.h"
#include "gui/MainInterface.h"
#include "gui/cameraAnimationInterface.h"
#include "gui/distanceInterface.h"

#include <gdk/gdk.h>

void WindowHost::postRedisplay(bool sub) { window.postRedisplay(sub); }

void WindowHost::updateDisplay() { window.updateDisplay(); }
bool WindowHost::updateDisplayWhole() { return window.updateDisplayWhole(); }

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

namespace {

struct PendingRedisplay {
    MainInterface *window;
    std::function<bool()> ready;
};

gboolean lookIn(gpointer data)
{
    auto *p = static_cast<PendingRedisplay *>(data);
    if (!p->ready())
        return TRUE;
    p->window->postRedisplay(false);
    return FALSE;
}

} // namespace

void WindowHost::redisplayWhen(std::function<bool()> ready)
{
    // Often enough that the picture follows within a frame's time of the work being done.
    // Every timer or idle callback that calls into the toolkit runs under its lock
    // (gdk_threads_add_*): the toolkit's own loop gives the lock up and takes it back around
    // each wait, so a plain GLib callback that ran that loop (a progress window does) would
    // come back holding the lock, and the main loop would then wait for it forever.
    gdk_threads_add_timeout_full(G_PRIORITY_DEFAULT, 25, lookIn, new PendingRedisplay{&window, std::move(ready)},
                       [](gpointer data) { delete static_cast<PendingRedisplay *>(data); });
}
