#ifndef VELMORA_GLCAMERAINTERFACE_H
#define VELMORA_GLCAMERAINTERFACE_H

#include "gui/ElementPanel.h"

#include <string>

class GLCamera;
class ViewsWindow;

/// The panel of the camera: the menu "Camera" ("Camera Animation", "Load camera..." on
/// Space, "Save camera..." on '*', "Views..." (see ViewsWindow), and "Advanced options" with "Discrete Cameras" and
/// "Camera Trajectory"), "Align to..." (see alignTo), the "viewing axes" buttons, "Reset camera", the "projection mode"
/// pair, the arrows that step through the original views, and the toggles "images",
/// "silhouettes", "transparency" and "pan around", and for a reconstruction's camera with
/// keypoints the frame "keypoints". Controls send the camera's keys.
class GLCameraInterface : public ElementPanel {
public:
    /// The camera state file of "Load camera..." and "Save camera...", in the working folder.

    explicit GLCameraInterface(GLCamera *camera);

    void update() override;

    GLCamera *getCamera() const { return camera; }
    /// A new window "Views" with the figures of every view; null outside the main window.
    ViewsWindow *openViews();
    /// Moves the camera's original views into the frame of the reference cameras `path`
    /// names (any camera model readCameraPoses reads) by the similarity fitted to the
    /// matched views, prints the figures of the fit, and colours the camera markers by each
    /// view's position error. A reference that cannot be read or a refused fit prints one
    /// line and changes nothing (false). The objects loaded with the camera from the same
    /// reconstruction (its points, its splats) move with it: their poses, not their files.
    bool alignTo(const std::string &path);

private:
    void openAnimation();
    /// The frame "keypoints" of a reconstruction's camera: "show keypoints" and the
    /// "residual factor".
    void addKeypointFrame();
    void onReferenceChosen(const char *path) { alignTo(path); }
    static void onProjection(GtkToggleButton *button, gpointer data);
    static void onReset(GtkButton *, gpointer data);

    GLCamera *camera;
    GtkWidget *projection[2];
};

#endif
