#ifndef VELMORA_CAMERAANIMATIONINTERFACE_H
#define VELMORA_CAMERAANIMATIONINTERFACE_H

#include "camera/CameraAnimationWindow.h"
#include "math/NonCopyable.h"
#include "core/ElementHost.h"

#include <gtk/gtk.h>

class GLCameraAnimationImpl;
class GtkEList;

/// The "Camera Animation" window of the viewing camera's flight editor: the key-camera list
/// ("Positions"), the flight's duration ("seconds") and frame rate ("fps"), the buttons "Add",
/// "Remove", "Up", "Down", play/pause, stop and record, and the menus "File" (key-camera file,
/// exports, codec), "Options" (closed path, interpolation) and "Display" (path, key cameras).
///
/// Opened by the main window's host when the editor asks for it, and deleted by the editor.
/// A window the user closes turns the camera's animation off, which deletes editor and window.
class cameraAnimationInterface : public CameraAnimationWindow, NonCopyable
{
  public:
    explicit cameraAnimationInterface(GLCameraAnimationImpl *animation);
    ~cameraAnimationInterface() override;

    void showKeyCameras(const std::vector<int> &labels, int selected) override;
    void showPlaying(bool playing) override;
    void setTimer(int ms) override;
    /// A progress window of an export titled `title`, with its "Cancel" button.
    static ExportProgress *openProgress(const char *title);

    /// Brings the window to the front.
    void present();

    GtkWidget *getWindow() const { return window; }
    GtkEList *getList() const { return list; }
    /// The widget named `name` inside the window ("add", "remove", "up", "down", "play",
    /// "stop", "record", "seconds", "fps"), or the menu item of that label; null when absent.
    GtkWidget *findWidget(const char *name) const;

    // Menu and button actions.
    void onLoad();
    void onSave();
    void onExportParam();
    void onExportImage();
    void onChooseCodec();
    void onExportAvi();
    void onClosePath();
    void onInterpolation();
    void onDrawPath();
    void onDrawCameras();
    void onAdd();
    void onRemove();
    void onUp();
    void onDown();
    void onPlay();
    void onStop();
    void onRecord();
    void onSeconds();
    void onFps();
    void onRowSelected(int row);
    void onRowUnselected();
    void onParamName(const char *name);
    void onImageName(const char *name);
    void onAviName(const char *name);
    void onCodec(int index);

  private:
    static gboolean timerCallback(gpointer data);
    void windowDestroyed();
    void deleteRequested();

    GLCameraAnimationImpl *animation;
    GtkWidget *window;
    GtkEList *list;
    GtkWidget *secondsSpin;
    GtkWidget *fpsSpin;
    GtkWidget *playButton;
    GtkWidget *playImage;
    guint timer;
    bool updating;
};

#endif
