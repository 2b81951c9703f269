#ifndef VELMORA_CAMERAANIMATIONWINDOW_H
#define VELMORA_CAMERAANIMATIONWINDOW_H

#include <vector>

/// The "Camera Animation" window, as the flight editor sees it. The user-interface layer
/// implements it and opens it when the editor asks its host (ElementHost); the window calls
/// the editor's operations for its buttons and menus. The editor owns the window
/// and deletes it when the animation is turned off; a window the user closes asks the camera
/// to turn the animation off instead (GLCamera::setAnimationInterface(false)).
class CameraAnimationWindow
{
  public:
    virtual ~CameraAnimationWindow() = default;
    /// Shows the key cameras in order, row i labelled with the number labels[i] (numbers stay
    /// with their cameras when these move), with row `selected` selected (-1 for none),
    /// without calling the editor back.
    virtual void showKeyCameras(const std::vector<int> &labels, int selected) = 0;
    /// Swaps the play/pause button's icon.
    virtual void showPlaying(bool playing) = 0;
    /// Calls GLCameraAnimationImpl::tick every `ms` milliseconds from now on, replacing the
    /// timer that ran; `ms` <= 0 stops it.
    virtual void setTimer(int ms) = 0;
};

#endif
