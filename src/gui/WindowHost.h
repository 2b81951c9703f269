#ifndef VELMORA_WINDOWHOST_H
#define VELMORA_WINDOWHOST_H

#include "core/ElementHost.h"

class MainInterface;

/// What the scene's elements get of the program's windows: the main window's redraws and
/// cursors, the "Path Distance" and "Camera Animation" windows, the export progress window,
/// and the message line of the control window for what the user should see (a refused file).
class WindowHost : public ElementHost
{
  public:
    /// `window` outlives the host (it owns it).
    explicit WindowHost(MainInterface &mainWindow) : window(mainWindow) {}

    void postRedisplay(bool sub) override;
    void updateDisplay() override;
    bool updateDisplayWhole() override;
    void reshapeWindow(int width, int height) override;
    void setCursor(int id) override;
    void overrideCursor() override;
    PathDisplay *openDistanceWindow() override;
    CameraAnimationWindow *openCameraAnimationWindow(GLCameraAnimationImpl *animation) override;
    ExportProgress *openProgress(const char *title) override;
    void showMessage(MessageLevel level, const std::string &text) override;
    std::vector<LoadedElement> loadedElements() override;
    void openViewsWindow(GLObject *camera) override;
    void redisplayWhen(std::function<bool()> ready) override;

  private:
    MainInterface &window;
};

#endif
