#ifndef VELMORA_CAMERAANIMATIONWINDOW_H
#define VELMORA_CAMERAANIMATIONWINDOW_H

/// The progress window of a flight export, as the export loop sees it. Deleting it closes the
/// window (unless it shows an error, which stays until the user closes it).
class ExportProgress
{
  public:
    virtual ~ExportProgress() = default;
    /// Shows `percent` (0 to 100); false once the user asked to stop the export.
    virtual bool setValue(float percent) = 0;
    /// Shows why the export failed.
    virtual void showError(const char *text) = 0;
};

/// The "Camera Animation" window, as the flight editor sees it. The user-interface layer
/// implements it and registers a factory with GLCameraAnimationImpl::setWindowFactory; the
/// window calls the editor's operations for its buttons and menus. The editor owns the window
/// and deletes it when the animation is turned off; a window the user closes asks the camera
/// to turn the animation off instead (GLCamera::setAnimationInterface(false)).
class CameraAnimationWindow
{
  public:
    virtual ~CameraAnimationWindow() = default;
    /// Shows `n` key cameras, labelled "1" to "n", with row `selected` selected (-1 for none),
    /// without calling the editor back.
    virtual void showKeyCameras(int n, int selected) = 0;
    /// Swaps the play/pause button's icon.
    virtual void showPlaying(bool playing) = 0;
    /// Calls GLCameraAnimationImpl::tick every `ms` milliseconds from now on, replacing the
    /// timer that ran; `ms` <= 0 stops it.
    virtual void setTimer(int ms) = 0;
    /// Opens a progress window titled `title`; null where none can be shown.
    virtual ExportProgress *openProgress(const char *title) = 0;
};

#endif
